#include "db/MySQLClient.h"

#include "db/ClientLibrary.h"
#include "db/LibraryText.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QScopeGuard>

namespace {

struct MYSQL;
struct MYSQL_RES;
using MYSQL_ROW = char**;
// Both libraries start their field description with the name.
struct FieldName
{
    char* name;
};

// The two libraries number their options differently; each gets its own.
struct Options
{
    int connectTimeout;
    int readTimeout;
    int writeTimeout;
    int ssl;
};
// MySQL's libmysqlclient: SSL mode "required" (3) refuses a server without TLS.
constexpr Options kMySQLOptions{0, 11, 12, 42};
constexpr unsigned int kSslModeRequired = 3;
// MariaDB Connector/C: "enforce TLS" switches TLS on; it is a one-byte flag.
constexpr Options kMariaDBOptions{0, 11, 12, 38};
constexpr unsigned long kClientSsl = 2048;

struct Api
{
    bool mariadb = false;
    MYSQL* (*init)(MYSQL*);
    int (*options)(MYSQL*, int option, const void* value); // optional
    MYSQL* (*realConnect)(MYSQL*, const char* host, const char* user, const char* password, const char* database,
                          unsigned int port, const char* socket, unsigned long flags);
    const char* (*sslCipher)(MYSQL*);
    int (*query)(MYSQL*, const char*);
    MYSQL_RES* (*useResult)(MYSQL*);
    unsigned int (*numFields)(MYSQL_RES*);
    MYSQL_ROW (*fetchRow)(MYSQL_RES*);
    unsigned long* (*fetchLengths)(MYSQL_RES*);               // optional
    FieldName* (*fetchFieldDirect)(MYSQL_RES*, unsigned int); // optional
    unsigned long long (*affectedRows)(MYSQL*);               // optional
    void (*freeResult)(MYSQL_RES*);
    void (*close)(MYSQL*);
    const char* (*error)(MYSQL*); // optional
    unsigned int (*errorNumber)(MYSQL*);
};

bool resolve(void* handle, Api& api)
{
    void* cancel = nullptr;
    api.mariadb = resolveSymbol(handle, "mariadb_cancel", cancel);
    resolveSymbol(handle, "mysql_options", api.options);
    resolveSymbol(handle, "mysql_fetch_lengths", api.fetchLengths);
    resolveSymbol(handle, "mysql_fetch_field_direct", api.fetchFieldDirect);
    resolveSymbol(handle, "mysql_affected_rows", api.affectedRows);
    resolveSymbol(handle, "mysql_error", api.error);
    // The error number is what tells a stream cut short by an error from a complete one.
    const bool complete =
        resolveSymbol(handle, "mysql_init", api.init) && resolveSymbol(handle, "mysql_real_connect", api.realConnect) &&
        resolveSymbol(handle, "mysql_get_ssl_cipher", api.sslCipher) &&
        resolveSymbol(handle, "mysql_query", api.query) && resolveSymbol(handle, "mysql_use_result", api.useResult) &&
        resolveSymbol(handle, "mysql_num_fields", api.numFields) &&
        resolveSymbol(handle, "mysql_fetch_row", api.fetchRow) &&
        resolveSymbol(handle, "mysql_free_result", api.freeResult) && resolveSymbol(handle, "mysql_close", api.close) &&
        resolveSymbol(handle, "mysql_errno", api.errorNumber);
    if (!complete)
        return false;
    // Done once here, under the loader's lock: mysql_init would otherwise do it on first
    // use, which is not safe if two threads get there at once.
    int (*libraryInit)(int, char**, char**) = nullptr;
    if (resolveSymbol(handle, "mysql_server_init", libraryInit) && libraryInit(0, nullptr, nullptr) != 0)
        return false;
    return true;
}

QStringList defaultSearchList()
{
#ifdef Q_OS_MACOS
    return {QStringLiteral("/opt/homebrew/opt/mysql-client/lib/libmysqlclient.dylib"),
            QStringLiteral("/usr/local/opt/mysql-client/lib/libmysqlclient.dylib"),
            QStringLiteral("/opt/homebrew/opt/mariadb/lib/libmariadb.dylib"),
            QStringLiteral("/usr/local/opt/mariadb/lib/libmariadb.dylib"), QStringLiteral("libmysqlclient.dylib")};
#else
    return libraryCandidates({multiarchLibraryFolder(), QStringLiteral("/usr/lib64/mysql"),
                              QStringLiteral("/usr/lib64"), QStringLiteral("/usr/lib")},
                             {QStringLiteral("libmysqlclient.so.21"), QStringLiteral("libmariadb.so.3")},
                             {QStringLiteral("libmysqlclient.so.21"), QStringLiteral("libmariadb.so.3"),
                              QStringLiteral("libmysqlclient.so"), QStringLiteral("libmariadb.so")});
#endif
}

ClientLibrary<Api>& library()
{
    static ClientLibrary<Api> instance(defaultSearchList(), resolve);
    return instance;
}

QString errorText(const Api& my, MYSQL* handle, const QString& fallback)
{
    const QString text = my.error ? LibraryText::decode(my.error(handle)) : QString();
    return text.isEmpty() ? fallback : text;
}

void setOptions(const Api& my, MYSQL* handle, bool ssl)
{
    if (!my.options)
        return;
    const Options& numbers = my.mariadb ? kMariaDBOptions : kMySQLOptions;
    const unsigned int connectTimeout = 10;
    const unsigned int transferTimeout = 60;
    my.options(handle, numbers.connectTimeout, &connectTimeout);
    my.options(handle, numbers.readTimeout, &transferTimeout);
    my.options(handle, numbers.writeTimeout, &transferTimeout);
    if (!ssl)
        return;
    if (my.mariadb) {
        const char enforce = 1;
        my.options(handle, numbers.ssl, &enforce);
    } else {
        my.options(handle, numbers.ssl, &kSslModeRequired);
    }
}

} // namespace

bool MySQLClient::load()
{
    return library().load() != nullptr;
}

void MySQLClient::setSearchListForTesting(std::optional<QStringList> searchList)
{
    library().setSearchListForTesting(std::move(searchList));
}

QueryResultPtr MySQLClient::execute(const QString& sql, const DatabaseConnection& connection, QString* error)
{
    const std::shared_ptr<const Api> api = library().load();
    if (!api) {
        *error = QCoreApplication::translate("DatabaseExecutor", "MySQL client library not found.");
        return {};
    }
    const Api& my = *api;

    MYSQL* handle = my.init(nullptr);
    if (!handle) {
        *error = QCoreApplication::translate("DatabaseExecutor", "Failed to initialize MySQL client.");
        return {};
    }
    const auto closeConnection = qScopeGuard([&] { my.close(handle); });
    setOptions(my, handle, connection.ssl);

    // libmariadb negotiates TLS from its option alone; the capability flag without it
    // leaves the handshake waiting for the read time-out.
    const unsigned long flags = connection.ssl && !my.mariadb ? kClientSsl : 0;
    const QString unknown = QCoreApplication::translate("DatabaseExecutor", "Unknown error");
    if (!my.realConnect(handle, connection.host.toUtf8().constData(), connection.username.toUtf8().constData(),
                        connection.password.toUtf8().constData(), connection.database.toUtf8().constData(),
                        static_cast<unsigned int>(connection.port), nullptr, flags)) {
        *error =
            QCoreApplication::translate("DatabaseExecutor", "Connection failed: ") + errorText(my, handle, unknown);
        return {};
    }
    // libmariadb falls back to plain text when the server has no TLS; never let that pass
    // for an encrypted connection.
    if (connection.ssl) {
        const char* cipher = my.sslCipher(handle);
        if (!cipher || !*cipher) {
            *error = sslNotOfferedError();
            return {};
        }
    }

    QElapsedTimer clock;
    clock.start();
    if (my.query(handle, sql.toUtf8().constData()) != 0) {
        *error = errorText(my, handle, QCoreApplication::translate("DatabaseExecutor", "Query failed"));
        return {};
    }

    auto result = std::make_shared<QueryResult>();
    MYSQL_RES* rows = my.useResult(handle);
    if (!rows) {
        if (my.errorNumber(handle) != 0) {
            *error = errorText(my, handle, QCoreApplication::translate("DatabaseExecutor", "Query failed"));
            return {};
        }
        const unsigned long long affected = my.affectedRows ? my.affectedRows(handle) : 0;
        result->executionTime = clock.nsecsElapsed() / 1e9;
        result->statusMessage = QueryResult::affectedSummary(QString::number(affected), result->executionTime);
        return result;
    }
    const auto freeRows = qScopeGuard([&] { my.freeResult(rows); });

    const unsigned int fields = my.numFields(rows);
    for (unsigned int column = 0; column < fields; ++column) {
        const FieldName* field = my.fetchFieldDirect ? my.fetchFieldDirect(rows, column) : nullptr;
        result->columnNames << (field && field->name ? LibraryText::decode(field->name)
                                                     : QStringLiteral("column_%1").arg(column + 1));
    }
    while (MYSQL_ROW row = my.fetchRow(rows)) {
        ++result->rowCount;
        if (result->rows.size() >= QueryResult::kMaxKeptRows)
            continue;
        const unsigned long* lengths = my.fetchLengths ? my.fetchLengths(rows) : nullptr;
        SQLRow values;
        values.reserve(fields);
        for (unsigned int column = 0; column < fields; ++column) {
            if (!row[column])
                values.emplace_back(std::nullopt);
            else if (lengths)
                values.emplace_back(LibraryText::decode(row[column], qsizetype(lengths[column])));
            else
                values.emplace_back(LibraryText::decode(row[column]));
        }
        result->rows.append(std::move(values));
    }
    result->executionTime = clock.nsecsElapsed() / 1e9;
    // Rows read one by one end early, without an error of their own, when the server
    // reports an error mid-stream; only the error number tells.
    if (my.errorNumber(handle) != 0) {
        *error = errorText(my, handle, QCoreApplication::translate("DatabaseExecutor", "Query failed"));
        return {};
    }
    result->statusMessage = QueryResult::rowsSummary(result->rowCount, result->executionTime);
    return result;
}
