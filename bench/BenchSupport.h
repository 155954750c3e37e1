#pragma once

// What the side-by-side benchmarks share: the throwaway servers described by the
// MIRELO_TEST_* variables (scripts/lib/dbservers.sh), the peers' command lines, and
// running a child process for its wall time and peak memory.

#include "db/DatabaseConnection.h"

#include <string>
#include <vector>

namespace bench {

struct Server
{
    const char* type;   // "postgresql" or "mysql"
    const char* label;  // for the table
    std::string prefix; // of its MIRELO_TEST_* variables
};

std::string env(const std::string& name);
bool serversRunning();
DatabaseConnection connectionFor(const Server& server);

struct Measure
{
    double seconds = 0;
    long peakKiB = 0;
    bool ok = false;
};

// Runs args with stdout to /dev/null (or to the file stdoutPath) and the extra environment;
// wall time and peak RSS.
Measure measure(const std::vector<std::string>& args, const std::vector<std::string>& extraEnv = {},
                const std::string& stdoutPath = {});

// psql or mariadb connected to the server; MIRELO_BENCH_PSQL / MIRELO_BENCH_MARIADB
// override their paths. The caller appends the output options and the statement.
std::vector<std::string> peerCommand(const Server& server);
// The password for the peer, passed the way each client reads it.
std::vector<std::string> peerEnvironment(const Server& server);

double median(std::vector<double> values);

} // namespace bench
