#pragma once

#include "db/DatabaseConnection.h"
#include "db/ResultSink.h"
#include "db/StatementControl.h"

#include <QStringList>
#include <optional>

// Statements against PostgreSQL through libpq, loaded at run time. Each statement opens a
// fresh connection and closes it. Everything that waits for the server goes through the
// statement's StatementControl, so the caller can stop it and no wait outlasts its limit:
// connection set-up 10 seconds, the statement its time limit.
//
// Every connection asks for UTF-8 text, and a read-only one runs with
// default_transaction_read_only on. What that stops, as verified on PostgreSQL 15: INSERT,
// UPDATE, DELETE, MERGE, TRUNCATE, COPY FROM, SELECT INTO, every CREATE, ALTER and DROP
// (temporary tables and materialized views included), COMMENT, GRANT and REVOKE, nextval()
// and setval(), EXPLAIN ANALYZE of a write, writable CTEs, and writes inside DO blocks,
// functions and prepared statements. What it does not stop: VACUUM, ANALYZE, CLUSTER and
// REINDEX, lo_create(), advisory locks, NOTIFY and LISTEN, set_config() and SET for the
// session, and a text that leaves the read-only transaction before it writes:
// "BEGIN READ WRITE; …", "START TRANSACTION READ WRITE; …", "SET transaction_read_only =
// off; …" as its first statement, or "SET default_transaction_read_only = off; COMMIT; …".
namespace PostgreSQLClient {

// True when libpq is loaded with every function used here; thread-safe.
bool load();
// Replaces the places libpq is looked for (nullopt restores them) and forgets the
// loaded library. Only while no statement runs.
void setSearchListForTesting(std::optional<QStringList> searchList);

// Runs a text of one or more statements; as with a single PQexec, the last statement's
// outcome is the result. Rows stream into sink as they arrive, and notices go to it
// instead of standard error. A refusal to write in a read-only session is
// QueryError::Kind::RefusedAsWrite.
StatementOutcome execute(const QString& sql, const DatabaseConnection& connection, bool readOnly,
                         StatementControl& control, ResultSink& sink);

} // namespace PostgreSQLClient
