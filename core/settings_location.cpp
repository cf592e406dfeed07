#include "settings_location.h"

#include <QDir>
#include <QFileDevice>
#include <QFileInfo>

QString SettingsPathFor(const QString &programPath)
{
    const auto dot = programPath.lastIndexOf(QLatin1Char('.'));
    const auto slash = programPath.lastIndexOf(QLatin1Char('/'));
    const auto backslash = programPath.lastIndexOf(QLatin1Char('\\'));
    const auto colon = programPath.lastIndexOf(QLatin1Char(':'));
    if (dot >= 0 && dot > slash && dot > backslash && dot > colon) {
        return programPath.left(dot) + QStringLiteral(".ini");
    }
    return programPath + QStringLiteral(".ini");
}

bool FolderWritable(const QString &folder)
{
    const QFileInfo info(folder);
    const auto anyWrite =
        QFileDevice::WriteOwner | QFileDevice::WriteGroup | QFileDevice::WriteOther;
    return info.isDir() && info.isWritable() && (info.permissions() & anyWrite);
}

namespace {

// The folder with links resolved where it exists, else cleaned up.
QString ResolvedFolder(const QString &folder)
{
    const QString canonical = QFileInfo(folder).canonicalFilePath();
    return canonical.isEmpty() ? QDir::cleanPath(QDir(folder).absolutePath()) : canonical;
}

QString ConfigurationFolderSettings()
{
    QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (config.isEmpty() || !QDir::isAbsolutePath(config)) {
        config = QDir::homePath() + QStringLiteral("/.config");
    }
    return config + QStringLiteral("/px418/px418.ini");
}

}  // namespace

bool InInstallFolder(const QString &programPath, const QString &installFolder)
{
    return !installFolder.isEmpty()
           && ResolvedFolder(QFileInfo(programPath).absolutePath())
                  == ResolvedFolder(installFolder);
}

QString SettingsPathForProgram(const QString &programPath, const QString &installFolder)
{
    if (InInstallFolder(programPath, installFolder)) {
        return ConfigurationFolderSettings();
    }
    const QString beside = SettingsPathFor(programPath);
    if (QFileInfo::exists(beside) || FolderWritable(QFileInfo(programPath).absolutePath())) {
        return beside;
    }
    // An installed copy elsewhere: its folder is not the user's to write.
    return ConfigurationFolderSettings();
}

QString FilesFolderFor(const QString &programPath, const QString &settingsPath,
                       const QString &installFolder)
{
    const QString programFolder = QFileInfo(programPath).absolutePath();
    if (InInstallFolder(programPath, installFolder)) {
        return QDir::homePath();
    }
    if (QFileInfo(settingsPath).absolutePath() == programFolder || FolderWritable(programFolder)) {
        return programFolder;
    }
    return QDir::homePath();
}
