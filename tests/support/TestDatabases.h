#pragma once

#include "db/DatabaseConnection.h"

#include <QTest>
#include <optional>

class DatabaseExecutor;

// The PostgreSQL and MariaDB servers that scripts/lib/dbservers.sh starts, as connection
// records built from its MIRELO_TEST_* variables.
namespace TestDatabases {

// Each server runs twice: once with TLS, once without (same user, password and databases).
enum class Server { Tls, Plain };

// A variable of the servers of this type ("postgresql" or "mysql"): MIRELO_TEST_PG_<name>
// or MIRELO_TEST_MYSQL_<name>.
QString variable(const QString& type, const char* name);

// The test user on that server and database (the test database when none is named), with
// ssl off; nullopt when the servers were not started.
std::optional<DatabaseConnection> connection(const QString& type, Server server = Server::Tls,
                                             const QString& database = {});

// sql with each %1 replaced by the process id: objects the tests create carry it, so that
// test programs running side by side never meet.
QString suffixed(const char* sql);

// The data column "type", with a row for each server.
void bothServers();

// The first value of the first row of sql, run able to write: "∅" for NULL, "no rows", or
// the error.
QString firstValue(DatabaseExecutor& executor, const QString& sql, const DatabaseConnection& c);

// A query counting the sessions on the server of this type now running exactly sql.
QString runningCount(const QString& type, const QString& sql);

} // namespace TestDatabases

// Declares `var` as TestDatabases::connection(…). Under scripts/test the servers must be
// there; run by hand, their absence skips the test.
#define MIRELO_REQUIRE_DATABASE(var, ...)                                                                              \
    const std::optional<DatabaseConnection> var##Found = TestDatabases::connection(__VA_ARGS__);                       \
    if (!var##Found) {                                                                                                 \
        if (qEnvironmentVariableIsSet("MIRELO_TEST_DB_REQUIRED"))                                                      \
            QFAIL("The database servers' MIRELO_TEST_* variables are missing.");                                       \
        QSKIP("No test database servers: run scripts/test, or source scripts/lib/dbservers.sh and mirelo_db_start.");  \
    }                                                                                                                  \
    DatabaseConnection var = *var##Found
