// The whole path from statement to CSV file for a 10000 x 20 result: our executor runs the
// query and the results grid's CSV export writes it, side by side with `psql --csv -c`
// writing the same query to a file. Each side runs as a child process; the table prints
// wall time, peak memory and the ratio. Target: at most 1.3 times psql's time.
//
//   bench/run-with-servers.sh bench_export [rounds]   starts throwaway servers, builds, runs
//   bench_export [rounds]                             against servers described by MIRELO_TEST_*

#include "BenchSupport.h"
#include "db/DatabaseExecutor.h"
#include "workspace/ResultExport.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace {

using namespace bench;

const Server kServer{"postgresql", "PostgreSQL 15", "MIRELO_TEST_PG_"};

// Twenty columns of the kinds a report holds: numbers, text needing CSV quotes, dates, NULLs.
const std::string kQuery =
    "SELECT g AS id, g * 7919 AS code, 'customer ' || g AS name, round(g * 1.25, 2) AS amount, "
    "date '2024-01-01' + (g % 365) AS day, CASE WHEN g % 7 = 0 THEN NULL ELSE 'note, \"quoted\" ' || g END AS note, "
    "md5(g::text) AS hash, g % 2 = 0 AS even, g % 13 AS bucket, repeat('x', 12) AS pad, "
    "g + 1 AS c11, g + 2 AS c12, 'city ' || (g % 97) AS city, g * 0.5 AS half, now()::date AS today, "
    "g % 3 AS c16, upper(md5(g::text)) AS c17, 'a;b' AS c18, g::text || ',' || g AS c19, -g AS c20 "
    "FROM generate_series(1, 10000) AS g";

int runChild(const std::string& path)
{
    int argc = 1;
    char name[] = "bench_export";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    int status = 0;
    DatabaseExecutor::shared().executeQuery(
        QString::fromStdString(kQuery), connectionFor(kServer), &app,
        [&](const QueryResultPtr& result, const QString& error) {
            const QString failure = result ? ResultExport::writeCSV(*result, QString::fromStdString(path)) : error;
            if (!failure.isEmpty()) {
                std::fprintf(stderr, "%s\n", qPrintable(failure));
                status = 1;
            }
            app.quit();
        });
    app.exec();
    return status;
}

qint64 lineCount(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    return file.readAll().count('\n');
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 3 && std::string(argv[1]) == "--child")
        return runChild(argv[2]);
    if (!serversRunning()) {
        std::fprintf(stderr, "No database servers: run bench/run-with-servers.sh bench_export,\n"
                             "or source scripts/lib/dbservers.sh and call mirelo_db_start first.\n");
        return 2;
    }
    const int rounds = 15 * (argc > 1 ? std::max(1, std::atoi(argv[1])) : 1);
    QTemporaryDir dir;
    const std::string ourFile = dir.filePath(QStringLiteral("ours.csv")).toStdString();
    const std::string peerFile = dir.filePath(QStringLiteral("psql.csv")).toStdString();

    const std::vector<std::string> ours{"/proc/self/exe", "--child", ourFile};
    std::vector<std::string> peer = peerCommand(kServer);
    peer.insert(peer.end(), {"--csv", "-o", peerFile, "-c", kQuery});
    const std::vector<std::string> peerEnv = peerEnvironment(kServer);

    bool ok = measure(ours).ok && measure(peer, peerEnv).ok; // warm-up
    std::vector<double> ourTimes, peerTimes;
    long ourPeak = 0, peerPeak = 0;
    for (int round = 0; round < rounds; ++round) {
        for (int turn = 0; turn < 2; ++turn) {
            const bool oursNow = (round + turn) % 2 == 0;
            const Measure m = oursNow ? measure(ours) : measure(peer, peerEnv);
            ok &= m.ok;
            (oursNow ? ourTimes : peerTimes).push_back(m.seconds);
            long& peak = oursNow ? ourPeak : peerPeak;
            peak = std::max(peak, m.peakKiB);
        }
    }
    const double ourMs = median(ourTimes) * 1000, peerMs = median(peerTimes) * 1000;
    std::printf("%-34s %12s %12s %8s %12s %12s\n", "10000 rows x 20 columns to CSV", "ours ms", "psql ms", "time x",
                "ours MB", "psql MB");
    std::printf("%-34s %12.1f %12.1f %8.2f %12.1f %12.1f\n", kServer.label, ourMs, peerMs, ourMs / peerMs,
                ourPeak / 1024.0, peerPeak / 1024.0);
    std::printf("CSV lines: ours %lld, psql %lld (header included); times are medians of %d rounds; target 1.30x\n",
                static_cast<long long>(lineCount(QString::fromStdString(ourFile))),
                static_cast<long long>(lineCount(QString::fromStdString(peerFile))), rounds);
    if (!ok)
        std::fprintf(stderr, "Some runs failed; see the messages above.\n");
    return ok ? 0 : 1;
}
