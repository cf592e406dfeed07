// TMainForm's files: the settings file read at creation and written at
// close, and parameter files through "Open..." and "Save as...". What the
// files hold is mapped in core/param_file; where the settings file lives is
// decided in core/settings_location.
#include <QAction>
#include <QCoreApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QScreen>

#include "errors.h"
#include "inifile.h"
#include "main_form.h"
#include "param_file.h"
#include "screen_areas.h"
#include "settings_location.h"
#include "window_placement.h"

QString TMainForm::DefaultSettingsPath()
{
    return SettingsPathForProgram(QCoreApplication::applicationFilePath(),
                                  QStringLiteral(PX418_INSTALL_BINDIR));
}

QString TMainForm::FilesFolder() const
{
    return FilesFolderFor(QCoreApplication::applicationFilePath(), FSettingsPath,
                          QStringLiteral(PX418_INSTALL_BINDIR));
}

void TMainForm::ApplyParams(const ParamTable &table)
{
    FParams = table;
    UpdateControls();
}

void TMainForm::ReadSettings()
{
    const SectionedText ini = SectionedText::Load(FSettingsPath);
    // The window still stands at its designed position: that is the default.
    ProgramSettings defaults;
    defaults.left = pos().x();
    defaults.top = pos().y();
    const ProgramSettings settings = ReadProgramSettings(ini, defaults);
    move(settings.left, settings.top);
    FLock = settings.lock;
    FMute = settings.mute;
    mnReview->setChecked(settings.review);
    Autorecall->setChecked(settings.autoRecall);
    Autoreload->setChecked(!settings.autoRecall);
    mnRms->setChecked(settings.rms);
    ReadViewKeys(ini);
    ReadParamsFile(FSettingsPath);
}

void TMainForm::KeepOnScreen()
{
    const int titleBar = StyleTitleBarHeight(this);
    const QRect frame(pos(), QSize(width(), height() + titleBar));
    move(PositionOnScreens(frame, titleBar, AvailableScreenAreas()));
}

void TMainForm::SaveWithErrorBox(const SectionedText &file, const QString &path)
{
    try {
        file.Save(path);
    } catch (const EFCreateError &e) {
        ShowErrorBox(QStringLiteral("Error"), e.Message());
    }
}

void TMainForm::WriteSettings()
{
    try {
        SectionedText ini = SectionedText::Load(FSettingsPath);
        ProgramSettings settings;
        settings.left = pos().x();
        settings.top = pos().y();
        settings.lock = FLock;
        settings.mute = FMute;
        settings.review = mnReview->isChecked();
        settings.autoRecall = Autorecall->isChecked();
        settings.rms = mnRms->isChecked();
        WriteProgramSettings(ini, settings);
        WriteViewKeys(ini);
        // The settings folder may not exist yet (a first start with the
        // settings in the user's configuration folder).
        QDir().mkpath(QFileInfo(FSettingsPath).absolutePath());
        SaveWithErrorBox(ini, FSettingsPath);
    } catch (const EFOpenError &) {
        // An unreadable (or huge) settings file is not overwritten blindly.
        // The table pass would fail for the same reason: one box says why.
        ReportCurrentException();
        return;
    }
    WriteParamsFile(FSettingsPath);
}

void TMainForm::ReadParamsFile(const QString &path)
{
    // Loading comes first: a file that cannot be read changes nothing.
    ApplyParams(ReadParamTable(SectionedText::Load(path)));
}

void TMainForm::WriteParamsFile(const QString &path)
{
    SectionedText file = SectionedText::Load(path);
    WriteParamTable(file, FParams);
    SaveWithErrorBox(file, path);
}

namespace {

// A parameter-file dialog for one use, with what both file menu items set
// each time: title, folder, filter, default extension. The window's dialog
// member points at it while it exists.
class ParamsDialog {
public:
    ParamsDialog(QWidget *parent, QFileDialog *&member, const QString &name, const QString &title,
                 const QString &folder)
        : member_(member), dialog_(parent)
    {
        dialog_.setObjectName(name);
        dialog_.setWindowTitle(title);
        dialog_.setDirectory(folder);
        dialog_.setNameFilter(QStringLiteral("Params files (*.par)"));
        dialog_.setDefaultSuffix(QStringLiteral("par"));
        dialog_.setFileMode(QFileDialog::AnyFile);
        member_ = &dialog_;
    }
    ~ParamsDialog() { member_ = nullptr; }
    ParamsDialog(const ParamsDialog &) = delete;
    ParamsDialog &operator=(const ParamsDialog &) = delete;

    QFileDialog *operator->() { return &dialog_; }

    // Shows it; the absolute path chosen, or an empty text when cancelled.
    QString Choose(const std::function<bool(QFileDialog &)> &exec)
    {
        if (!exec(dialog_)) {
            return {};
        }
        const QStringList chosen = dialog_.selectedFiles();
        return chosen.isEmpty() ? QString() : QFileInfo(chosen.first()).absoluteFilePath();
    }

private:
    QFileDialog *&member_;
    QFileDialog dialog_;
};

}  // namespace

void TMainForm::mnOpenClick()
{
    ParamsDialog dialog(this, OpenDialog, QStringLiteral("OpenDialog"), QStringLiteral("Open file"),
                        FilesFolder());
    dialog->setAcceptMode(QFileDialog::AcceptOpen);
    if (!FOpenName.isEmpty()) {
        dialog->selectFile(FOpenName);
    }
    const QString path = dialog.Choose(ExecFileDialog);
    if (path.isEmpty()) {
        return;
    }
    FOpenName = QFileInfo(path).fileName();
    // A name that does not exist (a typing error, most likely), a file that
    // is not a parameter file, and one with a value that is malformed or
    // that the device refuses are refused as a whole before anything
    // changes.
    ApplyParams(ReadCheckedParamTable(SectionedText::LoadExisting(path), path));
    ReloadParams();
}

void TMainForm::mnSaveAsClick()
{
    ParamsDialog dialog(this, SaveDialog, QStringLiteral("SaveDialog"),
                        QStringLiteral("Save file as..."), FilesFolder());
    dialog->setAcceptMode(QFileDialog::AcceptSave);
    dialog->setOption(QFileDialog::DontConfirmOverwrite, false);
    dialog->selectFile(QStringLiteral("Params1"));
    const QString path = dialog.Choose(ExecFileDialog);
    if (!path.isEmpty()) {
        WriteParamsFile(path);
    }
}
