#include "BenchSupport.h"

#include <QFile>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace bench {

std::string env(const std::string& name)
{
    const char* value = std::getenv(name.c_str());
    return value ? value : "";
}

bool serversRunning()
{
    return !env("MIRELO_TEST_PG_PORT").empty() && !env("MIRELO_TEST_MYSQL_PORT").empty();
}

DatabaseConnection connectionFor(const Server& server)
{
    DatabaseConnection c;
    c.type = QString::fromLatin1(server.type);
    c.host = QString::fromStdString(env(server.prefix + "HOST"));
    c.port = std::stoll(env(server.prefix + "PORT"));
    c.database = QString::fromStdString(env(server.prefix + "DATABASE"));
    c.username = QString::fromStdString(env(server.prefix + "USER"));
    c.password = QString::fromStdString(env(server.prefix + "PASSWORD"));
    return c;
}

Measure measure(const std::vector<std::string>& args, const std::vector<std::string>& extraEnv,
                const std::string& stdoutPath)
{
    std::vector<char*> argv;
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);

    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int out = stdoutPath.empty() ? ::open("/dev/null", O_WRONLY)
                                           : ::open(stdoutPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ::dup2(out, STDOUT_FILENO);
        for (const std::string& e : extraEnv)
            ::putenv(const_cast<char*>(e.c_str()));
        ::execvp(argv[0], argv.data());
        std::perror(argv[0]);
        ::_exit(127);
    }
    int status = 0;
    rusage usage{};
    ::wait4(pid, &status, 0, &usage);
    const auto end = std::chrono::steady_clock::now();
    return {std::chrono::duration<double>(end - start).count(), usage.ru_maxrss,
            WIFEXITED(status) && WEXITSTATUS(status) == 0};
}

std::vector<std::string> peerCommand(const Server& server)
{
    const std::string& p = server.prefix;
    if (std::string(server.type) == "postgresql") {
        std::string psql = env("MIRELO_BENCH_PSQL");
        if (psql.empty())
            psql = QFile::exists(QStringLiteral("/usr/lib/postgresql/15/bin/psql")) ? "/usr/lib/postgresql/15/bin/psql"
                                                                                    : "psql";
        return {
            psql, "-X", "-h", env(p + "HOST"), "-p", env(p + "PORT"), "-U", env(p + "USER"), "-d", env(p + "DATABASE")};
    }
    std::string mariadb = env("MIRELO_BENCH_MARIADB");
    if (mariadb.empty())
        mariadb = "mariadb";
    return {mariadb, "--no-defaults", "-h", env(p + "HOST"),    "-P", env(p + "PORT"),
            "-u",    env(p + "USER"), "-D", env(p + "DATABASE")};
}

std::vector<std::string> peerEnvironment(const Server& server)
{
    const std::string password = env(server.prefix + "PASSWORD");
    if (std::string(server.type) == "postgresql")
        return {"PGPASSWORD=" + password};
    return {"MYSQL_PWD=" + password};
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

} // namespace bench
