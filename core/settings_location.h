// Where the settings file lives, and where the file dialogs start.
#pragma once

#include <QString>

// The program file's path with its extension replaced by ".ini": the
// extension is the text from the last "." on, when no "/", "\" or ":"
// follows it; otherwise ".ini" is appended to the whole path.
QString SettingsPathFor(const QString &programPath);

// The settings file of a program: beside it (SettingsPathFor) when that file
// exists or the program's folder can be written; otherwise, for an installed
// copy, px418/px418.ini in the user's configuration folder
// ($XDG_CONFIG_HOME, else ~/.config).
QString SettingsPathForProgram(const QString &programPath);

// The folder in which the Open and Save dialogs start: the program's folder,
// unless the settings had to move to the user's configuration folder; then
// the user's home.
QString FilesFolderFor(const QString &programPath, const QString &settingsPath);

// A folder counts as writable when the user may write it and it is not
// marked read-only; the second test keeps the check meaningful for root,
// who may write anything.
bool FolderWritable(const QString &folder);
