// The libusb-1.0 entry points, answered by the emulated converters. Each
// returns what libusb 1.0.26 on Linux returns in the same situation; the
// declarations come from the system's libusb.h, so the types and
// constants are libusb's own.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <sys/time.h>

#include "emulation.h"

using namespace usbemu;
using namespace usbemu::detail;

namespace {

using Lock = std::unique_lock<std::mutex>;

constexpr unsigned char kEndpointIn = 0x81;
constexpr unsigned char kEndpointOut = 0x02;
constexpr int kMaxInterfaces = 32;
constexpr unsigned kDescriptorTimeoutMs = 1000;

// What libusb_get_config_descriptor hands out, in one allocation.
struct ConfigBlock {
    libusb_config_descriptor config;  // first: its address is the block's
    libusb_interface interface;
    libusb_interface_descriptor altsetting;
    libusb_endpoint_descriptor endpoints[2];
};

libusb_context *ContextOf(libusb_context *context)
{
    return context != nullptr ? context : Emu().defaultContext;
}

Converter &ConverterOf(libusb_device_handle *handle)
{
    return *handle->device->converter;
}

void RecordSimple(Converter &c, EventKind kind, int result = 0, bool busy = false)
{
    Event event;
    event.time = event.start = Clock::now();
    event.converter = c.index;
    event.kind = kind;
    event.result = result;
    event.busy = busy;
    Emu().Record(std::move(event));
}

void DetachDriver(Converter &c)
{
    const bool busy = c.busy;
    c.kernelDriver = false;
    c.busy = false;  // the other program's tty is gone
    ++c.counters.detaches;
    if (busy) {
        ++c.counters.busyDetaches;
    }
    RecordSimple(c, EventKind::DetachKernelDriver, 0, busy);
}

void AttachDriver(Converter &c)
{
    c.kernelDriver = true;
    ++c.counters.attaches;
    RecordSimple(c, EventKind::AttachKernelDriver);
}

// Checks a bulk transfer and puts it on its way; a fault due for it ends it
// at once. Returns the error of a transfer that could not be submitted.
int Submit(libusb_device_handle *handle, unsigned char endpoint, unsigned char *buffer, int length,
           unsigned timeoutMs, Flight &flight, TimePoint now)
{
    if (handle == nullptr || length < 0 || (buffer == nullptr && length > 0)) {
        return LIBUSB_ERROR_INVALID_PARAM;
    }
    if (!Attached(handle->device)) {
        return LIBUSB_ERROR_NO_DEVICE;
    }
    Converter &c = ConverterOf(handle);
    if ((endpoint != kEndpointIn && endpoint != kEndpointOut) || c.configuration == 0) {
        return LIBUSB_ERROR_IO;
    }
    if (c.claimedBy != handle) {
        // usbfs claims the interface for a transfer on an unclaimed one, but
        // not from the kernel's driver or another handle.
        if (c.claimedBy != nullptr || c.kernelDriver) {
            return LIBUSB_ERROR_IO;
        }
        c.claimedBy = handle;
        ++c.counters.claims;
        RecordSimple(c, EventKind::Claim);
    }

    flight.handle = handle;
    flight.converter = handle->device->converter;
    flight.in = (endpoint & LIBUSB_ENDPOINT_IN) != 0;
    flight.buffer = buffer;
    flight.length = length;
    flight.start = now;
    flight.pollFrom = now;
    flight.deadline = timeoutMs != 0 ? now + std::chrono::milliseconds(timeoutMs) : kNever;

    const int fault = c.TakeFault(false, flight.in);
    if (fault == LIBUSB_ERROR_TIMEOUT) {
        flight.forcedTimeout = true;
        if (timeoutMs == 0) {
            flight.deadline = now;
        }
    } else if (fault != 0) {
        Emu().Finish(flight, fault, now);
        return 0;
    } else if (!flight.in) {
        c.StartOut(flight, now);
    }
    c.flights.push_back(&flight);
    Emu().changed.notify_all();  // the wire thread has a new time to keep
    return 0;
}

libusb_transfer_status StatusOf(const Flight &flight)
{
    if (flight.wasCancelled) {
        return LIBUSB_TRANSFER_CANCELLED;
    }
    switch (flight.error) {
    case LIBUSB_SUCCESS:
        return LIBUSB_TRANSFER_COMPLETED;
    case LIBUSB_ERROR_TIMEOUT:
        return LIBUSB_TRANSFER_TIMED_OUT;
    case LIBUSB_ERROR_NO_DEVICE:
        return LIBUSB_TRANSFER_NO_DEVICE;
    case LIBUSB_ERROR_PIPE:
        return LIBUSB_TRANSFER_STALL;
    case LIBUSB_ERROR_OVERFLOW:
        return LIBUSB_TRANSFER_OVERFLOW;
    default:
        return LIBUSB_TRANSFER_ERROR;
    }
}

// Takes an asynchronous transfer off its context and converter for good.
std::unique_ptr<Flight> Unlink(libusb_transfer *transfer)
{
    Emulation &emu = Emu();
    const auto it = emu.asyncFlights.find(transfer);
    if (it == emu.asyncFlights.end()) {
        return nullptr;
    }
    std::unique_ptr<Flight> flight = std::move(it->second);
    emu.asyncFlights.erase(it);
    auto &flights = flight->converter->flights;
    flights.erase(std::remove(flights.begin(), flights.end(), flight.get()), flights.end());
    for (libusb_context *context : emu.contexts) {
        auto &mine = context->flights;
        mine.erase(std::remove(mine.begin(), mine.end(), flight.get()), mine.end());
    }
    return flight;
}

bool Matches(const HotplugCallback &callback, libusb_device *device, int event)
{
    const libusb_device_descriptor d = device->converter->DeviceDescriptor();
    return (callback.events & event) != 0
           && (callback.vendorId == LIBUSB_HOTPLUG_MATCH_ANY || callback.vendorId == d.idVendor)
           && (callback.productId == LIBUSB_HOTPLUG_MATCH_ANY || callback.productId == d.idProduct)
           && (callback.deviceClass == LIBUSB_HOTPLUG_MATCH_ANY
               || callback.deviceClass == d.bDeviceClass);
}

bool Registered(libusb_context *context, int handle)
{
    return std::any_of(context->callbacks.begin(), context->callbacks.end(),
                       [handle](const HotplugCallback &c) { return c.handle == handle; });
}

void Deregister(libusb_context *context, int handle)
{
    auto &callbacks = context->callbacks;
    const auto same = [handle](const HotplugCallback &c) { return c.handle == handle; };
    callbacks.erase(std::remove_if(callbacks.begin(), callbacks.end(), same), callbacks.end());
}

// Runs the callbacks that match one event; called with the lock held, which
// is let go around each callback so that it may call libusb.
void RunHotplugCallbacks(Lock &lock, libusb_context *context, libusb_device *device, int event)
{
    const std::vector<HotplugCallback> callbacks = context->callbacks;
    for (const HotplugCallback &callback : callbacks) {
        if (!Registered(context, callback.handle) || !Matches(callback, device, event)) {
            continue;
        }
        lock.unlock();
        const int done = callback.function(
            context, device, static_cast<libusb_hotplug_event>(event), callback.userData);
        lock.lock();
        if (done != 0) {
            Deregister(context, callback.handle);
        }
    }
}

void FillConfig(ConfigBlock &block)
{
    for (int i = 0; i < 2; ++i) {
        libusb_endpoint_descriptor &e = block.endpoints[i];
        e.bLength = LIBUSB_DT_ENDPOINT_SIZE;
        e.bDescriptorType = LIBUSB_DT_ENDPOINT;
        e.bEndpointAddress = i == 0 ? kEndpointIn : kEndpointOut;
        e.bmAttributes = LIBUSB_TRANSFER_TYPE_BULK;
        e.wMaxPacketSize = 64;
    }
    libusb_interface_descriptor &a = block.altsetting;
    a.bLength = LIBUSB_DT_INTERFACE_SIZE;
    a.bDescriptorType = LIBUSB_DT_INTERFACE;
    a.bNumEndpoints = 2;
    a.bInterfaceClass = 0xFF;  // the vendor's own class
    a.bInterfaceSubClass = 0xFF;
    a.bInterfaceProtocol = 0xFF;
    a.iInterface = 2;
    a.endpoint = block.endpoints;
    block.interface.altsetting = &block.altsetting;
    block.interface.num_altsetting = 1;
    libusb_config_descriptor &c = block.config;
    c.bLength = LIBUSB_DT_CONFIG_SIZE;
    c.bDescriptorType = LIBUSB_DT_CONFIG;
    c.wTotalLength = 32;
    c.bNumInterfaces = 1;
    c.bConfigurationValue = 1;
    c.bmAttributes = 0xA0;
    c.MaxPower = 45;
    c.interface = &block.interface;
}

}  // namespace

// --- Contexts ---------------------------------------------------------------

int libusb_init(libusb_context **context)
{
    Emulation &emu = Emu();
    Lock lock(emu.mutex);
    if (context == nullptr) {
        if (emu.defaultContext != nullptr) {
            ++emu.defaultContext->refs;
        } else {
            emu.defaultContext = new libusb_context;
            emu.contexts.push_back(emu.defaultContext);
        }
        return LIBUSB_SUCCESS;
    }
    *context = new libusb_context;
    emu.contexts.push_back(*context);
    return LIBUSB_SUCCESS;
}

void libusb_exit(libusb_context *context)
{
    Emulation &emu = Emu();
    Lock lock(emu.mutex);
    libusb_context *c = ContextOf(context);
    if (c == nullptr) {
        return;
    }
    if (c == emu.defaultContext && --c->refs > 0) {
        return;
    }
    emu.contexts.erase(std::remove(emu.contexts.begin(), emu.contexts.end(), c),
                       emu.contexts.end());
    // Transfers still on their way are forgotten; their structs stay the
    // caller's.
    const std::vector<Flight *> flights = c->flights;
    for (Flight *f : flights) {
        Unlink(f->transfer);
    }
    for (const HotplugEvent &event : c->hotplugEvents) {
        UnrefDevice(event.device);
    }
    for (libusb_device *device : c->devices) {
        UnrefDevice(device);
    }
    c->callbacks.clear();
    c->hotplugEvents.clear();
    c->flights.clear();
    c->devices.clear();
    if (c == emu.defaultContext) {
        emu.defaultContext = nullptr;
    }
    // Kept, empty: handles and devices that outlive their context (libusb
    // leaves that undefined) still point to it.
    emu.retired.push_back(c);
}

int libusb_set_option(libusb_context *, enum libusb_option, ...)
{
    return LIBUSB_SUCCESS;  // log levels and backend options mean nothing here
}

void libusb_set_debug(libusb_context *, int) {}

const struct libusb_version *libusb_get_version(void)
{
    // 1.0.26, the libusb the emulation stands in for; "describe" tells.
    static const libusb_version version = {1,     0,  26,
                                           11724, "", "usbemu: emulated FT232R converters"};
    return &version;
}

int libusb_has_capability(uint32_t capability)
{
    switch (capability) {
    case LIBUSB_CAP_HAS_HOTPLUG:
        return Emu().hotplugSupported ? 1 : 0;
    case LIBUSB_CAP_HAS_CAPABILITY:
    case LIBUSB_CAP_HAS_HID_ACCESS:
    case LIBUSB_CAP_SUPPORTS_DETACH_KERNEL_DRIVER:
        return 1;
    default:
        return 0;
    }
}

const char *libusb_error_name(int code)
{
    switch (code) {
    case LIBUSB_SUCCESS:
        return "LIBUSB_SUCCESS / LIBUSB_TRANSFER_COMPLETED";
    case LIBUSB_ERROR_IO:
        return "LIBUSB_ERROR_IO";
    case LIBUSB_ERROR_INVALID_PARAM:
        return "LIBUSB_ERROR_INVALID_PARAM";
    case LIBUSB_ERROR_ACCESS:
        return "LIBUSB_ERROR_ACCESS";
    case LIBUSB_ERROR_NO_DEVICE:
        return "LIBUSB_ERROR_NO_DEVICE";
    case LIBUSB_ERROR_NOT_FOUND:
        return "LIBUSB_ERROR_NOT_FOUND";
    case LIBUSB_ERROR_BUSY:
        return "LIBUSB_ERROR_BUSY";
    case LIBUSB_ERROR_TIMEOUT:
        return "LIBUSB_ERROR_TIMEOUT";
    case LIBUSB_ERROR_OVERFLOW:
        return "LIBUSB_ERROR_OVERFLOW";
    case LIBUSB_ERROR_PIPE:
        return "LIBUSB_ERROR_PIPE";
    case LIBUSB_ERROR_INTERRUPTED:
        return "LIBUSB_ERROR_INTERRUPTED";
    case LIBUSB_ERROR_NO_MEM:
        return "LIBUSB_ERROR_NO_MEM";
    case LIBUSB_ERROR_NOT_SUPPORTED:
        return "LIBUSB_ERROR_NOT_SUPPORTED";
    case LIBUSB_ERROR_OTHER:
        return "LIBUSB_ERROR_OTHER";
    case LIBUSB_TRANSFER_ERROR:
        return "LIBUSB_TRANSFER_ERROR";
    case LIBUSB_TRANSFER_TIMED_OUT:
        return "LIBUSB_TRANSFER_TIMED_OUT";
    case LIBUSB_TRANSFER_CANCELLED:
        return "LIBUSB_TRANSFER_CANCELLED";
    case LIBUSB_TRANSFER_STALL:
        return "LIBUSB_TRANSFER_STALL";
    case LIBUSB_TRANSFER_NO_DEVICE:
        return "LIBUSB_TRANSFER_NO_DEVICE";
    case LIBUSB_TRANSFER_OVERFLOW:
        return "LIBUSB_TRANSFER_OVERFLOW";
    default:
        return "**UNKNOWN**";
    }
}

const char *libusb_strerror(int code)
{
    switch (code) {
    case LIBUSB_SUCCESS:
        return "Success";
    case LIBUSB_ERROR_IO:
        return "Input/output error";
    case LIBUSB_ERROR_INVALID_PARAM:
        return "Invalid parameter";
    case LIBUSB_ERROR_ACCESS:
        return "Access denied (insufficient permissions)";
    case LIBUSB_ERROR_NO_DEVICE:
        return "No such device (it may have been disconnected)";
    case LIBUSB_ERROR_NOT_FOUND:
        return "Entity not found";
    case LIBUSB_ERROR_BUSY:
        return "Resource busy";
    case LIBUSB_ERROR_TIMEOUT:
        return "Operation timed out";
    case LIBUSB_ERROR_OVERFLOW:
        return "Overflow";
    case LIBUSB_ERROR_PIPE:
        return "Pipe error";
    case LIBUSB_ERROR_INTERRUPTED:
        return "System call interrupted";
    case LIBUSB_ERROR_NO_MEM:
        return "Insufficient memory";
    case LIBUSB_ERROR_NOT_SUPPORTED:
        return "Operation not supported or unimplemented";
    case LIBUSB_ERROR_OTHER:
        return "Other error";
    default:
        return "Unknown error";
    }
}

// --- Devices ----------------------------------------------------------------

ssize_t libusb_get_device_list(libusb_context *context, libusb_device ***list)
{
    Emulation &emu = Emu();
    Lock lock(emu.mutex);
    libusb_context *c = ContextOf(context);
    if (c == nullptr || list == nullptr) {
        return LIBUSB_ERROR_INVALID_PARAM;
    }
    std::vector<libusb_device *> devices;
    for (const auto &converter : emu.converters) {
        if (converter->present && converter->plugged) {
            libusb_device *device = emu.DeviceFor(c, *converter);
            RefDevice(device);
            devices.push_back(device);
        }
    }
    *list = new libusb_device *[devices.size() + 1];
    std::copy(devices.begin(), devices.end(), *list);
    (*list)[devices.size()] = nullptr;
    return static_cast<ssize_t>(devices.size());
}

void libusb_free_device_list(libusb_device **list, int unrefDevices)
{
    if (list == nullptr) {
        return;
    }
    if (unrefDevices) {
        Lock lock(Emu().mutex);
        for (libusb_device **d = list; *d != nullptr; ++d) {
            UnrefDevice(*d);
        }
    }
    delete[] list;
}

libusb_device *libusb_ref_device(libusb_device *device)
{
    Lock lock(Emu().mutex);
    RefDevice(device);
    return device;
}

void libusb_unref_device(libusb_device *device)
{
    Lock lock(Emu().mutex);
    UnrefDevice(device);
}

uint8_t libusb_get_bus_number(libusb_device *device)
{
    return device->converter->setup.bus;
}

uint8_t libusb_get_port_number(libusb_device *device)
{
    const auto &ports = device->converter->setup.ports;
    return ports.empty() ? 0 : ports.back();
}

int libusb_get_port_numbers(libusb_device *device, uint8_t *portNumbers, int length)
{
    if (portNumbers == nullptr || length <= 0) {
        return LIBUSB_ERROR_INVALID_PARAM;
    }
    const auto &ports = device->converter->setup.ports;
    if (ports.size() > static_cast<std::size_t>(length)) {
        return LIBUSB_ERROR_OVERFLOW;
    }
    std::copy(ports.begin(), ports.end(), portNumbers);
    return static_cast<int>(ports.size());
}

uint8_t libusb_get_device_address(libusb_device *device)
{
    return device->address;
}

int libusb_get_device_speed(libusb_device *)
{
    return LIBUSB_SPEED_FULL;
}

int libusb_get_max_packet_size(libusb_device *, unsigned char endpoint)
{
    return endpoint == kEndpointIn || endpoint == kEndpointOut ? 64 : LIBUSB_ERROR_NOT_FOUND;
}

int libusb_get_device_descriptor(libusb_device *device, struct libusb_device_descriptor *descriptor)
{
    *descriptor = device->converter->DeviceDescriptor();
    return LIBUSB_SUCCESS;
}

int libusb_get_config_descriptor(libusb_device *, uint8_t index,
                                 struct libusb_config_descriptor **config)
{
    if (index != 0) {
        return LIBUSB_ERROR_NOT_FOUND;
    }
    auto *block = new ConfigBlock{};
    FillConfig(*block);
    *config = &block->config;
    return LIBUSB_SUCCESS;
}

int libusb_get_active_config_descriptor(libusb_device *device,
                                        struct libusb_config_descriptor **config)
{
    {
        Lock lock(Emu().mutex);
        if (device->converter->configuration == 0) {
            return LIBUSB_ERROR_NOT_FOUND;
        }
    }
    return libusb_get_config_descriptor(device, 0, config);
}

void libusb_free_config_descriptor(struct libusb_config_descriptor *config)
{
    delete reinterpret_cast<ConfigBlock *>(config);
}

// --- Handles ----------------------------------------------------------------

int libusb_open(libusb_device *device, libusb_device_handle **handle)
{
    Lock lock(Emu().mutex);
    if (device == nullptr || handle == nullptr) {
        return LIBUSB_ERROR_INVALID_PARAM;
    }
    if (!Attached(device)) {
        return LIBUSB_ERROR_NO_DEVICE;
    }
    Converter &c = *device->converter;
    if (c.refuseOpen != 0) {
        ++c.counters.refusedOpens;
        RecordSimple(c, EventKind::OpenRefused, c.refuseOpen);
        return c.refuseOpen;
    }
    auto *h = new libusb_device_handle;
    h->device = device;
    h->context = device->context;
    RefDevice(device);
    ++c.openHandles;
    ++c.counters.opens;
    RecordSimple(c, EventKind::Open);
    *handle = h;
    return LIBUSB_SUCCESS;
}

libusb_device_handle *libusb_open_device_with_vid_pid(libusb_context *context, uint16_t vendorId,
                                                      uint16_t productId)
{
    libusb_device **list = nullptr;
    const ssize_t count = libusb_get_device_list(context, &list);
    libusb_device_handle *handle = nullptr;
    for (ssize_t i = 0; i < count; ++i) {
        libusb_device_descriptor d;
        libusb_get_device_descriptor(list[i], &d);
        if (d.idVendor == vendorId && d.idProduct == productId) {
            if (libusb_open(list[i], &handle) != LIBUSB_SUCCESS) {
                handle = nullptr;
            }
            break;
        }
    }
    libusb_free_device_list(list, 1);
    return handle;
}

void libusb_close(libusb_device_handle *handle)
{
    if (handle == nullptr) {
        return;
    }
    Emulation &emu = Emu();
    Lock lock(emu.mutex);
    Converter &c = ConverterOf(handle);
    // Asynchronous transfers of the handle, on their way or waiting for
    // their callback, are dropped, as libusb does; a synchronous one in
    // another thread ends with no device.
    std::vector<Flight *> flights = c.flights;
    flights.insert(flights.end(), handle->context->flights.begin(), handle->context->flights.end());
    std::sort(flights.begin(), flights.end());
    flights.erase(std::unique(flights.begin(), flights.end()), flights.end());
    for (Flight *f : flights) {
        if (f->handle != handle) {
            continue;
        }
        if (f->transfer != nullptr) {
            f->transfer->dev_handle = nullptr;
            Unlink(f->transfer);
        } else if (!f->done) {
            emu.Finish(*f, LIBUSB_ERROR_NO_DEVICE, Clock::now());
        }
    }
    // Closing gives up the claim, but only libusb_release_interface hands
    // the interface back to the kernel's driver.
    if (c.claimedBy == handle) {
        c.claimedBy = nullptr;
    }
    --c.openHandles;
    ++c.counters.closes;
    RecordSimple(c, EventKind::Close);
    UnrefDevice(handle->device);
    delete handle;
    emu.changed.notify_all();
}

libusb_device *libusb_get_device(libusb_device_handle *handle)
{
    return handle->device;
}

int libusb_get_configuration(libusb_device_handle *handle, int *config)
{
    Lock lock(Emu().mutex);
    if (!Attached(handle->device)) {
        return LIBUSB_ERROR_NO_DEVICE;
    }
    *config = ConverterOf(handle).configuration;
    return LIBUSB_SUCCESS;
}

int libusb_set_configuration(libusb_device_handle *handle, int configuration)
{
    Lock lock(Emu().mutex);
    if (!Attached(handle->device)) {
        return LIBUSB_ERROR_NO_DEVICE;
    }
    Converter &c = ConverterOf(handle);
    if (configuration != 1 && configuration != 0 && configuration != -1) {
        return LIBUSB_ERROR_NOT_FOUND;
    }
    if (c.claimedBy != nullptr) {
        return LIBUSB_ERROR_BUSY;
    }
    c.configuration = std::max(configuration, 0);
    ++c.counters.controlRequests;
    Event event;
    event.time = event.start = Clock::now();
    event.converter = c.index;
    event.kind = EventKind::Control;
    event.request = LIBUSB_REQUEST_SET_CONFIGURATION;
    event.value = static_cast<std::uint16_t>(c.configuration);
    Emu().Record(std::move(event));
    return LIBUSB_SUCCESS;
}

int libusb_claim_interface(libusb_device_handle *handle, int interface)
{
    if (interface < 0 || interface >= kMaxInterfaces) {
        return LIBUSB_ERROR_INVALID_PARAM;
    }
    Lock lock(Emu().mutex);
    if (!Attached(handle->device)) {
        return LIBUSB_ERROR_NO_DEVICE;
    }
    Converter &c = ConverterOf(handle);
    if (handle->claimed && c.claimedBy == handle) {
        return LIBUSB_SUCCESS;
    }
    if (interface != 0 || c.configuration == 0) {
        return LIBUSB_ERROR_NOT_FOUND;
    }
    if (c.claimedBy != nullptr && c.claimedBy != handle) {
        return LIBUSB_ERROR_BUSY;
    }
    if (c.kernelDriver) {
        if (!handle->autoDetach) {
            return LIBUSB_ERROR_BUSY;
        }
        DetachDriver(c);
    }
    c.claimedBy = handle;
    handle->claimed = true;
    ++c.counters.claims;
    RecordSimple(c, EventKind::Claim);
    return LIBUSB_SUCCESS;
}

int libusb_release_interface(libusb_device_handle *handle, int interface)
{
    if (interface < 0 || interface >= kMaxInterfaces) {
        return LIBUSB_ERROR_INVALID_PARAM;
    }
    Lock lock(Emu().mutex);
    if (interface != 0 || !handle->claimed) {
        return LIBUSB_ERROR_NOT_FOUND;
    }
    if (!Attached(handle->device)) {
        return LIBUSB_ERROR_NO_DEVICE;
    }
    Converter &c = ConverterOf(handle);
    handle->claimed = false;
    if (c.claimedBy == handle) {
        c.claimedBy = nullptr;
    }
    ++c.counters.releases;
    RecordSimple(c, EventKind::Release);
    // libusb re-attaches whenever auto-detach is on, detached by it or not.
    if (handle->autoDetach && !c.kernelDriver) {
        AttachDriver(c);
    }
    return LIBUSB_SUCCESS;
}

int libusb_kernel_driver_active(libusb_device_handle *handle, int interface)
{
    if (interface < 0 || interface >= kMaxInterfaces) {
        return LIBUSB_ERROR_INVALID_PARAM;
    }
    Lock lock(Emu().mutex);
    if (!Attached(handle->device)) {
        return LIBUSB_ERROR_NO_DEVICE;
    }
    if (interface != 0) {
        return LIBUSB_ERROR_NOT_FOUND;
    }
    return ConverterOf(handle).kernelDriver ? 1 : 0;
}

int libusb_detach_kernel_driver(libusb_device_handle *handle, int interface)
{
    if (interface < 0 || interface >= kMaxInterfaces) {
        return LIBUSB_ERROR_INVALID_PARAM;
    }
    Lock lock(Emu().mutex);
    if (!Attached(handle->device)) {
        return LIBUSB_ERROR_NO_DEVICE;
    }
    Converter &c = ConverterOf(handle);
    if (interface != 0 || !c.kernelDriver) {
        return LIBUSB_ERROR_NOT_FOUND;
    }
    DetachDriver(c);
    return LIBUSB_SUCCESS;
}

int libusb_attach_kernel_driver(libusb_device_handle *handle, int interface)
{
    if (interface < 0 || interface >= kMaxInterfaces) {
        return LIBUSB_ERROR_INVALID_PARAM;
    }
    Lock lock(Emu().mutex);
    if (!Attached(handle->device)) {
        return LIBUSB_ERROR_NO_DEVICE;
    }
    Converter &c = ConverterOf(handle);
    if (interface != 0) {
        return LIBUSB_ERROR_NOT_FOUND;
    }
    if (c.kernelDriver || c.claimedBy != nullptr) {
        return LIBUSB_ERROR_BUSY;
    }
    AttachDriver(c);
    return LIBUSB_SUCCESS;
}

int libusb_set_auto_detach_kernel_driver(libusb_device_handle *handle, int enable)
{
    Lock lock(Emu().mutex);
    handle->autoDetach = enable != 0;
    return LIBUSB_SUCCESS;
}

// --- Synchronous transfers ---------------------------------------------------

int libusb_control_transfer(libusb_device_handle *handle, uint8_t requestType, uint8_t request,
                            uint16_t value, uint16_t index, unsigned char *data, uint16_t length,
                            unsigned int timeoutMs)
{
    if (handle == nullptr || (data == nullptr && length > 0)) {
        return LIBUSB_ERROR_INVALID_PARAM;
    }
    Emulation &emu = Emu();
    Lock lock(emu.mutex);
    if (!Attached(handle->device)) {
        return LIBUSB_ERROR_NO_DEVICE;
    }
    Converter &c = ConverterOf(handle);
    const bool in = (requestType & LIBUSB_ENDPOINT_IN) != 0;
    const TimePoint start = Clock::now();
    emu.Pump(start);  // a purge or a new setting meets the wire as it is now

    int result;
    const int fault = c.TakeFault(true, in);
    if (fault == LIBUSB_ERROR_TIMEOUT) {
        const TimePoint until = start + std::chrono::milliseconds(timeoutMs);
        while (Clock::now() < until) {
            emu.changed.wait_until(lock, until);
        }
        result = LIBUSB_ERROR_TIMEOUT;
    } else if (fault != 0) {
        result = fault;
    } else {
        result = c.Control(requestType, request, value, index, data, length, start);
    }

    ++c.counters.controlRequests;
    Event event;
    event.time = Clock::now();
    event.start = start;
    event.converter = c.index;
    event.kind = EventKind::Control;
    event.result = result;
    event.requestType = requestType;
    event.request = request;
    event.value = value;
    event.index = index;
    if (!in && length > 0) {
        event.data.assign(data, data + length);
    } else if (in && result > 0) {
        event.data.assign(data, data + result);
    }
    emu.Record(std::move(event));
    emu.changed.notify_all();  // latency and baud changes move waiting reads
    return result;
}

int libusb_bulk_transfer(libusb_device_handle *handle, unsigned char endpoint, unsigned char *data,
                         int length, int *transferred, unsigned int timeoutMs)
{
    if (transferred != nullptr) {
        *transferred = 0;
    }
    Emulation &emu = Emu();
    Lock lock(emu.mutex);
    Flight flight;
    const int submitted = Submit(handle, endpoint, data, length, timeoutMs, flight, Clock::now());
    if (submitted != 0) {
        return submitted;
    }
    while (!flight.done) {
        const TimePoint wake = emu.Pump(Clock::now());
        if (flight.done) {
            break;
        }
        if (wake == kNever) {
            emu.changed.wait(lock);
        } else {
            emu.changed.wait_until(lock, wake);
        }
    }
    if (transferred != nullptr) {
        *transferred = flight.actual;
    }
    return flight.error;
}

int libusb_get_string_descriptor_ascii(libusb_device_handle *handle, uint8_t index,
                                       unsigned char *data, int length)
{
    // As libusb does it: the first language, then the string in it.
    if (index == 0 || data == nullptr || length <= 0) {
        return LIBUSB_ERROR_INVALID_PARAM;
    }
    unsigned char buffer[255];
    int r = libusb_control_transfer(handle, LIBUSB_ENDPOINT_IN, LIBUSB_REQUEST_GET_DESCRIPTOR,
                                    LIBUSB_DT_STRING << 8, 0, buffer, 4, kDescriptorTimeoutMs);
    if (r < 0) {
        return r;
    }
    if (r != 4 || buffer[0] < 4 || buffer[1] != LIBUSB_DT_STRING) {
        return LIBUSB_ERROR_IO;
    }
    const std::uint16_t language = static_cast<std::uint16_t>(buffer[2] | buffer[3] << 8);
    r = libusb_control_transfer(handle, LIBUSB_ENDPOINT_IN, LIBUSB_REQUEST_GET_DESCRIPTOR,
                                static_cast<std::uint16_t>(LIBUSB_DT_STRING << 8 | index), language,
                                buffer, sizeof buffer, kDescriptorTimeoutMs);
    if (r < 0) {
        return r;
    }
    if (r < 2 || buffer[0] > r || buffer[1] != LIBUSB_DT_STRING) {
        return LIBUSB_ERROR_IO;
    }
    int out = 0;
    for (int i = 2; i + 1 < buffer[0] && out < length - 1; i += 2) {
        const unsigned unit = buffer[i] | buffer[i + 1] << 8;
        data[out++] = unit < 0x80 ? static_cast<unsigned char>(unit) : '?';
    }
    data[out] = 0;
    return out;
}

// --- Asynchronous transfers ---------------------------------------------------

struct libusb_transfer *libusb_alloc_transfer(int isoPackets)
{
    if (isoPackets < 0) {
        return nullptr;
    }
    const std::size_t size =
        sizeof(libusb_transfer)
        + static_cast<std::size_t>(isoPackets) * sizeof(libusb_iso_packet_descriptor);
    auto *transfer = static_cast<libusb_transfer *>(std::calloc(1, size));
    if (transfer != nullptr) {
        transfer->num_iso_packets = isoPackets;
    }
    return transfer;
}

void libusb_free_transfer(struct libusb_transfer *transfer)
{
    if (transfer == nullptr) {
        return;
    }
    {
        Lock lock(Emu().mutex);
        Unlink(transfer);  // freeing one on its way is the caller's error; forget it
    }
    if ((transfer->flags & LIBUSB_TRANSFER_FREE_BUFFER) != 0) {
        std::free(transfer->buffer);
    }
    std::free(transfer);
}

int libusb_submit_transfer(struct libusb_transfer *transfer)
{
    if (transfer == nullptr || transfer->dev_handle == nullptr) {
        return LIBUSB_ERROR_INVALID_PARAM;
    }
    Emulation &emu = Emu();
    Lock lock(emu.mutex);
    const auto it = emu.asyncFlights.find(transfer);
    if (it != emu.asyncFlights.end()) {
        return LIBUSB_ERROR_BUSY;
    }
    if (transfer->type != LIBUSB_TRANSFER_TYPE_BULK) {
        return LIBUSB_ERROR_NOT_SUPPORTED;
    }
    auto flight = std::make_unique<Flight>();
    const int submitted = Submit(transfer->dev_handle, transfer->endpoint, transfer->buffer,
                                 transfer->length, transfer->timeout, *flight, Clock::now());
    if (submitted != 0) {
        return submitted;
    }
    flight->transfer = transfer;
    transfer->dev_handle->context->flights.push_back(flight.get());
    emu.asyncFlights[transfer] = std::move(flight);
    return LIBUSB_SUCCESS;
}

int libusb_cancel_transfer(struct libusb_transfer *transfer)
{
    Emulation &emu = Emu();
    Lock lock(emu.mutex);
    const auto it = emu.asyncFlights.find(transfer);
    if (it == emu.asyncFlights.end() || it->second->done || it->second->cancelled) {
        return LIBUSB_ERROR_NOT_FOUND;
    }
    it->second->cancelled = true;
    emu.changed.notify_all();
    return LIBUSB_SUCCESS;
}

// --- Events -----------------------------------------------------------------

int libusb_handle_events_timeout_completed(libusb_context *context, struct timeval *tv,
                                           int *completed)
{
    // One round: waits up to tv for the first event of this context, then
    // delivers everything that is due (hot-plug events first, then
    // finished transfers), each callback in this thread without the lock.
    Emulation &emu = Emu();
    Lock lock(emu.mutex);
    libusb_context *c = ContextOf(context);
    if (c == nullptr || tv == nullptr || tv->tv_sec < 0 || tv->tv_usec < 0) {
        return LIBUSB_ERROR_INVALID_PARAM;
    }
    const TimePoint deadline =
        Clock::now() + std::chrono::seconds(tv->tv_sec) + std::chrono::microseconds(tv->tv_usec);
    for (;;) {
        if (completed != nullptr && *completed != 0) {
            return LIBUSB_SUCCESS;
        }
        const TimePoint now = Clock::now();
        const TimePoint wake = emu.Pump(now);

        std::deque<HotplugEvent> events;
        events.swap(c->hotplugEvents);
        std::vector<std::unique_ptr<Flight>> finished;
        for (Flight *f : std::vector<Flight *>(c->flights)) {
            if (f->done) {
                finished.push_back(Unlink(f->transfer));
            }
        }
        if (!events.empty() || !finished.empty()) {
            for (const HotplugEvent &event : events) {
                RunHotplugCallbacks(lock, c, event.device, event.event);
                UnrefDevice(event.device);
            }
            for (const auto &f : finished) {
                libusb_transfer *transfer = f->transfer;
                transfer->status = StatusOf(*f);
                transfer->actual_length = f->actual;
                lock.unlock();
                if (transfer->callback != nullptr) {
                    transfer->callback(transfer);
                }
                if ((transfer->flags & LIBUSB_TRANSFER_FREE_TRANSFER) != 0) {
                    libusb_free_transfer(transfer);
                }
                lock.lock();
            }
            return LIBUSB_SUCCESS;
        }
        if (now >= deadline) {
            return LIBUSB_SUCCESS;
        }
        emu.changed.wait_until(lock, std::min(wake, deadline));
    }
}

int libusb_handle_events_timeout(libusb_context *context, struct timeval *tv)
{
    return libusb_handle_events_timeout_completed(context, tv, nullptr);
}

int libusb_handle_events_completed(libusb_context *context, int *completed)
{
    timeval tv = {60, 0};
    return libusb_handle_events_timeout_completed(context, &tv, completed);
}

int libusb_handle_events(libusb_context *context)
{
    return libusb_handle_events_completed(context, nullptr);
}

// --- Hot-plug -----------------------------------------------------------------

int libusb_hotplug_register_callback(libusb_context *context, int events, int flags, int vendorId,
                                     int productId, int deviceClass,
                                     libusb_hotplug_callback_fn function, void *userData,
                                     libusb_hotplug_callback_handle *callbackHandle)
{
    const int validEvents = LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED | LIBUSB_HOTPLUG_EVENT_DEVICE_LEFT;
    if (events == 0 || (events & ~validEvents) != 0 || (flags & ~LIBUSB_HOTPLUG_ENUMERATE) != 0
        || (vendorId != LIBUSB_HOTPLUG_MATCH_ANY && (vendorId & ~0xFFFF) != 0)
        || (productId != LIBUSB_HOTPLUG_MATCH_ANY && (productId & ~0xFFFF) != 0)
        || (deviceClass != LIBUSB_HOTPLUG_MATCH_ANY && (deviceClass & ~0xFF) != 0)
        || function == nullptr) {
        return LIBUSB_ERROR_INVALID_PARAM;
    }
    Emulation &emu = Emu();
    if (!emu.hotplugSupported) {
        return LIBUSB_ERROR_NOT_SUPPORTED;
    }
    Lock lock(emu.mutex);
    libusb_context *c = ContextOf(context);
    if (c == nullptr) {
        return LIBUSB_ERROR_INVALID_PARAM;
    }
    const HotplugCallback callback = {c->nextCallback++, events,   vendorId, productId,
                                      deviceClass,       function, userData};
    c->callbacks.push_back(callback);

    // Devices already there, in this thread and before returning, as libusb
    // does.
    if ((flags & LIBUSB_HOTPLUG_ENUMERATE) != 0
        && (events & LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED) != 0) {
        std::vector<libusb_device *> present;
        for (const auto &converter : emu.converters) {
            if (converter->present && converter->plugged) {
                libusb_device *device = emu.DeviceFor(c, *converter);
                RefDevice(device);
                present.push_back(device);
            }
        }
        for (libusb_device *device : present) {
            if (Registered(c, callback.handle)
                && Matches(callback, device, LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED)) {
                lock.unlock();
                const int done = function(c, device, LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED, userData);
                lock.lock();
                if (done != 0) {
                    Deregister(c, callback.handle);
                }
            }
            UnrefDevice(device);
        }
    }
    if (callbackHandle != nullptr) {
        *callbackHandle = callback.handle;
    }
    return LIBUSB_SUCCESS;
}

void libusb_hotplug_deregister_callback(libusb_context *context,
                                        libusb_hotplug_callback_handle callbackHandle)
{
    Emulation &emu = Emu();
    Lock lock(emu.mutex);
    libusb_context *c = ContextOf(context);
    if (c != nullptr) {
        Deregister(c, callbackHandle);
    }
}
