// One client's side of the instrument: its error queue, status registers
// and voltage unit, and what its messages do on the generator.
//
// A message is checked whole before anything in it runs: a syntax error, an
// unknown header or a refused value anywhere refuses the message, and
// nothing in it is executed or answered. The settings of a message go to
// the generator as one run closed by one take-effect write (the runs of
// core/param_runs), broken only where a query or another device command
// needs what came before it in effect. Values are those of the window:
// ranges, scaling and rounding from core/param_table, digits as its fields
// show them.
//
// Every device call is made on the caller's thread, through the checked
// calls of core/commands; the caller serialises the sessions on the one
// device.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "param_table.h"
#include "scpi_errors.h"

namespace scpi {

// How SOURce:VOLTage values are read and answered.
enum class VoltageUnit { Peak, PeakToPeak, Rms };

// What the session knows of the server's device.
struct DeviceContext {
    bool online = false;  // a generator is open; without one, device commands give -241
    // The converter's serial number for *IDN?, "0" when it is not known.
    std::string serial = "0";
    // Waits while the generator stores a preset.
    std::function<void(int ms)> wait;
};

struct MessageResult {
    std::string answer;         // the answer line with its newline; empty for none
    bool deviceFailed = false;  // a device call failed: the device may be gone
};

// *RST's settings: the program's defaults with every amplitude at 0 V, and
// what MINimum, MAXimum and DEFault stand for.
ParamTable ResetTable();

class Session {
public:
    // Runs one message (without its newline). earlierAnswersUnread: the
    // client has not yet taken the answers of its earlier messages, so a
    // query here is reported as interrupted (-410); every answer is still
    // delivered.
    MessageResult Execute(std::string_view message, const DeviceContext &device,
                          bool earlierAnswersUnread = false);
    // A message too long to hold was discarded.
    void InputOverrun() { Report(kInputBufferOverrun); }

    // The status byte as *STB? reads it, without the message-available bit.
    int StatusByte() const;
    VoltageUnit Unit() const { return unit_; }

private:
    void Report(int code, const std::string &detail = {});

    ErrorQueue errors_;
    int ese_ = 0;
    int esr_ = 0;
    int sre_ = 0;
    VoltageUnit unit_ = VoltageUnit::Peak;
};

}  // namespace scpi
