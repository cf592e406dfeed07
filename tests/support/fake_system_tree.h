// A fake sysfs and procfs in a temporary folder, for the libftdi1 driver's
// check of whether another program holds a converter's tty open: the tty
// that the kernel's serial driver made for a converter at a bus location,
// and processes whose open files include it.
#pragma once

#include <cstdint>
#include <filesystem>
#include <stdlib.h>
#include <string>
#include <system_error>
#include <vector>

class FakeSystemTree {
public:
    FakeSystemTree()
    {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "px418-fake-system-XXXXXX").string();
        if (mkdtemp(pattern.data()) != nullptr) {
            root_ = pattern;
        }
        std::filesystem::create_directories(Sys() + "/bus/usb/devices");
        std::filesystem::create_directories(Proc());
    }
    ~FakeSystemTree()
    {
        std::error_code ec;
        if (!root_.empty()) {
            std::filesystem::remove_all(root_, ec);
        }
    }
    FakeSystemTree(const FakeSystemTree &) = delete;
    FakeSystemTree &operator=(const FakeSystemTree &) = delete;

    std::string Sys() const { return root_ + "/sys"; }
    std::string Proc() const { return root_ + "/proc"; }

    // ftdi_sio bound to interface 0 of the device at bus-ports, with its
    // tty, laid out as the kernel does it.
    void AddTty(std::uint8_t bus, const std::vector<std::uint8_t> &ports, const std::string &tty,
                int configuration = 1, int interface = 0)
    {
        std::string name = std::to_string(bus) + "-";
        for (std::size_t i = 0; i < ports.size(); ++i) {
            name += (i != 0 ? "." : "") + std::to_string(ports[i]);
        }
        name += ":" + std::to_string(configuration) + "." + std::to_string(interface);
        std::filesystem::create_directories(Sys() + "/bus/usb/devices/" + name + "/" + tty + "/tty/"
                                            + tty);
    }
    void RemoveTtys() { std::filesystem::remove_all(Sys() + "/bus/usb/devices"); }

    // Process `pid` holds `file` open as descriptor `fd`.
    void HoldOpen(int pid, const std::string &file, int fd = 3)
    {
        const std::string dir = Proc() + "/" + std::to_string(pid) + "/fd";
        std::filesystem::create_directories(dir);
        std::filesystem::create_symlink(file, dir + "/" + std::to_string(fd));
    }
    void EndProcess(int pid) { std::filesystem::remove_all(Proc() + "/" + std::to_string(pid)); }

private:
    std::string root_;
};
