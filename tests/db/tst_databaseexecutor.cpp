#include "db/DatabaseExecutor.h"

#include <QCoreApplication>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

// One suite over both servers that scripts/lib/dbservers.sh starts. Objects the tests
// create carry the process id, so that test programs running side by side never meet.
namespace {

const auto kPostgreSQL = QStringLiteral("postgresql");
const auto kMySQL = QStringLiteral("mysql");

// A connection to one of the test servers, or nullopt when they were not started.
std::optional<DatabaseConnection> serverConnection(const QString& type, bool withTls = true)
{
    const QString prefix =
        type == kPostgreSQL ? QStringLiteral("MIRELO_TEST_PG_") : QStringLiteral("MIRELO_TEST_MYSQL_");
    const auto env = [&](const char* name) { return qEnvironmentVariable((prefix + QLatin1String(name)).toLatin1()); };
    if (env("PORT").isEmpty())
        return std::nullopt;
    DatabaseConnection c;
    c.name = QStringLiteral("test");
    c.type = type;
    c.host = env("HOST");
    c.port = env(withTls ? "PORT" : "PLAIN_PORT").toLongLong();
    c.database = env("DATABASE");
    c.username = env("USER");
    c.password = env("PASSWORD");
    return c;
}

// Under scripts/test the servers must be there; run by hand, their absence skips.
#define REQUIRE_SERVER(var, type, withTls)                                                                             \
    const std::optional<DatabaseConnection> var##Found = serverConnection(type, withTls);                              \
    if (!var##Found) {                                                                                                 \
        if (qEnvironmentVariableIsSet("MIRELO_TEST_DB_REQUIRED"))                                                      \
            QFAIL("The database servers' MIRELO_TEST_* variables are missing.");                                       \
        QSKIP("No test database servers: run scripts/test, or source scripts/lib/dbservers.sh and mirelo_db_start.");  \
    }                                                                                                                  \
    DatabaseConnection var = *var##Found

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
        outcome->done = true;
        outcome->onMainThread = QThread::currentThread() == QCoreApplication::instance()->thread();
        outcome->result = result;
        outcome->error = error;
    });
    return outcome;
}

std::shared_ptr<Outcome> run(DatabaseExecutor& executor, const QString& sql, const DatabaseConnection& c)
{
    auto outcome = submit(executor, sql, c);
    (void)QTest::qWaitFor([&] { return outcome->done; }, 90000);
    return outcome;
}

QString suffix()
{
    return QString::number(QCoreApplication::applicationPid());
}

QString milliseconds(const QueryResult& result)
{
    return QStringLiteral(" (%1ms)").arg(result.executionTime * 1000, 0, 'f', 1);
}

// Expected cells: an invalid QVariant stands for the null marker.
void compareRow(const SqlRow& actual, const QVariantList& expected)
{
    QCOMPARE(actual.size(), expected.size());
    for (qsizetype i = 0; i < actual.size(); ++i) {
        if (!expected[i].isValid())
            QVERIFY2(!actual[i].has_value(), qPrintable(QStringLiteral("cell %1 is not the null marker").arg(i)));
        else
            QCOMPARE(actual[i], std::optional<QString>(expected[i].toString()));
    }
}

} // namespace

class TestDatabaseExecutor : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void results_data();
    void results();
    void statementsRunInOrder_data();
    void statementsRunInOrder();
    void failures_data();
    void failures();
    void encryption_data();
    void encryption();
    void missingLibrary_data();
    void missingLibrary();
    void unsupportedType();
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
        const auto created =
            run(m_executor,
                QStringLiteral("CREATE FUNCTION fail_at_%1(n BIGINT) RETURNS BIGINT DETERMINISTIC BEGIN "
                               "IF n = 5000 THEN SIGNAL SQLSTATE '22012' SET MESSAGE_TEXT = "
                               "'Division by zero'; END IF; RETURN n; END")
                    .arg(suffix()),
                *c);
        QVERIFY2(created->result, qPrintable(created->error));
    }
}

void TestDatabaseExecutor::cleanupTestCase()
{
    if (const auto c = serverConnection(kMySQL))
        run(m_executor, QStringLiteral("DROP FUNCTION IF EXISTS fail_at_%1").arg(suffix()), *c);
}

void TestDatabaseExecutor::results_data()
{
    QTest::addColumn<QString>("type");
    QTest::addColumn<QString>("sql");
    QTest::addColumn<QStringList>("columns");
    QTest::addColumn<int>("kept");
    QTest::addColumn<quint64>("rowCount");
    QTest::addColumn<QVariantList>("firstRow");
    QTest::addColumn<QVariantList>("lastKeptRow");
    QTest::addColumn<QString>("summary");

    const QVariant null;
    for (const QString& type : {kPostgreSQL, kMySQL}) {
        const bool pg = type == kPostgreSQL;
        const char* tag = pg ? "postgresql" : "mysql";
        const QString series = pg ? QStringLiteral("SELECT g AS n FROM generate_series(1, %1) AS g")
                                  : QStringLiteral("SELECT seq AS n FROM seq_1_to_%1");
        QTest::addRow("%s: select 1", tag)
            << type << QStringLiteral("SELECT 1") << QStringList{pg ? QStringLiteral("?column?") : QStringLiteral("1")}
            << 1 << quint64(1) << QVariantList{QStringLiteral("1")} << QVariantList{QStringLiteral("1")}
            << QStringLiteral("1 row");
        QTest::addRow("%s: no rows", tag) << type
                                          << (pg ? QStringLiteral("SELECT 1 AS a WHERE false")
                                                 : QStringLiteral("SELECT 1 AS a FROM DUAL WHERE 1 = 0"))
                                          << QStringList{QStringLiteral("a")} << 0 << quint64(0) << QVariantList()
                                          << QVariantList() << QStringLiteral("0 rows");
        QTest::addRow("%s: exactly 10000 rows", tag)
            << type << series.arg(10000) << QStringList{QStringLiteral("n")} << 10000 << quint64(10000)
            << QVariantList{QStringLiteral("1")} << QVariantList{QStringLiteral("10000")}
            << QStringLiteral("10000 rows");
        QTest::addRow("%s: 25000 rows", tag)
            << type << series.arg(25000) << QStringList{QStringLiteral("n")} << 10000 << quint64(25000)
            << QVariantList{QStringLiteral("1")} << QVariantList{QStringLiteral("10000")}
            << QStringLiteral("Showing 10000 of 25000 rows");
        QTest::addRow("%s: null, empty and the text NULL", tag)
            << type << QStringLiteral("SELECT NULL AS a, '' AS b, 'NULL' AS c")
            << QStringList{QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")} << 1 << quint64(1)
            << QVariantList{null, QStringLiteral(""), QStringLiteral("NULL")}
            << QVariantList{null, QStringLiteral(""), QStringLiteral("NULL")} << QStringLiteral("1 row");
        // The server sends these bytes as Latin-1, which is not valid UTF-8.
        QTest::addRow("%s: latin-1 value", tag)
            << type
            << (pg ? QStringLiteral("SET client_encoding TO 'LATIN1'; SELECT 'café' AS v")
                   : QStringLiteral("SELECT X'636166E9' AS v"))
            << QStringList{QStringLiteral("v")} << 1 << quint64(1) << QVariantList{QStringLiteral("café")}
            << QVariantList{QStringLiteral("café")} << QStringLiteral("1 row");
        QTest::addRow("%s: utf-8 value", tag)
            << type << QStringLiteral("SELECT 'Grüße – ✓ Ωμέγα' AS v") << QStringList{QStringLiteral("v")} << 1
            << quint64(1) << QVariantList{QStringLiteral("Grüße – ✓ Ωμέγα")}
            << QVariantList{QStringLiteral("Grüße – ✓ Ωμέγα")} << QStringLiteral("1 row");
    }
    QTest::addRow("postgresql: last of several statements")
        << kPostgreSQL << QStringLiteral("SELECT g FROM generate_series(1, 20000) AS g; SELECT 2 AS b, NULL AS c")
        << QStringList{QStringLiteral("b"), QStringLiteral("c")} << 1 << quint64(1)
        << QVariantList{QStringLiteral("2"), null} << QVariantList{QStringLiteral("2"), null}
        << QStringLiteral("1 row");
}

void TestDatabaseExecutor::results()
{
    QFETCH(QString, type);
    QFETCH(QString, sql);
    QFETCH(QStringList, columns);
    QFETCH(int, kept);
    QFETCH(quint64, rowCount);
    QFETCH(QVariantList, firstRow);
    QFETCH(QVariantList, lastKeptRow);
    QFETCH(QString, summary);
    REQUIRE_SERVER(c, type, true);

    const auto outcome = run(m_executor, sql, c);
    QVERIFY(outcome->done);
    QVERIFY2(outcome->result, qPrintable(outcome->error));
    QVERIFY(outcome->error.isEmpty());
    const QueryResult& r = *outcome->result;
    QCOMPARE(r.columnNames, columns);
    QCOMPARE(r.rows.size(), kept);
    QCOMPARE(r.rowCount, rowCount);
    if (kept > 0) {
        compareRow(r.rows.first(), firstRow);
        compareRow(r.rows.last(), lastKeptRow);
    }
    QVERIFY(r.executionTime > 0);
    QCOMPARE(r.statusMessage, summary + milliseconds(r));
}

void TestDatabaseExecutor::statementsRunInOrder_data()
{
    QTest::addColumn<QString>("type");
    QTest::newRow("postgresql") << kPostgreSQL;
    QTest::newRow("mysql") << kMySQL;
}

// Submitted all at once; each statement depends on the one before it.
void TestDatabaseExecutor::statementsRunInOrder()
{
    QFETCH(QString, type);
    REQUIRE_SERVER(c, type, true);
    const QString table = QStringLiteral("executor_order_%1").arg(suffix());
    const QStringList statements{
        QStringLiteral("CREATE TABLE %1 (id INTEGER, v VARCHAR(10))").arg(table),
        QStringLiteral("INSERT INTO %1 VALUES (1, 'a'), (2, 'b'), (3, 'c'), (4, 'd')").arg(table),
        QStringLiteral("UPDATE %1 SET v = 'z' WHERE id <= 3").arg(table),
        QStringLiteral("SELECT v FROM %1 ORDER BY id").arg(table),
        QStringLiteral("DROP TABLE %1").arg(table),
    };
    const QStringList summaries{QStringLiteral("OK — 0 rows affected"), QStringLiteral("OK — 4 rows affected"),
                                QStringLiteral("OK — 3 rows affected"), QStringLiteral("4 rows"),
                                QStringLiteral("OK — 0 rows affected")};
    QList<std::shared_ptr<Outcome>> outcomes;
    for (const QString& sql : statements)
        outcomes << submit(m_executor, sql, c);
    QVERIFY(QTest::qWaitFor([&] { return outcomes.last()->done; }, 90000));
    for (qsizetype i = 0; i < outcomes.size(); ++i) {
        const Outcome& o = *outcomes[i];
        QVERIFY2(o.result, qPrintable(statements[i] + QStringLiteral(": ") + o.error));
        QVERIFY(o.onMainThread);
        QCOMPARE(o.result->statusMessage, summaries[i] + milliseconds(*o.result));
    }
    const QueryResult& selected = *outcomes[3]->result;
    QVERIFY(selected.columnNames.size() == 1 && selected.rows.size() == 4);
    compareRow(selected.rows[2], {QStringLiteral("z")});
    compareRow(selected.rows[3], {QStringLiteral("d")});
}

void TestDatabaseExecutor::failures_data()
{
    QTest::addColumn<QString>("type");
    QTest::addColumn<bool>("withTls");
    QTest::addColumn<QString>("password"); // empty: the right one
    QTest::addColumn<qint64>("port");      // 0: the server's
    QTest::addColumn<bool>("ssl");
    QTest::addColumn<QString>("sql");
    QTest::addColumn<QString>("pattern"); // the whole error text

    const QString connectionFailed = QStringLiteral("^Connection failed: ");
    QTest::newRow("postgresql: wrong password")
        << kPostgreSQL << true << QStringLiteral("wrong") << qint64(0) << false << QStringLiteral("SELECT 1")
        << connectionFailed + QStringLiteral(".*FATAL:  password authentication failed for user \"mirelo\"\n$");
    QTest::newRow("mysql: wrong password")
        << kMySQL << true << QStringLiteral("wrong") << qint64(0) << false << QStringLiteral("SELECT 1")
        << connectionFailed + QStringLiteral("Access denied for user 'mirelo'@'[^']+' \\(using password: YES\\)$");
    // Nothing listens on port 1 of the loopback address.
    QTest::newRow("postgresql: unreachable port")
        << kPostgreSQL << true << QString() << qint64(1) << false << QStringLiteral("SELECT 1")
        << connectionFailed + QStringLiteral(".*port 1 failed: Connection refused\n.*$");
    QTest::newRow("mysql: unreachable port")
        << kMySQL << true << QString() << qint64(1) << false << QStringLiteral("SELECT 1")
        << connectionFailed + QStringLiteral("Can't connect to .*127.0.0.1.*$");
    QTest::newRow("postgresql: ssl against a server without TLS")
        << kPostgreSQL << false << QString() << qint64(0) << true << QStringLiteral("SELECT 1")
        << connectionFailed + QStringLiteral(".*server does not support SSL, but SSL was required\n$");
    QTest::newRow("mysql: ssl against a server without TLS")
        << kMySQL << false << QString() << qint64(0) << true << QStringLiteral("SELECT 1")
        << QStringLiteral("^Connection failed: the server does not offer SSL, but this connection requires it\\.$");
    QTest::newRow("postgresql: syntax error")
        << kPostgreSQL << true << QString() << qint64(0) << false << QStringLiteral("SELEC 1")
        << QStringLiteral("^ERROR:  syntax error at or near \"SELEC\"\nLINE 1: SELEC 1\n        \\^\n$");
    QTest::newRow("mysql: syntax error") << kMySQL << true << QString() << qint64(0) << false
                                         << QStringLiteral("SELEC 1")
                                         << QStringLiteral("^You have an error in your SQL syntax; .*'SELEC 1' .*$");
    // The error comes after thousands of rows have already been sent.
    QTest::newRow("postgresql: error mid-stream")
        << kPostgreSQL << true << QString() << qint64(0) << false
        << QStringLiteral("SELECT 1 / (g - 5000) FROM generate_series(1, 10000) AS g")
        << QStringLiteral("^ERROR:  division by zero\n$");
    QTest::newRow("mysql: error mid-stream")
        << kMySQL << true << QString() << qint64(0) << false
        << QStringLiteral("SELECT fail_at_%1(seq) FROM seq_1_to_10000").arg(suffix())
        << QStringLiteral("^Division by zero$");
    QTest::newRow("mysql: several statements are not accepted")
        << kMySQL << true << QString() << qint64(0) << false << QStringLiteral("SELECT 1; SELECT 2")
        << QStringLiteral("^You have an error in your SQL syntax; .*$");
}

void TestDatabaseExecutor::failures()
{
    QFETCH(QString, type);
    QFETCH(bool, withTls);
    QFETCH(QString, password);
    QFETCH(qint64, port);
    QFETCH(bool, ssl);
    QFETCH(QString, sql);
    QFETCH(QString, pattern);
    REQUIRE_SERVER(c, type, withTls);
    if (!password.isEmpty())
        c.password = password;
    if (port != 0)
        c.port = port;
    c.ssl = ssl;

    const auto outcome = run(m_executor, sql, c);
    QVERIFY(outcome->done);
    QVERIFY(!outcome->result);
    const QRegularExpression expected(pattern, QRegularExpression::DotMatchesEverythingOption);
    QVERIFY2(expected.match(outcome->error).hasMatch(), qPrintable(outcome->error));
}

void TestDatabaseExecutor::encryption_data()
{
    QTest::addColumn<QString>("type");
    QTest::addColumn<bool>("withTls");
    QTest::addColumn<bool>("ssl");
    QTest::addColumn<bool>("encrypted");
    for (const QString& type : {kPostgreSQL, kMySQL}) {
        const char* tag = type == kPostgreSQL ? "postgresql" : "mysql";
        QTest::addRow("%s: ssl on, server with TLS", tag) << type << true << true << true;
        QTest::addRow("%s: ssl off, server without TLS", tag) << type << false << false << false;
    }
}

// Asks the server itself whether the session it serves is encrypted.
void TestDatabaseExecutor::encryption()
{
    QFETCH(QString, type);
    QFETCH(bool, withTls);
    QFETCH(bool, ssl);
    QFETCH(bool, encrypted);
    REQUIRE_SERVER(c, type, withTls);
    c.ssl = ssl;
    const QString sql = type == kPostgreSQL
                            ? QStringLiteral("SELECT ssl::text FROM pg_stat_ssl WHERE pid = pg_backend_pid()")
                            : QStringLiteral("SELECT VARIABLE_VALUE FROM information_schema.SESSION_STATUS "
                                             "WHERE VARIABLE_NAME = 'Ssl_cipher'");
    const auto outcome = run(m_executor, sql, c);
    QVERIFY2(outcome->result, qPrintable(outcome->error));
    QCOMPARE(outcome->result->rows.size(), 1);
    const QString value = outcome->result->rows.first().first().value_or(QString());
    if (type == kPostgreSQL)
        QCOMPARE(value, encrypted ? QStringLiteral("true") : QStringLiteral("false"));
    else
        QCOMPARE(!value.isEmpty(), encrypted);
}

void TestDatabaseExecutor::missingLibrary_data()
{
    QTest::addColumn<QString>("type");
    QTest::addColumn<QString>("hintStart");
    QTest::newRow("postgresql") << kPostgreSQL
                                << QStringLiteral("PostgreSQL client library not found.\n\nInstall with:\n  ");
    QTest::newRow("mysql") << kMySQL << QStringLiteral("MySQL client library not found.\n\nInstall with:\n  ");
}

void TestDatabaseExecutor::missingLibrary()
{
    QFETCH(QString, type);
    QFETCH(QString, hintStart);
    REQUIRE_SERVER(c, type, true);
    QVERIFY(DatabaseExecutor::isAvailableForType(type));
    const auto restore = qScopeGuard([&] { DatabaseExecutor::setLibrarySearchListForTesting(type, std::nullopt); });

    DatabaseExecutor::setLibrarySearchListForTesting(type, QStringList{QStringLiteral("/nonexistent/libclient.so")});
    QVERIFY(!DatabaseExecutor::isAvailableForType(type));
    const auto missing = run(m_executor, QStringLiteral("SELECT 1"), c);
    QVERIFY(!missing->result);
    QCOMPARE(missing->error, DatabaseExecutor::installInstructionsForType(type));
    QVERIFY(missing->error.startsWith(hintStart));

    // A library that opens but lacks the client functions does not count.
    DatabaseExecutor::setLibrarySearchListForTesting(type, QStringList{QStringLiteral("libm.so.6")});
    QVERIFY(!DatabaseExecutor::isAvailableForType(type));

    DatabaseExecutor::setLibrarySearchListForTesting(type, std::nullopt);
    QVERIFY(DatabaseExecutor::isAvailableForType(type));
    const auto found = run(m_executor, QStringLiteral("SELECT 1"), c);
    QVERIFY2(found->result, qPrintable(found->error));
}

void TestDatabaseExecutor::unsupportedType()
{
    DatabaseConnection c;
    c.type = QStringLiteral("sqlite");
    QVERIFY(!DatabaseExecutor::isAvailableForType(c.type));
    QCOMPARE(DatabaseExecutor::installInstructionsForType(c.type), QStringLiteral("Unsupported database type."));
    const auto outcome = run(m_executor, QStringLiteral("SELECT 1"), c);
    QVERIFY(outcome->done && outcome->onMainThread && !outcome->result);
    QCOMPARE(outcome->error, QStringLiteral("Unsupported database type."));
}

void TestDatabaseExecutor::installInstructions_data()
{
    QTest::addColumn<QByteArray>("osRelease"); // empty: no file
    QTest::addColumn<QString>("postgresql");
    QTest::addColumn<QString>("mysql");
    const QString apt = QStringLiteral("sudo apt install libpq5|sudo apt install libmariadb3");
    const QString dnf = QStringLiteral("sudo dnf install libpq|sudo dnf install mariadb-connector-c");
    const QString pacman = QStringLiteral("sudo pacman -S postgresql-libs|sudo pacman -S mariadb-libs");
    const auto row = [](const char* name, const QByteArray& file, const QString& commands) {
        QTest::newRow(name) << file << commands.section(QLatin1Char('|'), 0, 0)
                            << commands.section(QLatin1Char('|'), 1);
    };
    row("debian", "PRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\nID=debian\n", apt);
    row("ubuntu", "NAME=\"Ubuntu\"\nID=ubuntu\nID_LIKE=debian\n", apt);
    row("mint", "ID=linuxmint\nID_LIKE=\"ubuntu debian\"\n", apt);
    row("fedora", "NAME=\"Fedora Linux\"\nID=fedora\n", dnf);
    row("rocky", "ID=\"rocky\"\nID_LIKE=\"rhel centos fedora\"\n", dnf);
    row("arch", "NAME=\"Arch Linux\"\nID=arch\n", pacman);
    row("manjaro", "ID=manjaro\nID_LIKE=arch\n", pacman);
    row("unknown system", "ID=gentoo\n", apt);
    row("no os-release", "", apt);
}

void TestDatabaseExecutor::installInstructions()
{
    QFETCH(QByteArray, osRelease);
    QFETCH(QString, postgresql);
    QFETCH(QString, mysql);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("os-release"));
    if (!osRelease.isEmpty()) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(osRelease);
    }
    DatabaseExecutor::setOsReleasePathForTesting(path);
    const auto restore = qScopeGuard([] { DatabaseExecutor::setOsReleasePathForTesting(std::nullopt); });
    QCOMPARE(DatabaseExecutor::installInstructionsForType(kPostgreSQL),
             QStringLiteral("PostgreSQL client library not found.\n\nInstall with:\n  ") + postgresql);
    QCOMPARE(DatabaseExecutor::installInstructionsForType(kMySQL),
             QStringLiteral("MySQL client library not found.\n\nInstall with:\n  ") + mysql);
}

void TestDatabaseExecutor::completions()
{
    REQUIRE_SERVER(c, kPostgreSQL, true);

    // A caller that is gone by the time its statement ends hears nothing.
    auto context = std::make_unique<QObject>();
    auto lateCall = std::make_shared<bool>(false);
    m_executor.executeQuery(QStringLiteral("SELECT pg_sleep(0.2)"), c, context.get(),
                            [lateCall](const QueryResultPtr&, const QString&) { *lateCall = true; });
    context.reset();
    QVERIFY(run(m_executor, QStringLiteral("SELECT 1"), c)->result);
    QVERIFY(!*lateCall);

    for (const bool rightPassword : {true, false}) {
        DatabaseConnection tried = c;
        if (!rightPassword)
            tried.password = QStringLiteral("wrong");
        auto tested = std::make_shared<std::optional<std::pair<bool, QString>>>();
        m_executor.testConnection(tried, [tested](bool ok, const QString& error) { tested->emplace(ok, error); });
        QVERIFY(QTest::qWaitFor([&] { return tested->has_value(); }, 90000));
        QCOMPARE((*tested)->first, rightPassword);
        if (rightPassword)
            QCOMPARE((*tested)->second, QString());
        else
            QVERIFY2((*tested)->second.startsWith(QStringLiteral("Connection failed: ")),
                     qPrintable((*tested)->second));
    }

    // An executor going away waits for the statement it is running and drops the rest.
    const QString table = QStringLiteral("executor_dropped_%1").arg(suffix());
    auto calledAfterDestruction = std::make_shared<bool>(false);
    {
        DatabaseExecutor executor;
        for (const QString& sql :
             {QStringLiteral("SELECT pg_sleep(0.3)"), QStringLiteral("CREATE TABLE %1 (id INTEGER)").arg(table)})
            executor.executeQuery(sql, c, [calledAfterDestruction](const QueryResultPtr&, const QString&) {
                *calledAfterDestruction = true;
            });
        QThread::msleep(100);
    }
    QTest::qWait(50);
    QVERIFY(!*calledAfterDestruction);
    const auto created = run(m_executor, QStringLiteral("SELECT to_regclass('%1')").arg(table), c);
    QVERIFY2(created->result, qPrintable(created->error));
    QVERIFY2(!created->result->rows.first().first(), "a statement queued behind the executor's end still ran");
}

QTEST_GUILESS_MAIN(TestDatabaseExecutor)
#include "tst_databaseexecutor.moc"
