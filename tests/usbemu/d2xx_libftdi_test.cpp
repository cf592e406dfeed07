// FT_Read of the default driver (the D2XX calls over libftdi1) on an
// emulated converter that sends nothing while it has nothing to send: a read
// times out as D2XX's does, with FT_OK and the bytes that came.
#include <chrono>
#include <thread>

#include <gtest/gtest.h>

#include "d2xx.h"
#include "emulated_bus.h"

namespace {

using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;

// One such converter, opened through the driver's table and set to 38400
// baud and a read timeout of 50 ms.
class LibftdiReadTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(emulated::EmulationInUse()) << emulated::LibusbInUse();
        usbemu::Reset();
        usbemu::ConverterSetup setup = emulated::At(1);
        setup.idleStatusPackets = false;
        converter_ = usbemu::AddConverter(setup);
        const char *why = nullptr;
        api_ = D2xxLibftdiProvider(&why);
        ASSERT_NE(api_, nullptr) << why;
        DWORD count = 0;
        ASSERT_EQ(api_->ListDevices(&count, nullptr, FT_LIST_NUMBER_ONLY), FT_OK);
        ASSERT_EQ(api_->Open(0, &handle_), FT_OK);
        ASSERT_EQ(api_->SetBaudRate(handle_, 38400), FT_OK);
        ASSERT_EQ(api_->SetTimeouts(handle_, 50, 200), FT_OK);
    }
    void TearDown() override
    {
        if (handle_ != nullptr) {
            api_->Close(handle_);
        }
        usbemu::Reset();
    }

    // FT_Read of `count` bytes; the bytes that came and how long it took.
    FT_STATUS Read(DWORD count, usbemu::Bytes &got, double &ms)
    {
        got.assign(count, 0);
        DWORD returned = 0;
        const auto start = Clock::now();
        const FT_STATUS status = api_->Read(handle_, got.data(), count, &returned);
        ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        got.resize(returned);
        return status;
    }

    const D2xxApi *api_ = nullptr;
    FT_HANDLE handle_ = nullptr;
    int converter_ = -1;
};

TEST_F(LibftdiReadTest, ATimeoutIsNoByteYetAndLosesNothing)
{
    usbemu::Bytes got;
    double ms = 0;
    EXPECT_EQ(Read(1, got, ms), FT_OK);
    EXPECT_TRUE(got.empty());
    EXPECT_GE(ms, 45.0);
    EXPECT_LT(ms, 95.0) << "the read timeout, not libusb's own";

    // A whole packet's worth and nothing after it: the read that asks for
    // more gets them all when its timeout runs out.
    const usbemu::Bytes line(62, 0x41);
    usbemu::PeerSend(converter_, line);
    std::this_thread::sleep_for(milliseconds(20));  // 62 bytes take 16 ms
    EXPECT_EQ(Read(100, got, ms), FT_OK);
    EXPECT_EQ(got, line);

    // Bytes held from a packet, fewer than asked for, come back too.
    usbemu::PeerSend(converter_, {1, 2, 3, 4, 5, 6});
    std::this_thread::sleep_for(milliseconds(5));
    EXPECT_EQ(Read(1, got, ms), FT_OK);
    EXPECT_EQ(got, usbemu::Bytes{1});
    EXPECT_EQ(Read(10, got, ms), FT_OK);
    EXPECT_EQ(got, (usbemu::Bytes{2, 3, 4, 5, 6}));

    // A real failure is still one.
    usbemu::FailTransfers(converter_, LIBUSB_ERROR_IO, 1, usbemu::Transfers::BulkIn);
    EXPECT_EQ(Read(1, got, ms), FT_IO_ERROR);
}

}  // namespace
