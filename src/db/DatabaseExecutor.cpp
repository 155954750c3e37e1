#include "db/DatabaseExecutor.h"

#include "db/CSVExportSink.h"
#include "db/DatabaseThread.h"
#include "db/MySQLClient.h"
#include "db/PostgreSQLClient.h"
#include "db/ResultCollector.h"
#include "db/ServerCancel.h"
#include "db/StatementControl.h"

#include <QCoreApplication>
#include <QFile>
#include <QMutex>
#include <cstdlib>

namespace {

const auto kPostgreSQL = QStringLiteral("postgresql");
const auto kMySQL = QStringLiteral("mysql");

QString unsupportedType()
{
    return QCoreApplication::translate("DatabaseExecutor", "Unsupported database type.");
}

struct OsRelease
{
    QMutex mutex;
    std::optional<QString> path;
};

OsRelease& osRelease()
{
    static OsRelease state;
    return state;
}

// ID first, then ID_LIKE, from an os-release file; quotes removed.
QStringList systemIdentifiers()
{
    QString path = QStringLiteral("/etc/os-release");
    {
        OsRelease& state = osRelease();
        QMutexLocker lock(&state.mutex);
        if (state.path)
            path = *state.path;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QString id;
    QString like;
    const QList<QByteArray> lines = file.readAll().split('\n');
    for (const QByteArray& line : lines) {
        const qsizetype equals = line.indexOf('=');
        if (equals < 0)
            continue;
        const QByteArray key = line.left(equals).trimmed();
        QString value = QString::fromUtf8(line.mid(equals + 1)).trimmed();
        value.remove(QLatin1Char('"')).remove(QLatin1Char('\''));
        if (key == "ID")
            id = value;
        else if (key == "ID_LIKE")
            like = value;
    }
    return (id + QLatin1Char(' ') + like).toLower().split(QLatin1Char(' '), Qt::SkipEmptyParts);
}

// The package command for the type's client library on this system.
QString installCommand(bool postgresql)
{
#ifdef Q_OS_MACOS
    return postgresql ? QStringLiteral("brew install libpq") : QStringLiteral("brew install mysql-client");
#else
    for (const QString& id : systemIdentifiers()) {
        if (id == QLatin1String("debian") || id == QLatin1String("ubuntu"))
            break;
        if (id == QLatin1String("fedora") || id == QLatin1String("rhel") || id == QLatin1String("centos"))
            return postgresql ? QStringLiteral("sudo dnf install libpq")
                              : QStringLiteral("sudo dnf install mariadb-connector-c");
        if (id == QLatin1String("arch"))
            return postgresql ? QStringLiteral("sudo pacman -S postgresql-libs")
                              : QStringLiteral("sudo pacman -S mariadb-libs");
    }
    return postgresql ? QStringLiteral("sudo apt install libpq5") : QStringLiteral("sudo apt install libmariadb3");
#endif
}

// glibc grows a thread's own malloc arena one page at a time, with a system call for
// each page, and the kept rows of a large result take thousands of pages. Growing the
// worker's arena in large steps once, before its first statement, spares the first large
// result that cost. The memory goes back to the system at once; only the arena's reach,
// which never shrinks, stays.
void reserveWorkerArena()
{
#ifdef __GLIBC__
    constexpr int kBlocks = 128;
    constexpr size_t kBlockSize = 96 * 1024; // below the size glibc serves with mmap
    void* blocks[kBlocks];
    for (void*& block : blocks) {
        block = std::malloc(kBlockSize);
        if (block) // a block that is never used could be optimised away
            static_cast<volatile char*>(block)[0] = 0;
    }
    for (void* block : blocks)
        std::free(block);
#endif
}

} // namespace

DatabaseExecutor& DatabaseExecutor::shared()
{
    // Lives until the process ends, like every store and service; its worker is joined when
    // the application quits, so no statement runs on into the process's teardown.
    static DatabaseExecutor* instance = [] {
        auto* executor = new DatabaseExecutor;
        if (QCoreApplication* application = QCoreApplication::instance())
            connect(application, &QCoreApplication::aboutToQuit, executor, &DatabaseExecutor::shutdown);
        return executor;
    }();
    return *instance;
}

DatabaseExecutor::DatabaseExecutor() : m_worker(new QObject)
{
    m_thread.setObjectName(QStringLiteral("com.mirelo.dbexecutor"));
    m_worker->moveToThread(&m_thread);
    connect(&m_thread, &QThread::finished, m_worker, &QObject::deleteLater);
    connect(&m_thread, &QThread::finished, m_worker, &DatabaseThread::releaseCryptoState, Qt::DirectConnection);
    m_thread.start();
    QMetaObject::invokeMethod(
        m_worker,
        [] {
            DatabaseThread::prepare();
            reserveWorkerArena();
        },
        Qt::QueuedConnection);
}

DatabaseExecutor::~DatabaseExecutor()
{
    shutdown();
}

void DatabaseExecutor::shutdown()
{
    // Statements already queued would otherwise still run before the thread ends.
    m_closing = true;
    m_thread.quit();
    m_thread.wait();
    // Stop requests still under way use the client libraries; a server that does not
    // answer them is not waited for long.
    ServerCancel::waitForPending(QDeadlineTimer(std::chrono::seconds(2)));
}

bool DatabaseExecutor::isAvailableForType(const QString& type)
{
    if (type == kPostgreSQL)
        return loadPostgreSQL();
    if (type == kMySQL)
        return loadMySQL();
    return false;
}

QString DatabaseExecutor::installInstructionsForType(const QString& type)
{
    if (type == kPostgreSQL)
        return tr("PostgreSQL client library not found.\n\nInstall with:\n  ") + installCommand(true);
    if (type == kMySQL)
        return tr("MySQL client library not found.\n\nInstall with:\n  ") + installCommand(false);
    return unsupportedType();
}

DatabaseExecutor::Ticket DatabaseExecutor::executeQuery(const QString& sql, const DatabaseConnection& connection,
                                                        QueryOptions options, QObject* context,
                                                        QueryOutcomeCompletion completion)
{
    QPointer<QObject> guard(context);
    return enqueue(
        [this, sql, connection, options, guard, completion = std::move(completion)](StatementControl& control) {
            ResultCollector collector;
            StatementOutcome outcome = dispatch(sql, connection, options.readOnly, control, collector);
            QueryResultPtr result;
            QueryError error;
            if (outcome.error)
                error = *outcome.error;
            else
                result = collector.finish(outcome.seconds);
            QMetaObject::invokeMethod(
                this,
                [guard, completion, result, error] {
                    if (guard)
                        completion(result, error);
                },
                Qt::QueuedConnection);
        });
}

DatabaseExecutor::Ticket DatabaseExecutor::executeQuery(const QString& sql, const DatabaseConnection& connection,
                                                        QueryCompletion completion)
{
    return executeQuery(sql, connection, this, std::move(completion));
}

DatabaseExecutor::Ticket DatabaseExecutor::executeQuery(const QString& sql, const DatabaseConnection& connection,
                                                        QObject* context, QueryCompletion completion)
{
    QueryOptions options;
    options.readOnly = false;
    return executeQuery(sql, connection, options, context,
                        [completion = std::move(completion)](const QueryResultPtr& result, const QueryError& error) {
                            completion(result, error.message);
                        });
}

void DatabaseExecutor::testConnection(const DatabaseConnection& connection, TestCompletion completion)
{
    testConnection(connection, this, std::move(completion));
}

void DatabaseExecutor::testConnection(const DatabaseConnection& connection, QObject* context, TestCompletion completion)
{
    QPointer<QObject> guard(context);
    executeQuery(
        QStringLiteral("SELECT 1"), connection, QueryOptions(), context,
        [this, guard, completion = std::move(completion)](const QueryResultPtr& result, const QueryError& error) {
            const bool ok = result != nullptr;
            QMetaObject::invokeMethod(
                this,
                [guard, completion, ok, message = error.message] {
                    if (guard)
                        completion(ok, message);
                },
                Qt::QueuedConnection);
        });
}

DatabaseExecutor::Ticket DatabaseExecutor::exportCSV(const QString& sql, const DatabaseConnection& connection,
                                                     const QString& path, QObject* context, ExportProgress progress,
                                                     ExportCompletion completion)
{
    QPointer<QObject> guard(context);
    return enqueue([this, sql, connection, path, guard, progress = std::move(progress),
                    completion = std::move(completion)](StatementControl& control) {
        const auto report = [&](std::optional<quint64> rows, const QueryError& error) {
            QMetaObject::invokeMethod(
                this,
                [guard, completion, rows, error] {
                    if (guard)
                        completion(rows, error);
                },
                Qt::QueuedConnection);
        };
        CSVExportSink sink(path, [this, guard, progress](quint64 rows) {
            if (!progress)
                return;
            QMetaObject::invokeMethod(
                this,
                [guard, progress, rows] {
                    if (guard)
                        progress(rows);
                },
                Qt::QueuedConnection);
        });
        if (const QString failure = sink.open(); !failure.isEmpty())
            return report(std::nullopt, QueryError::failed(failure));
        const StatementOutcome outcome = dispatch(sql, connection, true, control, sink);
        if (outcome.error)
            return report(std::nullopt, *outcome.error);
        if (!sink.hasRows())
            return report(std::nullopt, QueryError::failed(tr("The statement returned no rows to export.")));
        if (const QString failure = sink.commit(); !failure.isEmpty())
            return report(std::nullopt, QueryError::failed(failure));
        report(sink.rowsWritten(), {});
    });
}

void DatabaseExecutor::cancel(Ticket ticket)
{
    QMutexLocker lock(&m_mutex);
    if (ticket == 0 || ticket > m_lastIssued)
        return;
    if (ticket > m_lastStarted)
        m_cancelledWaiting.insert(ticket);
    else if (ticket == m_running && m_runningControl)
        m_runningControl->stop();
}

DatabaseExecutor::Ticket DatabaseExecutor::enqueue(Task task)
{
    // Issued and queued under one lock, so that tickets start in the order of their numbers.
    QMutexLocker lock(&m_mutex);
    const Ticket ticket = ++m_lastIssued;
    QMetaObject::invokeMethod(
        m_worker, [this, ticket, task = std::move(task)] { run(ticket, task); }, Qt::QueuedConnection);
    return ticket;
}

void DatabaseExecutor::run(Ticket ticket, const Task& task)
{
    if (m_closing)
        return;
    StatementControl control(statementTimeLimit());
    {
        QMutexLocker lock(&m_mutex);
        m_lastStarted = ticket;
        m_running = ticket;
        m_runningControl = &control;
        if (m_cancelledWaiting.remove(ticket))
            control.stop();
    }
    task(control);
    QMutexLocker lock(&m_mutex);
    m_running = 0;
    m_runningControl = nullptr;
}

StatementOutcome DatabaseExecutor::dispatch(const QString& sql, const DatabaseConnection& connection, bool readOnly,
                                            StatementControl& control, ResultSink& sink)
{
    if (control.isStopped())
        return {QueryError::cancelled()};
    StatementOutcome outcome;
    if (connection.type == kPostgreSQL) {
        outcome = loadPostgreSQL() ? PostgreSQLClient::execute(sql, connection, readOnly, control, sink)
                                   : StatementOutcome{QueryError::failed(installInstructionsForType(kPostgreSQL))};
    } else if (connection.type == kMySQL) {
        outcome = loadMySQL() ? MySQLClient::execute(sql, connection, readOnly, control, sink)
                              : StatementOutcome{QueryError::failed(installInstructionsForType(kMySQL))};
    } else {
        outcome.error = QueryError::failed(unsupportedType());
    }
    // A statement stopped while it failed on its own failed because it was stopped.
    if (outcome.error && control.isStopped())
        outcome.error = QueryError::cancelled();
    return outcome;
}

bool DatabaseExecutor::loadPostgreSQL()
{
    return PostgreSQLClient::load();
}

bool DatabaseExecutor::loadMySQL()
{
    return MySQLClient::load();
}

namespace {

QueryResultPtr runAlone(const QString& sql, const DatabaseConnection& connection, QString* error)
{
    StatementControl control(DatabaseExecutor::kStatementTimeLimit);
    ResultCollector collector;
    const StatementOutcome outcome = connection.type == kPostgreSQL
                                         ? PostgreSQLClient::execute(sql, connection, false, control, collector)
                                         : MySQLClient::execute(sql, connection, false, control, collector);
    if (outcome.error) {
        *error = outcome.error->message;
        return {};
    }
    return collector.finish(outcome.seconds);
}

} // namespace

QueryResultPtr DatabaseExecutor::executePostgreSQL(const QString& sql, const DatabaseConnection& connection,
                                                   QString* error)
{
    if (!loadPostgreSQL()) {
        *error = installInstructionsForType(kPostgreSQL);
        return {};
    }
    DatabaseConnection pg = connection;
    pg.type = kPostgreSQL;
    return runAlone(sql, pg, error);
}

QueryResultPtr DatabaseExecutor::executeMySQLQuery(const QString& sql, const DatabaseConnection& connection,
                                                   QString* error)
{
    if (!loadMySQL()) {
        *error = installInstructionsForType(kMySQL);
        return {};
    }
    DatabaseConnection my = connection;
    my.type = kMySQL;
    return runAlone(sql, my, error);
}

void DatabaseExecutor::setLibrarySearchListForTesting(const QString& type, std::optional<QStringList> searchList)
{
    if (type == kPostgreSQL)
        PostgreSQLClient::setSearchListForTesting(std::move(searchList));
    else if (type == kMySQL)
        MySQLClient::setSearchListForTesting(std::move(searchList));
}

void DatabaseExecutor::setOsReleasePathForTesting(std::optional<QString> path)
{
    OsRelease& state = osRelease();
    QMutexLocker lock(&state.mutex);
    state.path = std::move(path);
}
