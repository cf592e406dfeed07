// The virtual generator's state kept in a file, so that every process that
// uses the virtual converter meets the same generator, as every program on a
// PC meets the same real one: a value written by one `px418ctl` call is read
// by the next, and `px418ctl watch` sees a setting made from another shell.
// The file is named by PX418USB_VIRTUAL_STATE; without it each process has a
// generator of its own that starts in its power-on state.
#pragma once

#include <string>

#include "virtual/virtual_generator.h"

namespace px418virtual {

// The environment variable that names the state file.
inline constexpr const char *kSharedStateVariable = "PX418USB_VIRTUAL_STATE";

// The lasting part of the state as text (outputs, calibration, contrast, lock,
// presets, the selected parameter), and back. The parse accepts exactly what
// StateText writes, with every value in the range the device holds; anything
// else gives false and leaves `state` alone. The counters (beeps, settings
// confirmed) are not kept.
std::string StateText(const DeviceState &state);
bool ParseStateText(const std::string &text, DeviceState &state);

// One exchange with the shared generator: the constructor takes the lock
// (FILE.lock) and loads the generator from FILE, the destructor writes the
// generator back when it changed (FILE.new renamed over FILE, so that a
// process killed meanwhile leaves the earlier state whole) and releases the
// lock. Without PX418USB_VIRTUAL_STATE it does nothing.
// A file that cannot be opened, or holds something else, is reported once on
// standard error; the generator then goes on with what it holds itself (an
// unreadable file is never overwritten).
class SharedStateExchange {
public:
    explicit SharedStateExchange(VirtualGenerator &generator);
    ~SharedStateExchange();
    SharedStateExchange(const SharedStateExchange &) = delete;
    SharedStateExchange &operator=(const SharedStateExchange &) = delete;

private:
    VirtualGenerator &generator_;
    std::string path_;
    std::string loaded_;  // the file's text as read
    int lockFd_ = -1;
    bool writeBack_ = false;
};

}  // namespace px418virtual
