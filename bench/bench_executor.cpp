// Runs the executor and the servers' own command-line clients side by side on the same
// queries, each as a child process, and prints wall time, peak memory and their ratios.
//
//   bench/run-with-servers.sh bench_executor [rounds]   starts throwaway servers, builds, runs
//   bench_executor [rounds]                             against servers described by MIRELO_TEST_*
//                                                       (see scripts/lib/dbservers.sh)
//
// The peers are `psql -At` and `mariadb -B`, writing to /dev/null; MIRELO_BENCH_PSQL and
// MIRELO_BENCH_MARIADB override their paths.

#include "BenchSupport.h"
#include "db/DatabaseExecutor.h"

#include <QCoreApplication>
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace {

using namespace bench;

// Child side: one statement through the shared executor, summary on stderr when asked.
int runChild(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const bool pg = std::string(argv[2]) == "postgresql";
    const Server server{argv[2], "", pg ? "MIRELO_TEST_PG_" : "MIRELO_TEST_MYSQL_"};
    const bool show = argc > 4;
    int status = 0;
    DatabaseExecutor::shared().executeQuery(QString::fromUtf8(argv[3]), connectionFor(server), &app,
                                            [&](const QueryResultPtr& result, const QString& error) {
                                                if (!result) {
                                                    std::fprintf(stderr, "executor error: %s\n", qPrintable(error));
                                                    status = 1;
                                                } else if (show) {
                                                    std::fprintf(stderr, "    executor: %s, %lld kept\n",
                                                                 qPrintable(result->statusMessage),
                                                                 static_cast<long long>(result->rows.size()));
                                                }
                                                app.quit();
                                            });
    app.exec();
    return status;
}

struct Workload
{
    const char* name;
    std::string postgresql;
    std::string mysql;
    int rounds;
};

} // namespace

int main(int argc, char** argv)
{
    if (argc >= 4 && std::string(argv[1]) == "--child")
        return runChild(argc, argv);

    if (!serversRunning()) {
        std::fprintf(stderr, "No database servers: run bench/run-with-servers.sh bench_executor,\n"
                             "or source scripts/lib/dbservers.sh and call mirelo_db_start first.\n");
        return 2;
    }
    const int scale = argc > 1 ? std::max(1, std::atoi(argv[1])) : 1;
    // This very program again, in child mode.
    const std::string self = "/proc/self/exe";

    const std::vector<Server> servers{{"postgresql", "PostgreSQL 15", "MIRELO_TEST_PG_"},
                                      {"mysql", "MariaDB 10.11", "MIRELO_TEST_MYSQL_"}};
    const std::vector<Workload> workloads{
        {"10000 rows x 10 columns",
         "SELECT g, g + 1, g + 2, g * 3, g % 7, 'row ' || g, md5(g::text), g * 1.5, g % 2 = 0, repeat('x', 20) "
         "FROM generate_series(1, 10000) AS g",
         "SELECT seq, seq + 1, seq + 2, seq * 3, seq % 7, CONCAT('row ', seq), MD5(seq), seq * 1.5, seq % 2 = 0, "
         "REPEAT('x', 20) FROM seq_1_to_10000",
         15 * scale},
        {"2000000 rows x 5 columns",
         "SELECT g, g * 2, 'row ' || g, md5(g::text), g * 1.5 FROM generate_series(1, 2000000) AS g",
         "SELECT seq, seq * 2, CONCAT('row ', seq), MD5(seq), seq * 1.5 FROM seq_1_to_2000000", 5 * scale},
    };

    std::printf("%-14s %-26s %12s %12s %8s %12s %12s %8s\n", "server", "workload", "executor ms", "peer ms", "time x",
                "executor MB", "peer MB", "mem x");
    bool allOk = true;
    for (const Server& server : servers) {
        for (const Workload& w : workloads) {
            const std::string& sql = std::string(server.type) == "postgresql" ? w.postgresql : w.mysql;
            const std::vector<std::string> ours{self, "--child", server.type, sql};
            std::vector<std::string> peer = peerCommand(server);
            if (std::string(server.type) == "postgresql")
                peer.insert(peer.end(), {"-At", "-c", sql});
            else
                peer.insert(peer.end(), {"-B", "-e", sql});
            // One warm-up each, showing what the executor returned.
            std::vector<std::string> shown = ours;
            shown.push_back("--show");
            allOk &= measure(shown, {}).ok && measure(peer, peerEnvironment(server)).ok;

            std::vector<double> ourTimes, peerTimes;
            long ourPeak = 0, peerPeak = 0;
            for (int round = 0; round < w.rounds; ++round) {
                // Alternate who goes first, so that neither always meets a warmer server.
                for (int turn = 0; turn < 2; ++turn) {
                    const bool oursNow = (round + turn) % 2 == 0;
                    const Measure m = oursNow ? measure(ours, {}) : measure(peer, peerEnvironment(server));
                    allOk &= m.ok;
                    (oursNow ? ourTimes : peerTimes).push_back(m.seconds);
                    long& peak = oursNow ? ourPeak : peerPeak;
                    peak = std::max(peak, m.peakKiB);
                }
            }
            const double ourMs = median(ourTimes) * 1000, peerMs = median(peerTimes) * 1000;
            std::printf("%-14s %-26s %12.1f %12.1f %8.2f %12.1f %12.1f %8.2f\n", server.label, w.name, ourMs, peerMs,
                        ourMs / peerMs, ourPeak / 1024.0, peerPeak / 1024.0, double(ourPeak) / double(peerPeak));
            std::fflush(stdout);
        }
    }
    std::printf("times are medians of the measured rounds (after one warm-up); memory is the peak resident set "
                "of the whole process; x = executor / peer\n");
    if (!allOk)
        std::fprintf(stderr, "Some runs failed; see the messages above.\n");
    return allOk ? 0 : 1;
}
