#include "db/DatabaseExecutor.h"

#include <QCoreApplication>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

using namespace Qt::Literals::StringLiterals;

// One suite over both servers that scripts/lib/dbservers.sh starts. Objects the tests
// create carry the process id, so that test programs running side by side never meet.
namespace {

const auto kPostgreSQL = u"postgresql"_s;
const auto kMySQL = u"mysql"_s;

// A connection to one of the test servers, or nullopt when they were not started. A change
// to it: "ssl" on, the "plain server" without TLS, "ssl, plain server", "wrong password", "port 1".
std::optional<DatabaseConnection> serverConnection(const QString& type, const QString& change = {})
{
    const QString prefix = type == kPostgreSQL ? u"MIRELO_TEST_PG_"_s : u"MIRELO_TEST_MYSQL_"_s;
    const auto env = [&](const char* name) { return qEnvironmentVariable((prefix + QLatin1String(name)).toLatin1()); };
    if (env("PORT").isEmpty())
        return std::nullopt;
    DatabaseConnection c;
    c.type = type;
    c.host = env("HOST");
    // Nothing listens on port 1 of the loopback address.
    c.port = change == u"port 1" ? 1 : env(change.endsWith(u"plain server") ? "PLAIN_PORT" : "PORT").toLongLong();
    c.database = env("DATABASE");
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
};

std::shared_ptr<Outcome> submit(DatabaseExecutor& executor, const QString& sql, const DatabaseConnection& c)
{
    auto outcome = std::make_shared<Outcome>();
    executor.executeQuery(sql, c, [outcome](const QueryResultPtr& result, const QString& error) {
        *outcome = {true, QThread::currentThread() == QCoreApplication::instance()->thread(), result, error};
    });
    return outcome;
}

std::shared_ptr<Outcome> run(DatabaseExecutor& executor, const QString& sql, const DatabaseConnection& c)
{
    auto outcome = submit(executor, sql, c);
    (void)QTest::qWaitFor([&] { return outcome->done; }, 90000);
    return outcome;
}

const QString kSuffix = QString::number(QCoreApplication::applicationPid());

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

private:
    DatabaseExecutor m_executor;
};

void TestDatabaseExecutor::initTestCase()
{
    // The function fails its row 5000 with an error raised while rows are streaming.
    if (const auto c = serverConnection(kMySQL)) {
        const auto created = run(m_executor,
                                 u"CREATE FUNCTION fail_at_%1(n BIGINT) RETURNS BIGINT DETERMINISTIC BEGIN IF n = 5000 "
                                 "THEN SIGNAL SQLSTATE '22012' SET MESSAGE_TEXT = 'Division by zero'; END IF; "
                                 "RETURN n; END"_s.arg(kSuffix),
                                 *c);
        QVERIFY2(created->result, qPrintable(created->error));
    }
}

void TestDatabaseExecutor::cleanupTestCase()
{
    if (const auto c = serverConnection(kMySQL))
        run(m_executor, u"DROP FUNCTION IF EXISTS fail_at_%1"_s.arg(kSuffix), *c);
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

QTEST_GUILESS_MAIN(TestDatabaseExecutor)
#include "tst_databaseexecutor.moc"
