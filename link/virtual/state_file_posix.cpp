// The state file's operations with POSIX calls.
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "virtual/state_file.h"

namespace px418virtual {
namespace {

std::string SystemReason()
{
    return std::strerror(errno);
}

}  // namespace

bool FollowLinks(std::string &path, std::string &why)
{
    constexpr int kMaxLinks = 40;
    for (int hops = 0; hops < kMaxLinks; ++hops) {
        struct stat st {};
        if (lstat(path.c_str(), &st) != 0) {
            const bool missing = errno == ENOENT;
            why = SystemReason();
            return missing;
        }
        if (!S_ISLNK(st.st_mode)) {
            return true;
        }
        char buffer[4096];
        const ssize_t n = readlink(path.c_str(), buffer, sizeof buffer);
        if (n <= 0 || static_cast<std::size_t>(n) == sizeof buffer) {
            why = n < 0 ? SystemReason() : std::string("the link cannot be read");
            return false;
        }
        std::string target(buffer, static_cast<std::size_t>(n));
        const std::size_t slash = path.rfind('/');
        if (target.front() != '/' && slash != std::string::npos) {
            target = path.substr(0, slash + 1) + target;
        }
        path = target;
    }
    errno = ELOOP;
    why = SystemReason();
    return false;
}

FileKind KindOf(const std::string &path, std::string &why)
{
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0) {
        const bool missing = errno == ENOENT;
        why = SystemReason();
        return missing ? FileKind::Missing : FileKind::Failed;
    }
    return S_ISREG(st.st_mode) ? FileKind::Regular : FileKind::Other;
}

FileKind ReadFileText(const std::string &path, std::size_t limit, std::string &text,
                      std::string &why)
{
    text.clear();
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY | O_NOFOLLOW);
    if (fd < 0) {
        const bool missing = errno == ENOENT;
        why = SystemReason();
        return missing ? FileKind::Missing : FileKind::Failed;
    }
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        return FileKind::Other;
    }
    char buffer[4096];
    FileKind kind = FileKind::Regular;
    while (text.size() <= limit) {
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            why = SystemReason();
            kind = FileKind::Failed;
        }
        if (n <= 0) {
            break;
        }
        text.append(buffer, static_cast<std::size_t>(n));
    }
    close(fd);
    return kind;
}

bool ReplaceFileText(const std::string &path, const std::string &text, std::string &why)
{
    struct stat old {};
    const bool exists = lstat(path.c_str(), &old) == 0;
    if (!exists && errno != ENOENT) {
        why = SystemReason();
        return false;
    }
    if (exists && !S_ISREG(old.st_mode)) {
        why = "it is no longer a regular file";
        return false;
    }
    const std::string temporary = path + ".new";
    unlink(temporary.c_str());
    const int fd =
        open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0) {
        why = SystemReason();
        return false;
    }
    // Each step runs only while the ones before it succeeded; the first
    // failure's reason is the one given. The file keeps its permissions.
    bool ok = !exists || fchmod(fd, old.st_mode & 07777) == 0;
    std::size_t done = 0;
    while (ok && done < text.size()) {
        const ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            errno = n == 0 ? EIO : errno;
            ok = false;
        } else {
            done += static_cast<std::size_t>(n);
        }
    }
    ok = close(fd) == 0 && ok;
    ok = ok && rename(temporary.c_str(), path.c_str()) == 0;
    if (!ok) {
        why = SystemReason();
        unlink(temporary.c_str());
    }
    return ok;
}

bool StateFileLock::Take(const std::string &path, std::string &why)
{
    // Never blocks on the open, and never takes a terminal for the process,
    // whatever the name stands for.
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NONBLOCK | O_NOCTTY, 0644);
    if (fd < 0) {
        why = SystemReason();
        return false;
    }
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        why = path + " is not a regular file";
        close(fd);
        return false;
    }
    while (flock(fd, LOCK_EX) != 0) {
        if (errno != EINTR) {
            why = SystemReason();
            close(fd);
            return false;
        }
    }
    handle_ = fd;
    return true;
}

StateFileLock::~StateFileLock()
{
    if (Held()) {
        close(static_cast<int>(handle_));  // also releases the lock
    }
}

}  // namespace px418virtual
