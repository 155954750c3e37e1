#include "server/APIManager.h"
#include "support/TestHttpServer.h"
#include "update/UpdateManager.h"

#include <QSignalSpy>
#include <QTcpServer>
#include <QTest>
#include <QTimer>

using namespace Qt::StringLiterals;

namespace {

const QByteArray kAppcastPath = "/api/v1/desktop/appcast";

struct CheckOutcome
{
    int calls = 0;
    std::optional<UpdateInfo> update;
    QString error;
};

QByteArray release(const QByteArray& members)
{
    return "{\"release\":{" + members + "}}";
}

const QByteArray kComplete = "\"id\":7,\"version\":\"2.0\",\"build\":42,\"notes\":\"Faster.\",\"min_os\":\"12\","
                             "\"size\":1234,\"sha256\":\"ABCDEF0123\",\"download_path\":\"/d/Mirelo-42.zip\"";

} // namespace

class TestUpdateCheck : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();
    void answers_data();
    void answers();
    void releaseMembers();
    void requestAndBaseURL_data();
    void requestAndBaseURL();
    void earlyFailures_data();
    void earlyFailures();
    void availableUpdateIsKept();
    void transportError();
    void redirects_data();
    void redirects();
    void automaticChecks();
    void buildNumber_data();
    void buildNumber();

private:
    CheckOutcome check();

    std::unique_ptr<TestHttpServer> m_server;
};

void TestUpdateCheck::init()
{
    m_server = std::make_unique<TestHttpServer>();
    APIManager::shared().setServerURL(m_server->baseUrl());
    APIManager::shared().setApiKey(u"secret-key"_s);
    UpdateManager::setCurrentBuildForTesting(41);
}

void TestUpdateCheck::cleanup()
{
    UpdateManager::setCurrentBuildForTesting(std::nullopt);
}

CheckOutcome TestUpdateCheck::check()
{
    CheckOutcome outcome;
    UpdateManager::shared().checkWithCompletion(
        [&outcome](const std::optional<UpdateInfo>& update, const QString& error) {
            ++outcome.calls;
            outcome.update = update;
            outcome.error = error;
        });
    [&] { QTRY_COMPARE_WITH_TIMEOUT(outcome.calls, 1, 10000); }();
    return outcome;
}

void TestUpdateCheck::answers_data()
{
    QTest::addColumn<qint64>("running");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<qint64>("offered"); // 0: nothing offered
    QTest::addColumn<QString>("version");
    QTest::addColumn<QString>("error");

    const QByteArray base = "\"sha256\":\"ab\",\"download_path\":\"/d/x.zip\"";
    QTest::newRow("41 vs 42") << 41LL << 200 << release(kComplete) << 42LL << u"2.0"_s << QString();
    QTest::newRow("equal builds") << 42LL << 200 << release(kComplete) << 0LL << QString() << QString();
    QTest::newRow("downgrade") << 43LL << 200 << release(kComplete) << 0LL << QString() << QString();
    QTest::newRow("null release") << 41LL << 200 << QByteArray("{\"release\":null}") << 0LL << QString() << QString();
    QTest::newRow("no release") << 41LL << 200 << QByteArray("{\"other\":1}") << 0LL << QString() << QString();
    QTest::newRow("release not an object")
        << 41LL << 200 << QByteArray("{\"release\":[1]}") << 0LL << QString() << QString();
    QTest::newRow("missing sha256") << 41LL << 200 << release("\"build\":99,\"download_path\":\"/d/x.zip\"") << 0LL
                                    << QString() << QString();
    QTest::newRow("sha256 not a string") << 41LL << 200
                                         << release("\"build\":99,\"sha256\":5,\"download_path\":\"/d/x.zip\"") << 0LL
                                         << QString() << QString();
    QTest::newRow("missing download_path")
        << 41LL << 200 << release("\"build\":99,\"sha256\":\"ab\"") << 0LL << QString() << QString();
    QTest::newRow("numeric version") << 41LL << 200 << release(base + ",\"build\":42,\"version\":2") << 42LL << u"?"_s
                                     << QString();
    QTest::newRow("missing version") << 41LL << 200 << release(base + ",\"build\":42") << 42LL << u"?"_s << QString();
    QTest::newRow("build as numeric string")
        << 41LL << 200 << release(base + ",\"build\":\"42\",\"version\":\"2.0\"") << 42LL << u"2.0"_s << QString();
    QTest::newRow("build absent is 0") << 41LL << 200 << release(base) << 0LL << QString() << QString();
    QTest::newRow("not JSON") << 41LL << 200 << QByteArray("<html>") << 0LL << QString() << QString();
    QTest::newRow("JSON array") << 41LL << 200 << QByteArray("[{\"release\":{}}]") << 0LL << QString() << QString();
    QTest::newRow("404") << 41LL << 404 << QByteArray("missing") << 0LL << QString()
                         << u"Update check failed (HTTP 404)."_s;
    QTest::newRow("500 with a release") << 41LL << 500 << release(kComplete) << 0LL << QString()
                                        << u"Update check failed (HTTP 500)."_s;
    QTest::newRow("200 without a body") << 41LL << 200 << QByteArray() << 0LL << QString()
                                        << u"Update check failed (HTTP 200)."_s;
}

void TestUpdateCheck::answers()
{
    QFETCH(qint64, running);
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(qint64, offered);
    QFETCH(QString, version);
    QFETCH(QString, error);

    UpdateManager::setCurrentBuildForTesting(running);
    m_server->route("GET", kAppcastPath, TestHttpServer::json(status, body));
    QSignalSpy announced(&UpdateManager::shared(), &UpdateManager::updateAvailable);

    const CheckOutcome outcome = check();
    QCOMPARE(outcome.error, error);
    QCOMPARE(outcome.update.has_value(), offered != 0);
    QCOMPARE(announced.size(), offered != 0 ? 1 : 0);
    if (offered != 0) {
        QCOMPARE(outcome.update->build, offered);
        QCOMPARE(outcome.update->version, version);
        QCOMPARE(announced.at(0).at(0).value<UpdateInfo>(), *outcome.update);
        QCOMPARE(UpdateManager::shared().availableUpdate(), outcome.update);
    }
}

void TestUpdateCheck::releaseMembers()
{
    m_server->route("GET", kAppcastPath, TestHttpServer::json(200, release(kComplete)));
    const UpdateInfo info = check().update.value();
    QCOMPARE(info.releaseId, 7);
    QCOMPARE(info.notes, u"Faster."_s);
    QCOMPARE(info.minOS, u"12"_s);
    QCOMPARE(info.size, 1234);
    QCOMPARE(info.sha256, u"abcdef0123"_s);
    QCOMPARE(info.downloadPath, u"/d/Mirelo-42.zip"_s);

    m_server->route("GET", kAppcastPath,
                    TestHttpServer::json(200, release("\"build\":42,\"notes\":3,\"min_os\":false,\"sha256\":\"a\","
                                                      "\"download_path\":\"/x\"")));
    const UpdateInfo sparse = check().update.value();
    QCOMPARE(sparse.notes, std::nullopt);
    QCOMPARE(sparse.minOS, std::nullopt);
    QCOMPARE(sparse.releaseId, 0);
    QCOMPARE(sparse.size, 0);
}

void TestUpdateCheck::requestAndBaseURL_data()
{
    QTest::addColumn<QString>("suffix");
    QTest::newRow("as entered") << QString();
    QTest::newRow("trailing slash") << u"/"_s;
    QTest::newRow("trailing space") << u" "_s;
    QTest::newRow("slashes and spaces") << u" / //  "_s;
}

void TestUpdateCheck::requestAndBaseURL()
{
    QFETCH(QString, suffix);
    APIManager::shared().setServerURL(u" "_s + m_server->baseUrl() + suffix);
    QCOMPARE(UpdateManager::trimmedServerURL(), m_server->baseUrl());
    m_server->route("GET", kAppcastPath, TestHttpServer::json(200, "{\"release\":null}"));

    QCOMPARE(check().error, QString());
    const QList<TestHttpServer::Request> requests = m_server->requests();
    QCOMPARE(requests.size(), 1);
    QCOMPARE(requests.at(0).method, "GET");
    QCOMPARE(requests.at(0).path, kAppcastPath);
    QCOMPARE(requests.at(0).headers.value("x-api-key"), "secret-key");
    QCOMPARE(requests.at(0).headers.value("accept"), "application/json");
}

void TestUpdateCheck::earlyFailures_data()
{
    QTest::addColumn<QString>("serverURL");
    QTest::addColumn<QString>("apiKey");
    QTest::addColumn<QString>("error");
    QTest::newRow("no key") << u"http://127.0.0.1:1"_s << QString() << u"Not signed in."_s;
    QTest::newRow("no server") << QString() << u"key"_s << u"Not signed in."_s;
    QTest::newRow("only slashes and spaces") << u" / "_s << u"key"_s << u"Not signed in."_s;
    QTest::newRow("not a URL") << u"not a server"_s << u"key"_s << u"Invalid server URL."_s;
    QTest::newRow("no scheme") << u"mirelo.example"_s << u"key"_s << u"Invalid server URL."_s;
    QTest::newRow("header in the key") << u"http://127.0.0.1:1"_s << u"key\r\nX-Injected: yes"_s
                                       << u"The API key contains characters that cannot be sent."_s;
    QTest::newRow("line break in the URL")
        << u"http://127.0.0.1:1\n"_s << u"key"_s << u"The server URL contains characters that cannot be sent."_s;
}

void TestUpdateCheck::earlyFailures()
{
    QFETCH(QString, serverURL);
    QFETCH(QString, apiKey);
    QFETCH(QString, error);
    APIManager::shared().setServerURL(serverURL);
    APIManager::shared().setApiKey(apiKey);

    // Reported before the call returns, and nothing is sent.
    CheckOutcome outcome;
    UpdateManager::shared().checkWithCompletion([&outcome](const std::optional<UpdateInfo>& update, const QString& e) {
        ++outcome.calls;
        outcome.update = update;
        outcome.error = e;
    });
    QCOMPARE(outcome.calls, 1);
    QCOMPARE(outcome.error, error);
    QVERIFY(!outcome.update);
    UpdateManager::shared().checkWithCompletion(); // without a callback: silent
    QTest::qWait(0);
    QVERIFY(m_server->requests().isEmpty());
}

void TestUpdateCheck::availableUpdateIsKept()
{
    m_server->route("GET", kAppcastPath, TestHttpServer::json(200, release(kComplete)));
    QVERIFY(check().update);
    m_server->route("GET", kAppcastPath, TestHttpServer::json(200, "{\"release\":null}"));
    QVERIFY(!check().update);
    QCOMPARE(UpdateManager::shared().availableUpdate().value().build, 42);
}

void TestUpdateCheck::transportError()
{
    QTcpServer closed;
    QVERIFY(closed.listen(QHostAddress::LocalHost));
    const quint16 port = closed.serverPort();
    closed.close();
    APIManager::shared().setServerURL(u"http://127.0.0.1:%1"_s.arg(port));
    QCOMPARE(check().error, u"Could not connect to the server."_s);
}

void TestUpdateCheck::redirects_data()
{
    QTest::addColumn<QString>("location"); // %1 is the server's port
    QTest::addColumn<bool>("followed");
    QTest::newRow("same origin, relative") << u"/api/v2/appcast"_s << true;
    QTest::newRow("same origin, absolute") << u"http://127.0.0.1:%1/api/v2/appcast"_s << true;
    QTest::newRow("other host name") << u"http://localhost:%1/api/v2/appcast"_s << false;
    QTest::newRow("other port") << u"http://127.0.0.1:1/api/v2/appcast"_s << false;
}

void TestUpdateCheck::redirects()
{
    QFETCH(QString, location);
    QFETCH(bool, followed);
    TestHttpServer::Response redirect;
    redirect.status = 302;
    if (location.contains(u"%1"_s))
        location = location.arg(m_server->port());
    redirect.headers = {{"Location", location.toUtf8()}};
    m_server->route("GET", kAppcastPath, redirect);
    m_server->route("GET", "/api/v2/appcast", TestHttpServer::json(200, release(kComplete)));

    const CheckOutcome outcome = check();
    if (followed) {
        QCOMPARE(outcome.error, QString());
        QCOMPARE(outcome.update.value().build, 42);
        QCOMPARE(m_server->requests().size(), 2);
        QCOMPARE(m_server->requests().at(1).headers.value("x-api-key"), "secret-key");
    } else {
        QCOMPARE(outcome.error, u"The server redirected to another address; the request was not sent there."_s);
        QCOMPARE(m_server->requests().size(), 1);
    }
}

void TestUpdateCheck::automaticChecks()
{
    m_server->route("GET", kAppcastPath, TestHttpServer::json(200, release(kComplete)));
    UpdateManager& manager = UpdateManager::shared();
    QSignalSpy announced(&manager, &UpdateManager::updateAvailable);
    const auto checkTimers = [&manager] {
        QList<QTimer*> active;
        for (QTimer* timer : manager.findChildren<QTimer*>(Qt::FindDirectChildrenOnly)) {
            if (timer->isActive())
                active.append(timer);
        }
        return active;
    };

    // As after sign-in, sign-out and sign-in again: two starts, one timer.
    manager.startAutomaticChecks();
    manager.startAutomaticChecks();
    QVERIFY(m_server->waitForRequests(2));
    QTRY_COMPARE(announced.size(), 2);
    const QList<QTimer*> timers = checkTimers();
    QCOMPARE(timers.size(), 1);
    QCOMPARE(timers.at(0)->interval(), 21600 * 1000);
    QVERIFY(!timers.at(0)->isSingleShot());

    // Each period runs a silent check that announces the build again.
    QVERIFY(QMetaObject::invokeMethod(timers.at(0), "timeout"));
    QVERIFY(m_server->waitForRequests(3));
    QTRY_COMPARE(announced.size(), 3);

    // Signed out, the timer's checks end quietly without a request.
    APIManager::shared().setApiKey(QString());
    QVERIFY(QMetaObject::invokeMethod(timers.at(0), "timeout"));
    QTest::qWait(0);
    QCOMPARE(m_server->requests().size(), 3);
}

void TestUpdateCheck::buildNumber_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<qint64>("build");
    QTest::newRow("digits") << u"42"_s << 42LL;
    QTest::newRow("leading digits") << u" 42b7"_s << 42LL;
    QTest::newRow("signed") << u"-3"_s << -3LL;
    QTest::newRow("no digits") << u"beta"_s << 0LL;
    QTest::newRow("empty") << QString() << 0LL;
    QTest::newRow("too large") << u"99999999999999999999"_s << std::numeric_limits<qint64>::max();
}

void TestUpdateCheck::buildNumber()
{
    QFETCH(QString, text);
    QFETCH(qint64, build);
    QCOMPARE(UpdateManager::integerValue(text), build);

    // Without the seam, the numbers the build was configured with.
    UpdateManager::setCurrentBuildForTesting(std::nullopt);
    QCOMPARE(UpdateManager::currentBuild(), UpdateManager::integerValue(QStringLiteral(MIRELO_BUILD_NUMBER)));
    QCOMPARE(UpdateManager::currentVersion(), QStringLiteral(MIRELO_VERSION));
}

QTEST_GUILESS_MAIN(TestUpdateCheck)
#include "tst_updatecheck.moc"
