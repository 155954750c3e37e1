#pragma once

#include <QString>

// Where Mirelo keeps its files on this desktop.
namespace AppPaths {

// The per-user application data folder, "<data location>/Mirelo"; not created here.
QString appSupportDir();

// Creates the application data folder when missing, as makePath does.
bool ensureAppSupportDir(int mode);

// Creates path and each missing folder above it, every one of them made with mode from
// its first moment; folders that already exist are left as they are. True when path is a
// folder afterwards.
bool makePath(const QString& path, int mode);

// The user's home directory.
QString homeDir();

} // namespace AppPaths
