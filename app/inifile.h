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

#include "errors.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>
#include <vector>

// "Cannot open file %s": the file exists but cannot be read.
class EFOpenError : public Exception {
public:
    explicit EFOpenError(const QString &path);
};

// "Cannot create file %s": the file cannot be created or written.
class EFCreateError : public Exception {
public:
    explicit EFCreateError(const QString &path);
};

class SectionedText {
public:
    SectionedText() = default;

    // Parses raw file bytes (8-bit text; names and values are taken as Latin-1
    // so that every byte survives a load and save unchanged).
    static SectionedText Parse(const QByteArray &bytes);

    // Reads a file. A missing file reads as an empty one. A file that exists
    // but cannot be read throws EFOpenError with the full path.
    static SectionedText Load(const QString &path);

    // The whole text as it is saved.
    QByteArray Serialize() const;

    // Saves the whole text. The new content is written to a temporary file in
    // the same folder and renamed over the old one, so a failure never leaves
    // a truncated file behind. A file whose permissions grant no write access
    // is left as it is. Throws EFCreateError with the full path on failure.
    void Save(const QString &path) const;

    bool SectionExists(const QString &section) const;
    std::optional<QString> ReadString(const QString &section, const QString &key) const;

    // Integer: optional sign and decimal digits, or hexadecimal digits after
    // "$", "0x" or "x". Anything else, and anything outside the signed 32-bit
    // range, yields the default.
    std::int32_t ReadInteger(const QString &section, const QString &key,
                             std::int32_t defaultValue) const;
    // Flag: any integer as above; every value but 0 counts as set.
    bool ReadBool(const QString &section, const QString &key, bool defaultValue) const;
    // Number: a decimal number with the system's decimal separator, a
    // fractional part and an exponent allowed, cut toward zero. Anything else,
    // and anything outside the signed 32-bit range, yields the default.
    std::int32_t ReadNumber(const QString &section, const QString &key,
                            std::int32_t defaultValue) const;

    void WriteString(const QString &section, const QString &key, const QString &value);
    void WriteInteger(const QString &section, const QString &key, std::int32_t value);
    void WriteBool(const QString &section, const QString &key, bool value);
    void WriteNumber(const QString &section, const QString &key, std::int32_t value);

private:
    struct Line {
        QString text;               // the stripped line as read, or "Key=value" as written
        std::optional<QString> key; // set for lines with "="
        QString value;
    };
    struct Section {
        QString name;
        std::vector<Line> lines;
    };

    Section *FindSection(const QString &name);
    const Section *FindSection(const QString &name) const;

    std::vector<Section> sections_;
};
