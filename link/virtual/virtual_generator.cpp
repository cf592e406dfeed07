// The virtual generator: a streaming Wake frame decoder in front of a model of
// the PX-418's settings. Every request frame gets one answer frame with the
// request's command code; byte 0 of its data is the error code (0 = done),
// except for echo and info, whose answers carry data only.
#include "virtual/virtual_generator.h"

#include <algorithm>
#include <stdexcept>
#include <utility>

#include "px418_protocol.h"
#include "wake.h"

namespace px418virtual {

namespace {

struct Range {
    std::int32_t min;
    std::int32_t max;
};
// Ranges of the output quantities, by number: coupling mode, mHz, tenths of a
// degree, hundredths of a volt.
constexpr Range kOutputRange[PX418_QUANTITIES] = {
    {PX418_MODE_MIN, PX418_MODE_MAX},
    {PX418_FREQUENCY_MIN, PX418_FREQUENCY_MAX},
    {PX418_PHASE_MIN, PX418_PHASE_MAX},
    {PX418_AMPLITUDE_MIN, PX418_AMPLITUDE_MAX},
};
constexpr Range kCalibrationRange = {PX418_CALIBRATION_MIN, PX418_CALIBRATION_MAX};
constexpr Range kContrastRange = {PX418_CONTRAST_MIN, PX418_CONTRAST_MAX};

bool IsOutput(std::uint8_t group, std::uint8_t number)
{
    return group < PX418_OUTPUTS && number < PX418_QUANTITIES;
}

bool IsCalibration(std::uint8_t group, std::uint8_t number)
{
    return group == PX418_GROUP_CALIBRATION && number < PX418_CAL_ROWS;
}

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
    std::uint8_t bytes[4];
    px418_put_le32(bytes, value);
    out.insert(out.end(), bytes, bytes + 4);
}

// Frame builder on the library's own encoder; spoilCrc sends a wrong CRC on
// purpose.
std::vector<std::uint8_t> Encode(std::uint8_t command, const std::vector<std::uint8_t> &data,
                                 std::uint8_t address, bool spoilCrc)
{
    if (data.size() > wake::MAX_DATA) {
        throw std::invalid_argument("a Wake frame holds at most 255 data bytes");
    }
    std::uint8_t frame[wake::MAX_FRAME];
    const auto length = static_cast<std::uint8_t>(data.size());
    std::size_t size = WakeEncodeFrame(address, command, length, data.data(), frame);
    if (spoilCrc) {
        // Replace the CRC, the frame's last value (two bytes when stuffed),
        // by its complement, which never matches.
        std::uint8_t crc = wake::CRC_INIT;
        WakeCrcUpdate(wake::FEND, crc);
        if (const auto plain = static_cast<std::uint8_t>(address & ~wake::ADDRESS_MARK);
            plain != 0) {
            WakeCrcUpdate(plain, crc);
        }
        WakeCrcUpdate(static_cast<std::uint8_t>(command & ~wake::ADDRESS_MARK), crc);
        WakeCrcUpdate(length, crc);
        for (std::uint8_t b : data) {
            WakeCrcUpdate(b, crc);
        }
        size -= (crc == wake::FEND || crc == wake::FESC) ? 2 : 1;
        const auto spoilt = static_cast<std::uint8_t>(~crc);
        if (spoilt == wake::FEND || spoilt == wake::FESC) {
            frame[size++] = wake::FESC;
            frame[size++] = spoilt == wake::FEND ? wake::TFEND : wake::TFESC;
        } else {
            frame[size++] = spoilt;
        }
    }
    std::vector<std::uint8_t> out(frame, frame + size);
    return out;
}

template <typename T>
void Append(std::deque<T> &log, T entry)
{
    if (log.size() >= VirtualGenerator::kLogLimit) {
        log.pop_front();
    }
    log.push_back(std::move(entry));
}

}  // namespace

DeviceState DeviceState::PowerOn()
{
    DeviceState s;
    constexpr std::int32_t phase[3] = {0, -1200, 1200};
    for (int ch = 0; ch < 3; ++ch) {
        s.outputs[ch] = {0, 50000, phase[ch], 1000};
    }
    s.active = s.outputs;
    s.presets.fill(s.outputs);
    return s;
}

std::vector<std::uint8_t> EncodeFrame(std::uint8_t command, const std::vector<std::uint8_t> &data,
                                      std::uint8_t address)
{
    return Encode(command, data, address, false);
}

bool IsValueParameter(std::uint8_t group, std::uint8_t number)
{
    return IsOutput(group, number) || IsCalibration(group, number)
           || (group == PX418_GROUP_SYSTEM && number == PX418_SYS_CONTRAST);
}

bool AcceptsValue(std::uint8_t group, std::uint8_t number, std::int32_t value)
{
    if (IsOutput(group, number)) {
        return InRange(value, kOutputRange[number]);
    }
    if (IsCalibration(group, number)) {
        return InRange(value, kCalibrationRange);
    }
    if (group == PX418_GROUP_SYSTEM && number == PX418_SYS_CONTRAST) {
        return InRange(value, kContrastRange);
    }
    return false;
}

VirtualGenerator::VirtualGenerator() : state_(DeviceState::PowerOn()) {}

void VirtualGenerator::Reset()
{
    std::lock_guard lock(mutex_);
    state_ = DeviceState::PowerOn();
    log_.clear();
    writes_.clear();
    if (!plugged_) {
        ++connection_;
    }
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
    if (!plugged_) {
        return out;
    }
    for (std::size_t i = 0; i < count; ++i) {
        FeedByte(bytes[i], out);
    }
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
        if (byte == wake::FEND) {
            StartFrame();
        }
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
        if (value & wake::ADDRESS_MARK) {
            frame_.address = value & static_cast<std::uint8_t>(~wake::ADDRESS_MARK);
            value = frame_.address;
            pos_ = Pos::Command;
        } else {
            frame_.command = value;
            pos_ = Pos::Length;
        }
        break;
    case Pos::Command:
        if (value & wake::ADDRESS_MARK) {
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
        if (frame_.data.size() == length_) {
            pos_ = Pos::Crc;
        }
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
        valid ? HandleFrame(frame)
              : std::vector<std::uint8_t>{PX418_CMD_ERROR, PX418_ERR_INVALID_PACKET};
    Log(std::move(frame));
    // HandleFrame gives the command code followed by the answer's data.
    const std::uint8_t command = answer.front();
    answer.erase(answer.begin());
    Answer(Encode(command, answer, 0, corruptNext_), out);
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
    case PX418_CMD_ECHO:
        answer.insert(answer.end(), data.begin(), data.end());
        return answer;
    case PX418_CMD_INFO:
        for (const char *p = kIdentity; *p != '\0'; ++p) {
            answer.push_back(static_cast<std::uint8_t>(*p));
        }
        return answer;
    case PX418_CMD_SET_MODE:
        if (data.size() != PX418_SET_MODE_LENGTH) {
            answer.push_back(PX418_ERR_INVALID_PARAMETERS);
        } else {
            state_.mode = data[0];
            answer.push_back(PX418_ERR_NONE);
        }
        return answer;
    case PX418_CMD_GET_MODE:
        if (!data.empty()) {
            answer.push_back(PX418_ERR_INVALID_PARAMETERS);
        } else {
            answer.push_back(PX418_ERR_NONE);
            answer.push_back(state_.mode);
        }
        return answer;
    case PX418_CMD_SET_PAR: {
        const std::vector<std::uint8_t> rest = SetParameter(data);
        answer.insert(answer.end(), rest.begin(), rest.end());
        return answer;
    }
    case PX418_CMD_GET_PAR: {
        const std::vector<std::uint8_t> rest = GetParameter(data);
        answer.insert(answer.end(), rest.begin(), rest.end());
        return answer;
    }
    case PX418_CMD_GET_SEL_PAR: {
        std::int32_t value = 0;
        if (!data.empty() || !ReadValue(state_.selectedGroup, state_.selectedNumber, value)) {
            answer.push_back(PX418_ERR_INVALID_PARAMETERS);
            return answer;
        }
        answer.push_back(PX418_ERR_NONE);
        answer.push_back(state_.selectedGroup);
        answer.push_back(state_.selectedNumber);
        PutValue(answer, value);
        return answer;
    }
    default:
        // No operation, error report, set and get address, and codes the
        // device does not know: refused as an invalid packet.
        answer.push_back(PX418_ERR_INVALID_PACKET);
        return answer;
    }
}

// Set parameter: group, number (low 6 bits: the parameter; bit 7: apply every
// written value; bit 6: beep), 4-byte value. A refused write changes nothing.
std::vector<std::uint8_t> VirtualGenerator::SetParameter(const std::vector<std::uint8_t> &data)
{
    if (data.size() != PX418_SET_PAR_LENGTH) {
        return {PX418_ERR_INVALID_PARAMETERS};
    }
    const std::uint8_t group = data[0];
    const std::uint8_t flags = data[1];
    const std::uint8_t number = flags & PX418_NUMBER_MASK;
    const std::int32_t value = px418_get_le32(&data[2]);

    // Validate first, then act.
    bool valueParameter = true;  // changes a held value (and so the selection)
    if (IsOutput(group, number)) {
        if (!InRange(value, kOutputRange[number])) {
            return {PX418_ERR_INVALID_PARAMETERS};
        }
    } else if (IsCalibration(group, number)) {
        if (!InRange(value, kCalibrationRange)) {
            return {PX418_ERR_INVALID_PARAMETERS};
        }
    } else if (group == PX418_GROUP_CALIBRATION && number == PX418_CAL_STORE) {
        if (value != 0) {
            return {PX418_ERR_INVALID_PARAMETERS};
        }
        valueParameter = false;
    } else if (group == PX418_GROUP_SYSTEM
               && (number == PX418_SYS_PRESET_STORE || number == PX418_SYS_PRESET_LOAD)) {
        if (value < 0 || value >= PX418_PRESET_SLOTS) {
            return {PX418_ERR_INVALID_PARAMETERS};
        }
        valueParameter = false;
    } else if (group == PX418_GROUP_SYSTEM && number == PX418_SYS_CONTRAST) {
        if (!InRange(value, kContrastRange)) {
            return {PX418_ERR_INVALID_PARAMETERS};
        }
    } else if (group == PX418_GROUP_SYSTEM && number == PX418_SYS_CONFIRM) {
        if (value != 0) {
            return {PX418_ERR_INVALID_PARAMETERS};
        }
        valueParameter = false;
    } else {
        return {PX418_ERR_INVALID_PARAMETERS};
    }

    if (group < PX418_OUTPUTS) {
        state_.outputs[group][number] = value;
    } else if (group == PX418_GROUP_CALIBRATION) {
        if (number == PX418_CAL_STORE) {
            state_.storedCalibration = state_.calibration;
        } else {
            state_.calibration[number] = value;
        }
    } else {
        switch (number) {
        case PX418_SYS_CONTRAST:
            state_.contrast = value;
            break;
        case PX418_SYS_CONFIRM:
            ++state_.settingsConfirmed;
            break;
        default:
            break;  // presets: below, after pending values have taken effect
        }
    }
    if (flags & PX418_FLAG_TAKE_EFFECT) {
        state_.active = state_.outputs;
    }
    if (group == PX418_GROUP_SYSTEM && number == PX418_SYS_PRESET_STORE) {
        state_.presets[value] = state_.active;
        state_.presetStored = value;
    } else if (group == PX418_GROUP_SYSTEM && number == PX418_SYS_PRESET_LOAD) {
        // Loading replaces the outputs, pending values included, and takes
        // effect at once.
        state_.outputs = state_.presets[value];
        state_.active = state_.outputs;
        state_.presetLoaded = value;
    }
    if (flags & PX418_FLAG_BEEP) {
        ++state_.beeps;
    }
    if (valueParameter) {
        state_.selectedGroup = group;
        state_.selectedNumber = number;
    }
    Append(writes_, ParamWrite{group, flags, value});
    return {PX418_ERR_NONE};
}

// Get parameter: group, plain number; answers the value last written.
std::vector<std::uint8_t>
VirtualGenerator::GetParameter(const std::vector<std::uint8_t> &data) const
{
    std::int32_t value = 0;
    if (data.size() != PX418_GET_PAR_LENGTH || !ReadValue(data[0], data[1], value)) {
        return {PX418_ERR_INVALID_PARAMETERS};
    }
    std::vector<std::uint8_t> answer{PX418_ERR_NONE};
    PutValue(answer, value);
    return answer;
}

bool VirtualGenerator::ReadValue(std::uint8_t group, std::uint8_t number, std::int32_t &value) const
{
    if (IsOutput(group, number)) {
        value = state_.outputs[group][number];
    } else if (IsCalibration(group, number)) {
        value = state_.calibration[number];
    } else if (group == PX418_GROUP_CALIBRATION && number == PX418_CAL_STORE) {
        value = 0;
    } else if (group == PX418_GROUP_SYSTEM && number == PX418_SYS_PRESET_STORE) {
        value = state_.presetStored;
    } else if (group == PX418_GROUP_SYSTEM && number == PX418_SYS_PRESET_LOAD) {
        value = state_.presetLoaded;
    } else if (group == PX418_GROUP_SYSTEM && number == PX418_SYS_CONTRAST) {
        value = state_.contrast;
    } else if (group == PX418_GROUP_SYSTEM && number == PX418_SYS_CONFIRM) {
        value = 0;
    } else {
        return false;
    }
    return true;
}

bool VirtualGenerator::TurnKnob(std::uint8_t group, std::uint8_t number, std::int32_t value)
{
    std::lock_guard lock(mutex_);
    if (IsOutput(group, number)) {
        value = Clamp(value, kOutputRange[number]);
        state_.outputs[group][number] = value;
        state_.active[group][number] = value;
    } else if (IsCalibration(group, number)) {
        state_.calibration[number] = Clamp(value, kCalibrationRange);
    } else if (group == PX418_GROUP_SYSTEM && number == PX418_SYS_CONTRAST) {
        state_.contrast = Clamp(value, kContrastRange);
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
    if (plugged == plugged_) {
        return;
    }
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
