#pragma once

#include <QString>
#include <QStringList>
#include <optional>

// Unpacks a downloaded build with libarchive, refusing anything that could write outside
// the destination: absolute paths, "..", links that lead out of it, special files, and
// more data than a build can plausibly hold. A refused or failed extraction leaves the
// destination empty.
namespace ArchiveExtractor {

enum class Format { Zip, DiskImage };

enum class Result {
    Extracted,
    CannotOpen, // not an archive of that format at all
    Refused,    // an entry that is unsafe or past the size limit
    Failed,     // a read or write error part-way
};

// The most bytes an archive of this size may unpack to: ten times its size, at most 2 GiB.
qint64 sizeLimitFor(qint64 archiveBytes);

// The folders at the archive's top level, sorted by name; none when it cannot be read.
std::optional<QStringList> topLevelFolders(const QString& archivePath, Format format);

// Unpacks the whole archive, or only the top-level folder onlyFolder when it is given,
// into destination, which must exist and be empty.
Result extract(const QString& archivePath, Format format, const QString& destination, const QString& onlyFolder = {});

} // namespace ArchiveExtractor
