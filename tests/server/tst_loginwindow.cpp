#include "server/APIManager.h"
#include "server/LoginWindowController.h"
#include "server/LoginWindowControllerDelegate.h"
#include "stores/KeychainHelper.h"
#include "support/TestHttpServer.h"
#include "ui/MRButton.h"
#include "ui/MRLabel.h"
#include "ui/MRTextField.h"

#include <QApplication>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPointer>
#include <QTcpServer>
#include <QTest>

using namespace Qt::StringLiterals;

class TestLoginWindow : public QObject, LoginWindowControllerDelegate
{
    Q_OBJECT

    int m_authenticated = 0;
    void loginWindowControllerDidAuthenticate(LoginWindowController*) override { ++m_authenticated; }

private Q_SLOTS:
    void init()
    {
        KeychainHelper::deleteCredentials();
        m_server = std::make_unique<TestHttpServer>();
        m_server->route("GET", "/api/v1/health", TestHttpServer::json(200, "{}"));
        m_authenticated = 0;
        m_controller = std::make_unique<LoginWindowController>();
        m_controller->setDelegate(this);
        m_controller->show();
        // Return is the window's own key equivalent, which only the active window hears.
        QApplication::setActiveWindow(m_controller->window());
        QVERIFY(QTest::qWaitForWindowActive(m_controller->window()));
    }

    void refused_data()
    {
        QTest::addColumn<QString>("url"); // SERVER: the test server; CLOSED: a port nobody listens on
        QTest::addColumn<QString>("key");
        QTest::addColumn<int>("status"); // the server's answer; 0 when no key check reaches it
        QTest::addColumn<QString>("message");
        const QString both = u"Please enter both server URL and API key."_s;
        const QString invalid = u"Please enter a valid server URL (e.g. https://mirelo.example.com)."_s;
        QTest::newRow("both empty") << QString() << QString() << 0 << both;
        QTest::newRow("bare host name") << u"mirelo.example.com"_s << u"mirelo_abc"_s << 0 << invalid;
        QTest::newRow("line break in key") << u"SERVER"_s << u"abc\r\nX-Injected: yes"_s << 0
                                           << u"The API key contains characters that cannot be sent."_s;
        QTest::newRow("control character in URL")
            << u"SERVER/\u0001"_s << u"k"_s << 0 << u"The server URL contains characters that cannot be sent."_s;
        QTest::newRow("401") << u"  SERVER\n"_s << u"\tmirelo_wrong "_s << 401 << u"Invalid API key"_s;
        QTest::newRow("503") << u"SERVER/"_s << u"mirelo_wrong"_s << 503 << u"Server returned status 503"_s;
        QTest::newRow("nobody listening")
            << u"http://127.0.0.1:CLOSED"_s << u"mirelo_wrong"_s << 0 << u"Could not connect to the server."_s;
        // Accepted by the form, which takes any scheme; the client speaks only HTTP(S).
        QTest::newRow("other scheme") << u"ftp://mirelo.example.com"_s << u"k"_s << 0 << u"Invalid server URL"_s;
    }

    void refused()
    {
        QFETCH(QString, url);
        QFETCH(QString, key);
        QFETCH(int, status);
        QFETCH(QString, message);
        QTcpServer closed;
        QVERIFY(closed.listen(QHostAddress::LocalHost));
        url.replace(u"SERVER"_s, m_server->baseUrl()).replace(u"CLOSED"_s, QString::number(closed.serverPort()));
        closed.close();
        if (status)
            m_server->route("GET", "/api/v1/health", TestHttpServer::json(status, R"({"error":"no"})"));
        // As pasted: a line break in the clipboard reaches the field.
        m_controller->serverURLField()->setText(url);
        m_controller->apiKeyField()->setText(key);
        QTest::mouseClick(m_controller->loginButton(), Qt::LeftButton);

        QTRY_VERIFY(!m_controller->isLoading());
        QCOMPARE(m_controller->statusLabel()->text().replace(QLatin1Char('\n'), QLatin1Char(' ')), message);
        QVERIFY(m_controller->loginButton()->isEnabled());
        // The typed values stay for the next try, and nothing is stored.
        QCOMPARE(m_controller->serverURLField()->text(), url);
        QVERIFY(KeychainHelper::apiKey().isEmpty() && KeychainHelper::serverURL().isEmpty());
        QCOMPARE(healthRequests(), status ? 1 : 0);
        if (status)
            QCOMPARE(m_server->requests().constFirst().headers.value("x-api-key"), QByteArray("mirelo_wrong"));
    }

    void validatingThenWindowGone()
    {
        TestHttpServer::Response held = TestHttpServer::json(200, "{}");
        held.pauseAfterBodyBytes = 0;
        m_server->route("GET", "/api/v1/health", held);
        m_controller->serverURLField()->setText(m_server->baseUrl());
        m_controller->apiKeyField()->setText(u"mirelo_key"_s);
        QTest::mouseClick(m_controller->loginButton(), Qt::LeftButton);
        QVERIFY(m_server->waitForRequests(1));

        QCOMPARE(m_controller->statusText(), u"Validating credentials…"_s);
        // Neither the button nor Return starts another check now (one request at the end).
        QTest::mouseClick(m_controller->loginButton(), Qt::LeftButton);
        QTest::keyClick(m_controller->window(), Qt::Key_Return);

        // The late answer finds no window: nothing is stored and nobody is told. The client lets
        // go of the reply only after its completion has run.
        QTRY_COMPARE(APIManager::shared().network()->findChildren<QNetworkReply*>().size(), 1);
        const QPointer<QNetworkReply> pending = APIManager::shared().network()->findChild<QNetworkReply*>();
        m_controller.reset();
        m_server->resumePaused();
        QTRY_VERIFY(pending.isNull());
        QCOMPARE(m_authenticated, 0);
        QVERIFY(KeychainHelper::apiKey().isEmpty());
        QCOMPARE(healthRequests(), 1);
    }

private:
    // The key checks the server has received. A request through the client's own network
    // access is answered first, so whatever the client sent before it has arrived.
    int healthRequests();

    std::unique_ptr<TestHttpServer> m_server;
    std::unique_ptr<LoginWindowController> m_controller;
};

int TestLoginWindow::healthRequests()
{
    QNetworkReply* reply = APIManager::shared().network()->get(QNetworkRequest(QUrl(m_server->baseUrl())));
    [reply] { QTRY_VERIFY(reply->isFinished()); }();
    reply->deleteLater();
    const QList<TestHttpServer::Request> requests = m_server->requests();
    return int(std::count_if(requests.cbegin(), requests.cend(),
                             [](const TestHttpServer::Request& r) { return r.path == "/api/v1/health"; }));
}

QTEST_MAIN(TestLoginWindow)
#include "tst_loginwindow.moc"
