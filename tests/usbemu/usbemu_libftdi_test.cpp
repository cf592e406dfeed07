// libftdi1 driven against the emulated converters, as the product's driver
// drives it: enumeration, opening, settings, a request and its answer, and
// the ways a converter fails.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <dlfcn.h>
#include <string>
#include <thread>

#include <ftdi.h>
#include <gtest/gtest.h>
#include <libusb.h>

#include "usbemu.h"

namespace {

using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;
using usbemu::Bytes;

double MsSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

class UsbemuLibftdiTest : public ::testing::Test {
protected:
    void SetUp() override { usbemu::Reset(); }
    void TearDown() override
    {
        if (ftdi != nullptr) {
            ftdi_free(ftdi);
        }
        usbemu::Reset();
    }

    // Opens the first converter libftdi finds; the result of
    // ftdi_usb_open_dev.
    int Open(ftdi_module_detach_mode mode = AUTO_DETACH_REATACH_SIO_MODULE)
    {
        ftdi = ftdi_new();
        if (ftdi == nullptr) {
            return -100;
        }
        ftdi->module_detach_mode = mode;
        ftdi_device_list *list = nullptr;
        if (ftdi_usb_find_all(ftdi, &list, 0, 0) < 1) {
            return -101;
        }
        const int opened = ftdi_usb_open_dev(ftdi, list->dev);
        ftdi_list_free(&list);
        return opened;
    }

    // Opens and sets the line up as the product does: 38400 8N1, latency 2,
    // both buffers purged.
    void OpenForWake()
    {
        ASSERT_EQ(Open(), 0) << ftdi_get_error_string(ftdi);
        ASSERT_EQ(ftdi_set_baudrate(ftdi, 38400), 0);
        ASSERT_EQ(ftdi_set_line_property(ftdi, BITS_8, STOP_BIT_1, NONE), 0);
        ASSERT_EQ(ftdi_set_latency_timer(ftdi, 2), 0);
        ASSERT_EQ(ftdi_tcioflush(ftdi), 0);
    }

    // Reads until `count` bytes came or `timeoutMs` passed, asking for up
    // to `ask` bytes a call; an error ends it.
    Bytes ReadBytes(std::size_t count, int timeoutMs, int *error = nullptr, int ask = 256)
    {
        Bytes got;
        const auto deadline = Clock::now() + milliseconds(timeoutMs);
        unsigned char buffer[256];
        while (got.size() < count && Clock::now() < deadline) {
            const int n = ftdi_read_data(ftdi, buffer, std::min(ask, 256));
            if (n < 0) {
                if (error != nullptr) {
                    *error = n;
                }
                break;
            }
            got.insert(got.end(), buffer, buffer + n);
        }
        return got;
    }

    ftdi_context *ftdi = nullptr;
};

TEST(UsbemuLoadingTest, IsTheLibusbThatLibftdiUses)
{
    // Both this program and libftdi1 resolve libusb_init to the emulation.
    Dl_info info{};
    void *init = dlsym(RTLD_DEFAULT, "libusb_init");
    ASSERT_NE(init, nullptr);
    ASSERT_NE(dladdr(init, &info), 0);
    EXPECT_NE(std::strstr(info.dli_fname, "usbemu/lib/libusb-1.0.so.0"), nullptr) << info.dli_fname;

    usbemu::Reset();
    usbemu::AddConverter();
    ftdi_context *ftdi = ftdi_new();
    ASSERT_NE(ftdi, nullptr);
    ftdi_device_list *list = nullptr;
    EXPECT_EQ(ftdi_usb_find_all(ftdi, &list, 0, 0), 1);  // no real converter on this machine
    ftdi_list_free(&list);
    ftdi_free(ftdi);
}

TEST_F(UsbemuLibftdiTest, FindsEveryFtdiConverterWithItsIdentity)
{
    usbemu::ConverterSetup a;
    a.serial = "PX000001";
    a.bus = 3;
    a.ports = {1, 4};
    usbemu::ConverterSetup b;
    b.productId = 0x6015;
    b.product = "FT230X Basic UART";
    b.serial = "";
    b.bus = 1;
    b.ports = {2};
    usbemu::ConverterSetup foreign;
    foreign.vendorId = 0x1234;
    foreign.productId = 0x5678;
    usbemu::AddConverter(a);
    usbemu::AddConverter(foreign);
    usbemu::AddConverter(b);

    ftdi = ftdi_new();
    ftdi_device_list *list = nullptr;
    ASSERT_EQ(ftdi_usb_find_all(ftdi, &list, 0, 0), 2);

    char manufacturer[64], product[64], serial[64];
    ftdi_device_list *first = list;
    ASSERT_EQ(ftdi_usb_get_strings2(ftdi, first->dev, manufacturer, 64, product, 64, serial, 64),
              0);
    EXPECT_STREQ(manufacturer, "FTDI");
    EXPECT_STREQ(product, "FT232R USB UART");
    EXPECT_STREQ(serial, "PX000001");
    std::uint8_t ports[7];
    EXPECT_EQ(libusb_get_bus_number(first->dev), 3);
    ASSERT_EQ(libusb_get_port_numbers(first->dev, ports, 7), 2);
    EXPECT_EQ(ports[0], 1);
    EXPECT_EQ(ports[1], 4);

    ftdi_device_list *second = list->next;
    ASSERT_NE(second, nullptr);
    libusb_device_descriptor d;
    ASSERT_EQ(libusb_get_device_descriptor(second->dev, &d), 0);
    EXPECT_EQ(d.idProduct, 0x6015);
    EXPECT_EQ(d.iSerialNumber, 0);
    EXPECT_EQ(libusb_get_bus_number(second->dev), 1);
    EXPECT_NE(libusb_get_device_address(first->dev), 0);
    ftdi_list_free(&list);

    // Reading the strings opens the converter but does nothing else to it.
    const usbemu::Counters counters = usbemu::GetCounters(0);
    EXPECT_EQ(counters.opens, 1);
    EXPECT_EQ(counters.closes, 1);
    EXPECT_EQ(counters.detaches, 0);
    EXPECT_EQ(counters.resets, 0);
    EXPECT_EQ(usbemu::GetCounters(1).opens, 0);
}

TEST_F(UsbemuLibftdiTest, OpeningDetachesResetsAndSetsTheLine)
{
    usbemu::AddConverter();
    OpenForWake();

    const usbemu::ConverterState open = usbemu::State(0);
    EXPECT_FALSE(open.kernelDriverActive);
    EXPECT_TRUE(open.claimed);
    EXPECT_EQ(open.line.baud, 38400);
    EXPECT_EQ(open.line.divisorValue, 0xC04E);
    EXPECT_EQ(open.line.latencyMs, 2);
    EXPECT_EQ(open.line.dataBits, 8);
    EXPECT_EQ(open.line.parity, 0);
    EXPECT_EQ(open.line.stopBits, 0);

    // What ftdi_usb_open_dev did on its own: detach, reset, 9600 baud.
    const usbemu::Counters counters = usbemu::GetCounters(0);
    EXPECT_EQ(counters.detaches, 1);
    EXPECT_EQ(counters.resets, 1);
    EXPECT_EQ(usbemu::BaudRates(0), (std::vector<int>{9600, 38400}));
    EXPECT_EQ(counters.txPurges, 1);
    EXPECT_EQ(counters.rxPurges, 1);

    // ftdi_tcioflush: the transmit side (1) first, then the receive side (2).
    std::vector<std::uint16_t> resetValues;
    for (const usbemu::Event &e : usbemu::Log(0)) {
        if (e.kind == usbemu::EventKind::Control && e.requestType == 0x40 && e.request == 0) {
            resetValues.push_back(e.value);
        }
    }
    EXPECT_EQ(resetValues, (std::vector<std::uint16_t>{0, 1, 2}));

    EXPECT_EQ(ftdi_usb_close(ftdi), 0);
    const usbemu::ConverterState closed = usbemu::State(0);
    EXPECT_TRUE(closed.kernelDriverActive);
    EXPECT_FALSE(closed.claimed);
    EXPECT_EQ(closed.openHandles, 0);
    EXPECT_EQ(usbemu::GetCounters(0).attaches, 1);
}

TEST_F(UsbemuLibftdiTest, DetachModesAndABusyTty)
{
    // libftdi's default mode detaches for good, and takes the tty from a
    // program that holds it open.
    usbemu::AddConverter();
    usbemu::SetKernelDriver(0, true, true);
    ASSERT_EQ(Open(AUTO_DETACH_SIO_MODULE), 0);
    EXPECT_EQ(usbemu::GetCounters(0).busyDetaches, 1);
    EXPECT_EQ(ftdi_usb_close(ftdi), 0);
    EXPECT_FALSE(usbemu::State(0).kernelDriverActive);
    EXPECT_EQ(usbemu::GetCounters(0).attaches, 0);
    ftdi_free(ftdi);

    // Without detaching, a bound driver keeps libftdi out.
    usbemu::SetKernelDriver(0, true);
    EXPECT_EQ(Open(DONT_DETACH_SIO_MODULE), -5);
    EXPECT_TRUE(usbemu::State(0).kernelDriverActive);
    EXPECT_EQ(usbemu::State(0).openHandles, 0);
}

TEST_F(UsbemuLibftdiTest, ARequestsAnswerComesBackAfterItsWireTime)
{
    const Bytes answer = {0xC0, 0x03, 0x01, 0x55, 0x9A};
    usbemu::AddConverter();
    usbemu::SetPeer(0, usbemu::Fixed(answer));
    OpenForWake();
    const Bytes request = {0xC0, 0x08, 0x0A, 0x01, 0x02, 0x03, 0x04, 0x05,
                           0x06, 0x07, 0x08, 0x09, 0x0A, 0x0B, 0x3C};
    usbemu::ClearLog();

    // Each exchange: write, then read until the answer is in, once into a
    // large buffer and once asking for the five bytes alone.
    // ftdi_read_data goes on reading until its buffer is full or a packet
    // brings no data, so the large buffer costs one more latency period.
    for (const int ask : {256, 5}) {
        double best = 1e9, worst = 0;
        for (int round = 0; round < 5; ++round) {
            const auto start = Clock::now();
            ASSERT_EQ(ftdi_write_data(ftdi, request.data(), 15), 15);
            EXPECT_EQ(ReadBytes(answer.size(), 1000, nullptr, ask), answer);
            const double ms = MsSince(start);
            best = std::min(best, ms);
            worst = std::max(worst, ms);
        }
        std::printf("15-byte request, 5-byte answer at 38400 baud, latency 2 ms, reading %d: "
                    "%.2f to %.2f ms\n",
                    ask, best, worst);
        // 20 bytes of 10 bits at 38400 baud take 5.2 ms; latency periods
        // come on top.
        EXPECT_GE(best, 5.2);
        EXPECT_LT(best, 100.0);
    }

    const usbemu::Counters counters = usbemu::GetCounters(0);
    EXPECT_EQ(counters.bulkOutTransfers, 10);
    EXPECT_EQ(counters.bulkOutBytes, 150u);
    EXPECT_EQ(counters.bulkInBytes, 50u);
    for (const usbemu::Event &e : usbemu::Log(0)) {
        if (e.kind == usbemu::EventKind::Exchange) {
            EXPECT_EQ(e.data, request);
            EXPECT_EQ(e.answer, answer);
        }
    }
}

TEST_F(UsbemuLibftdiTest, LongAnswersArriveWholeAcrossPackets)
{
    Bytes answer(300);
    for (std::size_t i = 0; i < answer.size(); ++i) {
        answer[i] = static_cast<std::uint8_t>(i * 7);
    }
    usbemu::AddConverter();
    usbemu::SetPeer(0, usbemu::Fixed(answer));
    OpenForWake();
    ASSERT_EQ(ftdi_set_baudrate(ftdi, 921600), 0);
    const unsigned char ask = 0x55;
    ASSERT_EQ(ftdi_write_data(ftdi, &ask, 1), 1);
    EXPECT_EQ(ReadBytes(answer.size(), 2000), answer);

    // Full packets of 62 data bytes and a short one to end each transfer.
    int packets = 0;
    for (const usbemu::Event &e : usbemu::Log(0)) {
        if (e.kind == usbemu::EventKind::BulkIn && !e.data.empty()) {
            packets += e.packets;
        }
    }
    EXPECT_GE(packets, 5);
}

TEST_F(UsbemuLibftdiTest, AnIdleReadReturnsNothingAfterOneLatencyPeriod)
{
    usbemu::AddConverter();
    ASSERT_EQ(Open(), 0);
    ASSERT_EQ(ftdi_set_latency_timer(ftdi, 40), 0);
    unsigned char buffer[64];
    // The first read takes the packet the timer has running since the
    // converter came up; the next one waits for a whole latency period.
    ASSERT_EQ(ftdi_read_data(ftdi, buffer, sizeof buffer), 0);
    const auto start = Clock::now();
    EXPECT_EQ(ftdi_read_data(ftdi, buffer, sizeof buffer), 0);
    // 40 ms from the first packet, which came a little before `start`.
    const double ms = MsSince(start);
    EXPECT_GE(ms, 30.0);
    EXPECT_LT(ms, 400.0);
}

TEST_F(UsbemuLibftdiTest, UnplugEndsAReadInProgress)
{
    usbemu::AddConverter();
    ASSERT_EQ(Open(), 0);
    unsigned char buffer[64];
    ASSERT_EQ(ftdi_read_data(ftdi, buffer, sizeof buffer), 0);
    ASSERT_EQ(ftdi_set_latency_timer(ftdi, 255), 0);  // the next packet is far off

    int result = 0;
    double ms = 0;
    std::thread reader([&] {
        const auto start = Clock::now();
        result = ftdi_read_data(ftdi, buffer, sizeof buffer);
        ms = MsSince(start);
    });
    std::this_thread::sleep_for(milliseconds(30));
    usbemu::Unplug(0);
    reader.join();
    EXPECT_EQ(result, LIBUSB_ERROR_NO_DEVICE);
    EXPECT_LT(ms, 250.0);

    const unsigned char byte = 0;
    EXPECT_EQ(ftdi_write_data(ftdi, &byte, 1), -1);
    EXPECT_EQ(ftdi_usb_close(ftdi), -1);  // the release fails; the handle is closed anyway
    EXPECT_EQ(usbemu::State(0).openHandles, 0);
}

TEST_F(UsbemuLibftdiTest, AWaitingReadDoesNotHoldUpAnotherConverter)
{
    usbemu::AddConverter();
    usbemu::AddConverter();
    usbemu::SetPeer(1, usbemu::Echo());
    ASSERT_EQ(Open(), 0);  // the first one
    unsigned char buffer[64];
    ASSERT_EQ(ftdi_read_data(ftdi, buffer, sizeof buffer), 0);
    ftdi_context *other = ftdi_new();
    ftdi_device_list *list = nullptr;
    ASSERT_EQ(ftdi_usb_find_all(other, &list, 0, 0), 2);
    ASSERT_EQ(ftdi_usb_open_dev(other, list->next->dev), 0);
    ftdi_list_free(&list);

    // The first converter's next packet is 255 ms off; a read waits for it.
    ASSERT_EQ(ftdi_set_latency_timer(ftdi, 255), 0);
    std::thread slow([&] { ftdi_read_data(ftdi, buffer, sizeof buffer); });
    std::this_thread::sleep_for(milliseconds(20));
    const auto start = Clock::now();
    const unsigned char bytes[4] = {4, 3, 2, 1};
    ASSERT_EQ(ftdi_write_data(other, bytes, 4), 4);
    Bytes echoed;
    unsigned char in[64];
    while (echoed.size() < 4 && MsSince(start) < 1000) {
        const int n = ftdi_read_data(other, in, 4);
        ASSERT_GE(n, 0);
        echoed.insert(echoed.end(), in, in + n);
    }
    const double ms = MsSince(start);
    EXPECT_EQ(echoed, Bytes(bytes, bytes + 4));
    EXPECT_LT(ms, 150.0);  // 8.3 ms on the wire at 9600 baud, 16 ms latency
    ftdi_usb_close(other);
    ftdi_free(other);
    slow.join();
}

TEST_F(UsbemuLibftdiTest, RefusedOpenIsLibusbOpenFailed)
{
    usbemu::AddConverter();
    usbemu::RefuseOpen(0, LIBUSB_ERROR_ACCESS);
    EXPECT_EQ(Open(), -4);
    EXPECT_STREQ(ftdi_get_error_string(ftdi), "libusb_open() failed");
    const usbemu::Counters counters = usbemu::GetCounters(0);
    EXPECT_EQ(counters.refusedOpens, 1);
    EXPECT_EQ(counters.opens, 0);
    EXPECT_EQ(counters.detaches, 0);
    EXPECT_TRUE(usbemu::State(0).kernelDriverActive);
}

TEST_F(UsbemuLibftdiTest, FailedTransfersReachTheCaller)
{
    usbemu::AddConverter();
    usbemu::SetPeer(0, usbemu::Echo());
    OpenForWake();
    const unsigned char bytes[3] = {1, 2, 3};

    usbemu::FailTransfers(0, LIBUSB_ERROR_IO, 1, usbemu::Transfers::BulkOut);
    EXPECT_EQ(ftdi_write_data(ftdi, bytes, 3), -1);
    EXPECT_EQ(ftdi_write_data(ftdi, bytes, 3), 3);
    EXPECT_EQ(ReadBytes(3, 500), Bytes(bytes, bytes + 3));

    ftdi->usb_read_timeout = 50;
    usbemu::FailTransfers(0, LIBUSB_ERROR_TIMEOUT, 1, usbemu::Transfers::BulkIn);
    unsigned char buffer[64];
    const auto start = Clock::now();
    EXPECT_EQ(ftdi_read_data(ftdi, buffer, sizeof buffer), LIBUSB_ERROR_TIMEOUT);
    EXPECT_GE(MsSince(start), 49.0);

    usbemu::FailTransfers(0, LIBUSB_ERROR_PIPE, 1, usbemu::Transfers::Control);
    EXPECT_EQ(ftdi_set_baudrate(ftdi, 9600), -2);
    EXPECT_EQ(usbemu::State(0).line.baud, 38400);
}

TEST_F(UsbemuLibftdiTest, PurgedBytesNeverReachThePeer)
{
    usbemu::AddConverter();
    usbemu::SetPeer(0, usbemu::Echo());
    OpenForWake();
    ASSERT_EQ(ftdi_set_baudrate(ftdi, 200), 0);  // 50 ms a byte
    const unsigned char bytes[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    ASSERT_EQ(ftdi_write_data(ftdi, bytes, 8), 8);
    std::this_thread::sleep_for(milliseconds(5));
    ASSERT_EQ(ftdi_tcoflush(ftdi), 0);
    std::this_thread::sleep_for(milliseconds(100));
    EXPECT_EQ(usbemu::State(0).txPending, 0u);

    // Only the byte that was on the wire went out.
    std::vector<Bytes> delivered;
    for (const usbemu::Event &e : usbemu::Log(0)) {
        if (e.kind == usbemu::EventKind::Exchange) {
            delivered.push_back(e.data);
        }
    }
    EXPECT_EQ(delivered, (std::vector<Bytes>{{1}}));
}

TEST_F(UsbemuLibftdiTest, BaudRatesDecodeAsLibftdiEncodesThem)
{
    usbemu::AddConverter();
    ASSERT_EQ(Open(), 0);
    for (int baud : {300, 1200, 9600, 19200, 38400, 57600, 115200, 230400, 460800, 921600, 1000000,
                     2000000, 3000000}) {
        ASSERT_EQ(ftdi_set_baudrate(ftdi, baud), 0) << baud;
        const int decoded = usbemu::State(0).line.baud;
        EXPECT_NEAR(decoded, baud, baud * 0.03) << baud;
        EXPECT_EQ(decoded, usbemu::BaudRates(0).back());
    }
}

}  // namespace
