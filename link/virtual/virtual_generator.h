// The virtual generator: a software PX-418 that decodes Wake request frames
// and answers them like the device. VirtualGenerator is the device alone
// (bytes in, answer bytes out); the virtual converter (D2xxVirtualProvider)
// puts one instance of it, TheVirtualGenerator(), behind one virtual FTDI
// converter.
//
// This control interface is for tests and is not exported from the shared
// library. Every member of VirtualGenerator may be called from any thread.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

namespace px418virtual {

// One request frame as the device received it.
struct ReceivedFrame {
    std::vector<std::uint8_t> raw;  // the bytes on the wire, FEND through CRC
    bool valid = false;             // CRC and escapes were correct
    std::uint8_t address = 0;       // 0 when the frame had no address byte
    std::uint8_t command = 0;
    std::vector<std::uint8_t> data;  // destuffed data bytes
};

// A parameter write as the device took it.
struct ParamWrite {
    std::uint8_t group = 0;
    std::uint8_t number = 0;  // as sent, flag bits included
    std::int32_t value = 0;
};

using Outputs = std::array<std::array<std::int32_t, 4>, 3>;

struct DeviceState {
    // outputs[channel][quantity]: mode, mHz, tenths of a degree, hundredths of a volt
    Outputs outputs{};                                // last written (pending or not)
    Outputs active{};                                 // in effect
    std::array<std::int32_t, 4> calibration{};        // last written
    std::array<std::int32_t, 4> storedCalibration{};  // made permanent by (3, 4)
    std::int32_t contrast = 44;
    std::uint8_t mode = 0;  // bit 0: front panel locked
    std::array<Outputs, 10> presets{};
    std::int32_t presetStored = 0;  // slot last written to (4, 0)
    std::int32_t presetLoaded = 0;  // slot last written to (4, 1)
    std::uint8_t selectedGroup = 0;
    std::uint8_t selectedNumber = 1;
    int beeps = 0;              // accepted writes that carried bit 6
    int settingsConfirmed = 0;  // writes of (4, 3, 0)

    // The power-on state: every output 50 Hz, 10 V, phases 0, -120, 120
    // degrees, mode 0; calibration 0; contrast 44; every preset slot holds
    // the power-on outputs; selected parameter (0, 1).
    static DeviceState PowerOn();
};

class VirtualGenerator {
public:
    static constexpr const char *kIdentity = "PX-418 virtual generator";
    // The logs keep the most recent entries up to this many.
    static constexpr std::size_t kLogLimit = 10000;

    VirtualGenerator();

    // Puts the device back into its power-on state, clears the logs and
    // every fault setting and forgets a partly received frame. Plugs it in.
    void Reset();

    // Host side: takes bytes written to the device and returns the bytes of
    // its answers (none while silent or unplugged). A partial frame is kept
    // until the rest arrives; a bare FEND inside a frame abandons it (it is
    // logged as invalid and not answered) and starts a new one.
    std::vector<std::uint8_t> Receive(const std::uint8_t *bytes, std::size_t count);

    // Front panel: turns a knob, which sets the parameter in effect (and as
    // last written) and makes it the selected one, what "get selected
    // parameter" answers. The value is clamped to the parameter's range like
    // the device's knobs. Knobs exist for the outputs (groups 0 to 2,
    // numbers 0 to 3), the calibration (group 3, numbers 0 to 3) and the
    // contrast (4, 2); for anything else nothing changes and the result is
    // false.
    bool TurnKnob(std::uint8_t group, std::uint8_t number, std::int32_t value);

    // Faults.
    void SetPlugged(bool plugged);  // an unplugged converter is not counted and fails I/O
    bool Plugged() const;
    // 0 while unplugged; otherwise a number that changes with every plug-in,
    // so that the converter can tell that its handle belongs to an earlier
    // connection.
    std::uint64_t Connection() const;
    // A silent device logs the frames it receives but neither carries them
    // out nor answers.
    void SetSilent(bool silent);
    void CorruptNextAnswer();                           // the next answer goes out with a wrong CRC
    void PrefixNoise(std::vector<std::uint8_t> noise);  // sent before the next answer
    // Carries out the next request but sends these raw bytes instead of its
    // answer (an empty string loses the answer).
    void ReplaceNextAnswer(std::vector<std::uint8_t> raw);

    // Observation.
    DeviceState State() const;
    void SetState(const DeviceState &state);
    std::vector<ReceivedFrame> FrameLog() const;
    std::vector<ParamWrite> ParamWrites() const;  // every accepted set-parameter request
    void ClearLog();

private:
    enum class Pos { Hunt, Address, Command, Length, Data, Crc };

    void FeedByte(std::uint8_t byte, std::vector<std::uint8_t> &out);
    void StartFrame();
    void FinishFrame(bool valid, std::vector<std::uint8_t> &out);
    void AbandonFrame();
    void Answer(std::vector<std::uint8_t> frame, std::vector<std::uint8_t> &out);
    void Log(ReceivedFrame frame);
    std::vector<std::uint8_t> HandleFrame(const ReceivedFrame &frame);
    std::vector<std::uint8_t> SetParameter(const std::vector<std::uint8_t> &data);
    std::vector<std::uint8_t> GetParameter(const std::vector<std::uint8_t> &data) const;
    bool ReadValue(std::uint8_t group, std::uint8_t number, std::int32_t &value) const;

    mutable std::mutex mutex_;
    DeviceState state_;
    std::deque<ReceivedFrame> log_;
    std::deque<ParamWrite> writes_;
    bool plugged_ = true;
    std::uint64_t connection_ = 1;
    bool silent_ = false;
    bool corruptNext_ = false;
    std::vector<std::uint8_t> noise_;
    std::vector<std::uint8_t> replaceNext_;
    bool replaceNextSet_ = false;

    // The frame being received.
    Pos pos_ = Pos::Hunt;
    bool escape_ = false;
    std::uint8_t crc_ = 0;
    std::size_t length_ = 0;
    ReceivedFrame frame_;
};

// Whether (group, number) is a parameter that holds a value (an output's
// quantity, a calibration row, the contrast), and whether the device holds
// `value` for it: what a write of it would accept.
bool IsValueParameter(std::uint8_t group, std::uint8_t number);
bool AcceptsValue(std::uint8_t group, std::uint8_t number, std::int32_t value);

// The generator behind the virtual converter of D2xxVirtualProvider().
VirtualGenerator &TheVirtualGenerator();

// What the virtual converter holds besides the generator (tests).
struct ConverterState {
    bool open = false;  // a handle is open (it may be dead after an unplug)
    std::uint32_t baudRate = 9600;
    std::uint8_t wordLength = 8;
    std::uint8_t stopBits = 0;
    std::uint8_t parity = 0;
    std::uint32_t readTimeout = 0;
    std::uint32_t writeTimeout = 0;
    std::uint8_t latency = 16;
    std::size_t queued = 0;  // answer bytes waiting to be read
    int opens = 0;           // successful FT_Open calls
    int closes = 0;          // FT_Close calls that released a handle
    int purges = 0;          // accepted FT_Purge calls
};
ConverterState VirtualConverterState();
// Drops any open handle, the queued bytes, the settings and the counters.
// Leaves the generator alone.
void ResetVirtualConverter();

// Builds the wire bytes of one frame - shared by the generator and by tests
// that build requests or script answers. At most 255 data bytes
// (std::invalid_argument otherwise); an address of 0 sends no address byte.
std::vector<std::uint8_t> EncodeFrame(std::uint8_t command, const std::vector<std::uint8_t> &data,
                                      std::uint8_t address = 0);

}  // namespace px418virtual
