#include "db/PostgreSQLClient.h"

#include "db/ClientLibrary.h"
#include "db/LibraryText.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QScopeGuard>

namespace {

struct PGconn;
struct PGresult;

// Values of libpq's status enumerations.
constexpr int kConnectionOk = 0;
constexpr int kConnectionBad = 1;
constexpr int kCommandOk = 1;
constexpr int kTuplesOk = 2;
constexpr int kCopyOut = 3;
constexpr int kCopyIn = 4;
constexpr int kCopyBoth = 8;
constexpr int kSingleTuple = 9;

struct Api
{
    PGconn* (*connectdbParams)(const char* const* keywords, const char* const* values, int expandDbname);
    int (*status)(const PGconn*);
    char* (*errorMessage)(const PGconn*);
    int (*sendQuery)(PGconn*, const char*);
    int (*setSingleRowMode)(PGconn*);
    PGresult* (*getResult)(PGconn*);
    int (*resultStatus)(const PGresult*);
    int (*ntuples)(const PGresult*);
    int (*nfields)(const PGresult*);
    char* (*fname)(const PGresult*, int);
    char* (*getvalue)(const PGresult*, int, int);
    int (*getlength)(const PGresult*, int, int);
    int (*getisnull)(const PGresult*, int, int);
    char* (*resultErrorMessage)(const PGresult*);
    char* (*cmdTuples)(PGresult*);
    void (*clear)(PGresult*);
    void (*finish)(PGconn*);
    int (*sslInUse)(PGconn*);    // optional: older libraries lack it
    int (*gssEncInUse)(PGconn*); // optional, as above
};

bool resolve(void* handle, Api& api)
{
    resolveSymbol(handle, "PQsslInUse", api.sslInUse);
    resolveSymbol(handle, "PQgssEncInUse", api.gssEncInUse);
    // setSingleRowMode appeared with 9.2; without it rows still arrive whole.
    resolveSymbol(handle, "PQsetSingleRowMode", api.setSingleRowMode);
    return resolveSymbol(handle, "PQconnectdbParams", api.connectdbParams) &&
           resolveSymbol(handle, "PQstatus", api.status) && resolveSymbol(handle, "PQerrorMessage", api.errorMessage) &&
           resolveSymbol(handle, "PQsendQuery", api.sendQuery) && resolveSymbol(handle, "PQgetResult", api.getResult) &&
           resolveSymbol(handle, "PQresultStatus", api.resultStatus) &&
           resolveSymbol(handle, "PQntuples", api.ntuples) && resolveSymbol(handle, "PQnfields", api.nfields) &&
           resolveSymbol(handle, "PQfname", api.fname) && resolveSymbol(handle, "PQgetvalue", api.getvalue) &&
           resolveSymbol(handle, "PQgetlength", api.getlength) && resolveSymbol(handle, "PQgetisnull", api.getisnull) &&
           resolveSymbol(handle, "PQresultErrorMessage", api.resultErrorMessage) &&
           resolveSymbol(handle, "PQcmdTuples", api.cmdTuples) && resolveSymbol(handle, "PQclear", api.clear) &&
           resolveSymbol(handle, "PQfinish", api.finish);
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

// The rows of one statement as they stream in: the first ones converted, the rest counted.
class RowCollector
{
public:
    explicit RowCollector(const Api& pq) : m_pq(pq) {}

    void begin(const PGresult* description)
    {
        m_result = std::make_shared<QueryResult>();
        const int fields = m_pq.nfields(description);
        for (int column = 0; column < fields; ++column) {
            const char* name = m_pq.fname(description, column);
            m_result->columnNames << (name ? LibraryText::decode(name) : QStringLiteral("?"));
        }
    }

    void take(const PGresult* result)
    {
        const int rows = m_pq.ntuples(result);
        const int fields = m_pq.nfields(result);
        for (int row = 0; row < rows; ++row) {
            if (m_result->rows.size() < QueryResult::kMaxKeptRows) {
                SQLRow values;
                values.reserve(fields);
                for (int column = 0; column < fields; ++column) {
                    if (m_pq.getisnull(result, row, column))
                        values.emplace_back(std::nullopt);
                    else
                        values.emplace_back(LibraryText::decode(m_pq.getvalue(result, row, column),
                                                                m_pq.getlength(result, row, column)));
                }
                m_result->rows.append(std::move(values));
            }
            ++m_result->rowCount;
        }
    }

    std::shared_ptr<QueryResult> finish() { return std::move(m_result); }
    bool active() const { return m_result != nullptr; }

private:
    const Api& m_pq;
    std::shared_ptr<QueryResult> m_result;
};

} // namespace

bool PostgreSQLClient::load()
{
    return library().load() != nullptr;
}

void PostgreSQLClient::setSearchListForTesting(std::optional<QStringList> searchList)
{
    library().setSearchListForTesting(std::move(searchList));
}

QueryResultPtr PostgreSQLClient::execute(const QString& sql, const DatabaseConnection& connection, QString* error)
{
    const std::shared_ptr<const Api> api = library().load();
    if (!api) {
        *error = QCoreApplication::translate("DatabaseExecutor", "PostgreSQL client library not found.");
        return {};
    }
    const Api& pq = *api;

    const QByteArray host = connection.host.toUtf8();
    const QByteArray port = QByteArray::number(connection.port);
    const QByteArray database = connection.database.toUtf8();
    const QByteArray user = connection.username.toUtf8();
    const QByteArray password = connection.password.toUtf8();
    const char* const keywords[] = {"host",    "port", "dbname", "user", "password", "sslmode", "connect_timeout",
                                    "options", nullptr};
    const char* const values[] = {host.constData(),
                                  port.constData(),
                                  database.constData(),
                                  user.constData(),
                                  password.constData(),
                                  connection.ssl ? "require" : "prefer",
                                  "10",
                                  "-c statement_timeout=60000",
                                  nullptr};
    PGconn* conn = pq.connectdbParams(keywords, values, 0);
    if (!conn) {
        *error = QCoreApplication::translate("DatabaseExecutor", "Failed to allocate PostgreSQL connection.");
        return {};
    }
    const auto closeConnection = qScopeGuard([&] { pq.finish(conn); });
    const QString unknown = QCoreApplication::translate("DatabaseExecutor", "Unknown error");
    if (pq.status(conn) != kConnectionOk) {
        *error = QCoreApplication::translate("DatabaseExecutor", "Connection failed: ") +
                 orFallback(LibraryText::decode(pq.errorMessage(conn)), unknown);
        return {};
    }
    // sslmode=require already refuses a server without encryption; this guards against a
    // library that would still fall back to plain text. Kerberos encryption also counts.
    if (connection.ssl && pq.sslInUse && !pq.sslInUse(conn) && !(pq.gssEncInUse && pq.gssEncInUse(conn))) {
        *error = sslNotOfferedError();
        return {};
    }

    QElapsedTimer clock;
    clock.start();
    if (!pq.sendQuery(conn, sql.toUtf8().constData())) {
        *error = orFallback(LibraryText::decode(pq.errorMessage(conn)), unknown);
        return {};
    }
    if (pq.setSingleRowMode)
        pq.setSingleRowMode(conn);

    // Every statement of the text yields its rows, then one closing result; like PQexec,
    // the outcome is the text's last closing result. Rows of earlier statements are dropped.
    RowCollector rows(pq);
    std::shared_ptr<QueryResult> lastRows;
    PGresult* last = nullptr;
    const auto clearLast = qScopeGuard([&] {
        if (last)
            pq.clear(last);
    });
    while (PGresult* result = pq.getResult(conn)) {
        const int status = pq.resultStatus(result);
        if (status == kSingleTuple) {
            if (!rows.active())
                rows.begin(result);
            rows.take(result);
            pq.clear(result);
            continue;
        }
        if (status == kTuplesOk) {
            if (!rows.active())
                rows.begin(result);
            rows.take(result);
        }
        lastRows = rows.finish();
        if (last)
            pq.clear(last);
        last = result;
        if (status == kCopyIn || status == kCopyOut || status == kCopyBoth || pq.status(conn) == kConnectionBad)
            break;
    }
    const double seconds = clock.nsecsElapsed() / 1e9;

    if (!last) {
        *error = orFallback(LibraryText::decode(pq.errorMessage(conn)), unknown);
        return {};
    }
    switch (pq.resultStatus(last)) {
    case kCommandOk: {
        auto result = std::make_shared<QueryResult>();
        result->executionTime = seconds;
        const QString affected = orFallback(LibraryText::decode(pq.cmdTuples(last)), QStringLiteral("0"));
        result->statusMessage = QueryResult::affectedSummary(affected, seconds);
        return result;
    }
    case kTuplesOk:
        lastRows->executionTime = seconds;
        lastRows->statusMessage = QueryResult::rowsSummary(lastRows->rowCount, seconds);
        return lastRows;
    default:
        *error = orFallback(LibraryText::decode(pq.resultErrorMessage(last)),
                            QCoreApplication::translate("DatabaseExecutor", "Query failed."));
        return {};
    }
}
