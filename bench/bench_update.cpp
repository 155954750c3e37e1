// Verifying and unpacking a large update, and what the download and installation cost the
// main thread. An update zip holding 100 MB of files (an application folder of random bytes
// and text) is hashed and unpacked by our staging, side by side with `sha256sum` and then
// `unzip` on the same file; each side runs as a child process and the table prints wall
// time, peak memory and the ratio. Then the whole download and installation runs against
// a local server while a timer on the main thread records its longest wait.
// Targets: at most 1.5 times the peers' time; no main-thread stall above 50 ms.
//
//   bench_update [rounds]

#include "BenchSupport.h"
#include "server/APIManager.h"
#include "support/TestHttpServer.h"
#include "update/UpdateManager.h"
#include "update/UpdateStaging.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTimer>
#include <archive.h>
#include <archive_entry.h>
#include <cstdio>
#include <string>
#include <vector>

namespace {

using namespace bench;

la_ssize_t writeTo(archive*, void* file, const void* buffer, size_t length)
{
    return static_cast<QFile*>(file)->write(static_cast<const char*>(buffer), qint64(length));
}

// Mirelo.app with six 10 MB files of random bytes and four of repetitive text.
bool writeZip(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    archive* a = archive_write_new();
    archive_write_set_format_zip(a);
    archive_write_open(a, &file, nullptr, writeTo, nullptr);
    QRandomGenerator random(7);
    for (int i = 0; i < 10; ++i) {
        QByteArray data(10 * 1024 * 1024, Qt::Uninitialized);
        if (i < 6) {
            random.fillRange(reinterpret_cast<quint32*>(data.data()), data.size() / 4);
        } else {
            const QByteArray line =
                "SELECT name, count(*) FROM orders GROUP BY name; -- " + QByteArray::number(i) + "\n";
            for (qsizetype at = 0; at < data.size(); at += line.size())
                memcpy(data.data() + at, line.constData(), size_t(qMin(line.size(), data.size() - at)));
        }
        archive_entry* entry = archive_entry_new();
        archive_entry_copy_pathname(entry, QStringLiteral("Mirelo.app/part%1").arg(i).toUtf8().constData());
        archive_entry_set_filetype(entry, AE_IFREG);
        archive_entry_set_perm(entry, 0644);
        archive_entry_set_size(entry, data.size());
        archive_write_header(a, entry);
        archive_write_data(a, data.constData(), size_t(data.size()));
        archive_entry_free(entry);
    }
    const bool ok = archive_write_close(a) == ARCHIVE_OK;
    archive_write_free(a);
    return ok;
}

int runStaging(const std::string& zip, const std::string& digest)
{
    const QString copy = QString::fromStdString(zip) + QStringLiteral(".download");
    QFile::remove(copy);
    if (!QFile::copy(QString::fromStdString(zip), copy))
        return 1;
    UpdateInfo info;
    info.sha256 = QString::fromStdString(digest);
    const UpdateStaging::Staged staged = UpdateStaging::verifyAndStage(copy, info);
    if (!staged.error.isEmpty()) {
        std::fprintf(stderr, "%s\n", qPrintable(staged.error));
        return 1;
    }
    QDir(staged.stagingDir).removeRecursively();
    return 0;
}

// The download and installation from a local server; prints the longest main-thread wait.
double longestStall(const QString& zip, const QString& digest, const QString& scratch)
{
    QFile file(zip);
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    TestHttpServer server;
    server.route("GET", "/downloads/update.zip", TestHttpServer::Response{200, {}, file.readAll()});
    APIManager::shared().setServerURL(server.baseUrl());
    APIManager::shared().setApiKey(QStringLiteral("bench"));
    UpdateManager& manager = UpdateManager::shared();
    QDir().mkpath(scratch + QStringLiteral("/Apps/Mirelo.app"));
    manager.setRunningBundleForTesting(scratch + QStringLiteral("/Apps/Mirelo.app"));
    manager.setRelaunchForTesting(
        [](const QString& app) { QDir(QFileInfo(app).path() + QStringLiteral("/..")).removeRecursively(); });

    UpdateInfo info;
    info.sha256 = digest;
    info.downloadPath = QStringLiteral("/downloads/update.zip");
    QElapsedTimer clock;
    qint64 last = 0;
    qint64 longest = 0;
    QTimer tick;
    tick.setInterval(5);
    QObject::connect(&tick, &QTimer::timeout, &tick, [&] {
        longest = qMax(longest, clock.elapsed() - last);
        last = clock.elapsed();
    });
    bool done = false;
    QString error;
    clock.start();
    tick.start();
    manager.downloadAndInstall(info, {}, [&](const QString& e) {
        error = e;
        done = true;
    });
    while (!done)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    if (!error.isEmpty()) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return -1;
    }
    return double(longest);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 4 && std::string(argv[1]) == "--stage")
        return runStaging(argv[2], argv[3]);
    QCoreApplication app(argc, argv);
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;

    QTemporaryDir scratch;
    const QString zip = scratch.filePath(QStringLiteral("update.zip"));
    if (!writeZip(zip)) {
        std::fprintf(stderr, "Cannot write the update zip.\n");
        return 1;
    }
    const QString digest = UpdateStaging::sha256HexOfFile(zip).value_or(QString());
    const std::string self = QCoreApplication::applicationFilePath().toStdString();
    const std::string out = scratch.filePath(QStringLiteral("unzipped")).toStdString();
    qputenv("TMPDIR", QFile::encodeName(scratch.path()));

    std::vector<double> ours;
    std::vector<double> peers;
    long oursKiB = 0;
    long peersKiB = 0;
    for (int round = 0; round < rounds; ++round) {
        const Measure staged = measure({self, "--stage", zip.toStdString(), digest.toStdString()});
        QDir(QString::fromStdString(out)).removeRecursively();
        const Measure hashed = measure({"sha256sum", zip.toStdString()});
        const Measure unzipped = measure({"unzip", "-q", "-o", "-d", out, zip.toStdString()});
        if (!staged.ok || !hashed.ok || !unzipped.ok) {
            std::fprintf(stderr, "A run failed.\n");
            return 1;
        }
        ours.push_back(staged.seconds);
        peers.push_back(hashed.seconds + unzipped.seconds);
        oursKiB = std::max(oursKiB, staged.peakKiB);
        peersKiB = std::max({peersKiB, hashed.peakKiB, unzipped.peakKiB});
    }
    const double stall = longestStall(zip, digest, scratch.filePath(QStringLiteral("install")));

    std::printf("update zip %.0f MB, %d rounds (median)\n", QFileInfo(zip).size() / 1e6, rounds);
    std::printf("%-28s %9s %10s\n", "", "seconds", "peak MiB");
    std::printf("%-28s %9.2f %10.1f\n", "verify and unpack (ours)", median(ours), oursKiB / 1024.0);
    std::printf("%-28s %9.2f %10.1f\n", "sha256sum + unzip", median(peers), peersKiB / 1024.0);
    std::printf("ratio %.2f (target at most 1.5)\n", median(ours) / median(peers));
    std::printf("longest main-thread wait during download and install: %.0f ms (target at most 50)\n", stall);
    return 0;
}
