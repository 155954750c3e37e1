#include "HandshakeServer.h"
#include "db/CSVFormat.h"
#include "db/DatabaseExecutor.h"
#include "db/ServerCancel.h"
#include "db/StatementControl.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QTest>
#include <csignal>
#include <memory>
#include <thread>
#include <unistd.h>

using namespace Qt::Literals::StringLiterals;

// One suite over both servers that scripts/lib/dbservers.sh starts. Objects the tests
// create carry the process id, so that test programs running side by side never meet.
namespace {

const auto kPostgreSQL = u"postgresql"_s;
const auto kMySQL = u"mysql"_s;

// A connection to one of the test servers, or nullopt when they were not started. A change
// to it: "ssl" on, the "plain server" without TLS, "ssl, plain server", "wrong password", "port 1",
// "localhost" as the host name, "latin2 database".
std::optional<DatabaseConnection> serverConnection(const QString& type, const QString& change = {})
{
    const QString prefix = type == kPostgreSQL ? u"MIRELO_TEST_PG_"_s : u"MIRELO_TEST_MYSQL_"_s;
    const auto env = [&](const char* name) { return qEnvironmentVariable((prefix + QLatin1String(name)).toLatin1()); };
    if (env("PORT").isEmpty())
        return std::nullopt;
    DatabaseConnection c;
    c.type = type;
    c.host = change == u"localhost" ? u"localhost"_s : env("HOST");
    // Nothing listens on port 1 of the loopback address.
    c.port = change == u"port 1" ? 1 : env(change.endsWith(u"plain server") ? "PLAIN_PORT" : "PORT").toLongLong();
    c.database = env(change == u"latin2 database" ? "LATIN2_DATABASE" : "DATABASE");
    c.username = env("USER");
    c.password = change == u"wrong password" ? u"wrong"_s : env("PASSWORD");
    c.ssl = change.startsWith(u"ssl");
    return c;
}

// Under scripts/test the servers must be there; run by hand, their absence skips.
#define REQUIRE_SERVER(var, type, change)                                                                              \
    const std::optional<DatabaseConnection> var##Found = serverConnection(type, change);                               \
    if (!var##Found) {                                                                                                 \
        if (qEnvironmentVariableIsSet("MIRELO_TEST_DB_REQUIRED"))                                                      \
            QFAIL("The database servers' MIRELO_TEST_* variables are missing.");                                       \
        QSKIP("No test database servers: run scripts/test, or source scripts/lib/dbservers.sh and mirelo_db_start.");  \
    }                                                                                                                  \
    const DatabaseConnection var = *var##Found

struct Outcome
{
    bool done = false;
    bool onMainThread = false;
    QueryResultPtr result;
    QString error;
    QueryError::Kind kind = QueryError::Kind::Failed;
    DatabaseExecutor::Ticket ticket = 0;
};

enum class Access { ReadOnly, ReadWrite };

// Through the call with QueryOptions; ReadWrite is what a confirmed statement gets.
std::shared_ptr<Outcome> submit(DatabaseExecutor& executor, const QString& sql, const DatabaseConnection& c,
                                Access access = Access::ReadWrite)
{
    auto outcome = std::make_shared<Outcome>();
    DatabaseExecutor::QueryOptions options;
    options.readOnly = access == Access::ReadOnly;
    outcome->ticket = executor.executeQuery(
        sql, c, options, &executor, [outcome](const QueryResultPtr& result, const QueryError& error) {
            const DatabaseExecutor::Ticket ticket = outcome->ticket;
            *outcome = {true,       QThread::currentThread() == QCoreApplication::instance()->thread(),
                        result,     error.message,
                        error.kind, ticket};
        });
    return outcome;
}

std::shared_ptr<Outcome> run(DatabaseExecutor& executor, const QString& sql, const DatabaseConnection& c,
                             Access access = Access::ReadWrite)
{
    auto outcome = submit(executor, sql, c, access);
    (void)QTest::qWaitFor([&] { return outcome->done; }, 90000);
    return outcome;
}

// The first value of the first row, "∅" for NULL, or the error.
QString firstValue(DatabaseExecutor& executor, const QString& sql, const DatabaseConnection& c)
{
    const auto outcome = run(executor, sql, c);
    if (!outcome->result)
        return outcome->error;
    if (outcome->result->rows.isEmpty())
        return u"no rows"_s;
    return outcome->result->rows.first().value(0).value_or(u"∅"_s);
}

struct Export
{
    bool done = false;
    std::optional<quint64> rows;
    QueryError error;
    QList<quint64> progress;
    DatabaseExecutor::Ticket ticket = 0;
};

std::shared_ptr<Export> startExport(DatabaseExecutor& executor, const QString& sql, const DatabaseConnection& c,
                                    const QString& path)
{
    auto state = std::make_shared<Export>();
    state->ticket = executor.exportCSV(
        sql, c, path, &executor, [state](quint64 rows) { state->progress << rows; },
        [state](std::optional<quint64> rows, const QueryError& error) {
            state->done = true;
            state->rows = rows;
            state->error = error;
        });
    return state;
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("absent");
}

// The grid's CSV of a result's kept rows, through the same field rule.
QByteArray csvOf(const QueryResult& result)
{
    QByteArray csv;
    for (qsizetype i = 0; i < result.columnNames.size(); ++i) {
        if (i > 0)
            csv += ',';
        CSVFormat::appendField(csv, result.columnNames[i].toUtf8());
    }
    csv += '\n';
    for (const SQLRow& row : result.rows) {
        for (qsizetype i = 0; i < row.size(); ++i) {
            if (i > 0)
                csv += ',';
            if (row[i])
                CSVFormat::appendField(csv, row[i]->toUtf8());
        }
        csv += '\n';
    }
    return csv;
}

// Standard error, captured while a function runs.
template <typename Function> QByteArray standardErrorOf(Function function)
{
    QTemporaryFile capture;
    if (!capture.open())
        return "could not capture";
    std::fflush(stderr);
    const int saved = ::dup(STDERR_FILENO);
    ::dup2(capture.handle(), STDERR_FILENO);
    function();
    std::fflush(stderr);
    ::dup2(saved, STDERR_FILENO);
    ::close(saved);
    capture.seek(0);
    return capture.readAll();
}

const QString kSuffix = QString::number(QCoreApplication::applicationPid());

QString suffixed(const char* sql)
{
    const QString text = QString::fromUtf8(sql);
    return text.contains(u"%1"_s) ? text.arg(kSuffix) : text;
}

// Text as an SQL string literal's content.
QString quoted(QString text)
{
    return text.replace(u'\'', u"''"_s);
}

// The result on one line: columns | first … last kept row | kept of counted | summary.
// Text is quoted and the null marker shows as ∅, so that NULL, '' and 'NULL' all differ.
QString describe(const QueryResult& r)
{
    const auto cells = [](const SQLRow& row) {
        QStringList texts;
        for (const SQLValue& value : row)
            texts << (value ? u'\'' + *value + u'\'' : u"∅"_s);
        return texts.join(u',');
    };
    QStringList parts{r.columnNames.join(u',')};
    if (!r.rows.isEmpty())
        parts << cells(r.rows.first()) + (r.rows.size() > 1 ? u" … "_s + cells(r.rows.last()) : QString());
    parts << u"%1 of %2"_s.arg(r.rows.size()).arg(r.rowCount) << r.statusMessage;
    return parts.join(u" | "_s);
}

QString milliseconds(const QueryResult& result)
{
    return u" (%1ms)"_s.arg(result.executionTime * 1000, 0, 'f', 1);
}

void bothServers()
{
    QTest::addColumn<QString>("type");
    QTest::newRow("postgresql") << kPostgreSQL;
    QTest::newRow("mysql") << kMySQL;
}

} // namespace

class TestDatabaseExecutor : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void statements_data();
    void statements();
    void statementsRunInOrder_data() { bothServers(); }
    void statementsRunInOrder();
    void missingLibrary_data() { bothServers(); }
    void missingLibrary();
    void installInstructions_data();
    void installInstructions();
    void completions();
    void textKeepsItsCharacters_data();
    void textKeepsItsCharacters();
    void noticesAreCollected_data();
    void noticesAreCollected();
    void noLoginBeforeEncryption_data();
    void noLoginBeforeEncryption();
    void readOnlySessions_data();
    void readOnlySessions();
    void readsRunReadOnly_data();
    void readsRunReadOnly();
    void cancel_data() { bothServers(); }
    void cancel();
    void stopAsksTheServerFirst();
    void frozenServer_data() { bothServers(); }
    void frozenServer();
    void exportWholeResult_data() { bothServers(); }
    void exportWholeResult();
    void exportProgressAndCancel_data() { bothServers(); }
    void exportProgressAndCancel();
    void exportFailures_data();
    void exportFailures();

private:
    DatabaseExecutor m_executor;
    // Looks at the servers while m_executor is busy.
    DatabaseExecutor m_observer;
};

void TestDatabaseExecutor::initTestCase()
{
    if (const auto c = serverConnection(kMySQL)) {
        const QStringList setup{
            // Fails its row 5000 with an error raised while rows are streaming.
            u"CREATE FUNCTION fail_at_%1(n BIGINT) RETURNS BIGINT DETERMINISTIC BEGIN IF n = 5000 "
            "THEN SIGNAL SQLSTATE '22012' SET MESSAGE_TEXT = 'Division by zero'; END IF; RETURN n; END"_s,
            u"CREATE TABLE procedure_log_%1 (n INT)"_s,
            // Procedures that return several results, and one that fails after a row and a write.
            u"CREATE PROCEDURE row_write_fail_%1() BEGIN SELECT 1 AS a; INSERT INTO procedure_log_%1 VALUES (1); "
            "SIGNAL SQLSTATE '45000' SET MESSAGE_TEXT = 'The procedure failed'; END"_s,
            u"CREATE PROCEDURE two_selects_%1() BEGIN SELECT 1 AS first; SELECT 2 AS second, NULL AS c; END"_s,
            u"CREATE PROCEDURE select_then_write_%1() BEGIN SELECT 'x' AS v; "
            "INSERT INTO procedure_log_%1 VALUES (2); END"_s,
            u"CREATE PROCEDURE write_only_%1() BEGIN INSERT INTO procedure_log_%1 VALUES (3); END"_s,
        };
        for (const QString& sql : setup) {
            const auto created = run(m_executor, sql.arg(kSuffix), *c);
            QVERIFY2(created->result, qPrintable(created->error));
        }
    }
}

void TestDatabaseExecutor::cleanupTestCase()
{
    if (const auto c = serverConnection(kMySQL)) {
        for (const char* sql :
             {"DROP FUNCTION IF EXISTS fail_at_%1", "DROP PROCEDURE IF EXISTS row_write_fail_%1",
              "DROP PROCEDURE IF EXISTS two_selects_%1", "DROP PROCEDURE IF EXISTS select_then_write_%1",
              "DROP PROCEDURE IF EXISTS write_only_%1", "DROP TABLE IF EXISTS procedure_log_%1"})
            run(m_executor, suffixed(sql), *c);
    }
}

void TestDatabaseExecutor::statements_data()
{
    QTest::addColumn<QString>("type");
    QTest::addColumn<QString>("change"); // see serverConnection()
    QTest::addColumn<QString>("sql");
    QTest::addColumn<QString>("expected"); // describe() without the time, or a pattern for the whole error

    for (const QString& type : {kPostgreSQL, kMySQL}) {
        const bool pg = type == kPostgreSQL;
        const auto row = [&](const char* name, const QString& sql, const QString& expected, const char* change = "") {
            QTest::addRow("%s: %s", qPrintable(type), name) << type << change << sql << expected;
        };
        const QString series =
            pg ? u"SELECT g AS n FROM generate_series(1, %1) AS g"_s : u"SELECT seq AS n FROM seq_1_to_%1"_s;
        row("select 1", u"SELECT 1"_s, (pg ? u"?column?"_s : u"1"_s) + u" | '1' | 1 of 1 | 1 row"_s);
        row("no rows", pg ? u"SELECT 1 AS a WHERE false"_s : u"SELECT 1 AS a FROM DUAL WHERE 1 = 0"_s,
            u"a | 0 of 0 | 0 rows"_s);
        row("exactly 10000 rows", series.arg(10000), u"n | '1' … '10000' | 10000 of 10000 | 10000 rows"_s);
        row("25000 rows", series.arg(25000), u"n | '1' … '10000' | 10000 of 25000 | Showing 10000 of 25000 rows"_s);
        row("null, empty and the text NULL", u"SELECT NULL AS a, '' AS b, 'NULL' AS c"_s,
            u"a,b,c | ∅,'','NULL' | 1 of 1 | 1 row"_s);
        // The server sends these bytes as Latin-1, which is not valid UTF-8.
        row("latin-1 value",
            pg ? u"SET client_encoding TO 'LATIN1'; SELECT 'café' AS v"_s : u"SELECT X'636166E9' AS v"_s,
            u"v | 'café' | 1 of 1 | 1 row"_s);
        row("utf-8 value", u"SELECT 'Grüße – ✓ Ωμέγα' AS v"_s, u"v | 'Grüße – ✓ Ωμέγα' | 1 of 1 | 1 row"_s);
        // The server itself says whether the session it serves is encrypted.
        const QString encrypted = pg ? u"SELECT ssl::int AS e FROM pg_stat_ssl WHERE pid = pg_backend_pid()"_s
                                     : u"SELECT VARIABLE_VALUE <> '' AS e FROM information_schema.SESSION_STATUS "
                                       "WHERE VARIABLE_NAME = 'Ssl_cipher'"_s;
        row("ssl on, server with TLS", encrypted, u"e | '1' | 1 of 1 | 1 row"_s, "ssl");
        row("ssl off, server without TLS", encrypted, u"e | '0' | 1 of 1 | 1 row"_s, "plain server");
        row("ssl on, server without TLS", u"SELECT 1"_s,
            pg ? u"Connection failed: .*server does not support SSL, but SSL was required\n"_s
               : u"Connection failed: the server does not offer SSL, but this connection requires it\\."_s,
            "ssl, plain server");
        row("wrong password", u"SELECT 1"_s,
            pg ? u"Connection failed: .*FATAL:  password authentication failed for user \"mirelo\"\n"_s
               : u"Connection failed: Access denied for user 'mirelo'@'[^']+' \\(using password: YES\\)"_s,
            "wrong password");
        row("unreachable port", u"SELECT 1"_s,
            pg ? u"Connection failed: .*port 1 failed: Connection refused\n.*"_s
               : u"Connection failed: Can't connect to .*127.0.0.1.*"_s,
            "port 1");
        // The error comes after thousands of rows have already been sent.
        row("error mid-stream",
            pg ? u"SELECT 1 / (g - 5000) FROM generate_series(1, 10000) AS g"_s
               : u"SELECT fail_at_%1(seq) FROM seq_1_to_10000"_s.arg(kSuffix),
            pg ? u"ERROR:  division by zero\n"_s : u"Division by zero"_s);
    }
    QTest::newRow("postgresql: last of several statements")
        << kPostgreSQL << QString() << u"SELECT g FROM generate_series(1, 20000) AS g; SELECT 2 AS b, NULL AS c"_s
        << u"b,c | '2',∅ | 1 of 1 | 1 row"_s;
    QTest::newRow("postgresql: syntax error")
        << kPostgreSQL << QString() << u"SELEC 1"_s
        << u"ERROR:  syntax error at or near \"SELEC\"\nLINE 1: SELEC 1\n        \\^\n"_s;
    QTest::newRow("mysql: several statements are not accepted")
        << kMySQL << QString() << u"SELECT 1; SELECT 2"_s << u"You have an error in your SQL syntax; .*"_s;
    // The host name "localhost" goes over TCP to the record's port, not to the local socket.
    QTest::newRow("mysql: localhost") << kMySQL << u"localhost"_s << u"SELECT 1 AS a"_s
                                      << u"a | '1' | 1 of 1 | 1 row"_s;
    // Every result of a procedure is read: the first error is the statement's, else the
    // last result with columns is shown.
    QTest::newRow("mysql: procedure fails after a row")
        << kMySQL << QString() << suffixed("CALL row_write_fail_%1()") << u"The procedure failed"_s;
    QTest::newRow("mysql: procedure with two selects")
        << kMySQL << QString() << suffixed("CALL two_selects_%1()") << u"second,c | '2',∅ | 1 of 1 | 1 row"_s;
    QTest::newRow("mysql: procedure selects, then writes")
        << kMySQL << QString() << suffixed("CALL select_then_write_%1()") << u"v | 'x' | 1 of 1 | 1 row"_s;
    QTest::newRow("mysql: procedure only writes")
        << kMySQL << QString() << suffixed("CALL write_only_%1()") << u" | 0 of 0 | OK — 1 rows affected"_s;
}

void TestDatabaseExecutor::statements()
{
    QFETCH(QString, type);
    QFETCH(QString, change);
    QFETCH(QString, sql);
    QFETCH(QString, expected);
    REQUIRE_SERVER(c, type, change);
    const auto outcome = run(m_executor, sql, c);
    if (outcome->result) {
        QVERIFY(outcome->error.isEmpty() && outcome->result->executionTime > 0);
        QCOMPARE(describe(*outcome->result), expected + milliseconds(*outcome->result));
    } else {
        const QRegularExpression pattern(QRegularExpression::anchoredPattern(expected),
                                         QRegularExpression::DotMatchesEverythingOption);
        QVERIFY2(pattern.match(outcome->error).hasMatch(), qPrintable(outcome->error));
    }
}

// Submitted all at once; each statement depends on the one before it.
void TestDatabaseExecutor::statementsRunInOrder()
{
    QFETCH(QString, type);
    REQUIRE_SERVER(c, type, QString());
    const QList<std::pair<QString, QString>> steps{
        {u"CREATE TABLE %1 (id INTEGER, v VARCHAR(10))"_s, u"OK — 0 rows affected"_s},
        {u"INSERT INTO %1 VALUES (1, 'a'), (2, 'b'), (3, 'c'), (4, 'd')"_s, u"OK — 4 rows affected"_s},
        {u"UPDATE %1 SET v = 'z' WHERE id <= 3"_s, u"OK — 3 rows affected"_s},
        {u"SELECT v FROM %1 ORDER BY id"_s, u"v | 'z' … 'd' | 4 of 4 | 4 rows"_s},
        {u"DROP TABLE %1"_s, u"OK — 0 rows affected"_s},
    };
    QList<std::shared_ptr<Outcome>> outcomes;
    for (const auto& step : steps)
        outcomes << submit(m_executor, step.first.arg(u"executor_order_"_s + kSuffix), c);
    QVERIFY(QTest::qWaitFor([&] { return outcomes.last()->done; }, 90000));
    for (qsizetype i = 0; i < outcomes.size(); ++i) {
        const Outcome& o = *outcomes[i];
        QVERIFY2(o.result && o.onMainThread, qPrintable(steps[i].first + u": "_s + o.error));
        QCOMPARE(o.result->columnNames.isEmpty() ? o.result->statusMessage : describe(*o.result),
                 steps[i].second + milliseconds(*o.result));
    }
}

void TestDatabaseExecutor::missingLibrary()
{
    QFETCH(QString, type);
    REQUIRE_SERVER(c, type, QString());
    const auto restore = qScopeGuard([&] { DatabaseExecutor::setLibrarySearchListForTesting(type, std::nullopt); });
    DatabaseExecutor::setLibrarySearchListForTesting(type, QStringList{u"/nonexistent/libclient.so"_s});
    QVERIFY(!DatabaseExecutor::isAvailableForType(type));
    const auto missing = run(m_executor, u"SELECT 1"_s, c);
    QVERIFY(!missing->result);
    QCOMPARE(missing->error, DatabaseExecutor::installInstructionsForType(type));

    // A library that opens but lacks the client functions does not count.
    DatabaseExecutor::setLibrarySearchListForTesting(type, QStringList{u"libm.so.6"_s});
    QVERIFY(!DatabaseExecutor::isAvailableForType(type));

    // Restoring the search list is enough: no restart.
    DatabaseExecutor::setLibrarySearchListForTesting(type, std::nullopt);
    const auto found = run(m_executor, u"SELECT 1"_s, c);
    QVERIFY2(found->result, qPrintable(found->error));
}

void TestDatabaseExecutor::installInstructions_data()
{
    QTest::addColumn<QByteArray>("osRelease"); // empty: no file
    QTest::addColumn<QString>("commands");     // PostgreSQL's and MySQL's, split by |

    const auto apt = u"sudo apt install libpq5|sudo apt install libmariadb3"_s;
    QTest::newRow("mint") << QByteArray("ID=linuxmint\nID_LIKE=\"ubuntu debian\"\n") << apt;
    QTest::newRow("rocky") << QByteArray("ID=\"rocky\"\nID_LIKE=\"rhel centos fedora\"\n")
                           << u"sudo dnf install libpq|sudo dnf install mariadb-connector-c"_s;
    QTest::newRow("arch") << QByteArray("NAME=\"Arch Linux\"\nID=arch\n")
                          << u"sudo pacman -S postgresql-libs|sudo pacman -S mariadb-libs"_s;
    QTest::newRow("unknown system") << QByteArray("ID=gentoo\n") << apt;
    QTest::newRow("no os-release") << QByteArray() << apt;
}

void TestDatabaseExecutor::installInstructions()
{
    QFETCH(QByteArray, osRelease);
    QFETCH(QString, commands);
    QTemporaryDir dir;
    QFile file(dir.filePath(u"os-release"_s));
    QVERIFY(osRelease.isEmpty() || (file.open(QIODevice::WriteOnly) && file.write(osRelease) && file.flush()));
    DatabaseExecutor::setOsReleasePathForTesting(file.fileName());
    const auto restore = qScopeGuard([] { DatabaseExecutor::setOsReleasePathForTesting(std::nullopt); });
    QCOMPARE(DatabaseExecutor::installInstructionsForType(kPostgreSQL) + u'|' +
                 DatabaseExecutor::installInstructionsForType(kMySQL),
             u"PostgreSQL client library not found.\n\nInstall with:\n  %1|"
             "MySQL client library not found.\n\nInstall with:\n  %2"_s.arg(commands.section(u'|', 0, 0),
                                                                            commands.section(u'|', 1)));
}

void TestDatabaseExecutor::completions()
{
    DatabaseConnection sqlite;
    sqlite.type = u"sqlite"_s;
    const auto unsupported = run(m_executor, u"SELECT 1"_s, sqlite);
    QVERIFY(unsupported->onMainThread && !unsupported->result);
    QCOMPARE(unsupported->error, u"Unsupported database type."_s);

    REQUIRE_SERVER(c, kPostgreSQL, QString());
    auto heard = std::make_shared<int>(0); // completions that should never come
    const auto count = [heard](const QueryResultPtr&, const QString&) { ++*heard; };
    // A caller that is gone by the time its statement ends hears nothing.
    auto context = std::make_unique<QObject>();
    m_executor.executeQuery(u"SELECT pg_sleep(0.2)"_s, c, context.get(), count);
    context.reset();
    QVERIFY(run(m_executor, u"SELECT 1"_s, c)->result);
    QCOMPARE(*heard, 0);

    // Testing a connection: "ok" without an error, or the connection failure.
    auto tested = std::make_shared<QStringList>();
    for (const QString& change : {u""_s, u"wrong password"_s})
        m_executor.testConnection(*serverConnection(kPostgreSQL, change), [tested](bool ok, const QString& error) {
            *tested << (ok ? u"ok"_s + error : error.left(19));
        });
    QVERIFY(QTest::qWaitFor([&] { return tested->size() == 2; }, 90000));
    QCOMPARE(*tested, (QStringList{u"ok"_s, u"Connection failed: "_s}));

    // An executor going away waits for the statement it is running and drops the rest.
    const QString table = u"executor_dropped_"_s + kSuffix;
    {
        DatabaseExecutor executor;
        executor.executeQuery(u"SELECT pg_sleep(0.3)"_s, c, count);
        executor.executeQuery(u"CREATE TABLE %1 (id INTEGER)"_s.arg(table), c, count);
        // Going away while the first statement runs on the server.
        QVERIFY(QTest::qWaitFor(
            [&] {
                const auto active =
                    run(m_executor, u"SELECT count(*) FROM pg_stat_activity WHERE query = 'SELECT pg_sleep(0.3)'"_s, c);
                return active->result && active->result->rows.value(0).value(0) == u"1"_s;
            },
            10000));
    }
    const auto created = run(m_executor, u"SELECT to_regclass('%1')"_s.arg(table), c);
    QCOMPARE(*heard, 0);
    QVERIFY2(created->result && !created->result->rows.first().first(),
             "a statement queued behind the executor's end still ran");
}

// Text goes in as UTF-8 bytes the server converts itself, so that it is stored right
// whatever the connection asks for; the literal in the filter and the value shown must
// then match it exactly.
void TestDatabaseExecutor::textKeepsItsCharacters_data()
{
    QTest::addColumn<QString>("type");
    QTest::addColumn<QString>("change");
    QTest::addColumn<QString>("table");
    QTest::addColumn<QString>("text");
    QTest::newRow("postgresql: LATIN2 database")
        << kPostgreSQL << u"latin2 database"_s << u"CREATE TABLE text_%1 (name text)"_s << u"Łódź"_s;
    QTest::newRow("postgresql: outside the BMP")
        << kPostgreSQL << QString() << u"CREATE TABLE text_%1 (name text)"_s << u"🐘 Łódź"_s;
    QTest::newRow("mysql: latin1 table") << kMySQL << QString()
                                         << u"CREATE TABLE text_%1 (name VARCHAR(40)) CHARACTER SET latin1"_s
                                         << u"Grüße, café"_s;
    QTest::newRow("mysql: outside the BMP")
        << kMySQL << QString() << u"CREATE TABLE text_%1 (name VARCHAR(40)) CHARACTER SET utf8mb4"_s << u"🐘 Łódź"_s;
}

void TestDatabaseExecutor::textKeepsItsCharacters()
{
    QFETCH(QString, type);
    QFETCH(QString, change);
    QFETCH(QString, table);
    QFETCH(QString, text);
    REQUIRE_SERVER(c, type, change);
    const bool pg = type == kPostgreSQL;
    const QString hex = QString::fromLatin1(text.toUtf8().toHex());
    const QString name = u"text_"_s + kSuffix;
    const auto drop = qScopeGuard([&] { run(m_executor, u"DROP TABLE IF EXISTS "_s + name, c); });
    for (const QString& sql :
         {table.arg(kSuffix), pg ? u"INSERT INTO %1 VALUES (convert_from('\\x%2'::bytea, 'UTF8'))"_s.arg(name, hex)
                                 : u"INSERT INTO %1 VALUES (CONVERT(X'%2' USING utf8mb4))"_s.arg(name, hex)}) {
        const auto done = run(m_executor, sql, c);
        QVERIFY2(done->result, qPrintable(done->error));
    }
    const auto found = run(
        m_executor,
        u"SELECT name, (SELECT count(*) FROM %1 WHERE name = '%2') AS n FROM %1 WHERE name = '%2'"_s.arg(name, text), c,
        Access::ReadOnly);
    QVERIFY2(found->result, qPrintable(found->error));
    QCOMPARE(describe(*found->result),
             u"name,n | '%1','1' | 1 of 1 | 1 row"_s.arg(text) + milliseconds(*found->result));
}

void TestDatabaseExecutor::noticesAreCollected_data()
{
    QTest::addColumn<QString>("sql");
    QTest::addColumn<bool>("readOnly");
    QTest::addColumn<QStringList>("notices");
    QTest::newRow("dropping what is not there")
        << suffixed("DROP TABLE IF EXISTS no_such_table_%1") << false
        << QStringList{suffixed("NOTICE:  table \"no_such_table_%1\" does not exist, skipping")};
    QTest::newRow("raised in a read-only session")
        << u"DO $$BEGIN RAISE NOTICE 'first'; RAISE NOTICE 'second, with ''quotes'''; END$$"_s << true
        << QStringList{u"NOTICE:  first"_s, u"NOTICE:  second, with 'quotes'"_s};
}

void TestDatabaseExecutor::noticesAreCollected()
{
    QFETCH(QString, sql);
    QFETCH(bool, readOnly);
    QFETCH(QStringList, notices);
    REQUIRE_SERVER(c, kPostgreSQL, QString());
    std::shared_ptr<Outcome> outcome;
    const QByteArray printed =
        standardErrorOf([&] { outcome = run(m_executor, sql, c, readOnly ? Access::ReadOnly : Access::ReadWrite); });
    QVERIFY2(outcome->result, qPrintable(outcome->error));
    QCOMPARE(outcome->result->notices, notices);
    QCOMPARE(printed, QByteArray());
}

// A server on loopback that never encrypts records what the client sends it.
void TestDatabaseExecutor::noLoginBeforeEncryption_data()
{
    QTest::addColumn<QString>("type");
    QTest::addColumn<bool>("ssl");
    QTest::addColumn<bool>("serverOffersTls");
    QTest::addColumn<QString>("received");
    QTest::newRow("mysql: ssl on, no TLS offered") << kMySQL << true << false << u"nothing"_s;
    QTest::newRow("mysql: ssl on, TLS offered") << kMySQL << true << true << u"request for TLS"_s;
    QTest::newRow("mysql: ssl off") << kMySQL << false << false << u"login of mirelo_probe"_s;
    QTest::newRow("postgresql: ssl on, no TLS offered") << kPostgreSQL << true << false << u"nothing"_s;
    QTest::newRow("postgresql: ssl off") << kPostgreSQL << false << false << u"login of mirelo_probe"_s;
}

void TestDatabaseExecutor::noLoginBeforeEncryption()
{
    QFETCH(QString, type);
    QFETCH(bool, ssl);
    QFETCH(bool, serverOffersTls);
    QFETCH(QString, received);
    if (!DatabaseExecutor::isAvailableForType(type))
        QSKIP("The client library is not installed.");
    const bool pg = type == kPostgreSQL;
    HandshakeServer server(pg ? HandshakeServer::Protocol::PostgreSQL : HandshakeServer::Protocol::MySQL,
                           serverOffersTls);
    QVERIFY(server.port() != 0);
    DatabaseConnection c;
    c.type = type;
    c.host = u"127.0.0.1"_s;
    c.port = server.port();
    c.username = u"mirelo_probe"_s;
    c.password = u"secret"_s;
    c.database = u"probe"_s;
    c.ssl = ssl;
    const auto outcome = run(m_executor, u"SELECT 1"_s, c);
    QVERIFY(!outcome->result);
    if (ssl && !serverOffersTls) {
        QVERIFY2(outcome->error.startsWith(u"Connection failed: "_s), qPrintable(outcome->error));
        if (!pg)
            QCOMPARE(outcome->error,
                     u"Connection failed: the server does not offer SSL, but this connection requires it."_s);
    }

    const QByteArray packet = server.firstPacket();
    QString seen = u"something else"_s;
    if (packet.isEmpty())
        seen = u"nothing"_s;
    else if (!pg && packet.size() == 4 + 32 && (uchar(packet[5]) & 0x08)) // CLIENT_SSL in a bare 32-byte request
        seen = u"request for TLS"_s;
    else if (packet.contains(pg ? QByteArray("user\0mirelo_probe\0", 18) : QByteArray("mirelo_probe\0", 13)))
        seen = u"login of mirelo_probe"_s;
    QCOMPARE(seen, received);
}

void TestDatabaseExecutor::readOnlySessions_data()
{
    QTest::addColumn<QString>("type");
    QTest::addColumn<QStringList>("setup");
    QTest::addColumn<QString>("sql");
    QTest::addColumn<bool>("refused");
    QTest::addColumn<QString>("check");         // a query whose first value shows the statement's effect
    QTest::addColumn<QString>("afterReadOnly"); // that value after the read-only run
    QTest::addColumn<QString>("afterConfirmed");
    QTest::addColumn<QStringList>("cleanup");

    const auto table = [](const char* sql) { return QStringList{suffixed(sql)}; };
    const QStringList dropTable = table("DROP TABLE IF EXISTS ro_t_%1");
    for (const QString& type : {kPostgreSQL, kMySQL}) {
        const bool pg = type == kPostgreSQL;
        const auto row = [&](const char* name, const QStringList& setup, const char* sql, bool refused,
                             const char* check, const char* afterReadOnly, const char* afterConfirmed,
                             const QStringList& cleanup) {
            QTest::addRow("%s: %s", qPrintable(type), name)
                << type << setup << suffixed(sql) << refused << suffixed(check) << QString::fromUtf8(afterReadOnly)
                << QString::fromUtf8(afterConfirmed) << cleanup;
        };
        const QStringList create = table("CREATE TABLE ro_t_%1 (id INTEGER)");
        const QStringList createWithRow = create + table("INSERT INTO ro_t_%1 VALUES (1)");
        const char* exists = pg ? "SELECT to_regclass('ro_t_%1') IS NOT NULL"
                                : "SELECT count(*) FROM information_schema.TABLES WHERE TABLE_NAME = 'ro_t_%1'";
        const char* yes = pg ? "t" : "1";
        const char* no = pg ? "f" : "0";
        row("create table", {}, "CREATE TABLE ro_t_%1 (id INTEGER)", true, exists, no, yes, dropTable);
        row("alter table", create, "ALTER TABLE ro_t_%1 ADD COLUMN extra INTEGER", true,
            "SELECT count(*) FROM information_schema.COLUMNS WHERE TABLE_NAME = 'ro_t_%1'", "1", "2", dropTable);
        row("drop table", create, "DROP TABLE ro_t_%1", true, exists, yes, no, dropTable);
        row("insert", create, "INSERT INTO ro_t_%1 VALUES (1)", true, "SELECT count(*) FROM ro_t_%1", "0", "1",
            dropTable);
        row("update", createWithRow, "UPDATE ro_t_%1 SET id = 2", true, "SELECT max(id) FROM ro_t_%1", "1", "2",
            dropTable);
        row("delete", createWithRow, "DELETE FROM ro_t_%1", true, "SELECT count(*) FROM ro_t_%1", "1", "0", dropTable);
        row("temporary table", {}, "CREATE TEMPORARY TABLE ro_tmp_%1 AS SELECT 1 AS a", true, "", "", "", {});
        if (pg) {
            const QStringList sequence = table("CREATE SEQUENCE ro_s_%1");
            const QStringList dropSequence = table("DROP SEQUENCE IF EXISTS ro_s_%1");
            row("select into", create, "SELECT * INTO ro_copy_%1 FROM ro_t_%1", true,
                "SELECT to_regclass('ro_copy_%1') IS NOT NULL", "f", "t",
                dropTable + table("DROP TABLE IF EXISTS ro_copy_%1"));
            row("setval", sequence, "select setval('ro_s_%1', 100)", true, "SELECT last_value FROM ro_s_%1", "1", "100",
                dropSequence);
            row("nextval", sequence, "select nextval('ro_s_%1')", true, "SELECT is_called FROM ro_s_%1", "f", "t",
                dropSequence);
            // Not stopped: the text itself may open a read-write transaction.
            row("explicit read-write transaction", create, "BEGIN READ WRITE; INSERT INTO ro_t_%1 VALUES (1); COMMIT",
                false, "SELECT count(*) FROM ro_t_%1", "1", "2", dropTable);
        } else {
            row("optimize table", create, "OPTIMIZE TABLE ro_t_%1", true, "", "", "", dropTable);
            row("sequence", table("CREATE SEQUENCE ro_s_%1"), "SELECT NEXTVAL(ro_s_%1)", true,
                "SELECT next_not_cached_value FROM ro_s_%1", "1", "1001", table("DROP SEQUENCE IF EXISTS ro_s_%1"));
            // Not stopped: server settings, and a statement that lifts the mode for itself.
            row("set global", {}, "SET GLOBAL max_connect_errors = 4242", false, "SELECT @@GLOBAL.max_connect_errors",
                "4242", "4242", {u"SET GLOBAL max_connect_errors = DEFAULT"_s});
            row("set statement", create, "SET STATEMENT tx_read_only = 0 FOR INSERT INTO ro_t_%1 VALUES (1)", false,
                "SELECT count(*) FROM ro_t_%1", "1", "2", dropTable);
        }
    }
}

void TestDatabaseExecutor::readOnlySessions()
{
    QFETCH(QString, type);
    QFETCH(QStringList, setup);
    QFETCH(QString, sql);
    QFETCH(bool, refused);
    QFETCH(QString, check);
    QFETCH(QString, afterReadOnly);
    QFETCH(QString, afterConfirmed);
    QFETCH(QStringList, cleanup);
    REQUIRE_SERVER(c, type, QString());
    const auto tidy = qScopeGuard([&] {
        for (const QString& statement : cleanup)
            run(m_executor, statement, c);
    });
    for (const QString& statement : setup) {
        const auto done = run(m_executor, statement, c);
        QVERIFY2(done->result, qPrintable(done->error));
    }

    const auto readOnly = run(m_executor, sql, c, Access::ReadOnly);
    if (refused) {
        QVERIFY(!readOnly->result);
        QCOMPARE(readOnly->kind, QueryError::Kind::RefusedAsWrite);
        // The server's own reason, for the confirmation to show.
        const QRegularExpression reason(type == kPostgreSQL
                                            ? u"^ERROR:  cannot execute .+ in a read-only transaction\n$"_s
                                            : u"^Cannot execute statement in a READ ONLY transaction$"_s);
        QVERIFY2(reason.match(readOnly->error).hasMatch(), qPrintable(readOnly->error));
    } else {
        QVERIFY2(readOnly->result, qPrintable(readOnly->error));
    }
    if (!check.isEmpty())
        QCOMPARE(firstValue(m_executor, check, c), afterReadOnly);

    const auto confirmed = run(m_executor, sql, c, Access::ReadWrite);
    QVERIFY2(confirmed->result, qPrintable(confirmed->error));
    if (!check.isEmpty())
        QCOMPARE(firstValue(m_executor, check, c), afterConfirmed);
}

void TestDatabaseExecutor::readsRunReadOnly_data()
{
    QTest::addColumn<QString>("type");
    QTest::addColumn<QString>("sql");
    QTest::addColumn<QString>("expected");  // a pattern for describe()
    QTest::addColumn<QString>("confirmed"); // when set, the same for a confirmed run
    const auto row = [](const char* name, const QString& type, const QString& sql, const QString& expected,
                        const QString& confirmed = {}) {
        QTest::addRow("%s: %s", qPrintable(type), name) << type << sql << expected << confirmed;
    };
    row("select", kPostgreSQL, u"SELECT 1 AS a"_s, u"a \\| '1' \\| 1 of 1 \\| 1 row .*"_s);
    row("explain", kPostgreSQL, u"EXPLAIN SELECT 1"_s, u"QUERY PLAN \\| 'Result  .*"_s);
    row("show", kPostgreSQL, u"SHOW default_transaction_read_only"_s, u"default_transaction_read_only \\| 'on' .*"_s,
        u"default_transaction_read_only \\| 'off' .*"_s);
    row("cte", kPostgreSQL, u"WITH c AS (SELECT 2 AS b) SELECT b FROM c"_s, u"b \\| '2' .*"_s);
    row("several reads", kPostgreSQL, u"SELECT 1 AS a; SELECT 2 AS b"_s, u"b \\| '2' .*"_s);
    row("select", kMySQL, u"SELECT 1 AS a"_s, u"a \\| '1' \\| 1 of 1 \\| 1 row .*"_s);
    row("explain", kMySQL, u"EXPLAIN SELECT 1"_s, u"id,select_type,.*"_s);
    row("show", kMySQL, u"SHOW VARIABLES LIKE 'tx_read_only'"_s, u"Variable_name,Value \\| 'tx_read_only','ON' .*"_s,
        u"Variable_name,Value \\| 'tx_read_only','OFF' .*"_s);
    row("cte", kMySQL, u"WITH c AS (SELECT 2 AS b) SELECT b FROM c"_s, u"b \\| '2' .*"_s);
}

void TestDatabaseExecutor::readsRunReadOnly()
{
    QFETCH(QString, type);
    QFETCH(QString, sql);
    QFETCH(QString, expected);
    QFETCH(QString, confirmed);
    REQUIRE_SERVER(c, type, QString());
    QList<std::pair<Access, QString>> runs{{Access::ReadOnly, expected}};
    if (!confirmed.isEmpty())
        runs.append({Access::ReadWrite, confirmed});
    for (const auto& [access, pattern] : runs) {
        const auto outcome = run(m_executor, sql, c, access);
        QVERIFY2(outcome->result, qPrintable(outcome->error));
        const QString seen = describe(*outcome->result);
        QVERIFY2(QRegularExpression(QRegularExpression::anchoredPattern(pattern)).match(seen).hasMatch(),
                 qPrintable(seen));
    }
}

void TestDatabaseExecutor::cancel()
{
    QFETCH(QString, type);
    REQUIRE_SERVER(c, type, QString());
    const bool pg = type == kPostgreSQL;
    const QString sleep = suffixed(pg ? "SELECT pg_sleep(30) AS cancel_me_%1" : "SELECT SLEEP(30) AS cancel_me_%1");
    const QString running = (pg ? u"SELECT count(*) FROM pg_stat_activity WHERE state = 'active' AND query = '%1'"_s
                                : u"SELECT count(*) FROM information_schema.PROCESSLIST WHERE INFO = '%1'"_s)
                                .arg(sleep);

    const auto sleeping = submit(m_executor, sleep, c, Access::ReadOnly);
    const auto next = submit(m_executor, u"SELECT 2 AS b"_s, c, Access::ReadOnly);
    QTRY_COMPARE_WITH_TIMEOUT(firstValue(m_observer, running, c), u"1"_s, 30000);
    QElapsedTimer clock;
    clock.start();
    m_executor.cancel(sleeping->ticket);
    // Well within the statement's 30 seconds, so it was stopped.
    QTRY_VERIFY_WITH_TIMEOUT(sleeping->done, 10000);
    qInfo("cancelled after %lld ms", static_cast<long long>(clock.elapsed()));
    QVERIFY(!sleeping->result && sleeping->onMainThread);
    QCOMPARE(sleeping->kind, QueryError::Kind::Cancelled);
    QCOMPARE(sleeping->error, u"Query cancelled."_s);
    // The queue moves on, and the server no longer runs the statement.
    QTRY_VERIFY_WITH_TIMEOUT(next->done, 10000);
    QVERIFY2(next->result, qPrintable(next->error));
    QTRY_COMPARE_WITH_TIMEOUT(firstValue(m_observer, running, c), u"0"_s, 10000);

    // Cancelling once the result has arrived does nothing.
    m_executor.cancel(next->ticket);
    QVERIFY(run(m_executor, u"SELECT 3"_s, c, Access::ReadOnly)->result);
    QVERIFY(next->result);

    // A statement still waiting in the queue completes cancelled and never runs.
    const QString table = u"cancelled_"_s + kSuffix;
    const auto blocking = submit(m_executor, sleep, c, Access::ReadOnly);
    const auto waiting = submit(m_executor, u"CREATE TABLE %1 (id INTEGER)"_s.arg(table), c);
    m_executor.cancel(waiting->ticket);
    m_executor.cancel(blocking->ticket);
    QTRY_VERIFY_WITH_TIMEOUT(waiting->done, 10000);
    QCOMPARE(blocking->kind, QueryError::Kind::Cancelled);
    QCOMPARE(waiting->kind, QueryError::Kind::Cancelled);
    QVERIFY(!waiting->result);
    QCOMPARE(firstValue(m_observer,
                        pg ? u"SELECT to_regclass('%1') IS NULL"_s.arg(table)
                           : u"SELECT count(*) = 0 FROM information_schema.TABLES WHERE TABLE_NAME = '%1'"_s.arg(table),
                        c),
             pg ? u"t"_s : u"1"_s);
}

// A stop wakes the statement's wait, and the statement then ends and forgets how to ask the
// server to stop it; the server must have been asked by then, or it runs the statement on.
void TestDatabaseExecutor::stopAsksTheServerFirst()
{
    int never[2];
    QCOMPARE(::pipe(never), 0);
    const auto closePipe = qScopeGuard([&] {
        ::close(never[0]);
        ::close(never[1]);
    });
    for (int round = 0; round < 500; ++round) {
        StatementControl control(std::chrono::seconds(30));
        auto asked = std::make_shared<std::atomic_bool>(false);
        control.setServerCancel([asked] { *asked = true; });
        std::atomic_bool waiting{false};
        std::thread statement([&] {
            waiting = true;
            (void)control.wait(never[0], true, false, QDeadlineTimer(30000));
            control.clearServerCancel();
        });
        while (!waiting)
            std::this_thread::yield();
        control.stop();
        statement.join();
        // The request runs on a thread of its own.
        QVERIFY(ServerCancel::waitForPending(QDeadlineTimer(5000)));
        QVERIFY2(*asked, qPrintable(u"round %1"_s.arg(round)));
    }
}

// A statement waits for a lock; its server process is frozen; the lock is released, so a
// live server would answer at once. The executor must give up at its deadline.
void TestDatabaseExecutor::frozenServer()
{
    QFETCH(QString, type);
    REQUIRE_SERVER(c, type, u"plain server"_s);
    const bool pg = type == kPostgreSQL;
    const QString key = kSuffix;
    const QString holding = pg ? u"SELECT pg_advisory_lock(%1), pg_sleep(60) AS holder"_s.arg(key)
                               : u"SELECT GET_LOCK('frozen_%1', 0), SLEEP(60) AS holder"_s.arg(key);
    const QString held =
        pg ? u"SELECT count(*) FROM pg_locks WHERE locktype = 'advisory' AND objid = %1 AND granted"_s.arg(key)
           : u"SELECT IS_USED_LOCK('frozen_%1') IS NOT NULL"_s.arg(key);
    const QString waiting = pg ? u"SELECT pg_advisory_lock(%1) AS waiter"_s.arg(key)
                               : u"SELECT GET_LOCK('frozen_%1', 30) AS waiter"_s.arg(key);
    const QString waits =
        (pg ? u"SELECT count(*) FROM pg_stat_activity WHERE query = '%1' AND wait_event_type = 'Lock'"_s
            : u"SELECT count(*) FROM information_schema.PROCESSLIST WHERE INFO = '%1'"_s)
            .arg(quoted(waiting));

    const auto holder = submit(m_executor, holding, c, Access::ReadOnly);
    const auto releaseHolder = qScopeGuard([&] { m_executor.cancel(holder->ticket); });
    QTRY_COMPARE_WITH_TIMEOUT(firstValue(m_observer, held, c), u"1"_s, 30000);

    DatabaseExecutor executor;
    executor.setStatementTimeLimitForTesting(std::chrono::seconds(3));
    const auto waiter = submit(executor, waiting, c, Access::ReadOnly);
    QTRY_COMPARE_WITH_TIMEOUT(firstValue(m_observer, waits, c), u"1"_s, 30000);

    pid_t process = 0;
    if (pg) {
        process = pid_t(
            firstValue(m_observer, u"SELECT pid FROM pg_stat_activity WHERE query = '%1'"_s.arg(quoted(waiting)), c)
                .toLongLong());
    } else {
        QFile pidFile(qEnvironmentVariable("MIRELO_TEST_MYSQL_PLAIN_PID_FILE"));
        QVERIFY2(pidFile.open(QIODevice::ReadOnly), "MIRELO_TEST_MYSQL_PLAIN_PID_FILE names no readable file");
        process = pid_t(pidFile.readAll().trimmed().toLongLong());
    }
    QVERIFY(process > 0);
    QVERIFY2(!waiter->done, "the statement ended before its server could be frozen");
    QCOMPARE(::kill(process, SIGSTOP), 0);
    auto thaw = qScopeGuard([&] { ::kill(process, SIGCONT); });
    m_executor.cancel(holder->ticket);

    QTRY_VERIFY_WITH_TIMEOUT(waiter->done, 30000);
    QVERIFY(!waiter->result);
    QCOMPARE(waiter->kind, QueryError::Kind::TimedOut);
    QCOMPARE(waiter->error, u"The server did not answer within 3 seconds."_s);
    thaw.dismiss();
    ::kill(process, SIGCONT);
    const auto next = run(executor, u"SELECT 1 AS a"_s, c, Access::ReadOnly);
    QVERIFY2(next->result, qPrintable(next->error));
}

void TestDatabaseExecutor::exportWholeResult()
{
    QFETCH(QString, type);
    REQUIRE_SERVER(c, type, QString());
    // Quoting, NULL against the empty text, text outside the BMP, and more rows than the grid keeps.
    const QString sql =
        type == kPostgreSQL
            ? u"SELECT g AS n, CASE g WHEN 1 THEN 'a,b' WHEN 2 THEN 'say \"hi\"' WHEN 3 THEN E'two\\nlines' "
              "WHEN 4 THEN '' WHEN 5 THEN NULL WHEN 6 THEN '🐘 Łódź' ELSE 'row ' || g END AS \"value, quoted\" "
              "FROM generate_series(1, 25000) AS g"_s
            : u"SELECT seq AS n, CASE seq WHEN 1 THEN 'a,b' WHEN 2 THEN 'say \"hi\"' WHEN 3 THEN 'two\\nlines' "
              "WHEN 4 THEN '' WHEN 5 THEN NULL WHEN 6 THEN '🐘 Łódź' ELSE CONCAT('row ', seq) END "
              "AS `value, quoted` FROM seq_1_to_25000"_s;
    QTemporaryDir dir;
    const QString path = dir.filePath(u"whole.csv"_s);
    const auto exported = startExport(m_executor, sql, c, path);
    QTRY_VERIFY_WITH_TIMEOUT(exported->done, 90000);
    QVERIFY2(exported->rows, qPrintable(exported->error.message));
    QCOMPARE(*exported->rows, quint64(25000));

    // Byte for byte the grid's CSV of the rows it keeps, then the rest.
    const QByteArray file = readFile(path);
    const auto shown = run(m_executor, sql, c, Access::ReadOnly);
    QVERIFY2(shown->result, qPrintable(shown->error));
    const QByteArray grid = csvOf(*shown->result);
    QCOMPARE(file.left(grid.size()), grid);
    QVERIFY(grid.startsWith("n,\"value, quoted\"\n1,\"a,b\"\n2,\"say \"\"hi\"\"\"\n3,\"two\nlines\"\n4,\n5,\n"
                            "6,🐘 Łódź\n"));
    QVERIFY(file.endsWith("\n25000,row 25000\n"));
    QCOMPARE(file.count('\n'), 25000 + 2);
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{u"whole.csv"_s});
}

void TestDatabaseExecutor::exportProgressAndCancel()
{
    QFETCH(QString, type);
    REQUIRE_SERVER(c, type, QString());
    // Rows that trickle in for minutes.
    const QString sql = type == kPostgreSQL ? u"SELECT g, pg_sleep(0.0005) FROM generate_series(1, 500000) AS g"_s
                                            : u"SELECT seq, SLEEP(0.0005) FROM seq_1_to_500000"_s;
    QTemporaryDir dir;
    const QString path = dir.filePath(u"whole.csv"_s);
    QFile previous(path);
    QVERIFY(previous.open(QIODevice::WriteOnly) && previous.write("earlier export\n") && previous.flush());
    previous.close();

    const auto exported = startExport(m_executor, sql, c, path);
    QTRY_VERIFY_WITH_TIMEOUT(exported->progress.size() >= 2, 60000);
    QVERIFY(!exported->done);
    QVERIFY(exported->progress.first() > 0 && exported->progress.first() < exported->progress.last());
    m_executor.cancel(exported->ticket);
    QTRY_VERIFY_WITH_TIMEOUT(exported->done, 10000);
    QVERIFY(!exported->rows);
    QCOMPARE(exported->error.kind, QueryError::Kind::Cancelled);
    // Complete or absent: here, the earlier file untouched and nothing beside it.
    QCOMPARE(readFile(path), QByteArray("earlier export\n"));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{u"whole.csv"_s});
}

void TestDatabaseExecutor::exportFailures_data()
{
    QTest::addColumn<QString>("type");
    QTest::addColumn<QString>("sql");
    QTest::addColumn<QString>("file"); // relative to a folder holding an earlier whole.csv
    QTest::addColumn<QueryError::Kind>("kind");
    QTest::addColumn<QString>("error"); // a pattern
    const auto failed = QueryError::Kind::Failed;
    for (const QString& type : {kPostgreSQL, kMySQL}) {
        const bool pg = type == kPostgreSQL;
        const auto row = [&](const char* name, const QString& sql, const QString& file, QueryError::Kind kind,
                             const QString& error) {
            QTest::addRow("%s: %s", qPrintable(type), name) << type << sql << file << kind << error;
        };
        row("error after thousands of rows",
            pg ? u"SELECT 1 / (g - 5000) AS v FROM generate_series(1, 10000) AS g"_s
               : suffixed("SELECT fail_at_%1(seq) FROM seq_1_to_10000"),
            u"whole.csv"_s, failed, pg ? u"ERROR:  division by zero\n"_s : u"Division by zero"_s);
        row("a write", suffixed("CREATE TABLE export_%1 AS SELECT 1 AS a"), u"whole.csv"_s,
            QueryError::Kind::RefusedAsWrite, u".*(read-only|READ ONLY) transaction\n?"_s);
        row("no rows", pg ? u"SET work_mem = '8MB'"_s : u"DO 1"_s, u"whole.csv"_s, failed,
            u"The statement returned no rows to export\\."_s);
        row("missing folder", u"SELECT 1"_s, u"missing/whole.csv"_s, failed,
            u"Could not create a temporary file for “.*/missing/whole.csv”: No such file or directory\\."_s);
    }
}

void TestDatabaseExecutor::exportFailures()
{
    QFETCH(QString, type);
    QFETCH(QString, sql);
    QFETCH(QString, file);
    QFETCH(QueryError::Kind, kind);
    QFETCH(QString, error);
    REQUIRE_SERVER(c, type, QString());
    QTemporaryDir dir;
    QFile previous(dir.filePath(u"whole.csv"_s));
    QVERIFY(previous.open(QIODevice::WriteOnly) && previous.write("earlier export\n") && previous.flush());
    previous.close();

    const auto exported = startExport(m_executor, sql, c, dir.filePath(file));
    QTRY_VERIFY_WITH_TIMEOUT(exported->done, 90000);
    QVERIFY(!exported->rows);
    QCOMPARE(exported->error.kind, kind);
    QVERIFY2(QRegularExpression(QRegularExpression::anchoredPattern(error)).match(exported->error.message).hasMatch(),
             qPrintable(exported->error.message));
    QCOMPARE(readFile(previous.fileName()), QByteArray("earlier export\n"));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{u"whole.csv"_s});
}

QTEST_GUILESS_MAIN(TestDatabaseExecutor)
#include "tst_databaseexecutor.moc"
