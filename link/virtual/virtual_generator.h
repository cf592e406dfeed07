// The virtual generator: a software PX-418 that decodes Wake request frames
// and answers them like the device. VirtualGenerator is the device alone
// (bytes in, answer bytes out); the virtual converter (D2xxVirtualProvider)
// puts one instance of it, TheVirtualGenerator(), behind one virtual FTDI
// converter.
//
// This control interface is for tests and is not exported from the shared
// library.
#pragma once

#include <array>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace px418virtual {

// One request frame as the device received it.
struct ReceivedFrame {
    std::vector<std::uint8_t> raw;   // the bytes on the wire, FEND through CRC
    bool valid = false;              // CRC and escapes were correct
    std::uint8_t address = 0;        // 0 when the frame had no address byte
    std::uint8_t command = 0;
    std::vector<std::uint8_t> data;  // destuffed data bytes
};

// A parameter write as the device took it.
struct ParamWrite {
    std::uint8_t group = 0;
    std::uint8_t number = 0;  // as sent, flag bits included
    std::int32_t value = 0;
};

struct DeviceState {
    // outputs[channel][quantity]: mode, mHz, tenths of a degree, hundredths of a volt
    std::array<std::array<std::int32_t, 4>, 3> outputs{};  // last written (pending or not)
    std::array<std::array<std::int32_t, 4>, 3> active{};   // in effect
    std::array<std::int32_t, 4> calibration{};             // last written
    std::array<std::int32_t, 4> storedCalibration{};       // made permanent by (3, 4)
    std::int32_t contrast = 44;
    std::uint8_t mode = 0;  // bit 0: front panel locked
    std::array<std::array<std::array<std::int32_t, 4>, 3>, 10> presets{};
    std::uint8_t selectedGroup = 0;
    std::uint8_t selectedNumber = 1;
    int beeps = 0;                 // writes that carried bit 6
    int settingsConfirmed = 0;     // writes of (4, 3, 0)
};

class VirtualGenerator {
public:
    static constexpr const char *kIdentity = "PX-418 virtual generator";

    VirtualGenerator();

    // Puts the device back into its power-on state, clears the frame log and
    // every fault setting. Plugs it in.
    void Reset();

    // Host side: takes bytes written to the device and returns the bytes of
    // its answers (none while silent). Partial frames are kept until the rest
    // arrives.
    std::vector<std::uint8_t> Receive(const std::uint8_t *bytes, std::size_t count);

    // Front panel: turns a knob, which sets the parameter in effect and makes
    // it the selected one (what "get selected parameter" answers). Outputs
    // (groups 0 to 2) are clamped to their ranges like the device's knobs.
    void TurnKnob(std::uint8_t group, std::uint8_t number, std::int32_t value);

    // Faults.
    void SetPlugged(bool plugged);   // an unplugged converter is not counted and fails I/O
    bool Plugged() const;
    void SetSilent(bool silent);     // receives but never answers
    void CorruptNextAnswer();        // the next answer goes out with a wrong CRC
    void PrefixNoise(std::vector<std::uint8_t> noise);  // sent before the next answer
    // Answers the next request with this raw byte string instead of its own answer.
    void ReplaceNextAnswer(std::vector<std::uint8_t> raw);

    // Observation.
    DeviceState State() const;
    void SetState(const DeviceState &state);
    std::vector<ReceivedFrame> FrameLog() const;
    std::vector<ParamWrite> ParamWrites() const;  // every accepted set-parameter request
    void ClearLog();

private:
    std::vector<std::uint8_t> HandleFrame(const ReceivedFrame &frame);

    mutable std::mutex mutex_;
    DeviceState state_;
    std::vector<std::uint8_t> pending_;  // bytes of an incomplete frame
    std::vector<ReceivedFrame> log_;
    std::vector<ParamWrite> writes_;
    bool plugged_ = true;
    bool silent_ = false;
    bool corruptNext_ = false;
    std::vector<std::uint8_t> noise_;
    std::vector<std::uint8_t> replaceNext_;
    bool replaceNextSet_ = false;
};

// The generator behind the virtual converter of D2xxVirtualProvider().
VirtualGenerator &TheVirtualGenerator();

// Builds the wire bytes of one answer frame (no address) - shared by the
// generator and by tests that script answers.
std::vector<std::uint8_t> EncodeFrame(std::uint8_t command, const std::vector<std::uint8_t> &data,
                                      std::uint8_t address = 0);

}  // namespace px418virtual
