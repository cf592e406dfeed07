#include "sequence_file.h"

#include <QFileInfo>
#include <QSet>
#include <QStringDecoder>

namespace {

const QString kSequenceSection = QStringLiteral("Sequence");
const QString kStatePrefix = QStringLiteral("State");
const QString kRepeat = QStringLiteral("Repeat");
const QString kEnd = QStringLiteral("End");
const QString kDuration = QStringLiteral("Duration");

// The file unit keeps every byte as a Latin-1 character; names are UTF-8
// text in those bytes, or Latin-1 where they are not valid UTF-8.
QString FromFileText(const QString &text)
{
    const QByteArray bytes = text.toLatin1();
    QStringDecoder utf8(QStringDecoder::Utf8);
    const QString decoded = utf8(bytes);
    return utf8.hasError() ? text : decoded;
}

QString ToFileText(const QString &text)
{
    return QString::fromLatin1(text.toUtf8());
}

bool Same(const QString &a, const QString &b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

// The value a key names ("A freq", any case, blanks as they come), or -1.
int ValueOfKey(const QString &key)
{
    const QString k = key.simplified();
    for (int v = 0; v < kSequenceValues; ++v) {
        if (Same(k, ValueKey(v))) {
            return v;
        }
    }
    return -1;
}

QString KnownStateKeys()
{
    QStringList keys{kDuration};
    for (int v = 0; v < kSequenceValues; ++v) {
        keys << ValueKey(v);
    }
    return keys.join(QStringLiteral(", "));
}

// A value as a refusal quotes it: a value of a thousand characters would
// not fit in the box.
QString Shortened(const QString &text)
{
    constexpr qsizetype kShown = 40;
    return text.size() <= kShown ? text : text.left(kShown) + QStringLiteral("...");
}

class Reader {
public:
    explicit Reader(QString path) : path_(std::move(path)) {}

    Sequence Read(const SectionedText &file)
    {
        if (file.StrayLine() != 0) {
            Refuse(file.StrayLine(), QStringLiteral("text above the first section"));
        }
        bool sawSequence = false;
        for (const SectionedText::SectionEntries &section : file.Sections()) {
            if (Same(section.name, kSequenceSection)) {
                if (sawSequence) {
                    Refuse(section.line, QStringLiteral("a second [Sequence] section"));
                }
                sawSequence = true;
                ReadSequenceSection(section);
            } else if (IsState(section.name)) {
                ReadState(section);
            } else {
                Refuse(section.line, QStringLiteral("unknown section [%1]: allowed [Sequence] and "
                                                    "[State NAME]")
                                         .arg(Shortened(section.name)));
            }
        }
        if (sequence_.states.empty()) {
            Refuse(0, QStringLiteral("it holds no state, no [State NAME] section"));
        }
        if (const std::optional<SequenceFault> fault = CheckSequence(sequence_)) {
            const int line = fault->state >= 0 ? sequence_.states[fault->state].line : endLine_;
            Refuse(line, fault->reason);
        }
        return sequence_;
    }

private:
    [[noreturn]] void Refuse(int line, const QString &reason) const
    {
        throw ESequenceRefused(path_, line, reason);
    }

    static bool IsState(const QString &name)
    {
        return name.size() > kStatePrefix.size()
                   ? Same(name.left(kStatePrefix.size()), kStatePrefix)
                         && name.at(kStatePrefix.size()).isSpace()
                   : Same(name, kStatePrefix);
    }

    // The entry's value; a line without "=" is refused. A key given twice
    // is refused too: which of the two was meant cannot be told.
    QString ValueOf(const SectionedText::Entry &entry, QSet<QString> &seen,
                    const QString &section) const
    {
        if (!entry.value) {
            Refuse(entry.line,
                   QStringLiteral("'%1' is no KEY=VALUE line").arg(Shortened(entry.key)));
        }
        const QString key = entry.key.simplified().toCaseFolded();
        if (seen.contains(key)) {
            Refuse(entry.line, QStringLiteral("%1 is given twice in [%2]")
                                   .arg(Shortened(entry.key), Shortened(section)));
        }
        seen.insert(key);
        return *entry.value;
    }

    void ReadSequenceSection(const SectionedText::SectionEntries &section)
    {
        QSet<QString> seen;
        for (const SectionedText::Entry &entry : section.entries) {
            const QString value = ValueOf(entry, seen, section.name);
            if (Same(entry.key, kRepeat)) {
                bool ok = false;
                const int repeat = value.toInt(&ok);
                if (!ok || repeat < 1 || repeat > kMaxRepeat) {
                    Refuse(entry.line, QStringLiteral("Repeat=%1 is out of range: allowed 1 to %2")
                                           .arg(Shortened(value))
                                           .arg(kMaxRepeat));
                }
                sequence_.repeat = repeat;
            } else if (Same(entry.key, kEnd)) {
                sequence_.endState = FromFileText(value);
                endLine_ = entry.line;
            } else {
                Refuse(entry.line,
                       QStringLiteral("unknown key %1 in [Sequence]: allowed Repeat and End")
                           .arg(Shortened(entry.key)));
            }
        }
    }

    void ReadState(const SectionedText::SectionEntries &section)
    {
        SequenceState state;
        state.name = FromFileText(section.name.mid(kStatePrefix.size()).trimmed());
        state.line = section.line;
        if (state.name.isEmpty()) {
            Refuse(section.line, QStringLiteral("a state needs a name: [State NAME]"));
        }
        QSet<QString> seen;
        bool timed = false;
        for (const SectionedText::Entry &entry : section.entries) {
            const QString value = ValueOf(entry, seen, section.name);
            QString why;
            if (Same(entry.key, kDuration)) {
                if (!ParseDurationText(value, state, why)) {
                    Refuse(entry.line, why);
                }
                timed = true;
                continue;
            }
            const int v = ValueOfKey(entry.key);
            if (v < 0) {
                Refuse(entry.line,
                       QStringLiteral("unknown key %1 in [%2]: allowed %3")
                           .arg(Shortened(entry.key), Shortened(section.name), KnownStateKeys()));
            }
            // An empty value names nothing: the value stays as it was.
            if (value.isEmpty()) {
                continue;
            }
            state.values[v] = ParseValueText(v, value, why);
            if (!state.values[v]) {
                Refuse(entry.line,
                       QStringLiteral("%1=%2: %3").arg(ValueKey(v), Shortened(value), why));
            }
        }
        if (!timed) {
            Refuse(section.line, QStringLiteral("[%1] has no Duration: milliseconds, or manual")
                                     .arg(Shortened(section.name)));
        }
        sequence_.states.push_back(std::move(state));
    }

    QString path_;
    Sequence sequence_;
    int endLine_ = 0;
};

}  // namespace

ESequenceRefused::ESequenceRefused(const QString &path, int line, const QString &reason)
    : Exception(QStringLiteral("The file %1 cannot be loaded: %2%3.")
                    .arg(QFileInfo(path).absoluteFilePath(),
                         line > 0 ? QStringLiteral("line %1: ").arg(line) : QString(), reason)),
      line_(line), reason_(reason)
{}

Sequence ReadSequence(const SectionedText &file, const QString &path)
{
    return Reader(path).Read(file);
}

Sequence LoadSequenceFile(const QString &path)
{
    return ReadSequence(SectionedText::LoadExisting(path), path);
}

SectionedText WriteSequence(const Sequence &sequence)
{
    SectionedText file;
    file.WriteString(kSequenceSection, kRepeat, QString::number(sequence.repeat));
    if (!sequence.endState.isEmpty()) {
        file.WriteString(kSequenceSection, kEnd, ToFileText(sequence.endState));
    }
    for (const SequenceState &state : sequence.states) {
        const QString section = kStatePrefix + QLatin1Char(' ') + ToFileText(state.name.trimmed());
        file.AppendSection(section);
        file.WriteString(section, kDuration, DurationText(state));
        for (int v = 0; v < kSequenceValues; ++v) {
            if (state.values[v]) {
                file.WriteString(section, ValueKey(v), ValueText(v, *state.values[v]));
            }
        }
    }
    return file;
}

void SaveSequenceFile(const QString &path, const Sequence &sequence)
{
    if (const std::optional<SequenceFault> fault = CheckSequence(sequence)) {
        throw Exception(QStringLiteral("The sequence cannot be saved: %1.").arg(fault->reason));
    }
    WriteSequence(sequence).Save(path);
}
