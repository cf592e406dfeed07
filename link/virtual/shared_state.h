// The virtual generator's state kept in a file, so that every process that
// uses the virtual converter meets the same generator, as every program on a
// PC meets the same real one: a value written by one `px418ctl` call is read
// by the next, and `px418ctl watch` sees a setting made from another shell.
// The file is named by PX418USB_VIRTUAL_STATE; without it each process has a
// generator of its own that starts in its power-on state.
#pragma once

#include <string>

#include "virtual/state_file.h"
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
// (FILE.lock) and loads the generator from FILE; Store, after the exchange,
// writes the generator back when it changed (FILE.new renamed over FILE, so
// that a process killed meanwhile leaves the earlier state whole); the
// destructor releases the lock. Without PX418USB_VIRTUAL_STATE it does
// nothing.
//
// A symbolic link is followed to the file it names, which is locked and
// replaced in its place, so that every name of it meets one generator (on
// Windows a symbolic link or a junction is left alone instead). A name that
// stands for anything but a regular file (a folder, a device, a pipe), and a
// file that holds something else than a state, are left alone:
// they are never opened in a way that could block, never written, and the
// generator keeps its state in this process only.
// A file that cannot be locked, read or written keeps the shared generator
// out of reach: an exchange that would change it fails (Store gives false
// and puts the generator back as it was), while one that only reads is
// answered from the file when it can be read (it is always whole), else from
// what the process holds. Each trouble is reported once on standard error.
class SharedStateExchange {
public:
    explicit SharedStateExchange(VirtualGenerator &generator);
    ~SharedStateExchange();
    SharedStateExchange(const SharedStateExchange &) = delete;
    SharedStateExchange &operator=(const SharedStateExchange &) = delete;

    // Keeps what the exchange changed; false when the change could not reach
    // the shared generator.
    bool Store();

private:
    enum class Sharing {
        Off,          // no state file named
        Shared,       // locked and loaded: changes are written back
        ThisProcess,  // the name is left alone: the generator is this process's own
        Unreachable,  // the file could not be locked or read: changes are refused
    };

    void Load();

    VirtualGenerator &generator_;
    Sharing sharing_ = Sharing::Off;
    std::string path_;    // as named
    std::string target_;  // the regular file it stands for, links followed
    std::string loaded_;  // the file's text as read
    DeviceState before_;  // the generator before the exchange
    StateFileLock lock_;
};

}  // namespace px418virtual
