// The file operations of the shared state file, one file per system
// (state_file_posix.cpp, state_file_win32.cpp), with the same rules on each:
// only a regular file is ever read, locked or replaced, and nothing is opened
// in a way that could block or take over a device. Every failure gives a
// reason for the user.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace px418virtual {

enum class FileKind { Missing, Regular, Other, Failed };

// The name that `path` stands for: symbolic links at its last component
// followed, up to a name that is no link or does not exist (a state file made
// there later is then the link's target). False, with the reason, when a
// link cannot be read or the links go round. Windows keeps the name as it
// is: there a link is a name of another kind (see KindOf).
bool FollowLinks(std::string &path, std::string &why);

// What the name is, without opening it: a missing name, a regular file, or
// something else (a folder, a device, a pipe; on Windows also a symbolic link
// or a junction, and a name that the system takes for a device, such as NUL
// or COM1).
FileKind KindOf(const std::string &path, std::string &why);

// The whole file, up to a little more than `limit` bytes; a missing file
// reads as empty (Missing). Opened so that a name that has meanwhile become
// something else is neither waited on nor read (Other).
FileKind ReadFileText(const std::string &path, std::size_t limit, std::string &text,
                      std::string &why);

// Writes PATH.new and moves it over `path`, so that a process killed while
// writing leaves the earlier state whole. Only a regular file is replaced;
// whatever holds the name PATH.new goes first, so that the new file is always
// this process's own and never written through a link.
bool ReplaceFileText(const std::string &path, const std::string &text, std::string &why);

// An exclusive lock that holds across processes, on a lock file of its own
// (made when missing), held until the object goes.
class StateFileLock {
public:
    StateFileLock() = default;
    ~StateFileLock();
    StateFileLock(const StateFileLock &) = delete;
    StateFileLock &operator=(const StateFileLock &) = delete;

    // Opens the lock file and waits for the lock; false, with the reason,
    // when the file cannot be opened or is no regular file, or the lock
    // cannot be taken.
    bool Take(const std::string &path, std::string &why);
    bool Held() const { return handle_ != kNone; }

private:
    static constexpr std::intptr_t kNone = -1;
    std::intptr_t handle_ = kNone;  // a file descriptor, or a Windows HANDLE
};

}  // namespace px418virtual
