#include "db/PostgreSQLClient.h"

#include "db/ClientLibrary.h"
#include "db/LibraryText.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QScopeGuard>
#include <memory>
#include <vector>

namespace {

struct PGconn;
struct PGresult;
struct PGcancel;

// Values of libpq's enumerations.
constexpr int kConnectionOk = 0;
constexpr int kConnectionBad = 1;
constexpr int kPollingFailed = 0;
constexpr int kPollingReading = 1;
constexpr int kPollingWriting = 2;
constexpr int kPollingOk = 3;
constexpr int kCommandOk = 1;
constexpr int kTuplesOk = 2;
constexpr int kCopyOut = 3;
constexpr int kCopyIn = 4;
constexpr int kCopyBoth = 8;
constexpr int kSingleTuple = 9;
constexpr int kDiagnosticSqlState = 'C'; // PG_DIAG_SQLSTATE
// read_only_sql_transaction: the statement would write in a read-only transaction.
const QByteArray kReadOnlyTransaction = QByteArrayLiteral("25006");

constexpr std::chrono::seconds kConnectTimeLimit{10};

struct Api
{
    PGconn* (*connectStartParams)(const char* const* keywords, const char* const* values, int expandDbname);
    int (*connectPoll)(PGconn*);
    int (*status)(const PGconn*);
    char* (*errorMessage)(const PGconn*);
    int (*socket)(const PGconn*);
    int (*setNonBlocking)(PGconn*, int);
    int (*sendQuery)(PGconn*, const char*);
    int (*flush)(PGconn*);
    int (*consumeInput)(PGconn*);
    int (*isBusy)(PGconn*);
    int (*setSingleRowMode)(PGconn*); // optional: without it rows arrive whole
    PGresult* (*getResult)(PGconn*);
    int (*resultStatus)(const PGresult*);
    int (*ntuples)(const PGresult*);
    int (*nfields)(const PGresult*);
    char* (*fname)(const PGresult*, int);
    char* (*getvalue)(const PGresult*, int, int);
    int (*getlength)(const PGresult*, int, int);
    int (*getisnull)(const PGresult*, int, int);
    char* (*resultErrorMessage)(const PGresult*);
    char* (*resultErrorField)(const PGresult*, int);
    char* (*cmdTuples)(PGresult*);
    void (*clear)(PGresult*);
    void (*finish)(PGconn*);
    using NoticeProcessor = void (*)(void*, const char*);
    NoticeProcessor (*setNoticeProcessor)(PGconn*, NoticeProcessor, void*);
    PGcancel* (*getCancel)(PGconn*);
    int (*cancel)(PGcancel*, char* errorBuffer, int size);
    void (*freeCancel)(PGcancel*);
    int (*sslInUse)(PGconn*);    // optional: older libraries lack it
    int (*gssEncInUse)(PGconn*); // optional, as above
};

bool resolve(void* handle, Api& api)
{
    resolveSymbol(handle, "PQsslInUse", api.sslInUse);
    resolveSymbol(handle, "PQgssEncInUse", api.gssEncInUse);
    resolveSymbol(handle, "PQsetSingleRowMode", api.setSingleRowMode);
    return resolveSymbol(handle, "PQconnectStartParams", api.connectStartParams) &&
           resolveSymbol(handle, "PQconnectPoll", api.connectPoll) && resolveSymbol(handle, "PQstatus", api.status) &&
           resolveSymbol(handle, "PQerrorMessage", api.errorMessage) && resolveSymbol(handle, "PQsocket", api.socket) &&
           resolveSymbol(handle, "PQsetnonblocking", api.setNonBlocking) &&
           resolveSymbol(handle, "PQsendQuery", api.sendQuery) && resolveSymbol(handle, "PQflush", api.flush) &&
           resolveSymbol(handle, "PQconsumeInput", api.consumeInput) && resolveSymbol(handle, "PQisBusy", api.isBusy) &&
           resolveSymbol(handle, "PQgetResult", api.getResult) &&
           resolveSymbol(handle, "PQresultStatus", api.resultStatus) &&
           resolveSymbol(handle, "PQntuples", api.ntuples) && resolveSymbol(handle, "PQnfields", api.nfields) &&
           resolveSymbol(handle, "PQfname", api.fname) && resolveSymbol(handle, "PQgetvalue", api.getvalue) &&
           resolveSymbol(handle, "PQgetlength", api.getlength) && resolveSymbol(handle, "PQgetisnull", api.getisnull) &&
           resolveSymbol(handle, "PQresultErrorMessage", api.resultErrorMessage) &&
           resolveSymbol(handle, "PQresultErrorField", api.resultErrorField) &&
           resolveSymbol(handle, "PQcmdTuples", api.cmdTuples) && resolveSymbol(handle, "PQclear", api.clear) &&
           resolveSymbol(handle, "PQfinish", api.finish) &&
           resolveSymbol(handle, "PQsetNoticeProcessor", api.setNoticeProcessor) &&
           resolveSymbol(handle, "PQgetCancel", api.getCancel) && resolveSymbol(handle, "PQcancel", api.cancel) &&
           resolveSymbol(handle, "PQfreeCancel", api.freeCancel);
}

QStringList defaultSearchList()
{
#ifdef Q_OS_MACOS
    return {QStringLiteral("/opt/homebrew/opt/libpq/lib/libpq.dylib"),
            QStringLiteral("/usr/local/opt/libpq/lib/libpq.dylib"), QStringLiteral("/opt/homebrew/lib/libpq.dylib"),
            QStringLiteral("libpq.dylib")};
#else
    return libraryCandidates({multiarchLibraryFolder(), QStringLiteral("/usr/lib64"), QStringLiteral("/usr/lib")},
                             {QStringLiteral("libpq.so.5")},
                             {QStringLiteral("libpq.so.5"), QStringLiteral("libpq.so")});
#endif
}

ClientLibrary<Api>& library()
{
    static ClientLibrary<Api> instance(defaultSearchList(), resolve);
    return instance;
}

QString orFallback(const QString& text, const QString& fallback)
{
    return text.isEmpty() ? fallback : text;
}

QString unknownError()
{
    return QCoreApplication::translate("DatabaseExecutor", "Unknown error");
}

// Notices would otherwise go to standard error; the sink keeps them for the caller.
void receiveNotice(void* sink, const char* message)
{
    QString text = LibraryText::decode(message);
    while (text.endsWith(QLatin1Char('\n')))
        text.chop(1);
    static_cast<ResultSink*>(sink)->notice(text);
}

// The rows of one result, passed on one by one with their values as the library holds them.
class RowReader
{
public:
    RowReader(const Api& pq, ResultSink& sink) : m_pq(pq), m_sink(sink) {}

    // A result with rows begins, unless its first rows were already announced.
    void begin(const PGresult* description)
    {
        if (m_active)
            return;
        m_active = true;
        QStringList names;
        const int fields = m_pq.nfields(description);
        for (int column = 0; column < fields; ++column) {
            const char* name = m_pq.fname(description, column);
            names << (name ? LibraryText::decode(name) : QStringLiteral("?"));
        }
        m_values.resize(size_t(fields));
        m_sink.beginRows(names);
    }

    bool take(const PGresult* result)
    {
        const int rows = m_pq.ntuples(result);
        const int fields = int(m_values.size());
        for (int row = 0; row < rows; ++row) {
            for (int column = 0; column < fields; ++column) {
                if (m_pq.getisnull(result, row, column))
                    m_values[size_t(column)] = {nullptr, 0};
                else
                    m_values[size_t(column)] = {m_pq.getvalue(result, row, column),
                                                m_pq.getlength(result, row, column)};
            }
            if (!m_sink.row(m_values.data()))
                return false;
        }
        return true;
    }

    void end() { m_active = false; }

private:
    const Api& m_pq;
    ResultSink& m_sink;
    std::vector<RawValue> m_values;
    bool m_active = false;
};

QueryError stoppedError(StatementControl& control, StatementControl::Wait wait)
{
    if (wait == StatementControl::Wait::Stopped)
        return QueryError::cancelled();
    control.cancelOnServer();
    return QueryError::timedOut(control.timeLimitSeconds());
}

} // namespace

bool PostgreSQLClient::load()
{
    return library().load() != nullptr;
}

void PostgreSQLClient::setSearchListForTesting(std::optional<QStringList> searchList)
{
    library().setSearchListForTesting(std::move(searchList));
}

StatementOutcome PostgreSQLClient::execute(const QString& sql, const DatabaseConnection& connection, bool readOnly,
                                           StatementControl& control, ResultSink& sink)
{
    using Wait = StatementControl::Wait;
    const std::shared_ptr<const Api> api = library().load();
    if (!api)
        return {QueryError::failed(
            QCoreApplication::translate("DatabaseExecutor", "PostgreSQL client library not found."))};
    const Api& pq = *api;

    const QByteArray host = connection.host.toUtf8();
    const QByteArray port = QByteArray::number(connection.port);
    const QByteArray database = connection.database.toUtf8();
    const QByteArray user = connection.username.toUtf8();
    const QByteArray password = connection.password.toUtf8();
    // Text arrives in UTF-8 whatever the database stores it in, and SQL text is read as
    // UTF-8; without it libpq would take the database's own encoding for both.
    const char* const keywords[] = {"host",     "port",    "dbname",          "user",
                                    "password", "sslmode", "connect_timeout", "client_encoding",
                                    "options",  nullptr};
    const char* const values[] = {host.constData(),
                                  port.constData(),
                                  database.constData(),
                                  user.constData(),
                                  password.constData(),
                                  connection.ssl ? "require" : "prefer",
                                  "10",
                                  "UTF8",
                                  readOnly ? "-c statement_timeout=60000 -c default_transaction_read_only=on"
                                           : "-c statement_timeout=60000",
                                  nullptr};
    PGconn* conn = pq.connectStartParams(keywords, values, 0);
    if (!conn)
        return {QueryError::failed(
            QCoreApplication::translate("DatabaseExecutor", "Failed to allocate PostgreSQL connection."))};
    const auto closeConnection = qScopeGuard([&] { pq.finish(conn); });
    pq.setNoticeProcessor(conn, &receiveNotice, &sink);
    const auto connectionFailed = [&] {
        return QueryError::failed(QCoreApplication::translate("DatabaseExecutor", "Connection failed: ") +
                                  orFallback(LibraryText::decode(pq.errorMessage(conn)), unknownError()));
    };
    if (pq.status(conn) == kConnectionBad)
        return {connectionFailed()};

    // libpq's own connect_timeout holds only for its blocking calls; set-up is bounded here.
    const QDeadlineTimer connectDeadline(kConnectTimeLimit);
    for (int polling = kPollingWriting; polling != kPollingOk; polling = pq.connectPoll(conn)) {
        if (polling == kPollingFailed)
            return {connectionFailed()};
        const Wait wait =
            control.wait(pq.socket(conn), polling == kPollingReading, polling == kPollingWriting, connectDeadline);
        if (wait == Wait::Stopped)
            return {QueryError::cancelled()};
        if (wait == Wait::Expired)
            return {QueryError::failed(QCoreApplication::translate(
                "DatabaseExecutor", "Connection failed: the server did not answer within 10 seconds."))};
    }
    // sslmode=require already refuses a server without encryption; this guards against a
    // library that would still fall back to plain text. Kerberos encryption also counts.
    if (connection.ssl && pq.sslInUse && !pq.sslInUse(conn) && !(pq.gssEncInUse && pq.gssEncInUse(conn)))
        return {QueryError::failed(sslNotOfferedError())};

    // The request to stop this backend's statement stays valid after the connection is
    // gone, so it can be sent from anywhere, at any time.
    std::shared_ptr<PGcancel> cancel(pq.getCancel(conn), [api](PGcancel* request) {
        if (request)
            api->freeCancel(request);
    });
    if (cancel) {
        control.setServerCancel([api, cancel] {
            char error[256];
            api->cancel(cancel.get(), error, int(sizeof error));
        });
    }
    const auto forgetCancel = qScopeGuard([&] { control.clearServerCancel(); });
    // A stop that came before the cancel was registered found nothing to send: the
    // statement must not start.
    if (control.isStopped())
        return {QueryError::cancelled()};

    pq.setNonBlocking(conn, 1);
    control.startStatement();
    const QDeadlineTimer deadline = control.statementDeadline();
    QElapsedTimer clock;
    clock.start();
    if (!pq.sendQuery(conn, sql.toUtf8().constData()))
        return {QueryError::failed(orFallback(LibraryText::decode(pq.errorMessage(conn)), unknownError()))};
    if (pq.setSingleRowMode)
        pq.setSingleRowMode(conn);
    for (int flushed = pq.flush(conn); flushed != 0; flushed = pq.flush(conn)) {
        if (flushed < 0)
            return {QueryError::failed(orFallback(LibraryText::decode(pq.errorMessage(conn)), unknownError()))};
        bool readable = false;
        const Wait wait = control.wait(pq.socket(conn), true, true, deadline, &readable);
        if (wait != Wait::Ready)
            return {stoppedError(control, wait)};
        // The server may answer before it has read everything; its answer must not block it.
        if (readable && !pq.consumeInput(conn))
            break;
    }

    // Every statement of the text yields its rows, then one closing result; like PQexec,
    // the outcome is the text's last closing result.
    RowReader rows(pq, sink);
    PGresult* last = nullptr;
    const auto clearLast = qScopeGuard([&] {
        if (last)
            pq.clear(last);
    });
    for (;;) {
        while (pq.isBusy(conn)) {
            const Wait wait = control.wait(pq.socket(conn), true, false, deadline);
            if (wait != Wait::Ready)
                return {stoppedError(control, wait)};
            if (!pq.consumeInput(conn))
                break; // the connection failed; the next result says how
        }
        PGresult* result = pq.getResult(conn);
        if (!result)
            break;
        const int status = pq.resultStatus(result);
        bool accepted = true;
        if (status == kSingleTuple || status == kTuplesOk) {
            rows.begin(result);
            accepted = rows.take(result);
        }
        if (status == kSingleTuple) {
            pq.clear(result);
        } else {
            rows.end();
            if (status == kCommandOk)
                sink.command(orFallback(LibraryText::decode(pq.cmdTuples(result)), QStringLiteral("0")));
            if (last)
                pq.clear(last);
            last = result;
        }
        if (!accepted) {
            control.cancelOnServer();
            return {QueryError::failed(sink.failure())};
        }
        if (status == kCopyIn || status == kCopyOut || status == kCopyBoth || pq.status(conn) == kConnectionBad)
            break;
    }
    const double seconds = clock.nsecsElapsed() / 1e9;

    if (!last)
        return {QueryError::failed(orFallback(LibraryText::decode(pq.errorMessage(conn)), unknownError())), seconds};
    const int status = pq.resultStatus(last);
    if (status == kCommandOk || status == kTuplesOk)
        return {std::nullopt, seconds};
    QueryError error = QueryError::failed(orFallback(LibraryText::decode(pq.resultErrorMessage(last)),
                                                     QCoreApplication::translate("DatabaseExecutor", "Query failed.")));
    const char* state = pq.resultErrorField(last, kDiagnosticSqlState);
    if (readOnly && state && kReadOnlyTransaction == state)
        error.kind = QueryError::Kind::RefusedAsWrite;
    return {error, seconds};
}
