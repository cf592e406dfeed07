#include "inifile.h"

#include <cerrno>
#include <cmath>
#include <cstring>
#include <limits>

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include "decimal_text.h"

namespace {

constexpr char kUtf8ByteOrderMark[] = "\xEF\xBB\xBF";

QString FullPath(const QString &path)
{
    return path.isEmpty() ? path : QFileInfo(path).absoluteFilePath();
}

// Blanks and control characters, stripped from both ends of every line and
// from names and values.
bool IsStripped(char c)
{
    const auto u = static_cast<unsigned char>(c);
    return u <= 0x20 || u == 0x7F;
}

// Shrinks [begin, end) of data past stripped characters at both ends.
void Strip(const char *data, qsizetype &begin, qsizetype &end)
{
    while (begin < end && IsStripped(data[begin])) {
        ++begin;
    }
    while (end > begin && IsStripped(data[end - 1])) {
        --end;
    }
}

char AsciiLower(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// Matches Latin-1 bytes against a name without regard to the case of ASCII
// letters. A name with a character outside Latin-1 matches nothing.
bool SameName(const char *data, qsizetype length, const QString &name)
{
    if (length != name.size()) {
        return false;
    }
    for (qsizetype i = 0; i < length; ++i) {
        const char16_t u = name.at(i).unicode();
        if (u > 0xFF) {
            return false;
        }
        if (AsciiLower(data[i]) != AsciiLower(static_cast<char>(u))) {
            return false;
        }
    }
    return true;
}

// The program's text as file bytes: Latin-1, with line breaks and NULs made
// blanks so that the text stays within its one line.
QByteArray OneLine(const QString &text)
{
    QByteArray bytes = text.toLatin1();
    for (char &c : bytes) {
        if (c == '\r' || c == '\n' || c == '\0') {
            c = ' ';
        }
    }
    return bytes;
}

int HexDigit(char16_t c)
{
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

// Whether a folder takes new files: the user may write it and its
// permissions grant write access; the second test keeps the answer
// meaningful for root, who may write anything.
bool FolderTakesFiles(const QString &folder)
{
    const QFileInfo info(folder);
    constexpr QFileDevice::Permissions kAnyWrite =
        QFileDevice::WriteOwner | QFileDevice::WriteGroup | QFileDevice::WriteOther;
    return info.isDir() && info.isWritable() && (info.permissions() & kAnyWrite);
}

// Writes an existing file over in place: opened without truncating, written,
// cut to the new length and flushed. Not atomic; only for a file whose folder
// refuses the temporary file of an atomic save. False with the reason.
bool WriteInPlace(const QString &path, const QByteArray &bytes, QString &why)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadWrite | QIODevice::ExistingOnly)) {
        why = file.errorString();
        return false;
    }
    const bool written =
        file.write(bytes) == bytes.size() && file.resize(bytes.size()) && file.flush();
    why = file.errorString();
    file.close();
    return written && file.error() == QFileDevice::NoError;
}

}  // namespace

std::optional<std::int64_t> IntegerFormValue(const QString &text)
{
    qsizetype i = 0;
    const qsizetype n = text.size();
    bool negative = false;
    if (i < n && (text[i] == u'+' || text[i] == u'-')) {
        negative = text[i] == u'-';
        ++i;
    }
    bool hex = false;
    if (i < n && text[i] == u'$') {
        hex = true;
        i += 1;
    } else if (i + 1 < n && text[i] == u'0' && (text[i + 1] == u'x' || text[i + 1] == u'X')) {
        hex = true;
        i += 2;
    } else if (i < n && (text[i] == u'x' || text[i] == u'X')) {
        hex = true;
        i += 1;
    }
    if (i >= n) {
        return std::nullopt;
    }

    // Accumulate with a cap, so that any number of digits is safe: once past
    // the cap the value is out of the 32-bit range whatever follows.
    constexpr std::int64_t kCap = std::int64_t(1) << 33;
    std::int64_t magnitude = 0;
    const int base = hex ? 16 : 10;
    for (; i < n; ++i) {
        const int digit = hex ? HexDigit(text[i].unicode())
                              : (text[i] >= u'0' && text[i] <= u'9' ? text[i].unicode() - '0' : -1);
        if (digit < 0) {
            return std::nullopt;
        }
        magnitude = magnitude * base + digit;
        if (magnitude > kCap) {
            magnitude = kCap;
        }
    }

    // Hexadecimal digits are a 32-bit pattern, so that values written by
    // tools that print the raw register ("$FFFFFFFF") read as the signed
    // value they stand for.
    std::int64_t value = magnitude;
    if (hex && magnitude <= 0xFFFFFFFFLL) {
        value = static_cast<std::int32_t>(static_cast<std::uint32_t>(magnitude));
    }
    return negative ? -value : value;
}

std::optional<double> NumberFormValue(const QString &text)
{
    const QChar separator = SystemDecimalSeparator();
    double value = 0;
    if (TextToFloat(text, value, separator)) {
        return std::trunc(value);
    }
    if (HasNumberForm(text, separator)) {
        const bool negative = text.trimmed().startsWith(QLatin1Char('-'));
        return negative ? -std::numeric_limits<double>::infinity()
                        : std::numeric_limits<double>::infinity();
    }
    return std::nullopt;
}

namespace {

QString WithReason(const QString &text, const QString &reason)
{
    return reason.isEmpty() ? text : text + QStringLiteral(": ") + reason;
}

// Why a path that exists cannot be read or replaced as a file.
QString NotAFile(const QFileInfo &info)
{
    return info.isDir() ? SystemErrorText(EISDIR) : QStringLiteral("it is not a regular file");
}

// Why no file can be made in a folder.
QString FolderRefusal(const QString &folder)
{
    const QFileInfo info(folder);
    if (!info.exists()) {
        return SystemErrorText(ENOENT);
    }
    return SystemErrorText(info.isDir() ? EACCES : ENOTDIR);
}

}  // namespace

QString SystemErrorText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

EFOpenError::EFOpenError(const QString &path, const QString &reason)
    : Exception(WithReason(QStringLiteral("Cannot open file ") + FullPath(path), reason)),
      reason_(reason)
{}

EFTooLarge::EFTooLarge(const QString &path, qint64 limit)
    : EFOpenError(path, QStringLiteral("it is larger than %1 MiB, too large for a settings, "
                                       "parameter or sequence file")
                            .arg(limit >> 20))
{}

EFCreateError::EFCreateError(const QString &path, const QString &reason)
    : Exception(WithReason(QStringLiteral("Cannot create file ") + FullPath(path), reason))
{}

SectionedText SectionedText::Parse(const QByteArray &bytes)
{
    SectionedText result;
    const qsizetype nul = bytes.indexOf('\0');
    result.source_ = nul < 0 ? bytes : bytes.left(nul);

    const char *data = result.source_.constData();
    const qsizetype size = result.source_.size();
    // Editors on Windows often start a UTF-8 file with a byte order mark; left
    // in place it would hide the first section's header.
    qsizetype pos = result.source_.startsWith(kUtf8ByteOrderMark) ? 3 : 0;
    int number = 0;
    while (pos < size) {
        ++number;
        qsizetype end = pos;
        while (end < size && data[end] != '\r' && data[end] != '\n') {
            ++end;
        }
        qsizetype next = end;
        if (next < size) {
            next += (data[next] == '\r' && next + 1 < size && data[next + 1] == '\n') ? 2 : 1;
        }

        qsizetype begin = pos;
        Strip(data, begin, end);
        pos = next;
        if (begin == end || data[begin] == ';') {
            continue;
        }
        if (end - begin >= 2 && data[begin] == '[' && data[end - 1] == ']') {
            qsizetype nameBegin = begin + 1;
            qsizetype nameEnd = end - 1;
            Strip(data, nameBegin, nameEnd);
            result.sections_.push_back(Section{Piece{nameBegin, nameEnd - nameBegin, number}, {}});
            continue;
        }
        if (result.sections_.empty()) {
            if (result.strayLine_ == 0) {
                result.strayLine_ = number;
            }
            continue;
        }
        result.sections_.back().lines.push_back(Piece{begin, end - begin, number});
    }
    return result;
}

SectionedText SectionedText::Load(const QString &path)
{
    const QFileInfo info(path);
    if (!info.exists()) {
        return {};
    }
    // Only regular files: a folder cannot be read as text, and a device or a
    // pipe might never end or block the window thread.
    if (!info.isFile()) {
        throw EFOpenError(path, NotAFile(info));
    }
    // Refused before a byte is read: a huge file would stall the window.
    if (info.size() > kMaxFileSize) {
        throw EFTooLarge(path, kMaxFileSize);
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        throw EFOpenError(path, file.errorString());
    }
    // Read in blocks up to the first NUL, where the text ends; what follows
    // it is never needed.
    QByteArray bytes;
    constexpr qint64 kBlock = 1 << 20;
    for (;;) {
        const QByteArray block = file.read(kBlock);
        if (file.error() != QFileDevice::NoError) {
            throw EFOpenError(path, file.errorString());
        }
        if (block.isEmpty()) {
            break;
        }
        const qsizetype nul = block.indexOf('\0');
        bytes += nul < 0 ? block : block.left(nul);
        // The file may have grown since its size was taken.
        if (bytes.size() > kMaxFileSize) {
            throw EFTooLarge(path, kMaxFileSize);
        }
        if (nul >= 0) {
            break;
        }
    }
    return Parse(bytes);
}

SectionedText SectionedText::LoadExisting(const QString &path)
{
    if (!QFileInfo::exists(path)) {
        throw EFOpenError(path, SystemErrorText(ENOENT));
    }
    return Load(path);
}

QByteArray SectionedText::Serialize() const
{
    static constexpr char kEnd[] = "\r\n";
    qsizetype total = 0;
    for (const Section &section : sections_) {
        total += section.name.length + 4 + 2;
        for (const Piece &line : section.lines) {
            total += line.length + 2;
        }
    }
    QByteArray out;
    out.reserve(total);
    for (const Section &section : sections_) {
        const Bytes name = Text(section.name);
        out.append('[').append(name.data, name.length).append(']').append(kEnd, 2);
        for (const Piece &line : section.lines) {
            const Bytes text = Text(line);
            out.append(text.data, text.length).append(kEnd, 2);
        }
        out.append(kEnd, 2);
    }
    return out;
}

void CheckSavable(const QString &path)
{
    const QString full = FullPath(path);
    if (full.isEmpty()) {
        throw EFCreateError(path, SystemErrorText(ENOENT));
    }
    const QFileInfo info(full);
    if (info.exists()) {
        if (!info.isFile()) {
            throw EFCreateError(path, NotAFile(info));
        }
        // The permission bits, not only the access check: a process with
        // every right (root) would otherwise replace a read-only file.
        const QFileDevice::Permissions permissions = info.permissions();
        constexpr QFileDevice::Permissions kAnyWrite =
            QFileDevice::WriteOwner | QFileDevice::WriteGroup | QFileDevice::WriteOther;
        if (!(permissions & kAnyWrite) || !info.isWritable()) {
            throw EFCreateError(path, SystemErrorText(EACCES));
        }
    } else if (const QString folder = info.absolutePath(); !FolderTakesFiles(folder)) {
        throw EFCreateError(path, FolderRefusal(folder));
    }
}

void SaveFileAtomically(const QString &path, const QByteArray &bytes)
{
    CheckSavable(path);
    const QString full = FullPath(path);
    const QFileInfo info(full);
    const bool exists = info.exists();

    // QSaveFile follows a symbolic link to the file it names and makes its
    // temporary file beside the target.
    const QString target = exists ? info.canonicalFilePath() : full;
    const QString folder = QFileInfo(target).absolutePath();
    // Where no temporary file can be made, a writable file is written over
    // in place rather than not at all.
    const auto inPlace = [&](QString why) {
        if (!exists || !WriteInPlace(target, bytes, why)) {
            throw EFCreateError(path, why);
        }
    };
    if (!FolderTakesFiles(folder)) {
        inPlace(FolderRefusal(folder));
        return;
    }

    // QSaveFile gives the new file the old one's permissions.
    QSaveFile file(target);
    // Never write over the old file in place when a temporary file can be
    // made: a failure midway would leave it half written.
    file.setDirectWriteFallback(false);
    if (!file.open(QIODevice::WriteOnly)) {
        // The folder refused the temporary file after all (an access control
        // list, a file system that takes no new files).
        inPlace(file.errorString());
        return;
    }
    if (file.write(bytes) != bytes.size()) {
        const QString why = file.errorString();
        file.cancelWriting();
        throw EFCreateError(path, why);
    }
    if (!file.commit()) {
        throw EFCreateError(path, file.errorString());
    }
}

void SectionedText::Save(const QString &path) const
{
    SaveFileAtomically(path, Serialize());
}

std::vector<SectionedText::SectionEntries> SectionedText::Sections() const
{
    std::vector<SectionEntries> result;
    result.reserve(sections_.size());
    for (const Section &section : sections_) {
        const Bytes name = Text(section.name);
        SectionEntries out{QString::fromLatin1(name.data, name.length), section.name.line, {}};
        out.entries.reserve(section.lines.size());
        for (const Piece &line : section.lines) {
            const Bytes text = Text(line);
            const char *eq = static_cast<const char *>(std::memchr(text.data, '=', text.length));
            if (!eq) {
                out.entries.push_back(
                    {QString::fromLatin1(text.data, text.length), std::nullopt, line.line});
                continue;
            }
            qsizetype keyEnd = eq - text.data;
            qsizetype keyBegin = 0;
            Strip(text.data, keyBegin, keyEnd);
            qsizetype valueBegin = eq - text.data + 1;
            qsizetype valueEnd = text.length;
            Strip(text.data, valueBegin, valueEnd);
            out.entries.push_back(
                {QString::fromLatin1(text.data + keyBegin, keyEnd - keyBegin),
                 QString::fromLatin1(text.data + valueBegin, valueEnd - valueBegin), line.line});
        }
        result.push_back(std::move(out));
    }
    return result;
}

bool SectionedText::SectionExists(const QString &section) const
{
    return FindSection(section) != nullptr;
}

std::optional<QString> SectionedText::ReadString(const QString &section, const QString &key) const
{
    const Section *s = FindSection(section);
    if (!s) {
        return std::nullopt;
    }
    const Piece *line = FindKey(*s, key);
    if (!line) {
        return std::nullopt;
    }
    const Bytes text = Text(*line);
    const char *eq = static_cast<const char *>(std::memchr(text.data, '=', text.length));
    qsizetype begin = eq - text.data + 1;
    qsizetype end = text.length;
    Strip(text.data, begin, end);
    return QString::fromLatin1(text.data + begin, end - begin);
}

std::int32_t SectionedText::ReadInteger(const QString &section, const QString &key,
                                        std::int32_t defaultValue) const
{
    const std::optional<QString> text = ReadString(section, key);
    const std::optional<std::int64_t> value = text ? IntegerFormValue(*text) : std::nullopt;
    if (!value || *value < std::numeric_limits<std::int32_t>::min()
        || *value > std::numeric_limits<std::int32_t>::max()) {
        return defaultValue;
    }
    return static_cast<std::int32_t>(*value);
}

bool SectionedText::ReadBool(const QString &section, const QString &key, bool defaultValue) const
{
    return ReadInteger(section, key, defaultValue ? 1 : 0) != 0;
}

std::int32_t SectionedText::ReadNumber(const QString &section, const QString &key,
                                       std::int32_t defaultValue) const
{
    const std::optional<QString> text = ReadString(section, key);
    const std::optional<double> cut = text ? NumberFormValue(*text) : std::nullopt;
    if (!cut || !std::isfinite(*cut) || *cut < double(std::numeric_limits<std::int32_t>::min())
        || *cut > double(std::numeric_limits<std::int32_t>::max())) {
        return defaultValue;
    }
    return static_cast<std::int32_t>(*cut);
}

void SectionedText::WriteString(const QString &section, const QString &key, const QString &value)
{
    Section *s = FindSection(section);
    if (!s) {
        sections_.push_back(Section{Store(OneLine(section)), {}});
        s = &sections_.back();
    }
    QByteArray line = OneLine(key) + '=' + OneLine(value);
    if (Piece *existing = FindKey(*s, key)) {
        Replace(*existing, std::move(line));
    } else {
        s->lines.push_back(Store(std::move(line)));
    }
}

void SectionedText::AppendSection(const QString &section)
{
    sections_.push_back(Section{Store(OneLine(section)), {}});
}

void SectionedText::WriteInteger(const QString &section, const QString &key, std::int32_t value)
{
    WriteString(section, key, QString::number(value));
}

void SectionedText::WriteBool(const QString &section, const QString &key, bool value)
{
    WriteString(section, key, value ? QStringLiteral("1") : QStringLiteral("0"));
}

void SectionedText::WriteNumber(const QString &section, const QString &key, std::int32_t value)
{
    WriteString(section, key, QString::number(value));
}

SectionedText::Bytes SectionedText::Text(const Piece &piece) const
{
    if (piece.start >= 0) {
        return Bytes{source_.constData() + piece.start, piece.length};
    }
    const QByteArray &text = written_[static_cast<std::size_t>(-piece.start - 1)];
    return Bytes{text.constData(), text.size()};
}

SectionedText::Piece SectionedText::Store(QByteArray text)
{
    const qsizetype length = text.size();
    written_.push_back(std::move(text));
    return Piece{-static_cast<qsizetype>(written_.size()), length};
}

void SectionedText::Replace(Piece &piece, QByteArray text)
{
    if (piece.start < 0) {
        // Written before: reuse its slot, so repeated writes do not pile up.
        piece.length = text.size();
        written_[static_cast<std::size_t>(-piece.start - 1)] = std::move(text);
    } else {
        piece = Store(std::move(text));
    }
}

SectionedText::Section *SectionedText::FindSection(const QString &name)
{
    return const_cast<Section *>(std::as_const(*this).FindSection(name));
}

const SectionedText::Section *SectionedText::FindSection(const QString &name) const
{
    // The last one of that name counts; earlier ones are kept as they are.
    for (auto it = sections_.rbegin(); it != sections_.rend(); ++it) {
        const Bytes text = Text(it->name);
        if (SameName(text.data, text.length, name)) {
            return &*it;
        }
    }
    return nullptr;
}

SectionedText::Piece *SectionedText::FindKey(Section &section, const QString &key)
{
    return const_cast<Piece *>(FindKey(std::as_const(section), key));
}

const SectionedText::Piece *SectionedText::FindKey(const Section &section, const QString &key) const
{
    for (auto it = section.lines.rbegin(); it != section.lines.rend(); ++it) {
        const Bytes text = Text(*it);
        const char *eq = static_cast<const char *>(std::memchr(text.data, '=', text.length));
        if (!eq) {
            continue;
        }
        qsizetype begin = 0;
        qsizetype end = eq - text.data;
        Strip(text.data, begin, end);
        if (SameName(text.data + begin, end - begin, key)) {
            return &*it;
        }
    }
    return nullptr;
}
