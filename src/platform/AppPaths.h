#pragma once

#include <QString>

// Where Mirelo keeps its files on this desktop.
namespace AppPaths {

// The per-user application data folder, "<data location>/Mirelo"; not created here.
QString appSupportDir();

// Creates the application data folder when missing; new folders get the given mode.
bool ensureAppSupportDir(int mode);

// The user's home directory.
QString homeDir();

} // namespace AppPaths
