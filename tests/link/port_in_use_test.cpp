// Whether another program holds a converter's serial port open, read from a
// fake sysfs and procfs.
#include "port_in_use.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "fake_system_tree.h"

namespace {

using Ports = std::vector<std::uint8_t>;

TEST(PortInUseTest, FindsTheTtyOfInterfaceZeroAtTheLocation)
{
    FakeSystemTree tree;
    tree.AddTty(1, {4}, "ttyUSB0");
    tree.AddTty(1, {1, 4}, "ttyUSB1");
    tree.AddTty(2, {4}, "ttyUSB2", 2);     // its second configuration
    tree.AddTty(3, {1}, "ttyUSB3", 1, 1);  // interface 1 of an FT2232: not the one opened
    tree.AddTty(3, {1}, "ttyUSB4");
    std::filesystem::create_directories(tree.Sys() + "/bus/usb/devices/1-2:1.0");  // no driver
    std::filesystem::create_directories(tree.Sys() + "/bus/usb/devices/1-3:1.0/tty/ttyACM0");

    const struct {
        std::uint8_t bus;
        Ports ports;
        std::vector<std::string> ttys;
    } cases[] = {
        {1, {4}, {"ttyUSB0"}}, {1, {1, 4}, {"ttyUSB1"}},
        {2, {4}, {"ttyUSB2"}}, {3, {1}, {"ttyUSB4"}},
        {1, {2}, {}},          {1, {3}, {"ttyACM0"}},
        {1, {1}, {}},          {4, {4}, {}},
        {1, {}, {}},           {1, {4, 1}, {}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << int(c.bus) << " " << c.ports.size());
        EXPECT_EQ(KernelTtys(tree.Sys(), c.bus, c.ports), c.ttys);
    }
    EXPECT_TRUE(KernelTtys(tree.Sys() + "/missing", 1, {4}).empty());
}

TEST(PortInUseTest, HeldOpenByAnyProcess)
{
    FakeSystemTree tree;
    tree.HoldOpen(100, "/dev/pts/3", 0);
    tree.HoldOpen(100, "/dev/null", 1);
    tree.HoldOpen(2345, "/dev/pts/3", 0);
    tree.HoldOpen(2345, "/dev/ttyUSB1", 7);
    // Not processes: entries that are not process ids.
    std::filesystem::create_directories(tree.Proc() + "/self/fd");
    std::filesystem::create_symlink("/dev/ttyUSB5", tree.Proc() + "/self/fd/3");
    std::filesystem::create_directories(tree.Proc() + "/77");  // its fd cannot be listed

    EXPECT_TRUE(HeldOpen(tree.Proc(), "/dev/ttyUSB1"));
    EXPECT_FALSE(HeldOpen(tree.Proc(), "/dev/ttyUSB0"));
    EXPECT_FALSE(HeldOpen(tree.Proc(), "/dev/ttyUSB5"));
    EXPECT_FALSE(HeldOpen(tree.Proc(), "/dev/ttyUSB"));
    EXPECT_FALSE(HeldOpen(tree.Proc() + "/missing", "/dev/ttyUSB1"));
    tree.EndProcess(2345);
    EXPECT_FALSE(HeldOpen(tree.Proc(), "/dev/ttyUSB1"));
}

TEST(PortInUseTest, InUseOnlyWhenItsOwnTtyIsHeld)
{
    FakeSystemTree tree;
    tree.AddTty(1, {2}, "ttyUSB0");
    tree.AddTty(1, {3}, "ttyUSB1");
    EXPECT_FALSE(SerialPortInUse(tree.Sys(), tree.Proc(), 1, {2}));
    tree.HoldOpen(500, "/dev/ttyUSB1");
    EXPECT_FALSE(SerialPortInUse(tree.Sys(), tree.Proc(), 1, {2}));
    EXPECT_TRUE(SerialPortInUse(tree.Sys(), tree.Proc(), 1, {3}));
    EXPECT_FALSE(SerialPortInUse(tree.Sys(), tree.Proc(), 1, {4})) << "no tty there";
}

}  // namespace
