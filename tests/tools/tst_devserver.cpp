#include "db/DatabaseExecutor.h"
#include "devserver/PromptMatcher.h"
#include "server/APIManager.h"
#include "stores/QuerySettings.h"
#include "support/TestDatabases.h"

#include <QCryptographicHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QRegularExpression>
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

// The sample shop that scripts/lib/dbservers.sh loads next to the test database.
#define REQUIRE_SHOP(var, type)                                                                                        \
    MIRELO_REQUIRE_DATABASE(var, type, TestDatabases::Server::Tls, TestDatabases::variable(type, "SHOP_DATABASE"))

// One running devserver (QProcess ends it on destruction); what it logs after its address
// line is collected as it arrives.
class ServerProcess final
{
public:
    // Starts the server and reads its address line; empty on success.
    QString start(const QStringList& arguments)
    {
        m_process.start(QStringLiteral(MIRELO_DEVSERVER_PATH), arguments);
        while (!m_process.canReadLine()) {
            if (!m_process.waitForReadyRead(10000))
                return m_process.errorString() + u": "_s + QString::fromUtf8(m_process.readAllStandardError());
        }
        const QString line = QString::fromUtf8(m_process.readLine()).trimmed();
        m_baseUrl = line.startsWith(u"Listening on http://127.0.0.1:"_s) ? line.mid(13) : QString();
        return m_baseUrl.isEmpty() ? u"unexpected first line: "_s + line : QString();
    }

    QString baseUrl() const { return m_baseUrl; }

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

} // namespace

class TestDevServer : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void keyCheck_data();
    void keyCheck();
    void generationAnswers_data();
    void generationAnswers();
    void answersRun_data();
    void answersRun();
    void appcastAndDownload();

private:
    ServerProcess& server(const QString& type) { return type == kPostgreSQL ? m_pg : m_my; }
    Answer generate(const QString& type, const QString& prompt, const QString& key = kKey);
    std::pair<QueryResultPtr, QString> execute(const QString& sql, const DatabaseConnection& connection);
    QNetworkReply* get(const QString& url, const QString& key);

    QTemporaryDir m_dir;
    QByteArray m_build;
    ServerProcess m_pg;
    ServerProcess m_my;
    DatabaseExecutor m_executor;
    QNetworkAccessManager m_network;
};

void TestDevServer::initTestCase()
{
    const auto write = [&](const QString& name, const QByteArray& bytes) {
        QFile file(m_dir.filePath(name));
        return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
    };
    QVERIFY(write(u"keys"_s, "# the second key\n\n" + kFileKey.toUtf8() + "\n"));
    QVERIFY(write(u"release.json"_s, R"({"release": {"id": 3, "version": "1.4.0", "build": 42, "notes": "Faster."}})"));
    m_build = QByteArray("ABCDEFGHIJKLMNOPQRSTUVWXYZ").repeated(2700);
    QVERIFY(write(u"Mirelo 1.4.zip"_s, m_build));

    const QString error =
        m_pg.start({u"--port"_s, u"0"_s, u"--api-key"_s, kKey, u"--api-key-file"_s, m_dir.filePath(u"keys"_s),
                    u"--dialect"_s, kPostgreSQL, u"--appcast"_s, m_dir.filePath(u"release.json"_s), u"--build-file"_s,
                    m_dir.filePath(u"Mirelo 1.4.zip"_s)}) +
        m_my.start({u"--api-key"_s, kKey, u"--dialect"_s, kMySQL});
    QVERIFY2(error.isEmpty(), qPrintable(error));
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

// The result, or the error followed by the SQL.
std::pair<QueryResultPtr, QString> TestDevServer::execute(const QString& sql, const DatabaseConnection& connection)
{
    auto run = std::make_shared<std::optional<std::pair<QueryResultPtr, QString>>>();
    m_executor.executeQuery(sql, connection, [run](const QueryResultPtr& result, const QString& error) {
        *run = std::pair{result, error + u"\n"_s};
    });
    if (!QTest::qWaitFor([&] { return run->has_value(); }, 60000))
        return {nullptr, u"No answer.\n"_s + sql};
    return {(*run)->first, (*run)->second + sql};
}

QNetworkReply* TestDevServer::get(const QString& url, const QString& key)
{
    QNetworkRequest request{QUrl(url)};
    if (!key.isEmpty())
        request.setRawHeader("x-api-key", key.toUtf8());
    QNetworkReply* reply = m_network.get(request);
    (void)QTest::qWaitFor([&] { return reply->isFinished(); }, 20000);
    return reply;
}

void TestDevServer::keyCheck_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("error");
    QTest::addColumn<QString>("logged");
    QTest::newRow("key from the key file") << kFileKey << QString() << u"GET /api/v1/health 200 key ok"_s;
    QTest::newRow("the file's comment is no key")
        << u"# the second key"_s << u"Invalid API key"_s << u"GET /api/v1/health 401 refused: bad key"_s;
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
    QCOMPARE(**outcome, std::pair(error.isEmpty(), error));

    QTRY_VERIFY_WITH_TIMEOUT(m_pg.log().mid(logStart).contains(u'\n'), 10000);
    static const QRegularExpression shape(u"^\\d\\d:\\d\\d:\\d\\d (.*)$"_s);
    QCOMPARE(shape.match(m_pg.log().mid(logStart).trimmed()).captured(1), logged);
}

void TestDevServer::generationAnswers_data()
{
    QTest::addColumn<QString>("type");
    QTest::addColumn<QString>("prompt");
    QTest::addColumn<bool>("writes");
    QTest::addColumn<QString>("start"); // of the SQL, or of the error

    QTest::newRow("writes off") << kPostgreSQL << u"delete orders where status is cancelled"_s << false
                                << u"[destructive_not_allowed] This prompt asks to change the database"_s;
    QTest::newRow("writes on") << kMySQL << u"delete orders where status is cancelled"_s << true
                               << u"DELETE FROM orders"_s;
    QTest::newRow("pause too long") << kPostgreSQL << u"wait 61 seconds then count orders"_s << false
                                    << u"[unsupported_prompt] The demo server waits from 1 to 60"_s;
}

// What the application makes of each answer: the settings travel with the prompt, refusals
// arrive as "[type] sentence".
void TestDevServer::generationAnswers()
{
    QFETCH(QString, type);
    QFETCH(QString, prompt);
    QFETCH(bool, writes);
    QFETCH(QString, start);
    QuerySettings::shared().setAllowDestructive(writes);
    const Answer answer = generate(type, prompt);
    QVERIFY2(answer.sql.value_or(answer.error).startsWith(start), qPrintable(answer.sql.value_or(answer.error)));
}

void TestDevServer::answersRun_data()
{
    QTest::addColumn<QString>("type");
    QTest::addColumn<QString>("prompt");
    QTest::addColumn<QString>("status"); // the start of the result's summary; empty for an example
    QTest::addColumn<QString>("value");  // the first row's first column, when checked
    for (const QString& type : {kPostgreSQL, kMySQL}) {
        const auto row = [&](const QString& name) -> QTestData& {
            return QTest::addRow("%s: %s", qPrintable(type), qPrintable(name)) << type;
        };
        for (const QString& prompt : PromptMatcher::examplePrompts())
            row(prompt) << prompt << QString() << QString();
        row(u"the same rows in both dialects"_s) << u"count order items"_s << u"1 row"_s << u"7500"_s;
        // Quotes stay inside the literal: neither may find every customer.
        row(u"quote trick"_s) << u"customers where name is x' OR '1'='1"_s << u"0 rows"_s << QString();
        row(u"backslash quote trick"_s) << u"customers where name is x\\' OR 1=1 -- "_s << u"0 rows"_s << QString();
        row(u"a write that matches nothing"_s)
            << u"delete products where name is No Such Product"_s << u"OK — 0 rows affected"_s << QString();
    }
}

// Each answer's SQL runs on the sample shop. Each example finds rows (a count is not zero),
// and still runs with "My data" and one-table answers on: nobody else's orders, no joins.
void TestDevServer::answersRun()
{
    QFETCH(QString, type);
    QFETCH(QString, prompt);
    QFETCH(QString, status);
    QFETCH(QString, value);
    REQUIRE_SHOP(shop, type);
    QuerySettings::shared().setAllowDestructive(true);
    for (int bits = 0; bits < (status.isEmpty() ? 4 : 1); ++bits) {
        QuerySettings::shared().setDataIsolation(bits & 1);
        QuerySettings::shared().setSingularResults(bits & 2);
        const Answer answer = generate(type, prompt);
        QVERIFY2(answer.sql, qPrintable(answer.error));
        QVERIFY2(!(bits & 2) || !answer.sql->contains(u"JOIN"_s), qPrintable(*answer.sql));
        const auto [result, error] = execute(*answer.sql, shop);
        QVERIFY2(result, qPrintable(u"my data %1, single %2: "_s.arg(bits & 1).arg(bits & 2) + error));
        QVERIFY2(result->statusMessage.startsWith(status), qPrintable(result->statusMessage));
        if (!value.isEmpty())
            QCOMPARE(result->rows.value(0).value(0).value_or(u"NULL"_s), value);
        if (status.isEmpty() && bits == 0) {
            QVERIFY2(result->rowCount > 0, qPrintable(*answer.sql));
            if (result->columnNames.size() == 1)
                QVERIFY2(result->rows.first().first().value_or(u"0"_s).toLongLong() > 0, qPrintable(*answer.sql));
        }
        if (bits == 1 && prompt == PromptMatcher::examplePrompts().at(0)) {
            const qsizetype customer = result->columnNames.indexOf(u"customer"_s);
            QVERIFY(customer >= 0);
            for (const SQLRow& row : result->rows)
                QCOMPARE(row.at(customer).value_or(u"NULL"_s), u"Ben Horvat"_s); // users.id 1's customer
        }
    }
}

// The appcast offers the configured release with the build's digest and size, and the
// build comes down under its download_path for a known key only.
void TestDevServer::appcastAndDownload()
{
    std::unique_ptr<QNetworkReply> reply(get(m_pg.baseUrl() + u"/api/v1/desktop/appcast"_s, kKey));
    const QJsonObject release = QJsonDocument::fromJson(reply->readAll()).object().value(u"release"_s).toObject();
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
}

QTEST_GUILESS_MAIN(TestDevServer)
#include "tst_devserver.moc"
