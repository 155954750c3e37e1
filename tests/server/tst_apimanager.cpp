#include "server/APIManager.h"
#include "support/TestHttpServer.h"

#include <QElapsedTimer>
#include <QTest>

using namespace Qt::StringLiterals;

// The request shape, the settings that travel with a prompt and the common answers are
// proven against the demo server (tests/tools); here are the rules it never exercises.
namespace {

const QByteArray kSelect1 = R"({"status":"success","query":"SELECT 1"})";

struct Outcome
{
    int calls = 0;
    std::optional<QString> sql; // a passed key check gives an empty text
    QString error;
};

} // namespace

class TestAPIManager : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        m_server = std::make_unique<TestHttpServer>();
        APIManager::shared().setServerURL(m_server->baseUrl());
        APIManager::shared().setApiKey(u"secret-key"_s);
        APIManager::shared().setTimeoutsForTesting(30000, 60000);
    }

    void answers_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<int>("cutAfter"); // body bytes sent before the connection drops; -1 all
        QTest::addColumn<QString>("error");
        const QString accented = QString(250, QChar(0xE9)); // 250 code units, 500 UTF-8 bytes
        QTest::newRow("429") << 429 << kSelect1 << -1 << u"Rate limit exceeded. Please try again later."_s;
        QTest::newRow("not UTF-8") << 500 << QByteArray("\xff\xfe oops") << -1
                                   << u"HTTP 500 — non-JSON response: (empty)"_s;
        QTest::newRow("clipped in characters")
            << 502 << accented.toUtf8() << -1 << u"HTTP 502 — non-JSON response: "_s + accented.left(200) + u"..."_s;
        QTest::newRow("array") << 200 << QByteArray("[1,2]") << -1 << u"HTTP 200 — unexpected response format"_s;
        // An empty error is no message: the later rules speak instead.
        QTest::newRow("empty error, found by fuzzing") << 268 << QByteArray(R"({"status":"error","error":""})") << -1
                                                       << u"HTTP 268: {\"status\":\"error\",\"error\":\"\"}"_s;
        // A connection cut in the middle of the body is a transport failure, not an answer.
        QTest::newRow("cut short") << 200 << kSelect1 << 5 << u"The network connection was lost."_s;
    }

    void answers()
    {
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(int, cutAfter);
        QFETCH(QString, error);
        TestHttpServer::Response response = TestHttpServer::json(status, body);
        response.dropAfterBodyBytes = cutAfter;
        m_server->route("POST", "/api/v1", response);
        QCOMPARE(finish().error, error);
    }

    void timeouts()
    {
        const QByteArray body = R"({"status":"success","query":"SELECT 'slow but steady'"})";
        constexpr int kIdleMs = 1000;
        // Twelve pieces 150 ms apart: more than the idle limit in all, never that long apart.
        TestHttpServer::Response trickling = TestHttpServer::json(200, body);
        trickling.trickleBytes = (body.size() + 11) / 12;
        trickling.trickleIntervalMs = 150;
        m_server->route("POST", "/api/v1", trickling);
        APIManager::shared().setTimeoutsForTesting(kIdleMs, 60000);
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(finish().sql, std::optional<QString>(u"SELECT 'slow but steady'"_s));
        QVERIFY(clock.elapsed() > kIdleMs);
        // Progress does not stretch the total limit.
        APIManager::shared().setTimeoutsForTesting(kIdleMs, 600);
        QCOMPARE(finish().error, u"The request timed out."_s);

        // Headers and a few bytes, then nothing: the idle limit ends it long before the total.
        TestHttpServer::Response stalled = TestHttpServer::json(200, body);
        stalled.pauseAfterBodyBytes = 10;
        m_server->route("POST", "/api/v1", stalled);
        APIManager::shared().setTimeoutsForTesting(300, 60000);
        QCOMPARE(finish().error, u"The request timed out."_s);
        m_server->resumePaused();
    }

    void redirects_data()
    {
        QTest::addColumn<int>("code");
        QTest::addColumn<QByteArray>("verb");
        QTest::addColumn<QString>("target"); // B: the other server's address; A: this one's port
        QTest::addColumn<bool>("followed");
        for (const int code : {301, 302, 303, 307, 308}) {
            for (const QByteArray& verb : {QByteArray("GET"), QByteArray("POST")})
                QTest::addRow("%d %s, another port", code, verb.constData()) << code << verb << u"B"_s << false;
        }
        // The same server under another name or scheme is another origin all the same.
        QTest::newRow("another host name") << 302 << QByteArray("POST") << u"http://localhost:A"_s << false;
        QTest::newRow("another scheme") << 307 << QByteArray("POST") << u"https://127.0.0.1:A"_s << false;
        QTest::newRow("same origin, 301 GET") << 301 << QByteArray("GET") << u"/moved"_s << true;
        QTest::newRow("same origin, 308 POST") << 308 << QByteArray("POST") << u"http://127.0.0.1:A/moved"_s << true;
    }

    void redirects()
    {
        QFETCH(int, code);
        QFETCH(QByteArray, verb);
        QFETCH(QString, target);
        QFETCH(bool, followed);
        TestHttpServer other;
        const QByteArray path = verb == "GET" ? "/api/v1/health" : "/api/v1";
        target.replace(u"B"_s, other.baseUrl()).replace(u":A"_s, u":"_s + QString::number(m_server->port()));
        m_server->route(verb, path, TestHttpServer::Response{code, {{"Location", target.toUtf8() + path}}, {}});
        m_server->route(verb, "/moved" + path, TestHttpServer::json(200, kSelect1));

        const QString error = finish(verb).error;
        QCOMPARE(other.requests().size(), 0);
        const QList<TestHttpServer::Request> requests = m_server->requests();
        QCOMPARE(requests.size(), followed ? 2 : 1);
        if (!followed) {
            QCOMPARE(error, u"The server redirected to another address; the request was not sent there."_s);
            return;
        }
        QCOMPARE(error, QString());
        QCOMPARE(requests[1].headers.value("x-api-key"), QByteArray("secret-key"));
        QCOMPARE(requests[1].body, requests[0].body); // the prompt goes along with 307 and 308
    }

    void newPromptReplacesHeldOne()
    {
        TestHttpServer::Response held = TestHttpServer::json(200, kSelect1);
        held.pauseAfterBodyBytes = 0;
        m_server->route("POST", "/api/v1", held);
        Outcome first;
        start(first);
        QVERIFY(m_server->waitForRequests(1));
        m_server->route("POST", "/api/v1", TestHttpServer::json(200, kSelect1));
        QCOMPARE(finish().sql, std::optional<QString>(u"SELECT 1"_s));
        QCOMPARE(first.calls, 0);
    }

private:
    // Starts the key check (GET) or a generation (POST); outcome fills in from the callback.
    void start(Outcome& outcome, const QByteArray& verb = "POST");
    Outcome finish(const QByteArray& verb = "POST");

    std::unique_ptr<TestHttpServer> m_server;
};

void TestAPIManager::start(Outcome& outcome, const QByteArray& verb)
{
    const auto done = [&outcome](const std::optional<QString>& sql, const QString& error) {
        outcome = {outcome.calls + 1, sql, error};
    };
    if (verb == "POST")
        APIManager::shared().searchWithPrompt(u"show users"_s, done);
    else
        APIManager::shared().validateKey(
            [done](bool ok, const QString& e) { done(ok ? std::optional(u""_s) : std::nullopt, e); });
}

Outcome TestAPIManager::finish(const QByteArray& verb)
{
    Outcome outcome;
    start(outcome, verb);
    [&] { QTRY_COMPARE_WITH_TIMEOUT(outcome.calls, 1, 10000); }();
    return outcome;
}

QTEST_GUILESS_MAIN(TestAPIManager)
#include "tst_apimanager.moc"
