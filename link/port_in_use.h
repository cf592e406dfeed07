// Whether another program holds a converter's serial port open, told from
// the kernel's view of the system: its sysfs tree (the tty that the kernel's
// serial driver made for the converter) and its procfs tree (the programs'
// open files). Both roots are parameters so that tests can use a fake tree.
//
// Only the open files of processes that this user may inspect are seen (all
// of them for root). Without such trees (another system) nothing is in use.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The ttys (for instance "ttyUSB0") that a kernel serial driver made for
// interface 0 of the USB device at `bus` and the hub port path `ports`, as
// sysfs shows it under <sysRoot>/bus/usb/devices/<bus>-<p1>.<p2>...:<c>.0.
// Empty when no kernel serial driver is bound to it.
std::vector<std::string> KernelTtys(const std::string &sysRoot, std::uint8_t bus,
                                    const std::vector<std::uint8_t> &ports);

// Whether some process has `device` (for instance "/dev/ttyUSB0") among its
// open files, <procRoot>/<pid>/fd/*.
bool HeldOpen(const std::string &procRoot, const std::string &device);

// Whether one of the converter's ttys is held open.
bool SerialPortInUse(const std::string &sysRoot, const std::string &procRoot, std::uint8_t bus,
                     const std::vector<std::uint8_t> &ports);
