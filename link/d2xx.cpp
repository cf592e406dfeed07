// Choice of the converter driver behind the D2XX table, and the loading of a
// D2XX-compatible shared library by name or path.
#include "d2xx.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <string_view>
#include <type_traits>

#include "d2xx_table.h"
#include "dynlib.h"

namespace {

// The driver of an unset or empty PX418USB_DRIVER: libftdi1 where the
// library is built with it; on Windows the converter maker's own D2XX
// library, from the program's folder or the system folder.
#if defined(PX418USB_WITH_LIBFTDI)
constexpr const char *kDefaultDriver = "libftdi";
#else
constexpr const char *kDefaultDriver = "ftd2xx.dll";
#endif

// The table used when no provider could be loaded: every call fails, so the
// count fails and no device is ever opened.
struct Unavailable : D2xxStub<FT_INVALID_HANDLE> {
    static constexpr FT_ListDevices_t ListDevices = D2xxStub<FT_DEVICE_NOT_FOUND>::ListDevices;
    static constexpr FT_Open_t Open = D2xxStub<FT_DEVICE_NOT_FOUND>::Open;
};
constexpr D2xxApi kFailingApi = D2xxTableOf<Unavailable>();

std::atomic<const D2xxApi *> current{nullptr};
std::mutex chooseLock;
std::atomic<bool> failureReported{false};
std::atomic<bool> serialNoticeGiven{false};

const D2xxApi *Choose()
{
    const char *name = std::getenv("PX418USB_DRIVER");
    if (name == nullptr || name[0] == '\0') {
        name = kDefaultDriver;
    }
    const char *why = "unknown reason";
    const D2xxApi *api = nullptr;
    if (std::strcmp(name, "libftdi") == 0) {
#if defined(PX418USB_WITH_LIBFTDI)
        api = D2xxLibftdiProvider(&why);
#else
        why = "this build of the library has no libftdi1 driver";
#endif
    } else if (std::strcmp(name, "virtual") == 0) {
        api = D2xxVirtualProvider();
        why = "the virtual converter is not available";
    } else {
        api = D2xxLoadLibrary(name, &why);
    }
    // Only the libftdi1 driver reads serial numbers; a choice of converter
    // that is not applied should not pass unnoticed.
    const char *serial = std::getenv("PX418USB_SERIAL");
    if (api != nullptr && name != std::string_view("libftdi") && serial != nullptr
        && serial[0] != '\0' && !serialNoticeGiven.exchange(true)) {
        std::fprintf(stderr,
                     "libpx418usb: PX418USB_SERIAL is not applied by converter driver \"%s\";"
                     " all its converters are searched\n",
                     name);
    }
    if (api != nullptr) {
        return api;
    }

    if (!failureReported.exchange(true)) {
        std::fprintf(stderr, "libpx418usb: converter driver \"%s\" cannot be used: %s\n", name,
                     why);
    }
    return &kFailingApi;
}

}  // namespace

const D2xxApi &D2xx()
{
    const D2xxApi *api = current.load(std::memory_order_acquire);
    if (api != nullptr) {
        return *api;
    }
    std::lock_guard<std::mutex> guard(chooseLock);
    api = current.load(std::memory_order_acquire);
    if (api == nullptr) {
        api = Choose();
        current.store(api, std::memory_order_release);
    }
    return *api;
}

void D2xxInstall(const D2xxApi *api)
{
    std::lock_guard<std::mutex> guard(chooseLock);
    current.store(api, std::memory_order_release);
}

const D2xxApi *D2xxLoadLibrary(const char *nameOrPath, const char **why)
{
    // Reasons outlive this call.
    static char reason[512];
    static D2xxApi loaded;

    std::string error;
    void *library = DynlibOpen(nameOrPath, error);
    if (library == nullptr) {
        std::snprintf(reason, sizeof reason, "%s", error.c_str());
        if (why != nullptr) {
            *why = reason;
        }
        return nullptr;
    }

    // Resolves one function into its slot; false (and the reason) when the
    // library does not export it.
    const auto resolve = [&](const char *symbol, auto &slot) {
        void *address = DynlibSymbol(library, symbol);
        if (address == nullptr) {
            std::snprintf(reason, sizeof reason, "%s does not export %s", nameOrPath, symbol);
            return false;
        }
        slot = reinterpret_cast<std::remove_reference_t<decltype(slot)>>(address);
        return true;
    };
    D2xxApi api{};
    const bool complete =
        resolve("FT_ListDevices", api.ListDevices) && resolve("FT_Open", api.Open)
        && resolve("FT_Close", api.Close) && resolve("FT_Read", api.Read)
        && resolve("FT_Write", api.Write) && resolve("FT_SetBaudRate", api.SetBaudRate)
        && resolve("FT_SetDataCharacteristics", api.SetDataCharacteristics)
        && resolve("FT_SetTimeouts", api.SetTimeouts)
        && resolve("FT_SetLatencyTimer", api.SetLatencyTimer) && resolve("FT_Purge", api.Purge);
    if (!complete) {
        if (why != nullptr) {
            *why = reason;
        }
        DynlibClose(library);
        return nullptr;
    }
    // The library stays loaded for the rest of the process: its functions
    // are in the table.
    loaded = api;
    return &loaded;
}
