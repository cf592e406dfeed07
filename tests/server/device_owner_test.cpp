// The generator as the server holds it: found, polled, lost and found
// again, and the device thread that runs the jobs in order.
#include "device_owner.h"

#include <future>
#include <mutex>
#include <vector>

#include <gtest/gtest.h>

#include "d2xx.h"
#include "px418usb.h"
#include "virtual/virtual_generator.h"

using px418virtual::TheVirtualGenerator;

namespace {

class Lines {
public:
    LogFn Sink()
    {
        return [this](const std::string &line) {
            const std::lock_guard lock(mutex_);
            lines_.push_back(line);
        };
    }
    std::vector<std::string> Taken()
    {
        const std::lock_guard lock(mutex_);
        return lines_;
    }

private:
    std::mutex mutex_;
    std::vector<std::string> lines_;
};

// Asks until a job sees the generator open.
void WaitOnline(DeviceOwner &owner)
{
    for (;;) {
        std::promise<bool> online;
        owner.Post([&online](bool on) {
            online.set_value(on);
            return false;
        });
        if (online.get_future().get()) {
            return;
        }
    }
}

}  // namespace

class DeviceOwnerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        D2xxInstall(D2xxVirtualProvider());
        px418virtual::ResetVirtualConverter();
        TheVirtualGenerator().Reset();
    }
    void TearDown() override { D2xxInstall(nullptr); }

    Lines log_;
};

TEST_F(DeviceOwnerTest, TheLinkFindsLosesAndFindsTheGeneratorAgain)
{
    TheVirtualGenerator().SetPlugged(false);
    DeviceLink link(log_.Sink());
    link.Tick();
    link.Tick();
    EXPECT_FALSE(link.Online());

    TheVirtualGenerator().SetPlugged(true);
    link.Tick();
    EXPECT_TRUE(link.Online());
    TheVirtualGenerator().ClearLog();
    link.Tick();  // a poll of the mode, nothing else
    ASSERT_EQ(TheVirtualGenerator().FrameLog().size(), 1u);
    EXPECT_EQ(TheVirtualGenerator().FrameLog()[0].command, PX418_CMD_GET_MODE);

    TheVirtualGenerator().SetPlugged(false);
    link.Tick();
    EXPECT_FALSE(link.Online());
    TheVirtualGenerator().SetPlugged(true);
    link.Tick();
    EXPECT_TRUE(link.Online());

    const std::vector<std::string> lines = log_.Taken();
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0], "searching for a generator");
    EXPECT_EQ(lines[1], "generator found: PX-418 virtual generator");
    EXPECT_EQ(lines[2].rfind("generator lost: ", 0), 0u) << lines[2];
    EXPECT_EQ(lines[3], "generator found: PX-418 virtual generator");
}

TEST_F(DeviceOwnerTest, JobsRunInOrderAndAFailedOneHasTheGeneratorPolledAtOnce)
{
    DeviceOwner owner(log_.Sink(), std::chrono::milliseconds(1));
    WaitOnline(owner);

    std::vector<int> order;
    std::promise<bool> afterFailure;
    owner.Post([&order](bool) {
        order.push_back(1);
        TheVirtualGenerator().SetPlugged(false);
        return true;  // as a session whose device call failed
    });
    owner.Post([&order, &afterFailure](bool on) {
        order.push_back(2);
        afterFailure.set_value(on);
        return false;
    });
    EXPECT_FALSE(afterFailure.get_future().get());
    EXPECT_EQ(order, (std::vector<int>{1, 2}));

    owner.Stop();
    bool ran = false;
    owner.Post([&ran](bool) {
        ran = true;
        return false;
    });
    EXPECT_FALSE(ran);
}

TEST_F(DeviceOwnerTest, StoppingClosesTheDevice)
{
    {
        DeviceOwner owner(log_.Sink(), std::chrono::milliseconds(1));
        WaitOnline(owner);
    }
    // Closed: the library answers without a device, and the generator sees
    // nothing of it.
    TheVirtualGenerator().ClearLog();
    std::int32_t mode = 0;
    EXPECT_TRUE(PX418_GetMode(&mode));
    EXPECT_TRUE(TheVirtualGenerator().FrameLog().empty());
}
