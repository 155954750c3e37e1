#include "db/MySQLClient.h"

#include "db/ClientLibrary.h"
#include "db/LibraryText.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QScopeGuard>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sys/socket.h>
#include <vector>

namespace {

using Wait = StatementControl::Wait;

struct MYSQL;
struct MYSQL_RES;
using MYSQL_ROW = char**;
// Both libraries start their field description with the name.
struct FieldName
{
    char* name;
};

// Option numbers as each library's mysql.h enumerates them. The first thirteen are the
// same everywhere; libmysqlclient 8.0 dropped five options of the 5.7 enumeration, so from
// 14 on its numbers differ from 5.7's, and MariaDB Connector/C keeps the old ones and adds
// its own far above. MYSQL_OPT_SSL_MODE is 35 in libmysqlclient 8.0 and later (42 there is
// MYSQL_OPT_ZSTD_COMPRESSION_LEVEL) and was 42 in 5.7.11 to 5.7.x.
constexpr int kOptionConnectTimeout = 0;                 // MYSQL_OPT_CONNECT_TIMEOUT, unsigned int
constexpr int kOptionInitCommand = 3;                    // MYSQL_INIT_COMMAND, text
constexpr int kOptionCharsetName = 7;                    // MYSQL_SET_CHARSET_NAME, text
constexpr int kOptionProtocol = 9;                       // MYSQL_OPT_PROTOCOL, unsigned int
constexpr int kOptionReadTimeout = 11;                   // MYSQL_OPT_READ_TIMEOUT, unsigned int
constexpr int kOptionWriteTimeout = 12;                  // MYSQL_OPT_WRITE_TIMEOUT, unsigned int
constexpr int kMySQL8OptionSslMode = 35;                 // MYSQL_OPT_SSL_MODE, libmysqlclient 8.0+, unsigned int
constexpr int kMySQL57OptionSslMode = 42;                // MYSQL_OPT_SSL_MODE, libmysqlclient 5.7.11+, unsigned int
constexpr int kMariaDBOptionSslEnforce = 38;             // MYSQL_OPT_SSL_ENFORCE, Connector/C, one-byte flag
constexpr int kMariaDBOptionNonBlock = 6000;             // MYSQL_OPT_NONBLOCK, Connector/C, stack size or null
constexpr unsigned long kMySQL8ClientVersion = 80000;    // mysql_get_client_version() of 8.0.0
constexpr unsigned int kProtocolTcp = 1;                 // MYSQL_PROTOCOL_TCP
constexpr unsigned int kSslModeRequired = 3;             // SSL_MODE_REQUIRED
constexpr unsigned long kClientSsl = 2048;               // CLIENT_SSL, also in the server's greeting
constexpr unsigned long kClientMultiResults = 131072;    // CLIENT_MULTI_RESULTS: CALL returns several results
constexpr unsigned int kErrorReadOnlyTransaction = 1792; // ER_CANT_EXECUTE_IN_READ_ONLY_TRANSACTION
// What a non-blocking call of Connector/C waits for.
constexpr int kWaitRead = 1;
constexpr int kWaitWrite = 2;
constexpr int kWaitExcept = 4;
constexpr int kWaitTimeout = 8;

constexpr unsigned int kConnectTimeoutSeconds = 10;
constexpr unsigned int kTransferTimeoutSeconds = 60;
constexpr std::chrono::seconds kConnectTimeLimit{kConnectTimeoutSeconds};
// A KILL QUERY for a statement that is being abandoned: set-up, then the KILL itself.
constexpr std::chrono::seconds kKillTimeLimit{10};

struct Api
{
    bool mariadb = false;
    bool nonBlocking = false; // Connector/C's non-blocking interface is there
    unsigned long clientVersion = 0;
    MYSQL* (*init)(MYSQL*);
    int (*options)(MYSQL*, int option, const void* value); // optional
    MYSQL* (*realConnect)(MYSQL*, const char* host, const char* user, const char* password, const char* database,
                          unsigned int port, const char* socket, unsigned long flags);
    const char* (*sslCipher)(MYSQL*);
    int (*realQuery)(MYSQL*, const char*, unsigned long);
    MYSQL_RES* (*useResult)(MYSQL*);
    unsigned int (*numFields)(MYSQL_RES*);
    MYSQL_ROW (*fetchRow)(MYSQL_RES*);
    unsigned long* (*fetchLengths)(MYSQL_RES*);               // optional
    FieldName* (*fetchFieldDirect)(MYSQL_RES*, unsigned int); // optional
    unsigned long long (*affectedRows)(MYSQL*);               // optional
    int (*nextResult)(MYSQL*);
    unsigned long (*threadId)(MYSQL*);
    void (*freeResult)(MYSQL_RES*);
    void (*close)(MYSQL*);
    const char* (*error)(MYSQL*); // optional
    unsigned int (*errorNumber)(MYSQL*);
    void (*threadEnd)(); // optional
    // Connector/C's non-blocking interface.
    int (*realConnectStart)(MYSQL** result, MYSQL*, const char* host, const char* user, const char* password,
                            const char* database, unsigned int port, const char* socket, unsigned long flags);
    int (*realConnectCont)(MYSQL** result, MYSQL*, int events);
    int (*realQueryStart)(int* result, MYSQL*, const char*, unsigned long);
    int (*realQueryCont)(int* result, MYSQL*, int events);
    int (*fetchRowStart)(MYSQL_ROW* result, MYSQL_RES*);
    int (*fetchRowCont)(MYSQL_ROW* result, MYSQL_RES*, int events);
    int (*nextResultStart)(int* result, MYSQL*);
    int (*nextResultCont)(int* result, MYSQL*, int events);
    int (*socket)(const MYSQL*);
    int (*cancel)(MYSQL*);
};

bool resolve(void* handle, Api& api)
{
    api.mariadb = resolveSymbol(handle, "mariadb_cancel", api.cancel);
    resolveSymbol(handle, "mysql_options", api.options);
    resolveSymbol(handle, "mysql_fetch_lengths", api.fetchLengths);
    resolveSymbol(handle, "mysql_fetch_field_direct", api.fetchFieldDirect);
    resolveSymbol(handle, "mysql_affected_rows", api.affectedRows);
    resolveSymbol(handle, "mysql_error", api.error);
    resolveSymbol(handle, "mysql_thread_end", api.threadEnd);
    unsigned long (*clientVersion)() = nullptr;
    if (resolveSymbol(handle, "mysql_get_client_version", clientVersion))
        api.clientVersion = clientVersion();
    api.nonBlocking = api.mariadb && api.options && resolveSymbol(handle, "mysql_get_socket", api.socket) &&
                      resolveSymbol(handle, "mysql_real_connect_start", api.realConnectStart) &&
                      resolveSymbol(handle, "mysql_real_connect_cont", api.realConnectCont) &&
                      resolveSymbol(handle, "mysql_real_query_start", api.realQueryStart) &&
                      resolveSymbol(handle, "mysql_real_query_cont", api.realQueryCont) &&
                      resolveSymbol(handle, "mysql_fetch_row_start", api.fetchRowStart) &&
                      resolveSymbol(handle, "mysql_fetch_row_cont", api.fetchRowCont) &&
                      resolveSymbol(handle, "mysql_next_result_start", api.nextResultStart) &&
                      resolveSymbol(handle, "mysql_next_result_cont", api.nextResultCont);
    // The error number is what tells a stream cut short by an error from a complete one.
    const bool complete =
        resolveSymbol(handle, "mysql_init", api.init) && resolveSymbol(handle, "mysql_real_connect", api.realConnect) &&
        resolveSymbol(handle, "mysql_get_ssl_cipher", api.sslCipher) &&
        resolveSymbol(handle, "mysql_real_query", api.realQuery) &&
        resolveSymbol(handle, "mysql_use_result", api.useResult) &&
        resolveSymbol(handle, "mysql_num_fields", api.numFields) &&
        resolveSymbol(handle, "mysql_fetch_row", api.fetchRow) &&
        resolveSymbol(handle, "mysql_next_result", api.nextResult) &&
        resolveSymbol(handle, "mysql_thread_id", api.threadId) &&
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

// One connection's handle and the control its waits go through.
struct Link
{
    const Api& my;
    MYSQL* handle;
    StatementControl& control;
    bool nonBlocking;
};

// Leaves a non-blocking call the library is in the middle of: the connection is shut
// down, so that the call fails as soon as it is resumed, and it is resumed to its end.
template <typename Resume> void abandonCall(const Link& link, int status, Resume resume)
{
    link.my.cancel(link.handle);
    for (int round = 0; status != 0 && round < 100; ++round)
        status = resume(kWaitTimeout);
}

// Drives a started non-blocking call to its end; resume continues it with the events that
// occurred and returns what it waits for next (0 when it is done). Anything but Ready
// means the call was abandoned.
template <typename Resume> Wait drive(const Link& link, int status, QDeadlineTimer deadline, Resume resume)
{
    while (status != 0) {
        bool readable = false;
        bool writable = false;
        const Wait wait = link.control.wait(link.my.socket(link.handle), status & (kWaitRead | kWaitExcept),
                                            status & kWaitWrite, deadline, &readable, &writable);
        if (wait != Wait::Ready) {
            abandonCall(link, status, resume);
            return wait;
        }
        status = resume((readable ? kWaitRead : 0) | (writable ? kWaitWrite : 0));
    }
    return Wait::Ready;
}

Wait realQuery(const Link& link, const QByteArray& text, QDeadlineTimer deadline, int* result)
{
    const Api& my = link.my;
    if (!link.nonBlocking) {
        *result = my.realQuery(link.handle, text.constData(), static_cast<unsigned long>(text.size()));
        return Wait::Ready;
    }
    return drive(link,
                 my.realQueryStart(result, link.handle, text.constData(), static_cast<unsigned long>(text.size())),
                 deadline, [&](int events) { return my.realQueryCont(result, link.handle, events); });
}

Wait fetchRow(const Link& link, MYSQL_RES* rows, QDeadlineTimer deadline, MYSQL_ROW* row)
{
    const Api& my = link.my;
    if (!link.nonBlocking) {
        *row = my.fetchRow(rows);
        return Wait::Ready;
    }
    return drive(link, my.fetchRowStart(row, rows), deadline,
                 [&](int events) { return my.fetchRowCont(row, rows, events); });
}

Wait nextResult(const Link& link, QDeadlineTimer deadline, int* result)
{
    const Api& my = link.my;
    if (!link.nonBlocking) {
        *result = my.nextResult(link.handle);
        return Wait::Ready;
    }
    return drive(link, my.nextResultStart(result, link.handle), deadline,
                 [&](int events) { return my.nextResultCont(result, link.handle, events); });
}

enum class Greeting {
    OffersTls,
    WithoutTls,
    Other, // not a greeting the library has still to read: its own reading reports it
};

// Reads the capability flags of the server's greeting while it still waits, unread, in the
// socket's queue. Stops early (Other, with *wait set) when the statement is stopped or
// the deadline passes.
Greeting peekGreeting(int fd, StatementControl& control, QDeadlineTimer deadline, Wait* wait)
{
    unsigned char buffer[1024];
    int lowWater = 1;
    const auto restoreLowWater = qScopeGuard([&] {
        if (lowWater != 1) {
            lowWater = 1;
            ::setsockopt(fd, SOL_SOCKET, SO_RCVLOWAT, &lowWater, sizeof lowWater);
        }
    });
    for (;;) {
        const ssize_t received = ::recv(fd, buffer, sizeof buffer, MSG_PEEK | MSG_DONTWAIT);
        if (received == 0)
            return Greeting::Other;
        if (received < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
            return Greeting::Other;
        const qsizetype size = std::max<qsizetype>(received, 0);
        // A packet: three bytes of length, a sequence number, then the greeting itself:
        // protocol version 10, the server's version up to a zero byte, a four-byte thread
        // id, eight bytes of challenge, a filler byte, then the low capability flags.
        qsizetype need = 5;
        if (size >= 5) {
            const qsizetype payload = buffer[0] | buffer[1] << 8 | buffer[2] << 16;
            if (buffer[3] != 0 || buffer[4] == 0xff)
                return Greeting::Other; // already read by the library, or the server's refusal
            if (buffer[4] != 10)
                return Greeting::WithoutTls; // older handshakes have no TLS
            const unsigned char* versionEnd = std::find(buffer + 5, buffer + size, 0);
            if (versionEnd == buffer + size) {
                if (size == qsizetype(sizeof buffer))
                    return Greeting::WithoutTls;
                need = size + 1;
            } else {
                const qsizetype flags = (versionEnd - buffer) + 1 + 4 + 8 + 1;
                if (flags + 2 > 4 + payload)
                    return Greeting::WithoutTls; // a greeting too short to offer anything
                if (size >= flags + 2)
                    return (buffer[flags] | buffer[flags + 1] << 8) & kClientSsl ? Greeting::OffersTls
                                                                                 : Greeting::WithoutTls;
                need = flags + 2;
            }
        }
        // Woken only once the rest has arrived, not for every piece of it.
        lowWater = int(need);
        ::setsockopt(fd, SOL_SOCKET, SO_RCVLOWAT, &lowWater, sizeof lowWater);
        *wait = control.wait(fd, true, false, deadline);
        if (*wait != Wait::Ready)
            return Greeting::Other;
    }
}

// Sets the options every connection uses; a failure that would lower its protection is
// returned as the sentence to report.
std::optional<QString> setOptions(const Link& link, bool ssl, bool readOnly)
{
    const Api& my = link.my;
    const QString cannotRequireSsl = QCoreApplication::translate(
        "DatabaseExecutor", "Connection failed: the MySQL client library cannot require SSL.");
    if (!my.options)
        return ssl ? std::optional(cannotRequireSsl) : std::nullopt;
    const unsigned int connectTimeout = kConnectTimeoutSeconds;
    const unsigned int transferTimeout = kTransferTimeoutSeconds;
    const unsigned int protocol = kProtocolTcp;
    my.options(link.handle, kOptionConnectTimeout, &connectTimeout);
    my.options(link.handle, kOptionReadTimeout, &transferTimeout);
    my.options(link.handle, kOptionWriteTimeout, &transferTimeout);
    // Records name a host and a port: "localhost" would otherwise mean the local socket and
    // silently reach whatever server owns it, whatever the port.
    my.options(link.handle, kOptionProtocol, &protocol);
    my.options(link.handle, kOptionCharsetName, "utf8mb4");
    if (readOnly)
        my.options(link.handle, kOptionInitCommand, "SET SESSION TRANSACTION READ ONLY");
    if (!ssl)
        return std::nullopt;
    if (my.mariadb) {
        // Switches TLS on, but falls back to plain text when the server has none; the
        // greeting is checked before the login for that.
        const char enforce = 1;
        return my.options(link.handle, kMariaDBOptionSslEnforce, &enforce) == 0 ? std::nullopt
                                                                                : std::optional(cannotRequireSsl);
    }
    // Refuses a server without TLS before the login.
    const int option = my.clientVersion >= kMySQL8ClientVersion ? kMySQL8OptionSslMode : kMySQL57OptionSslMode;
    return my.options(link.handle, option, &kSslModeRequired) == 0 ? std::nullopt : std::optional(cannotRequireSsl);
}

// Connects link's handle. With ssl on, no login leaves unencrypted: libmysqlclient refuses
// by itself; with libmariadb the server's greeting is read before the library answers it,
// and the connection is dropped unanswered when it offers no TLS. The cipher check after
// the login is the second line.
std::optional<QueryError> connect(const Link& link, const DatabaseConnection& connection, bool readOnly)
{
    const Api& my = link.my;
    if (const std::optional<QString> failure = setOptions(link, connection.ssl, readOnly))
        return QueryError::failed(*failure);

    const QByteArray host = connection.host.toUtf8();
    const QByteArray user = connection.username.toUtf8();
    const QByteArray password = connection.password.toUtf8();
    const QByteArray database = connection.database.toUtf8();
    const auto port = static_cast<unsigned int>(connection.port);
    // libmariadb negotiates TLS from its option alone; the capability flag without it
    // leaves the handshake waiting for the read time-out.
    const unsigned long flags = kClientMultiResults | (connection.ssl && !my.mariadb ? kClientSsl : 0);
    MYSQL* connected = nullptr;
    bool expired = false;
    if (!link.nonBlocking) {
        connected = my.realConnect(link.handle, host.constData(), user.constData(), password.constData(),
                                   database.constData(), port, nullptr, flags);
    } else {
        const auto resume = [&](int events) { return my.realConnectCont(&connected, link.handle, events); };
        const QDeadlineTimer deadline(kConnectTimeLimit);
        bool greetingChecked = !connection.ssl;
        int status = my.realConnectStart(&connected, link.handle, host.constData(), user.constData(),
                                         password.constData(), database.constData(), port, nullptr, flags);
        while (status != 0) {
            bool readable = false;
            bool writable = false;
            const int fd = my.socket(link.handle);
            Wait wait = link.control.wait(fd, status & (kWaitRead | kWaitExcept), status & kWaitWrite, deadline,
                                          &readable, &writable);
            if (wait == Wait::Ready && !greetingChecked) {
                greetingChecked = true;
                if (peekGreeting(fd, link.control, deadline, &wait) == Greeting::WithoutTls) {
                    abandonCall(link, status, resume);
                    return QueryError::failed(sslNotOfferedError());
                }
            }
            if (wait != Wait::Ready) {
                abandonCall(link, status, resume);
                if (wait == Wait::Stopped)
                    return QueryError::cancelled();
                expired = true; // set-up past its limit: the library's own message says so
                break;
            }
            status = resume((readable ? kWaitRead : 0) | (writable ? kWaitWrite : 0));
        }
    }
    if (!connected)
        return QueryError::failed(
            QCoreApplication::translate("DatabaseExecutor", "Connection failed: ") +
            errorText(my, link.handle,
                      expired ? QCoreApplication::translate("DatabaseExecutor",
                                                            "the server did not answer within 10 seconds.")
                              : QCoreApplication::translate("DatabaseExecutor", "Unknown error")));
    if (connection.ssl) {
        const char* cipher = my.sslCipher(link.handle);
        if (!cipher || !*cipher)
            return QueryError::failed(sslNotOfferedError());
    }
    return std::nullopt;
}

// Opens a second connection and stops the statement of the connection with threadId.
void killQuery(const std::shared_ptr<const Api>& api, const DatabaseConnection& connection, unsigned long threadId)
{
    const Api& my = *api;
    StatementControl control(kKillTimeLimit);
    if (MYSQL* handle = my.init(nullptr)) {
        const Link link{my, handle, control,
                        my.nonBlocking && my.options(handle, kMariaDBOptionNonBlock, nullptr) == 0};
        if (!connect(link, connection, false)) {
            control.startStatement();
            int result = 0;
            realQuery(link, "KILL QUERY " + QByteArray::number(qulonglong(threadId)), control.statementDeadline(),
                      &result);
        }
        my.close(handle);
    }
    if (my.threadEnd)
        my.threadEnd();
}

QStringList columnNames(const Api& my, MYSQL_RES* rows)
{
    QStringList names;
    const unsigned int fields = my.numFields(rows);
    for (unsigned int column = 0; column < fields; ++column) {
        const FieldName* field = my.fetchFieldDirect ? my.fetchFieldDirect(rows, column) : nullptr;
        names << (field && field->name ? LibraryText::decode(field->name)
                                       : QStringLiteral("column_%1").arg(column + 1));
    }
    return names;
}

QueryError stoppedError(StatementControl& control, Wait wait)
{
    if (wait == Wait::Stopped)
        return QueryError::cancelled();
    control.cancelOnServer();
    return QueryError::timedOut(control.timeLimitSeconds());
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

StatementOutcome MySQLClient::execute(const QString& sql, const DatabaseConnection& connection, bool readOnly,
                                      StatementControl& control, ResultSink& sink)
{
    const std::shared_ptr<const Api> api = library().load();
    if (!api)
        return {QueryError::failed(QCoreApplication::translate("DatabaseExecutor", "MySQL client library not found."))};
    const Api& my = *api;

    MYSQL* handle = my.init(nullptr);
    if (!handle)
        return {
            QueryError::failed(QCoreApplication::translate("DatabaseExecutor", "Failed to initialize MySQL client."))};
    const auto closeConnection = qScopeGuard([&] { my.close(handle); });
    const Link link{my, handle, control, my.nonBlocking && my.options(handle, kMariaDBOptionNonBlock, nullptr) == 0};
    if (std::optional<QueryError> failure = connect(link, connection, readOnly))
        return {*failure};

    const unsigned long threadId = my.threadId(handle);
    control.setServerCancel([api, connection, threadId] { killQuery(api, connection, threadId); });
    const auto forgetCancel = qScopeGuard([&] { control.clearServerCancel(); });
    // A stop that came before the cancel was registered found nothing to send: the
    // statement must not start.
    if (control.isStopped())
        return {QueryError::cancelled()};

    control.startStatement();
    const QDeadlineTimer deadline = control.statementDeadline();
    QElapsedTimer clock;
    clock.start();
    const auto serverError = [&] {
        if (control.isStopped()) // a blocking library meets the KILL as an error of its own
            return QueryError::cancelled();
        QueryError error =
            QueryError::failed(errorText(my, handle, QCoreApplication::translate("DatabaseExecutor", "Query failed")));
        if (readOnly && my.errorNumber(handle) == kErrorReadOnlyTransaction)
            error.kind = QueryError::Kind::RefusedAsWrite;
        return error;
    };

    int failed = 0;
    Wait wait = realQuery(link, sql.toUtf8(), deadline, &failed);
    if (wait != Wait::Ready)
        return {stoppedError(control, wait)};
    if (failed != 0)
        return {serverError(), clock.nsecsElapsed() / 1e9};

    // A procedure returns each of its result sets and then its own status; an error ends
    // the sequence and is the statement's error.
    bool sawColumns = false;
    std::vector<RawValue> values;
    for (;;) {
        if (MYSQL_RES* rows = my.useResult(handle)) {
            // Freeing reads whatever rows are left; every early return below first shuts the
            // connection, so that those reads fail at once.
            const auto freeRows = qScopeGuard([&] { my.freeResult(rows); });
            sawColumns = true;
            const QStringList names = columnNames(my, rows);
            values.resize(size_t(names.size()));
            sink.beginRows(names);
            for (;;) {
                MYSQL_ROW row = nullptr;
                wait = fetchRow(link, rows, deadline, &row);
                if (wait != Wait::Ready)
                    return {stoppedError(control, wait)};
                if (!row)
                    break;
                const unsigned long* lengths = my.fetchLengths ? my.fetchLengths(rows) : nullptr;
                for (size_t column = 0; column < values.size(); ++column) {
                    const char* data = row[column];
                    values[column] = {data, !data ? 0 : lengths ? qsizetype(lengths[column]) : qsizetype(strlen(data))};
                }
                if (!sink.row(values.data())) {
                    control.cancelOnServer();
                    if (my.cancel)
                        my.cancel(handle);
                    return {QueryError::failed(sink.failure())};
                }
            }
            // Rows read one by one end early, without an error of their own, when the
            // server reports an error mid-stream; only the error number tells.
            if (my.errorNumber(handle) != 0)
                return {serverError(), clock.nsecsElapsed() / 1e9};
        } else if (my.errorNumber(handle) != 0) {
            return {serverError(), clock.nsecsElapsed() / 1e9};
        } else if (!sawColumns) {
            sink.command(QString::number(my.affectedRows ? my.affectedRows(handle) : 0));
        }
        int more = 0;
        wait = nextResult(link, deadline, &more);
        if (wait != Wait::Ready)
            return {stoppedError(control, wait)};
        if (more < 0)
            break;
        if (more > 0)
            return {serverError(), clock.nsecsElapsed() / 1e9};
    }
    return {std::nullopt, clock.nsecsElapsed() / 1e9};
}
