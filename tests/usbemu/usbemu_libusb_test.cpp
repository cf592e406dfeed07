// The emulation at the level of libusb calls: what libftdi1 does not show,
// such as the packets on the in endpoint, hot-plug events, the kernel
// driver calls and the refusals of a real device.
#include <chrono>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <libusb.h>

#include "usbemu.h"

namespace {

using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;
using usbemu::Bytes;

class UsbemuLibusbTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        usbemu::Reset();
        ASSERT_EQ(libusb_init(&context), 0);
    }
    void TearDown() override
    {
        if (handle != nullptr) {
            libusb_close(handle);
        }
        libusb_exit(context);
        usbemu::Reset();
    }

    // Opens the converter at `index` in the device list.
    void OpenAt(int index)
    {
        libusb_device **list = nullptr;
        ASSERT_GT(libusb_get_device_list(context, &list), index);
        ASSERT_EQ(libusb_open(list[index], &handle), 0);
        libusb_free_device_list(list, 1);
    }

    // Claims the interface with auto-detach and takes the first status
    // packet, which a converter idle for a while sends at once.
    void OpenClaimed()
    {
        OpenAt(0);
        ASSERT_EQ(libusb_set_auto_detach_kernel_driver(handle, 1), 0);
        ASSERT_EQ(libusb_claim_interface(handle, 0), 0);
        unsigned char packet[64];
        int got = 0;
        ASSERT_EQ(libusb_bulk_transfer(handle, 0x81, packet, 64, &got, 1000), 0);
        ASSERT_EQ(got, 2);
    }

    int Vendor(std::uint8_t requestType, std::uint8_t request, std::uint16_t value,
               unsigned char *data = nullptr, std::uint16_t length = 0)
    {
        return libusb_control_transfer(handle, requestType, request, value, 1, data, length, 100);
    }

    libusb_context *context = nullptr;
    libusb_device_handle *handle = nullptr;
};

TEST_F(UsbemuLibusbTest, RefusesWhatAConverterRefuses)
{
    usbemu::AddConverter();
    OpenAt(0);
    unsigned char data[8] = {};
    EXPECT_EQ(Vendor(0x40, 0x55, 0), LIBUSB_ERROR_PIPE);           // unknown request
    EXPECT_EQ(Vendor(0xC0, 0x09, 0, data, 1), LIBUSB_ERROR_PIPE);  // a set request read
    EXPECT_EQ(Vendor(0x21, 0x20, 0), LIBUSB_ERROR_PIPE);           // class request
    EXPECT_EQ(Vendor(0xC0, 0x0A, 0, data, 1), 1);
    EXPECT_EQ(data[0], 16);
    EXPECT_EQ(Vendor(0xC0, 0x05, 0, data, 2), 2);
    EXPECT_EQ(data[0], 0x01);
    EXPECT_EQ(data[1], 0x60);

    // Each request is logged with its fields and result.
    const std::vector<usbemu::Event> log = usbemu::Log(0);
    ASSERT_GE(log.size(), 5u);
    const usbemu::Event &refused = log[log.size() - 5];
    EXPECT_EQ(refused.kind, usbemu::EventKind::Control);
    EXPECT_EQ(refused.request, 0x55);
    EXPECT_EQ(refused.result, LIBUSB_ERROR_PIPE);
    EXPECT_EQ(usbemu::GetCounters(0).controlRequests, 5);

    // Transfers need the interface, which the kernel's driver holds.
    int got = 0;
    EXPECT_EQ(libusb_bulk_transfer(handle, 0x02, data, 1, &got, 100), LIBUSB_ERROR_IO);
    EXPECT_EQ(libusb_bulk_transfer(handle, 0x83, data, 8, &got, 100), LIBUSB_ERROR_IO);
}

TEST_F(UsbemuLibusbTest, InPacketsCarryStatusAndUpTo62Bytes)
{
    usbemu::AddConverter();
    OpenClaimed();
    ASSERT_EQ(Vendor(0x40, 0x03, 0x001A), 0);  // 115200 baud
    Bytes sent(100);
    for (std::size_t i = 0; i < sent.size(); ++i) {
        sent[i] = static_cast<std::uint8_t>(i + 1);
    }
    usbemu::PeerSend(0, sent);
    std::this_thread::sleep_for(milliseconds(15));  // 100 bytes take 8.7 ms

    unsigned char buffer[256];
    int got = 0;
    ASSERT_EQ(libusb_bulk_transfer(handle, 0x81, buffer, sizeof buffer, &got, 1000), 0);
    ASSERT_EQ(got, 64 + 2 + 38);
    EXPECT_EQ(buffer[0], 0x01);
    EXPECT_EQ(buffer[1], 0x60);
    EXPECT_EQ(Bytes(buffer + 2, buffer + 64), Bytes(sent.begin(), sent.begin() + 62));
    EXPECT_EQ(buffer[64], 0x01);
    EXPECT_EQ(buffer[65], 0x60);
    EXPECT_EQ(Bytes(buffer + 66, buffer + got), Bytes(sent.begin() + 62, sent.end()));

    // A buffer that a full packet does not fit overflows, and loses nothing.
    usbemu::PeerSend(0, sent);
    std::this_thread::sleep_for(milliseconds(15));
    ASSERT_EQ(libusb_bulk_transfer(handle, 0x81, buffer, 40, &got, 1000), LIBUSB_ERROR_OVERFLOW);
    EXPECT_EQ(got, 0);
    EXPECT_EQ(usbemu::State(0).rxPending, 100u);
}

TEST_F(UsbemuLibusbTest, ReadsHonourTheirTimeoutAndTheLatencyTimer)
{
    usbemu::AddConverter();
    OpenClaimed();
    ASSERT_EQ(Vendor(0x40, 0x09, 100), 0);  // latency 100 ms
    unsigned char buffer[64];
    int got = -1;
    auto start = Clock::now();
    EXPECT_EQ(libusb_bulk_transfer(handle, 0x81, buffer, 64, &got, 20), LIBUSB_ERROR_TIMEOUT);
    EXPECT_EQ(got, 0);
    EXPECT_GE(Clock::now() - start, milliseconds(19));

    // The status packet comes when the timer runs out, 100 ms after the
    // last one (which came a little before `start`).
    EXPECT_EQ(libusb_bulk_transfer(handle, 0x81, buffer, 64, &got, 1000), 0);
    EXPECT_EQ(got, 2);
    EXPECT_GE(Clock::now() - start, milliseconds(80));
    std::vector<Clock::time_point> packets;
    for (const usbemu::Event &e : usbemu::Log(0)) {
        if (e.kind == usbemu::EventKind::BulkIn && e.packets > 0) {
            packets.push_back(e.time);
        }
    }
    ASSERT_EQ(packets.size(), 2u);
    EXPECT_EQ(packets[1] - packets[0], milliseconds(100));
}

// A converter set up to stay quiet while idle sends no bare status packet:
// a read with nothing to read times out, and so does one that got a full
// packet and then nothing, with that packet's bytes in it.
TEST_F(UsbemuLibusbTest, AQuietConverterSendsNoPacketWhileIdle)
{
    usbemu::ConverterSetup setup;
    setup.idleStatusPackets = false;
    usbemu::AddConverter(setup);
    OpenAt(0);
    ASSERT_EQ(libusb_set_auto_detach_kernel_driver(handle, 1), 0);
    ASSERT_EQ(libusb_claim_interface(handle, 0), 0);
    ASSERT_EQ(Vendor(0x40, 0x03, 0x001A), 0);  // 115200 baud
    unsigned char buffer[256];
    int got = -1;
    const auto start = Clock::now();
    EXPECT_EQ(libusb_bulk_transfer(handle, 0x81, buffer, 64, &got, 30), LIBUSB_ERROR_TIMEOUT);
    EXPECT_EQ(got, 0);
    EXPECT_GE(Clock::now() - start, milliseconds(29));

    usbemu::PeerSend(0, Bytes(62, 0x42));
    std::this_thread::sleep_for(milliseconds(10));
    EXPECT_EQ(libusb_bulk_transfer(handle, 0x81, buffer, sizeof buffer, &got, 50),
              LIBUSB_ERROR_TIMEOUT);
    EXPECT_EQ(got, 64);
}

TEST_F(UsbemuLibusbTest, KernelDriverFollowsDetachClaimAndRelease)
{
    usbemu::AddConverter();
    OpenAt(0);
    EXPECT_EQ(libusb_kernel_driver_active(handle, 0), 1);
    EXPECT_EQ(libusb_claim_interface(handle, 0), LIBUSB_ERROR_BUSY);
    EXPECT_EQ(libusb_detach_kernel_driver(handle, 0), 0);
    EXPECT_EQ(libusb_kernel_driver_active(handle, 0), 0);
    EXPECT_EQ(libusb_detach_kernel_driver(handle, 0), LIBUSB_ERROR_NOT_FOUND);
    EXPECT_EQ(libusb_claim_interface(handle, 0), 0);
    EXPECT_EQ(libusb_attach_kernel_driver(handle, 0), LIBUSB_ERROR_BUSY);
    EXPECT_EQ(libusb_release_interface(handle, 0), 0);
    EXPECT_EQ(libusb_kernel_driver_active(handle, 0), 0);  // no auto-detach, no re-attach
    EXPECT_EQ(libusb_attach_kernel_driver(handle, 0), 0);
    EXPECT_EQ(libusb_kernel_driver_active(handle, 0), 1);

    // A second handle cannot take a claimed interface.
    libusb_device_handle *other = nullptr;
    ASSERT_EQ(libusb_open(libusb_get_device(handle), &other), 0);
    ASSERT_EQ(libusb_set_auto_detach_kernel_driver(handle, 1), 0);
    ASSERT_EQ(libusb_claim_interface(handle, 0), 0);
    ASSERT_EQ(libusb_set_auto_detach_kernel_driver(other, 1), 0);
    EXPECT_EQ(libusb_claim_interface(other, 0), LIBUSB_ERROR_BUSY);
    libusb_close(other);

    // Closing without releasing leaves the kernel's driver detached, as
    // libusb on Linux does.
    libusb_close(handle);
    handle = nullptr;
    const usbemu::ConverterState state = usbemu::State(0);
    EXPECT_FALSE(state.claimed);
    EXPECT_FALSE(state.kernelDriverActive);
    const usbemu::Counters counters = usbemu::GetCounters(0);
    EXPECT_EQ(counters.detaches, 2);
    EXPECT_EQ(counters.attaches, 1);
}

struct Seen {
    std::vector<std::pair<libusb_hotplug_event, int>> events;  // event, address
};

int LIBUSB_CALL Note(libusb_context *, libusb_device *device, libusb_hotplug_event event,
                     void *user)
{
    static_cast<Seen *>(user)->events.emplace_back(event, libusb_get_device_address(device));
    return 0;
}

TEST_F(UsbemuLibusbTest, HotplugCallbacksComeFromEventHandling)
{
    ASSERT_EQ(libusb_has_capability(LIBUSB_CAP_HAS_HOTPLUG), 1);
    usbemu::AddConverter();
    Seen seen;
    libusb_hotplug_callback_handle callback = 0;
    ASSERT_EQ(libusb_hotplug_register_callback(
                  context, LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED | LIBUSB_HOTPLUG_EVENT_DEVICE_LEFT,
                  LIBUSB_HOTPLUG_ENUMERATE, 0x0403, LIBUSB_HOTPLUG_MATCH_ANY,
                  LIBUSB_HOTPLUG_MATCH_ANY, Note, &seen, &callback),
              0);
    ASSERT_EQ(seen.events.size(), 1u);  // the converter already there
    const int address = seen.events[0].second;

    OpenAt(0);
    usbemu::Unplug(0);
    EXPECT_EQ(seen.events.size(), 1u);  // nothing until events are handled
    timeval tv = {1, 0};
    ASSERT_EQ(libusb_handle_events_timeout_completed(context, &tv, nullptr), 0);
    ASSERT_EQ(seen.events.size(), 2u);
    EXPECT_EQ(seen.events[1].first, LIBUSB_HOTPLUG_EVENT_DEVICE_LEFT);
    EXPECT_EQ(seen.events[1].second, address);
    int config = 0;
    EXPECT_EQ(libusb_get_configuration(handle, &config), LIBUSB_ERROR_NO_DEVICE);
    libusb_device **list = nullptr;
    EXPECT_EQ(libusb_get_device_list(context, &list), 0);
    libusb_free_device_list(list, 1);

    // Plugged in again, it is a new device with a new address; a blocking
    // event handler wakes for it.
    std::thread plugger([] {
        std::this_thread::sleep_for(milliseconds(20));
        usbemu::Plug(0);
    });
    ASSERT_EQ(libusb_handle_events(context), 0);
    plugger.join();
    ASSERT_EQ(seen.events.size(), 3u);
    EXPECT_EQ(seen.events[2].first, LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED);
    EXPECT_NE(seen.events[2].second, address);
    EXPECT_TRUE(usbemu::State(0).kernelDriverActive);

    // A converter of another vendor does not match.
    usbemu::ConverterSetup foreign;
    foreign.vendorId = 0x1234;
    usbemu::AddConverter(foreign);
    libusb_hotplug_deregister_callback(context, callback);
    usbemu::Unplug(0);
    tv = {0, 20000};
    ASSERT_EQ(libusb_handle_events_timeout(context, &tv), 0);
    EXPECT_EQ(seen.events.size(), 3u);

    // A platform without hot-plug support.
    usbemu::SetHotplugSupported(false);
    EXPECT_EQ(libusb_has_capability(LIBUSB_CAP_HAS_HOTPLUG), 0);
    EXPECT_EQ(libusb_hotplug_register_callback(context, LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED, 0,
                                               LIBUSB_HOTPLUG_MATCH_ANY, LIBUSB_HOTPLUG_MATCH_ANY,
                                               LIBUSB_HOTPLUG_MATCH_ANY, Note, &seen, nullptr),
              LIBUSB_ERROR_NOT_SUPPORTED);
    usbemu::Reset();
    EXPECT_EQ(libusb_has_capability(LIBUSB_CAP_HAS_HOTPLUG), 1);
}

void LIBUSB_CALL Finished(libusb_transfer *transfer)
{
    *static_cast<int *>(transfer->user_data) = 1;
}

TEST_F(UsbemuLibusbTest, AsynchronousTransfersCompleteAndCancel)
{
    usbemu::AddConverter();
    usbemu::SetPeer(0, usbemu::Echo());
    OpenClaimed();
    unsigned char out[4] = {9, 8, 7, 6};
    unsigned char in[64];
    int outDone = 0, inDone = 0;
    libusb_transfer *write = libusb_alloc_transfer(0);
    libusb_transfer *read = libusb_alloc_transfer(0);
    libusb_fill_bulk_transfer(write, handle, 0x02, out, 4, Finished, &outDone, 1000);
    libusb_fill_bulk_transfer(read, handle, 0x81, in, 64, Finished, &inDone, 1000);
    ASSERT_EQ(libusb_submit_transfer(write), 0);
    ASSERT_EQ(libusb_submit_transfer(write), LIBUSB_ERROR_BUSY);
    while (outDone == 0) {
        timeval tv = {1, 0};
        ASSERT_EQ(libusb_handle_events_timeout_completed(context, &tv, &outDone), 0);
    }
    EXPECT_EQ(write->status, LIBUSB_TRANSFER_COMPLETED);
    EXPECT_EQ(write->actual_length, 4);

    // 9600 baud: the echo is in after 8.3 ms, within one latency period.
    std::this_thread::sleep_for(milliseconds(30));
    ASSERT_EQ(libusb_submit_transfer(read), 0);
    while (inDone == 0) {
        timeval tv = {1, 0};
        ASSERT_EQ(libusb_handle_events_timeout_completed(context, &tv, &inDone), 0);
    }
    EXPECT_EQ(read->status, LIBUSB_TRANSFER_COMPLETED);
    ASSERT_EQ(read->actual_length, 6);
    EXPECT_EQ(Bytes(in + 2, in + 6), Bytes(out, out + 4));

    // Cancelled before its packet is due, it ends as cancelled.
    ASSERT_EQ(Vendor(0x40, 0x09, 200), 0);
    inDone = 0;
    ASSERT_EQ(libusb_submit_transfer(read), 0);
    ASSERT_EQ(libusb_cancel_transfer(read), 0);
    EXPECT_EQ(libusb_cancel_transfer(read), LIBUSB_ERROR_NOT_FOUND);
    timeval tv = {1, 0};
    ASSERT_EQ(libusb_handle_events_timeout_completed(context, &tv, &inDone), 0);
    EXPECT_EQ(inDone, 1);
    EXPECT_EQ(read->status, LIBUSB_TRANSFER_CANCELLED);
    libusb_free_transfer(write);
    libusb_free_transfer(read);
}

TEST_F(UsbemuLibusbTest, StringsAndDescriptorsFollowTheSetup)
{
    usbemu::ConverterSetup setup;
    setup.manufacturer = "Maker";
    setup.product = "Cable";
    setup.serial = "S123";
    setup.bcdDevice = 0x0600;
    usbemu::AddConverter(setup);
    OpenAt(0);
    libusb_device_descriptor d;
    ASSERT_EQ(libusb_get_device_descriptor(libusb_get_device(handle), &d), 0);
    EXPECT_EQ(d.idVendor, 0x0403);
    EXPECT_EQ(d.idProduct, 0x6001);
    EXPECT_EQ(d.bcdDevice, 0x0600);
    unsigned char text[8];
    EXPECT_EQ(libusb_get_string_descriptor_ascii(handle, d.iManufacturer, text, 8), 5);
    EXPECT_STREQ(reinterpret_cast<char *>(text), "Maker");
    EXPECT_EQ(libusb_get_string_descriptor_ascii(handle, d.iSerialNumber, text, 3), 2);
    EXPECT_STREQ(reinterpret_cast<char *>(text), "S1");  // cut to the buffer
    EXPECT_EQ(libusb_get_string_descriptor_ascii(handle, 9, text, 8), LIBUSB_ERROR_PIPE);

    libusb_config_descriptor *config = nullptr;
    ASSERT_EQ(libusb_get_config_descriptor(libusb_get_device(handle), 0, &config), 0);
    ASSERT_EQ(config->bNumInterfaces, 1);
    const libusb_interface_descriptor &a = config->interface[0].altsetting[0];
    ASSERT_EQ(a.bNumEndpoints, 2);
    EXPECT_EQ(a.endpoint[0].bEndpointAddress, 0x81);
    EXPECT_EQ(a.endpoint[0].wMaxPacketSize, 64);
    EXPECT_EQ(a.endpoint[1].bEndpointAddress, 0x02);
    libusb_free_config_descriptor(config);
}

}  // namespace
