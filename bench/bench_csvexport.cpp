// The whole-result CSV export: 2,000,000 rows x 5 columns streamed from the server into a
// file by DatabaseExecutor::exportCSV, side by side with the servers' own clients writing
// the same query to a file (`psql --csv -o`, `mariadb --batch` into a file). Each side runs
// as a child process; the table prints wall time, peak memory and the ratio.
// Goals: at most 1.3 times the peer's time, under 100 MB.
//
//   bench/run-with-servers.sh bench_csvexport [rounds multiplier]
//   bench_csvexport [rounds multiplier]        against servers described by MIRELO_TEST_*

#include "BenchSupport.h"
#include "db/DatabaseExecutor.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace {

using namespace bench;

const std::string kPostgreSQLQuery =
    "SELECT g, g * 2, 'row ' || g, md5(g::text), g * 1.5 FROM generate_series(1, 2000000) AS g";
const std::string kMySQLQuery = "SELECT seq, seq * 2, CONCAT('row ', seq), MD5(seq), seq * 1.5 FROM seq_1_to_2000000";

// Child side: one export through the shared executor.
int runChild(const std::string& type, const std::string& path)
{
    int argc = 1;
    char name[] = "bench_csvexport";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    const bool pg = type == "postgresql";
    const Server server{pg ? "postgresql" : "mysql", "", pg ? "MIRELO_TEST_PG_" : "MIRELO_TEST_MYSQL_"};
    int status = 0;
    DatabaseExecutor::shared().exportCSV(QString::fromStdString(pg ? kPostgreSQLQuery : kMySQLQuery),
                                         connectionFor(server), QString::fromStdString(path), &app, nullptr,
                                         [&](std::optional<quint64> rows, const QueryError& error) {
                                             if (!rows) {
                                                 std::fprintf(stderr, "export failed: %s\n", qPrintable(error.message));
                                                 status = 1;
                                             }
                                             app.quit();
                                         });
    app.exec();
    return status;
}

qint64 lineCount(const std::string& path)
{
    QFile file(QString::fromStdString(path));
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    qint64 lines = 0;
    while (!file.atEnd())
        lines += file.read(1 << 20).count('\n');
    return lines;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 4 && std::string(argv[1]) == "--child")
        return runChild(argv[2], argv[3]);
    if (!serversRunning()) {
        std::fprintf(stderr, "No database servers: run bench/run-with-servers.sh bench_csvexport,\n"
                             "or source scripts/lib/dbservers.sh and call mirelo_db_start first.\n");
        return 2;
    }
    const int rounds = 5 * (argc > 1 ? std::max(1, std::atoi(argv[1])) : 1);
    QTemporaryDir dir;
    const std::vector<Server> servers{{"postgresql", "PostgreSQL 15", "MIRELO_TEST_PG_"},
                                      {"mysql", "MariaDB 10.11", "MIRELO_TEST_MYSQL_"}};

    std::printf("%-14s %-34s %10s %10s %7s %10s %10s %14s\n", "server", "2000000 rows x 5 columns to a file", "ours ms",
                "peer ms", "time x", "ours MB", "peer MB", "lines ours/peer");
    bool ok = true;
    for (const Server& server : servers) {
        const bool pg = std::string(server.type) == "postgresql";
        const std::string ourFile = dir.filePath(QStringLiteral("ours.csv")).toStdString();
        const std::string peerFile = dir.filePath(QStringLiteral("peer.out")).toStdString();
        const std::vector<std::string> ours{"/proc/self/exe", "--child", server.type, ourFile};
        std::vector<std::string> peer = peerCommand(server);
        if (pg)
            peer.insert(peer.end(), {"--csv", "-o", peerFile, "-c", kPostgreSQLQuery});
        else
            peer.insert(peer.end(), {"--batch", "-e", kMySQLQuery});
        const std::string peerOut = pg ? std::string() : peerFile;
        const std::vector<std::string> peerEnv = peerEnvironment(server);

        ok &= measure(ours).ok && measure(peer, peerEnv, peerOut).ok; // warm-up
        std::vector<double> ourTimes, peerTimes;
        long ourPeak = 0, peerPeak = 0;
        for (int round = 0; round < rounds; ++round) {
            // Alternate who goes first, so that neither always meets a warmer server.
            for (int turn = 0; turn < 2; ++turn) {
                const bool oursNow = (round + turn) % 2 == 0;
                const Measure m = oursNow ? measure(ours) : measure(peer, peerEnv, peerOut);
                ok &= m.ok;
                (oursNow ? ourTimes : peerTimes).push_back(m.seconds);
                long& peak = oursNow ? ourPeak : peerPeak;
                peak = std::max(peak, m.peakKiB);
            }
        }
        const double ourMs = median(ourTimes) * 1000, peerMs = median(peerTimes) * 1000;
        const std::string lines = std::to_string(lineCount(ourFile)) + "/" + std::to_string(lineCount(peerFile));
        std::printf("%-14s %-34s %10.1f %10.1f %7.2f %10.1f %10.1f %14s\n", server.label,
                    pg ? "ours vs psql --csv -o" : "ours vs mariadb --batch > file", ourMs, peerMs, ourMs / peerMs,
                    ourPeak / 1024.0, peerPeak / 1024.0, lines.c_str());
        std::fflush(stdout);
    }
    std::printf("times are medians of %d rounds after one warm-up; memory is the peak resident set of the whole "
                "process; goals: time x at most 1.30, ours under 100 MB\n",
                rounds);
    if (!ok)
        std::fprintf(stderr, "Some runs failed; see the messages above.\n");
    return ok ? 0 : 1;
}
