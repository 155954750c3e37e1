#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

// Replaces a file's whole content so that readers see either the old or the new bytes.
namespace AtomicFile {

// Writes data to a private temporary file beside path, flushes it and renames it over
// path. With a mode the temporary file is created with exactly that mode before any
// byte is written, so the file never exists with looser permissions; without one it
// gets the usual 0666 less the umask. Returns an empty string on success, else a
// sentence saying what failed. Nothing is left behind on failure.
QString write(const QString& path, const QByteArray& data, std::optional<int> mode = std::nullopt);

} // namespace AtomicFile
