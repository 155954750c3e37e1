#pragma once

#include "db/DatabaseConnection.h"
#include "db/ResultSink.h"
#include "db/StatementControl.h"

#include <QStringList>
#include <optional>

// Statements against MySQL or MariaDB through libmysqlclient or libmariadb, whichever is
// found first, loaded at run time. Each statement opens a fresh connection over TCP to the
// record's port (never the local socket) with utf8mb4 text, and closes it.
//
// With libmariadb every wait for the server goes through the statement's
// StatementControl (the library's non-blocking interface), so the caller can stop it and
// no wait outlasts its limit. libmysqlclient has no such interface this code can use: its
// calls block, a stop reaches them through KILL QUERY on the server, and its waits are
// bounded by the library's own 10-second connect and 60-second read and write timeouts.
//
// A read-only connection runs SET SESSION TRANSACTION READ ONLY first. What that stops, as
// verified on MariaDB 10.11: INSERT, UPDATE, DELETE, REPLACE, LOAD DATA, TRUNCATE, every
// CREATE, ALTER, DROP and RENAME (temporary tables, views, routines and databases
// included), OPTIMIZE and REPAIR TABLE, NEXTVAL and SETVAL, LOCK TABLES … WRITE, GRANT,
// REVOKE, CREATE USER and SET PASSWORD, INSTALL and UNINSTALL, and CALL of a procedure that
// writes. What it does not stop: SET GLOBAL, SELECT … INTO OUTFILE or DUMPFILE, FLUSH,
// PURGE BINARY LOGS, KILL, ANALYZE TABLE (its statistics), GET_LOCK, and
// SET STATEMENT tx_read_only = 0 FOR a write.
namespace MySQLClient {

// True when a client library is loaded with every function used here; thread-safe.
bool load();
// Replaces the places the library is looked for (nullopt restores them) and forgets
// the loaded library. Only while no statement runs.
void setSearchListForTesting(std::optional<QStringList> searchList);

// Runs one statement and reads every result it returns (a procedure may return several):
// the first error is the statement's error, else the outcome is the last result with
// columns, or the last one without when none has columns. Rows stream into sink. A
// refusal to write in a read-only session is QueryError::Kind::RefusedAsWrite.
StatementOutcome execute(const QString& sql, const DatabaseConnection& connection, bool readOnly,
                         StatementControl& control, ResultSink& sink);

} // namespace MySQLClient
