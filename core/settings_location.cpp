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

QString SettingsPathForProgram(const QString &programPath)
{
    const QString beside = SettingsPathFor(programPath);
    if (QFileInfo::exists(beside) || FolderWritable(QFileInfo(programPath).absolutePath())) {
        return beside;
    }
    // An installed copy: its folder is not the user's to write.
    QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (config.isEmpty() || !QDir::isAbsolutePath(config)) {
        config = QDir::homePath() + QStringLiteral("/.config");
    }
    return config + QStringLiteral("/px418/px418.ini");
}

QString FilesFolderFor(const QString &programPath, const QString &settingsPath)
{
    const QString programFolder = QFileInfo(programPath).absolutePath();
    if (QFileInfo(settingsPath).absolutePath() == programFolder || FolderWritable(programFolder)) {
        return programFolder;
    }
    return QDir::homePath();
}
