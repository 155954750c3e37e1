#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <memory>
#include <optional>

// One cell of a result: a text, or std::nullopt for a database NULL. The null marker is
// never a string, so it cannot be confused with "NULL" or with "".
using SQLValue = std::optional<QString>;
using SQLRow = QList<SQLValue>;

// The outcome of one successful statement.
struct QueryResult
{
    // How many rows a result keeps; the rest are only counted.
    static constexpr qsizetype kMaxKeptRows = 10000;

    QStringList columnNames;  // empty for a statement that returns no rows
    QList<SQLRow> rows;       // the kept rows, in server order
    quint64 rowCount = 0;     // rows the server returned, possibly more than were kept
    double executionTime = 0; // seconds
    QString statusMessage;    // the one-line summary shown to the user
    // What the server said alongside the statement (PostgreSQL's notices, such as
    // "NOTICE:  table \"t\" does not exist, skipping"), in order, each without its line feed.
    QStringList notices;

    // "1 row (0.4ms)", "25 rows (…)", or "Showing 10000 of 25000 rows (…)".
    static QString rowsSummary(quint64 total, double seconds);
    // "OK — 3 rows affected (1.2ms)".
    static QString affectedSummary(const QString& affected, double seconds);
};

// Results are handed between threads and views without copying their rows.
using QueryResultPtr = std::shared_ptr<const QueryResult>;
