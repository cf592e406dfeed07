#include "param_file.h"

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
    const ParamTable defaults = DefaultParamTable();
    ParamTable table{};
    for (int c = 0; c < PX418_OUTPUTS; ++c) {
        const QString &section = kChannelSections[c];
        const auto at = [c](int quantity) { return ParamIndex(c, quantity); };
        table[at(PX418_OUT_MODE)] = file.ReadInteger(section, kMode, defaults[at(PX418_OUT_MODE)]);
        table[at(PX418_OUT_FREQUENCY)] =
            file.ReadNumber(section, kFrequency, defaults[at(PX418_OUT_FREQUENCY)]);
        table[at(PX418_OUT_PHASE)] =
            file.ReadNumber(section, kPhase, defaults[at(PX418_OUT_PHASE)]);
        table[at(PX418_OUT_AMPLITUDE)] =
            file.ReadNumber(section, kAmplitude, defaults[at(PX418_OUT_AMPLITUDE)]);
    }
    return table;
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
