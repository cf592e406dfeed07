#include "virtual/shared_state.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>

#include "px418_protocol.h"

namespace px418virtual {
namespace {

constexpr const char *kHeader = "PX-418 virtual generator state 1";
// A state file is about 1 KiB; anything much larger is not one.
constexpr std::size_t kMaxText = 64 * 1024;

void PutOutputs(std::ostream &out, const char *key, const Outputs &outputs)
{
    out << key;
    for (const auto &channel : outputs)
        for (const std::int32_t value : channel)
            out << ' ' << value;
    out << '\n';
}

// Reads one line "key v1 v2 ..." with exactly `count` integers.
bool ReadLine(std::istream &in, const std::string &key, std::int32_t *values, std::size_t count)
{
    std::string line;
    if (!std::getline(in, line))
        return false;
    std::istringstream fields(line);
    std::string word;
    if (!(fields >> word) || word != key)
        return false;
    for (std::size_t i = 0; i < count; ++i) {
        long long value = 0;
        if (!(fields >> value) || value < INT32_MIN || value > INT32_MAX)
            return false;
        values[i] = static_cast<std::int32_t>(value);
    }
    return (fields >> word).fail() && fields.eof();
}

bool ReadOutputs(std::istream &in, const std::string &key, Outputs &outputs)
{
    std::int32_t values[PX418_OUTPUTS * PX418_QUANTITIES];
    if (!ReadLine(in, key, values, std::size(values)))
        return false;
    Outputs read{};
    for (std::uint8_t ch = 0; ch < PX418_OUTPUTS; ++ch)
        for (std::uint8_t q = 0; q < PX418_QUANTITIES; ++q) {
            const std::int32_t value = values[ch * PX418_QUANTITIES + q];
            if (!AcceptsValue(ch, q, value))
                return false;
            read[ch][q] = value;
        }
    outputs = read;
    return true;
}

bool ReadCalibration(std::istream &in, const std::string &key,
                     std::array<std::int32_t, PX418_CAL_ROWS> &rows)
{
    std::array<std::int32_t, PX418_CAL_ROWS> read{};
    if (!ReadLine(in, key, read.data(), read.size()))
        return false;
    for (std::uint8_t row = 0; row < PX418_CAL_ROWS; ++row)
        if (!AcceptsValue(PX418_GROUP_CALIBRATION, row, read[row]))
            return false;
    rows = read;
    return true;
}

bool ReadSlot(std::istream &in, const std::string &key, std::int32_t &slot)
{
    return ReadLine(in, key, &slot, 1) && slot >= 0 && slot < PX418_PRESET_SLOTS;
}

void ReportOnce(std::atomic<bool> &reported, const std::string &message)
{
    if (!reported.exchange(true))
        std::fprintf(stderr, "libpx418usb: %s\n", message.c_str());
}

std::atomic<bool> gOpenReported{false};
std::atomic<bool> gContentReported{false};

// "cannot be <failed>", with the system's reason, once per process.
void ReportFileError(const std::string &path, const char *failed, bool inProcessOnly)
{
    ReportOnce(gOpenReported,
               "the virtual generator's state file \"" + path + "\" cannot be " + failed + " ("
                   + std::strerror(errno) + ")"
                   + (inProcessOnly ? "; the generator keeps its state in this process only" : ""));
}

// The whole file, or false with errno set. A missing file reads as empty.
bool ReadFileText(const std::string &path, std::string &text)
{
    text.clear();
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return errno == ENOENT;
    char buffer[4096];
    bool ok = true;
    while (text.size() <= kMaxText) {  // anything longer is refused by the parse
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            ok = n == 0;
            break;
        }
        text.append(buffer, static_cast<std::size_t>(n));
    }
    const int error = errno;
    close(fd);
    errno = error;
    return ok;
}

// Writes a file beside `path` and renames it over `path`, so that a process
// killed while writing leaves the earlier state whole.
bool ReplaceFileText(const std::string &path, const std::string &text)
{
    const std::string temporary = path + ".new";
    const int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += static_cast<std::size_t>(n);
    }
    const bool written = done == text.size();
    const int error = errno;
    if (close(fd) != 0 || !written || rename(temporary.c_str(), path.c_str()) != 0) {
        const int failure = written ? errno : error;
        unlink(temporary.c_str());
        errno = failure;
        return false;
    }
    return true;
}

}  // namespace

std::string StateText(const DeviceState &state)
{
    std::ostringstream out;
    out << kHeader << '\n';
    PutOutputs(out, "outputs", state.outputs);
    PutOutputs(out, "active", state.active);
    out << "calibration";
    for (const std::int32_t value : state.calibration)
        out << ' ' << value;
    out << "\nstored-calibration";
    for (const std::int32_t value : state.storedCalibration)
        out << ' ' << value;
    out << "\ncontrast " << state.contrast << '\n';
    out << "mode " << static_cast<int>(state.mode) << '\n';
    for (std::size_t slot = 0; slot < state.presets.size(); ++slot)
        PutOutputs(out, ("preset" + std::to_string(slot)).c_str(), state.presets[slot]);
    out << "preset-stored " << state.presetStored << '\n';
    out << "preset-loaded " << state.presetLoaded << '\n';
    out << "selected " << static_cast<int>(state.selectedGroup) << ' '
        << static_cast<int>(state.selectedNumber) << '\n';
    return out.str();
}

bool ParseStateText(const std::string &text, DeviceState &state)
{
    if (text.size() > kMaxText)
        return false;
    std::istringstream in(text);
    std::string header;
    if (!std::getline(in, header) || header != kHeader)
        return false;
    DeviceState read = state;
    std::int32_t contrast = 0;
    std::int32_t mode = 0;
    std::int32_t selected[2] = {};
    if (!ReadOutputs(in, "outputs", read.outputs) || !ReadOutputs(in, "active", read.active)
        || !ReadCalibration(in, "calibration", read.calibration)
        || !ReadCalibration(in, "stored-calibration", read.storedCalibration)
        || !ReadLine(in, "contrast", &contrast, 1)
        || !AcceptsValue(PX418_GROUP_SYSTEM, PX418_SYS_CONTRAST, contrast)
        || !ReadLine(in, "mode", &mode, 1) || mode < 0 || mode > 0xFF)
        return false;
    for (std::size_t slot = 0; slot < read.presets.size(); ++slot)
        if (!ReadOutputs(in, "preset" + std::to_string(slot), read.presets[slot]))
            return false;
    if (!ReadSlot(in, "preset-stored", read.presetStored)
        || !ReadSlot(in, "preset-loaded", read.presetLoaded)
        || !ReadLine(in, "selected", selected, 2) || selected[0] < 0 || selected[0] > 0xFF
        || selected[1] < 0 || selected[1] > 0xFF
        || !IsValueParameter(static_cast<std::uint8_t>(selected[0]),
                             static_cast<std::uint8_t>(selected[1])))
        return false;
    std::string rest;
    if (in >> rest)
        return false;  // trailing text
    read.contrast = contrast;
    read.mode = static_cast<std::uint8_t>(mode);
    read.selectedGroup = static_cast<std::uint8_t>(selected[0]);
    read.selectedNumber = static_cast<std::uint8_t>(selected[1]);
    state = read;
    return true;
}

SharedStateExchange::SharedStateExchange(VirtualGenerator &generator) : generator_(generator)
{
    const char *path = std::getenv(kSharedStateVariable);
    if (path == nullptr || *path == '\0')
        return;
    path_ = path;
    // The lock has a file of its own: the state file is replaced, not
    // rewritten, at every change.
    lockFd_ = open((path_ + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (lockFd_ < 0) {
        ReportFileError(path_, "locked", true);
        return;
    }
    while (flock(lockFd_, LOCK_EX) != 0 && errno == EINTR) {
    }
    if (!ReadFileText(path_, loaded_)) {
        ReportFileError(path_, "read", true);
        return;
    }
    if (loaded_.empty()) {
        writeBack_ = true;  // a new file: it gets this generator's state
        return;
    }
    DeviceState state = generator_.State();
    if (!ParseStateText(loaded_, state)) {
        ReportOnce(gContentReported,
                   "\"" + path_
                       + "\" is not a virtual generator's state file; it is left alone and the "
                         "generator keeps its state in this process only");
        return;
    }
    generator_.SetState(state);
    writeBack_ = true;
}

SharedStateExchange::~SharedStateExchange()
{
    if (lockFd_ < 0)
        return;
    if (writeBack_) {
        const std::string text = StateText(generator_.State());
        if (text != loaded_ && !ReplaceFileText(path_, text))
            ReportFileError(path_, "written", false);
    }
    close(lockFd_);  // also releases the lock
}

}  // namespace px418virtual
