#pragma once

#include "db/QueryError.h"

#include <QString>
#include <QStringList>
#include <optional>

// One value as a client library hands it over: length bytes at data, or a null data
// pointer for a database NULL. The bytes are the server's text in the connection's
// encoding (UTF-8) and stay valid only during the call they are passed to.
struct RawValue
{
    const char* data;
    qsizetype length;
};

// Receives what a statement returns while it streams in. For each result the server
// sends, the client code calls either beginRows() and then row() for each of its rows, or
// command() for a result without rows. Which result is the statement's outcome is the
// client's rule, given by its calls: the last beginRows() or command() wins.
class ResultSink
{
public:
    virtual ~ResultSink() = default;

    virtual void beginRows(const QStringList& columnNames) = 0;
    // values holds one entry per column. False stops the statement; failure() says why.
    virtual bool row(const RawValue* values) = 0;
    // A statement without rows; affected is the server's count of changed rows, as text.
    virtual void command(const QString& affected) = 0;
    // A message the server sent alongside the statement, such as a PostgreSQL notice.
    virtual void notice(const QString& text) { Q_UNUSED(text); }
    // Why row() returned false.
    virtual QString failure() const { return {}; }
};

// How a statement ended, as the client code reports it to the executor.
struct StatementOutcome
{
    std::optional<QueryError> error;
    double seconds = 0; // from sending the statement to its last result
};
