#pragma once

#include "db/DatabaseConnection.h"
#include "db/QueryResult.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QThread>
#include <atomic>
#include <functional>
#include <optional>

// Runs SQL against a saved connection on one worker thread, one statement at a time in
// the order they were submitted, each over a fresh database connection. Completions
// arrive on the thread that made the executor (the main thread for shared()). The client
// libraries are loaded at run time; without one, the caller gets an installation hint.
class DatabaseExecutor final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(DatabaseExecutor)

public:
    // Exactly one is present: a result, or a non-empty error sentence.
    using QueryCompletion = std::function<void(const QueryResultPtr& result, const QString& error)>;
    using TestCompletion = std::function<void(bool ok, const QString& error)>;

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

    void executeQuery(const QString& sql, const DatabaseConnection& connection, QueryCompletion completion);
    // The completion is dropped when context has been destroyed by the time it is due.
    void executeQuery(const QString& sql, const DatabaseConnection& connection, QObject* context,
                      QueryCompletion completion);
    // Runs "SELECT 1" over the connection.
    void testConnection(const DatabaseConnection& connection, TestCompletion completion);
    void testConnection(const DatabaseConnection& connection, QObject* context, TestCompletion completion);

    static bool loadPostgreSQL();
    static bool loadMySQL();
    // Worker thread only. Null with the sentence in *error on failure.
    static QueryResultPtr executePostgreSQL(const QString& sql, const DatabaseConnection& connection, QString* error);
    static QueryResultPtr executeMySQLQuery(const QString& sql, const DatabaseConnection& connection, QString* error);

    // Replaces where the type's client library is looked for (nullopt restores the
    // built-in list) and forgets the loaded one. Only while no statement runs.
    static void setLibrarySearchListForTesting(const QString& type, std::optional<QStringList> searchList);
    // Reads the system's identity from another file instead of /etc/os-release.
    static void setOsReleasePathForTesting(std::optional<QString> path);

private:
    void run(const QString& sql, const DatabaseConnection& connection, QPointer<QObject> context, bool guarded,
             QueryCompletion completion);

    QThread m_thread;
    QObject* m_worker;
    std::atomic_bool m_closing{false};
};
