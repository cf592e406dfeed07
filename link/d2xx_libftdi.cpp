// The D2XX calls implemented over libftdi1, for real FTDI converters.
//
// One long-lived libftdi context does all the enumeration: a context per
// count would start and stop libusb's hot-plug machinery and rescan the bus
// every time. Each opened converter gets a context of its own, which holds
// the device handle and libftdi's read buffer; an FT_HANDLE points to it.
//
// The other converters on the bus belong to other programs, and opening one
// with libftdi1 detaches the kernel's serial driver from it (taking the tty
// from a program that holds it open), resets the chip and changes its baud
// rate. So the driver keeps what it learnt about each converter while it
// stays plugged in (known by its bus location and its USB address, which
// changes at every plug-in):
// - it never opens one whose tty another program holds open (and looks
//   again every few seconds);
// - it does not open one again that answered with anything but a
//   generator's identity;
// - it opens one that stayed silent, or could not be opened, at most once a
//   second;
// and it enumerates the bus again only when libusb reports a device arriving
// or leaving (or, without hot-plug support, when the device list differs
// from the last one), so that an off-line search on an unchanged bus makes
// no USB traffic but the slow retries. PX418USB_SERIAL restricts the driver
// to the converter with that serial number.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <sys/time.h>
#include <vector>

#include <ftdi.h>
#include <libusb.h>

#include "d2xx.h"
#include "port_in_use.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr DWORD kDefaultTimeoutMs = 200;
constexpr int kLibusbOpenFailed = -4;  // ftdi_usb_open_dev: libusb_open() failed
constexpr auto kRetryInterval = std::chrono::seconds(1);
// A converter whose tty another program holds is not ours to take, and
// finding that out means going through every program's open files: it is
// looked at again less often.
constexpr auto kInUseRetryInterval = std::chrono::seconds(5);
constexpr std::uint16_t kFtdiVendorId = 0x0403;
constexpr int kMaxPorts = 7;  // USB allows no deeper hub chain

// Where a converter is plugged in, as long as it stays plugged in.
struct Location {
    std::uint8_t bus = 0;
    std::uint8_t address = 0;
    std::vector<std::uint8_t> ports;
    bool operator==(const Location &) const = default;
};

enum class Verdict {
    Unknown,    // never opened
    Generator,  // the search found the generator behind it
    Foreign,    // sent something, but no generator's identity: never opened again
    Retry,      // silent or not openable: opened again after a while
    InUse,      // another program holds its tty: looked at again after a while
};

struct Converter {
    libusb_device *device = nullptr;  // one reference held while listed
    Location location;
    bool serialTried = false;
    Clock::time_point serialTriedAt;
    std::string serial;  // read only when PX418USB_SERIAL is set
    Verdict verdict = Verdict::Unknown;
    Clock::time_point since;
};

struct Port {
    ftdi_context *context = nullptr;
    DWORD readTimeoutMs = kDefaultTimeoutMs;
    Location location;
};

// The bus as the driver knows it; guarded by enumerationLock.
std::mutex enumerationLock;
ftdi_context *enumerationContext = nullptr;
bool hotplug = false;               // libusb tells of devices arriving and leaving
bool listKnown = false;             // `converters` holds the bus as last enumerated
std::vector<Converter> converters;  // in libftdi's order
std::vector<std::size_t> counted;   // what the count shows: indices into `converters`
bool serialWanted = false;
std::string wantedSerial;
std::string sysRoot = "/sys";
std::string procRoot = "/proc";

std::atomic<bool> busChanged{true};

std::mutex portsLock;  // guards openPorts
std::vector<Port *> openPorts;

std::atomic<bool> permissionHintGiven{false};

void PermissionHint(const char *what)
{
    if (!permissionHintGiven.exchange(true)) {
        std::fprintf(stderr,
                     "libpx418usb: an FTDI converter is attached but cannot be opened (%s);"
                     " missing access rights? The udev rule 70-px418-ftdi.rules gives them:"
                     " the px418 package installs it, from the source tree copy"
                     " packaging/70-px418-ftdi.rules into /etc/udev/rules.d; then plug the"
                     " converter in again.\n",
                     what);
    }
}

// The port behind a handle, or nullptr when the handle is not one of ours
// (never opened, or already closed).
Port *Lookup(FT_HANDLE handle)
{
    std::lock_guard<std::mutex> guard(portsLock);
    auto *port = static_cast<Port *>(handle);
    return std::find(openPorts.begin(), openPorts.end(), port) != openPorts.end() ? port : nullptr;
}

int OnHotplug(libusb_context *, libusb_device *, libusb_hotplug_event, void *)
{
    busChanged = true;
    return 0;  // stay registered
}

Location LocationOf(libusb_device *device)
{
    Location location;
    location.bus = libusb_get_bus_number(device);
    location.address = libusb_get_device_address(device);
    std::uint8_t ports[kMaxPorts];
    const int depth = libusb_get_port_numbers(device, ports, kMaxPorts);
    if (depth > 0) {
        location.ports.assign(ports, ports + depth);
    }
    return location;
}

// Reads the serial number string the first time it is wanted, and again
// after a failure once the retry interval is over. Only opens the device
// and reads string descriptors: no detach, no vendor request.
void ReadSerial(Converter &converter, Clock::time_point now)
{
    if (converter.serialTried
        && (!converter.serial.empty() || now - converter.serialTriedAt < kRetryInterval)) {
        return;
    }
    converter.serialTried = true;
    converter.serialTriedAt = now;
    libusb_device_descriptor descriptor{};
    libusb_device_handle *handle = nullptr;
    if (libusb_get_device_descriptor(converter.device, &descriptor) != LIBUSB_SUCCESS
        || descriptor.iSerialNumber == 0) {
        return;
    }
    const int opened = libusb_open(converter.device, &handle);
    if (opened != LIBUSB_SUCCESS) {
        if (opened == LIBUSB_ERROR_ACCESS) {
            PermissionHint(libusb_strerror(opened));
        }
        return;
    }
    unsigned char text[128];
    const int length = libusb_get_string_descriptor_ascii(handle, descriptor.iSerialNumber, text,
                                                          static_cast<int>(sizeof text));
    libusb_close(handle);
    if (length > 0) {
        converter.serial.assign(reinterpret_cast<const char *>(text),
                                static_cast<std::size_t>(length));
    }
}

// Enumerates the bus again, keeping what is known of the converters still
// plugged in. The caller holds enumerationLock. False when the bus cannot be
// enumerated.
bool Enumerate()
{
    ftdi_device_list *list = nullptr;
    const int found = ftdi_usb_find_all(enumerationContext, &list, 0, 0);
    if (found < 0) {
        ftdi_list_free(&list);
        return false;
    }
    std::vector<Converter> now;
    for (ftdi_device_list *entry = list; entry != nullptr; entry = entry->next) {
        const Location location = LocationOf(entry->dev);
        const auto known =
            std::find_if(converters.begin(), converters.end(), [&](const Converter &c) {
                return c.device != nullptr && c.location == location;
            });
        if (known != converters.end()) {
            now.push_back(std::move(*known));
            known->device = nullptr;
        } else {
            Converter converter;
            converter.device = libusb_ref_device(entry->dev);
            converter.location = location;
            now.push_back(std::move(converter));
        }
    }
    ftdi_list_free(&list);
    for (Converter &gone : converters) {
        if (gone.device != nullptr) {
            libusb_unref_device(gone.device);
        }
    }
    converters = std::move(now);
    listKnown = true;
    return true;
}

// Brings `converters` and `counted` up to date: enumerates again when the
// bus may have changed, and, with PX418USB_SERIAL, reads the serial numbers
// not known yet (one whose reading failed, for instance before udev gave
// access to a converter just plugged in, is read again after a while). The
// caller holds enumerationLock. False when the bus cannot be enumerated.
bool Refresh()
{
    if (enumerationContext == nullptr) {
        return false;
    }
    bool changed = true;
    if (hotplug) {
        // Hot-plug callbacks run in here, at once: nothing is waited for.
        timeval zero{0, 0};
        libusb_handle_events_timeout_completed(enumerationContext->usb_ctx, &zero, nullptr);
        changed = !listKnown || busChanged.exchange(false);
    }
    if (changed && !Enumerate()) {
        busChanged = true;
        return false;
    }
    if (!changed && !serialWanted) {
        return true;
    }

    counted.clear();
    const Clock::time_point now = Clock::now();
    for (std::size_t i = 0; i < converters.size(); ++i) {
        if (serialWanted) {
            ReadSerial(converters[i], now);
            if (converters[i].serial != wantedSerial) {
                continue;
            }
        }
        counted.push_back(i);
    }
    return true;
}

FT_STATUS ListDevices(void *pArg1, void *, DWORD flags)
{
    if (pArg1 == nullptr || (flags & FT_LIST_NUMBER_ONLY) == 0) {
        return FT_INVALID_PARAMETER;
    }
    std::lock_guard<std::mutex> guard(enumerationLock);
    if (!Refresh()) {
        return FT_IO_ERROR;
    }
    *static_cast<DWORD *>(pArg1) = static_cast<DWORD>(counted.size());
    return FT_OK;
}

// Whether the converter may be opened now; when not, it is left untouched.
bool MayOpen(Converter &converter, Clock::time_point now)
{
    switch (converter.verdict) {
    case Verdict::Foreign:
        return false;
    case Verdict::Retry:
        if (now - converter.since < kRetryInterval) {
            return false;
        }
        break;
    case Verdict::InUse:
        if (now - converter.since < kInUseRetryInterval) {
            return false;
        }
        break;
    case Verdict::Unknown:
    case Verdict::Generator:
        break;
    }
    const Location &l = converter.location;
    if (SerialPortInUse(sysRoot, procRoot, l.bus, l.ports)) {
        converter.verdict = Verdict::InUse;
        converter.since = now;
        return false;
    }
    return true;
}

// Opens the converter at `deviceNumber` of the last count (the list the
// count was made from, so that the numbers mean what the count meant).
FT_STATUS Open(int deviceNumber, FT_HANDLE *pHandle)
{
    if (pHandle == nullptr) {
        return FT_INVALID_PARAMETER;
    }
    *pHandle = nullptr;
    if (deviceNumber < 0) {
        return FT_DEVICE_NOT_FOUND;
    }

    std::lock_guard<std::mutex> guard(enumerationLock);
    if (!listKnown && !Refresh()) {
        return FT_IO_ERROR;
    }
    if (static_cast<std::size_t>(deviceNumber) >= counted.size()) {
        return FT_DEVICE_NOT_FOUND;
    }
    Converter &converter = converters[counted[static_cast<std::size_t>(deviceNumber)]];
    const Clock::time_point now = Clock::now();
    if (!MayOpen(converter, now)) {
        return FT_DEVICE_NOT_OPENED;
    }

    ftdi_context *context = ftdi_new();
    if (context == nullptr) {
        return FT_INSUFFICIENT_RESOURCES;
    }
    // The kernel's serial driver gets the converter back when it is closed.
    context->module_detach_mode = AUTO_DETACH_REATACH_SIO_MODULE;
    const int opened = ftdi_usb_open_dev(context, converter.device);
    if (opened < 0) {
        if (opened == kLibusbOpenFailed) {
            PermissionHint(ftdi_get_error_string(context));
        }
        ftdi_free(context);
        converter.verdict = Verdict::Retry;
        converter.since = now;
        return FT_DEVICE_NOT_OPENED;
    }
    // One USB packet per read transfer: ftdi_read_data drops what a transfer
    // had received when it times out, and a transfer of one packet has
    // received nothing then.
    if (ftdi_read_data_set_chunksize(context, static_cast<unsigned>(context->max_packet_size))
        < 0) {
        ftdi_usb_close(context);
        ftdi_free(context);
        return FT_INSUFFICIENT_RESOURCES;
    }

    auto *port = new Port;
    port->context = context;
    port->location = converter.location;
    {
        std::lock_guard<std::mutex> portsGuard(portsLock);
        openPorts.push_back(port);
    }
    *pHandle = port;
    return FT_OK;
}

// What the search found behind an open port, kept for the converter.
void Probed(FT_HANDLE handle, ProbeOutcome outcome)
{
    const Port *port = Lookup(handle);
    if (port == nullptr) {
        return;
    }
    std::lock_guard<std::mutex> guard(enumerationLock);
    for (Converter &converter : converters) {
        if (converter.device == nullptr || !(converter.location == port->location)) {
            continue;
        }
        switch (outcome) {
        case ProbeOutcome::Generator:
            converter.verdict = Verdict::Generator;
            break;
        case ProbeOutcome::Foreign:
            converter.verdict = Verdict::Foreign;
            break;
        case ProbeOutcome::Silent:
        case ProbeOutcome::Failed:
            converter.verdict = Verdict::Retry;
            break;
        }
        converter.since = Clock::now();
    }
}

FT_STATUS Close(FT_HANDLE handle)
{
    Port *port = nullptr;
    {
        std::lock_guard<std::mutex> guard(portsLock);
        const auto it = std::find(openPorts.begin(), openPorts.end(), static_cast<Port *>(handle));
        if (it == openPorts.end()) {
            return FT_INVALID_HANDLE;
        }
        port = *it;
        openPorts.erase(it);
    }
    const int closed = ftdi_usb_close(port->context);
    ftdi_free(port->context);
    delete port;
    return closed < 0 ? FT_IO_ERROR : FT_OK;
}

FT_STATUS Read(FT_HANDLE handle, void *buffer, DWORD toRead, DWORD *pReturned)
{
    if (pReturned == nullptr || (buffer == nullptr && toRead != 0)) {
        return FT_INVALID_PARAMETER;
    }
    *pReturned = 0;
    Port *port = Lookup(handle);
    if (port == nullptr) {
        return FT_INVALID_HANDLE;
    }

    // ftdi_read_data ends a transfer with no byte after about one latency
    // period when nothing has arrived (the converter's bare status packet),
    // or, on a converter that sends nothing while idle, with a libusb
    // timeout; either is "no byte yet", and waiting for bytes is a loop
    // against the read timeout's deadline.
    auto *out = static_cast<unsigned char *>(buffer);
    const auto deadline = Clock::now() + std::chrono::milliseconds(port->readTimeoutMs);
    ftdi_context *context = port->context;
    DWORD total = 0;
    while (total < toRead) {
        // ftdi_read_data goes on with another transfer while it has fewer
        // bytes than asked for and the last packet brought data, and when
        // that transfer fails it reports the failure alone: the bytes it had
        // are lost. So it is asked for the bytes it holds from an earlier
        // packet, or else for one byte, which the next packet brings.
        const DWORD held = static_cast<DWORD>(context->readbuffer_remaining);
        const DWORD ask = held > 0 ? std::min<DWORD>({toRead - total, held, INT_MAX}) : 1;
        // No transfer waits past the deadline (libusb reads 0 as "forever").
        const auto left =
            std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
        context->usb_read_timeout = static_cast<int>(std::clamp<long long>(left, 1, INT_MAX));
        int got = ftdi_read_data(context, out + total, static_cast<int>(ask));
        if (got == LIBUSB_ERROR_TIMEOUT) {
            got = 0;
        }
        if (got < 0) {
            *pReturned = total;
            return FT_IO_ERROR;
        }
        total += static_cast<DWORD>(got);
        if (total < toRead && Clock::now() >= deadline) {
            break;
        }
    }
    *pReturned = total;
    return FT_OK;
}

FT_STATUS Write(FT_HANDLE handle, void *buffer, DWORD toWrite, DWORD *pWritten)
{
    if (pWritten == nullptr || (buffer == nullptr && toWrite != 0) || toWrite > INT_MAX) {
        return FT_INVALID_PARAMETER;
    }
    *pWritten = 0;
    Port *port = Lookup(handle);
    if (port == nullptr) {
        return FT_INVALID_HANDLE;
    }
    // ftdi_write_data reports -1 on any failure and loses the partial count.
    const int written = ftdi_write_data(port->context, static_cast<const unsigned char *>(buffer),
                                        static_cast<int>(toWrite));
    if (written < 0) {
        return FT_IO_ERROR;
    }
    *pWritten = static_cast<DWORD>(written);
    return FT_OK;
}

FT_STATUS SetBaudRate(FT_HANDLE handle, ULONG baudRate)
{
    Port *port = Lookup(handle);
    if (port == nullptr) {
        return FT_INVALID_HANDLE;
    }
    if (baudRate == 0 || baudRate > INT_MAX) {
        return FT_INVALID_BAUD_RATE;
    }
    const int result = ftdi_set_baudrate(port->context, static_cast<int>(baudRate));
    if (result == -1) {
        return FT_INVALID_BAUD_RATE;
    }
    return result < 0 ? FT_IO_ERROR : FT_OK;
}

FT_STATUS SetDataCharacteristics(FT_HANDLE handle, UCHAR wordLength, UCHAR stopBits, UCHAR parity)
{
    Port *port = Lookup(handle);
    if (port == nullptr) {
        return FT_INVALID_HANDLE;
    }

    ftdi_bits_type bits;
    switch (wordLength) {
    case 7:
        bits = BITS_7;
        break;
    case 8:
        bits = BITS_8;
        break;
    default:
        return FT_INVALID_PARAMETER;
    }
    ftdi_stopbits_type stop;
    switch (stopBits) {
    case 0:
        stop = STOP_BIT_1;
        break;
    case 2:
        stop = STOP_BIT_2;
        break;
    default:
        return FT_INVALID_PARAMETER;
    }
    ftdi_parity_type par;
    switch (parity) {
    case 0:
        par = NONE;
        break;
    case 1:
        par = ODD;
        break;
    case 2:
        par = EVEN;
        break;
    case 3:
        par = MARK;
        break;
    case 4:
        par = SPACE;
        break;
    default:
        return FT_INVALID_PARAMETER;
    }
    return ftdi_set_line_property(port->context, bits, stop, par) < 0 ? FT_IO_ERROR : FT_OK;
}

FT_STATUS SetTimeouts(FT_HANDLE handle, ULONG readTimeoutMs, ULONG writeTimeoutMs)
{
    Port *port = Lookup(handle);
    if (port == nullptr) {
        return FT_INVALID_HANDLE;
    }
    port->readTimeoutMs = readTimeoutMs;  // FT_Read sets libusb's timeout per transfer
    if (writeTimeoutMs != 0) {
        port->context->usb_write_timeout =
            static_cast<int>(std::min<ULONG>(writeTimeoutMs, INT_MAX));
    }
    return FT_OK;
}

FT_STATUS SetLatencyTimer(FT_HANDLE handle, UCHAR latencyMs)
{
    Port *port = Lookup(handle);
    if (port == nullptr) {
        return FT_INVALID_HANDLE;
    }
    const int result = ftdi_set_latency_timer(port->context, latencyMs);
    if (result == -1) {
        return FT_INVALID_PARAMETER;
    }
    return result < 0 ? FT_IO_ERROR : FT_OK;
}

FT_STATUS Purge(FT_HANDLE handle, ULONG mask)
{
    Port *port = Lookup(handle);
    if (port == nullptr) {
        return FT_INVALID_HANDLE;
    }
    int result = 0;
    if ((mask & FT_PURGE_RX) && (mask & FT_PURGE_TX)) {
        result = ftdi_tcioflush(port->context);
    } else if (mask & FT_PURGE_RX) {
        result = ftdi_tciflush(port->context);
    } else if (mask & FT_PURGE_TX) {
        result = ftdi_tcoflush(port->context);
    }
    return result < 0 ? FT_IO_ERROR : FT_OK;
}

constexpr D2xxApi kLibftdiApi = {
    .ListDevices = ListDevices,
    .Open = Open,
    .Close = Close,
    .Read = Read,
    .Write = Write,
    .SetBaudRate = SetBaudRate,
    .SetDataCharacteristics = SetDataCharacteristics,
    .SetTimeouts = SetTimeouts,
    .SetLatencyTimer = SetLatencyTimer,
    .Purge = Purge,
    .Probed = Probed,
};

}  // namespace

const D2xxApi *D2xxLibftdiProvider(const char **why)
{
    std::lock_guard<std::mutex> guard(enumerationLock);
    if (enumerationContext == nullptr) {
        enumerationContext = ftdi_new();
        if (enumerationContext == nullptr) {
            if (why != nullptr) {
                *why = "libusb could not be initialised (no USB support?)";
            }
            return nullptr;
        }
        // FTDI's vendor id only: other devices coming and going change
        // nothing here.
        hotplug = libusb_has_capability(LIBUSB_CAP_HAS_HOTPLUG) != 0
                  && libusb_hotplug_register_callback(
                         enumerationContext->usb_ctx,
                         LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED | LIBUSB_HOTPLUG_EVENT_DEVICE_LEFT, 0,
                         kFtdiVendorId, LIBUSB_HOTPLUG_MATCH_ANY, LIBUSB_HOTPLUG_MATCH_ANY,
                         OnHotplug, nullptr, nullptr)
                         == LIBUSB_SUCCESS;
        const char *serial = std::getenv("PX418USB_SERIAL");
        serialWanted = serial != nullptr && serial[0] != '\0';
        wantedSerial = serialWanted ? serial : "";
    }
    return &kLibftdiApi;
}

void D2xxLibftdiSetSystemRoots(const char *sys, const char *proc)
{
    std::lock_guard<std::mutex> guard(enumerationLock);
    sysRoot = sys;
    procRoot = proc;
}
