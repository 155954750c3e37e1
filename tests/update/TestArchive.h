#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// Builds zip archives and ISO 9660 disk images in memory with libarchive's writer, entry
// by entry, so a test can make exactly the archive it needs, hostile ones included.
namespace TestArchive {

struct Entry
{
    enum class Kind { File, Folder, Symlink };

    QString path;
    QByteArray data; // a file's content
    QString target;  // a link's target
    Kind kind = Kind::File;
    int mode = 0644;

    static Entry file(const QString& path, const QByteArray& data, int mode = 0644);
    static Entry folder(const QString& path);
    static Entry symlink(const QString& path, const QString& target);
};

QByteArray zip(const QList<Entry>& entries);
QByteArray diskImage(const QList<Entry>& entries);

// The entries of a folder on disk, files, folders and links, under prefix in the archive.
QList<Entry> entriesOfFolder(const QString& folder, const QString& prefix);

// A small application folder: an executable "mirelo" and a "build.txt" holding build.
QList<Entry> appFolder(const QString& name, const QByteArray& build = "42");

} // namespace TestArchive
