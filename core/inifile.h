// The sectioned text format of the settings file and of parameter files:
// "[Section]" headers and "key=value" lines, read into memory, changed there
// and saved back as a whole.
//
// Reading: lines end at CR LF, a lone CR or a lone LF, and a NUL byte ends the
// text. Each line is stripped of leading and trailing blanks and control
// characters; empty lines and lines beginning with ";" are skipped, as are
// lines above the first header. Section and key names match without regard
// to letter case; where a name occurs twice, the last occurrence is the one
// read and the one overwritten. Lines without "=" stay in their section.
//
// Writing: a key that exists has its line replaced in place; a missing key is
// appended at the end of its section; a missing section after the last one.
// The file is saved as header, lines, one empty line per section, every line
// ending in CR LF. Comments, blank lines and lines above the first header do
// not survive a save.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include <QByteArray>
#include <QString>
#include <QStringList>

#include "exception.h"

// "Cannot open file %s: why": the file cannot be read. The reason is the
// system's ("Permission denied", "Is a directory") or the program's own; it
// is left out when none is known.
class EFOpenError : public Exception {
public:
    explicit EFOpenError(const QString &path, const QString &reason = QString());

    const QString &Reason() const { return reason_; }

private:
    QString reason_;
};

// A file too large to be a settings, parameter or sequence file. It is an open error,
// so that whoever copes with an unreadable file copes with this one too.
class EFTooLarge : public EFOpenError {
public:
    EFTooLarge(const QString &path, qint64 limit);
};

// "Cannot create file %s: why": the file cannot be created or written.
class EFCreateError : public Exception {
public:
    explicit EFCreateError(const QString &path, const QString &reason = QString());
};

// The system's text for an error number: "No such file or directory".
QString SystemErrorText(int error);

// The value forms, without a range: nullopt when the text does not have the
// form. So that a caller can tell a value out of range from one of the wrong
// form, the results are wider than 32 bits.
//
// Integer: optional sign and decimal digits, or hexadecimal digits after
// "$", "0x" or "x" (either case, a sign allowed before the prefix). Up to
// eight significant hexadecimal digits are a 32-bit two's complement pattern,
// so "$FFFFFFFF" is -1. Magnitudes beyond 2^33 come back as 2^33.
std::optional<std::int64_t> IntegerFormValue(const QString &text);
// Number: a decimal number with the system's decimal separator
// (QLocale().decimalPoint()), a fractional part and an exponent allowed, cut
// toward zero. One too large for a double comes back infinite.
std::optional<double> NumberFormValue(const QString &text);

class SectionedText {
public:
    SectionedText() = default;

    // Parses raw file bytes (8-bit text; names and values are taken as Latin-1
    // so that every byte survives a load and save unchanged).
    static SectionedText Parse(const QByteArray &bytes);

    // The largest file that Load accepts: far above any real settings or
    // parameter file (a few hundred bytes), room for a sequence of ten
    // thousand states, low enough that opening a stray huge file neither
    // stalls the window nor exhausts memory.
    static constexpr qint64 kMaxFileSize = qint64(1) << 20;

    // Reads a file. A missing file reads as an empty one. A path that exists
    // but is no regular file (a folder, a device, a pipe) and a file that
    // cannot be opened or read throw EFOpenError with the full path and the
    // reason; a file larger than kMaxFileSize throws EFTooLarge before
    // anything is read.
    static SectionedText Load(const QString &path);
    // The same for a file that the operator names to be read: a missing one
    // is refused too (EFOpenError), since reading it as empty would hand on
    // every key's default.
    static SectionedText LoadExisting(const QString &path);

    // The whole text as it is saved.
    QByteArray Serialize() const;

    // Saves the whole text. The new content is written to a temporary file in
    // the same folder and renamed over the old one, so a failure never leaves
    // a truncated file behind; a file that is replaced keeps its permissions.
    // Where the folder refuses the temporary file (a writable file in a
    // folder that is not the user's, or whose permissions grant no write
    // access) an existing writable file is written in place and flushed
    // instead. A file whose permissions grant no write access is left as it
    // is, and no new file is made in such a folder: the permission bits count
    // even for a process that may write anything (root).
    // Throws EFCreateError with the full path and the reason on failure.
    void Save(const QString &path) const;

    // The text as read, in order: for formats whose sections make a list
    // rather than a set of names (sequence files). Every section, duplicates
    // included, with the line of its header, and every line of it with its
    // number: "key=value" as the key and the value, each stripped of blanks;
    // a line without "=" as its text with no value. Lines the program wrote
    // have line 0.
    struct Entry {
        QString key;
        std::optional<QString> value;
        int line = 0;
    };
    struct SectionEntries {
        QString name;
        int line = 0;
        std::vector<Entry> entries;
    };
    std::vector<SectionEntries> Sections() const;
    // The first line above the first header that is neither blank nor a
    // comment, which no section holds; 0 when there is none.
    int StrayLine() const { return strayLine_; }

    bool SectionExists(const QString &section) const;
    std::optional<QString> ReadString(const QString &section, const QString &key) const;

    // Integer (IntegerFormValue). Anything else, and anything outside the
    // signed 32-bit range, yields the default.
    std::int32_t ReadInteger(const QString &section, const QString &key,
                             std::int32_t defaultValue) const;
    // Flag: any integer as above; every value but 0 counts as set.
    bool ReadBool(const QString &section, const QString &key, bool defaultValue) const;
    // Number (NumberFormValue). Anything else, and anything outside the
    // signed 32-bit range after the cut, yields the default.
    std::int32_t ReadNumber(const QString &section, const QString &key,
                            std::int32_t defaultValue) const;

    // Names are written as the caller spells them (a key must not contain
    // "="); line breaks and NULs in a name or value are written as blanks, so that a value can never end its
    // line early or start a line of its own. A value is read back stripped of
    // blanks at both ends.
    void WriteString(const QString &section, const QString &key, const QString &value);
    // Appends an empty section of that name after the last one, whatever
    // sections the text holds; the writes that follow find it first. For a
    // writer that makes a file of many sections in order (a sequence of ten
    // thousand states), where looking for each name first would take time
    // that grows with the square of their number.
    void AppendSection(const QString &section);
    void WriteInteger(const QString &section, const QString &key, std::int32_t value);
    void WriteBool(const QString &section, const QString &key, bool value);
    void WriteNumber(const QString &section, const QString &key, std::int32_t value);

private:
    // A piece of text: at start in the file's bytes when start >= 0, else the
    // program-written text number -start - 1. Lines and names are kept as such
    // pieces rather than as strings of their own, so that a large file with
    // millions of short lines costs a few bytes per line, not a heap block.
    struct Piece {
        qsizetype start = 0;
        qsizetype length = 0;
        int line = 0;  // its line in the file, from 1; 0 for text the program wrote
    };
    struct Section {
        Piece name;                // stripped of blanks
        std::vector<Piece> lines;  // stripped lines, "key=value" or key-less
    };

    struct Bytes {
        const char *data;
        qsizetype length;
    };
    Bytes Text(const Piece &piece) const;
    Piece Store(QByteArray text);
    void Replace(Piece &piece, QByteArray text);

    Section *FindSection(const QString &name);
    const Section *FindSection(const QString &name) const;
    // The last line of the section whose key matches, or null.
    Piece *FindKey(Section &section, const QString &key);
    const Piece *FindKey(const Section &section, const QString &key) const;

    QByteArray source_;                // the file's bytes up to the first NUL
    std::vector<QByteArray> written_;  // section headers and lines the program wrote
    std::vector<Section> sections_;
    int strayLine_ = 0;
};

// Checks that a file could be saved at path as Save saves it: the name is
// no folder or other non-file, an existing file's permissions grant write
// access, and a new file's folder takes files. Throws EFCreateError with the
// reason otherwise. Lets a caller refuse a file it would only write after
// long work (a test run's log) before that work starts.
void CheckSavable(const QString &path);

// Saves bytes as SectionedText::Save saves its text: atomically through a
// temporary file in the same folder, in place only where the folder takes
// no new file. Throws EFCreateError with the full path and the reason.
void SaveFileAtomically(const QString &path, const QByteArray &bytes);
