#pragma once

#include "db/DatabaseConnection.h"
#include "db/QueryError.h"
#include "db/QueryResult.h"

#include <QMutex>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QString>
#include <QThread>
#include <atomic>
#include <chrono>
#include <functional>
#include <optional>

class ResultSink;
class StatementControl;
struct StatementOutcome;

// Runs SQL against a saved connection on one worker thread, one statement at a time in
// the order they were submitted, each over a fresh database connection. Completions
// arrive on the thread that made the executor (the main thread for shared()). The client
// libraries are loaded at run time; without one, the caller gets an installation hint.
//
// Reads that cannot write: a statement submitted with QueryOptions runs in a session the
// server itself keeps read-only unless QueryOptions::readOnly is off, which a caller sets
// only for a statement the user has confirmed. The overloads without QueryOptions run as
// they always have, able to write, for callers that confirm before they submit. When the
// server refuses because the statement writes, the error's kind is
// QueryError::Kind::RefusedAsWrite and its message the server's reason. Which statements
// each server's read-only mode stops, and which it does not, is listed in
// PostgreSQLClient.h and MySQLClient.h.
//
// Stopping: every submission returns a ticket; cancel(ticket) stops that statement, on
// the server too (libpq's cancel request; KILL QUERY for MySQL and MariaDB). It then
// completes at once with QueryError::Kind::Cancelled, "Query cancelled.", and nothing of
// its result, and the queue moves on. A statement still waiting in the queue completes
// the same way without running; cancelling one that has finished does nothing (a result
// that was complete when the stop came is still delivered). Exports stop the same way.
//
// Time limits: connection set-up has 10 seconds. The statement itself, from sending it to
// its last row, has statementTimeLimit() (kStatementTimeLimit, a little past the servers'
// own 60-second limits); past it, it is cancelled on the server, abandoned, and completes
// with QueryError::Kind::TimedOut, "The server did not answer within 65 seconds.".
class DatabaseExecutor final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(DatabaseExecutor)

public:
    // Identifies one submission for cancel(). Never 0; increasing in submission order.
    using Ticket = quint64;

    struct QueryOptions
    {
        // Run in a session the server keeps read-only. Off only for a statement whose
        // writes the user has confirmed.
        bool readOnly = true;
    };

    // Exactly one is present: a result, or a non-empty error sentence.
    using QueryCompletion = std::function<void(const QueryResultPtr& result, const QString& error)>;
    // Exactly one is present: a result, or an error (message non-empty) with its kind.
    using QueryOutcomeCompletion = std::function<void(const QueryResultPtr& result, const QueryError& error)>;
    using TestCompletion = std::function<void(bool ok, const QString& error)>;
    // Rows written to the file so far; about ten times a second while an export runs.
    using ExportProgress = std::function<void(quint64 rowsWritten)>;
    // Exactly one is present: the number of rows written, or an error (message non-empty).
    using ExportCompletion = std::function<void(std::optional<quint64> rowsWritten, const QueryError& error)>;

    static constexpr std::chrono::seconds kStatementTimeLimit{65};

    static DatabaseExecutor& shared();
    // An executor with its own worker; the library loader is shared by all of them.
    DatabaseExecutor();
    // Waits for the statement in progress; statements still waiting are dropped.
    ~DatabaseExecutor() override;
    // What the destructor does, for the shared executor when the application quits.
    // Statements submitted afterwards never run.
    void shutdown();

    // True for "postgresql" or "mysql" when that client library can be loaded.
    static bool isAvailableForType(const QString& type);
    // How to install the type's client library on this system.
    static QString installInstructionsForType(const QString& type);

    // The completion is dropped when context has been destroyed by the time it is due.
    Ticket executeQuery(const QString& sql, const DatabaseConnection& connection, QueryOptions options,
                        QObject* context, QueryOutcomeCompletion completion);
    // Able to write, with the error as its sentence alone.
    Ticket executeQuery(const QString& sql, const DatabaseConnection& connection, QueryCompletion completion);
    Ticket executeQuery(const QString& sql, const DatabaseConnection& connection, QObject* context,
                        QueryCompletion completion);
    // Runs "SELECT 1" over the connection, read-only.
    void testConnection(const DatabaseConnection& connection, TestCompletion completion);
    void testConnection(const DatabaseConnection& connection, QObject* context, TestCompletion completion);

    // Runs sql again, read-only, and writes its whole result (the rows the grid would show,
    // without the grid's cap) to path as CSV, in the results grid's format, streaming the
    // rows from the server into the file in bounded memory. The file is written beside
    // path under a temporary name and takes path's place only when complete: after an
    // error or cancel(), path is as it was. A statement whose outcome has no rows fails.
    // Progress and completion are dropped when context has been destroyed.
    Ticket exportCSV(const QString& sql, const DatabaseConnection& connection, const QString& path, QObject* context,
                     ExportProgress progress, ExportCompletion completion);

    // Stops the statement or export with this ticket, if it has not finished (see above).
    void cancel(Ticket ticket);

    std::chrono::seconds statementTimeLimit() const { return std::chrono::seconds(m_timeLimit.load()); }
    // Shortens the statement time limit, for tests of a server that stops answering.
    void setStatementTimeLimitForTesting(std::chrono::seconds limit) { m_timeLimit = limit.count(); }

    static bool loadPostgreSQL();
    static bool loadMySQL();
    // Worker thread only: one statement, able to write, under the default time limits.
    // Null with the sentence in *error on failure.
    static QueryResultPtr executePostgreSQL(const QString& sql, const DatabaseConnection& connection, QString* error);
    static QueryResultPtr executeMySQLQuery(const QString& sql, const DatabaseConnection& connection, QString* error);

    // Replaces where the type's client library is looked for (nullopt restores the
    // built-in list) and forgets the loaded one. Only while no statement runs.
    static void setLibrarySearchListForTesting(const QString& type, std::optional<QStringList> searchList);
    // Reads the system's identity from another file instead of /etc/os-release.
    static void setOsReleasePathForTesting(std::optional<QString> path);

private:
    using Task = std::function<void(StatementControl& control)>;

    Ticket enqueue(Task task);
    void run(Ticket ticket, const Task& task);
    // Runs sql on the connection's server into sink.
    static StatementOutcome dispatch(const QString& sql, const DatabaseConnection& connection, bool readOnly,
                                     StatementControl& control, ResultSink& sink);

    QThread m_thread;
    QObject* m_worker;
    std::atomic_bool m_closing{false};
    std::atomic<qint64> m_timeLimit{kStatementTimeLimit.count()};

    // Which tickets were issued, started and asked to stop; guarded by m_mutex.
    QMutex m_mutex;
    Ticket m_lastIssued = 0;
    Ticket m_lastStarted = 0;
    Ticket m_running = 0;
    StatementControl* m_runningControl = nullptr;
    QSet<Ticket> m_cancelledWaiting;
};
