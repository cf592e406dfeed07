// The virtual converter through its D2XX table, with the virtual generator
// behind it.
#include <gtest/gtest.h>

#include "d2xx.h"
#include "virtual/virtual_generator.h"
#include "wake_oracle.h"

using namespace oracle;
using px418virtual::TheVirtualGenerator;
using px418virtual::VirtualConverterState;

namespace {

class ConverterTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        TheVirtualGenerator().Reset();
        px418virtual::ResetVirtualConverter();
    }

    FT_HANDLE OpenOne()
    {
        FT_HANDLE h = nullptr;
        EXPECT_EQ(api.Open(0, &h), FT_OK);
        EXPECT_NE(h, nullptr);
        return h;
    }
    FT_STATUS Write(FT_HANDLE h, Bytes bytes)
    {
        DWORD written = 12345;
        const FT_STATUS st = api.Write(h, bytes.data(), DWORD(bytes.size()), &written);
        EXPECT_EQ(written, st == FT_OK ? bytes.size() : 0u);
        return st;
    }
    // Everything queued, read with requests of `chunk` bytes.
    Bytes ReadAll(FT_HANDLE h, DWORD chunk = 64)
    {
        Bytes out;
        for (;;) {
            std::uint8_t buf[64];
            DWORD got = 999;
            EXPECT_EQ(api.Read(h, buf, chunk, &got), FT_OK);
            EXPECT_LE(got, chunk);
            if (got == 0 || got > chunk) {
                return out;
            }
            out.insert(out.end(), buf, buf + got);
        }
    }
    DWORD Count()
    {
        DWORD n = 77;
        EXPECT_EQ(api.ListDevices(&n, nullptr, FT_LIST_NUMBER_ONLY), FT_OK);
        return n;
    }

    const D2xxApi &api = *D2xxVirtualProvider();
};

TEST_F(ConverterTest, CountsOneConverterWhilePluggedIn)
{
    EXPECT_EQ(Count(), 1u);
    TheVirtualGenerator().SetPlugged(false);
    EXPECT_EQ(Count(), 0u);
    FT_HANDLE h = reinterpret_cast<FT_HANDLE>(1);
    EXPECT_EQ(api.Open(0, &h), FT_DEVICE_NOT_FOUND);
    EXPECT_EQ(h, nullptr);
    TheVirtualGenerator().SetPlugged(true);
    EXPECT_EQ(Count(), 1u);

    DWORD n = 0;
    EXPECT_EQ(api.ListDevices(nullptr, nullptr, FT_LIST_NUMBER_ONLY), FT_INVALID_PARAMETER);
    EXPECT_EQ(api.ListDevices(&n, nullptr, 0), FT_INVALID_PARAMETER);
}

TEST_F(ConverterTest, OpensOnlyIndexZeroAndOnlyOnce)
{
    FT_HANDLE h = nullptr;
    EXPECT_EQ(api.Open(1, &h), FT_DEVICE_NOT_FOUND);
    EXPECT_EQ(api.Open(-1, &h), FT_DEVICE_NOT_FOUND);
    EXPECT_EQ(api.Open(0, nullptr), FT_INVALID_PARAMETER);
    const FT_HANDLE first = OpenOne();
    EXPECT_EQ(api.Open(0, &h), FT_DEVICE_NOT_OPENED);  // in use
    EXPECT_EQ(api.Close(first), FT_OK);
    const FT_HANDLE second = OpenOne();
    EXPECT_NE(second, first);
    EXPECT_TRUE(VirtualConverterState().open);
    EXPECT_EQ(VirtualConverterState().opens, 2);
}

TEST_F(ConverterTest, ExchangesFramesWithTheGenerator)
{
    const FT_HANDLE h = OpenOne();
    ASSERT_EQ(Write(h, {0xC0, 0x06, 0x01, 0x01, 0x66}), FT_OK);
    ASSERT_EQ(Write(h, {0xC0, 0x07, 0x00, 0xD0}), FT_OK);
    EXPECT_EQ(VirtualConverterState().queued, 11u);
    // Byte by byte, as the library reads.
    EXPECT_EQ(ReadAll(h, 1),
              (Bytes{0xC0, 0x06, 0x01, 0x00, 0x38, 0xC0, 0x07, 0x02, 0x00, 0x01, 0x49}));

    ASSERT_EQ(Write(h, Frame(3)), FT_OK);
    const auto info = DecodeOnly(ReadAll(h));
    ASSERT_TRUE(info.has_value());
    EXPECT_EQ(info->data, Text("PX-418 virtual generator"));

    // A request split over two writes gets its answer after the second.
    const Bytes req = SetPar(2, 0x83, 765);
    ASSERT_EQ(Write(h, Bytes(req.begin(), req.begin() + 4)), FT_OK);
    EXPECT_TRUE(ReadAll(h).empty());
    ASSERT_EQ(Write(h, Bytes(req.begin() + 4, req.end())), FT_OK);
    EXPECT_EQ(DecodeOnly(ReadAll(h))->data, Bytes{0});
    EXPECT_EQ(TheVirtualGenerator().State().active[2][3], 765);
}

TEST_F(ConverterTest, ReadReturnsWhatIsThereWithoutWaiting)
{
    const FT_HANDLE h = OpenOne();
    std::uint8_t buf[16] = {};
    DWORD got = 99;
    EXPECT_EQ(api.Read(h, buf, 16, &got), FT_OK);  // nothing queued
    EXPECT_EQ(got, 0u);
    ASSERT_EQ(Write(h, Frame(7)), FT_OK);
    EXPECT_EQ(api.Read(h, buf, 16, &got), FT_OK);  // fewer than asked
    EXPECT_EQ(got, 6u);
    EXPECT_EQ(api.Read(h, buf, 0, &got), FT_OK);
    EXPECT_EQ(got, 0u);
    EXPECT_EQ(api.Read(h, buf, 1, nullptr), FT_INVALID_PARAMETER);
    EXPECT_EQ(api.Read(h, nullptr, 1, &got), FT_INVALID_PARAMETER);
    DWORD written = 0;
    EXPECT_EQ(api.Write(h, nullptr, 4, &written), FT_INVALID_PARAMETER);
}

TEST_F(ConverterTest, SilentDeviceLeavesTheQueueEmpty)
{
    const FT_HANDLE h = OpenOne();
    TheVirtualGenerator().SetSilent(true);
    ASSERT_EQ(Write(h, Frame(7)), FT_OK);  // the converter takes the bytes
    EXPECT_TRUE(ReadAll(h).empty());
    EXPECT_EQ(TheVirtualGenerator().FrameLog().size(), 1u);
}

TEST_F(ConverterTest, RemembersTheLinkSettings)
{
    const FT_HANDLE h = OpenOne();
    EXPECT_EQ(api.SetLatencyTimer(h, 2), FT_OK);
    EXPECT_EQ(api.SetBaudRate(h, 38400), FT_OK);
    EXPECT_EQ(api.SetDataCharacteristics(h, FT_BITS_8, FT_STOP_BITS_1, FT_PARITY_NONE), FT_OK);
    EXPECT_EQ(api.SetTimeouts(h, 50, 200), FT_OK);
    EXPECT_EQ(api.Purge(h, FT_PURGE_RX | FT_PURGE_TX), FT_OK);
    const auto s = VirtualConverterState();
    EXPECT_EQ(s.latency, 2);
    EXPECT_EQ(s.baudRate, 38400u);
    EXPECT_EQ(s.wordLength, 8);
    EXPECT_EQ(s.stopBits, 0);
    EXPECT_EQ(s.parity, 0);
    EXPECT_EQ(s.readTimeout, 50u);
    EXPECT_EQ(s.writeTimeout, 200u);
    EXPECT_EQ(s.purges, 1);
}

TEST_F(ConverterTest, PurgeClearsTheReceiveQueueAsItsMaskSays)
{
    const FT_HANDLE h = OpenOne();
    ASSERT_EQ(Write(h, Frame(7)), FT_OK);
    EXPECT_EQ(api.Purge(h, FT_PURGE_TX), FT_OK);
    EXPECT_EQ(VirtualConverterState().queued, 6u);
    EXPECT_EQ(api.Purge(h, FT_PURGE_RX), FT_OK);
    EXPECT_EQ(VirtualConverterState().queued, 0u);
    EXPECT_TRUE(ReadAll(h).empty());
    // The device itself stays in step.
    ASSERT_EQ(Write(h, Frame(7)), FT_OK);
    EXPECT_EQ(DecodeOnly(ReadAll(h))->data, (Bytes{0, 0}));
}

// Every call that takes a handle, for the dead-handle cases.
std::vector<FT_STATUS> CallEverything(const D2xxApi &api, FT_HANDLE h)
{
    std::uint8_t buf[4] = {0xC0, 0x07, 0x00, 0xD0};
    DWORD n = 0;
    return {api.Read(h, buf, 1, &n),
            api.Write(h, buf, 4, &n),
            api.SetBaudRate(h, 38400),
            api.SetDataCharacteristics(h, 8, 0, 0),
            api.SetTimeouts(h, 50, 200),
            api.SetLatencyTimer(h, 2),
            api.Purge(h, 3)};
}

TEST_F(ConverterTest, ClosedOrUnknownHandlesAreRefused)
{
    const FT_HANDLE h = OpenOne();
    EXPECT_EQ(api.Close(h), FT_OK);
    EXPECT_FALSE(VirtualConverterState().open);
    for (FT_STATUS st : CallEverything(api, h)) {
        EXPECT_EQ(st, FT_INVALID_HANDLE);
    }
    EXPECT_EQ(api.Close(h), FT_INVALID_HANDLE);
    EXPECT_EQ(api.Close(nullptr), FT_INVALID_HANDLE);

    const FT_HANDLE again = OpenOne();
    for (FT_STATUS st : CallEverything(api, h)) {
        EXPECT_EQ(st, FT_INVALID_HANDLE);  // stale
    }
    EXPECT_EQ(api.SetBaudRate(again, 38400), FT_OK);
}

TEST_F(ConverterTest, UnpluggingKillsTheHandleForGood)
{
    const FT_HANDLE h = OpenOne();
    ASSERT_EQ(Write(h, Frame(7)), FT_OK);  // an answer waiting, lost with the link
    TheVirtualGenerator().SetPlugged(false);
    for (FT_STATUS st : CallEverything(api, h)) {
        EXPECT_EQ(st, FT_IO_ERROR);
    }
    TheVirtualGenerator().SetPlugged(true);
    for (FT_STATUS st : CallEverything(api, h)) {
        EXPECT_EQ(st, FT_IO_ERROR);
    }
    EXPECT_EQ(TheVirtualGenerator().FrameLog().size(), 1u);  // nothing got through

    // A new opening works even before the dead handle is closed.
    const FT_HANDLE fresh = OpenOne();
    EXPECT_NE(fresh, h);
    EXPECT_EQ(api.Close(h), FT_INVALID_HANDLE);
    ASSERT_EQ(Write(fresh, Frame(7)), FT_OK);
    EXPECT_EQ(DecodeOnly(ReadAll(fresh))->data, (Bytes{0, 0}));
}

TEST_F(ConverterTest, ClosingADeadHandleReleasesIt)
{
    const FT_HANDLE h = OpenOne();
    TheVirtualGenerator().SetPlugged(false);
    EXPECT_EQ(api.Close(h), FT_IO_ERROR);
    EXPECT_FALSE(VirtualConverterState().open);
    EXPECT_EQ(api.Close(h), FT_INVALID_HANDLE);
    TheVirtualGenerator().SetPlugged(true);
    OpenOne();
}

TEST_F(ConverterTest, AnswerFaultsReachTheReader)
{
    const FT_HANDLE h = OpenOne();
    TheVirtualGenerator().PrefixNoise({0x11, 0x22});
    TheVirtualGenerator().CorruptNextAnswer();
    ASSERT_EQ(Write(h, Frame(7)), FT_OK);
    const Bytes got = ReadAll(h, 1);
    ASSERT_EQ(got.size(), 8u);
    EXPECT_EQ(got[0], 0x11);
    EXPECT_EQ(got[1], 0x22);
    EXPECT_FALSE(DecodeOnly(Bytes(got.begin() + 2, got.end())).has_value());
}

}  // namespace
