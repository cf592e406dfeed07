// Emulated converters with a generator, a foreign device or silence behind
// them, for tests of the default converter driver (libftdi1 on the emulated
// libusb) through the library's exports and through the program.
#pragma once

#include <cstring>
#include <dlfcn.h>
#include <string>

#include <libusb.h>

#include "px418_protocol.h"
#include "usbemu.h"
#include "virtual/virtual_generator.h"
#include "wake_oracle.h"

namespace emulated {

// Where the libusb_init that this process (and so libftdi1) calls comes
// from; the emulation's folder is "usbemu/lib".
inline std::string LibusbInUse()
{
    Dl_info info{};
    void *init = dlsym(RTLD_DEFAULT, "libusb_init");
    if (init == nullptr || dladdr(init, &info) == 0 || info.dli_fname == nullptr) {
        return "<none>";
    }
    return info.dli_fname;
}
inline bool EmulationInUse()
{
    return LibusbInUse().find("usbemu/lib/libusb-1.0.so") != std::string::npos;
}

// A converter at bus 1, port `port`, with this serial number.
inline usbemu::ConverterSetup At(std::uint8_t port, const std::string &serial = "")
{
    usbemu::ConverterSetup setup;
    setup.ports = {port};
    setup.serial = serial.empty() ? "FT" + std::to_string(1000 + port) : serial;
    return setup;
}

// A converter with `generator` on its serial lines.
inline int AddGenerator(px418virtual::VirtualGenerator &generator,
                        const usbemu::ConverterSetup &setup)
{
    const int converter = usbemu::AddConverter(setup);
    usbemu::SetPeer(converter, [&generator](const std::uint8_t *bytes, std::size_t count) {
        return generator.Receive(bytes, count);
    });
    return converter;
}

// A converter with a device that answers every request with a well-formed
// info answer that names it (another identity).
inline int AddForeign(const usbemu::ConverterSetup &setup, const std::string &identity = "GPS-7")
{
    const int converter = usbemu::AddConverter(setup);
    usbemu::SetPeer(converter,
                    usbemu::Fixed(oracle::Frame(PX418_CMD_INFO, oracle::Text(identity))));
    return converter;
}

// Whether anything reached the converter since the log was cleared that
// another program using it would notice: its kernel driver detached, its
// interface claimed, a vendor request (reset, baud rate, purge ...), bytes
// sent. Reading its descriptors does not count.
inline bool Disturbed(int converter)
{
    for (const usbemu::Event &e : usbemu::Log(converter)) {
        switch (e.kind) {
        case usbemu::EventKind::DetachKernelDriver:
        case usbemu::EventKind::Claim:
        case usbemu::EventKind::BulkOut:
            return true;
        case usbemu::EventKind::Control:
            if ((e.requestType & 0x60) == 0x40) {  // vendor request
                return true;
            }
            break;
        default:
            break;
        }
    }
    return false;
}

}  // namespace emulated
