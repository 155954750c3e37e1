#include "db/DatabaseExecutor.h"
#include "devserver/PromptMatcher.h"
#include "server/APIManager.h"
#include "stores/QuerySettings.h"

#include <QCryptographicHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

using namespace Qt::StringLiterals;

// The real demo server binary on free ports, spoken to by the application's own API client,
// and its SQL run by the application's executor against the sample shop that
// scripts/lib/dbservers.sh loads into both test servers.
namespace {

const auto kPostgreSQL = u"postgresql"_s;
const auto kMySQL = u"mysql"_s;
const auto kKey = u"demo-key-1"_s;
const auto kFileKey = u"demo-key-2"_s;

std::optional<DatabaseConnection> shopConnection(const QString& type)
{
    const QString prefix = type == kPostgreSQL ? u"MIRELO_TEST_PG_"_s : u"MIRELO_TEST_MYSQL_"_s;
    const auto env = [&](const char* name) { return qEnvironmentVariable((prefix + QLatin1String(name)).toLatin1()); };
    if (env("PORT").isEmpty() || env("SHOP_DATABASE").isEmpty())
        return std::nullopt;
    DatabaseConnection c;
    c.type = type;
    c.host = env("HOST");
    c.port = env("PORT").toLongLong();
    c.database = env("SHOP_DATABASE");
    c.username = env("USER");
    c.password = env("PASSWORD");
    return c;
}

// Under scripts/test the servers must be there; run by hand, their absence skips.
#define REQUIRE_SHOP(var, type)                                                                                        \
    const std::optional<DatabaseConnection> var##Found = shopConnection(type);                                         \
    if (!var##Found) {                                                                                                 \
        if (qEnvironmentVariableIsSet("MIRELO_TEST_DB_REQUIRED"))                                                      \
            QFAIL("The database servers' MIRELO_TEST_* variables are missing.");                                       \
        QSKIP("No sample databases: run scripts/test, or source scripts/lib/dbservers.sh and mirelo_db_start.");       \
    }                                                                                                                  \
    const DatabaseConnection var = *var##Found

// One running devserver; its standard output is collected as it arrives.
class ServerProcess final
{
public:
    ~ServerProcess() { stop(); }

    // Starts the server and reads the first line for its address. Empty on success.
    QString start(const QStringList& arguments)
    {
        m_process.setProgram(QStringLiteral(MIRELO_DEVSERVER_PATH));
        m_process.setArguments(arguments);
        m_process.start();
        if (!m_process.waitForStarted(10000))
            return m_process.errorString();
        while (!m_process.canReadLine()) {
            if (!m_process.waitForReadyRead(10000))
                return u"no address line; stderr: "_s + QString::fromUtf8(m_process.readAllStandardError());
        }
        const QString line = QString::fromUtf8(m_process.readLine()).trimmed();
        static const QRegularExpression shape(u"^Listening on (http://127\\.0\\.0\\.1:(\\d+))$"_s);
        const QRegularExpressionMatch m = shape.match(line);
        if (!m.hasMatch() || m.captured(2).toInt() == 0)
            return u"unexpected first line: "_s + line;
        m_baseUrl = m.captured(1);
        return {};
    }

    void stop()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(10000);
        }
    }

    QString baseUrl() const { return m_baseUrl; }

    // Everything logged after the address line so far.
    QString log()
    {
        m_log += QString::fromUtf8(m_process.readAllStandardOutput());
        return m_log;
    }

private:
    QProcess m_process;
    QString m_baseUrl;
    QString m_log;
};

struct Answer
{
    bool done = false;
    std::optional<QString> sql;
    QString error;
};

struct Run
{
    bool done = false;
    QueryResultPtr result;
    QString error;
};

QString settingsText(const GenerationSettings& s)
{
    return u"writes %1, auto-fix %2, my data %3, single %4"_s.arg(s.allowDestructive)
        .arg(s.selfCorrection)
        .arg(s.dataIsolation)
        .arg(s.singularResults);
}

void applySettings(const GenerationSettings& s)
{
    QuerySettings& settings = QuerySettings::shared();
    settings.setAllowDestructive(s.allowDestructive);
    settings.setSelfCorrection(s.selfCorrection);
    settings.setDataIsolation(s.dataIsolation);
    settings.setSingularResults(s.singularResults);
}

void bothDialects()
{
    QTest::addColumn<QString>("type");
    QTest::newRow("postgresql") << kPostgreSQL;
    QTest::newRow("mysql") << kMySQL;
}

} // namespace

class TestDevServer : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanupTestCase();
    void startupErrors_data();
    void startupErrors();
    void keyCheck_data();
    void keyCheck();
    void generationAnswers_data();
    void generationAnswers();
    void pausedAnswerForAGoneClient();
    void examplesReturnRows_data();
    void examplesReturnRows();
    void examplesRunUnderEverySetting_data() { bothDialects(); }
    void examplesRunUnderEverySetting();
    void plainPatternsRun_data();
    void plainPatternsRun();
    void appcastAndDownload();

private:
    ServerProcess& server(const QString& type) { return type == kPostgreSQL ? m_pg : m_my; }
    Answer generate(const QString& type, const QString& prompt, const QString& key = kKey);
    Run execute(const QString& sql, const DatabaseConnection& connection);
    QNetworkReply* get(const QString& url, const QString& key, const QByteArray& verb = "GET");

    QTemporaryDir m_dir;
    QByteArray m_build;
    ServerProcess m_pg;
    ServerProcess m_my;
    DatabaseExecutor m_executor;
    QNetworkAccessManager m_network;
};

void TestDevServer::initTestCase()
{
    QVERIFY(m_dir.isValid());
    const auto write = [&](const QString& name, const QByteArray& bytes) {
        QFile file(m_dir.filePath(name));
        return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
    };
    QVERIFY(write(u"keys"_s, "# the second key\n\n" + kFileKey.toUtf8() + "\n"));
    QVERIFY(write(u"release.json"_s, R"({"release": {"id": 3, "version": "1.4.0", "build": 42, "notes": "Faster."}})"));
    for (int i = 0; i < 70000; ++i)
        m_build.append(char('A' + i % 26));
    QVERIFY(write(u"Mirelo 1.4.zip"_s, m_build));

    QString error =
        m_pg.start({u"--port"_s, u"0"_s, u"--api-key"_s, kKey, u"--api-key-file"_s, m_dir.filePath(u"keys"_s),
                    u"--dialect"_s, kPostgreSQL, u"--appcast"_s, m_dir.filePath(u"release.json"_s), u"--build-file"_s,
                    m_dir.filePath(u"Mirelo 1.4.zip"_s)});
    QVERIFY2(error.isEmpty(), qPrintable(error));
    error = m_my.start({u"--api-key"_s, kKey, u"--dialect"_s, kMySQL});
    QVERIFY2(error.isEmpty(), qPrintable(error));
}

void TestDevServer::init()
{
    applySettings(GenerationSettings());
}

void TestDevServer::cleanupTestCase()
{
    m_pg.stop();
    m_my.stop();
}

Answer TestDevServer::generate(const QString& type, const QString& prompt, const QString& key)
{
    APIManager& api = APIManager::shared();
    api.setServerURL(server(type).baseUrl());
    api.setApiKey(key);
    auto answer = std::make_shared<Answer>();
    api.searchWithPrompt(prompt, [answer](const std::optional<QString>& sql, const QString& error) {
        *answer = {true, sql, error};
    });
    (void)QTest::qWaitFor([&] { return answer->done; }, 20000);
    return *answer;
}

Run TestDevServer::execute(const QString& sql, const DatabaseConnection& connection)
{
    auto run = std::make_shared<Run>();
    m_executor.executeQuery(sql, connection, [run](const QueryResultPtr& result, const QString& error) {
        *run = {true, result, error};
    });
    (void)QTest::qWaitFor([&] { return run->done; }, 60000);
    return *run;
}

QNetworkReply* TestDevServer::get(const QString& url, const QString& key, const QByteArray& verb)
{
    QNetworkRequest request{QUrl(url)};
    if (!key.isEmpty())
        request.setRawHeader("x-api-key", key.toUtf8());
    QNetworkReply* reply = m_network.sendCustomRequest(request, verb);
    (void)QTest::qWaitFor([&] { return reply->isFinished(); }, 20000);
    return reply;
}

void TestDevServer::startupErrors_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("message");
    QTest::newRow("no key") << QStringList{} << u"Give at least one API key"_s;
    QTest::newRow("empty key file") << QStringList{u"--api-key-file"_s, u"/dev/null"_s}
                                    << u"Give at least one API key"_s;
    QTest::newRow("unknown dialect") << QStringList{u"--api-key"_s, u"k"_s, u"--dialect"_s, u"oracle"_s}
                                     << u"The dialect must be postgresql or mysql"_s;
    QTest::newRow("build without release")
        << QStringList{u"--api-key"_s, u"k"_s, u"--build-file"_s, u"/dev/null"_s} << u"A build file needs --appcast"_s;
    QTest::newRow("missing appcast") << QStringList{u"--api-key"_s, u"k"_s, u"--appcast"_s, u"/nonexistent/a.json"_s}
                                     << u"Could not read /nonexistent/a.json"_s;
    QTest::newRow("bad port") << QStringList{u"--api-key"_s, u"k"_s, u"--port"_s, u"70000"_s}
                              << u"The port must be a number"_s;
}

// A server that cannot serve says why on its error output and exits, printing no address.
void TestDevServer::startupErrors()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, message);
    QProcess process;
    process.start(QStringLiteral(MIRELO_DEVSERVER_PATH), arguments);
    QVERIFY(process.waitForFinished(10000));
    QCOMPARE(process.exitCode(), 2);
    QCOMPARE(process.readAllStandardOutput(), QByteArray());
    const QString error = QString::fromUtf8(process.readAllStandardError());
    QVERIFY2(error.startsWith(message) && error.trimmed().endsWith(u'.'), qPrintable(error));
}

void TestDevServer::keyCheck_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("error");
    QTest::addColumn<QString>("logged");
    QTest::newRow("key from the command line") << kKey << QString() << u"GET /api/v1/health 200 key ok"_s;
    QTest::newRow("key from the key file") << kFileKey << QString() << u"GET /api/v1/health 200 key ok"_s;
    QTest::newRow("wrong key") << u"demo-key-3"_s << u"Invalid API key"_s
                               << u"GET /api/v1/health 401 refused: bad key"_s;
    QTest::newRow("the file's comment is no key")
        << u"# the second key"_s << u"Invalid API key"_s << u"GET /api/v1/health 401 refused: bad key"_s;
    QTest::newRow("no key") << QString() << u"Invalid API key"_s << u"GET /api/v1/health 401 refused: bad key"_s;
}

// The sign-in check as the application makes it, and one log line for it.
void TestDevServer::keyCheck()
{
    QFETCH(QString, key);
    QFETCH(QString, error);
    QFETCH(QString, logged);
    const qsizetype logStart = m_pg.log().size();

    APIManager& api = APIManager::shared();
    api.setServerURL(m_pg.baseUrl() + u"/"_s);
    api.setApiKey(key);
    auto outcome = std::make_shared<std::optional<std::pair<bool, QString>>>();
    api.validateKey([outcome](bool ok, const QString& text) { *outcome = std::pair{ok, text}; });
    QTRY_VERIFY_WITH_TIMEOUT(outcome->has_value(), 20000);
    QCOMPARE((*outcome)->first, error.isEmpty());
    QCOMPARE((*outcome)->second, error);

    QTRY_VERIFY_WITH_TIMEOUT(m_pg.log().mid(logStart).contains(u'\n'), 10000);
    const QStringList lines = m_pg.log().mid(logStart).split(u'\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 1);
    static const QRegularExpression shape(u"^\\d\\d:\\d\\d:\\d\\d (.*)$"_s);
    QCOMPARE(shape.match(lines.first()).captured(1), logged);
}

void TestDevServer::generationAnswers_data()
{
    QTest::addColumn<QString>("type");
    QTest::addColumn<QString>("prompt");
    QTest::addColumn<bool>("writes");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("sqlStart"); // empty when an error is expected
    QTest::addColumn<QString>("errorStart");

    QTest::newRow("an example") << kPostgreSQL << u"Show the 10 most recent orders"_s << false << kKey
                                << u"SELECT o.id, c.name AS customer"_s << QString();
    QTest::newRow("surrounding space and closing mark")
        << kMySQL << u"  count orders? "_s << false << kKey << u"SELECT COUNT(*) AS orders_count"_s << QString();
    QTest::newRow("writes off") << kPostgreSQL << u"delete orders where status is cancelled"_s << false << kKey
                                << QString() << u"[destructive_not_allowed] This prompt asks to change the database"_s;
    QTest::newRow("writes on") << kMySQL << u"delete orders where status is cancelled"_s << true << kKey
                               << u"DELETE FROM orders"_s << QString();
    QTest::newRow("not understood") << kPostgreSQL << u"write me a poem"_s << false << kKey << QString()
                                    << u"[unsupported_prompt] The demo server does not understand “write me a poem”."_s;
    QTest::newRow("unknown table") << kMySQL << u"show invoices"_s << false << kKey << QString()
                                   << u"[unknown_table] The sample database has no table called “invoices”"_s;
    QTest::newRow("empty prompt") << kPostgreSQL << u" "_s << false << kKey << QString()
                                  << u"[invalid_request] The prompt is empty"_s;
    QTest::newRow("wrong key") << kPostgreSQL << u"count orders"_s << false << u"nope"_s << QString()
                               << u"Invalid API key. Please log in again."_s;
    QTest::newRow("after a pause") << kMySQL << u"Wait 1 second, then count orders"_s << false << kKey
                                   << u"SELECT COUNT(*) AS orders_count"_s << QString();
    QTest::newRow("pause too long") << kPostgreSQL << u"wait 61 seconds then count orders"_s << false << kKey
                                    << QString() << u"[unsupported_prompt] The demo server waits from 1 to 60"_s;
    QTest::newRow("no pause") << kPostgreSQL << u"wait 0 seconds, then count orders"_s << false << kKey << QString()
                              << u"[unsupported_prompt] The demo server waits from 1 to 60"_s;
}

// A paused answer whose client has given up is not sent; the server says so and goes on.
void TestDevServer::pausedAnswerForAGoneClient()
{
    const qsizetype logStart = m_pg.log().size();
    APIManager& api = APIManager::shared();
    api.setServerURL(m_pg.baseUrl());
    api.setApiKey(kKey);
    bool called = false;
    api.searchWithPrompt(u"Wait 1 second, then count orders"_s,
                         [&called](const std::optional<QString>&, const QString&) { called = true; });
    // The request has reached the server before it is given up.
    QTRY_VERIFY_WITH_TIMEOUT(m_pg.log().mid(logStart).contains(u"POST /api/v1 200 waiting 1 s before answering\n"_s),
                             10000);
    api.cancelPendingRequests();
    QTRY_VERIFY_WITH_TIMEOUT(m_pg.log().mid(logStart).count(u'\n') == 2, 10000);
    QVERIFY2(m_pg.log().mid(logStart).contains(u"POST /api/v1 200 not sent: the client left during the 1 s pause"_s),
             qPrintable(m_pg.log().mid(logStart)));
    QVERIFY(!called);
    const Answer next = generate(kPostgreSQL, u"count orders"_s);
    QVERIFY2(next.sql, qPrintable(next.error));
}

// What the application makes of each answer: the settings travel with the prompt, refusals
// arrive as "[type] sentence".
void TestDevServer::generationAnswers()
{
    QFETCH(QString, type);
    QFETCH(QString, prompt);
    QFETCH(bool, writes);
    QFETCH(QString, key);
    QFETCH(QString, sqlStart);
    QFETCH(QString, errorStart);
    QuerySettings::shared().setAllowDestructive(writes);
    const Answer answer = generate(type, prompt, key);
    QVERIFY(answer.done);
    if (!sqlStart.isEmpty()) {
        QVERIFY2(answer.sql, qPrintable(answer.error));
        QVERIFY2(answer.sql->startsWith(sqlStart), qPrintable(*answer.sql));
    } else {
        QVERIFY2(!answer.sql, qPrintable(answer.sql.value_or(QString())));
        QVERIFY2(answer.error.startsWith(errorStart), qPrintable(answer.error));
    }
}

void TestDevServer::examplesReturnRows_data()
{
    QTest::addColumn<QString>("type");
    QTest::addColumn<QString>("prompt");
    for (const QString& type : {kPostgreSQL, kMySQL}) {
        for (const QString& prompt : PromptMatcher::examplePrompts())
            QTest::addRow("%s: %s", qPrintable(type), qPrintable(prompt)) << type << prompt;
    }
}

// Each example prompt's SQL runs on the sample shop and finds rows; a count is not zero.
void TestDevServer::examplesReturnRows()
{
    QFETCH(QString, type);
    QFETCH(QString, prompt);
    REQUIRE_SHOP(shop, type);
    const Answer answer = generate(type, prompt);
    QVERIFY2(answer.sql, qPrintable(answer.error));
    const Run run = execute(*answer.sql, shop);
    QVERIFY2(run.result, qPrintable(run.error + u"\n"_s + *answer.sql));
    QVERIFY2(run.result->rowCount > 0, qPrintable(*answer.sql));
    QVERIFY(!run.result->columnNames.isEmpty());
    if (run.result->columnNames.size() == 1) {
        const SQLValue count = run.result->rows.first().first();
        QVERIFY(count);
        QVERIFY2(count->toLongLong() > 0, qPrintable(*count));
    }
}

// Under any combination of the four switches the examples still run; with "My data" on,
// nothing of another customer comes back.
void TestDevServer::examplesRunUnderEverySetting()
{
    QFETCH(QString, type);
    REQUIRE_SHOP(shop, type);
    for (int bits = 0; bits < 16; ++bits) {
        const GenerationSettings s{bool(bits & 1), bool(bits & 2), bool(bits & 4), bool(bits & 8)};
        applySettings(s);
        for (const QString& prompt : PromptMatcher::examplePrompts()) {
            const QString where = prompt + u" with "_s + settingsText(s);
            const Answer answer = generate(type, prompt);
            QVERIFY2(answer.sql, qPrintable(where + u": "_s + answer.error));
            const Run run = execute(*answer.sql, shop);
            QVERIFY2(run.result, qPrintable(where + u": "_s + run.error + u"\n"_s + *answer.sql));
            if (s.dataIsolation && prompt == PromptMatcher::examplePrompts().at(0) && !s.singularResults) {
                const qsizetype customer = run.result->columnNames.indexOf(u"customer"_s);
                QVERIFY(customer >= 0);
                for (const SQLRow& row : run.result->rows)
                    QCOMPARE(row.at(customer).value_or(u"NULL"_s), u"Ben Horvat"_s); // users.id 1's customer
            }
        }
    }
}

void TestDevServer::plainPatternsRun_data()
{
    QTest::addColumn<QString>("type");
    QTest::addColumn<QString>("prompt");
    QTest::addColumn<bool>("writes");
    QTest::addColumn<QString>("column"); // every row holds value in this column; empty: no rows expected
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("status"); // the start of the result's summary, when checked

    for (const QString& type : {kPostgreSQL, kMySQL}) {
        const auto row = [&](const char* name) -> QTestData& {
            return QTest::addRow("%s: %s", qPrintable(type), name) << type;
        };
        row("filter by city") << u"list customers where city is berlin"_s << false << u"city"_s << u"Berlin"_s
                              << u"80 rows"_s;
        row("two conditions") << u"orders with status shipped and total over 500"_s << false << u"status"_s
                              << u"shipped"_s << QString();
        row("count") << u"count orders"_s << false << u"orders_count"_s << u"3000"_s << u"1 row"_s;
        row("count with filter") << u"how many customers from Norway"_s << false << u"customers_count"_s << u"80"_s
                                 << u"1 row"_s;
        row("top N") << u"top 3 products by price"_s << false << u"price"_s << QString() << u"3 rows"_s;
        row("the same rows in both dialects")
            << u"count order items"_s << false << u"order_items_count"_s << u"7500"_s << u"1 row"_s;
        // Quotes stay inside the literal: none of these may find every customer.
        row("quote") << u"customers where name is O'Brien"_s << false << QString() << QString() << u"0 rows"_s;
        row("quote trick") << u"customers where name is x' OR '1'='1"_s << false << QString() << QString()
                           << u"0 rows"_s;
        row("backslash quote trick") << u"customers where name is x\\' OR 1=1 -- "_s << false << QString() << QString()
                                     << u"0 rows"_s;
        row("a write that matches nothing") << u"delete products where name is No Such Product"_s << true << QString()
                                            << QString() << u"OK — 0 rows affected"_s;
    }
}

void TestDevServer::plainPatternsRun()
{
    QFETCH(QString, type);
    QFETCH(QString, prompt);
    QFETCH(bool, writes);
    QFETCH(QString, column);
    QFETCH(QString, value);
    QFETCH(QString, status);
    REQUIRE_SHOP(shop, type);
    QuerySettings::shared().setAllowDestructive(writes);
    const Answer answer = generate(type, prompt);
    QVERIFY2(answer.sql, qPrintable(answer.error));
    const Run run = execute(*answer.sql, shop);
    QVERIFY2(run.result, qPrintable(run.error + u"\n"_s + *answer.sql));
    if (!status.isEmpty())
        QVERIFY2(run.result->statusMessage.startsWith(status + u" ("_s), qPrintable(run.result->statusMessage));
    if (column.isEmpty())
        return;
    QVERIFY(run.result->rowCount > 0);
    const qsizetype index = run.result->columnNames.indexOf(column);
    QVERIFY2(index >= 0, qPrintable(run.result->columnNames.join(u", "_s)));
    for (const SQLRow& row : run.result->rows) {
        QVERIFY(row.at(index));
        if (!value.isEmpty())
            QCOMPARE(*row.at(index), value);
    }
}

// The appcast offers the configured release with the build's digest and size, and the
// build comes down under its download_path for a known key only.
void TestDevServer::appcastAndDownload()
{
    std::unique_ptr<QNetworkReply> reply(get(m_pg.baseUrl() + u"/api/v1/desktop/appcast"_s, kKey));
    QCOMPARE(reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), 200);
    const QJsonObject release = QJsonDocument::fromJson(reply->readAll()).object().value(u"release"_s).toObject();
    QCOMPARE(release.value(u"build"_s).toInt(), 42);
    QCOMPARE(release.value(u"version"_s).toString(), u"1.4.0"_s);
    QCOMPARE(release.value(u"size"_s).toInteger(), qint64(m_build.size()));
    QCOMPARE(release.value(u"sha256"_s).toString().toLatin1(),
             QCryptographicHash::hash(m_build, QCryptographicHash::Sha256).toHex());
    const QString path = release.value(u"download_path"_s).toString();
    QCOMPARE(path, u"/api/v1/desktop/download/Mirelo%201.4.zip"_s);

    reply.reset(get(m_pg.baseUrl() + path, kFileKey));
    QCOMPARE(reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), 200);
    QCOMPARE(reply->readAll(), m_build);

    reply.reset(get(m_pg.baseUrl() + path, QString()));
    QCOMPARE(reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), 401);
    reply.reset(get(m_pg.baseUrl() + u"/api/v1/desktop/appcast"_s, u"wrong"_s));
    QCOMPARE(reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), 401);
    reply.reset(get(m_pg.baseUrl() + u"/api/v1/desktop/appcast"_s, kKey, "POST"));
    QCOMPARE(reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), 405);
    reply.reset(get(m_pg.baseUrl() + u"/api/v1/desktop/download/other.zip"_s, kKey));
    QCOMPARE(reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), 404);
    QCOMPARE(QJsonDocument::fromJson(reply->readAll()).object().value(u"error_type"_s).toString(), u"not_found"_s);

    reply.reset(get(m_my.baseUrl() + u"/api/v1/desktop/appcast"_s, kKey));
    QCOMPARE(reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), 200);
    const QJsonObject none = QJsonDocument::fromJson(reply->readAll()).object();
    QVERIFY(none.contains(u"release"_s));
    QVERIFY(none.value(u"release"_s).isNull());
}

QTEST_GUILESS_MAIN(TestDevServer)
#include "tst_devserver.moc"
