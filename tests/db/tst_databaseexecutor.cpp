#include "db/DatabaseExecutor.h"
#include "db/ServerCancel.h"
#include "db/StatementControl.h"
#include "support/TestDatabases.h"

#include <QCoreApplication>
#include <QDir>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>
#include <csignal>
#include <memory>
#include <thread>
#include <unistd.h>

using namespace Qt::Literals::StringLiterals;
using namespace TestDatabases;

// One suite over both servers that scripts/lib/dbservers.sh starts.
namespace {

const auto kPostgreSQL = u"postgresql"_s;
const auto kMySQL = u"mysql"_s;
struct Outcome
{
    bool done = false;
    bool onMainThread = false;
    QueryResultPtr result;
    QString error;
    QueryError::Kind kind = QueryError::Kind::Failed;
    DatabaseExecutor::Ticket ticket = 0;
    // What an export reports besides
    std::optional<quint64> rows;
    QList<quint64> progress;
};

enum class Access { ReadOnly, ReadWrite };

// ReadWrite is what a confirmed statement gets.
std::shared_ptr<Outcome> submit(DatabaseExecutor& executor, const QString& sql, const DatabaseConnection& c,
                                Access access = Access::ReadWrite)
{
    auto outcome = std::make_shared<Outcome>();
    outcome->ticket = executor.executeQuery(
        sql, c, {access == Access::ReadOnly}, &executor, [outcome](const QueryResultPtr& result, const QueryError& e) {
            const bool onMainThread = QThread::currentThread() == QCoreApplication::instance()->thread();
            std::tie(outcome->done, outcome->onMainThread, outcome->result, outcome->error, outcome->kind) =
                std::tuple(true, onMainThread, result, e.message, e.kind);
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

// The result on one line: columns | first … last kept row | kept of counted | summary, the
// summary's time left out once it matches executionTime. Text is quoted and the null
// marker shows as ∅, so that NULL, '' and 'NULL' all differ.
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
    const QString time = u" (%1ms)"_s.arg(r.executionTime * 1000, 0, 'f', 1);
    parts << u"%1 of %2"_s.arg(r.rows.size()).arg(r.rowCount)
          << (r.statusMessage.endsWith(time) ? r.statusMessage.chopped(time.size()) : r.statusMessage);
    return parts.join(u" | "_s);
}

std::shared_ptr<Outcome> startExport(DatabaseExecutor& executor, const QString& sql, const DatabaseConnection& c,
                                     const QString& path)
{
    auto state = std::make_shared<Outcome>();
    state->ticket = executor.exportCSV(
        sql, c, path, &executor, [state](quint64 rows) { state->progress << rows; },
        [state](std::optional<quint64> rows, const QueryError& e) {
            std::tie(state->done, state->rows, state->error, state->kind) = std::tuple(true, rows, e.message, e.kind);
        });
    return state;
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("absent");
}

// A server on loopback that plays the opening of a database protocol and keeps what the
// client sends once encryption has been refused: MySQL gets a greeting of a MariaDB server
// without the TLS capability (0x800); PostgreSQL's requests for TLS or GSS encryption are
// answered "N". The first packet beyond that ends the connection.
class HandshakeServer final : public QTcpServer
{
public:
    explicit HandshakeServer(bool mysql)
    {
        listen(QHostAddress::LocalHost);
        connect(this, &QTcpServer::newConnection, this, [this, mysql] {
            QTcpSocket* socket = nextPendingConnection();
            if (mysql) {
                static const char greeting[] = "\x0a"
                                               "5.5.5-10.11.0-MariaDB\0\x07\0\0\0abcdefgh\0\x0f\xa2\x21\x02\0\x3f\0\x15"
                                               "\0\0\0\0\0\0\0\0\0\0ijklmnopqrst\0mysql_native_password";
                socket->write(QByteArray(1, char(sizeof greeting)) + QByteArray(3, '\0'));
                socket->write(greeting, sizeof greeting);
            }
            connect(socket, &QTcpSocket::readyRead, this, [this, socket, mysql] {
                received += socket->readAll();
                while (!mysql && (received.startsWith(QByteArray("\0\0\0\x08\x04\xd2\x16\x2f", 8)) ||
                                  received.startsWith(QByteArray("\0\0\0\x08\x04\xd2\x16\x30", 8)))) {
                    received.remove(0, 8);
                    socket->write("N");
                }
                const auto length = [&] {
                    const auto* b = reinterpret_cast<const uchar*>(received.constData());
                    return mysql ? 4 + (b[0] | b[1] << 8 | b[2] << 16) : qFromBigEndian<quint32>(b);
                };
                if (received.size() >= 4 && received.size() >= qsizetype(length()))
                    socket->abort();
            });
        });
    }
    QByteArray received;
};

} // namespace

class TestDatabaseExecutor : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        if (const auto c = TestDatabases::connection(kMySQL)) {
            for (const char* sql :
                 {// Fails its row 5000 with an error raised while rows are streaming.
                  "CREATE FUNCTION fail_at_%1(n BIGINT) RETURNS BIGINT DETERMINISTIC BEGIN IF n = 5000 "
                  "THEN SIGNAL SQLSTATE '22012' SET MESSAGE_TEXT = 'Division by zero'; END IF; RETURN n; END",
                  "CREATE TABLE procedure_log_%1 (n INT)",
                  // Procedures that return several results, and one that fails after a row and a write.
                  "CREATE PROCEDURE row_write_fail_%1() BEGIN SELECT 1 AS a; INSERT INTO procedure_log_%1 VALUES (1); "
                  "SIGNAL SQLSTATE '45000' SET MESSAGE_TEXT = 'The procedure failed'; END",
                  "CREATE PROCEDURE two_selects_%1() BEGIN SELECT 1 AS first; SELECT 2 AS second, NULL AS c; END",
                  "CREATE PROCEDURE select_then_write_%1() BEGIN SELECT 'x' AS v; "
                  "INSERT INTO procedure_log_%1 VALUES (2); END"}) {
                const auto created = run(m_executor, suffixed(sql), *c);
                QVERIFY2(created->result, qPrintable(created->error));
            }
        }
    }

    void cleanupTestCase()
    {
        if (const auto c = TestDatabases::connection(kMySQL)) {
            for (const char* sql :
                 {"DROP FUNCTION IF EXISTS fail_at_%1", "DROP PROCEDURE IF EXISTS row_write_fail_%1",
                  "DROP PROCEDURE IF EXISTS two_selects_%1", "DROP PROCEDURE IF EXISTS select_then_write_%1",
                  "DROP TABLE IF EXISTS procedure_log_%1"})
                run(m_executor, suffixed(sql), *c);
        }
    }

    // Reads run in a read-only session, as the workspace submits them, and come back as in an
    // ordinary one; "confirmed" rows run able to write. The connection's failures are
    // tst_connectionsheet's, which tests against the same servers.
    void statements_data()
    {
        QTest::addColumn<QString>("type");
        QTest::addColumn<QString>("sql");
        QTest::addColumn<QString>("expected"); // describe() without the time, or a pattern for the whole error
        QTest::addColumn<QString>("change"); // "ssl" on, "localhost" as the host, the "latin2" database, or "confirmed"
        for (const QString& type : {kPostgreSQL, kMySQL}) {
            const bool pg = type == kPostgreSQL;
            const auto row = [&](const char* name, const QString& sql, const QString& expected,
                                 const char* change = "") {
                QTest::addRow("%s: %s", qPrintable(type), name) << type << sql << expected << change;
            };
            row("null, empty and the text NULL", u"SELECT NULL AS a, '' AS b, 'NULL' AS c"_s,
                u"a,b,c | ∅,'','NULL' | 1 of 1 | 1 row"_s);
            // The server itself says whether the session it serves is encrypted.
            row("ssl on",
                pg ? u"SELECT ssl::int AS e FROM pg_stat_ssl WHERE pid = pg_backend_pid()"_s
                   : u"SELECT VARIABLE_VALUE <> '' AS e FROM information_schema.SESSION_STATUS "
                     "WHERE VARIABLE_NAME = 'Ssl_cipher'"_s,
                u"e | '1' | 1 of 1 | 1 row"_s, "ssl");
            // The error comes after thousands of rows have already been sent.
            row("error mid-stream",
                pg ? u"SELECT 1 / (g - 5000) FROM generate_series(1, 10000) AS g"_s
                   : suffixed("SELECT fail_at_%1(seq) FROM seq_1_to_10000"),
                pg ? u"ERROR:  division by zero\n"_s : u"Division by zero"_s);
        }
        const auto row = [](const char* name, const QString& type, const QString& sql, const QString& expected,
                            const char* change = "") {
            QTest::addRow("%s: %s", qPrintable(type), name) << type << sql << expected << change;
        };
        // Bytes that are not valid UTF-8 are read as Latin-1.
        row("latin-1 value", kMySQL, u"SELECT X'636166E9' AS v"_s, u"v | 'café' | 1 of 1 | 1 row"_s);
        // The rows kept are capped; the rest are only counted.
        row("10001 rows", kMySQL, u"SELECT seq AS n FROM seq_1_to_10001"_s,
            u"n | '1' … '10000' | 10000 of 10001 | Showing 10000 of 10001 rows"_s);
        row("last of several statements", kPostgreSQL, u"SELECT g FROM generate_series(1, 20000) AS g; SELECT 2 AS b"_s,
            u"b | '2' | 1 of 1 | 1 row"_s);
        // Text the server converts from UTF-8 bytes into the database's or the column's character
        // set must come back, and match a literal in a filter, exactly.
        // value: an expression of %1, the text's UTF-8 bytes in hex.
        const auto text = [](const QString& shown, const QString& value) {
            return (u"SELECT v FROM (SELECT "_s + value + u" AS v) AS t WHERE v = '%2'"_s)
                .arg(QString::fromLatin1(shown.toUtf8().toHex()), shown);
        };
        const QString pgText = u"convert_from('\\x%1'::bytea, 'UTF8')"_s;
        row("text in a LATIN2 database", kPostgreSQL, text(u"Łódź"_s, pgText), u"v | 'Łódź' | 1 of 1 | 1 row"_s,
            "latin2");
        row("latin1 text", kMySQL, text(u"Grüße, café"_s, u"CONVERT(CONVERT(X'%1' USING utf8mb4) USING latin1)"_s),
            u"v | 'Grüße, café' | 1 of 1 | 1 row"_s);
        row("text outside the BMP", kMySQL, text(u"🐘 Łódź"_s, u"CONVERT(X'%1' USING utf8mb4)"_s),
            u"v | '🐘 Łódź' | 1 of 1 | 1 row"_s);
        // The host name "localhost" goes over TCP to the record's port, not to the local socket.
        row("localhost", kMySQL, u"SELECT 1 AS a"_s, u"a | '1' | 1 of 1 | 1 row"_s, "localhost");
        // Every result of a procedure is read: the first error is the statement's, else the
        // last result with columns is shown.
        row("procedure fails after a row", kMySQL, suffixed("CALL row_write_fail_%1()"), u"The procedure failed"_s,
            "confirmed");
        row("procedure with two selects", kMySQL, suffixed("CALL two_selects_%1()"),
            u"second,c | '2',∅ | 1 of 1 | 1 row"_s);
        row("procedure selects, then writes", kMySQL, suffixed("CALL select_then_write_%1()"),
            u"v | 'x' | 1 of 1 | 1 row"_s, "confirmed");
    }

    void statements()
    {
        QFETCH(QString, type);
        QFETCH(QString, sql);
        QFETCH(QString, expected);
        QFETCH(QString, change);
        MIRELO_REQUIRE_DATABASE(c, type, Server::Tls,
                                change == u"latin2" ? TestDatabases::variable(type, "LATIN2_DATABASE") : QString());
        c.ssl = change == u"ssl";
        if (change == u"localhost")
            c.host = u"localhost"_s;
        const auto outcome = run(m_executor, sql, c, change == u"confirmed" ? Access::ReadWrite : Access::ReadOnly);
        if (outcome->result) {
            QVERIFY(outcome->error.isEmpty() && outcome->result->executionTime > 0);
            QCOMPARE(describe(*outcome->result), expected);
        } else {
            const QRegularExpression pattern(QRegularExpression::anchoredPattern(expected),
                                             QRegularExpression::DotMatchesEverythingOption);
            QVERIFY2(pattern.match(outcome->error).hasMatch(), qPrintable(outcome->error));
        }
    }

    // A library that is missing, or opens without the client functions, fails each statement
    // with the instructions; restoring the search list needs no restart (completions runs next).
    void missingLibrary()
    {
        MIRELO_REQUIRE_DATABASE(c, kPostgreSQL);
        const auto restore =
            qScopeGuard([] { DatabaseExecutor::setLibrarySearchListForTesting(kPostgreSQL, std::nullopt); });
        for (const QString& library : {u"/nonexistent/libclient.so"_s, u"libm.so.6"_s}) {
            DatabaseExecutor::setLibrarySearchListForTesting(kPostgreSQL, QStringList{library});
            const auto missing = run(m_executor, u"SELECT 1"_s, c);
            QVERIFY(!DatabaseExecutor::isAvailableForType(kPostgreSQL) && !missing->result);
            QCOMPARE(missing->error, DatabaseExecutor::installInstructionsForType(kPostgreSQL));
        }
        // A record of a type this build does not know, from a newer or damaged file.
        c.type = u"oracle"_s;
        QCOMPARE(run(m_executor, u"SELECT 1"_s, c)->error, u"Unsupported database type."_s);
    }

    void completions()
    {
        // Submitted at once, each statement depends on the one before it.
        MIRELO_REQUIRE_DATABASE(c, kPostgreSQL);
        const QString table = suffixed("executor_order_%1");
        QList<std::shared_ptr<Outcome>> outcomes;
        for (const char* sql :
             {"CREATE TABLE %1 (id INTEGER, v VARCHAR(10))", "INSERT INTO %1 VALUES (1, 'a'), (2, 'b'), (3, 'c')",
              "UPDATE %1 SET v = 'z' WHERE id <= 2", "SELECT v FROM %1 ORDER BY id", "DROP TABLE %1"})
            outcomes << submit(m_executor, QString::fromUtf8(sql).arg(table), c);
        QVERIFY(QTest::qWaitFor([&] { return outcomes.last()->done; }, 90000));
        QStringList seen;
        for (const auto& o : std::as_const(outcomes))
            seen << (!o->onMainThread ? u"off the main thread"_s : o->result ? describe(*o->result) : o->error);
        QCOMPARE(seen, (QStringList{u" | 0 of 0 | OK — 0 rows affected"_s, u" | 0 of 0 | OK — 3 rows affected"_s,
                                    u" | 0 of 0 | OK — 2 rows affected"_s, u"v | 'z' … 'c' | 3 of 3 | 3 rows"_s,
                                    u" | 0 of 0 | OK — 0 rows affected"_s}));

        auto heard = std::make_shared<int>(0); // completions that should never come
        const auto count = [heard](const QueryResultPtr&, const QString&) { ++*heard; };
        // A caller that is gone by the time its statement ends hears nothing.
        auto context = std::make_unique<QObject>();
        m_executor.executeQuery(u"SELECT pg_sleep(0.2)"_s, c, context.get(), count);
        context.reset();
        QVERIFY(run(m_executor, u"SELECT 1"_s, c)->result);

        // An executor going away waits for the statement it is running and drops the rest. The
        // sleep outlasts a loaded machine's slowest look at pg_stat_activity.
        {
            DatabaseExecutor executor;
            executor.executeQuery(u"SELECT pg_sleep(2)"_s, c, count);
            executor.executeQuery(u"CREATE TABLE %1 (id INTEGER)"_s.arg(table), c, count);
            QTRY_COMPARE_WITH_TIMEOUT(
                firstValue(m_observer, u"SELECT count(*) FROM pg_stat_activity WHERE query = 'SELECT pg_sleep(2)'"_s,
                           c),
                u"1"_s, 10000);
        }
        QCOMPARE(*heard, 0);
        QCOMPARE(firstValue(m_executor, u"SELECT to_regclass('%1') IS NULL"_s.arg(table), c), u"t"_s);
    }

    void noticesAreCollected()
    {
        MIRELO_REQUIRE_DATABASE(c, kPostgreSQL);
        // Collected, they no longer reach standard error either: the receiver replaces libpq's.
        const auto outcome = run(m_executor,
                                 suffixed("DROP TABLE IF EXISTS no_such_table_%1; DO $$BEGIN RAISE NOTICE "
                                          "'second, with ''quotes'''; END$$"),
                                 c);
        QVERIFY2(outcome->result, qPrintable(outcome->error));
        QCOMPARE(outcome->result->notices,
                 (QStringList{suffixed("NOTICE:  table \"no_such_table_%1\" does not exist, skipping"),
                              u"NOTICE:  second, with 'quotes'"_s}));
    }

    // With ssl on, nothing; with ssl off, the login, which shows the server would have seen one.
    void noLoginBeforeEncryption_data()
    {
        QTest::addColumn<QString>("type");
        QTest::addColumn<bool>("ssl");
        for (const QString& type : {kMySQL, kPostgreSQL}) {
            QTest::addRow("%s: ssl on", qPrintable(type)) << type << true;
            QTest::addRow("%s: ssl off", qPrintable(type)) << type << false;
        }
    }

    void noLoginBeforeEncryption()
    {
        QFETCH(QString, type);
        QFETCH(bool, ssl);
        if (!DatabaseExecutor::isAvailableForType(type))
            QSKIP("The client library is not installed.");
        const bool pg = type == kPostgreSQL;
        HandshakeServer server(!pg);
        QVERIFY(server.isListening());
        DatabaseConnection c;
        std::tie(c.type, c.host, c.port, c.username, c.password, c.ssl) =
            std::tuple(type, u"127.0.0.1"_s, server.serverPort(), u"mirelo_probe"_s, u"secret"_s, ssl);
        const auto outcome = run(m_executor, u"SELECT 1"_s, c);
        QVERIFY2(!outcome->result && outcome->error.startsWith(u"Connection failed: "_s), qPrintable(outcome->error));
        if (ssl && !pg)
            QCOMPARE(outcome->error,
                     u"Connection failed: the server does not offer SSL, but this connection requires it."_s);
        const QByteArray login = pg ? QByteArray("user\0mirelo_probe\0", 18) : QByteArray("mirelo_probe\0", 13);
        QCOMPARE(server.received.contains(login), !ssl);
        QCOMPARE(server.received.isEmpty(), ssl);
    }

    // What each server's read-only session stops (text that lifts the mode itself is the
    // classifier's to catch): each statement, run on a table ro_t_… holding the value 1 and a
    // fresh sequence ro_s_…, changes nothing read-only and does its work once confirmed.
    void readOnlySessions_data()
    {
        QTest::addColumn<QString>("type");
        QTest::addColumn<QString>("sql");
        QTest::addColumn<QString>("check");  // a query whose first value shows the statement's effect
        QTest::addColumn<QString>("values"); // that value after the read-only run, then after the confirmed one
        const auto row = [](const char* name, const QString& type, const char* sql, const char* check,
                            const char* values) {
            QTest::addRow("%s: %s", qPrintable(type), name)
                << type << suffixed(sql) << suffixed(check) << QString::fromLatin1(values);
        };
        row("create table", kPostgreSQL, "CREATE TABLE ro_new_%1 (id INTEGER)",
            "SELECT to_regclass('ro_new_%1') IS NOT NULL", "f t");
        row("nextval", kPostgreSQL, "select nextval('ro_s_%1')", "SELECT is_called FROM ro_s_%1", "f t");
        row("insert", kMySQL, "INSERT INTO ro_t_%1 VALUES (1)", "SELECT count(*) FROM ro_t_%1", "1 2");
        row("optimize table", kMySQL, "OPTIMIZE TABLE ro_t_%1", "", "");
    }

    void readOnlySessions()
    {
        QFETCH(QString, type);
        QFETCH(QString, sql);
        QFETCH(QString, check);
        QFETCH(QString, values);
        MIRELO_REQUIRE_DATABASE(c, type);
        const bool pg = type == kPostgreSQL;
        const auto tidy = qScopeGuard([&] {
            run(m_executor, suffixed("DROP TABLE IF EXISTS ro_t_%1, ro_new_%1"), c);
            run(m_executor, suffixed("DROP SEQUENCE IF EXISTS ro_s_%1"), c);
        });
        for (const char* statement : {"CREATE TABLE ro_t_%1 AS SELECT 1 AS id", "CREATE SEQUENCE ro_s_%1"}) {
            const auto done = run(m_executor, suffixed(statement), c);
            QVERIFY2(done->result, qPrintable(done->error));
        }

        const auto readOnly = run(m_executor, sql, c, Access::ReadOnly);
        QCOMPARE(readOnly->kind, QueryError::Kind::RefusedAsWrite);
        // The server's own reason, for the confirmation to show.
        const QRegularExpression reason(pg ? u"^ERROR:  cannot execute .+ in a read-only transaction\n$"_s
                                           : u"^Cannot execute statement in a READ ONLY transaction$"_s);
        QVERIFY2(!readOnly->result && reason.match(readOnly->error).hasMatch(), qPrintable(readOnly->error));
        if (!check.isEmpty())
            QCOMPARE(firstValue(m_executor, check, c), values.section(u' ', 0, 0));

        const auto confirmed = run(m_executor, sql, c, Access::ReadWrite);
        QVERIFY2(confirmed->result, qPrintable(confirmed->error));
        if (!check.isEmpty())
            QCOMPARE(firstValue(m_executor, check, c), values.section(u' ', 1));
    }
    void cancel_data() { bothServers(); }

    void cancel()
    {
        QFETCH(QString, type);
        MIRELO_REQUIRE_DATABASE(c, type);
        const bool pg = type == kPostgreSQL;
        const QString sleep = suffixed(pg ? "SELECT pg_sleep(30) AS cancel_me_%1" : "SELECT SLEEP(30) AS cancel_me_%1");
        const QString running = runningCount(type, sleep);

        const auto sleeping = submit(m_executor, sleep, c, Access::ReadOnly);
        const auto next = submit(m_executor, u"SELECT 2 AS b"_s, c, Access::ReadOnly);
        QTRY_COMPARE_WITH_TIMEOUT(firstValue(m_observer, running, c), u"1"_s, 30000);
        m_executor.cancel(sleeping->ticket);
        // Well within the statement's 30 seconds, so it was stopped.
        QTRY_VERIFY_WITH_TIMEOUT(sleeping->done, 10000);
        QVERIFY(!sleeping->result && sleeping->onMainThread);
        QCOMPARE(sleeping->kind, QueryError::Kind::Cancelled);
        QCOMPARE(sleeping->error, u"Query cancelled."_s);
        // The queue moves on, and the server no longer runs the statement.
        QTRY_VERIFY_WITH_TIMEOUT(next->done, 10000);
        QVERIFY2(next->result, qPrintable(next->error));
        QTRY_COMPARE_WITH_TIMEOUT(firstValue(m_observer, running, c), u"0"_s, 10000);

        // A statement still waiting in the queue completes cancelled and never runs.
        const QString table = suffixed("cancelled_%1");
        const auto blocking = submit(m_executor, sleep, c, Access::ReadOnly);
        const auto waiting = submit(m_executor, u"CREATE TABLE %1 (id INTEGER)"_s.arg(table), c);
        m_executor.cancel(waiting->ticket);
        m_executor.cancel(blocking->ticket);
        QTRY_VERIFY_WITH_TIMEOUT(waiting->done, 10000);
        QCOMPARE(blocking->kind, QueryError::Kind::Cancelled);
        QVERIFY(!waiting->result && waiting->kind == QueryError::Kind::Cancelled);
        QCOMPARE(
            firstValue(m_observer,
                       pg ? u"SELECT to_regclass('%1') IS NULL"_s.arg(table)
                          : u"SELECT count(*) = 0 FROM information_schema.TABLES WHERE TABLE_NAME = '%1'"_s.arg(table),
                       c),
            pg ? u"t"_s : u"1"_s);
    }
    // A stop wakes the statement's wait, and the statement then ends and forgets how to ask
    // the server to stop it; the server must have been asked by then, or it runs on.
    void stopAsksTheServerFirst()
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
    void frozenServer_data() { bothServers(); }

    // A statement waits for a lock; its server process is frozen; the lock is released, so a
    // live server would answer at once. The executor must give up at its deadline.
    void frozenServer()
    {
        QFETCH(QString, type);
        MIRELO_REQUIRE_DATABASE(c, type, Server::Plain);
        const bool pg = type == kPostgreSQL;
        const QString holding = suffixed(pg ? "SELECT pg_advisory_lock(%1), pg_sleep(60) AS holder"
                                            : "SELECT GET_LOCK('frozen_%1', 0), SLEEP(60) AS holder");
        const QString held =
            suffixed(pg ? "SELECT count(*) FROM pg_locks WHERE locktype = 'advisory' AND objid = %1 AND granted"
                        : "SELECT IS_USED_LOCK('frozen_%1') IS NOT NULL");
        const QString waiting =
            suffixed(pg ? "SELECT pg_advisory_lock(%1) AS waiter" : "SELECT GET_LOCK('frozen_%1', 30) AS waiter");
        const QString literal = QString(waiting).replace(u"'"_s, u"''"_s);
        const QString waits =
            (pg ? u"SELECT count(*) FROM pg_stat_activity WHERE query = '%1' AND wait_event_type = 'Lock'"_s
                : u"SELECT count(*) FROM information_schema.PROCESSLIST WHERE INFO = '%1'"_s)
                .arg(literal);

        const auto holder = submit(m_executor, holding, c, Access::ReadOnly);
        const auto releaseHolder = qScopeGuard([&] { m_executor.cancel(holder->ticket); });
        QTRY_COMPARE_WITH_TIMEOUT(firstValue(m_observer, held, c), u"1"_s, 30000);

        DatabaseExecutor executor;
        executor.setStatementTimeLimitForTesting(std::chrono::seconds(3));
        const auto waiter = submit(executor, waiting, c, Access::ReadOnly);
        QTRY_COMPARE_WITH_TIMEOUT(firstValue(m_observer, waits, c), u"1"_s, 30000);

        QFile pidFile(TestDatabases::variable(type, "PLAIN_PID_FILE"));
        const pid_t process =
            pid_t(pg ? firstValue(m_observer, u"SELECT pid FROM pg_stat_activity WHERE query = '%1'"_s.arg(literal), c)
                           .toLongLong()
                     : (pidFile.open(QIODevice::ReadOnly) ? pidFile.readAll().trimmed().toLongLong() : 0));
        QVERIFY2(process > 0 && !waiter->done,
                 "no process to freeze, or the statement ended before it could be frozen");
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
    void exportWholeResult_data() { bothServers(); }

    void exportWholeResult()
    {
        QFETCH(QString, type);
        MIRELO_REQUIRE_DATABASE(c, type);
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
        QVERIFY2(exported->rows, qPrintable(exported->error));
        QCOMPARE(*exported->rows, quint64(25000));
        const QByteArray file = readFile(path);
        QVERIFY(file.startsWith("n,\"value, quoted\"\n1,\"a,b\"\n2,\"say \"\"hi\"\"\"\n3,\"two\nlines\"\n4,\n5,\n"
                                "6,🐘 Łódź\n7,row 7\n"));
        QVERIFY(file.endsWith("\n25000,row 25000\n"));
        QCOMPARE(file.count('\n'), 25000 + 2);
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{u"whole.csv"_s});
    }

    // Complete or absent: an export that fails, or is cancelled while rows trickle in for
    // minutes, leaves the earlier file untouched and nothing beside it.
    void exportFailures_data()
    {
        QTest::addColumn<QString>("type");
        QTest::addColumn<QString>("sql");
        QTest::addColumn<QueryError::Kind>("kind");
        QTest::addColumn<QString>("error");
        QTest::newRow("postgresql: error after thousands of rows")
            << kPostgreSQL << u"SELECT 1 / (g - 5000) AS v FROM generate_series(1, 10000) AS g"_s
            << QueryError::Kind::Failed << u"ERROR:  division by zero\n"_s;
        QTest::newRow("mysql: a write") << kMySQL << suffixed("CREATE TABLE export_%1 AS SELECT 1 AS a")
                                        << QueryError::Kind::RefusedAsWrite
                                        << u"Cannot execute statement in a READ ONLY transaction"_s;
        QTest::newRow("postgresql: cancelled")
            << kPostgreSQL << u"SELECT g, pg_sleep(0.0005) FROM generate_series(1, 500000) AS g"_s
            << QueryError::Kind::Cancelled << u"Query cancelled."_s;
    }

    void exportFailures()
    {
        QFETCH(QString, type);
        QFETCH(QString, sql);
        QFETCH(QueryError::Kind, kind);
        QFETCH(QString, error);
        MIRELO_REQUIRE_DATABASE(c, type);
        QTemporaryDir dir;
        const QString path = dir.filePath(u"whole.csv"_s);
        QFile earlier(path);
        QVERIFY(earlier.open(QIODevice::WriteOnly) && earlier.write("earlier export\n") > 0);
        earlier.close();
        const auto exported = startExport(m_executor, sql, c, path);
        if (kind == QueryError::Kind::Cancelled) {
            QTRY_VERIFY_WITH_TIMEOUT(exported->progress.size() >= 2, 60000);
            QVERIFY(!exported->done);
            QVERIFY(exported->progress.first() > 0 && exported->progress.first() < exported->progress.last());
            m_executor.cancel(exported->ticket);
        }
        QTRY_VERIFY_WITH_TIMEOUT(exported->done, 90000);
        QVERIFY(!exported->rows);
        QCOMPARE(exported->kind, kind);
        QCOMPARE(exported->error, error);
        QCOMPARE(readFile(path), QByteArray("earlier export\n"));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{u"whole.csv"_s});
    }

private:
    DatabaseExecutor m_executor;
    // Looks at the servers while m_executor is busy.
    DatabaseExecutor m_observer;
};
QTEST_GUILESS_MAIN(TestDatabaseExecutor)
#include "tst_databaseexecutor.moc"
