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
