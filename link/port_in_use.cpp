// Whether a converter's serial port is held open, from sysfs and procfs.
#include "port_in_use.h"

#if defined(__linux__)
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <filesystem>
#include <string_view>
#include <system_error>

namespace fs = std::filesystem;

namespace {

bool AllDigits(std::string_view s)
{
    return !s.empty()
           && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// "<bus>-<p1>.<p2>...", the kernel's name of the USB device.
std::string DeviceName(std::uint8_t bus, const std::vector<std::uint8_t> &ports)
{
    std::string name = std::to_string(bus) + '-';
    for (std::size_t i = 0; i < ports.size(); ++i) {
        if (i != 0) {
            name += '.';
        }
        name += std::to_string(ports[i]);
    }
    return name;
}

// Adds the names of the entries of `dir` to `out`.
void AddEntries(const fs::path &dir, std::vector<std::string> &out)
{
    std::error_code ec;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        out.push_back(it->path().filename().string());
    }
}

}  // namespace

std::vector<std::string> KernelTtys(const std::string &sysRoot, std::uint8_t bus,
                                    const std::vector<std::uint8_t> &ports)
{
    std::vector<std::string> ttys;
    if (ports.empty()) {
        return ttys;  // a root hub has no serial port
    }
    // Interface 0 of any configuration: "<device>:<configuration>.0".
    const std::string prefix = DeviceName(bus, ports) + ':';
    std::error_code ec;
    const fs::path devices = fs::path(sysRoot) / "bus" / "usb" / "devices";
    for (fs::directory_iterator it(devices, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.rfind(prefix, 0) != 0 || name.size() < prefix.size() + 3
            || name.compare(name.size() - 2, 2, ".0") != 0
            || !AllDigits(name.substr(prefix.size(), name.size() - prefix.size() - 2))) {
            continue;
        }
        // A usb-serial driver (ftdi_sio) makes a port device named like its
        // tty, which holds tty/<name>; cdc-acm puts tty/<name> right under
        // the interface.
        std::vector<std::string> entries;
        AddEntries(it->path(), entries);
        for (const std::string &entry : entries) {
            if (entry.rfind("ttyUSB", 0) == 0) {
                ttys.push_back(entry);
            }
        }
        AddEntries(it->path() / "tty", ttys);
    }
    std::sort(ttys.begin(), ttys.end());
    ttys.erase(std::unique(ttys.begin(), ttys.end()), ttys.end());
    return ttys;
}

bool HeldOpen(const std::string &procRoot, const std::string &device)
{
#if defined(__linux__)
    // Plain directory and link calls: a desktop has thousands of open
    // files, and this runs before each probe of a converter with a tty.
    DIR *processes = opendir(procRoot.c_str());
    if (processes == nullptr) {
        return false;
    }
    bool held = false;
    while (!held) {
        const dirent *process = readdir(processes);
        if (process == nullptr) {
            break;
        }
        if (!AllDigits(process->d_name)) {
            continue;
        }
        // Another user's process: its open files cannot be listed.
        const std::string fdPath = std::string(process->d_name) + "/fd";
        const int fdDir =
            openat(dirfd(processes), fdPath.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fdDir < 0) {
            continue;
        }
        DIR *files = fdopendir(fdDir);
        if (files == nullptr) {
            close(fdDir);
            continue;
        }
        while (const dirent *file = readdir(files)) {
            char target[256];
            const ssize_t length = readlinkat(fdDir, file->d_name, target, sizeof target);
            if (length == static_cast<ssize_t>(device.size())
                && device.compare(0, device.size(), target, device.size()) == 0) {
                held = true;
                break;
            }
        }
        closedir(files);
    }
    closedir(processes);
    return held;
#else
    (void)procRoot;
    (void)device;
    return false;
#endif
}

bool SerialPortInUse(const std::string &sysRoot, const std::string &procRoot, std::uint8_t bus,
                     const std::vector<std::uint8_t> &ports)
{
    for (const std::string &tty : KernelTtys(sysRoot, bus, ports)) {
        if (HeldOpen(procRoot, "/dev/" + tty)) {
            return true;
        }
    }
    return false;
}
