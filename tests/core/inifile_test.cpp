#include "inifile.h"

#include <climits>
#include <functional>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

// The bytes of a literal, NULs included.
template <std::size_t N>
QByteArray Bytes(const char (&text)[N])
{
    return QByteArray(text, N - 1);
}

template <std::size_t N>
SectionedText Parse(const char (&text)[N])
{
    return SectionedText::Parse(Bytes(text));
}

QByteArray ReadAll(const QString &path)
{
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly));
    return file.readAll();
}

void WriteAll(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    ASSERT_EQ(file.write(bytes), bytes.size());
}

QStringList Entries(const QTemporaryDir &dir)
{
    return QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
}

template <class E>
QString MessageOf(const std::function<void()> &f)
{
    try {
        f();
    } catch (const E &e) {
        return e.Message();
    }
    return QStringLiteral("(nothing thrown)");
}

// A settings file as the main window writes it at the first close.
void WriteSettingsKeys(SectionedText &ini)
{
    ini.WriteInteger("General", "Left", 443);
    ini.WriteInteger("General", "Top", -19);
    ini.WriteBool("Mode", "Lock", true);
    ini.WriteBool("Mode", "Mute", false);
    for (const char *out : {"OUT A", "OUT B"}) {
        ini.WriteInteger(out, "M", 0);
        ini.WriteNumber(out, "F", 50000);
        ini.WriteNumber(out, "P", -1200);
    }
}

}  // namespace

TEST(SectionedTextFormatTest, LineEndingsNulStrippingAndComments)
{
    const SectionedText ini = Parse("K=before any header\r\n"
                                    " \t[S]\x01 \r\nA=1\rB=2\nC=3\n\rD=4\r\r\n"
                                    "\x7f  E \t=\t five  six \x02\n"
                                    ";F=6\n  ; G=7\n\x01\x02\x1f\n"
                                    "H=;8\n"
                                    "I=9\0J=10\n");
    EXPECT_EQ(ini.ReadInteger("S", "A", 0), 1);
    EXPECT_EQ(ini.ReadInteger("S", "B", 0), 2);
    EXPECT_EQ(ini.ReadInteger("S", "C", 0), 3);
    EXPECT_EQ(ini.ReadInteger("S", "D", 0), 4);
    EXPECT_EQ(ini.ReadString("S", "E"), QString("five  six"));
    EXPECT_EQ(ini.ReadString("S", "F"), std::nullopt);
    EXPECT_EQ(ini.ReadString("S", "G"), std::nullopt);
    EXPECT_EQ(ini.ReadString("S", "H"), QString(";8"));
    EXPECT_EQ(ini.ReadInteger("S", "I", 0), 9);
    EXPECT_EQ(ini.ReadString("S", "J"), std::nullopt);
    EXPECT_EQ(ini.ReadString("S", "K"), std::nullopt);
    EXPECT_EQ(ini.Serialize(), QByteArray("[S]\r\nA=1\r\nB=2\r\nC=3\r\nD=4\r\n"
                                          "E \t=\t five  six\r\nH=;8\r\nI=9\r\n\r\n"));
}

TEST(SectionedTextFormatTest, AByteOrderMarkBeforeTheFirstHeaderIsSkipped)
{
    const SectionedText ini = Parse("\xEF\xBB\xBF[OUT A]\r\nF=4242\r\n");
    EXPECT_EQ(ini.ReadInteger("OUT A", "F", 0), 4242);
    EXPECT_EQ(ini.Serialize(), QByteArray("[OUT A]\r\nF=4242\r\n\r\n"));
    // Only at the very start: elsewhere the bytes are part of the line.
    EXPECT_EQ(Parse("[S]\n\xEF\xBB\xBFK=1\n").ReadString("S", "K"), std::nullopt);
}

TEST(SectionedTextFormatTest, NamesMatchWithoutRegardToAsciiCase)
{
    SectionedText ini = Parse("[ out b ]\nf = 7\n[\xe9t\xe9]\nx=1\n");
    EXPECT_TRUE(ini.SectionExists("OUT B"));
    EXPECT_EQ(ini.ReadNumber("OUT B", "F", 1), 7);
    EXPECT_EQ(ini.ReadInteger("\u00e9t\u00e9", "X", 0), 1);
    EXPECT_EQ(ini.ReadInteger("\u00c9T\u00c9", "X", 0), 0);  // only ASCII letters fold
    ini.WriteNumber("OUT B", "F", 8);
    EXPECT_EQ(ini.Serialize(), QByteArray("[out b]\r\nF=8\r\n\r\n[\xe9t\xe9]\r\nx=1\r\n\r\n"));
}

TEST(SectionedTextFormatTest, LastDuplicateIsReadAndOverwritten)
{
    SectionedText ini = Parse("[S]\nM=1\nB=5\n[T]\nM=7\n[s]\nm=2\nM=3\nlone\n");
    EXPECT_EQ(ini.ReadInteger("S", "M", 0), 3);
    EXPECT_EQ(ini.ReadInteger("S", "B", 0), 0);  // only in the earlier "S"
    ini.WriteInteger("S", "M", 4);
    ini.WriteInteger("S", "M", 5);
    ini.WriteInteger("S", "B", 6);
    EXPECT_EQ(ini.Serialize(), QByteArray("[S]\r\nM=1\r\nB=5\r\n\r\n[T]\r\nM=7\r\n\r\n"
                                          "[s]\r\nm=2\r\nM=5\r\nlone\r\nB=6\r\n\r\n"));
}

TEST(SectionedTextFormatTest, SectionsInOrderWithTheirLineNumbers)
{
    // Every line break counts once (CR LF, lone CR, lone LF), skipped lines
    // too; duplicates stay; a key-less line has no value.
    SectionedText ini = Parse("; a comment\r\n\r\nstray\n[ S ]\r\n k = v \rlone\n;x=1\n\n"
                              "[S]\nk=\n");
    ini.WriteString("T", "w", "1");
    const std::vector<SectionedText::SectionEntries> sections = ini.Sections();
    ASSERT_EQ(sections.size(), 3u);
    EXPECT_EQ(ini.StrayLine(), 3);
    EXPECT_EQ(sections[0].name, "S");
    EXPECT_EQ(sections[0].line, 4);
    ASSERT_EQ(sections[0].entries.size(), 2u);
    EXPECT_EQ(sections[0].entries[0].key, "k");
    EXPECT_EQ(sections[0].entries[0].value, QString("v"));
    EXPECT_EQ(sections[0].entries[0].line, 5);
    EXPECT_EQ(sections[0].entries[1].key, "lone");
    EXPECT_EQ(sections[0].entries[1].value, std::nullopt);
    EXPECT_EQ(sections[0].entries[1].line, 6);
    EXPECT_EQ(sections[1].line, 9);
    EXPECT_EQ(sections[1].entries[0].value, QString(""));
    EXPECT_EQ(sections[1].entries[0].line, 10);
    EXPECT_EQ(sections[2].name, "T");
    EXPECT_EQ(sections[2].line, 0);
    EXPECT_EQ(sections[2].entries[0].line, 0);
    EXPECT_EQ(Parse("[S]\n").StrayLine(), 0);

    // An appended section takes the writes that follow, though an earlier
    // one has its name.
    SectionedText two = Parse("[S]\nk=1\n");
    two.AppendSection("S");
    two.WriteString("S", "k", "2");
    EXPECT_EQ(two.Serialize(), QByteArray("[S]\r\nk=1\r\n\r\n[S]\r\nk=2\r\n\r\n"));
}

TEST(SectionedTextFormatTest, IntegerAndFlagForms)
{
    const struct {
        const char *text;
        std::int32_t expected;  // -7 is the default
    } cases[] = {
        {"0x20", 32},
        {"$20", 32},
        {"x20", 32},
        {"0X20", 32},
        {"X20", 32},
        {"$fF", 255},
        {"-$20", -32},
        {"+0x20", 32},
        {"$FFFFFFFF", -1},
        {"$80000000", INT_MIN},
        {"$00000000000000FF", 255},
        {"0", 0},
        {"007", 7},
        {"+15", 15},
        {"-15", -15},
        {"2147483647", INT_MAX},
        {"-2147483648", INT_MIN},
        {"  12  ", 12},
        // malformed, empty or outside the signed 32-bit range
        {"", -7},
        {"yes", -7},
        {"1.5", -7},
        {"1e3", -7},
        {"- 5", -7},
        {"5 5", -7},
        {"$", -7},
        {"0x", -7},
        {"x", -7},
        {"-", -7},
        {"$G1", -7},
        {"$-1", -7},
        {"--1", -7},
        {"0x0x1", -7},
        {"2147483648", -7},
        {"-2147483649", -7},
        {"$100000000", -7},
        {"-$80000000", -7},
        {"99999999999999999999999999999", -7},
        {"$FFFFFFFFFFFFFFFFFFFFFFFFF", -7},
    };
    for (const auto &c : cases) {
        const SectionedText ini = SectionedText::Parse(QByteArray("[S]\nK=") + c.text);
        EXPECT_EQ(ini.ReadInteger("S", "K", -7), c.expected) << c.text;
        EXPECT_EQ(ini.ReadBool("S", "K", true), c.expected != 0) << c.text;
        EXPECT_EQ(ini.ReadBool("S", "K", false), c.expected != 0 && c.expected != -7) << c.text;
    }
    const SectionedText ini = Parse("[Mode]\nReview=2\nMute=yes\n");
    EXPECT_TRUE(ini.ReadBool("Mode", "Review", false));
    EXPECT_FALSE(ini.ReadBool("Mode", "Mute", false));
    EXPECT_TRUE(ini.ReadBool("Mode", "Missing", true));
    EXPECT_EQ(ini.ReadInteger("Missing", "K", 443), 443);
}

TEST(SectionedTextFormatTest, NumberFormWithSystemDecimalSeparator)
{
    const struct {
        const char *text;
        std::int32_t expected;  // 1 is the default
    } cases[] = {
        {"1500.9", 1500},
        {"-2.5", -2},
        {"1e3", 1000},
        {"50000", 50000},
        {"-1200", -1200},
        {"2147483647.9", INT_MAX},
        {"-2147483648.9", INT_MIN},
        {"0.5", 0},
        {"-0.5", 0},
        {"", 1},
        {"abc", 1},
        {"1,5", 1},
        {"0x20", 1},
        {"1.5.5", 1},
        {"2147483648", 1},
        {"-2147483649", 1},
        {"1e10", 1},
        {"1e300", 1},
        {"1e999", 1},
        {"-1e999", 1},
    };
    for (const auto &c : cases) {
        const SectionedText ini = SectionedText::Parse(QByteArray("[OUT A]\nF=") + c.text);
        EXPECT_EQ(ini.ReadNumber("OUT A", "F", 1), c.expected) << c.text;
    }

    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    const SectionedText german = Parse("[OUT A]\nF=1500,9\nP=-2,5e1\nA=1500.9\n");
    EXPECT_EQ(german.ReadNumber("OUT A", "F", 1), 1500);
    EXPECT_EQ(german.ReadNumber("OUT A", "P", 0), -25);
    EXPECT_EQ(german.ReadNumber("OUT A", "A", 1), 1);
    QLocale::setDefault(QLocale::c());
}

TEST(SectionedTextFormatTest, EveryByteSurvivesAndWrittenTextStaysOnItsLine)
{
    QByteArray line = "k=";
    for (int b = 0x21; b <= 0xFF; ++b) {
        line += static_cast<char>(b);
    }
    SectionedText ini = SectionedText::Parse("[S]\n" + line + "\n");
    EXPECT_EQ(ini.Serialize(), "[S]\r\n" + line + "\r\n\r\n");
    EXPECT_EQ(ini.ReadString("S", "k")->toLatin1(), line.mid(2));

    ini.WriteString("S", "v", QString::fromLatin1(Bytes("a\r\n[T]\nb=c\0d")));
    ini.WriteString("S", "w", QString::fromUtf8("\u00e9"));
    const SectionedText again = SectionedText::Parse(ini.Serialize());
    EXPECT_FALSE(again.SectionExists("T"));
    EXPECT_EQ(again.ReadString("S", "v"), QString("a  [T] b=c d"));
    EXPECT_EQ(again.ReadString("S", "w"), QString::fromUtf8("\u00e9"));
}

TEST(SectionedTextHostileTest, OddLinesReadWithoutHarm)
{
    const SectionedText ini =
        Parse("[\n]\n=\n[]\n=\n==x\n[[x]]\n[a]b]\n\x01\x02\x03\n[\x7f]\n;\n=y\n");
    EXPECT_TRUE(ini.SectionExists(""));
    EXPECT_EQ(ini.ReadString("", ""), QString("y"));
    EXPECT_TRUE(ini.SectionExists("[x]"));
    EXPECT_TRUE(ini.SectionExists("a]b"));
    EXPECT_EQ(ini.Serialize(), QByteArray("[]\r\n=\r\n==x\r\n\r\n[[x]]\r\n\r\n"
                                          "[a]b]\r\n\r\n[]\r\n=y\r\n\r\n"));
    EXPECT_EQ(Parse("[a]\n[b]\n[A]\n").Serialize(),
              QByteArray("[a]\r\n\r\n[b]\r\n\r\n[A]\r\n\r\n"));
}

TEST(SectionedTextHostileTest, RandomInputParsesToAStableText)
{
    // Bytes weighted toward the ones that carry structure.
    const QByteArray alphabet("[]=;\r\n\r\n \t\x01\x7f"
                              "aAkK09$x-.\xff\0",
                              24);
    QRandomGenerator random(418);
    for (int round = 0; round < 2000; ++round) {
        QByteArray bytes(random.bounded(1, 300), Qt::Uninitialized);
        for (char &c : bytes) {
            c = round % 4 == 0 ? static_cast<char>(random.bounded(256))
                               : alphabet.at(random.bounded(alphabet.size()));
        }
        SectionedText ini = SectionedText::Parse(bytes);
        const QByteArray once = ini.Serialize();
        ASSERT_EQ(SectionedText::Parse(once).Serialize(), once) << bytes.toHex().constData();
        (void)ini.ReadInteger("a", "k", 0);
        (void)ini.ReadNumber("A", "K", 0);
        ini.WriteInteger("a", "k", round);
        ASSERT_EQ(SectionedText::Parse(ini.Serialize()).ReadInteger("A", "K", -1), round);
    }
}

TEST(SectionedTextHostileTest, LongLinesAndHugeFiles)
{
    const QByteArray nines(1 << 20, '9');
    const SectionedText longLines =
        SectionedText::Parse("[" + nines + "]\n[S]\nA=" + nines + "\nB=1" + nines + "\nC=3\n");
    EXPECT_TRUE(longLines.SectionExists(QString::fromLatin1(nines)));
    EXPECT_EQ(longLines.ReadInteger("S", "A", -1), -1);
    EXPECT_EQ(longLines.ReadNumber("S", "B", -1), -1);
    EXPECT_EQ(longLines.ReadString("S", "A")->size(), nines.size());
    EXPECT_EQ(longLines.ReadInteger("S", "C", -1), 3);

    // As many short lines as the largest file Load accepts can hold (1 MiB),
    // parsed and written back.
    constexpr int kLines = SectionedText::kMaxFileSize / 2;
    QByteArray lines = "[OUT A]\n";
    lines += QByteArray("=\n").repeated(kLines);
    SectionedText ini = SectionedText::Parse(lines + "F=6\n");
    EXPECT_EQ(ini.ReadNumber("OUT A", "F", 1), 6);
    ini.WriteNumber("OUT A", "F", 7);
    const QByteArray saved = ini.Serialize();
    EXPECT_EQ(saved.size(), 9 + 3 * kLines + 5 + 2);
    EXPECT_TRUE(saved.endsWith("=\r\n=\r\nF=7\r\n\r\n"));
}

TEST(SectionedTextHostileTest, FilesAbove1MiBAreRefusedUnread)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("huge.par");
    // Exactly 1 MiB is read; one byte more is refused, also when its text
    // would end early at a NUL, and also a sparse file of 200 MB that would
    // take seconds to read.
    QByteArray text = "[OUT A]\nF=5\n";
    text += QByteArray(SectionedText::kMaxFileSize - text.size(), ';');
    WriteAll(path, text);
    EXPECT_EQ(SectionedText::Load(path).ReadNumber("OUT A", "F", 1), 5);

    const QString message =
        "Cannot open file " + path
        + ": it is larger than 1 MiB, too large for a settings, parameter or sequence file";
    WriteAll(path, text + QByteArray(1, '\0'));
    EXPECT_EQ(MessageOf<EFTooLarge>([&] { SectionedText::Load(path); }), message);
    QFile sparse(path);
    ASSERT_TRUE(sparse.open(QIODevice::ReadWrite));
    ASSERT_TRUE(sparse.resize(qint64(200) << 20));
    sparse.close();
    EXPECT_EQ(MessageOf<EFOpenError>([&] { SectionedText::Load(path); }), message);
}

#ifdef Q_OS_UNIX
TEST(SectionedTextHostileTest, DevicesAndPipesAreNotRead)
{
    QTemporaryDir dir;
    const QString fifo = dir.filePath("pipe.ini");
    ASSERT_EQ(mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    EXPECT_EQ(MessageOf<EFOpenError>([&] { SectionedText::Load(fifo); }),
              "Cannot open file " + fifo + ": it is not a regular file");
    EXPECT_THROW(SectionedText::Load("/dev/zero"), EFOpenError);
}
#endif

TEST(SectionedTextFileTest, FreshFileBytes)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("PX418.ini");
    SectionedText ini = SectionedText::Load(path);  // missing: empty
    EXPECT_EQ(ini.Serialize(), QByteArray());
    WriteSettingsKeys(ini);
    ini.Save(path);
    EXPECT_EQ(ReadAll(path), QByteArray("[General]\r\nLeft=443\r\nTop=-19\r\n\r\n"
                                        "[Mode]\r\nLock=1\r\nMute=0\r\n\r\n"
                                        "[OUT A]\r\nM=0\r\nF=50000\r\nP=-1200\r\n\r\n"
                                        "[OUT B]\r\nM=0\r\nF=50000\r\nP=-1200\r\n\r\n"));
    EXPECT_EQ(Entries(dir), QStringList{"PX418.ini"});
}

TEST(SectionedTextFileTest, LoadModifySaveKeepsWhatItDoesNotKnow)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("set.par");
    WriteAll(path, "; made by hand\n\nstray=1\n[Extra]\nX=1\n\n[out a]\n"
                   "; frequency\n  f = 100  \nNote=kept\nplain line\n[Mode]\nlock=0\n");
    SectionedText ini = SectionedText::Load(path);
    WriteSettingsKeys(ini);
    ini.Save(path);
    EXPECT_EQ(ReadAll(path), QByteArray("[Extra]\r\nX=1\r\n\r\n"
                                        "[out a]\r\nF=50000\r\nNote=kept\r\nplain line\r\n"
                                        "M=0\r\nP=-1200\r\n\r\n"
                                        "[Mode]\r\nLock=1\r\nMute=0\r\n\r\n"
                                        "[General]\r\nLeft=443\r\nTop=-19\r\n\r\n"
                                        "[OUT B]\r\nM=0\r\nF=50000\r\nP=-1200\r\n\r\n"));
    EXPECT_EQ(Entries(dir), QStringList{"set.par"});
}

TEST(SectionedTextFileTest, SaveFailuresLeaveEverythingAsItWas)
{
    QTemporaryDir dir;
    SectionedText ini;
    WriteSettingsKeys(ini);

    const QString readOnly = dir.filePath("ro.ini");
    const QByteArray before("[General]\r\nLeft=1\r\n");
    WriteAll(readOnly, before);
    ASSERT_TRUE(
        QFile::setPermissions(readOnly, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));
    // Each message gives the system's reason.
    EXPECT_EQ(MessageOf<EFCreateError>([&] { ini.Save(readOnly); }),
              "Cannot create file " + readOnly + ": Permission denied");
    EXPECT_EQ(ReadAll(readOnly), before);

    const QString underFile = readOnly + "/x.ini";
    EXPECT_EQ(MessageOf<EFCreateError>([&] { ini.Save(underFile); }),
              "Cannot create file " + underFile + ": Not a directory");
    EXPECT_EQ(MessageOf<EFCreateError>([&] { ini.Save(dir.filePath("missing/x.ini")); }),
              "Cannot create file " + dir.filePath("missing/x.ini")
                  + ": No such file or directory");
    ASSERT_TRUE(QDir(dir.path()).mkdir("folder.ini"));
    EXPECT_EQ(MessageOf<EFCreateError>([&] { ini.Save(dir.filePath("folder.ini")); }),
              "Cannot create file " + dir.filePath("folder.ini") + ": Is a directory");
    EXPECT_EQ(MessageOf<EFOpenError>([&] { SectionedText::Load(dir.filePath("folder.ini")); }),
              "Cannot open file " + dir.filePath("folder.ini") + ": Is a directory");
    // A name that must exist.
    EXPECT_EQ(MessageOf<EFOpenError>([&] { SectionedText::LoadExisting(dir.filePath("no.par")); }),
              "Cannot open file " + dir.filePath("no.par") + ": No such file or directory");
    EXPECT_THROW(ini.Save(""), EFCreateError);
    // The same refusals before anything is written.
    EXPECT_THROW(CheckSavable(readOnly), EFCreateError);
    EXPECT_THROW(CheckSavable(dir.filePath("missing/x.ini")), EFCreateError);
    EXPECT_THROW(CheckSavable(dir.filePath("folder.ini")), EFCreateError);
    EXPECT_NO_THROW(CheckSavable(dir.filePath("new.ini")));
    EXPECT_EQ(Entries(dir), (QStringList{"folder.ini", "ro.ini"}));
}

#ifdef Q_OS_UNIX
// A folder that takes no new files: its permission bits grant no write
// access. That stops a normal user; Save honours the bits for root too, who
// would otherwise pass every check, so these tests mean the same for both.
class ReadOnlyFolderTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir_.isValid());
        folder = dir_.filePath("installed");
        ASSERT_TRUE(QDir().mkdir(folder));
    }
    void TearDown() override { Lock(false); }

    void Lock(bool locked)
    {
        const QFile::Permissions open = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner;
        QFile::setPermissions(folder, locked ? open & ~QFile::WriteOwner : open);
    }

    // A second name of a file, outside the folder (a hard link): a file
    // written in place shows its new content under both names.
    QString SecondName(const QString &file)
    {
        const QString name = dir_.filePath("second-name");
        EXPECT_EQ(::link(QFile::encodeName(file).constData(), QFile::encodeName(name).constData()),
                  0);
        return name;
    }

    QString folder;

private:
    QTemporaryDir dir_;
};

TEST_F(ReadOnlyFolderTest, AWritableFileIsWrittenInPlace)
{
    const QString path = folder + "/px418.ini";
    WriteAll(path, QByteArray("[General]\r\nLeft=1\r\nTheme=dark\r\n").repeated(3));
    const QString second = SecondName(path);
    Lock(true);

    // Longer than before, then shorter: the tail of the old text never stays.
    SectionedText ini = SectionedText::Load(path);
    WriteSettingsKeys(ini);
    ini.Save(path);
    EXPECT_EQ(ReadAll(path), ini.Serialize());
    SectionedText shorter = SectionedText::Parse("[S]\nA=1\n");
    shorter.Save(path);
    EXPECT_EQ(ReadAll(path), QByteArray("[S]\r\nA=1\r\n\r\n"));

    EXPECT_EQ(ReadAll(second), ReadAll(path));  // the same file, not a replacement
    EXPECT_EQ(QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
              QStringList{"px418.ini"});

    // Through a symbolic link from a writable folder as well.
    Lock(false);
    const QString link = folder + "/../link.ini";
    ASSERT_TRUE(QFile::link(path, link));
    Lock(true);
    ini.Save(link);
    EXPECT_EQ(ReadAll(path), ini.Serialize());
    EXPECT_TRUE(QFileInfo(link).isSymLink());
}

TEST_F(ReadOnlyFolderTest, RealFailuresStillFail)
{
    const QString readOnly = folder + "/ro.ini";
    WriteAll(readOnly, "[S]\r\nA=1\r\n");
    ASSERT_TRUE(QFile::setPermissions(readOnly, QFile::ReadOwner));
    Lock(true);
    SectionedText ini;
    WriteSettingsKeys(ini);
    // A read-only file, and a file that would be new in the folder.
    EXPECT_EQ(MessageOf<EFCreateError>([&] { ini.Save(readOnly); }),
              "Cannot create file " + readOnly + ": Permission denied");
    EXPECT_EQ(ReadAll(readOnly), QByteArray("[S]\r\nA=1\r\n"));
    EXPECT_EQ(MessageOf<EFCreateError>([&] { ini.Save(folder + "/new.ini"); }),
              "Cannot create file " + folder + "/new.ini: Permission denied");
    EXPECT_FALSE(QFileInfo::exists(folder + "/new.ini"));
}
#endif

TEST(SectionedTextFileTest, RelativePathsAndPermissions)
{
    QTemporaryDir dir;
    const QString old = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(dir.path()));
    const QString here = QDir::currentPath();
    const QString absolute = here + "/rel.ini";
    WriteAll(absolute, "[S]\nA=1\n");
    const QFile::Permissions mode = QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup;
    ASSERT_TRUE(QFile::setPermissions(absolute, mode));

    SectionedText ini = SectionedText::Load("rel.ini");
    ini.WriteInteger("S", "A", 2);
    ini.Save("rel.ini");
    EXPECT_EQ(ReadAll(absolute), QByteArray("[S]\r\nA=2\r\n\r\n"));
    EXPECT_EQ(QFileInfo(absolute).permissions() & 0x7077, mode);
    ASSERT_TRUE(QFile::link("rel.ini", "link.ini"));
    ini.WriteInteger("S", "A", 3);
    ini.Save("link.ini");
    EXPECT_TRUE(QFileInfo(here + "/link.ini").isSymLink());
    EXPECT_EQ(ReadAll(absolute), QByteArray("[S]\r\nA=3\r\n\r\n"));
    EXPECT_EQ(MessageOf<EFCreateError>([&] { ini.Save("no/such/folder.ini"); }),
              "Cannot create file " + here + "/no/such/folder.ini: No such file or directory");
    ASSERT_TRUE(QDir::setCurrent(old));
}
