// The virtual generator: a streaming Wake frame decoder in front of a model of
// the PX-418's settings. Every request frame gets one answer frame with the
// request's command code; byte 0 of its data is the error code (0 = done),
// except for echo and info, whose answers carry data only.
#include "virtual/virtual_generator.h"

#include <algorithm>
#include <stdexcept>
#include <utility>

#include "wake.h"

namespace px418virtual {

namespace {

// Command codes.
constexpr std::uint8_t CMD_ERROR = 1;
constexpr std::uint8_t CMD_ECHO = 2;
constexpr std::uint8_t CMD_INFO = 3;
constexpr std::uint8_t CMD_SET_MODE = 6;
constexpr std::uint8_t CMD_GET_MODE = 7;
constexpr std::uint8_t CMD_SET_PAR = 8;
constexpr std::uint8_t CMD_GET_PAR = 9;
constexpr std::uint8_t CMD_GET_SEL_PAR = 10;

// Device error codes.
constexpr std::uint8_t ERR_OK = 0;
constexpr std::uint8_t ERR_PACKET = 1;
constexpr std::uint8_t ERR_PARAM = 4;

// Flag bits of a written parameter number.
constexpr std::uint8_t NUM_APPLY = 0x80;
constexpr std::uint8_t NUM_BEEP = 0x40;
constexpr std::uint8_t NUM_MASK = 0x3F;

constexpr std::uint8_t GROUP_CAL = 3;
constexpr std::uint8_t GROUP_SYS = 4;
constexpr std::uint8_t CAL_STORE = 4;
constexpr std::uint8_t SYS_PRESET_STORE = 0;
constexpr std::uint8_t SYS_PRESET_LOAD = 1;
constexpr std::uint8_t SYS_CONTRAST = 2;
constexpr std::uint8_t SYS_CONFIRM = 3;
constexpr std::int32_t PRESET_SLOTS = 10;

struct Range {
    std::int32_t min;
    std::int32_t max;
};
// Ranges of the output quantities: coupling mode, mHz, tenths of a degree,
// hundredths of a volt.
constexpr Range OUTPUT_RANGE[4] = {{0, 1}, {0, 3000000}, {-3600, 3600}, {0, 1000}};
constexpr Range CAL_RANGE = {-999, 999};
constexpr Range CONTRAST_RANGE = {0, 127};

bool InRange(std::int32_t value, Range r)
{
    return value >= r.min && value <= r.max;
}
std::int32_t Clamp(std::int32_t value, Range r)
{
    return std::clamp(value, r.min, r.max);
}

void PutValue(std::vector<std::uint8_t> &out, std::int32_t value)
{
    const auto u = static_cast<std::uint32_t>(value);
    for (int shift = 0; shift < 32; shift += 8)
        out.push_back(static_cast<std::uint8_t>(u >> shift));
}

std::int32_t GetValue(const std::uint8_t *p)
{
    const std::uint32_t u = std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8
                            | std::uint32_t{p[2]} << 16 | std::uint32_t{p[3]} << 24;
    return static_cast<std::int32_t>(u);
}

void PutStuffed(std::vector<std::uint8_t> &out, std::uint8_t value)
{
    if (value == wake::FEND) {
        out.push_back(wake::FESC);
        out.push_back(wake::TFEND);
    } else if (value == wake::FESC) {
        out.push_back(wake::FESC);
        out.push_back(wake::TFESC);
    } else {
        out.push_back(value);
    }
}

// Frame builder; crcXor != 0 spoils the CRC on purpose.
std::vector<std::uint8_t> Encode(std::uint8_t command, const std::vector<std::uint8_t> &data,
                                 std::uint8_t address, std::uint8_t crcXor)
{
    if (data.size() > 255)
        throw std::invalid_argument("a Wake frame holds at most 255 data bytes");
    std::vector<std::uint8_t> out;
    out.reserve(2 * data.size() + 10);
    std::uint8_t crc = wake::CRC_INIT;
    out.push_back(wake::FEND);
    WakeCrcUpdate(wake::FEND, crc);
    address &= 0x7F;
    if (address != 0) {
        WakeCrcUpdate(address, crc);
        PutStuffed(out, static_cast<std::uint8_t>(address | 0x80));
    }
    command &= 0x7F;
    WakeCrcUpdate(command, crc);
    PutStuffed(out, command);
    const auto length = static_cast<std::uint8_t>(data.size());
    WakeCrcUpdate(length, crc);
    PutStuffed(out, length);
    for (std::uint8_t b : data) {
        WakeCrcUpdate(b, crc);
        PutStuffed(out, b);
    }
    PutStuffed(out, static_cast<std::uint8_t>(crc ^ crcXor));
    return out;
}

template <typename T>
void Append(std::deque<T> &log, T entry)
{
    if (log.size() >= VirtualGenerator::kLogLimit)
        log.pop_front();
    log.push_back(std::move(entry));
}

}  // namespace

DeviceState DeviceState::PowerOn()
{
    DeviceState s;
    constexpr std::int32_t phase[3] = {0, -1200, 1200};
    for (int ch = 0; ch < 3; ++ch)
        s.outputs[ch] = {0, 50000, phase[ch], 1000};
    s.active = s.outputs;
    s.presets.fill(s.outputs);
    return s;
}

std::vector<std::uint8_t> EncodeFrame(std::uint8_t command, const std::vector<std::uint8_t> &data,
                                      std::uint8_t address)
{
    return Encode(command, data, address, 0);
}

VirtualGenerator::VirtualGenerator() : state_(DeviceState::PowerOn()) {}

void VirtualGenerator::Reset()
{
    std::lock_guard lock(mutex_);
    state_ = DeviceState::PowerOn();
    log_.clear();
    writes_.clear();
    if (!plugged_)
        ++connection_;
    plugged_ = true;
    silent_ = false;
    corruptNext_ = false;
    noise_.clear();
    replaceNext_.clear();
    replaceNextSet_ = false;
    pos_ = Pos::Hunt;
    escape_ = false;
    frame_ = ReceivedFrame{};
}

std::vector<std::uint8_t> VirtualGenerator::Receive(const std::uint8_t *bytes, std::size_t count)
{
    std::vector<std::uint8_t> out;
    std::lock_guard lock(mutex_);
    if (!plugged_)
        return out;
    for (std::size_t i = 0; i < count; ++i)
        FeedByte(bytes[i], out);
    return out;
}

void VirtualGenerator::StartFrame()
{
    frame_ = ReceivedFrame{};
    frame_.raw.push_back(wake::FEND);
    crc_ = wake::CRC_INIT;
    WakeCrcUpdate(wake::FEND, crc_);
    escape_ = false;
    length_ = 0;
    pos_ = Pos::Address;
}

void VirtualGenerator::AbandonFrame()
{
    frame_.valid = false;
    Log(std::move(frame_));
    frame_ = ReceivedFrame{};
    pos_ = Pos::Hunt;
}

void VirtualGenerator::FeedByte(std::uint8_t byte, std::vector<std::uint8_t> &out)
{
    if (pos_ == Pos::Hunt) {
        if (byte == wake::FEND)
            StartFrame();
        return;  // anything before a FEND is line noise
    }
    if (byte == wake::FEND) {
        // FEND never occurs inside a stuffed frame: the sender gave up on the
        // frame so far and starts again.
        AbandonFrame();
        StartFrame();
        return;
    }
    frame_.raw.push_back(byte);
    std::uint8_t value = byte;
    if (escape_) {
        escape_ = false;
        if (byte == wake::TFEND) {
            value = wake::FEND;
        } else if (byte == wake::TFESC) {
            value = wake::FESC;
        } else {
            FinishFrame(false, out);
            return;
        }
    } else if (byte == wake::FESC) {
        escape_ = true;
        return;
    }

    switch (pos_) {
    case Pos::Address:
        if (value & 0x80) {
            frame_.address = value & 0x7F;
            value = frame_.address;
            pos_ = Pos::Command;
        } else {
            frame_.command = value;
            pos_ = Pos::Length;
        }
        break;
    case Pos::Command:
        if (value & 0x80) {
            FinishFrame(false, out);
            return;
        }
        frame_.command = value;
        pos_ = Pos::Length;
        break;
    case Pos::Length:
        length_ = value;
        pos_ = length_ == 0 ? Pos::Crc : Pos::Data;
        break;
    case Pos::Data:
        frame_.data.push_back(value);
        if (frame_.data.size() == length_)
            pos_ = Pos::Crc;
        break;
    case Pos::Crc:
        WakeCrcUpdate(value, crc_);
        FinishFrame(crc_ == 0, out);
        return;
    case Pos::Hunt:
        break;
    }
    WakeCrcUpdate(value, crc_);
}

void VirtualGenerator::FinishFrame(bool valid, std::vector<std::uint8_t> &out)
{
    frame_.valid = valid;
    pos_ = Pos::Hunt;
    escape_ = false;
    ReceivedFrame frame = std::move(frame_);
    frame_ = ReceivedFrame{};
    if (silent_) {
        Log(std::move(frame));
        return;
    }
    std::vector<std::uint8_t> answer =
        valid ? HandleFrame(frame) : std::vector<std::uint8_t>{CMD_ERROR, ERR_PACKET};
    Log(std::move(frame));
    // HandleFrame gives the command code followed by the answer's data.
    const std::uint8_t command = answer.front();
    answer.erase(answer.begin());
    Answer(Encode(command, answer, 0, corruptNext_ ? 0xFF : 0), out);
    corruptNext_ = false;
}

void VirtualGenerator::Answer(std::vector<std::uint8_t> frame, std::vector<std::uint8_t> &out)
{
    out.insert(out.end(), noise_.begin(), noise_.end());
    noise_.clear();
    if (replaceNextSet_) {
        frame = std::move(replaceNext_);
        replaceNext_.clear();
        replaceNextSet_ = false;
    }
    out.insert(out.end(), frame.begin(), frame.end());
}

void VirtualGenerator::Log(ReceivedFrame frame)
{
    Append(log_, std::move(frame));
}

// Carries out one valid request. The result is the answer's command code
// followed by its data.
std::vector<std::uint8_t> VirtualGenerator::HandleFrame(const ReceivedFrame &frame)
{
    const std::uint8_t cmd = frame.command;
    const std::vector<std::uint8_t> &data = frame.data;
    std::vector<std::uint8_t> answer;
    answer.reserve(8 + data.size());
    answer.push_back(cmd);
    switch (cmd) {
    case CMD_ECHO:
        answer.insert(answer.end(), data.begin(), data.end());
        return answer;
    case CMD_INFO:
        for (const char *p = kIdentity; *p != '\0'; ++p)
            answer.push_back(static_cast<std::uint8_t>(*p));
        return answer;
    case CMD_SET_MODE:
        if (data.size() != 1) {
            answer.push_back(ERR_PARAM);
        } else {
            state_.mode = data[0];
            answer.push_back(ERR_OK);
        }
        return answer;
    case CMD_GET_MODE:
        if (!data.empty()) {
            answer.push_back(ERR_PARAM);
        } else {
            answer.push_back(ERR_OK);
            answer.push_back(state_.mode);
        }
        return answer;
    case CMD_SET_PAR: {
        const std::vector<std::uint8_t> rest = SetParameter(data);
        answer.insert(answer.end(), rest.begin(), rest.end());
        return answer;
    }
    case CMD_GET_PAR: {
        const std::vector<std::uint8_t> rest = GetParameter(data);
        answer.insert(answer.end(), rest.begin(), rest.end());
        return answer;
    }
    case CMD_GET_SEL_PAR: {
        std::int32_t value = 0;
        if (!data.empty() || !ReadValue(state_.selectedGroup, state_.selectedNumber, value)) {
            answer.push_back(ERR_PARAM);
            return answer;
        }
        answer.push_back(ERR_OK);
        answer.push_back(state_.selectedGroup);
        answer.push_back(state_.selectedNumber);
        PutValue(answer, value);
        return answer;
    }
    default:
        // No operation, error report, set and get address, and codes the
        // device does not know: refused as an invalid packet.
        answer.push_back(ERR_PACKET);
        return answer;
    }
}

// Set parameter: group, number (low 6 bits: the parameter; bit 7: apply every
// written value; bit 6: beep), 4-byte value. A refused write changes nothing.
std::vector<std::uint8_t> VirtualGenerator::SetParameter(const std::vector<std::uint8_t> &data)
{
    if (data.size() != 6)
        return {ERR_PARAM};
    const std::uint8_t group = data[0];
    const std::uint8_t flags = data[1];
    const std::uint8_t number = flags & NUM_MASK;
    const std::int32_t value = GetValue(&data[2]);

    // Validate first, then act.
    bool valueParameter = true;  // changes a held value (and so the selection)
    if (group <= 2 && number <= 3) {
        if (!InRange(value, OUTPUT_RANGE[number]))
            return {ERR_PARAM};
    } else if (group == GROUP_CAL && number <= 3) {
        if (!InRange(value, CAL_RANGE))
            return {ERR_PARAM};
    } else if (group == GROUP_CAL && number == CAL_STORE) {
        if (value != 0)
            return {ERR_PARAM};
        valueParameter = false;
    } else if (group == GROUP_SYS && (number == SYS_PRESET_STORE || number == SYS_PRESET_LOAD)) {
        if (value < 0 || value >= PRESET_SLOTS)
            return {ERR_PARAM};
        valueParameter = false;
    } else if (group == GROUP_SYS && number == SYS_CONTRAST) {
        if (!InRange(value, CONTRAST_RANGE))
            return {ERR_PARAM};
    } else if (group == GROUP_SYS && number == SYS_CONFIRM) {
        if (value != 0)
            return {ERR_PARAM};
        valueParameter = false;
    } else {
        return {ERR_PARAM};
    }

    if (group <= 2) {
        state_.outputs[group][number] = value;
    } else if (group == GROUP_CAL) {
        if (number == CAL_STORE) {
            state_.storedCalibration = state_.calibration;
        } else {
            state_.calibration[number] = value;
        }
    } else {
        switch (number) {
        case SYS_CONTRAST:
            state_.contrast = value;
            break;
        case SYS_CONFIRM:
            ++state_.settingsConfirmed;
            break;
        default:
            break;  // presets: below, after pending values have taken effect
        }
    }
    if (flags & NUM_APPLY)
        state_.active = state_.outputs;
    if (group == GROUP_SYS && number == SYS_PRESET_STORE) {
        state_.presets[value] = state_.active;
        state_.presetStored = value;
    } else if (group == GROUP_SYS && number == SYS_PRESET_LOAD) {
        // Loading replaces the outputs, pending values included, and takes
        // effect at once.
        state_.outputs = state_.presets[value];
        state_.active = state_.outputs;
        state_.presetLoaded = value;
    }
    if (flags & NUM_BEEP)
        ++state_.beeps;
    if (valueParameter) {
        state_.selectedGroup = group;
        state_.selectedNumber = number;
    }
    Append(writes_, ParamWrite{group, flags, value});
    return {ERR_OK};
}

// Get parameter: group, plain number; answers the value last written.
std::vector<std::uint8_t>
VirtualGenerator::GetParameter(const std::vector<std::uint8_t> &data) const
{
    std::int32_t value = 0;
    if (data.size() != 2 || !ReadValue(data[0], data[1], value))
        return {ERR_PARAM};
    std::vector<std::uint8_t> answer{ERR_OK};
    PutValue(answer, value);
    return answer;
}

bool VirtualGenerator::ReadValue(std::uint8_t group, std::uint8_t number, std::int32_t &value) const
{
    if (group <= 2 && number <= 3) {
        value = state_.outputs[group][number];
    } else if (group == GROUP_CAL && number <= 3) {
        value = state_.calibration[number];
    } else if (group == GROUP_CAL && number == CAL_STORE) {
        value = 0;
    } else if (group == GROUP_SYS && number == SYS_PRESET_STORE) {
        value = state_.presetStored;
    } else if (group == GROUP_SYS && number == SYS_PRESET_LOAD) {
        value = state_.presetLoaded;
    } else if (group == GROUP_SYS && number == SYS_CONTRAST) {
        value = state_.contrast;
    } else if (group == GROUP_SYS && number == SYS_CONFIRM) {
        value = 0;
    } else {
        return false;
    }
    return true;
}

bool VirtualGenerator::TurnKnob(std::uint8_t group, std::uint8_t number, std::int32_t value)
{
    std::lock_guard lock(mutex_);
    if (group <= 2 && number <= 3) {
        value = Clamp(value, OUTPUT_RANGE[number]);
        state_.outputs[group][number] = value;
        state_.active[group][number] = value;
    } else if (group == GROUP_CAL && number <= 3) {
        state_.calibration[number] = Clamp(value, CAL_RANGE);
    } else if (group == GROUP_SYS && number == SYS_CONTRAST) {
        state_.contrast = Clamp(value, CONTRAST_RANGE);
    } else {
        return false;
    }
    state_.selectedGroup = group;
    state_.selectedNumber = number;
    return true;
}

void VirtualGenerator::SetPlugged(bool plugged)
{
    std::lock_guard lock(mutex_);
    if (plugged == plugged_)
        return;
    plugged_ = plugged;
    if (plugged) {
        ++connection_;
    } else {
        // Whatever was half received is lost with the link.
        pos_ = Pos::Hunt;
        escape_ = false;
        frame_ = ReceivedFrame{};
    }
}

bool VirtualGenerator::Plugged() const
{
    std::lock_guard lock(mutex_);
    return plugged_;
}

std::uint64_t VirtualGenerator::Connection() const
{
    std::lock_guard lock(mutex_);
    return plugged_ ? connection_ : 0;
}

void VirtualGenerator::SetSilent(bool silent)
{
    std::lock_guard lock(mutex_);
    silent_ = silent;
}

void VirtualGenerator::CorruptNextAnswer()
{
    std::lock_guard lock(mutex_);
    corruptNext_ = true;
}

void VirtualGenerator::PrefixNoise(std::vector<std::uint8_t> noise)
{
    std::lock_guard lock(mutex_);
    noise_.insert(noise_.end(), noise.begin(), noise.end());
}

void VirtualGenerator::ReplaceNextAnswer(std::vector<std::uint8_t> raw)
{
    std::lock_guard lock(mutex_);
    replaceNext_ = std::move(raw);
    replaceNextSet_ = true;
}

DeviceState VirtualGenerator::State() const
{
    std::lock_guard lock(mutex_);
    return state_;
}

void VirtualGenerator::SetState(const DeviceState &state)
{
    std::lock_guard lock(mutex_);
    state_ = state;
}

std::vector<ReceivedFrame> VirtualGenerator::FrameLog() const
{
    std::lock_guard lock(mutex_);
    return {log_.begin(), log_.end()};
}

std::vector<ParamWrite> VirtualGenerator::ParamWrites() const
{
    std::lock_guard lock(mutex_);
    return {writes_.begin(), writes_.end()};
}

void VirtualGenerator::ClearLog()
{
    std::lock_guard lock(mutex_);
    log_.clear();
    writes_.clear();
}

VirtualGenerator &TheVirtualGenerator()
{
    static VirtualGenerator generator;
    return generator;
}

}  // namespace px418virtual
