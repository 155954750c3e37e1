#pragma once

#include "update/UpdateInfo.h"

#include <QByteArray>
#include <QString>
#include <optional>

// Verification and unpacking of a downloaded build, and the script that puts it in place.
// Everything here works on files only, so it runs on the update manager's worker thread.
namespace UpdateStaging {

struct Staged
{
    QString error;      // empty on success
    QString stagingDir; // the attempt's folder, removed again on failure
    QString appPath;    // the unpacked application, on success
};

// 64 lower-case hexadecimal characters of the SHA-256 digest of data.
QString sha256Hex(const QByteArray& data);
// The same digest of a file's content, read in pieces; none when it cannot be read.
std::optional<QString> sha256HexOfFile(const QString& path);

// Checks the downloaded file against the offer's digest and unpacks it into a new
// staging folder in the temporary directory. The downloaded file is consumed: moved into
// the staging folder or removed. A failure leaves nothing behind.
Staged verifyAndStage(const QString& downloadedFile, const UpdateInfo& expected);

// Moves the download to stagingDir/update.zip and unpacks it into extractedDir.
// Returns an error text, or empty with appPath set to the application found (if any).
QString stageZip(const QString& downloadedFile, const QString& stagingDir, const QString& extractedDir,
                 QString* appPath);
// The same for a disk image (update.dmg): only the application folder at its root is
// copied out.
QString stageDmg(const QString& downloadedFile, const QString& stagingDir, const QString& extractedDir,
                 QString* appPath);

// The first folder, by name, directly in folder whose extension is exactly "app".
std::optional<QString> firstAppInDir(const QString& folder);

// The folder of one attempt, "mirelo-update-<UUID>" in the temporary directory, when
// appPath lies in its extracted folder; empty otherwise.
QString stagingDirOf(const QString& appPath);

// The relaunch script: waits for process pid to end, copies the application given as $2
// beside the one at $1, swaps it into place (keeping the old one if any step fails),
// removes the staging folder and itself, and starts executable (relative to $1).
QByteArray relaunchScript(qint64 pid, const QString& executable, const QString& stagingDir);

} // namespace UpdateStaging
