// Where the settings file lives, and where the file dialogs start.
#pragma once

#include <QString>

// The program file's path with its extension replaced by ".ini": the
// extension is the text from the last "." on, when no "/", "\" or ":"
// follows it; otherwise ".ini" is appended to the whole path.
QString SettingsPathFor(const QString &programPath);

// True when the program lies in `installFolder`, the folder this build
// installs its programs into (links resolved); false for an empty one.
bool InInstallFolder(const QString &programPath, const QString &installFolder);

// The settings file of a program. A copy in its install folder keeps it in
// px418/px418.ini of the user's configuration folder ($XDG_CONFIG_HOME, else
// ~/.config), even when run by root, who may write that folder: a file there
// would belong to no user and would stand in for every user's own. Any
// other copy keeps it beside itself (SettingsPathFor) when that file exists
// or the program's folder can be written, else in the configuration folder.
QString SettingsPathForProgram(const QString &programPath, const QString &installFolder = {});

// The folder in which the Open and Save dialogs start: the program's folder,
// unless it is an installed copy or the settings had to move to the user's
// configuration folder; then the user's home.
QString FilesFolderFor(const QString &programPath, const QString &settingsPath,
                       const QString &installFolder = {});

// A folder counts as writable when the user may write it and it is not
// marked read-only; the second test keeps the check meaningful for root,
// who may write anything.
bool FolderWritable(const QString &folder);
