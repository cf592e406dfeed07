// The whole default path through the library's exports: libpx418usb.so with
// its built-in libftdi1 driver (PX418USB_DRIVER unset), on libftdi1, on the
// emulated libusb, with generators, foreign devices and silent converters
// on the emulated bus.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "emulated_bus.h"
#include "px418usb.h"

namespace {

using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;
using px418virtual::VirtualGenerator;

std::string LastError()
{
    const char *text = nullptr;
    PX418_GetLastError(&text);
    return text != nullptr ? text : "<null>";
}

double MsSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

class EmulatedPathTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        unsetenv("PX418USB_DRIVER");
        ASSERT_TRUE(emulated::EmulationInUse()) << emulated::LibusbInUse();
        usbemu::Reset();
    }
    void TearDown() override
    {
        PX418_CloseDevice();
        usbemu::Reset();
    }

    VirtualGenerator generator;
};

// The generator's converter among others: a device with another identity,
// a silent converter and a loop-back plug (which answers the info request
// with the request itself: a frame without the identity).
class EmulatedSearchTest : public EmulatedPathTest, public ::testing::WithParamInterface<int> {};

TEST_P(EmulatedSearchTest, FindsTheGeneratorAtAnyIndex)
{
    const int at = GetParam();
    std::vector<int> others;
    for (int i = 0, other = 0; i < 4; ++i) {
        const auto setup = emulated::At(static_cast<std::uint8_t>(i + 1));
        if (i == at) {
            emulated::AddGenerator(generator, setup);
            continue;
        }
        switch (other++) {
        case 0:
            others.push_back(emulated::AddForeign(setup));
            break;
        case 1:
            others.push_back(usbemu::AddConverter(setup));
            break;
        default:
            others.push_back(usbemu::AddConverter(setup));
            usbemu::SetPeer(others.back(), usbemu::Echo());
            break;
        }
    }

    ASSERT_TRUE(PX418_OpenDevice()) << LastError();
    EXPECT_TRUE(usbemu::State(at).claimed);
    EXPECT_EQ(usbemu::State(at).line.baud, 38400);
    EXPECT_EQ(usbemu::State(at).line.latencyMs, 2);
    // The converters before it were probed and handed back to their kernel
    // driver; those after it were not touched.
    for (int other : others) {
        const usbemu::ConverterState state = usbemu::State(other);
        EXPECT_FALSE(state.claimed) << other;
        EXPECT_EQ(state.openHandles, 0) << other;
        EXPECT_TRUE(state.kernelDriverActive) << other;
        EXPECT_EQ(emulated::Disturbed(other), other < at) << other;
    }

    ASSERT_TRUE(PX418_SetPar(0, 0x81, 1500)) << LastError();
    std::int32_t value = 0;
    ASSERT_TRUE(PX418_GetPar(0, 1, &value));
    EXPECT_EQ(value, 1500);
    const auto writes = generator.ParamWrites();
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes[0].number, 0x81);
    EXPECT_EQ(writes[0].value, 1500);
}

INSTANTIATE_TEST_SUITE_P(Index, EmulatedSearchTest, ::testing::Values(0, 1, 2, 3));

TEST_F(EmulatedPathTest, ASetParExchangeTakesItsWireTimeAndTheLatency)
{
    emulated::AddGenerator(generator, emulated::At(1));
    ASSERT_TRUE(PX418_OpenDevice()) << LastError();

    std::vector<double> ms;
    for (int i = 0; i < 30; ++i) {
        const auto start = Clock::now();
        ASSERT_TRUE(PX418_SetPar(0, 0x81, 1000 + i)) << LastError();
        ms.push_back(MsSince(start));
    }
    std::sort(ms.begin(), ms.end());
    // C0 08 06 00 81 .. .. 00 00 crc out, C0 08 01 00 crc back: 15 bytes of
    // 10 bits at 38400 baud are 3.9 ms; the latency timer (2 ms) comes on
    // top, and the driver's and libusb's own time.
    std::printf("SetPar exchange over the emulated FT232R: best %.2f ms, median %.2f ms, "
                "worst %.2f ms\n",
                ms.front(), ms[ms.size() / 2], ms.back());
    EXPECT_GE(ms.front(), 3.9);
    EXPECT_LT(ms.front(), 30.0) << "the answer is not waited for by a timeout";
    EXPECT_EQ(generator.ParamWrites().size(), 30u);
}

// A converter that sends nothing while idle (the read ends by libusb's
// timeout). An answer is lost: that command fails, and the next ones get
// their own answers. What bringing the stream back in step costs on the
// wire is printed.
TEST_F(EmulatedPathTest, OnAQuietConverterALostAnswerCostsOneCommand)
{
    usbemu::ConverterSetup setup = emulated::At(1);
    setup.idleStatusPackets = false;
    const int converter = emulated::AddGenerator(generator, setup);
    ASSERT_TRUE(PX418_OpenDevice()) << LastError();
    std::int32_t value = 0;
    const auto getPhase = [&value](std::int32_t group) {
        value = -1;
        return PX418_GetPar(group, PX418_OUT_PHASE, &value);
    };
    ASSERT_TRUE(getPhase(PX418_GROUP_OUT_B));  // a plain exchange, for comparison
    usbemu::ClearLog();
    auto start = Clock::now();
    ASSERT_TRUE(getPhase(PX418_GROUP_OUT_B));
    const double plainMs = MsSince(start);
    const usbemu::Counters plain = usbemu::GetCounters(converter);

    generator.ReplaceNextAnswer({});
    EXPECT_FALSE(getPhase(PX418_GROUP_OUT_A));
    EXPECT_EQ(LastError(), "IO error: device not responding.");
    usbemu::ClearLog();
    start = Clock::now();
    EXPECT_TRUE(getPhase(PX418_GROUP_OUT_C)) << LastError();
    const double resyncMs = MsSince(start);
    EXPECT_EQ(value, 1200);
    const usbemu::Counters resync = usbemu::GetCounters(converter);
    EXPECT_EQ(resync.bulkOutBytes - plain.bulkOutBytes, 4u) << "get mode, C0 07 00 D0";
    EXPECT_EQ(resync.bulkInBytes - plain.bulkInBytes, 6u) << "its answer";
    std::printf("One resynchronisation on the emulated FT232R: %zu bytes out, %zu bytes in, "
                "%d control transfer(s) more; the command took %.2f ms, a plain one %.2f ms\n",
                resync.bulkOutBytes - plain.bulkOutBytes, resync.bulkInBytes - plain.bulkInBytes,
                resync.controlRequests - plain.controlRequests, resyncMs, plainMs);

    EXPECT_TRUE(getPhase(PX418_GROUP_OUT_A)) << LastError();
    EXPECT_EQ(value, 0);
}

TEST_F(EmulatedPathTest, UnplugMidExchangeFailsAndTheGeneratorIsFoundAgainWhenBack)
{
    const int converter = emulated::AddGenerator(generator, emulated::At(1));
    // The generator takes 30 ms to answer: the unplug comes while the
    // library waits for the answer.
    usbemu::SetPeer(
        converter,
        [this](const std::uint8_t *bytes, std::size_t count) {
            return generator.Receive(bytes, count);
        },
        milliseconds(30));
    ASSERT_TRUE(PX418_OpenDevice()) << LastError();

    std::thread unplug([converter] {
        std::this_thread::sleep_for(milliseconds(10));
        usbemu::Unplug(converter);
    });
    const bool ok = PX418_SetPar(0, 0x81, 2500);
    unplug.join();
    EXPECT_FALSE(ok);
    EXPECT_EQ(LastError(), "IO error: device not responding.");

    PX418_CloseDevice();
    EXPECT_FALSE(PX418_OpenDevice());
    usbemu::Plug(converter);
    ASSERT_TRUE(PX418_OpenDevice()) << LastError();
    EXPECT_TRUE(PX418_SetPar(0, 0x81, 2500)) << LastError();
    EXPECT_EQ(generator.State().outputs[0][1], 2500);
}

TEST_F(EmulatedPathTest, AConverterWithoutAccessGivesOneHint)
{
    const int refusing = usbemu::AddConverter(emulated::At(1));
    usbemu::RefuseOpen(refusing, LIBUSB_ERROR_ACCESS);
    emulated::AddGenerator(generator, emulated::At(2));

    ::testing::internal::CaptureStderr();
    ASSERT_TRUE(PX418_OpenDevice());
    PX418_CloseDevice();
    std::this_thread::sleep_for(milliseconds(1100));  // past the converter's retry interval
    ASSERT_TRUE(PX418_OpenDevice());
    PX418_CloseDevice();
    const std::string err = ::testing::internal::GetCapturedStderr();

    EXPECT_GE(usbemu::GetCounters(refusing).refusedOpens, 2) << "tried each time";
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
    EXPECT_NE(err.find("packaging/70-px418-ftdi.rules"), std::string::npos) << err;
}

TEST_F(EmulatedPathTest, WithoutAnyAccessTheSearchFailsWithOneHint)
{
    usbemu::RefuseOpen(usbemu::AddConverter(emulated::At(1)), LIBUSB_ERROR_ACCESS);
    ::testing::internal::CaptureStderr();
    for (int tick = 0; tick < 3; ++tick) {
        EXPECT_FALSE(PX418_OpenDevice());
    }
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
}

TEST_F(EmulatedPathTest, SerialNumberChoosesTheConverter)
{
    // Read when the driver starts, at the first search.
    setenv("PX418USB_SERIAL", "BENCH002", 1);
    VirtualGenerator other;
    const int first = emulated::AddGenerator(other, emulated::At(1, "BENCH001"));
    const int foreign = emulated::AddForeign(emulated::At(2, "GPS00001"));
    const int chosen = emulated::AddGenerator(generator, emulated::At(3, "BENCH002"));

    ASSERT_TRUE(PX418_OpenDevice()) << LastError();
    EXPECT_TRUE(usbemu::State(chosen).claimed);
    ASSERT_TRUE(PX418_SetPar(1, 0x81, 777));
    EXPECT_EQ(generator.ParamWrites().size(), 1u);
    EXPECT_TRUE(other.ParamWrites().empty());
    EXPECT_FALSE(emulated::Disturbed(first));
    EXPECT_FALSE(emulated::Disturbed(foreign));

    // Without it, the other generator is not taken instead.
    PX418_CloseDevice();
    usbemu::Unplug(chosen);
    EXPECT_FALSE(PX418_OpenDevice());
    EXPECT_FALSE(emulated::Disturbed(first));
    usbemu::Plug(chosen);
    EXPECT_TRUE(PX418_OpenDevice());
    unsetenv("PX418USB_SERIAL");
}

TEST_F(EmulatedPathTest, AChosenConverterThatCouldNotBeOpenedAtFirstIsFoundOnceItCan)
{
    // Plugged in before udev has given access to it: its serial number
    // cannot be read yet.
    setenv("PX418USB_SERIAL", "BENCH002", 1);
    const int converter = emulated::AddGenerator(generator, emulated::At(1, "BENCH002"));
    usbemu::RefuseOpen(converter, LIBUSB_ERROR_ACCESS);
    ::testing::internal::CaptureStderr();
    EXPECT_FALSE(PX418_OpenDevice());
    ::testing::internal::GetCapturedStderr();

    usbemu::RefuseOpen(converter, 0);
    bool found = false;
    for (const auto end = Clock::now() + std::chrono::seconds(3); !found && Clock::now() < end;) {
        std::this_thread::sleep_for(milliseconds(100));
        found = PX418_OpenDevice();
    }
    EXPECT_TRUE(found);
    unsetenv("PX418USB_SERIAL");
}

TEST_F(EmulatedPathTest, ASerialNumberThatNoConverterHasFindsNothing)
{
    setenv("PX418USB_SERIAL", "NOSUCH01", 1);
    const int converter = emulated::AddGenerator(generator, emulated::At(1));
    EXPECT_FALSE(PX418_OpenDevice());
    EXPECT_FALSE(emulated::Disturbed(converter));
    EXPECT_TRUE(generator.FrameLog().empty());
    unsetenv("PX418USB_SERIAL");
}

}  // namespace
