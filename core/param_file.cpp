#include "param_file.h"

#include <cmath>

#include <QFileInfo>

#include "decimal_text.h"

namespace {

const QString kChannelSections[PX418_OUTPUTS] = {
    QStringLiteral("OUT A"),
    QStringLiteral("OUT B"),
    QStringLiteral("OUT C"),
};

// Keys by quantity.
const QString kMode = QStringLiteral("M");
const QString kFrequency = QStringLiteral("F");
const QString kPhase = QStringLiteral("P");
const QString kAmplitude = QStringLiteral("A");

const QString kGeneral = QStringLiteral("General");
const QString kModeSection = QStringLiteral("Mode");
const QString kViewSection = QStringLiteral("View");

const QString &KeyOf(int quantity)
{
    switch (quantity) {
    case PX418_OUT_FREQUENCY:
        return kFrequency;
    case PX418_OUT_PHASE:
        return kPhase;
    case PX418_OUT_AMPLITUDE:
        return kAmplitude;
    default:
        return kMode;
    }
}

// An entry as the file has it: its text, and its value cut to an integer
// when the text has the key's form (the mode an integer, the rest numbers).
// The value is wider than 32 bits so that a huge one stays out of range.
struct FileEntry {
    QString text;
    std::optional<double> value;
};

std::optional<FileEntry> ReadEntry(const SectionedText &file, int channel, int quantity)
{
    const std::optional<QString> text = file.ReadString(kChannelSections[channel], KeyOf(quantity));
    if (!text) {
        return std::nullopt;
    }
    FileEntry entry{*text, std::nullopt};
    if (quantity == PX418_OUT_MODE) {
        if (const std::optional<std::int64_t> v = IntegerFormValue(*text)) {
            entry.value = static_cast<double>(*v);
        }
    } else {
        entry.value = NumberFormValue(*text);
    }
    return entry;
}

bool InRange(double value, const DeviceRange &range)
{
    return std::isfinite(value) && value >= range.min && value <= range.max;
}

// The value's text as a message shows it: a value of a thousand digits
// would not fit in the box.
QString Shortened(const QString &text)
{
    constexpr qsizetype kShown = 24;
    return text.size() <= kShown ? text : text.left(kShown) + QStringLiteral("...");
}

}  // namespace

ParamTable DefaultParamTable()
{
    ParamTable table{};
    for (int c = 0; c < PX418_OUTPUTS; ++c) {
        table[ParamIndex(c, PX418_OUT_MODE)] = kModeSeparate;
        table[ParamIndex(c, PX418_OUT_FREQUENCY)] = 1;
        table[ParamIndex(c, PX418_OUT_PHASE)] = 0;
        table[ParamIndex(c, PX418_OUT_AMPLITUDE)] = 1;
    }
    return table;
}

ParamTable ReadParamTable(const SectionedText &file)
{
    ParamTable table = DefaultParamTable();
    for (int c = 0; c < PX418_OUTPUTS; ++c) {
        for (int q = 0; q < PX418_QUANTITIES; ++q) {
            const std::optional<FileEntry> entry = ReadEntry(file, c, q);
            if (entry && entry->value && InRange(*entry->value, OutputRange(q))) {
                table[ParamIndex(c, q)] = static_cast<std::int32_t>(*entry->value);
            }
        }
    }
    return table;
}

std::optional<RefusedEntry> FindRefusedEntry(const SectionedText &file)
{
    for (int c = 0; c < PX418_OUTPUTS; ++c) {
        for (int q = 0; q < PX418_QUANTITIES; ++q) {
            const std::optional<FileEntry> entry = ReadEntry(file, c, q);
            if (!entry || entry->text.isEmpty()) {
                continue;
            }
            const DeviceRange range = OutputRange(q);
            if (!entry->value || !InRange(*entry->value, range)) {
                return RefusedEntry{kChannelSections[c], KeyOf(q), entry->text,
                                    !entry->value.has_value(), range};
            }
        }
    }
    return std::nullopt;
}

bool HoldsParamSections(const SectionedText &file)
{
    for (const QString &section : kChannelSections) {
        if (file.SectionExists(section)) {
            return true;
        }
    }
    return false;
}

ParamTable ReadCheckedParamTable(const SectionedText &file, const QString &path)
{
    const QString full = QFileInfo(path).absoluteFilePath();
    if (!HoldsParamSections(file)) {
        throw Exception(full + QStringLiteral(" is not a parameter file."));
    }
    if (const std::optional<RefusedEntry> bad = FindRefusedEntry(file)) {
        QString what = QStringLiteral("outside the allowed range %1 to %2")
                           .arg(QString::number(bad->range.min), QString::number(bad->range.max));
        if (bad->malformed && bad->key == kMode) {
            what = QStringLiteral("not an integer");
        } else if (bad->malformed) {
            what = QStringLiteral("not a number");
            // A number written with the other usual separator says which one
            // this system reads.
            const QChar separator = SystemDecimalSeparator();
            const QChar other = separator == QLatin1Char('.') ? QLatin1Char(',') : QLatin1Char('.');
            if (HasNumberForm(bad->value, other)) {
                what += QStringLiteral(" (the decimal separator is '%1')").arg(separator);
            }
        }
        // One pass over the text, so that a "%" in the path stays as it is.
        throw Exception(QStringLiteral("The file %1 cannot be loaded: %2=%3 in [%4] is %5.")
                            .arg(full, bad->key, Shortened(bad->value), bad->section, what));
    }
    return ReadParamTable(file);
}

void WriteParamTable(SectionedText &file, const ParamTable &table)
{
    for (int c = 0; c < PX418_OUTPUTS; ++c) {
        const QString &section = kChannelSections[c];
        file.WriteInteger(section, kMode, table[ParamIndex(c, PX418_OUT_MODE)]);
        file.WriteNumber(section, kFrequency, table[ParamIndex(c, PX418_OUT_FREQUENCY)]);
        file.WriteNumber(section, kPhase, table[ParamIndex(c, PX418_OUT_PHASE)]);
        file.WriteNumber(section, kAmplitude, table[ParamIndex(c, PX418_OUT_AMPLITUDE)]);
    }
}

ProgramSettings ReadProgramSettings(const SectionedText &file, const ProgramSettings &defaults)
{
    ProgramSettings s;
    s.left = file.ReadInteger(kGeneral, QStringLiteral("Left"), defaults.left);
    s.top = file.ReadInteger(kGeneral, QStringLiteral("Top"), defaults.top);
    s.lock = file.ReadBool(kModeSection, QStringLiteral("Lock"), defaults.lock);
    s.mute = file.ReadBool(kModeSection, QStringLiteral("Mute"), defaults.mute);
    s.review = file.ReadBool(kModeSection, QStringLiteral("Review"), defaults.review);
    s.autoRecall = file.ReadBool(kModeSection, QStringLiteral("Autorecall"), defaults.autoRecall);
    s.rms = file.ReadBool(kModeSection, QStringLiteral("RMS"), defaults.rms);
    return s;
}

void WriteProgramSettings(SectionedText &file, const ProgramSettings &settings)
{
    file.WriteInteger(kGeneral, QStringLiteral("Left"), settings.left);
    file.WriteInteger(kGeneral, QStringLiteral("Top"), settings.top);
    file.WriteBool(kModeSection, QStringLiteral("Lock"), settings.lock);
    file.WriteBool(kModeSection, QStringLiteral("Mute"), settings.mute);
    file.WriteBool(kModeSection, QStringLiteral("Review"), settings.review);
    file.WriteBool(kModeSection, QStringLiteral("Autorecall"), settings.autoRecall);
    file.WriteBool(kModeSection, QStringLiteral("RMS"), settings.rms);
}

ViewSettings ReadViewSettings(const SectionedText &file, const ViewSettings &defaults)
{
    ViewSettings s;
    s.phasors = file.ReadBool(kViewSection, QStringLiteral("Phasors"), defaults.phasors);
    s.left = file.ReadInteger(kViewSection, QStringLiteral("PhasorsLeft"), defaults.left);
    s.top = file.ReadInteger(kViewSection, QStringLiteral("PhasorsTop"), defaults.top);
    s.width = file.ReadInteger(kViewSection, QStringLiteral("PhasorsWidth"), defaults.width);
    s.height = file.ReadInteger(kViewSection, QStringLiteral("PhasorsHeight"), defaults.height);
    if (s.width < 1) {
        s.width = defaults.width;
    }
    if (s.height < 1) {
        s.height = defaults.height;
    }
    return s;
}

void WriteViewSettings(SectionedText &file, const ViewSettings &settings)
{
    file.WriteBool(kViewSection, QStringLiteral("Phasors"), settings.phasors);
    file.WriteInteger(kViewSection, QStringLiteral("PhasorsLeft"), settings.left);
    file.WriteInteger(kViewSection, QStringLiteral("PhasorsTop"), settings.top);
    file.WriteInteger(kViewSection, QStringLiteral("PhasorsWidth"), settings.width);
    file.WriteInteger(kViewSection, QStringLiteral("PhasorsHeight"), settings.height);
}
