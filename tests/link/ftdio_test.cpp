// Ftdio's D2XX call orders, arguments and early stops, seen through the
// recording double.
#include "ftdio.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "d2xx_double.h"

namespace {

using d2xxdouble::Bytes;
using Names = std::vector<std::string>;

d2xxdouble::D2xxDouble &Double()
{
    return d2xxdouble::Instance();
}

class FtdioTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Double().Reset();
        D2xxInstall(&d2xxdouble::Api());
    }
    void TearDown() override
    {
        FtdioClose(handle_);
        D2xxInstall(nullptr);
    }

    // Adds one converter and opens it.
    void OpenOne()
    {
        converter_ = Double().AddConverter();
        ASSERT_TRUE(FtdioOpen(0, handle_));
        Double().ClearCalls();
    }

    int converter_ = -1;
    FT_HANDLE handle_ = nullptr;
};

TEST_F(FtdioTest, CountsAttachedConverters)
{
    for (int converters : {0, 1, 3}) {
        SCOPED_TRACE(converters);
        Double().Reset();
        for (int i = 0; i < converters; ++i) {
            Double().AddConverter();
        }
        std::uint32_t count = 99;
        ASSERT_TRUE(FtdioCountDevices(count));
        EXPECT_EQ(count, static_cast<std::uint32_t>(converters));
        const auto calls = Double().Calls();
        ASSERT_EQ(calls.size(), 1u);
        EXPECT_EQ(calls[0].name, "FT_ListDevices");
        EXPECT_EQ(calls[0].args, std::vector<std::uint32_t>{0x80000000u});
    }
}

TEST_F(FtdioTest, FailedCountReportsTheStatus)
{
    Double().AddConverter();
    Double().FailCall("FT_ListDevices", FT_IO_ERROR);
    std::uint32_t count = 7;
    EXPECT_FALSE(FtdioCountDevices(count));
    EXPECT_EQ(FtdioLastStatus(), FT_IO_ERROR);
}

TEST_F(FtdioTest, OpenHandsOutTheHandle)
{
    Double().AddConverter();
    converter_ = Double().AddConverter();
    ASSERT_TRUE(FtdioOpen(1, handle_));
    EXPECT_NE(handle_, nullptr);
    EXPECT_TRUE(Double().IsOpen(converter_));
    const auto open = Double().CallsOf("FT_Open");
    ASSERT_EQ(open.size(), 1u);
    EXPECT_EQ(open[0].args, std::vector<std::uint32_t>{1});
    EXPECT_EQ(open[0].handle, handle_);
    EXPECT_EQ(FtdioLastStatus(), FT_OK);
}

TEST_F(FtdioTest, FailedOpenLeavesNoPortOpen)
{
    converter_ = Double().AddConverter();
    Double().SetOpenable(converter_, false);
    handle_ = reinterpret_cast<FT_HANDLE>(0x1234);
    EXPECT_FALSE(FtdioOpen(0, handle_));
    EXPECT_EQ(handle_, nullptr);
    EXPECT_EQ(FtdioLastStatus(), FT_DEVICE_NOT_OPENED);
    // With no port open a close hands nothing to the driver.
    EXPECT_TRUE(FtdioClose(handle_));
    EXPECT_EQ(Double().Count("FT_Close"), 0);
}

TEST_F(FtdioTest, SetupAppliesTheLinkSettingsInOrder)
{
    OpenOne();
    ASSERT_TRUE(FtdioSetup(38400));
    const auto calls = Double().Calls();
    const Names names{"FT_SetLatencyTimer", "FT_SetBaudRate", "FT_SetDataCharacteristics",
                      "FT_SetTimeouts", "FT_Purge"};
    const std::vector<std::vector<std::uint32_t>> args{{2}, {38400}, {8, 0, 0}, {200, 200}, {3}};
    ASSERT_EQ(calls.size(), names.size());
    for (std::size_t i = 0; i < calls.size(); ++i) {
        EXPECT_EQ(calls[i].name, names[i]);
        EXPECT_EQ(calls[i].args, args[i]) << names[i];
        EXPECT_EQ(calls[i].handle, handle_);
    }
}

TEST_F(FtdioTest, SetupStopsAtTheFirstFailure)
{
    const Names order{"FT_SetLatencyTimer", "FT_SetBaudRate", "FT_SetDataCharacteristics",
                      "FT_SetTimeouts", "FT_Purge"};
    for (std::size_t failing = 0; failing < order.size(); ++failing) {
        SCOPED_TRACE(order[failing]);
        Double().Reset();
        OpenOne();
        Double().FailCall(order[failing], FT_INVALID_PARAMETER);
        EXPECT_FALSE(FtdioSetup(38400));
        EXPECT_EQ(Double().CallNames(), Names(order.begin(), order.begin() + failing + 1));
        EXPECT_EQ(FtdioLastStatus(), FT_INVALID_PARAMETER);
        EXPECT_TRUE(Double().IsOpen(converter_)) << "a failed setup leaves the device open";
    }
}

TEST_F(FtdioTest, SetReadTimeoutKeepsTheWriteTimeout)
{
    OpenOne();
    ASSERT_TRUE(FtdioSetReadTimeout(50));
    const auto calls = Double().CallsOf("FT_SetTimeouts");
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].args, (std::vector<std::uint32_t>{50, 200}));
    Double().FailCall("FT_SetTimeouts", FT_IO_ERROR);
    EXPECT_FALSE(FtdioSetReadTimeout(50));
}

TEST_F(FtdioTest, WriteHandsOverTheWholeBufferOnce)
{
    OpenOne();
    const Bytes frame{0xC0, 0x03, 0x00, 0xEB};
    ASSERT_TRUE(FtdioWrite(static_cast<std::int32_t>(frame.size()), frame.data()));
    EXPECT_EQ(Double().Written(), std::vector<Bytes>{frame});

    struct {
        const char *name;
        void (*inject)();
        FT_STATUS status;
    } failures[] = {
        {"short write", [] { Double().ShortWrite(2); }, FT_OK},
        {"nothing accepted", [] { Double().ShortWrite(0); }, FT_OK},
        {"driver error", [] { Double().FailCall("FT_Write", FT_IO_ERROR); }, FT_IO_ERROR},
    };
    for (const auto &f : failures) {
        SCOPED_TRACE(f.name);
        Double().ClearCalls();
        f.inject();
        EXPECT_FALSE(FtdioWrite(static_cast<std::int32_t>(frame.size()), frame.data()));
        EXPECT_EQ(Double().Count("FT_Write"), 1) << "not retried";
        EXPECT_EQ(FtdioLastStatus(), f.status);
    }
}

TEST_F(FtdioTest, ReadByteNeedsExactlyOneByte)
{
    OpenOne();
    Double().QueueReceive(converter_, {0x42, 0x43});
    const std::uint64_t received = FtdioBytesReceived();
    std::uint8_t byte = 0;
    ASSERT_TRUE(FtdioReadByte(byte));
    EXPECT_EQ(byte, 0x42);
    const auto reads = Double().CallsOf("FT_Read");
    ASSERT_EQ(reads.size(), 1u);
    EXPECT_EQ(reads[0].args, std::vector<std::uint32_t>{1});

    // A read whose timeout ran out with no byte is a failure.
    Double().EmptyRead();
    byte = 0;
    EXPECT_FALSE(FtdioReadByte(byte));
    EXPECT_EQ(FtdioLastStatus(), FT_OK);
    EXPECT_EQ(byte, 0);

    Double().FailCall("FT_Read", FT_IO_ERROR);
    EXPECT_FALSE(FtdioReadByte(byte));
    EXPECT_EQ(FtdioLastStatus(), FT_IO_ERROR);

    ASSERT_TRUE(FtdioReadByte(byte));
    EXPECT_EQ(byte, 0x43);
    EXPECT_FALSE(FtdioReadByte(byte)) << "queue empty";
    EXPECT_EQ(FtdioBytesReceived() - received, 2u) << "only the bytes that came are counted";
}

TEST_F(FtdioTest, CloseClearsTheHandleEvenOnError)
{
    OpenOne();
    Double().FailCall("FT_Close", FT_IO_ERROR);
    FT_HANDLE opened = handle_;
    EXPECT_FALSE(FtdioClose(handle_));
    EXPECT_EQ(handle_, nullptr);
    EXPECT_EQ(FtdioLastStatus(), FT_IO_ERROR);
    const auto closes = Double().CallsOf("FT_Close");
    ASSERT_EQ(closes.size(), 1u);
    EXPECT_EQ(closes[0].handle, opened);

    // The port is gone: a second close does not hand the handle over again.
    EXPECT_TRUE(FtdioClose(handle_));
    EXPECT_EQ(Double().Count("FT_Close"), 1);
}

TEST_F(FtdioTest, CloseWithNothingOpenCallsNoDriver)
{
    FT_HANDLE handle = reinterpret_cast<FT_HANDLE>(0x99);
    EXPECT_TRUE(FtdioClose(handle));
    EXPECT_EQ(handle, nullptr);
    EXPECT_TRUE(Double().Calls().empty());
}

TEST_F(FtdioTest, CloseReleasesTheConverter)
{
    OpenOne();
    EXPECT_TRUE(FtdioClose(handle_));
    EXPECT_EQ(handle_, nullptr);
    EXPECT_FALSE(Double().IsOpen(converter_));
    EXPECT_EQ(Double().CallsOf("FT_Close").at(0).status, FT_OK);
}

}  // namespace
