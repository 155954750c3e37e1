#include "update/ArchiveExtractor.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <archive.h>
#include <archive_entry.h>
#include <memory>

namespace ArchiveExtractor {

namespace {

constexpr qint64 kMaxTotalBytes = qint64(2) * 1024 * 1024 * 1024;
constexpr size_t kBlockSize = 64 * 1024;

struct ReadCloser
{
    void operator()(archive* a) const { archive_read_free(a); }
};
struct WriteCloser
{
    void operator()(archive* a) const { archive_write_free(a); }
};
using Reader = std::unique_ptr<archive, ReadCloser>;
using Writer = std::unique_ptr<archive, WriteCloser>;

Reader openReader(const QString& path, Format format)
{
    Reader reader(archive_read_new());
    if (format == Format::Zip)
        archive_read_support_format_zip(reader.get());
    else
        archive_read_support_format_iso9660(reader.get());
    if (archive_read_open_filename(reader.get(), QFile::encodeName(path).constData(), kBlockSize) != ARCHIVE_OK)
        return {};
    return reader;
}

QString entryPath(archive_entry* entry)
{
    QString path;
    if (const char* utf8 = archive_entry_pathname_utf8(entry))
        path = QString::fromUtf8(utf8);
    else if (const char* raw = archive_entry_pathname(entry))
        path = QFile::decodeName(raw);
    while (path.startsWith(QLatin1String("./")))
        path.remove(0, 2);
    while (path.endsWith(QLatin1Char('/')))
        path.chop(1);
    return path;
}

// A relative path whose every component names something below the destination.
bool isSafeRelativePath(const QString& path)
{
    if (path.isEmpty() || path.startsWith(QLatin1Char('/')) || path.contains(QChar(0)))
        return false;
    const QStringList parts = path.split(QLatin1Char('/'));
    return std::none_of(parts.begin(), parts.end(), [](const QString& part) { return part == QLatin1String(".."); });
}

bool isWithin(const QString& path, const QString& folder)
{
    return folder.isEmpty() || path == folder || path.startsWith(folder + QLatin1Char('/'));
}

// A symbolic link at linkPath must lead to a place inside root (the destination, or the
// one folder being copied out). Only leading ".." may climb: after a named component the
// name may itself be a link, and a ".." behind it would climb from wherever that leads.
bool linkStaysInside(const QString& linkPath, const QString& target, const QString& root)
{
    if (target.isEmpty() || target.startsWith(QLatin1Char('/')))
        return false;
    QStringList at = linkPath.split(QLatin1Char('/'));
    at.removeLast();
    const qsizetype floor = root.isEmpty() ? 0 : root.count(QLatin1Char('/')) + 1;
    bool descending = false;
    for (const QString& part : target.split(QLatin1Char('/'))) {
        if (part.isEmpty() || part == QLatin1String("."))
            continue;
        if (part == QLatin1String("..")) {
            if (descending || at.size() <= floor)
                return false;
            at.removeLast();
        } else {
            descending = true;
            at.append(part);
        }
    }
    return true;
}

void emptyFolder(const QString& folder)
{
    QDir dir(folder);
    const QFileInfoList entries =
        dir.entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QFileInfo& info : entries) {
        if (info.isDir() && !info.isSymLink())
            QDir(info.absoluteFilePath()).removeRecursively();
        else
            QFile::remove(info.absoluteFilePath());
    }
}

Result copyData(archive* in, archive* out, qint64& total, qint64 limit)
{
    const void* buffer = nullptr;
    size_t size = 0;
    la_int64_t offset = 0;
    for (;;) {
        const int r = archive_read_data_block(in, &buffer, &size, &offset);
        if (r == ARCHIVE_EOF)
            return Result::Extracted;
        if (r < ARCHIVE_WARN)
            return Result::Failed;
        total += qint64(size);
        if (total > limit)
            return Result::Refused;
        if (archive_write_data_block(out, buffer, size, offset) < ARCHIVE_WARN)
            return Result::Failed;
    }
}

Result extractInto(archive* in, const QString& destination, const QString& onlyFolder, qint64 limit)
{
    Writer out(archive_write_disk_new());
    // No ARCHIVE_EXTRACT_PERM or OWNER: modes pass through the umask and lose any
    // set-id bits; the rest of the safety is checked entry by entry below.
    archive_write_disk_set_options(out.get(), ARCHIVE_EXTRACT_TIME | ARCHIVE_EXTRACT_SECURE_SYMLINKS |
                                                  ARCHIVE_EXTRACT_SECURE_NODOTDOT);
    qint64 total = 0;
    bool sawEntry = false;
    for (;;) {
        archive_entry* entry = nullptr;
        const int r = archive_read_next_header(in, &entry);
        if (r == ARCHIVE_EOF)
            break;
        if (r < ARCHIVE_WARN)
            return sawEntry ? Result::Failed : Result::CannotOpen;
        sawEntry = true;

        const QString path = entryPath(entry);
        if (path.isEmpty() || path == QLatin1String("."))
            continue; // the archive's own root
        if (!isSafeRelativePath(path))
            return Result::Refused;
        if (!isWithin(path, onlyFolder))
            continue;

        const char* hardlink = archive_entry_hardlink_utf8(entry);
        const mode_t type = archive_entry_filetype(entry);
        if (hardlink) {
            QString target = QString::fromUtf8(hardlink);
            while (target.endsWith(QLatin1Char('/')))
                target.chop(1);
            while (target.startsWith(QLatin1String("./")))
                target.remove(0, 2);
            if (!isSafeRelativePath(target) || !isWithin(target, onlyFolder))
                return Result::Refused;
            archive_entry_copy_hardlink(entry, QFile::encodeName(destination + QLatin1Char('/') + target).constData());
        } else if (type == AE_IFLNK) {
            const char* target = archive_entry_symlink(entry);
            if (!target || !linkStaysInside(path, QFile::decodeName(target), onlyFolder))
                return Result::Refused;
        } else if (type != AE_IFREG && type != AE_IFDIR) {
            return Result::Refused; // devices, pipes and sockets have no place in an application
        }
        if (archive_entry_size_is_set(entry) && archive_entry_size(entry) > limit - total)
            return Result::Refused;

        archive_entry_copy_pathname(entry, QFile::encodeName(destination + QLatin1Char('/') + path).constData());
        if (archive_write_header(out.get(), entry) < ARCHIVE_WARN)
            return Result::Failed;
        if (type == AE_IFREG && !hardlink) {
            const Result copied = copyData(in, out.get(), total, limit);
            if (copied != Result::Extracted)
                return copied;
        }
        if (archive_write_finish_entry(out.get()) < ARCHIVE_WARN)
            return Result::Failed;
    }
    if (!sawEntry)
        return Result::CannotOpen;
    return archive_write_close(out.get()) < ARCHIVE_WARN ? Result::Failed : Result::Extracted;
}

} // namespace

qint64 sizeLimitFor(qint64 archiveBytes)
{
    return std::min(kMaxTotalBytes, archiveBytes > kMaxTotalBytes / 10 ? kMaxTotalBytes : archiveBytes * 10);
}

std::optional<QStringList> topLevelFolders(const QString& archivePath, Format format)
{
    const Reader reader = openReader(archivePath, format);
    if (!reader)
        return std::nullopt;
    QStringList folders;
    QStringList others;
    bool sawEntry = false;
    for (;;) {
        archive_entry* entry = nullptr;
        const int r = archive_read_next_header(reader.get(), &entry);
        if (r == ARCHIVE_EOF)
            break;
        if (r < ARCHIVE_WARN)
            return std::nullopt;
        sawEntry = true;
        const QString path = entryPath(entry);
        const qsizetype slash = path.indexOf(QLatin1Char('/'));
        // A top-level name counts as a folder when it is one, or when anything lies below it.
        if (slash > 0)
            folders.append(path.left(slash));
        else if (!path.isEmpty() && path != QLatin1String(".")) {
            const bool isDir = archive_entry_filetype(entry) == AE_IFDIR && !archive_entry_hardlink(entry);
            (isDir ? folders : others).append(path);
        }
    }
    if (!sawEntry)
        return std::nullopt;
    folders.removeDuplicates();
    // A name given to a file or link and also used as a folder is neither, safely.
    folders.removeIf([&others](const QString& name) { return others.contains(name); });
    std::sort(folders.begin(), folders.end());
    return folders;
}

Result extract(const QString& archivePath, Format format, const QString& destination, const QString& onlyFolder)
{
    const qint64 limit = sizeLimitFor(QFileInfo(archivePath).size());
    // Absolute paths are written, so no link in the destination's own path may redirect them.
    const QString root = QFileInfo(destination).canonicalFilePath();
    if (root.isEmpty())
        return Result::Failed;
    const Reader reader = openReader(archivePath, format);
    if (!reader)
        return Result::CannotOpen;
    const Result result = extractInto(reader.get(), root, onlyFolder, limit);
    if (result != Result::Extracted)
        emptyFolder(root);
    return result;
}

} // namespace ArchiveExtractor
