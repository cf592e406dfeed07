// Wake framing on the wire, seen through the recording D2XX double: CRC
// check values, encoded frames byte for byte, and the receiver against good
// and hostile input.
#include "wake.h"

#include <array>
#include <chrono>
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "d2xx_double.h"
#include "ftdio.h"

namespace {

using d2xxdouble::Bytes;

d2xxdouble::D2xxDouble &Double()
{
    return d2xxdouble::Instance();
}

std::uint8_t Crc(const Bytes &bytes, std::uint8_t init)
{
    std::uint8_t crc = init;
    for (std::uint8_t b : bytes) {
        WakeCrcUpdate(b, crc);
    }
    return crc;
}

// Appends the CRC (started at 0xDE, over all bytes given) to a raw frame
// whose bytes need no stuffing, so that hostile frames can be built by hand.
Bytes WithCrc(Bytes frame)
{
    frame.push_back(Crc(frame, wake::CRC_INIT));
    return frame;
}

Bytes Noise(std::size_t count)
{
    Bytes noise(count);
    for (std::size_t i = 0; i < count; ++i) {
        noise[i] = static_cast<std::uint8_t>(i % 0xC0);  // never FEND
    }
    return noise;
}

Bytes Concat(Bytes a, const Bytes &b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// One open converter of the double, installed in process.
class WakeTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Double().Reset();
        converter_ = Double().AddConverter();
        D2xxInstall(&d2xxdouble::Api());
        ASSERT_TRUE(FtdioOpen(0, handle_));
        Double().ClearCalls();
    }
    void TearDown() override
    {
        FtdioClose(handle_);
        D2xxInstall(nullptr);
    }

    struct Received {
        bool ok = false;
        std::uint8_t address = 0xEE;
        std::uint8_t command = 0xEE;
        std::uint8_t length = 0xEE;
        std::array<std::uint8_t, 256> area{};
    };

    Received Receive(std::size_t capacity = 200)
    {
        Received r;
        r.area.fill(0xA5);
        r.ok = WakeReceiveFrame(50, r.address, r.command, r.area.data(), r.length, capacity);
        return r;
    }

    int converter_ = -1;
    FT_HANDLE handle_ = nullptr;
};

TEST(WakeCrcTest, CheckValues)
{
    const Bytes digits{'1', '2', '3', '4', '5', '6', '7', '8', '9'};
    EXPECT_EQ(Crc(digits, 0xDE), 0xC2);
    EXPECT_EQ(Crc(digits, 0x00), 0xA1);
}

TEST(WakeCrcTest, FoldingAFramesOwnCrcLeavesZero)
{
    Bytes frame{0xC0, 0x08, 0x06, 0x00, 0x81, 0xDC, 0x05, 0x00, 0x00};
    frame.push_back(Crc(frame, wake::CRC_INIT));
    EXPECT_EQ(frame.back(), 0x90);
    EXPECT_EQ(Crc(frame, wake::CRC_INIT), 0);
}

struct SendCase {
    const char *name;
    std::uint8_t address;
    std::uint8_t command;
    Bytes data;
    Bytes wire;
};

TEST_F(WakeTest, EncodesEachFrameInOneWrite)
{
    const SendCase cases[] = {
        {"info", 0, 3, {}, {0xC0, 0x03, 0x00, 0xEB}},
        {"info to address 5", 5, 3, {}, {0xC0, 0x85, 0x03, 0x00, 0x4D}},
        {"address 0x40 is stuffed", 0x40, 3, {}, {0xC0, 0xDB, 0xDC, 0x03, 0x00, 0x49}},
        {"address bit 7 replaced", 0x85, 3, {}, {0xC0, 0x85, 0x03, 0x00, 0x4D}},
        {"command bit 7 dropped", 0, 0x83, {}, {0xC0, 0x03, 0x00, 0xEB}},
        {"data 0xC0 stuffed",
         0,
         8,
         {0x03, 0xC0, 0x64, 0x00, 0x00, 0x00},
         {0xC0, 0x08, 0x06, 0x03, 0xDB, 0xDC, 0x64, 0x00, 0x00, 0x00, 0x55}},
        {"get mode", 0, 7, {}, {0xC0, 0x07, 0x00, 0xD0}},
        {"get selected parameter", 0, 10, {}, {0xC0, 0x0A, 0x00, 0x59}},
        {"set mode 1", 0, 6, {0x01}, {0xC0, 0x06, 0x01, 0x01, 0x66}},
        {"get parameter 0/1", 0, 9, {0x00, 0x01}, {0xC0, 0x09, 0x02, 0x00, 0x01, 0x5C}},
        {"set parameter 0/1 10000",
         0,
         8,
         {0x00, 0x01, 0x10, 0x27, 0x00, 0x00},
         {0xC0, 0x08, 0x06, 0x00, 0x01, 0x10, 0x27, 0x00, 0x00, 0xAB}},
        {"set parameter 0/0x81 1500",
         0,
         8,
         {0x00, 0x81, 0xDC, 0x05, 0x00, 0x00},
         {0xC0, 0x08, 0x06, 0x00, 0x81, 0xDC, 0x05, 0x00, 0x00, 0x90}},
        {"data 0xDB stuffed", 0, 2, {0xDB}, oracle::Encode(2, {0xDB})},
    };
    for (const SendCase &c : cases) {
        SCOPED_TRACE(c.name);
        Double().ClearCalls();
        EXPECT_TRUE(WakeSendFrame(c.address, c.command, static_cast<std::uint8_t>(c.data.size()),
                                  c.data.data()));
        ASSERT_EQ(Double().CallNames(), std::vector<std::string>{"FT_Write"});
        EXPECT_EQ(Double().Written(), std::vector<Bytes>{c.wire});
    }
}

TEST_F(WakeTest, StuffsLengthBytesThatLookLikeMarkers)
{
    for (const auto &[length, stuffed] :
         {std::pair<std::uint8_t, std::uint8_t>{192, 0xDC}, {219, 0xDD}}) {
        SCOPED_TRACE(static_cast<int>(length));
        Double().ClearCalls();
        const Bytes data(length, 0x11);
        ASSERT_TRUE(WakeSendFrame(0, 8, length, data.data()));
        const Bytes wire = Double().Written().at(0);
        EXPECT_EQ(wire[2], 0xDB);
        EXPECT_EQ(wire[3], stuffed);
        const auto decoded = oracle::Decode(wire);
        EXPECT_TRUE(decoded.valid);
        EXPECT_EQ(decoded.data, data);
    }
}

TEST_F(WakeTest, LongestFrameFitsTheBuffer)
{
    // Address 0x40 and 255 data bytes of 0xDB: everything but FEND, the
    // command and the length is stuffed.
    const Bytes data(255, 0xDB);
    ASSERT_TRUE(WakeSendFrame(0x40, 8, 255, data.data()));
    const Bytes wire = Double().Written().at(0);
    EXPECT_GE(wire.size(), 516u);
    EXPECT_LE(wire.size(), wake::MAX_FRAME);
    const auto decoded = oracle::Decode(wire);
    EXPECT_TRUE(decoded.valid);
    EXPECT_EQ(decoded.address, 0x40);
    EXPECT_EQ(decoded.data, data);
}

TEST_F(WakeTest, SendFailsOnShortOrFailedWrite)
{
    Double().ShortWrite(3);
    EXPECT_FALSE(WakeSendFrame(0, 3, 0, nullptr));
    Double().FailCall("FT_Write", FT_IO_ERROR);
    EXPECT_FALSE(WakeSendFrame(0, 3, 0, nullptr));
    EXPECT_EQ(Double().Count("FT_Write"), 2);  // no retry
}

struct ReceiveCase {
    const char *name;
    Bytes wire;
    std::uint8_t address;
    std::uint8_t command;
    Bytes data;
};

TEST_F(WakeTest, ReceivesGoodFrames)
{
    const ReceiveCase cases[] = {
        {"get mode answer", {0xC0, 0x07, 0x02, 0x00, 0x01, 0x49}, 0, 7, {0x00, 0x01}},
        {"set mode answer", {0xC0, 0x06, 0x01, 0x00, 0x38}, 0, 6, {0x00}},
        {"no data: CRC right after the length", {0xC0, 0x03, 0x00, 0xEB}, 0, 3, {}},
        {"with address", {0xC0, 0x85, 0x03, 0x00, 0x4D}, 5, 3, {}},
        {"stuffed address", {0xC0, 0xDB, 0xDC, 0x03, 0x00, 0x49}, 0x40, 3, {}},
        {"stuffed data",
         oracle::Encode(9, {0xC0, 0xDB, 0x00, 0xC0}),
         0,
         9,
         {0xC0, 0xDB, 0x00, 0xC0}},
        {"bare 0xC0 inside is data", WithCrc({0xC0, 0x07, 0x02, 0x00, 0xC0}), 0, 7, {0x00, 0xC0}},
        {"noise before FEND", Concat(Noise(100), {0xC0, 0x06, 0x01, 0x00, 0x38}), 0, 6, {0x00}},
        {"511 noise bytes", Concat(Noise(511), {0xC0, 0x06, 0x01, 0x00, 0x38}), 0, 6, {0x00}},
    };
    for (const ReceiveCase &c : cases) {
        SCOPED_TRACE(c.name);
        Double().ClearCalls();
        Double().QueueReceive(converter_, c.wire);
        const Received r = Receive();
        ASSERT_TRUE(r.ok);
        EXPECT_EQ(r.address, c.address);
        EXPECT_EQ(r.command, c.command);
        EXPECT_EQ(r.length, c.data.size());
        EXPECT_EQ(Bytes(r.area.begin(), r.area.begin() + static_cast<long>(c.data.size())), c.data);
        EXPECT_EQ(r.area[c.data.size()], 0xA5) << "the CRC byte must not be stored";
        EXPECT_TRUE(Double().Pending(converter_).empty());
    }
}

TEST_F(WakeTest, RoundTripsEveryByteValue)
{
    for (int start : {0, 200}) {
        Bytes data;
        for (int v = start; v < start + 200 && v < 256; ++v) {
            data.push_back(static_cast<std::uint8_t>(v));
        }
        Double().ClearCalls();
        ASSERT_TRUE(WakeSendFrame(0x3B, 0x55, static_cast<std::uint8_t>(data.size()), data.data()));
        Double().QueueReceive(converter_, Double().Written().at(0));
        const Received r = Receive();
        ASSERT_TRUE(r.ok);
        EXPECT_EQ(r.address, 0x3B);
        EXPECT_EQ(r.command, 0x55);
        EXPECT_EQ(Bytes(r.area.begin(), r.area.begin() + r.length), data);
    }
}

TEST_F(WakeTest, SetsThePerByteTimeoutFirst)
{
    Double().QueueReceive(converter_, {0xC0, 0x03, 0x00, 0xEB});
    ASSERT_TRUE(Receive().ok);
    const auto calls = Double().Calls();
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(calls[0].name, "FT_SetTimeouts");
    EXPECT_EQ(calls[0].args, (std::vector<std::uint32_t>{50, 200}));
    for (std::size_t i = 1; i < calls.size(); ++i) {
        EXPECT_EQ(calls[i].name, "FT_Read");
        EXPECT_EQ(calls[i].args, std::vector<std::uint32_t>{1}) << "one byte per read";
    }
}

// A deadline sooner than the per-byte timeout shortens the reads' timeout to
// it; once it has passed, nothing more is read.
TEST_F(WakeTest, NoReadWaitsPastTheDeadline)
{
    const Bytes frame{0xC0, 0x03, 0x00, 0xEB};
    Received r;
    Double().QueueReceive(converter_, frame);
    const auto soon = std::chrono::steady_clock::now() + std::chrono::milliseconds(30);
    ASSERT_TRUE(WakeReceiveFrame(50, r.address, r.command, r.area.data(), r.length, 200, soon));
    const auto timeouts = Double().CallsOf("FT_SetTimeouts");
    ASSERT_GE(timeouts.size(), 2u);
    EXPECT_EQ(timeouts[0].args.at(0), 50u);
    for (std::size_t i = 1; i < timeouts.size(); ++i) {
        EXPECT_LE(timeouts[i].args.at(0), 30u);
        EXPECT_GT(timeouts[i].args.at(0), 0u);
    }

    Double().ClearCalls();
    Double().QueueReceive(converter_, Concat(Noise(100), frame));
    const auto past = std::chrono::steady_clock::now() - std::chrono::milliseconds(1);
    EXPECT_FALSE(WakeReceiveFrame(50, r.address, r.command, r.area.data(), r.length, 200, past));
    EXPECT_EQ(Double().Count("FT_Read"), 0);
}

TEST_F(WakeTest, RefusedTimeoutReadsNothing)
{
    Double().QueueReceive(converter_, {0xC0, 0x03, 0x00, 0xEB});
    Double().FailCall("FT_SetTimeouts", FT_IO_ERROR);
    const Received r = Receive();
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(Double().Count("FT_Read"), 0);
    EXPECT_EQ(r.command, 0xEE);  // outputs untouched
    EXPECT_EQ(r.length, 0xEE);
}

TEST_F(WakeTest, GivesUpAfter512NoiseBytesWithoutReadingFurther)
{
    const Bytes frame{0xC0, 0x06, 0x01, 0x00, 0x38};
    Double().QueueReceive(converter_, Concat(Noise(512), frame));
    EXPECT_FALSE(Receive().ok);
    EXPECT_EQ(Double().Count("FT_Read"), 512);
    EXPECT_EQ(Double().Pending(converter_), frame);
}

TEST_F(WakeTest, RejectsBadFrames)
{
    const struct {
        const char *name;
        Bytes wire;
    } cases[] = {
        {"nothing at all", {}},
        {"noise only", Noise(20)},
        {"bad escape in data", {0xC0, 0x07, 0x02, 0x00, 0xDB, 0x01, 0x49}},
        {"bad escape in length", {0xC0, 0x07, 0xDB, 0xC0, 0x00}},
        {"escape cut short", {0xC0, 0x07, 0x01, 0xDB}},
        {"command with bit 7 after address", WithCrc({0xC0, 0x85, 0x83, 0x00})},
        {"bad CRC", {0xC0, 0x07, 0x02, 0x00, 0x01, 0x48}},
        {"cut short in the data", {0xC0, 0x07, 0x02, 0x00}},
        {"cut short before the CRC", {0xC0, 0x07, 0x02, 0x00, 0x01}},
        {"cut short after FEND", {0xC0}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        Double().Reset();
        converter_ = Double().AddConverter();
        ASSERT_TRUE(FtdioOpen(0, handle_));
        Double().QueueReceive(converter_, c.wire);
        EXPECT_FALSE(Receive().ok);
    }
}

TEST_F(WakeTest, ReadWithoutAByteEndsTheFrame)
{
    Double().QueueReceive(converter_, {0xC0, 0x06, 0x01, 0x00, 0x38});
    Double().EmptyRead(3);  // the third read: the length byte
    EXPECT_FALSE(Receive().ok);
    EXPECT_EQ(Double().Pending(converter_), (Bytes{0x01, 0x00, 0x38}));
}

TEST_F(WakeTest, LeavesTrailingBytesUnread)
{
    const Bytes frame{0xC0, 0x07, 0x02, 0x00, 0x01, 0x49};
    Double().QueueReceive(converter_, Concat(frame, {0x11, 0x22, 0xC0}));
    ASSERT_TRUE(Receive().ok);
    EXPECT_EQ(Double().Count("FT_Read"), static_cast<int>(frame.size()));
    EXPECT_EQ(Double().Pending(converter_), (Bytes{0x11, 0x22, 0xC0}));
}

TEST_F(WakeTest, FindsAnOldAnswerFirst)
{
    Double().QueueReceive(
        converter_, Concat({0xC0, 0x07, 0x02, 0x00, 0x01, 0x49}, {0xC0, 0x06, 0x01, 0x00, 0x38}));
    Received first = Receive();
    ASSERT_TRUE(first.ok);
    EXPECT_EQ(first.command, 7);
    Received second = Receive();
    ASSERT_TRUE(second.ok);
    EXPECT_EQ(second.command, 6);
}

TEST_F(WakeTest, NeverStoresBeyondTheCapacity)
{
    // A frame announcing 255 data bytes into a 200-byte area is read through
    // its CRC and rejected; the next frame is then received intact.
    Bytes data(255);
    for (std::size_t i = 0; i < data.size(); ++i) {
        data[i] = static_cast<std::uint8_t>(i);
    }
    const Bytes next{0xC0, 0x06, 0x01, 0x00, 0x38};
    Double().QueueReceive(converter_, Concat(oracle::Encode(9, data), next));

    const Received r = Receive(200);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(Bytes(r.area.begin(), r.area.begin() + 200), Bytes(data.begin(), data.begin() + 200));
    for (std::size_t i = 200; i < r.area.size(); ++i) {
        ASSERT_EQ(r.area[i], 0xA5) << "byte " << i << " written beyond the capacity";
    }
    EXPECT_EQ(Double().Pending(converter_), next);

    const Received after = Receive(200);
    ASSERT_TRUE(after.ok);
    EXPECT_EQ(after.command, 6);
}

TEST_F(WakeTest, AcceptsAFrameThatExactlyFillsTheCapacity)
{
    const Bytes data(200, 0x5A);
    Double().QueueReceive(converter_, oracle::Encode(9, data));
    const Received r = Receive(200);
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.length, 200);
    EXPECT_EQ(r.area[200], 0xA5);
}

}  // namespace
