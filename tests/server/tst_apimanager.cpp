#include "server/APIManager.h"
#include "support/TestHttpServer.h"

#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTest>
#include <QThread>

using namespace Qt::StringLiterals;

namespace {

struct SearchOutcome
{
    int calls = 0;
    std::optional<QString> sql;
    QString error;
};

} // namespace

class TestAPIManager : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void validateKey();
    void generationRequest();
    void baseURLRule_data();
    void baseURLRule();
    void earlyFailuresAreSynchronous();
    void answers_data();
    void answers();
    void transportFailures();
    void timeouts();
    void idleTimeoutRestartsWithProgress();
    void redirectToAnotherOrigin_data();
    void redirectToAnotherOrigin();
    void redirectWithinOrigin_data();
    void redirectWithinOrigin();
    void unsendableCredentials_data();
    void unsendableCredentials();
    void secondPromptCancelsFirst();
    void cancelAfterAnswerArrived();

private:
    SearchOutcome search(const QString& prompt = u"show users"_s);
    // The key check (GET) or a generation (POST); the error, empty on success.
    QString request(const QByteArray& verb);

    std::unique_ptr<TestHttpServer> m_server;
};

void TestAPIManager::init()
{
    m_server = std::make_unique<TestHttpServer>();
    APIManager& api = APIManager::shared();
    api.setServerURL(m_server->baseUrl());
    api.setApiKey(u"secret-key"_s);
    api.setTimeoutsForTesting(30000, 60000);
}

SearchOutcome TestAPIManager::search(const QString& prompt)
{
    SearchOutcome outcome;
    APIManager::shared().searchWithPrompt(prompt, [&outcome](const std::optional<QString>& sql, const QString& error) {
        ++outcome.calls;
        outcome.sql = sql;
        outcome.error = error;
    });
    [&] { QTRY_COMPARE_WITH_TIMEOUT(outcome.calls, 1, 10000); }();
    return outcome;
}

QString TestAPIManager::request(const QByteArray& verb)
{
    if (verb == "POST") {
        const SearchOutcome outcome = search();
        return outcome.sql ? QString() : outcome.error;
    }
    int calls = 0;
    QString error;
    APIManager::shared().validateKey([&](bool ok, const QString& message) {
        ++calls;
        error = ok ? QString() : message;
    });
    [&] { QTRY_COMPARE_WITH_TIMEOUT(calls, 1, 10000); }();
    return error;
}

void TestAPIManager::validateKey()
{
    struct Case
    {
        int status;
        bool ok;
        QString error;
    };
    const QList<Case> cases = {
        {200, true, {}}, {401, false, u"Invalid API key"_s}, {503, false, u"Server returned status 503"_s}};
    for (const Case& c : cases) {
        m_server->route("GET", "/api/v1/health", TestHttpServer::json(c.status, "{\"ignored\":true}"));
        int calls = 0;
        bool ok = !c.ok;
        QString error;
        APIManager::shared().validateKey([&](bool result, const QString& message) {
            ++calls;
            ok = result;
            error = message;
        });
        QCOMPARE(calls, 0); // only early failures are synchronous
        QTRY_COMPARE(calls, 1);
        QCOMPARE(ok, c.ok);
        QCOMPARE(error, c.error);
    }
    const TestHttpServer::Request request = m_server->requests().constLast();
    QCOMPARE(request.method, QByteArray("GET"));
    QCOMPARE(request.headers.value("x-api-key"), QByteArray("secret-key"));
    QCOMPARE(request.headers.value("accept"), QByteArray("application/json"));
}

void TestAPIManager::generationRequest()
{
    m_server->route("POST", "/api/v1", TestHttpServer::json(200, R"({"status":"success","query":"SELECT 1"})"));
    const SearchOutcome outcome = search(u"how many “users”?"_s);
    QCOMPARE(outcome.sql, std::optional<QString>(u"SELECT 1"_s));
    QVERIFY(outcome.error.isEmpty());

    const TestHttpServer::Request request = m_server->requests().constLast();
    QCOMPARE(request.headers.value("content-type"), QByteArray("application/json"));
    QCOMPARE(request.headers.value("accept"), QByteArray("application/json"));
    QCOMPARE(request.headers.value("x-api-key"), QByteArray("secret-key"));
    QVERIFY(!request.body.contains('\n') && !request.body.contains(": ")); // compact
    const QJsonObject body = QJsonDocument::fromJson(request.body).object();
    // A fresh installation: only self-correction is on.
    QCOMPARE(body, QJsonObject({{u"prompt"_s, u"how many “users”?"_s},
                                {u"allow_destructive"_s, false},
                                {u"self_correction"_s, true},
                                {u"data_isolation"_s, false},
                                {u"singular_results"_s, false}}));

    // Without a key the header is left out.
    APIManager::shared().setApiKey(QString());
    search();
    QVERIFY(!m_server->requests().constLast().headers.contains("x-api-key"));
}

void TestAPIManager::baseURLRule_data()
{
    QTest::addColumn<QString>("decoration");
    QTest::newRow("plain") << u"%1"_s;
    QTest::newRow("trailing slash") << u"%1/"_s;
    QTest::newRow("several slashes") << u"%1///"_s;
    QTest::newRow("leading slash") << u"/%1/"_s;
}

void TestAPIManager::baseURLRule()
{
    QFETCH(QString, decoration);
    APIManager::shared().setServerURL(decoration.arg(m_server->baseUrl()));
    m_server->route("POST", "/api/v1", TestHttpServer::json(200, R"({"status":"success","query":"x"})"));
    QCOMPARE(search().sql, std::optional<QString>(u"x"_s));
    QCOMPARE(m_server->requests().constLast().path, QByteArray("/api/v1"));

    // A path in the base URL stays, with exactly one slash before api.
    QCOMPARE(APIManager::endpointURL(u"https://h:8443/mirelo/"_s, u"/api/v1"_s),
             QUrl(u"https://h:8443/mirelo/api/v1"_s));
}

void TestAPIManager::earlyFailuresAreSynchronous()
{
    for (const QString& url : {QString(), u"localhost:8000"_s, u"ftp://example.com"_s}) {
        APIManager::shared().setServerURL(url);
        SearchOutcome outcome;
        APIManager::shared().searchWithPrompt(u"x"_s, [&](const std::optional<QString>& sql, const QString& e) {
            ++outcome.calls;
            outcome.sql = sql;
            outcome.error = e;
        });
        QCOMPARE(outcome.calls, 1);
        QCOMPARE(outcome.error, u"Invalid server URL"_s);
        QVERIFY(!outcome.sql);

        bool called = false;
        APIManager::shared().validateKey(
            [&](bool ok, const QString& e) { called = !ok && e == u"Invalid server URL"_s; });
        QVERIFY(called);
    }

    // A prompt that JSON cannot carry is refused before anything is sent.
    APIManager::shared().setServerURL(m_server->baseUrl());
    QString error;
    APIManager::shared().searchWithPrompt(QString(QChar(0xD800)),
                                          [&](const std::optional<QString>&, const QString& e) { error = e; });
    QCOMPARE(error, u"Failed to encode request"_s);
    QCOMPARE(m_server->requests().size(), 0);
}

void TestAPIManager::answers_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("sql");
    QTest::addColumn<QString>("error");

    const QByteArray html = "<html>" + QByteArray(4987, 'x') + "</html>";
    const QByteArray longDetail = R"({"detail":")" + QByteArray(300, 'd') + "\"}";
    const QString accented = QString(250, QChar(0xE9)); // 250 code units, 500 UTF-8 bytes

    QTest::newRow("success") << 200 << QByteArray(R"({"status":"success","query":"SELECT 1","x":1})") << u"SELECT 1"_s
                             << QString();
    QTest::newRow("success without query")
        << 200 << QByteArray(R"({"status":"success"})") << QString(u""_s) << QString();
    QTest::newRow("success under 500") << 500 << QByteArray(R"({"status":"success","query":"DELETE FROM t"})")
                                       << u"DELETE FROM t"_s << QString();
    QTest::newRow("error with type") << 400
                                     << QByteArray(R"({"status":"error","error":"No table.","error_type":"schema"})")
                                     << QString() << u"[schema] No table."_s;
    QTest::newRow("error only") << 402 << QByteArray(R"({"error":"Out of credit."})") << QString()
                                << u"Out of credit."_s;
    QTest::newRow("401") << 401 << QByteArray(R"({"status":"success","query":"x"})") << QString()
                         << u"Invalid API key. Please log in again."_s;
    QTest::newRow("429") << 429 << QByteArray() << QString() << u"Rate limit exceeded. Please try again later."_s;
    QTest::newRow("204 empty") << 204 << QByteArray() << QString() << u"Empty response (HTTP 204)"_s;
    QTest::newRow("502 html") << 502 << html << QString()
                              << u"HTTP 502 — non-JSON response: "_s + QString::fromLatin1(html.left(200)) + u"..."_s;
    QTest::newRow("bare string") << 200 << QByteArray("\"SELECT 1\"") << QString()
                                 << u"HTTP 200 — non-JSON response: \"SELECT 1\""_s;
    QTest::newRow("not UTF-8") << 500 << QByteArray("\xff\xfe oops") << QString()
                               << u"HTTP 500 — non-JSON response: (empty)"_s;
    QTest::newRow("UTF-16 length") << 500 << accented.toUtf8() << QString()
                                   << u"HTTP 500 — non-JSON response: "_s + accented.left(200) + u"..."_s;
    QTest::newRow("array") << 200 << QByteArray("[1,2]") << QString() << u"HTTP 200 — unexpected response format"_s;
    // An empty error is no message: the later rules speak instead.
    QTest::newRow("empty error") << 500 << QByteArray(R"({"error":""})") << QString()
                                 << u"HTTP 500: {\"error\":\"\"}"_s;
    QTest::newRow("empty error, found by fuzzing") << 268 << QByteArray(R"({"status":"error","error":""})") << QString()
                                                   << u"HTTP 268: {\"status\":\"error\",\"error\":\"\"}"_s;
    QTest::newRow("empty error with type") << 400 << QByteArray(R"({"error":"","error_type":"schema"})") << QString()
                                           << u"HTTP 400: {\"error\":\"\",\"error_type\":\"schema\"}"_s;
    QTest::newRow("empty type") << 400 << QByteArray(R"({"error":"No table.","error_type":""})") << QString()
                                << u"No table."_s;
    QTest::newRow("error not a text") << 400 << QByteArray(R"({"error":{"text":"x"}})") << QString()
                                      << u"HTTP 400: {\"error\":{\"text\":\"x\"}}"_s;
    QTest::newRow("detail only") << 500 << QByteArray(R"({"detail":"boom"})") << QString()
                                 << u"HTTP 500: {\"detail\":\"boom\"}"_s;
    QTest::newRow("detail clipped") << 500 << longDetail << QString()
                                    << u"HTTP 500: "_s + QString::fromLatin1(longDetail.left(300)) + u"..."_s;
}

void TestAPIManager::answers()
{
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(QString, sql);
    QFETCH(QString, error);
    m_server->route("POST", "/api/v1", TestHttpServer::json(status, body));
    const SearchOutcome outcome = search();
    QCOMPARE(outcome.error, error);
    QCOMPARE(outcome.sql.has_value(), error.isEmpty());
    if (outcome.sql)
        QCOMPARE(*outcome.sql, sql);
}

void TestAPIManager::transportFailures()
{
    // A connection cut in the middle of the body is a transport failure, not an answer.
    TestHttpServer::Response cut = TestHttpServer::json(200, R"({"status":"success","query":"SELECT 1"})");
    cut.dropAfterBodyBytes = 5;
    m_server->route("POST", "/api/v1", cut);
    QCOMPARE(search().error, u"The network connection was lost."_s);

    // Nobody listening.
    QTcpServer probe;
    QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
    const quint16 closedPort = probe.serverPort();
    probe.close();
    APIManager::shared().setServerURL(u"http://127.0.0.1:%1"_s.arg(closedPort));
    QCOMPARE(search().error, u"Could not connect to the server."_s);
    bool done = false;
    APIManager::shared().validateKey(
        [&](bool ok, const QString& e) { done = !ok && e == u"Could not connect to the server."_s; });
    QTRY_VERIFY(done);
}

void TestAPIManager::timeouts()
{
    TestHttpServer::Response slow = TestHttpServer::json(200, R"({"status":"success","query":"late"})");
    slow.delayMs = 1500;
    m_server->route("POST", "/api/v1", slow);

    APIManager::shared().setTimeoutsForTesting(300, 10000); // idle fires
    QCOMPARE(search().error, u"The request timed out."_s);
    APIManager::shared().setTimeoutsForTesting(10000, 300); // total fires
    QCOMPARE(search().error, u"The request timed out."_s);
    APIManager::shared().setTimeoutsForTesting(10000, 10000);
    QCOMPARE(search().sql, std::optional<QString>(u"late"_s));
}

void TestAPIManager::idleTimeoutRestartsWithProgress()
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
    QCOMPARE(search().sql, std::optional<QString>(u"SELECT 'slow but steady'"_s));
    QVERIFY(clock.elapsed() > kIdleMs);

    // Headers and a few bytes, then nothing: the idle limit ends it long before the total.
    TestHttpServer::Response stalled = TestHttpServer::json(200, body);
    stalled.pauseAfterBodyBytes = 10;
    m_server->route("POST", "/api/v1", stalled);
    APIManager::shared().setTimeoutsForTesting(300, 60000);
    QCOMPARE(search().error, u"The request timed out."_s);
    m_server->resumePaused();
}

void TestAPIManager::redirectToAnotherOrigin_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<QByteArray>("verb");
    QTest::addColumn<QString>("target"); // %1 is server B's port, %2 server A's
    for (const int code : {301, 302, 303, 307, 308}) {
        for (const QByteArray& verb : {QByteArray("GET"), QByteArray("POST")}) {
            QTest::addRow("%d %s, another port", code, verb.constData()) << code << verb << u"http://127.0.0.1:%1"_s;
        }
    }
    // The same server under another name or scheme is another origin all the same.
    QTest::newRow("another host name") << 302 << QByteArray("POST") << u"http://localhost:%2"_s;
    QTest::newRow("another scheme") << 307 << QByteArray("POST") << u"https://127.0.0.1:%2"_s;
}

void TestAPIManager::redirectToAnotherOrigin()
{
    QFETCH(int, code);
    QFETCH(QByteArray, verb);
    QFETCH(QString, target);
    TestHttpServer other;
    other.route("GET", "/api/v1/health", TestHttpServer::json(200, "{}"));
    other.route("POST", "/api/v1", TestHttpServer::json(200, R"({"status":"success","query":"SELECT 1"})"));
    const QByteArray path = verb == "GET" ? "/api/v1/health" : "/api/v1";
    const QString base = target.arg(other.port()).arg(m_server->port());
    TestHttpServer::Response redirect;
    redirect.status = code;
    redirect.headers = {{"Location", base.toUtf8() + path}};
    m_server->route(verb, path, redirect);

    QCOMPARE(request(verb), u"The server redirected to another address; the request was not sent there."_s);
    QCOMPARE(m_server->requests().size(), 1);
    QCOMPARE(other.requests().size(), 0);
}

void TestAPIManager::redirectWithinOrigin_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<QByteArray>("verb");
    QTest::addColumn<bool>("absolute");
    QTest::newRow("301 GET") << 301 << QByteArray("GET") << false;
    QTest::newRow("302 GET, absolute") << 302 << QByteArray("GET") << true;
    QTest::newRow("307 POST") << 307 << QByteArray("POST") << false;
    QTest::newRow("308 POST, absolute") << 308 << QByteArray("POST") << true;
}

void TestAPIManager::redirectWithinOrigin()
{
    QFETCH(int, code);
    QFETCH(QByteArray, verb);
    QFETCH(bool, absolute);
    const QByteArray path = verb == "GET" ? "/api/v1/health" : "/api/v1";
    TestHttpServer::Response redirect;
    redirect.status = code;
    redirect.headers = {{"Location", (absolute ? m_server->baseUrl().toUtf8() : QByteArray()) + "/moved" + path}};
    m_server->route(verb, path, redirect);
    m_server->route(verb, "/moved" + path, TestHttpServer::json(200, R"({"status":"success","query":"SELECT 1"})"));

    QCOMPARE(request(verb), QString());
    const QList<TestHttpServer::Request> requests = m_server->requests();
    QCOMPARE(requests.size(), 2);
    QCOMPARE(requests[1].path, "/moved" + path);
    QCOMPARE(requests[1].headers.value("x-api-key"), QByteArray("secret-key"));
    QCOMPARE(requests[1].body, requests[0].body); // the prompt goes along with 307 and 308
}

void TestAPIManager::unsendableCredentials_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("url"); // %1 is the server's address
    QTest::addColumn<QString>("error");
    const QString keyError = u"The API key contains characters that cannot be sent."_s;
    const QString urlError = u"The server URL contains characters that cannot be sent."_s;
    QTest::newRow("header in the key") << u"abc\r\nX-Injected: yes"_s << u"%1"_s << keyError;
    QTest::newRow("line feed in the key") << u"abc\n"_s << u"%1"_s << keyError;
    QTest::newRow("tab in the key") << u"a\tb"_s << u"%1"_s << keyError;
    QTest::newRow("nul in the key") << u"a"_s + QChar(0) + u"b"_s << u"%1"_s << keyError;
    QTest::newRow("delete in the key") << u"a\x7f"_s << u"%1"_s << keyError;
    QTest::newRow("next line in the key") << u"a\u0085b"_s << u"%1"_s << keyError;
    QTest::newRow("header in the URL") << u"secret-key"_s << u"%1\r\nX-Injected: yes"_s << urlError;
    QTest::newRow("line break in the URL") << u"secret-key"_s << u"%1/\n"_s << urlError;
    QTest::newRow("both") << u"a\rb"_s << u"%1\n"_s << keyError;
}

void TestAPIManager::unsendableCredentials()
{
    QFETCH(QString, key);
    QFETCH(QString, url);
    QFETCH(QString, error);
    m_server->route("GET", "/api/v1/health", TestHttpServer::json(200, "{}"));
    m_server->route("POST", "/api/v1", TestHttpServer::json(200, R"({"status":"success","query":"SELECT 1"})"));
    APIManager& api = APIManager::shared();
    api.setApiKey(key);
    api.setServerURL(url.arg(m_server->baseUrl()));

    // Refused at once, before any request exists.
    QStringList errors;
    api.validateKey([&errors](bool ok, const QString& e) { errors << (ok ? u"ok"_s : e); });
    api.searchWithPrompt(
        u"x"_s, [&errors](const std::optional<QString>& sql, const QString& e) { errors << (sql ? u"ok"_s : e); });
    QCOMPARE(errors, QStringList({error, error}));

    // A request sent afterwards is the only one the server ever sees.
    api.setApiKey(u"secret-key"_s);
    api.setServerURL(m_server->baseUrl());
    QCOMPARE(request("POST"), QString());
    const QList<TestHttpServer::Request> requests = m_server->requests();
    QCOMPARE(requests.size(), 1);
    QVERIFY(!requests[0].headers.contains("x-injected"));
}

void TestAPIManager::secondPromptCancelsFirst()
{
    m_server->route("POST", "/api/v1", [](const TestHttpServer::Request& request) {
        const QString prompt = QJsonDocument::fromJson(request.body).object().value(u"prompt"_s).toString();
        TestHttpServer::Response r =
            TestHttpServer::json(200, R"({"status":"success","query":")" + prompt.toUtf8() + "\"}");
        if (prompt == u"first"_s)
            r.delayMs = 400;
        return r;
    });
    QStringList delivered;
    const auto record = [&delivered](const std::optional<QString>& sql, const QString& error) {
        delivered << sql.value_or(u"error: "_s + error);
    };
    QSignalSpy ended(APIManager::shared().network(), &QNetworkAccessManager::finished);
    APIManager::shared().searchWithPrompt(u"first"_s, record);
    QVERIFY(m_server->waitForRequests(1));
    APIManager::shared().searchWithPrompt(u"second"_s, record);
    // Both transfers are over, the cancelled one included, and only the second was heard.
    QTRY_COMPARE(ended.size(), 2);
    QCOMPARE(delivered, QStringList({u"second"_s}));
}

void TestAPIManager::cancelAfterAnswerArrived()
{
    TestHttpServer::Response answer = TestHttpServer::json(200, R"({"status":"success","query":"SELECT 1"})");
    answer.delayMs = 150;
    m_server->route("POST", "/api/v1", answer);
    for (const bool cancel : {false, true}) {
        int calls = 0;
        APIManager::shared().searchWithPrompt(u"x"_s,
                                              [&calls](const std::optional<QString>&, const QString&) { ++calls; });
        QSignalSpy ended(APIManager::shared().network(), &QNetworkAccessManager::finished);
        QVERIFY(m_server->waitForRequests(cancel ? 2 : 1));
        // The server answers on its own thread while this one is blocked, so the answer has
        // reached the client before the cancel.
        QVERIFY(m_server->waitForAnswers(cancel ? 2 : 1));
        if (!cancel) {
            QTRY_COMPARE(calls, 1);
            continue;
        }
        APIManager::shared().cancelPendingRequests();
        QTRY_COMPARE(ended.size(), 1);
        QCOMPARE(calls, 0);
    }
}

QTEST_GUILESS_MAIN(TestAPIManager)
#include "tst_apimanager.moc"
