#pragma once

#include <QString>

// Why a statement or an export gave no result: a kind the caller can act on, and the
// sentence to show.
struct QueryError
{
    enum class Kind {
        // The connection or the statement failed; message is the library's or the server's text.
        Failed,
        // The session was read-only and the server refused because the statement writes;
        // message is the server's reason. Running it again with readOnly off would write.
        RefusedAsWrite,
        // Stopped through DatabaseExecutor::cancel(); message is "Query cancelled.".
        Cancelled,
        // The server did not answer within the statement's time limit; the statement was
        // cancelled on the server and abandoned.
        TimedOut,
    };

    Kind kind = Kind::Failed;
    QString message;

    static QueryError failed(const QString& message) { return {Kind::Failed, message}; }
    static QueryError cancelled();
    static QueryError timedOut(int seconds);
};
