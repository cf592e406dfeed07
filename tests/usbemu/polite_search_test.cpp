// The off-line search of the default converter driver leaves the other
// devices on the bus alone: ticks of the program's timer (one
// PX418_OpenDevice each, 100 ms apart) against emulated converters, with a
// fake sysfs and procfs that tell which converter's tty a program holds.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "d2xx.h"
#include "emulated_bus.h"
#include "fake_system_tree.h"
#include "px418usb.h"

namespace {

using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;
using px418virtual::VirtualGenerator;

class PoliteSearchTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(emulated::EmulationInUse()) << emulated::LibusbInUse();
        usbemu::Reset();
        D2xxLibftdiSetSystemRoots(system.Sys().c_str(), system.Proc().c_str());
    }
    void TearDown() override
    {
        PX418_CloseDevice();
        usbemu::Reset();
    }

    // One tick of the off-line program: a search, then the timer's 100 ms.
    // True when it found the generator (left open).
    bool Tick()
    {
        const bool found = PX418_OpenDevice();
        std::this_thread::sleep_for(milliseconds(100));
        return found;
    }
    // Ticks for `ms`; the number of ticks that found the generator.
    int TickFor(int ms)
    {
        int found = 0;
        for (const auto end = Clock::now() + milliseconds(ms); Clock::now() < end;) {
            if (Tick()) {
                ++found;
                PX418_CloseDevice();
            }
        }
        return found;
    }

    // How often the search opened the converter (libftdi1 detaches its
    // kernel driver and resets it each time).
    static int Probes(int converter) { return usbemu::GetCounters(converter).resets; }

    FakeSystemTree system;
    VirtualGenerator generator;
};

TEST_F(PoliteSearchTest, AConverterWhoseTtyAProgramHoldsIsNeverTouched)
{
    // A terminal program has the first converter's ttyUSB0 open.
    const int busy = usbemu::AddConverter(emulated::At(1));
    usbemu::SetKernelDriver(busy, true, true);
    system.AddTty(1, {1}, "ttyUSB0");
    system.HoldOpen(4321, "/dev/ttyUSB0");
    const int generatorAt = emulated::AddGenerator(generator, emulated::At(2));

    EXPECT_TRUE(Tick()) << "the generator behind it is found";
    PX418_CloseDevice();
    usbemu::Unplug(generatorAt);
    EXPECT_EQ(TickFor(1500), 0);
    EXPECT_FALSE(emulated::Disturbed(busy));
    EXPECT_EQ(usbemu::GetCounters(busy).busyDetaches, 0);
    EXPECT_TRUE(usbemu::State(busy).busy);

    // Once the program has closed it, the converter is probed again within a
    // few seconds (it is silent: no generator behind it).
    system.EndProcess(4321);
    usbemu::SetKernelDriver(busy, true, false);
    for (const auto end = Clock::now() + std::chrono::seconds(8);
         Probes(busy) == 0 && Clock::now() < end;) {
        Tick();
    }
    EXPECT_EQ(Probes(busy), 1);
    EXPECT_TRUE(usbemu::State(busy).kernelDriverActive) << "given back to the kernel";
}

// The same with libusb's hot-plug events and, as on platforms without them,
// with a comparison of the device list at each search.
class PoliteSearchOnEveryPlatformTest : public PoliteSearchTest,
                                        public ::testing::WithParamInterface<bool> {
protected:
    void SetUp() override
    {
        PoliteSearchTest::SetUp();
        usbemu::SetHotplugSupported(GetParam());  // before the driver's first use
    }
};

INSTANTIATE_TEST_SUITE_P(Hotplug, PoliteSearchOnEveryPlatformTest, ::testing::Bool());

TEST_P(PoliteSearchOnEveryPlatformTest, AForeignDeviceIsProbedOnceUntilItIsPluggedInAgain)
{
    const int foreign = emulated::AddForeign(emulated::At(1));
    EXPECT_EQ(TickFor(1500), 0);
    EXPECT_EQ(Probes(foreign), 1);
    EXPECT_EQ(usbemu::GetCounters(foreign).bulkOutTransfers, 1) << "one info request";

    // Another converter plugged in is probed at the next tick; the foreign
    // one keeps its peace though the indices changed.
    const int generatorAt = emulated::AddGenerator(generator, emulated::At(2));
    EXPECT_TRUE(Tick());
    PX418_CloseDevice();
    EXPECT_EQ(Probes(generatorAt), 1);
    EXPECT_EQ(Probes(foreign), 1);

    usbemu::Unplug(generatorAt);
    usbemu::Unplug(foreign);
    usbemu::Plug(foreign);
    EXPECT_EQ(TickFor(300), 0);
    EXPECT_EQ(Probes(foreign), 2) << "plugged in again: probed once more";
}

// An instrument that prints its readings, and never a Wake frame, behind a
// converter: asked once, by a probe that ends within its bound, and then
// left alone; no search waits for it.
TEST_F(PoliteSearchTest, AConverterThatTalksWithoutFramesIsProbedOnce)
{
    const int talker = usbemu::AddConverter(emulated::At(1));
    std::atomic<bool> talking{true};
    std::thread instrument([&] {
        const std::string reading = "+23.517 mV\r\n";
        while (talking) {
            usbemu::PeerSend(talker, usbemu::Bytes(reading.begin(), reading.end()));
            std::this_thread::sleep_for(milliseconds(20));
        }
    });
    double longest = 0;
    for (int search = 0; search < 10; ++search) {
        const auto start = Clock::now();
        EXPECT_FALSE(PX418_OpenDevice());
        longest = std::max(longest,
                           std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        std::this_thread::sleep_for(milliseconds(150));  // past a silent one's retry, in all
    }
    talking = false;
    instrument.join();
    std::printf("Ten searches over a talking converter: the longest took %.1f ms\n", longest);
    EXPECT_EQ(Probes(talker), 1);
    EXPECT_EQ(usbemu::GetCounters(talker).bulkOutTransfers, 1) << "one info request";
    EXPECT_LT(longest, 250.0) << "a probe ends after 150 ms";
}

TEST_F(PoliteSearchTest, ASilentConverterIsProbedAboutOnceASecond)
{
    const int silent = usbemu::AddConverter(emulated::At(1));
    EXPECT_EQ(TickFor(3000), 0);
    // About 30 ticks; one probe at the start and about one a second.
    EXPECT_GE(Probes(silent), 2);
    EXPECT_LE(Probes(silent), 5);
    EXPECT_TRUE(usbemu::State(silent).kernelDriverActive);
}

TEST_F(PoliteSearchTest, AGeneratorSwitchedOnLaterIsFoundWithinAboutASecond)
{
    generator.SetSilent(true);  // switched off behind its converter
    emulated::AddGenerator(generator, emulated::At(1));
    EXPECT_EQ(TickFor(1500), 0);

    generator.SetSilent(false);
    const auto on = Clock::now();
    bool found = false;
    while (!found && Clock::now() - on < std::chrono::seconds(5)) {
        found = Tick();
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - on).count();
    EXPECT_TRUE(found);
    EXPECT_LT(seconds, 2.5);
}

TEST_P(PoliteSearchOnEveryPlatformTest, TicksOnAnUnchangedBusMakeNoUsbTraffic)
{
    emulated::AddForeign(emulated::At(1));
    const int busy = usbemu::AddConverter(emulated::At(2));
    usbemu::SetKernelDriver(busy, true, true);
    system.AddTty(1, {2}, "ttyUSB1");
    system.HoldOpen(99, "/dev/ttyUSB1");
    TickFor(300);

    usbemu::ClearLog();
    TickFor(1500);
    EXPECT_TRUE(usbemu::Log().empty()) << usbemu::EventName(usbemu::Log().front().kind);
}

}  // namespace
