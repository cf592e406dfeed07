// The main window's files: the settings file at start and close, and
// parameter files through "Open..." and "Save as...".
#include <QAction>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QRandomGenerator>
#include <QScreen>

#include "inifile.h"
#include "main_window_fixture.h"
#include "phasor_form.h"

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

namespace {

const std::array<std::int32_t, 12> kDefaultTable = {0, 1, 0, 1, 0, 1, 0, 1, 0, 1, 0, 1};

// The phasor view's section, which lies between "Mode" and "OUT A", holds
// the place where it would open on the test screen (800 x 800): no side of
// the main window holds it, so it takes its smallest size in the top left
// corner, where it covers the least of the main window.
const QByteArray kFreshSettings =
    "[General]\r\nLeft=443\r\nTop=419\r\n\r\n"
    "[Mode]\r\nLock=0\r\nMute=0\r\nReview=0\r\nAutorecall=1\r\nRMS=1\r\n\r\n"
    "[View]\r\nPhasors=0\r\nPhasorsLeft=0\r\nPhasorsTop=0\r\nPhasorsWidth=%1\r\n"
    "PhasorsHeight=%2\r\n\r\n"
    "[OUT A]\r\nM=0\r\nF=1\r\nP=0\r\nA=1\r\n\r\n"
    "[OUT B]\r\nM=0\r\nF=1\r\nP=0\r\nA=1\r\n\r\n"
    "[OUT C]\r\nM=0\r\nF=1\r\nP=0\r\nA=1\r\n\r\n";

const QByteArray kParamsFile = "[OUT A]\r\nM=0\r\nF=1500\r\nP=100\r\nA=500\r\n"
                               "[OUT B]\r\nM=0\r\nF=2000\r\nP=-900\r\nA=600\r\n"
                               "[OUT C]\r\nM=0\r\nF=3000\r\nP=900\r\nA=700\r\n";

}  // namespace

class MainFilesTest : public MainWindowTest {
protected:
    // Makes the next file dialog choose `path` (relative names are resolved
    // in the dialog's folder) and records what the dialog was set up with.
    void ChooseFile(const QString &path, bool accept = true)
    {
        form->ExecFileDialog = [this, path, accept](QFileDialog &dialog) {
            title = dialog.windowTitle();
            folder = dialog.directory().absolutePath();
            filters = dialog.nameFilters();
            suffix = dialog.defaultSuffix();
            acceptMode = dialog.acceptMode();
            proposed = dialog.selectedFiles();
            confirmOverwrite = !dialog.testOption(QFileDialog::DontConfirmOverwrite);
            if (accept) {
                dialog.selectFile(path);
            }
            return accept;
        };
    }

    QString title;
    QString folder;
    QStringList filters;
    QString suffix;
    QFileDialog::AcceptMode acceptMode = QFileDialog::AcceptOpen;
    QStringList proposed;
    bool confirmOverwrite = false;
};

// ---------------------------------------------------------------------------
// The settings file

TEST_F(MainFilesTest, AFirstStartTakesTheDefaultsAndTheFirstCloseWritesThemAll)
{
    TheVirtualGenerator().SetPlugged(false);
    Create();
    EXPECT_EQ(form->pos(), QPoint(443, 419));
    EXPECT_FALSE(form->mnLock->isChecked());
    EXPECT_FALSE(form->mnMute->isChecked());
    EXPECT_FALSE(form->mnReview->isChecked());
    EXPECT_TRUE(form->Autorecall->isChecked());
    EXPECT_FALSE(form->Autoreload->isChecked());
    EXPECT_TRUE(form->mnRms->isChecked());
    EXPECT_EQ(form->FParams, kDefaultTable);
    EXPECT_EQ(form->feFa->text(), QStringLiteral("0.001"));
    EXPECT_EQ(form->feAa->text(), QStringLiteral("0.01"));
    EXPECT_TRUE(form->GroupBox1->isEnabled());
    EXPECT_FALSE(form->FUpdate);
    EXPECT_FALSE(QFileInfo::exists(IniPath()));

    const QSize view = form->PhasorForm->minimumSize();
    form->close();
    EXPECT_EQ(
        ReadFile(IniPath()).toStdString(),
        QString::fromLatin1(kFreshSettings).arg(view.width()).arg(view.height()).toStdString());
    EXPECT_TRUE(boxes.empty());
}

TEST_F(MainFilesTest, ARestartRestoresPositionMenusAndTable)
{
    TheVirtualGenerator().SetPlugged(false);
    Create();
    form->mnLock->trigger();
    form->mnMute->trigger();
    form->Autoreload->trigger();
    form->mnRms->trigger();
    TypeEnter(form->feFb, QStringLiteral("123.456"));  // off-line: kept in the table only
    TypeEnter(form->fePc, QStringLiteral("-45.5"));
    form->mnReview->trigger();
    form->move(100, 200);
    const auto table = form->FParams;
    form->close();
    form.reset();

    Create();
    EXPECT_EQ(form->pos(), QPoint(100, 200));
    EXPECT_TRUE(form->FLock);
    EXPECT_TRUE(form->mnLock->isChecked());
    EXPECT_TRUE(form->FMute);
    EXPECT_TRUE(form->mnMute->isChecked());
    EXPECT_TRUE(form->Autoreload->isChecked());
    EXPECT_FALSE(form->Autorecall->isChecked());
    EXPECT_FALSE(form->mnRms->isChecked());
    EXPECT_EQ(form->lbLevelA->text(), QStringLiteral("Amplitude:"));
    EXPECT_TRUE(form->mnReview->isChecked());
    // Review Mode saved as checked: all four panels are disabled from the start.
    EXPECT_FALSE(form->GroupBox1->isEnabled());
    EXPECT_FALSE(form->GroupBox2->isEnabled());
    EXPECT_FALSE(form->GroupBox3->isEnabled());
    EXPECT_FALSE(form->GroupBox4->isEnabled());
    EXPECT_EQ(form->FParams, table);
    EXPECT_EQ(form->FParams[5], 123456);
    EXPECT_EQ(form->FParams[10], -455);
    EXPECT_EQ(form->feFb->text(), QStringLiteral("123.456"));
    // Nothing was sent during start-up.
    EXPECT_TRUE(TheVirtualGenerator().FrameLog().empty());
}

TEST_F(MainFilesTest, RestoredSettingsReachTheDeviceOnlyWhenItGoesOnLine)
{
    WriteFile(IniPath(), "[Mode]\nLock=1\nAutorecall=0\n" + kParamsFile);
    Create();
    EXPECT_TRUE(TheVirtualGenerator().FrameLog().empty());
    Tick();
    const auto state = TheVirtualGenerator().State();
    EXPECT_EQ(state.mode, 1);
    EXPECT_EQ(state.active[0][1], 1500);
    EXPECT_EQ(state.active[2][3], 700);
}

TEST_F(MainFilesTest, AReadOnlySettingsFileGivesTwoBoxesAndStaysUnchanged)
{
    const QByteArray original = "; kept as it is\r\n[General]\r\nLeft=10\r\nTop=20\r\n";
    WriteFile(IniPath(), original);
    QFile::setPermissions(IniPath(), QFileDevice::ReadOwner | QFileDevice::ReadGroup);
    TheVirtualGenerator().SetPlugged(false);
    Create();
    EXPECT_EQ(form->pos(), QPoint(10, 20));  // read as usual
    form->close();
    ASSERT_EQ(boxes.size(), 2u);
    const QString expected = QStringLiteral("Cannot create file ")
                             + QFileInfo(IniPath()).absoluteFilePath() + ": Permission denied";
    for (const auto &box : boxes) {
        EXPECT_EQ(box.caption, QStringLiteral("Error"));
        EXPECT_EQ(box.text, expected);
    }
    EXPECT_EQ(ReadFile(IniPath()), original);
}

TEST_F(MainFilesTest, AnUnreadableSettingsFileStillStartsTheProgram)
{
    // A folder where the settings file should be: it exists but cannot be
    // read as a file.
    ASSERT_TRUE(QDir().mkpath(IniPath()));
    TheVirtualGenerator().SetPlugged(false);
    form = std::make_unique<TMainForm>(nullptr, IniPath());
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, QStringLiteral("PX-418"));
    EXPECT_EQ(boxes[0].text, QStringLiteral("Cannot open file ")
                                 + QFileInfo(IniPath()).absoluteFilePath() + ": Is a directory.");
    EXPECT_FALSE(form->FUpdate);
    EXPECT_TRUE(form->Timer1->isActive());
    EXPECT_EQ(form->FParams, kDefaultTable);
    EXPECT_TRUE(form->Autorecall->isChecked());
    EXPECT_TRUE(form->mnRms->isChecked());
    EXPECT_EQ(form->StatusText(), QStringLiteral("OFF-Line"));
    form->Timer1->stop();

    // At close the program saves where it can, says why it could not, and
    // ends; the folder is left alone.
    boxes.clear();
    form->close();
    EXPECT_FALSE(form->isVisible());
    EXPECT_FALSE(boxes.empty());
    EXPECT_TRUE(QFileInfo(IniPath()).isDir());
}

TEST_F(MainFilesTest, UnknownSectionsAndKeysSurviveTheClose)
{
    WriteFile(IniPath(), "[General]\r\nLeft=5\r\nTop=6\r\nTheme=dark\r\n"
                         "[Mine]\r\nkeep=this\r\nkeyless line\r\n"
                         "[out a]\r\nf=2500\r\nNote=x\r\n");
    TheVirtualGenerator().SetPlugged(false);
    Create();
    EXPECT_EQ(form->FParams[1], 2500);
    form->close();
    const QByteArray saved = ReadFile(IniPath());
    EXPECT_TRUE(saved.startsWith("[General]\r\nLeft=5\r\nTop=6\r\nTheme=dark\r\n\r\n"
                                 "[Mine]\r\nkeep=this\r\nkeyless line\r\n\r\n"
                                 "[out a]\r\nF=2500\r\nNote=x\r\nM=0\r\nP=0\r\nA=1\r\n\r\n"))
        << saved.toStdString();
    EXPECT_TRUE(saved.contains("[Mode]\r\nLock=0\r\n"));
}

// ---------------------------------------------------------------------------
// Parameter files

TEST_F(MainFilesTest, OpenLoadsAFileShowsItAndWritesItToTheDevice)
{
    CreateOnLine();
    const QString path = FilePath(QStringLiteral("set1.par"));
    WriteFile(path, kParamsFile);
    ChooseFile(path);
    form->mnOpen->trigger();

    EXPECT_EQ(title, QStringLiteral("Open file"));
    EXPECT_EQ(filters, QStringList{QStringLiteral("Params files (*.par)")});
    EXPECT_EQ(suffix, QStringLiteral("par"));
    EXPECT_EQ(acceptMode, QFileDialog::AcceptOpen);
    EXPECT_EQ(folder, QFileInfo(QCoreApplication::applicationFilePath()).absolutePath());

    EXPECT_EQ(form->FParams[1], 1500);
    EXPECT_EQ(form->feFa->text(), QStringLiteral("1.500"));
    EXPECT_EQ(form->fePb->text(), QStringLiteral("-90.0"));
    const auto writes = Writes();
    ASSERT_EQ(writes.size(), 13u);
    EXPECT_EQ(writes[1], (Write{0, 1, 1500}));
    EXPECT_EQ(writes[12], (Write{0, 0x82, 100}));
    EXPECT_TRUE(boxes.empty());
}

TEST_F(MainFilesTest, OpenOfAFileLackingASectionTakesItsDefaults)
{
    CreateOnLine();
    const QString path = FilePath(QStringLiteral("partial.par"));
    WriteFile(path, "[OUT A]\r\nM=0\r\nF=1500\r\nP=100\r\nA=500\r\n"
                    "[OUT C]\r\nM=0\r\nF=3000\r\nP=900\r\nA=700\r\n");
    ChooseFile(path);
    form->mnOpen->trigger();
    EXPECT_EQ(form->FParams,
              (std::array<std::int32_t, 12>{0, 1500, 100, 500, 0, 1, 0, 1, 0, 3000, 900, 700}));
}

TEST_F(MainFilesTest, OpenOfAMissingFileIsRefusedAndChangesNothing)
{
    CreateOnLine();
    const auto before = form->FParams;
    const QString path = FilePath(QStringLiteral("no-such-file.par"));
    ChooseFile(path);
    form->mnOpen->trigger();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, QStringLiteral("PX-418"));
    EXPECT_EQ(boxes[0].text,
              QStringLiteral("Cannot open file ") + path + ": No such file or directory.");
    EXPECT_EQ(form->FParams, before);
    EXPECT_EQ(form->feFa->text(), QStringLiteral("50.000"));
    EXPECT_TRUE(TheVirtualGenerator().FrameLog().empty());
    EXPECT_FALSE(QFileInfo::exists(path));
}

TEST_F(MainFilesTest, OpenOfAnUnreadableFileChangesNothing)
{
    CreateOnLine();
    const auto before = form->FParams;
    const QString path = FilePath(QStringLiteral("folder.par"));
    ASSERT_TRUE(QDir().mkpath(path));
    ChooseFile(path);
    form->mnOpen->trigger();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, QStringLiteral("Cannot open file ") + path + ": Is a directory.");
    EXPECT_EQ(form->FParams, before);
    EXPECT_TRUE(TheVirtualGenerator().FrameLog().empty());
}

TEST_F(MainFilesTest, OpenWritesTheTableEvenInReviewModeAndCancelDoesNothing)
{
    CreateOnLine();
    form->mnReview->trigger();
    ASSERT_FALSE(form->GroupBox1->isEnabled());
    TheVirtualGenerator().ClearLog();

    ChooseFile(QString(), false);
    form->mnOpen->trigger();
    EXPECT_TRUE(TheVirtualGenerator().FrameLog().empty());

    const QString path = FilePath(QStringLiteral("review.par"));
    WriteFile(path, kParamsFile);
    ChooseFile(path);
    form->mnOpen->trigger();
    EXPECT_EQ(Writes().size(), 13u);
    EXPECT_EQ(TheVirtualGenerator().State().active[1][1], 2000);
}

TEST_F(MainFilesTest, OpenOfANameWithoutExtensionGetsPar)
{
    TheVirtualGenerator().SetPlugged(false);
    Create();
    WriteFile(FilePath(QStringLiteral("short.par")), kParamsFile);
    ChooseFile(FilePath(QStringLiteral("short")));
    form->mnOpen->trigger();
    EXPECT_TRUE(boxes.empty());
    EXPECT_EQ(form->FParams[9], 3000);
}

TEST_F(MainFilesTest, SaveAsProposesParams1AndWritesTheTableOnly)
{
    CreateOnLine();
    ChooseFile(FilePath(QStringLiteral("Params1")));
    form->mnSaveAs->trigger();
    EXPECT_EQ(title, QStringLiteral("Save file as..."));
    EXPECT_EQ(acceptMode, QFileDialog::AcceptSave);
    EXPECT_EQ(suffix, QStringLiteral("par"));
    EXPECT_EQ(filters, QStringList{QStringLiteral("Params files (*.par)")});
    EXPECT_TRUE(confirmOverwrite);
    ASSERT_EQ(proposed.size(), 1);
    // "Params1", with the default extension that accepting it adds.
    EXPECT_EQ(QFileInfo(proposed[0]).fileName(), QStringLiteral("Params1.par"));

    EXPECT_EQ(ReadFile(FilePath(QStringLiteral("Params1.par"))),
              QByteArray("[OUT A]\r\nM=0\r\nF=50000\r\nP=0\r\nA=1000\r\n\r\n"
                         "[OUT B]\r\nM=0\r\nF=50000\r\nP=-1200\r\nA=1000\r\n\r\n"
                         "[OUT C]\r\nM=0\r\nF=50000\r\nP=1200\r\nA=1000\r\n\r\n"));
    EXPECT_TRUE(TheVirtualGenerator().FrameLog().empty());

    // Proposed afresh the next time.
    ChooseFile(QString(), false);
    form->mnSaveAs->trigger();
    EXPECT_EQ(QFileInfo(proposed.value(0)).fileName(), QStringLiteral("Params1.par"));
}

TEST_F(MainFilesTest, EveryEntryMakesTheRoundTripThroughAParameterFileAndTheSettingsFile)
{
    TheVirtualGenerator().SetPlugged(false);
    Create();
    // Distinct values in every entry, the hidden modes of B and C included,
    // negative and extreme ones among them.
    const std::array<std::int32_t, 12> table = {1,    3000000, -3600, 1000,    1,  1,
                                                3600, 0,       0,     2999999, -1, 999};
    form->FParams = table;
    form->UpdateControls();
    const QString path = FilePath(QStringLiteral("all.par"));
    ChooseFile(path);
    form->mnSaveAs->trigger();

    form->FParams.fill(42);
    ChooseFile(path);
    form->mnOpen->trigger();
    EXPECT_EQ(form->FParams, table);

    form->close();
    form.reset();
    Create();
    EXPECT_EQ(form->FParams, table);
    EXPECT_TRUE(boxes.empty());
}

TEST_F(MainFilesTest, SaveAsOverTheSettingsFileKeepsItsOtherSections)
{
    TheVirtualGenerator().SetPlugged(false);
    WriteFile(IniPath(), "[General]\r\nLeft=7\r\nTop=8\r\n[Mode]\r\nRMS=0\r\n");
    Create();
    TypeEnter(form->feFa, QStringLiteral("2"));
    ChooseFile(IniPath());
    form->mnSaveAs->trigger();
    const QByteArray saved = ReadFile(IniPath());
    EXPECT_TRUE(saved.startsWith(
        "[General]\r\nLeft=7\r\nTop=8\r\n\r\n[Mode]\r\nRMS=0\r\n\r\n[OUT A]\r\nM=0\r\nF=2000\r\n"))
        << saved.toStdString();
}

TEST_F(MainFilesTest, SaveAsOntoAReadOnlyFileShowsTheErrorBoxAndKeepsIt)
{
    TheVirtualGenerator().SetPlugged(false);
    Create();
    const QString path = FilePath(QStringLiteral("locked.par"));
    WriteFile(path, "[OUT A]\r\nF=5\r\n");
    QFile::setPermissions(path, QFileDevice::ReadOwner);
    ChooseFile(path);
    form->mnSaveAs->trigger();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, QStringLiteral("Error"));
    EXPECT_EQ(boxes[0].text, QStringLiteral("Cannot create file ") + path + ": Permission denied");
    EXPECT_EQ(ReadFile(path), QByteArray("[OUT A]\r\nF=5\r\n"));
}

// ---------------------------------------------------------------------------
// Folders that take no new files, odd and huge files

// A folder whose permission bits grant no write access (a writable file in a
// folder that is not the user's); unlocked again however the test ends.
class LockedFolder {
public:
    explicit LockedFolder(QString folder) : folder_(std::move(folder))
    {
        QFile::setPermissions(folder_, QFile::ReadOwner | QFile::ExeOwner);
    }
    ~LockedFolder()
    {
        QFile::setPermissions(folder_, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    LockedFolder(const LockedFolder &) = delete;
    LockedFolder &operator=(const LockedFolder &) = delete;

private:
    QString folder_;
};

// A second name of the same file (a hard link): a file written in place
// shows its new content under both names, a replacement under its own only.
static bool SecondName(const QString &file, const QString &name)
{
#ifdef Q_OS_UNIX
    return ::link(QFile::encodeName(file).constData(), QFile::encodeName(name).constData()) == 0;
#else
    return QFile::copy(file, name);
#endif
}

TEST_F(MainFilesTest, AWritableSettingsFileInAReadOnlyFolderKeepsTheSettings)
{
    const QString locked = FilePath(QStringLiteral("installed"));
    ASSERT_TRUE(QDir().mkpath(locked));
    const QString ini = locked + QStringLiteral("/px418.ini");
    WriteFile(ini, kFreshSettings);
    const QString second = FilePath(QStringLiteral("second-name.ini"));
    ASSERT_TRUE(SecondName(ini, second));
    LockedFolder lock(locked);
    TheVirtualGenerator().SetPlugged(false);
    Create(ini);
    form->mnLock->trigger();
    TypeEnter(form->feFa, QStringLiteral("2"));
    form->move(100, 200);
    form->close();
    EXPECT_TRUE(boxes.empty());
    const QByteArray saved = ReadFile(ini);
    EXPECT_TRUE(saved.startsWith("[General]\r\nLeft=100\r\nTop=200\r\n\r\n[Mode]\r\nLock=1\r\n"))
        << saved.toStdString();
    EXPECT_TRUE(saved.contains("[OUT A]\r\nM=0\r\nF=2000\r\n"));
    // Written in place: the folder took no new file, not even from root.
#ifdef Q_OS_UNIX
    EXPECT_EQ(ReadFile(second), saved);
#endif
    EXPECT_EQ(QDir(locked).entryList(QDir::Files | QDir::Hidden), QStringList{"px418.ini"});
}

TEST_F(MainFilesTest, SaveAsOntoAWritableFileInAReadOnlyFolderWritesIt)
{
    const QString locked = FilePath(QStringLiteral("shared"));
    ASSERT_TRUE(QDir().mkpath(locked));
    const QString path = locked + QStringLiteral("/set.par");
    WriteFile(path, "[OUT A]\r\nF=5\r\n");
    LockedFolder lock(locked);
    CreateOnLine();
    ChooseFile(path);
    form->mnSaveAs->trigger();
    EXPECT_TRUE(boxes.empty());
    EXPECT_TRUE(ReadFile(path).startsWith("[OUT A]\r\nF=50000\r\nM=0\r\nP=0\r\nA=1000\r\n"));

    // A new file in that folder still fails, with the error box.
    ChooseFile(locked + QStringLiteral("/new.par"));
    form->mnSaveAs->trigger();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, QStringLiteral("Error"));
    EXPECT_EQ(boxes[0].text,
              QStringLiteral("Cannot create file ") + locked + "/new.par: Permission denied");
}

TEST_F(MainFilesTest, OpenOfAFileWithAMalformedOrRefusedValueChangesNothing)
{
    CreateOnLine();
    const auto before = form->FParams;
    const QString path = FilePath(QStringLiteral("refused.par"));
    const struct {
        QByteArray entry;
        QString named;
    } cases[] = {
        {"F=5000000", "F=5000000 in [OUT B] is outside the allowed range 0 to 3000000"},
        {"A=-500", "A=-500 in [OUT B] is outside the allowed range 0 to 1000"},
        {"M=7", "M=7 in [OUT B] is outside the allowed range 0 to 1"},
        {"P=3600.5e1", "P=3600.5e1 in [OUT B] is outside the allowed range -3600 to 3600"},
        {"F=5O000", "F=5O000 in [OUT B] is not a number"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.entry.constData());
        boxes.clear();
        WriteFile(path, "[OUT A]\r\nF=1500\r\n[OUT B]\r\nF=2000\r\n" + c.entry + "\r\n");
        ChooseFile(path);
        form->mnOpen->trigger();
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].caption, QStringLiteral("PX-418"));
        EXPECT_EQ(boxes[0].text, "The file " + path + " cannot be loaded: " + c.named + ".");
        EXPECT_EQ(form->FParams, before);
        EXPECT_EQ(form->feFa->text(), QStringLiteral("50.000"));
        EXPECT_TRUE(TheVirtualGenerator().FrameLog().empty());
    }
}

TEST_F(MainFilesTest, ASettingsValueTheDeviceRefusesTakesItsDefaultAndTheDeviceGoesOnLine)
{
    // With Auto Reload, a refused value in the table would make every
    // connection attempt fail.
    WriteFile(IniPath(), "[Mode]\r\nAutorecall=0\r\n"
                         "[OUT A]\r\nM=0\r\nF=5000000\r\nP=100\r\nA=-500\r\n"
                         "[OUT C]\r\nM=7\r\nF=2000\r\n");
    Create();
    EXPECT_EQ(form->FParams,
              (std::array<std::int32_t, 12>{0, 1, 100, 1, 0, 1, 0, 1, 0, 2000, 0, 1}));
    Tick();
    EXPECT_EQ(form->StatusText(), QStringLiteral("ON-Line"));
    EXPECT_EQ(TheVirtualGenerator().State().active[0][1], 1);
    EXPECT_EQ(TheVirtualGenerator().State().active[2][1], 2000);
    EXPECT_TRUE(boxes.empty());
}

TEST_F(MainFilesTest, OpenOfAFileThatIsNoParameterFileIsRefused)
{
    CreateOnLine();
    const auto before = form->FParams;
    QByteArray noise(4096, Qt::Uninitialized);
    QRandomGenerator(12).fillRange(reinterpret_cast<quint32 *>(noise.data()), noise.size() / 4);
    const QByteArray contents[] = {
        QByteArray(),
        noise,
        "Frequencies for Tuesday:\r\nF=1500\r\n[General]\r\nLeft=5\r\n",
    };
    const QString path = FilePath(QStringLiteral("odd.par"));
    for (const QByteArray &content : contents) {
        boxes.clear();
        WriteFile(path, content);
        ChooseFile(path);
        form->mnOpen->trigger();
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].text, path + " is not a parameter file.");
        EXPECT_EQ(form->FParams, before);
        EXPECT_TRUE(TheVirtualGenerator().FrameLog().empty());
    }
    // A file with one OUT section loads as ever.
    boxes.clear();
    WriteFile(path, "[OUT C]\r\nF=2500\r\n");
    ChooseFile(path);
    form->mnOpen->trigger();
    EXPECT_TRUE(boxes.empty());
    EXPECT_EQ(form->FParams, (std::array<std::int32_t, 12>{0, 1, 0, 1, 0, 1, 0, 1, 0, 2500, 0, 1}));
    EXPECT_EQ(Writes().size(), 13u);
}

// A file far larger than any settings or parameter file: sparse, so that
// making it costs nothing, and reading it would take long.
static void MakeHuge(const QString &path, const QByteArray &head)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(head);
    ASSERT_TRUE(file.resize(qint64(210) << 20));
}

TEST_F(MainFilesTest, OpenOfAHugeFileIsRefusedAndSaysWhy)
{
    CreateOnLine();
    const auto before = form->FParams;
    const QString path = FilePath(QStringLiteral("huge.par"));
    MakeHuge(path, kParamsFile);
    ChooseFile(path);
    form->mnOpen->trigger();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "Cannot open file " + path
                                 + ": it is larger than 1 MiB, too large for a settings, "
                                   "parameter or sequence file.");
    EXPECT_EQ(form->FParams, before);
    EXPECT_TRUE(TheVirtualGenerator().FrameLog().empty());
}

TEST_F(MainFilesTest, AHugeSettingsFileStartsWithDefaultsAndIsLeftAloneAtClose)
{
    MakeHuge(IniPath(), "[Mode]\r\nRMS=0\r\nLock=1\r\n" + kParamsFile);
    TheVirtualGenerator().SetPlugged(false);
    form = std::make_unique<TMainForm>(nullptr, IniPath());
    ASSERT_EQ(boxes.size(), 1u);
    const QString why =
        "Cannot open file " + IniPath()
        + ": it is larger than 1 MiB, too large for a settings, parameter or sequence file.";
    EXPECT_EQ(boxes[0].text, why);
    EXPECT_EQ(form->FParams, kDefaultTable);
    EXPECT_TRUE(form->mnRms->isChecked());
    EXPECT_FALSE(form->FLock);
    EXPECT_FALSE(form->FUpdate);
    EXPECT_TRUE(form->Timer1->isActive());
    form->Timer1->stop();

    boxes.clear();
    form->close();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, why);
    EXPECT_EQ(QFileInfo(IniPath()).size(), qint64(210) << 20);
}

TEST_F(MainFilesTest, AWindowPositionOffEveryScreenMovesOntoTheScreen)
{
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    const QPoint stored[] = {{100000, -5000}, {-3000, 40}, {40, 20000}, {-100000, -100000}};
    for (const QPoint &p : stored) {
        SCOPED_TRACE(QString("%1,%2").arg(p.x()).arg(p.y()).toStdString());
        WriteFile(IniPath(),
                  QString("[General]\r\nLeft=%1\r\nTop=%2\r\n").arg(p.x()).arg(p.y()).toLatin1());
        Create();
        const QRect titleBar(form->pos(), QSize(form->width(), 20));
        EXPECT_TRUE(screen.contains(titleBar)) << form->pos().x() << "," << form->pos().y();
        form.reset();
    }
    // A position on the screen stays as stored.
    WriteFile(IniPath(), "[General]\r\nLeft=30\r\nTop=40\r\n");
    Create();
    EXPECT_EQ(form->pos(), QPoint(30, 40));
}

TEST_F(MainFilesTest, EachUseHasAFreshDialogAndOpenProposesTheLastName)
{
    Create();
    EXPECT_TRUE(form->findChildren<QFileDialog *>().isEmpty());
    const QString path = FilePath(QStringLiteral("bench.par"));
    WriteFile(path, kParamsFile);
    QFileDialog *shown = nullptr;
    form->ExecFileDialog = [&](QFileDialog &dialog) {
        shown = &dialog;
        EXPECT_EQ(form->OpenDialog, &dialog);
        proposed = dialog.selectedFiles();
        dialog.selectFile(path);
        return true;
    };
    form->mnOpen->trigger();
    ASSERT_NE(shown, nullptr);
    EXPECT_EQ(form->OpenDialog, nullptr);
    EXPECT_TRUE(form->findChildren<QFileDialog *>().isEmpty());  // gone after use
    EXPECT_TRUE(boxes.empty());

    // The next Open... proposes the name chosen, in the files' folder.
    ChooseFile(QString(), false);
    form->mnOpen->trigger();
    ASSERT_EQ(proposed.size(), 1);
    EXPECT_EQ(QFileInfo(proposed[0]).fileName(), QStringLiteral("bench.par"));
    EXPECT_EQ(folder, QDir(form->FilesFolder()).absolutePath());

    form->mnSaveAs->trigger();
    EXPECT_EQ(form->SaveDialog, nullptr);
    EXPECT_TRUE(form->findChildren<QFileDialog *>().isEmpty());
}
