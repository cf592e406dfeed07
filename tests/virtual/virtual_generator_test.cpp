// The virtual generator driven with request frames, byte for byte.
#include "virtual/virtual_generator.h"

#include <thread>

#include <gtest/gtest.h>

#include "wake_oracle.h"

using namespace oracle;
using px418virtual::DeviceState;
using px418virtual::EncodeFrame;
using px418virtual::VirtualGenerator;

namespace {

class GeneratorTest : public ::testing::Test {
protected:
    Bytes Send(const Bytes &wire) { return gen.Receive(wire.data(), wire.size()); }
    Decoded Ask(const Bytes &request)
    {
        const Bytes wire = Send(request);
        auto a = DecodeOnly(wire);
        EXPECT_TRUE(a.has_value()) << "no single well-formed answer frame";
        return a.value_or(Decoded{});
    }
    std::uint8_t Set(std::uint8_t g, std::uint8_t n, std::int32_t v)
    {
        const Decoded a = Ask(SetPar(g, n, v));
        EXPECT_EQ(a.command, 8);
        EXPECT_EQ(a.data.size(), 1u);
        return a.error();
    }
    std::int32_t Get(std::uint8_t g, std::uint8_t n)
    {
        const Decoded a = Ask(GetPar(g, n));
        EXPECT_EQ(a.command, 9);
        EXPECT_EQ(a.error(), 0) << "get (" << int(g) << ", " << int(n) << ")";
        return a.data.size() == 5 ? FromLe32(a.data, 1) : INT32_MIN;
    }
    VirtualGenerator gen;
};

TEST(EncodeFrameTest, MatchesTheWireVectors)
{
    struct Case {
        std::uint8_t cmd;
        Bytes data;
        std::uint8_t address;
        Bytes wire;
    };
    const Case cases[] = {
        {3, {}, 0, {0xC0, 0x03, 0x00, 0xEB}},
        {3, {}, 5, {0xC0, 0x85, 0x03, 0x00, 0x4D}},
        {3, {}, 0x40, {0xC0, 0xDB, 0xDC, 0x03, 0x00, 0x49}},
        {8,
         {0x03, 0xC0, 0x64, 0, 0, 0},
         0,
         {0xC0, 0x08, 0x06, 0x03, 0xDB, 0xDC, 0x64, 0, 0, 0, 0x55}},
        {0x87, {}, 0, {0xC0, 0x07, 0x00, 0xD0}},  // bit 7 of the command is dropped
        {7, {0x00, 0x01}, 0, {0xC0, 0x07, 0x02, 0x00, 0x01, 0x49}},
        {6, {0x00}, 0, {0xC0, 0x06, 0x01, 0x00, 0x38}},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(EncodeFrame(c.cmd, c.data, c.address), c.wire);
    }

    // Lengths 0xC0 and 0xDB are stuffed like any other byte.
    EXPECT_EQ(EncodeFrame(2, Bytes(0xC0, 0x11))[2], 0xDB);
    EXPECT_EQ(EncodeFrame(2, Bytes(0xC0, 0x11))[3], 0xDC);
    EXPECT_EQ(EncodeFrame(2, Bytes(0xDB, 0x11))[3], 0xDD);
    EXPECT_THROW(EncodeFrame(2, Bytes(256, 0)), std::invalid_argument);
}

TEST_F(GeneratorTest, AnswersTheDocumentedExchangesByteForByte)
{
    // set mode 1, then get mode
    EXPECT_EQ(Send({0xC0, 0x06, 0x01, 0x01, 0x66}), (Bytes{0xC0, 0x06, 0x01, 0x00, 0x38}));
    EXPECT_EQ(Send({0xC0, 0x07, 0x00, 0xD0}), (Bytes{0xC0, 0x07, 0x02, 0x00, 0x01, 0x49}));
    // set parameter (0, 1, 10000), then get parameter (0, 1)
    const Decoded set = Ask({0xC0, 0x08, 0x06, 0x00, 0x01, 0x10, 0x27, 0x00, 0x00, 0xAB});
    EXPECT_EQ(set.command, 8);
    EXPECT_EQ(set.data, Bytes{0});
    const Decoded get = Ask({0xC0, 0x09, 0x02, 0x00, 0x01, 0x5C});
    EXPECT_EQ(get.command, 9);
    EXPECT_EQ(get.data, (Bytes{0x00, 0x10, 0x27, 0x00, 0x00}));
}

TEST_F(GeneratorTest, InfoAnswersItsIdentityWithoutAnErrorByte)
{
    const Decoded a = Ask({0xC0, 0x03, 0x00, 0xEB});
    EXPECT_EQ(a.command, 3);
    EXPECT_EQ(a.data, Text("PX-418 virtual generator"));
}

TEST_F(GeneratorTest, EchoSendsTheDataBack)
{
    const Bytes data{0x00, 0xC0, 0xDB, 0xFF, 0x42};
    const Decoded a = Ask(Frame(2, data));
    EXPECT_EQ(a.command, 2);
    EXPECT_EQ(a.data, data);
    EXPECT_EQ(Ask(Frame(2)).data, Bytes{});
}

TEST_F(GeneratorTest, PowerOnValuesAreReadBack)
{
    struct Case {
        std::uint8_t g, n;
        std::int32_t v;
    };
    const Case cases[] = {
        {0, 0, 0},     {0, 1, 50000}, {0, 2, 0}, {0, 3, 1000},  {1, 0, 0},    {1, 1, 50000},
        {1, 2, -1200}, {1, 3, 1000},  {2, 0, 0}, {2, 1, 50000}, {2, 2, 1200}, {2, 3, 1000},
        {3, 0, 0},     {3, 1, 0},     {3, 2, 0}, {3, 3, 0},     {4, 2, 44},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(Get(c.g, c.n), c.v) << int(c.g) << ", " << int(c.n);
    }
    EXPECT_EQ(Ask(Frame(7)).data, (Bytes{0, 0}));
    const Decoded sel = Ask(Frame(10));
    EXPECT_EQ(sel.command, 10);
    EXPECT_EQ(sel.data, (Bytes{0, 0, 1, 0x50, 0xC3, 0, 0}));  // (0, 1) = 50000
}

TEST_F(GeneratorTest, ParameterRangesAndUnknownParameters)
{
    struct Case {
        std::uint8_t g, n;
        std::int32_t v;
        std::uint8_t error;
    };
    const Case cases[] = {
        {0, 0x80, 1, 0},       {0, 0x80, 2, 4},       {0, 0x80, -1, 4},    {1, 0x81, 0, 0},
        {1, 0x81, 3000000, 0}, {1, 0x81, 3000001, 4}, {2, 0x81, -1, 4},    {0, 0x82, -3600, 0},
        {0, 0x82, 3600, 0},    {0, 0x82, 3601, 4},    {2, 0x82, -3601, 4}, {1, 0x83, 1000, 0},
        {1, 0x83, 1001, 4},    {1, 0x83, -1, 4},      {0, 0x84, 0, 4},     {0, 0xBF, 0, 4},
        {5, 0x80, 0, 4},       {255, 0x81, 0, 4},     {3, 0x80, -999, 0},  {3, 0x83, 999, 0},
        {3, 0x81, 1000, 4},    {3, 0x82, -1000, 4},   {3, 0x04, 0, 0},     {3, 0x04, 1, 4},
        {3, 0x05, 0, 4},       {4, 0x00, 9, 0},       {4, 0x00, 10, 4},    {4, 0x01, -1, 4},
        {4, 0x41, 0, 0},       {4, 0x02, 0, 0},       {4, 0x02, 127, 0},   {4, 0x02, 128, 4},
        {4, 0x03, 0, 0},       {4, 0x03, 1, 4},       {4, 0x04, 0, 4},     {0, 0x81, INT32_MIN, 4},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(::testing::Message() << "(" << int(c.g) << ", 0x" << std::hex << int(c.n)
                                          << ", " << std::dec << c.v << ")");
        const std::size_t before = gen.ParamWrites().size();
        EXPECT_EQ(Set(c.g, c.n, c.v), c.error);
        EXPECT_EQ(gen.ParamWrites().size(), before + (c.error == 0 ? 1 : 0));
    }
}

TEST_F(GeneratorTest, RefusedWriteChangesNothing)
{
    ASSERT_EQ(Set(0, 0x01, 20000), 0);  // pending
    const DeviceState before = gen.State();
    EXPECT_EQ(Set(0, 0xC3, 1001), 4);  // would apply and beep
    const DeviceState after = gen.State();
    EXPECT_EQ(after.outputs, before.outputs);
    EXPECT_EQ(after.active, before.active);
    EXPECT_EQ(after.beeps, 0);
    EXPECT_EQ(after.selectedNumber, before.selectedNumber);
}

TEST_F(GeneratorTest, GetParameterRefusesUnknownParametersAndFlagBits)
{
    for (auto [g, n] : {std::pair{0, 4}, {3, 5}, {4, 4}, {5, 0}, {0, 0x81}, {0, 0x41}}) {
        const Decoded a = Ask(GetPar(std::uint8_t(g), std::uint8_t(n)));
        EXPECT_EQ(a.command, 9);
        EXPECT_EQ(a.data, Bytes{4}) << g << ", " << n;
    }
}

TEST_F(GeneratorTest, RequestsOfTheWrongLengthAreRefused)
{
    const Bytes wrong[] = {Frame(6),
                           Frame(6, {1, 2}),
                           Frame(7, {0}),
                           Frame(8, {0, 1, 2, 3, 4}),
                           Frame(8, {0, 0x81, 0, 0, 0, 0, 0}),
                           Frame(9, {0}),
                           Frame(9, {0, 1, 0}),
                           Frame(10, {0})};
    for (const Bytes &request : wrong) {
        const Decoded a = Ask(request);
        EXPECT_EQ(a.command, request[1]);
        EXPECT_EQ(a.data, Bytes{4});
    }
    EXPECT_EQ(gen.State().mode, 0);
    EXPECT_TRUE(gen.ParamWrites().empty());
}

TEST_F(GeneratorTest, UnknownCommandsAreRefusedAsInvalidPackets)
{
    for (std::uint8_t cmd : {0, 1, 4, 5, 11, 12, 127}) {
        const Decoded a = Ask(Frame(cmd, {0}));
        EXPECT_EQ(a.command, cmd);
        EXPECT_EQ(a.data, Bytes{1});
    }
}

TEST_F(GeneratorTest, ValuesWithoutBit7StayPendingUntilAWriteWithIt)
{
    ASSERT_EQ(Set(0, 0x01, 1000), 0);
    ASSERT_EQ(Set(1, 0x02, 900), 0);
    ASSERT_EQ(Set(2, 0x03, 500), 0);
    DeviceState s = gen.State();
    EXPECT_EQ(s.active, DeviceState::PowerOn().active);  // nothing in effect yet
    EXPECT_EQ(Get(0, 1), 1000);                          // reads give the value written
    EXPECT_EQ(Get(1, 2), 900);

    // Any write with bit 7 makes every written value take effect, even one of
    // another group.
    ASSERT_EQ(Set(3, 0x80, 5), 0);
    s = gen.State();
    EXPECT_EQ(s.active, s.outputs);
    EXPECT_EQ(s.active[0][1], 1000);
    EXPECT_EQ(s.active[1][2], 900);
    EXPECT_EQ(s.active[2][3], 500);

    ASSERT_EQ(Set(0, 0x81, 2000), 0);
    EXPECT_EQ(gen.State().active[0][1], 2000);
}

TEST_F(GeneratorTest, Bit6CountsOneBeepPerAcceptedWrite)
{
    ASSERT_EQ(Set(0, 0x41, 100), 0);
    ASSERT_EQ(Set(0, 0xC2, 100), 0);
    ASSERT_EQ(Set(0, 0x82, 100), 0);
    ASSERT_EQ(Set(4, 0x40, 3), 0);
    EXPECT_EQ(gen.State().beeps, 3);
    // bit 6 is no part of the parameter number and no part of applying
    EXPECT_EQ(gen.State().active[0][1], 100);
    EXPECT_EQ(gen.ParamWrites().front().number, 0x41);
}

TEST_F(GeneratorTest, PresetsStoreTheOutputsInEffectAndLoadThemBack)
{
    ASSERT_EQ(Set(0, 0x81, 123000), 0);
    ASSERT_EQ(Set(1, 0x83, 250), 0);
    ASSERT_EQ(Set(2, 0x02, 300), 0);  // pending: not part of what is stored
    ASSERT_EQ(Set(4, 0x40, 7), 0);
    DeviceState s = gen.State();
    EXPECT_EQ(s.presets[7][0][1], 123000);
    EXPECT_EQ(s.presets[7][1][3], 250);
    EXPECT_EQ(s.presets[7][2][2], 1200);
    EXPECT_EQ(s.presets[6], DeviceState::PowerOn().outputs);
    EXPECT_EQ(Get(4, 0), 7);

    // Loading slot 0 brings the power-on outputs back, in effect and read back.
    ASSERT_EQ(Set(4, 0x41, 0), 0);
    s = gen.State();
    EXPECT_EQ(s.outputs, DeviceState::PowerOn().outputs);
    EXPECT_EQ(s.active, s.outputs);
    EXPECT_EQ(Get(0, 1), 50000);

    ASSERT_EQ(Set(4, 0x01, 7), 0);
    EXPECT_EQ(Get(0, 1), 123000);
    EXPECT_EQ(Get(1, 3), 250);
    EXPECT_EQ(gen.State().active[1][3], 250);

    // A store with bit 7 applies the pending values first.
    ASSERT_EQ(Set(2, 0x02, 300), 0);
    ASSERT_EQ(Set(4, 0x80, 2), 0);
    EXPECT_EQ(gen.State().presets[2][2][2], 300);
}

TEST_F(GeneratorTest, CalibrationIsStoredOnlyByItsStoreCommand)
{
    ASSERT_EQ(Set(3, 0x81, -12), 0);
    ASSERT_EQ(Set(3, 0x80, 34), 0);
    DeviceState s = gen.State();
    EXPECT_EQ(s.calibration, (std::array<std::int32_t, 4>{34, -12, 0, 0}));
    EXPECT_EQ(s.storedCalibration, (std::array<std::int32_t, 4>{}));
    ASSERT_EQ(Set(3, 0x44, 0), 0);
    s = gen.State();
    EXPECT_EQ(s.storedCalibration, s.calibration);
    ASSERT_EQ(Set(3, 0x81, 5), 0);
    EXPECT_EQ(gen.State().storedCalibration[1], -12);
    EXPECT_EQ(Get(3, 1), 5);

    ASSERT_EQ(Set(4, 0x03, 0), 0);
    ASSERT_EQ(Set(4, 0x43, 0), 0);
    EXPECT_EQ(gen.State().settingsConfirmed, 2);
}

TEST_F(GeneratorTest, SelectedParameterFollowsHostWritesAndKnobs)
{
    auto selected = [&] {
        const Decoded a = Ask(Frame(10));
        EXPECT_EQ(a.data.size(), 7u);
        EXPECT_EQ(a.error(), 0);
        return std::tuple{int(a.data.at(1)), int(a.data.at(2)), FromLe32(a.data, 3)};
    };
    ASSERT_EQ(Set(1, 0xC2, -450), 0);
    EXPECT_EQ(selected(), std::tuple(1, 2, -450));

    // Commands select nothing.
    ASSERT_EQ(Set(4, 0x40, 3), 0);
    ASSERT_EQ(Set(3, 0x04, 0), 0);
    EXPECT_EQ(selected(), std::tuple(1, 2, -450));

    EXPECT_TRUE(gen.TurnKnob(2, 1, 1234567));
    EXPECT_EQ(selected(), std::tuple(2, 1, 1234567));
    EXPECT_EQ(gen.State().active[2][1], 1234567);

    // Knobs stop at the ends of their ranges.
    EXPECT_TRUE(gen.TurnKnob(0, 3, 5000));
    EXPECT_EQ(selected(), std::tuple(0, 3, 1000));
    EXPECT_TRUE(gen.TurnKnob(3, 2, -5000));
    EXPECT_EQ(selected(), std::tuple(3, 2, -999));
    EXPECT_TRUE(gen.TurnKnob(4, 2, 200));
    EXPECT_EQ(selected(), std::tuple(4, 2, 127));
    EXPECT_FALSE(gen.TurnKnob(4, 0, 1));
    EXPECT_FALSE(gen.TurnKnob(0, 4, 1));
    EXPECT_EQ(selected(), std::tuple(4, 2, 127));

    // The selected value is the parameter's present value.
    ASSERT_EQ(Set(4, 0x02, 60), 0);
    ASSERT_EQ(Set(0, 0x03, 10), 0);
    EXPECT_EQ(selected(), std::tuple(0, 3, 10));
    ASSERT_EQ(Set(4, 0x41, 0), 0);
    EXPECT_EQ(selected(), std::tuple(0, 3, 1000));
}

TEST_F(GeneratorTest, DamagedFramesAreAnsweredAsInvalidPackets)
{
    const Bytes damaged[] = {
        {0xC0, 0x07, 0x00, 0xD1},              // wrong CRC
        {0xC0, 0x09, 0x02, 0x00, 0x01, 0x5D},  // wrong CRC
        {0xC0, 0x07, 0xDB, 0x00},              // FESC followed by 0x00
        {0xC0, 0x07, 0x00, 0xDB, 0xC1},        // FESC followed by 0xC1
        {0xC0, 0x85, 0x83},                    // command with bit 7 after an address
    };
    for (const Bytes &wire : damaged) {
        const Decoded a = Ask(wire);
        EXPECT_EQ(a.command, 1);
        EXPECT_EQ(a.data, Bytes{1});
    }
    const auto log = gen.FrameLog();
    ASSERT_EQ(log.size(), std::size(damaged));
    for (std::size_t i = 0; i < log.size(); ++i) {
        EXPECT_FALSE(log[i].valid);
        EXPECT_EQ(log[i].raw, damaged[i]);
    }
    // The device is back in step right away.
    EXPECT_EQ(Ask(Frame(7)).data, (Bytes{0, 0}));
}

TEST_F(GeneratorTest, LogsEachFrameRawAndDecoded)
{
    const Bytes request = EncodeFrame(8, {0x03, 0xC0, 0x64, 0, 0, 0}, 0x40);
    Send(request);
    const auto log = gen.FrameLog();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_TRUE(log[0].valid);
    EXPECT_EQ(log[0].raw, request);
    EXPECT_EQ(log[0].address, 0x40);
    EXPECT_EQ(log[0].command, 8);
    EXPECT_EQ(log[0].data, (Bytes{0x03, 0xC0, 0x64, 0, 0, 0}));
    gen.ClearLog();
    EXPECT_TRUE(gen.FrameLog().empty());
    EXPECT_TRUE(gen.ParamWrites().empty());
}

TEST_F(GeneratorTest, ReassemblesFramesAcrossAndWithinWrites)
{
    const Bytes request = SetPar(0, 0x81, 777);
    for (std::size_t cut = 1; cut < request.size(); ++cut) {
        EXPECT_TRUE(Send(Bytes(request.begin(), request.begin() + cut)).empty()) << cut;
        const auto a = DecodeOnly(Send(Bytes(request.begin() + cut, request.end())));
        ASSERT_TRUE(a.has_value()) << cut;
        EXPECT_EQ(a->data, Bytes{0});
    }
    EXPECT_EQ(gen.ParamWrites().size(), request.size() - 1);

    // Two requests and some line noise in one write: two answers in order.
    Bytes both{0x00, 0x55};
    for (const Bytes &r : {Frame(7), GetPar(0, 1)}) {
        both.insert(both.end(), r.begin(), r.end());
    }
    const Bytes wire = Send(both);
    std::size_t at = 0;
    const auto first = DecodeAt(wire, at);
    const auto second = DecodeAt(wire, at);
    ASSERT_TRUE(first && second);
    EXPECT_EQ(at, wire.size());
    EXPECT_EQ(first->command, 7);
    EXPECT_EQ(second->command, 9);
    EXPECT_EQ(FromLe32(second->data, 1), 777);
}

TEST_F(GeneratorTest, ABareFendStartsTheFrameAgain)
{
    Bytes wire{0xC0, 0x08, 0x06, 0x00};  // a frame given up half-way
    const Bytes request = Frame(7);
    wire.insert(wire.end(), request.begin(), request.end());
    const Decoded a = Ask(wire);
    EXPECT_EQ(a.command, 7);
    const auto log = gen.FrameLog();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_FALSE(log[0].valid);
    EXPECT_TRUE(log[1].valid);
}

TEST_F(GeneratorTest, SilentDeviceLogsButNeitherActsNorAnswers)
{
    gen.SetSilent(true);
    EXPECT_TRUE(Send(SetPar(0, 0x81, 1)).empty());
    EXPECT_TRUE(Send(Frame(3)).empty());
    EXPECT_EQ(gen.FrameLog().size(), 2u);
    EXPECT_TRUE(gen.ParamWrites().empty());
    EXPECT_EQ(gen.State().outputs[0][1], 50000);
    gen.SetSilent(false);
    EXPECT_EQ(Ask(Frame(3)).data, Text("PX-418 virtual generator"));
}

TEST_F(GeneratorTest, OneShotAnswerFaults)
{
    // A corrupted answer fails its CRC; the next one is sound again.
    gen.CorruptNextAnswer();
    const Bytes bad = Send(Frame(7));
    ASSERT_EQ(bad.size(), 6u);
    EXPECT_FALSE(DecodeOnly(bad).has_value());
    EXPECT_EQ(Ask(Frame(7)).data, (Bytes{0, 0}));

    // Noise goes before the answer, once.
    const Bytes noise{0x01, 0xDB, 0x02};
    gen.PrefixNoise(noise);
    const Bytes noisy = Send(Frame(7));
    ASSERT_GT(noisy.size(), noise.size());
    EXPECT_EQ(Bytes(noisy.begin(), noisy.begin() + 3), noise);
    EXPECT_TRUE(DecodeOnly(Bytes(noisy.begin() + 3, noisy.end())).has_value());
    EXPECT_TRUE(DecodeOnly(Send(Frame(7))).has_value());

    // A replaced answer: the request is still carried out.
    gen.ReplaceNextAnswer({0xC0, 0x08, 0x01, 0x04});
    EXPECT_EQ(Send(SetPar(0, 0x81, 4242)), (Bytes{0xC0, 0x08, 0x01, 0x04}));
    EXPECT_EQ(gen.State().active[0][1], 4242);
    gen.ReplaceNextAnswer({});
    EXPECT_TRUE(Send(Frame(7)).empty());
    EXPECT_TRUE(DecodeOnly(Send(Frame(7))).has_value());
}

TEST_F(GeneratorTest, UnpluggedDeviceHearsNothing)
{
    Send({0xC0, 0x07});  // half a frame, lost with the link
    gen.SetPlugged(false);
    EXPECT_FALSE(gen.Plugged());
    EXPECT_EQ(gen.Connection(), 0u);
    EXPECT_TRUE(Send(Frame(7)).empty());
    gen.SetPlugged(true);
    EXPECT_NE(gen.Connection(), 0u);
    EXPECT_EQ(Ask(Frame(7)).data, (Bytes{0, 0}));
}

TEST_F(GeneratorTest, ResetRestoresPowerOnAndClearsFaults)
{
    ASSERT_EQ(Set(0, 0x81, 1), 0);
    Send(Frame(6, {1}));
    gen.SetSilent(true);
    gen.CorruptNextAnswer();
    gen.PrefixNoise({1, 2, 3});
    Send({0xC0, 0x07});
    gen.Reset();
    const DeviceState s = gen.State();
    EXPECT_EQ(s.outputs, DeviceState::PowerOn().outputs);
    EXPECT_EQ(s.mode, 0);
    EXPECT_TRUE(gen.FrameLog().empty());
    EXPECT_EQ(Send(Frame(7)), (Bytes{0xC0, 0x07, 0x02, 0x00, 0x00, Crc({0xC0, 7, 2, 0, 0})}));
}

TEST_F(GeneratorTest, SetStateIsWhatTheDeviceAnswers)
{
    DeviceState s = DeviceState::PowerOn();
    s.outputs[1][1] = 2999999;
    s.mode = 1;
    s.selectedGroup = 1;
    s.selectedNumber = 1;
    gen.SetState(s);
    EXPECT_EQ(Get(1, 1), 2999999);
    EXPECT_EQ(Ask(Frame(7)).data, (Bytes{0, 1}));
    EXPECT_EQ(FromLe32(Ask(Frame(10)).data, 3), 2999999);
}

TEST_F(GeneratorTest, ConcurrentHostsAndObserversAreSerialised)
{
    constexpr int kThreads = 4;
    constexpr int kWrites = 200;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kWrites; ++i) {
                const Bytes r = SetPar(std::uint8_t(t % 3), 0x81, i);
                const auto a = DecodeOnly(gen.Receive(r.data(), r.size()));
                if (!a || a->data != Bytes{0}) {
                    ADD_FAILURE() << "thread " << t << " write " << i;
                }
            }
        });
    }
    threads.emplace_back([&] {
        for (int i = 0; i < kWrites; ++i) {
            (void)gen.State();
            (void)gen.FrameLog();
        }
    });
    for (auto &th : threads) {
        th.join();
    }
    EXPECT_EQ(gen.ParamWrites().size(), std::size_t{kThreads * kWrites});
}

}  // namespace
