#pragma once

#include "db/DatabaseConnection.h"
#include "db/QueryResult.h"

#include <QStringList>
#include <optional>

// Statements against MySQL or MariaDB through libmysqlclient or libmariadb, whichever is
// found first, loaded at run time. Each statement opens a fresh connection and closes it.
// Rows are read as they arrive: the first QueryResult::kMaxKeptRows are kept and the rest
// only counted, so a huge answer never sits whole in memory.
namespace MySQLClient {

// True when a client library is loaded with every function used here; thread-safe.
bool load();
// Replaces the places the library is looked for (nullopt restores them) and forgets
// the loaded library. Only while no statement runs.
void setSearchListForTesting(std::optional<QStringList> searchList);

// Runs one statement. Null with the sentence in *error on failure.
QueryResultPtr execute(const QString& sql, const DatabaseConnection& connection, QString* error);

} // namespace MySQLClient
