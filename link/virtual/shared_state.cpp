#include "virtual/shared_state.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "px418_protocol.h"
#include "virtual/state_file.h"

namespace px418virtual {
namespace {

constexpr const char *kHeader = "PX-418 virtual generator state 1";
// A state file is about 1 KiB; anything much larger is not one.
constexpr std::size_t kMaxText = 64 * 1024;

void PutOutputs(std::ostream &out, const char *key, const Outputs &outputs)
{
    out << key;
    for (const auto &channel : outputs) {
        for (const std::int32_t value : channel) {
            out << ' ' << value;
        }
    }
    out << '\n';
}

// Reads one line "key v1 v2 ..." with exactly `count` integers.
bool ReadLine(std::istream &in, const std::string &key, std::int32_t *values, std::size_t count)
{
    std::string line;
    if (!std::getline(in, line)) {
        return false;
    }
    std::istringstream fields(line);
    std::string word;
    if (!(fields >> word) || word != key) {
        return false;
    }
    for (std::size_t i = 0; i < count; ++i) {
        long long value = 0;
        if (!(fields >> value) || value < INT32_MIN || value > INT32_MAX) {
            return false;
        }
        values[i] = static_cast<std::int32_t>(value);
    }
    return (fields >> word).fail() && fields.eof();
}

bool ReadOutputs(std::istream &in, const std::string &key, Outputs &outputs)
{
    std::int32_t values[PX418_OUTPUTS * PX418_QUANTITIES];
    if (!ReadLine(in, key, values, std::size(values))) {
        return false;
    }
    Outputs read{};
    for (std::uint8_t ch = 0; ch < PX418_OUTPUTS; ++ch) {
        for (std::uint8_t q = 0; q < PX418_QUANTITIES; ++q) {
            const std::int32_t value = values[ch * PX418_QUANTITIES + q];
            if (!AcceptsValue(ch, q, value)) {
                return false;
            }
            read[ch][q] = value;
        }
    }
    outputs = read;
    return true;
}

bool ReadCalibration(std::istream &in, const std::string &key,
                     std::array<std::int32_t, PX418_CAL_ROWS> &rows)
{
    std::array<std::int32_t, PX418_CAL_ROWS> read{};
    if (!ReadLine(in, key, read.data(), read.size())) {
        return false;
    }
    for (std::uint8_t row = 0; row < PX418_CAL_ROWS; ++row) {
        if (!AcceptsValue(PX418_GROUP_CALIBRATION, row, read[row])) {
            return false;
        }
    }
    rows = read;
    return true;
}

bool ReadSlot(std::istream &in, const std::string &key, std::int32_t &slot)
{
    return ReadLine(in, key, &slot, 1) && slot >= 0 && slot < PX418_PRESET_SLOTS;
}

void ReportOnce(std::atomic<bool> &reported, const std::string &message)
{
    if (!reported.exchange(true)) {
        std::fprintf(stderr, "libpx418usb: %s\n", message.c_str());
    }
}

std::atomic<bool> gFileReported{false};
std::atomic<bool> gLeftAloneReported{false};

// "cannot be <failed> (<why>)<consequence>", once per process.
void ReportFileError(const std::string &path, const char *failed, const std::string &why,
                     const char *consequence)
{
    ReportOnce(gFileReported, "the virtual generator's state file \"" + path + "\" cannot be "
                                  + failed + " (" + why + ")" + consequence);
}

void ReportLeftAlone(const std::string &path, const char *what)
{
    ReportOnce(gLeftAloneReported,
               "\"" + path + "\" " + what
                   + "; it is left alone and the generator keeps its state in this process only");
}

}  // namespace

std::string StateText(const DeviceState &state)
{
    std::ostringstream out;
    out << kHeader << '\n';
    PutOutputs(out, "outputs", state.outputs);
    PutOutputs(out, "active", state.active);
    out << "calibration";
    for (const std::int32_t value : state.calibration) {
        out << ' ' << value;
    }
    out << "\nstored-calibration";
    for (const std::int32_t value : state.storedCalibration) {
        out << ' ' << value;
    }
    out << "\ncontrast " << state.contrast << '\n';
    out << "mode " << static_cast<int>(state.mode) << '\n';
    for (std::size_t slot = 0; slot < state.presets.size(); ++slot) {
        PutOutputs(out, ("preset" + std::to_string(slot)).c_str(), state.presets[slot]);
    }
    out << "preset-stored " << state.presetStored << '\n';
    out << "preset-loaded " << state.presetLoaded << '\n';
    out << "selected " << static_cast<int>(state.selectedGroup) << ' '
        << static_cast<int>(state.selectedNumber) << '\n';
    return out.str();
}

bool ParseStateText(const std::string &text, DeviceState &state)
{
    if (text.size() > kMaxText) {
        return false;
    }
    std::istringstream in(text);
    std::string header;
    if (!std::getline(in, header) || header != kHeader) {
        return false;
    }
    DeviceState read = state;
    std::int32_t contrast = 0;
    std::int32_t mode = 0;
    std::int32_t selected[2] = {};
    if (!ReadOutputs(in, "outputs", read.outputs) || !ReadOutputs(in, "active", read.active)
        || !ReadCalibration(in, "calibration", read.calibration)
        || !ReadCalibration(in, "stored-calibration", read.storedCalibration)
        || !ReadLine(in, "contrast", &contrast, 1)
        || !AcceptsValue(PX418_GROUP_SYSTEM, PX418_SYS_CONTRAST, contrast)
        || !ReadLine(in, "mode", &mode, 1) || mode < 0 || mode > 0xFF) {
        return false;
    }
    for (std::size_t slot = 0; slot < read.presets.size(); ++slot) {
        if (!ReadOutputs(in, "preset" + std::to_string(slot), read.presets[slot])) {
            return false;
        }
    }
    if (!ReadSlot(in, "preset-stored", read.presetStored)
        || !ReadSlot(in, "preset-loaded", read.presetLoaded)
        || !ReadLine(in, "selected", selected, 2) || selected[0] < 0 || selected[0] > 0xFF
        || selected[1] < 0 || selected[1] > 0xFF
        || !IsValueParameter(static_cast<std::uint8_t>(selected[0]),
                             static_cast<std::uint8_t>(selected[1]))) {
        return false;
    }
    std::string rest;
    if (in >> rest) {
        return false;  // trailing text
    }
    read.contrast = contrast;
    read.mode = static_cast<std::uint8_t>(mode);
    read.selectedGroup = static_cast<std::uint8_t>(selected[0]);
    read.selectedNumber = static_cast<std::uint8_t>(selected[1]);
    state = read;
    return true;
}

SharedStateExchange::SharedStateExchange(VirtualGenerator &generator) : generator_(generator)
{
    Load();
    if (sharing_ != Sharing::Off) {
        before_ = generator_.State();
    }
}

void SharedStateExchange::Load()
{
    const char *named = std::getenv(kSharedStateVariable);
    if (named == nullptr || *named == '\0') {
        return;
    }
    path_ = named;
    target_ = path_;
    const auto unreachable = [this](const char *failed, const std::string &why) {
        ReportFileError(path_, failed, why, "; the generator takes no changes while it cannot be");
        sharing_ = Sharing::Unreachable;
    };
    std::string why;
    if (!FollowLinks(target_, why)) {
        unreachable("read", why);
        return;
    }
    // Whether what a look at the name found lets the exchange go on.
    const auto usable = [&](FileKind kind) {
        if (kind == FileKind::Other) {
            ReportLeftAlone(path_, "is not a regular file");
            sharing_ = Sharing::ThisProcess;
        } else if (kind == FileKind::Failed) {
            unreachable("read", why);
        }
        return kind == FileKind::Missing || kind == FileKind::Regular;
    };
    // Looked at before anything is made beside it: a device or a pipe gets
    // no lock file either.
    if (!usable(KindOf(target_, why))) {
        return;
    }
    // The lock has a file of its own: the state file is replaced, not
    // rewritten, at every change. So it is always read whole, and without
    // the lock it is still read, only never written.
    if (!lock_.Take(target_ + ".lock", why)) {
        unreachable("locked", why);
    }
    // Anything longer than kMaxText is refused by the parse.
    if (!usable(ReadFileText(target_, kMaxText, loaded_, why))) {
        return;
    }
    // An empty file is a new one: it gets this generator's state.
    DeviceState state = generator_.State();
    if (!loaded_.empty() && !ParseStateText(loaded_, state)) {
        ReportLeftAlone(path_, "is not a virtual generator's state file");
        sharing_ = Sharing::ThisProcess;
        return;
    }
    generator_.SetState(state);
    if (lock_.Held()) {
        sharing_ = Sharing::Shared;
    }
}

bool SharedStateExchange::Store()
{
    if (sharing_ == Sharing::Off || sharing_ == Sharing::ThisProcess) {
        return true;
    }
    const std::string now = StateText(generator_.State());
    const bool changed = now != StateText(before_);
    if (sharing_ == Sharing::Shared) {
        std::string why;
        if (now == loaded_ || ReplaceFileText(target_, now, why)) {
            return true;
        }
        ReportFileError(path_, "written", why, changed ? "; the change is not kept" : "");
    }
    if (!changed) {
        return true;  // a read is answered from what the process holds
    }
    generator_.SetState(before_);
    return false;
}

SharedStateExchange::~SharedStateExchange() = default;

}  // namespace px418virtual
