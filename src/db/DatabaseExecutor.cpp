#include "db/DatabaseExecutor.h"

#include "db/MySQLClient.h"
#include "db/PostgreSQLClient.h"

#include <QCoreApplication>
#include <QFile>
#include <QMutex>
#include <cstdlib>
#include <dlfcn.h>

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

// The client libraries encrypt through OpenSSL, which keeps random generators and an
// error queue per thread and frees them from a thread-exit hook. QThread::wait() returns
// before such hooks have run, so a process that ends right after an executor (every test,
// and the application at quit) could exit while the worker was still freeing them. The
// worker hands them back itself before it reports that it has finished.
void releaseThreadCryptoState()
{
    void* crypto = ::dlopen("libcrypto.so.3", RTLD_LAZY | RTLD_NOLOAD);
    if (!crypto)
        return;
    using ThreadStop = void (*)();
    if (auto stop = reinterpret_cast<ThreadStop>(::dlsym(crypto, "OPENSSL_thread_stop")))
        stop();
    ::dlclose(crypto);
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
    connect(&m_thread, &QThread::finished, m_worker, &releaseThreadCryptoState, Qt::DirectConnection);
    m_thread.start();
    QMetaObject::invokeMethod(m_worker, &reserveWorkerArena, Qt::QueuedConnection);
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

void DatabaseExecutor::executeQuery(const QString& sql, const DatabaseConnection& connection,
                                    QueryCompletion completion)
{
    run(sql, connection, nullptr, false, std::move(completion));
}

void DatabaseExecutor::executeQuery(const QString& sql, const DatabaseConnection& connection, QObject* context,
                                    QueryCompletion completion)
{
    run(sql, connection, context, true, std::move(completion));
}

void DatabaseExecutor::testConnection(const DatabaseConnection& connection, TestCompletion completion)
{
    testConnection(connection, this, std::move(completion));
}

void DatabaseExecutor::testConnection(const DatabaseConnection& connection, QObject* context, TestCompletion completion)
{
    QPointer<QObject> guard(context);
    executeQuery(QStringLiteral("SELECT 1"), connection, context,
                 [this, guard, completion = std::move(completion)](const QueryResultPtr& result, const QString& error) {
                     const bool ok = result != nullptr;
                     QMetaObject::invokeMethod(
                         this,
                         [guard, completion, ok, error] {
                             if (guard)
                                 completion(ok, error);
                         },
                         Qt::QueuedConnection);
                 });
}

void DatabaseExecutor::run(const QString& sql, const DatabaseConnection& connection, QPointer<QObject> context,
                           bool guarded, QueryCompletion completion)
{
    QMetaObject::invokeMethod(
        m_worker,
        [this, sql, connection, context, guarded, completion = std::move(completion)] {
            if (m_closing)
                return;
            QString error;
            QueryResultPtr result;
            if (connection.type == kPostgreSQL)
                result = executePostgreSQL(sql, connection, &error);
            else if (connection.type == kMySQL)
                result = executeMySQLQuery(sql, connection, &error);
            else
                error = unsupportedType();
            QMetaObject::invokeMethod(
                this,
                [context, guarded, completion, result, error] {
                    if (guarded && !context)
                        return;
                    completion(result, error);
                },
                Qt::QueuedConnection);
        },
        Qt::QueuedConnection);
}

bool DatabaseExecutor::loadPostgreSQL()
{
    return PostgreSQLClient::load();
}

bool DatabaseExecutor::loadMySQL()
{
    return MySQLClient::load();
}

QueryResultPtr DatabaseExecutor::executePostgreSQL(const QString& sql, const DatabaseConnection& connection,
                                                   QString* error)
{
    if (!loadPostgreSQL()) {
        *error = installInstructionsForType(kPostgreSQL);
        return {};
    }
    return PostgreSQLClient::execute(sql, connection, error);
}

QueryResultPtr DatabaseExecutor::executeMySQLQuery(const QString& sql, const DatabaseConnection& connection,
                                                   QString* error)
{
    if (!loadMySQL()) {
        *error = installInstructionsForType(kMySQL);
        return {};
    }
    return MySQLClient::execute(sql, connection, error);
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
