// Where the settings file lives and where the file dialogs start.
#include "settings_location.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

TEST(SettingsLocationTest, TheSettingsFileIsNamedAfterTheProgram)
{
    const struct {
        const char *program;
        const char *settings;
    } cases[] = {
        {"/opt/px/PX418.exe", "/opt/px/PX418.ini"},
        {"/usr/bin/px418", "/usr/bin/px418.ini"},
        {"/home/a.b/px418", "/home/a.b/px418.ini"},
        {"C:\\x.y\\px418", "C:\\x.y\\px418.ini"},
        {"C:px418.exe", "C:px418.ini"},
        {"D:.x", "D:.ini"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.program);
        EXPECT_EQ(SettingsPathFor(QString::fromLatin1(c.program)), QString::fromLatin1(c.settings));
    }
}

TEST(SettingsLocationTest, BesideTheProgramOrInTheUsersConfigurationFolder)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString installed = dir.filePath(QStringLiteral("bin"));
    ASSERT_TRUE(QDir().mkpath(installed));
    const QString program = installed + QStringLiteral("/px418");

    // A folder that can be written: beside the program.
    EXPECT_EQ(SettingsPathForProgram(program), installed + QStringLiteral("/px418.ini"));

    // An installed copy: the user's configuration folder.
    QFile::setPermissions(installed, QFileDevice::ReadOwner | QFileDevice::ExeOwner
                                         | QFileDevice::ReadOther | QFileDevice::ExeOther);
    qputenv("XDG_CONFIG_HOME", dir.filePath(QStringLiteral("cfg")).toUtf8());
    EXPECT_EQ(SettingsPathForProgram(program), dir.filePath(QStringLiteral("cfg/px418/px418.ini")));
    qunsetenv("XDG_CONFIG_HOME");
    EXPECT_EQ(SettingsPathForProgram(program),
              QDir::homePath() + QStringLiteral("/.config/px418/px418.ini"));

    // ... unless a settings file already lies beside it.
    QFile::setPermissions(installed,
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    QFile f(installed + QStringLiteral("/px418.ini"));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.close();
    QFile::setPermissions(installed, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    EXPECT_EQ(SettingsPathForProgram(program), installed + QStringLiteral("/px418.ini"));
    QFile::setPermissions(installed,
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
}

TEST(SettingsLocationTest, TheDialogsStartBesideTheProgramOrInTheHomeFolder)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString folder = dir.path();
    const QString program = folder + QStringLiteral("/px418");
    EXPECT_EQ(FilesFolderFor(program, folder + QStringLiteral("/px418.ini")), folder);
    // Settings kept elsewhere, program folder writable: still beside it.
    EXPECT_EQ(FilesFolderFor(program, QStringLiteral("/elsewhere/px418.ini")), folder);
    // Settings kept elsewhere because the program's folder is not writable.
    QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    EXPECT_EQ(FilesFolderFor(program, QStringLiteral("/elsewhere/px418.ini")), QDir::homePath());
    QFile::setPermissions(folder,
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
}

TEST(SettingsLocationTest, AnInstalledCopyUsesTheConfigurationFolderEvenWhereItMayWrite)
{
    // Root may write the install folder, and a file left there by an earlier
    // run as root must not stand in for the user's own.
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString bin = dir.filePath(QStringLiteral("usr/bin"));
    const QString other = dir.filePath(QStringLiteral("build"));
    ASSERT_TRUE(QDir().mkpath(bin) && QDir().mkpath(other));
    ASSERT_TRUE(QFile::link(bin, dir.filePath(QStringLiteral("bin"))));
    QFile stale(bin + QStringLiteral("/px418.ini"));
    ASSERT_TRUE(stale.open(QIODevice::WriteOnly));
    stale.close();
    qputenv("XDG_CONFIG_HOME", dir.filePath(QStringLiteral("cfg")).toUtf8());
    const QString config = dir.filePath(QStringLiteral("cfg/px418/px418.ini"));

    const struct {
        QString program;
        QString installFolder;
        QString settings;
        QString files;
    } cases[] = {
        {bin + QStringLiteral("/px418"), bin, config, QDir::homePath()},
        // The same folder reached through a link, or named with a trailing "/".
        {dir.filePath(QStringLiteral("bin/px418")), bin, config, QDir::homePath()},
        {bin + QStringLiteral("/px418"), bin + QStringLiteral("/"), config, QDir::homePath()},
        // Not in the install folder, or none known: the writable folder decides.
        {other + QStringLiteral("/px418"), bin, other + QStringLiteral("/px418.ini"), other},
        {bin + QStringLiteral("/px418"), QString(), bin + QStringLiteral("/px418.ini"), bin},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE((c.program + QStringLiteral(" in ") + c.installFolder).toStdString());
        const QString settings = SettingsPathForProgram(c.program, c.installFolder);
        EXPECT_EQ(settings, c.settings);
        EXPECT_EQ(FilesFolderFor(c.program, settings, c.installFolder), c.files);
    }
    qunsetenv("XDG_CONFIG_HOME");
}
