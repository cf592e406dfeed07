#include "scpi_session.h"

#include <cmath>
#include <cstddef>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "commands.h"
#include "ctl_output.h"
#include "output_words.h"
#include "param_file.h"
#include "param_runs.h"
#include "scpi_commands.h"
#include "scpi_parser.h"

namespace scpi {

namespace {

constexpr char kManufacturer[] = "PX418";
constexpr char kModel[] = "PX-418";
constexpr char kScpiVersion[] = "1999.0";
constexpr int kEventOperationComplete = 0x01;
constexpr int kStatusErrorAvailable = 0x04;
constexpr int kStatusMessageAvailable = 0x10;
constexpr int kStatusEventSummary = 0x20;
constexpr int kStatusRequestService = 0x40;
constexpr int kRegisterMax = 255;
// The identity text, and a library error text, are at most this long in an
// answer.
constexpr std::size_t kMaxOutsideText = 256;
constexpr double kPi = 3.14159265358979323846;

// Thrown while a message is checked; the message is then refused.
struct Refusal {
    int code;
    std::string detail;  // after the error's text, as "-222,\"Data out of range;...\""
};

[[noreturn]] void Refuse(int code, std::string detail = {})
{
    throw Refusal{code, std::move(detail)};
}

enum class Limit { None, Min, Max, Default };

// A command of a message, checked and with its values read, ready to run.
struct Action {
    CommandId id = CommandId::Idn;
    bool query = false;
    int channel = 0;
    std::int32_t value = 0;  // a setting's entry, a register, a slot, a state
    Limit limit = Limit::None;
    VoltageUnit unit = VoltageUnit::Peak;  // VOLTage:UNIT's new unit; for VOLTage? the one in force
};

bool NeedsDevice(CommandId id)
{
    switch (id) {
    case CommandId::Rst:
    case CommandId::Sav:
    case CommandId::Rcl:
    case CommandId::Frequency:
    case CommandId::Couple:
    case CommandId::Phase:
    case CommandId::Voltage:
    case CommandId::Klock:
        return true;
    default:
        return false;
    }
}

int QuantityOf(CommandId id)
{
    switch (id) {
    case CommandId::Frequency:
        return PX418_OUT_FREQUENCY;
    case CommandId::Phase:
        return PX418_OUT_PHASE;
    case CommandId::Voltage:
        return PX418_OUT_AMPLITUDE;
    default:
        return PX418_OUT_MODE;
    }
}

void ExpectParams(const Command &c, std::size_t least, std::size_t most)
{
    if (c.params.size() < least) {
        Refuse(kMissingParameter);
    }
    if (c.params.size() > most) {
        Refuse(kParameterNotAllowed);
    }
}

bool IsWord(const Param &p, const char *shortForm, const char *longForm)
{
    return p.kind == ParamKind::Word && (p.text == shortForm || p.text == longForm);
}

std::optional<Limit> LimitOf(const Param &p)
{
    if (IsWord(p, "MIN", "MINIMUM")) {
        return Limit::Min;
    }
    if (IsWord(p, "MAX", "MAXIMUM")) {
        return Limit::Max;
    }
    if (IsWord(p, "DEF", "DEFAULT")) {
        return Limit::Default;
    }
    return std::nullopt;
}

// A parameter that must be a plain number.
double UnitlessNumber(const Param &p)
{
    if (p.kind == ParamKind::String) {
        Refuse(kStringDataNotAllowed);
    }
    if (p.kind == ParamKind::Word) {
        Refuse(kInvalidCharacterData);
    }
    if (!p.unit.empty()) {
        Refuse(kSuffixNotAllowed);
    }
    return p.number;
}

// A whole number in [min, max]; a fraction is rounded first, as IEEE 488.2
// asks of integer parameters.
std::int32_t WholeIn(const Param &p, int min, int max)
{
    const double v = UnitlessNumber(p);
    const std::int32_t whole = RoundValue(v);
    if (!std::isfinite(v) || whole < min || whole > max) {
        Refuse(kDataOutOfRange, "allowed " + std::to_string(min) + " to " + std::to_string(max));
    }
    return whole;
}

std::int32_t Boolean(const Param &p)
{
    if (IsWord(p, "ON", "ON")) {
        return 1;
    }
    if (IsWord(p, "OFF", "OFF")) {
        return 0;
    }
    const double v = UnitlessNumber(p);
    return RoundValue(v) != 0 ? 1 : 0;
}

// The factor of an SI prefix in a unit suffix. "M" is milli and "MA" mega,
// as SCPI reads them.
std::optional<double> PrefixFactor(std::string_view prefix)
{
    struct Prefix {
        const char *name;
        double factor;
    };
    static constexpr Prefix kPrefixes[] = {
        {"EX", 1e18}, {"PE", 1e15}, {"T", 1e12}, {"G", 1e9},   {"MA", 1e6},  {"K", 1e3},
        {"M", 1e-3},  {"U", 1e-6},  {"N", 1e-9}, {"P", 1e-12}, {"F", 1e-15}, {"A", 1e-18},
    };
    if (prefix.empty()) {
        return 1.0;
    }
    for (const Prefix &p : kPrefixes) {
        if (prefix == p.name) {
            return p.factor;
        }
    }
    return std::nullopt;
}

// Whether a suffix is `unit` with an optional prefix, and its factor.
std::optional<double> UnitFactor(const std::string &suffix, std::string_view unit, bool prefixes)
{
    if (suffix.size() < unit.size()
        || suffix.compare(suffix.size() - unit.size(), unit.size(), unit.data(), unit.size())
               != 0) {
        return std::nullopt;
    }
    // SCPI's one exception to "M is milli": MHZ is megahertz.
    if (suffix == "MHZ") {
        return 1e6;
    }
    const std::string_view prefix(suffix.data(), suffix.size() - unit.size());
    if (!prefixes && !prefix.empty()) {
        return std::nullopt;
    }
    return PrefixFactor(prefix);
}

std::int32_t LimitEntry(Limit limit, int channel, int quantity)
{
    switch (limit) {
    case Limit::Min:
        return OutputRange(quantity).min;
    case Limit::Max:
        return OutputRange(quantity).max;
    default:
        return ResetTable()[ParamIndex(channel, quantity)];
    }
}

// A value of SOURce:FREQuency, PHASe or VOLTage as its table entry: in Hz,
// degrees or volts (the client's unit unless the suffix names one), with SI
// prefixes, scaled, rounded and bounded as the window's fields do it.
std::int32_t OutputEntry(const Param &p, int channel, int quantity, VoltageUnit unit)
{
    if (p.kind == ParamKind::String) {
        Refuse(kStringDataNotAllowed);
    }
    if (p.kind == ParamKind::Word) {
        const std::optional<Limit> limit = LimitOf(p);
        if (!limit) {
            Refuse(kInvalidCharacterData);
        }
        return LimitEntry(*limit, channel, quantity);
    }
    double shown = p.number;
    std::optional<double> factor = 1.0;
    if (!p.unit.empty()) {
        factor.reset();
        if (quantity == PX418_OUT_FREQUENCY) {
            factor = UnitFactor(p.unit, "HZ", true);
        } else if (quantity == PX418_OUT_PHASE) {
            factor = UnitFactor(p.unit, "DEG", false);
            if (!factor) {
                factor = UnitFactor(p.unit, "RAD", true);
                if (factor) {
                    *factor *= 180.0 / kPi;
                }
            }
        } else {
            struct Named {
                const char *suffix;
                std::optional<VoltageUnit> unit;
            };
            // Longest first: "MVPP" is millivolts peak to peak.
            static const Named kVolts[] = {{"VRMS", VoltageUnit::Rms},
                                           {"VPP", VoltageUnit::PeakToPeak},
                                           {"VPK", VoltageUnit::Peak},
                                           {"V", std::nullopt}};
            for (const Named &n : kVolts) {
                factor = UnitFactor(p.unit, n.suffix, true);
                if (factor) {
                    unit = n.unit.value_or(unit);
                    break;
                }
            }
        }
        if (!factor) {
            Refuse(kInvalidSuffix);
        }
    }
    shown *= *factor;
    if (quantity == PX418_OUT_AMPLITUDE && unit == VoltageUnit::PeakToPeak) {
        shown /= 2;
    }
    // The refusal says the bounds, in RMS when the client works in RMS and
    // else in volts peak (a peak-to-peak value was halved above).
    const bool rms = unit == VoltageUnit::Rms;
    if (!std::isfinite(shown)) {
        Refuse(kDataOutOfRange, "allowed " + AllowedRange(quantity, rms));
    }
    const std::int32_t entry = RoundValue(ShownToDevice(quantity, shown, rms));
    const DeviceRange range = OutputRange(quantity);
    if (entry < range.min || entry > range.max) {
        Refuse(kDataOutOfRange, "allowed " + AllowedRange(quantity, rms));
    }
    return entry;
}

VoltageUnit UnitNamed(const Param &p)
{
    if (IsWord(p, "VPK", "VPK")) {
        return VoltageUnit::Peak;
    }
    if (IsWord(p, "VPP", "VPP")) {
        return VoltageUnit::PeakToPeak;
    }
    if (IsWord(p, "VRMS", "VRMS")) {
        return VoltageUnit::Rms;
    }
    Refuse(p.kind == ParamKind::String ? kStringDataNotAllowed : kInvalidCharacterData);
}

const char *UnitName(VoltageUnit unit)
{
    switch (unit) {
    case VoltageUnit::PeakToPeak:
        return "VPP";
    case VoltageUnit::Rms:
        return "VRMS";
    default:
        return "VPK";
    }
}

// Checks one command and reads its values. `unit` is the voltage unit in
// force at this point of the message; VOLTage:UNIT changes it for the
// commands after it.
Action Interpret(const Command &c, VoltageUnit &unit)
{
    const Resolved r = Resolve(c);
    if (r.error != 0) {
        Refuse(r.error);
    }
    Action a;
    a.id = r.id;
    a.query = c.query;
    a.channel = r.channel;
    a.unit = unit;
    if (c.query) {
        switch (r.id) {
        case CommandId::Frequency:
        case CommandId::Phase:
        case CommandId::Voltage:
            ExpectParams(c, 0, 1);
            if (!c.params.empty()) {
                const std::optional<Limit> limit = LimitOf(c.params[0]);
                if (!limit) {
                    Refuse(c.params[0].kind == ParamKind::Word ? kInvalidCharacterData
                                                               : kDataTypeError);
                }
                a.limit = *limit;
            }
            break;
        default:
            ExpectParams(c, 0, 0);
            break;
        }
        return a;
    }
    switch (r.id) {
    case CommandId::Ese:
    case CommandId::Sre:
        ExpectParams(c, 1, 1);
        a.value = WholeIn(c.params[0], 0, kRegisterMax);
        break;
    case CommandId::Sav:
    case CommandId::Rcl:
        ExpectParams(c, 1, 1);
        a.value = WholeIn(c.params[0], 0, PX418_PRESET_SLOTS - 1);
        break;
    case CommandId::Frequency:
    case CommandId::Phase:
    case CommandId::Voltage:
        ExpectParams(c, 1, 1);
        a.value = OutputEntry(c.params[0], r.channel, QuantityOf(r.id), unit);
        break;
    case CommandId::Couple:
    case CommandId::Klock:
        ExpectParams(c, 1, 1);
        a.value = Boolean(c.params[0]);
        break;
    case CommandId::VoltageUnit:
        ExpectParams(c, 1, 1);
        unit = UnitNamed(c.params[0]);
        a.unit = unit;
        break;
    case CommandId::Rst:
        ExpectParams(c, 0, 0);
        unit = VoltageUnit::Peak;
        break;
    default:
        ExpectParams(c, 0, 0);
        break;
    }
    return a;
}

// Text from outside for a field of *IDN?: safe for the line, and without
// the commas that separate the fields.
std::string IdentityField(const std::string &text)
{
    std::string field = LineSafeText(text, kMaxOutsideText);
    for (char &c : field) {
        if (c == ',') {
            c = ' ';
        }
    }
    return field.empty() ? "0" : field;
}

std::string VoltageText(std::int32_t entry, VoltageUnit unit)
{
    double shown = DeviceToShown(PX418_OUT_AMPLITUDE, entry, unit == VoltageUnit::Rms);
    if (unit == VoltageUnit::PeakToPeak) {
        shown *= 2;
    }
    return FormatShown(PX418_OUT_AMPLITUDE, shown);
}

}  // namespace

ParamTable ResetTable()
{
    ParamTable table = DefaultParamTable();
    for (int c = 0; c < PX418_OUTPUTS; ++c) {
        table[ParamIndex(c, PX418_OUT_AMPLITUDE)] = PX418_AMPLITUDE_MIN;
    }
    return table;
}

int Session::StatusByte() const
{
    int stb = 0;
    if (errors_.Count() > 0) {
        stb |= kStatusErrorAvailable;
    }
    if ((esr_ & ese_) != 0) {
        stb |= kStatusEventSummary;
    }
    if ((stb & sre_) != 0) {
        stb |= kStatusRequestService;
    }
    return stb;
}

void Session::Report(int code, const std::string &detail)
{
    errors_.Push(code, detail);
    esr_ |= EventBitOf(code);
}

MessageResult Session::Execute(std::string_view message, const DeviceContext &device,
                               bool earlierAnswersUnread)
{
    MessageResult result;
    const ParsedMessage parsed = ParseMessage(message);
    if (parsed.error != 0) {
        Report(parsed.error);
        return result;
    }

    std::vector<Action> actions;
    bool needsDevice = false;
    bool hasQuery = false;
    try {
        VoltageUnit unit = unit_;
        for (const Command &c : parsed.commands) {
            actions.push_back(Interpret(c, unit));
            needsDevice = needsDevice || NeedsDevice(actions.back().id);
            hasQuery = hasQuery || c.query;
        }
    } catch (const Refusal &r) {
        Report(r.code, r.detail);
        return result;
    }
    if (hasQuery && earlierAnswersUnread) {
        Report(kQueryInterrupted);
    }
    if (needsDevice && !device.online) {
        Report(kHardwareMissing);
        return result;
    }

    std::vector<std::string> answers;
    std::vector<OutputSetting> run;
    const auto flush = [&run] {
        if (!run.empty()) {
            std::size_t done = 0;
            SendWrites(SettingWrites(run), done);
            run.clear();
        }
    };
    try {
        for (const Action &a : actions) {
            if (!a.query) {
                if (a.id == CommandId::Frequency || a.id == CommandId::Phase
                    || a.id == CommandId::Voltage) {
                    run.push_back({a.channel, QuantityOf(a.id), a.value});
                    continue;
                }
                if (a.id == CommandId::Couple) {
                    run.push_back({PX418_GROUP_OUT_A, PX418_OUT_MODE,
                                   a.value != 0 ? kModeCoupled : kModeSeparate});
                    continue;
                }
                if (a.id == CommandId::VoltageUnit) {
                    unit_ = a.unit;
                    continue;
                }
            }
            // Whatever else comes sees the settings before it in effect.
            flush();
            switch (a.id) {
            case CommandId::Idn: {
                const std::string identity =
                    device.online ? CheckedGetInfo().toStdString() : std::string();
                answers.push_back(std::string(kManufacturer) + "," + kModel + ","
                                  + IdentityField(device.serial) + "," + IdentityField(identity));
                break;
            }
            case CommandId::Rst: {
                std::size_t done = 0;
                SendWrites(ReloadWrites(ResetTable()), done);
                CheckedSetMode(PX418_MODE_UNLOCKED);
                unit_ = VoltageUnit::Peak;
                break;
            }
            case CommandId::Cls:
                errors_.Clear();
                esr_ = 0;
                break;
            case CommandId::Ese:
                if (a.query) {
                    answers.push_back(std::to_string(ese_));
                } else {
                    ese_ = a.value;
                }
                break;
            case CommandId::Esr:
                answers.push_back(std::to_string(esr_));
                esr_ = 0;
                break;
            case CommandId::Sre:
                if (a.query) {
                    answers.push_back(std::to_string(sre_));
                } else {
                    // Bit 6 of the status byte is a summary; it cannot be enabled.
                    sre_ = a.value & ~kStatusRequestService;
                }
                break;
            case CommandId::Stb:
                answers.push_back(
                    std::to_string(StatusByte() | (answers.empty() ? 0 : kStatusMessageAvailable)));
                break;
            case CommandId::Opc:
                if (a.query) {
                    answers.push_back("1");
                } else {
                    esr_ |= kEventOperationComplete;
                }
                break;
            case CommandId::Wai:
                break;
            case CommandId::Tst: {
                bool responds = false;
                if (device.online) {
                    try {
                        std::int32_t mode = 0;
                        CheckedGetMode(&mode);
                        responds = true;
                    } catch (const EHardwareException &) {
                        result.deviceFailed = true;
                    }
                }
                answers.push_back(responds ? "0" : "1");
                break;
            }
            case CommandId::Sav:
                SendWrite(PresetWrite(PX418_SYS_PRESET_STORE, a.value, false));
                if (device.wait) {
                    device.wait(kPresetStoreMs);
                }
                break;
            case CommandId::Rcl:
                SendWrite(PresetWrite(PX418_SYS_PRESET_LOAD, a.value, false));
                break;
            case CommandId::Frequency:
            case CommandId::Phase:
            case CommandId::Voltage: {
                const int quantity = QuantityOf(a.id);
                const std::int32_t entry = a.limit == Limit::None
                                               ? ReadShownEntry(a.channel, quantity)
                                               : LimitEntry(a.limit, a.channel, quantity);
                answers.push_back(
                    quantity == PX418_OUT_AMPLITUDE
                        ? VoltageText(entry, a.unit)
                        : FormatShown(quantity, DeviceToShown(quantity, entry, false)));
                break;
            }
            case CommandId::Couple: {
                std::int32_t mode = 0;
                CheckedGetPar(PX418_GROUP_OUT_A, PX418_OUT_MODE, &mode);
                answers.push_back(mode == kModeCoupled ? "1" : "0");
                break;
            }
            case CommandId::VoltageUnit:
                answers.push_back(UnitName(a.unit));
                break;
            case CommandId::Klock:
                if (a.query) {
                    std::int32_t mode = 0;
                    CheckedGetMode(&mode);
                    answers.push_back(mode != PX418_MODE_UNLOCKED ? "1" : "0");
                } else {
                    CheckedSetMode(a.value != 0 ? PX418_MODE_LOCKED : PX418_MODE_UNLOCKED);
                }
                break;
            case CommandId::ErrorNext:
                answers.push_back(errors_.Pop());
                break;
            case CommandId::ErrorCount:
                answers.push_back(std::to_string(errors_.Count()));
                break;
            case CommandId::Version:
                answers.push_back(kScpiVersion);
                break;
            }
        }
        flush();
    } catch (const EHardwareException &e) {
        Report(kHardwareError, LineSafeText(e.Message().toStdString(), kMaxOutsideText));
        result.deviceFailed = true;
        return result;
    }

    if (!answers.empty()) {
        for (std::size_t i = 0; i < answers.size(); ++i) {
            result.answer += (i == 0 ? "" : ";") + answers[i];
        }
        result.answer += '\n';
    }
    return result;
}

}  // namespace scpi
