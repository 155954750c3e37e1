#include "update/UpdateStaging.h"

#include "update/ArchiveExtractor.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUuid>

namespace UpdateStaging {

namespace {

QString text(const char* source)
{
    return QCoreApplication::translate("UpdateManager", source);
}

QString newUuid()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
}

// Single quotes for the shell: nothing inside is special except the quote itself.
QString shellQuoted(const QString& value)
{
    QString quoted = value;
    quoted.replace(QLatin1Char('\''), QLatin1String("'\\''"));
    return QLatin1Char('\'') + quoted + QLatin1Char('\'');
}

bool moveInto(const QString& from, const QString& to)
{
    // A rename when both lie on one file system; otherwise a copy, then the original goes.
    if (QFile::rename(from, to))
        return true;
    if (!QFile::copy(from, to)) {
        QFile::remove(to);
        return false;
    }
    QFile::remove(from);
    return true;
}

bool startsWithPK(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) && file.read(2) == "PK";
}

} // namespace

QString sha256Hex(const QByteArray& data)
{
    return QString::fromLatin1(QCryptographicHash::hash(data, QCryptographicHash::Sha256).toHex());
}

std::optional<QString> sha256HexOfFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!hash.addData(&file))
        return std::nullopt;
    return QString::fromLatin1(hash.result().toHex());
}

std::optional<QString> firstAppInDir(const QString& folder)
{
    const QFileInfoList entries =
        QDir(folder).entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden, QDir::Name);
    for (const QFileInfo& entry : entries) {
        if (entry.suffix() == QLatin1String("app") && !entry.isSymLink())
            return entry.fileName();
    }
    return std::nullopt;
}

QString stageZip(const QString& downloadedFile, const QString& stagingDir, const QString& extractedDir,
                 QString* appPath)
{
    const QString zip = QDir(stagingDir).filePath(QStringLiteral("update.zip"));
    if (!moveInto(downloadedFile, zip))
        return text("Couldn't write the downloaded build to disk.");
    if (ArchiveExtractor::extract(zip, ArchiveExtractor::Format::Zip, extractedDir) !=
        ArchiveExtractor::Result::Extracted)
        return text("Couldn't unpack the downloaded build.");
    if (const std::optional<QString> app = firstAppInDir(extractedDir))
        *appPath = QDir(extractedDir).filePath(*app);
    return {};
}

QString stageDmg(const QString& downloadedFile, const QString& stagingDir, const QString& extractedDir,
                 QString* appPath)
{
    const QString image = QDir(stagingDir).filePath(QStringLiteral("update.dmg"));
    if (!moveInto(downloadedFile, image))
        return text("Couldn't write the downloaded build to disk.");
    // Reading the image's directory stands for attaching it read-only.
    const std::optional<QStringList> root =
        ArchiveExtractor::topLevelFolders(image, ArchiveExtractor::Format::DiskImage);
    if (!root)
        return text("Couldn't mount the downloaded disk image.");
    const auto app = std::find_if(root->begin(), root->end(),
                                  [](const QString& name) { return QFileInfo(name).suffix() == QLatin1String("app"); });
    if (app == root->end())
        return text("The disk image didn't contain a .app.");
    if (ArchiveExtractor::extract(image, ArchiveExtractor::Format::DiskImage, extractedDir, *app) !=
            ArchiveExtractor::Result::Extracted ||
        !QFileInfo(QDir(extractedDir).filePath(*app)).isDir())
        return text("Couldn't copy the app out of the disk image.");
    *appPath = QDir(extractedDir).filePath(*app);
    return {};
}

Staged verifyAndStage(const QString& downloadedFile, const UpdateInfo& expected)
{
    Staged staged;
    const auto fail = [&](const QString& error) {
        QFile::remove(downloadedFile);
        if (!staged.stagingDir.isEmpty())
            QDir(staged.stagingDir).removeRecursively();
        staged.stagingDir.clear();
        staged.error = error;
        return staged;
    };

    if (QFileInfo(downloadedFile).size() <= 0)
        return fail(text("The downloaded build was empty."));
    const std::optional<QString> digest = sha256HexOfFile(downloadedFile);
    if (!digest)
        return fail(text("The downloaded build was empty."));
    if (*digest != expected.sha256)
        return fail(text("Checksum mismatch — the download may be corrupt or tampered with. Update cancelled."));

    staged.stagingDir = QDir(QDir::tempPath()).filePath(QStringLiteral("mirelo-update-") + newUuid());
    const QString extracted = QDir(staged.stagingDir).filePath(QStringLiteral("extracted"));
    if (!QDir().mkpath(extracted))
        return fail(text("Couldn't write the downloaded build to disk."));

    QString appPath;
    const QString error = startsWithPK(downloadedFile)
                              ? stageZip(downloadedFile, staged.stagingDir, extracted, &appPath)
                              : stageDmg(downloadedFile, staged.stagingDir, extracted, &appPath);
    if (!error.isEmpty())
        return fail(error);
    if (appPath.isEmpty())
        return fail(text("The downloaded build didn't contain a .app."));
    // The archive has served its purpose; only the unpacked application is handed on.
    QFile::remove(QDir(staged.stagingDir).filePath(QStringLiteral("update.zip")));
    QFile::remove(QDir(staged.stagingDir).filePath(QStringLiteral("update.dmg")));
    staged.appPath = appPath;
    return staged;
}

QString stagingDirOf(const QString& appPath)
{
    const QFileInfo app(appPath);
    const QFileInfo extracted(app.absolutePath());
    const QFileInfo staging(extracted.absolutePath());
    if (extracted.fileName() != QLatin1String("extracted") ||
        !staging.fileName().startsWith(QLatin1String("mirelo-update-")) ||
        QDir::cleanPath(staging.absolutePath()) != QDir::cleanPath(QDir::tempPath()))
        return {};
    return staging.absoluteFilePath();
}

QByteArray relaunchScript(qint64 pid, const QString& executable, const QString& stagingDir)
{
    // The new copy goes beside the old one first, so the old application stays whole
    // until a rename puts the new one in its place; any failure restores it. Whatever
    // happens, an application is started again from the same path.
    QString script =
        QStringLiteral("#!/bin/sh\n"
                       "while /bin/kill -0 %1 2>/dev/null; do /bin/sleep 0.2; done\n"
                       "new=\"$1.mirelo-new-$$\"\n"
                       "old=\"$1.mirelo-old-$$\"\n"
                       "/bin/rm -rf \"$new\" \"$old\"\n"
                       "if /bin/cp -R -P -p \"$2\" \"$new\" 2>/dev/null; then\n"
                       "    if /bin/mv \"$1\" \"$old\" 2>/dev/null; then\n"
                       "        if /bin/mv \"$new\" \"$1\" 2>/dev/null; then\n"
                       "            /bin/rm -rf \"$old\"\n"
                       "        else\n"
                       "            /bin/mv \"$old\" \"$1\"\n"
                       "        fi\n"
                       "    fi\n"
                       "fi\n"
                       "/bin/rm -rf \"$new\"%2 \"$0\"\n"
                       "exec \"$1\"/%3\n")
            .arg(QString::number(pid), stagingDir.isEmpty() ? QString() : QLatin1Char(' ') + shellQuoted(stagingDir),
                 shellQuoted(executable));
    return script.toUtf8();
}

} // namespace UpdateStaging
