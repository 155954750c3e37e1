#include "TestArchive.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <archive.h>
#include <archive_entry.h>
#include <sys/stat.h>
#include <unistd.h>

namespace TestArchive {

namespace {

la_ssize_t appendTo(archive*, void* clientData, const void* buffer, size_t length)
{
    static_cast<QByteArray*>(clientData)->append(static_cast<const char*>(buffer), qsizetype(length));
    return la_ssize_t(length);
}

QByteArray write(const QList<Entry>& entries, bool iso)
{
    QByteArray out;
    archive* a = archive_write_new();
    if (iso) {
        archive_write_set_format_iso9660(a);
        archive_write_set_option(a, "iso9660", "rockridge", "1");
    } else {
        archive_write_set_format_zip(a);
    }
    archive_write_set_bytes_in_last_block(a, 1);
    if (archive_write_open(a, &out, nullptr, appendTo, nullptr) != ARCHIVE_OK)
        qFatal("archive_write_open: %s", archive_error_string(a));
    for (const Entry& e : entries) {
        archive_entry* entry = archive_entry_new();
        archive_entry_copy_pathname(entry, QFile::encodeName(e.path).constData());
        archive_entry_set_mtime(entry, 1700000000, 0);
        switch (e.kind) {
        case Entry::Kind::File:
            archive_entry_set_filetype(entry, AE_IFREG);
            archive_entry_set_perm(entry, mode_t(e.mode));
            archive_entry_set_size(entry, e.data.size());
            break;
        case Entry::Kind::Folder:
            archive_entry_set_filetype(entry, AE_IFDIR);
            archive_entry_set_perm(entry, 0755);
            break;
        case Entry::Kind::Symlink:
            archive_entry_set_filetype(entry, AE_IFLNK);
            archive_entry_set_perm(entry, 0777);
            archive_entry_copy_symlink(entry, QFile::encodeName(e.target).constData());
            break;
        }
        if (archive_write_header(a, entry) != ARCHIVE_OK)
            qFatal("archive_write_header %s: %s", qPrintable(e.path), archive_error_string(a));
        if (e.kind == Entry::Kind::File && !e.data.isEmpty() &&
            archive_write_data(a, e.data.constData(), size_t(e.data.size())) != e.data.size())
            qFatal("archive_write_data %s: %s", qPrintable(e.path), archive_error_string(a));
        archive_entry_free(entry);
    }
    if (archive_write_close(a) != ARCHIVE_OK)
        qFatal("archive_write_close: %s", archive_error_string(a));
    archive_write_free(a);
    return out;
}

} // namespace

Entry Entry::file(const QString& path, const QByteArray& data, int mode)
{
    return {path, data, {}, Kind::File, mode};
}

Entry Entry::folder(const QString& path)
{
    return {path, {}, {}, Kind::Folder, 0755};
}

Entry Entry::symlink(const QString& path, const QString& target)
{
    return {path, {}, target, Kind::Symlink, 0777};
}

QByteArray zip(const QList<Entry>& entries)
{
    return write(entries, false);
}

QByteArray diskImage(const QList<Entry>& entries)
{
    return write(entries, true);
}

QList<Entry> entriesOfFolder(const QString& folder, const QString& prefix)
{
    QList<Entry> entries{Entry::folder(prefix)};
    QDirIterator it(folder, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QFileInfo info(it.next());
        const QString path = prefix + QLatin1Char('/') + QDir(folder).relativeFilePath(info.filePath());
        if (info.isSymLink()) {
            char target[4096];
            const ssize_t n = ::readlink(QFile::encodeName(info.filePath()).constData(), target, sizeof target);
            entries.append(Entry::symlink(path, QFile::decodeName(QByteArray(target, n < 0 ? 0 : int(n)))));
        } else if (info.isDir()) {
            entries.append(Entry::folder(path));
        } else {
            QFile file(info.filePath());
            if (!file.open(QIODevice::ReadOnly))
                qFatal("cannot read %s", qPrintable(info.filePath()));
            struct stat st;
            ::stat(QFile::encodeName(info.filePath()).constData(), &st);
            entries.append(Entry::file(path, file.readAll(), int(st.st_mode & 07777)));
        }
    }
    return entries;
}

QList<Entry> appFolder(const QString& name, const QByteArray& build)
{
    return {Entry::folder(name), Entry::file(name + QStringLiteral("/mirelo"), "#!/bin/sh\nexit 0\n", 0755),
            Entry::file(name + QStringLiteral("/build.txt"), build)};
}

} // namespace TestArchive
