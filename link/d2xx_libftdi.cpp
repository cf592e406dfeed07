// The D2XX calls implemented over libftdi1, for real FTDI converters.
//
// One long-lived libftdi context does all the enumeration: a context per
// count would start and stop libusb's hot-plug machinery and rescan the bus
// every time. Each opened converter gets a context of its own, which holds
// the device handle and libftdi's read buffer; an FT_HANDLE points to it.
#include "d2xx.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <climits>
#include <cstdio>
#include <mutex>
#include <vector>

#include <ftdi.h>

namespace {

// A USB read transfer that times out mid-way loses what it had received, so
// libusb's own timeout stays well above the latency timer and the reads of
// FT_Read run against a deadline of their own.
constexpr int kMinUsbReadTimeoutMs = 100;
constexpr DWORD kDefaultTimeoutMs = 200;
constexpr int kLibusbOpenFailed = -4;  // ftdi_usb_open_dev: libusb_open() failed

struct Port {
    ftdi_context *context = nullptr;
    DWORD readTimeoutMs = kDefaultTimeoutMs;
};

std::mutex enumerationLock;  // guards enumerationContext
ftdi_context *enumerationContext = nullptr;

std::mutex portsLock;  // guards openPorts
std::vector<Port *> openPorts;

std::atomic<bool> permissionHintGiven{false};

// The port behind a handle, or nullptr when the handle is not one of ours
// (never opened, or already closed).
Port *Lookup(FT_HANDLE handle)
{
    std::lock_guard<std::mutex> guard(portsLock);
    auto *port = static_cast<Port *>(handle);
    return std::find(openPorts.begin(), openPorts.end(), port) != openPorts.end() ? port : nullptr;
}

// Enumerates the FTDI converters (0403:6001, 6010, 6011, 6014, 6015). The
// caller holds enumerationLock and frees the list.
int FindAll(ftdi_device_list **list)
{
    *list = nullptr;
    if (enumerationContext == nullptr)
        return -1;
    return ftdi_usb_find_all(enumerationContext, list, 0, 0);
}

FT_STATUS ListDevices(void *pArg1, void *, DWORD flags)
{
    if (pArg1 == nullptr || (flags & FT_LIST_NUMBER_ONLY) == 0)
        return FT_INVALID_PARAMETER;
    std::lock_guard<std::mutex> guard(enumerationLock);
    ftdi_device_list *list = nullptr;
    const int found = FindAll(&list);
    ftdi_list_free(&list);
    if (found < 0)
        return FT_IO_ERROR;
    *static_cast<DWORD *>(pArg1) = static_cast<DWORD>(found);
    return FT_OK;
}

FT_STATUS Open(int deviceNumber, FT_HANDLE *pHandle)
{
    if (pHandle == nullptr)
        return FT_INVALID_PARAMETER;
    *pHandle = nullptr;
    if (deviceNumber < 0)
        return FT_DEVICE_NOT_FOUND;

    std::lock_guard<std::mutex> guard(enumerationLock);
    ftdi_device_list *list = nullptr;
    const int found = FindAll(&list);
    if (found < 0) {
        ftdi_list_free(&list);
        return FT_IO_ERROR;
    }
    ftdi_device_list *entry = list;
    for (int i = 0; entry != nullptr && i < deviceNumber; ++i)
        entry = entry->next;
    if (entry == nullptr) {
        ftdi_list_free(&list);
        return FT_DEVICE_NOT_FOUND;
    }

    ftdi_context *context = ftdi_new();
    if (context == nullptr) {
        ftdi_list_free(&list);
        return FT_INSUFFICIENT_RESOURCES;
    }
    // The kernel's serial driver gets the converter back when it is closed.
    context->module_detach_mode = AUTO_DETACH_REATACH_SIO_MODULE;
    const int opened = ftdi_usb_open_dev(context, entry->dev);
    ftdi_list_free(&list);  // the open device keeps its own reference
    if (opened < 0) {
        if (opened == kLibusbOpenFailed && !permissionHintGiven.exchange(true))
            std::fprintf(stderr,
                         "libpx418usb: FTDI converter %d is attached but cannot be opened (%s);"
                         " missing access rights? The udev rule 70-px418-ftdi.rules gives them:"
                         " the px418 package installs it, from the source tree copy"
                         " packaging/70-px418-ftdi.rules into /etc/udev/rules.d; then plug the"
                         " converter in again.\n",
                         deviceNumber, ftdi_get_error_string(context));
        ftdi_free(context);
        return FT_DEVICE_NOT_OPENED;
    }
    context->usb_read_timeout = std::max(context->usb_read_timeout, kMinUsbReadTimeoutMs);

    auto *port = new Port;
    port->context = context;
    {
        std::lock_guard<std::mutex> portsGuard(portsLock);
        openPorts.push_back(port);
    }
    *pHandle = port;
    return FT_OK;
}

FT_STATUS Close(FT_HANDLE handle)
{
    Port *port = nullptr;
    {
        std::lock_guard<std::mutex> guard(portsLock);
        const auto it = std::find(openPorts.begin(), openPorts.end(), static_cast<Port *>(handle));
        if (it == openPorts.end())
            return FT_INVALID_HANDLE;
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
    if (pReturned == nullptr || (buffer == nullptr && toRead != 0))
        return FT_INVALID_PARAMETER;
    *pReturned = 0;
    Port *port = Lookup(handle);
    if (port == nullptr)
        return FT_INVALID_HANDLE;

    // ftdi_read_data answers with no byte after about one latency period
    // when nothing has arrived, so waiting for bytes is a loop against the
    // read timeout's deadline.
    auto *out = static_cast<unsigned char *>(buffer);
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(port->readTimeoutMs);
    DWORD total = 0;
    while (total < toRead) {
        const int chunk = static_cast<int>(std::min<DWORD>(toRead - total, INT_MAX));
        const int got = ftdi_read_data(port->context, out + total, chunk);
        if (got < 0) {
            *pReturned = total;
            return FT_IO_ERROR;
        }
        total += static_cast<DWORD>(got);
        if (total < toRead && std::chrono::steady_clock::now() >= deadline)
            break;
    }
    *pReturned = total;
    return FT_OK;
}

FT_STATUS Write(FT_HANDLE handle, void *buffer, DWORD toWrite, DWORD *pWritten)
{
    if (pWritten == nullptr || (buffer == nullptr && toWrite != 0) || toWrite > INT_MAX)
        return FT_INVALID_PARAMETER;
    *pWritten = 0;
    Port *port = Lookup(handle);
    if (port == nullptr)
        return FT_INVALID_HANDLE;
    // ftdi_write_data reports -1 on any failure and loses the partial count.
    const int written = ftdi_write_data(port->context, static_cast<const unsigned char *>(buffer),
                                        static_cast<int>(toWrite));
    if (written < 0)
        return FT_IO_ERROR;
    *pWritten = static_cast<DWORD>(written);
    return FT_OK;
}

FT_STATUS SetBaudRate(FT_HANDLE handle, ULONG baudRate)
{
    Port *port = Lookup(handle);
    if (port == nullptr)
        return FT_INVALID_HANDLE;
    if (baudRate == 0 || baudRate > INT_MAX)
        return FT_INVALID_BAUD_RATE;
    const int result = ftdi_set_baudrate(port->context, static_cast<int>(baudRate));
    if (result == -1)
        return FT_INVALID_BAUD_RATE;
    return result < 0 ? FT_IO_ERROR : FT_OK;
}

FT_STATUS SetDataCharacteristics(FT_HANDLE handle, UCHAR wordLength, UCHAR stopBits, UCHAR parity)
{
    Port *port = Lookup(handle);
    if (port == nullptr)
        return FT_INVALID_HANDLE;

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
    if (port == nullptr)
        return FT_INVALID_HANDLE;
    port->readTimeoutMs = readTimeoutMs;
    const int usbRead = static_cast<int>(std::min<ULONG>(readTimeoutMs, INT_MAX));
    port->context->usb_read_timeout = std::max(usbRead, kMinUsbReadTimeoutMs);
    if (writeTimeoutMs != 0)
        port->context->usb_write_timeout =
            static_cast<int>(std::min<ULONG>(writeTimeoutMs, INT_MAX));
    return FT_OK;
}

FT_STATUS SetLatencyTimer(FT_HANDLE handle, UCHAR latencyMs)
{
    Port *port = Lookup(handle);
    if (port == nullptr)
        return FT_INVALID_HANDLE;
    const int result = ftdi_set_latency_timer(port->context, latencyMs);
    if (result == -1)
        return FT_INVALID_PARAMETER;
    return result < 0 ? FT_IO_ERROR : FT_OK;
}

FT_STATUS Purge(FT_HANDLE handle, ULONG mask)
{
    Port *port = Lookup(handle);
    if (port == nullptr)
        return FT_INVALID_HANDLE;
    int result = 0;
    if ((mask & FT_PURGE_RX) && (mask & FT_PURGE_TX))
        result = ftdi_tcioflush(port->context);
    else if (mask & FT_PURGE_RX)
        result = ftdi_tciflush(port->context);
    else if (mask & FT_PURGE_TX)
        result = ftdi_tcoflush(port->context);
    return result < 0 ? FT_IO_ERROR : FT_OK;
}

constexpr D2xxApi kLibftdiApi = {
    ListDevices,     Open,  Close, Read, Write, SetBaudRate, SetDataCharacteristics, SetTimeouts,
    SetLatencyTimer, Purge,
};

}  // namespace

const D2xxApi *D2xxLibftdiProvider(const char **why)
{
    std::lock_guard<std::mutex> guard(enumerationLock);
    if (enumerationContext == nullptr) {
        enumerationContext = ftdi_new();
        if (enumerationContext == nullptr) {
            if (why != nullptr)
                *why = "libusb could not be initialised (no USB support?)";
            return nullptr;
        }
    }
    return &kLibftdiApi;
}
