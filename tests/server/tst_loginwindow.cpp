#include "server/APIManager.h"
#include "server/LoginWindowController.h"
#include "server/LoginWindowControllerDelegate.h"
#include "stores/KeychainHelper.h"
#include "support/TestHttpServer.h"
#include "ui/MRButton.h"
#include "ui/MRImageView.h"
#include "ui/MRLabel.h"
#include "ui/MRSpinnerView.h"
#include "ui/MRTextField.h"
#include "ui/MRTheme.h"
#include "ui/MRWidgetTheme.h"

#include <QApplication>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPointer>
#include <QTcpServer>
#include <QTest>
#include <memory>

using namespace Qt::StringLiterals;

namespace {

class RecordingDelegate final : public LoginWindowControllerDelegate
{
public:
    void loginWindowControllerDidAuthenticate(LoginWindowController* controller) override
    {
        calls.append(controller);
        // What the shell would find stored when it is told.
        storedKey = KeychainHelper::apiKey();
        storedURL = KeychainHelper::serverURL();
        if (destroyOnCall)
            destroyOnCall();
    }

    QList<LoginWindowController*> calls;
    QString storedKey;
    QString storedURL;
    std::function<void()> destroyOnCall;
};

// The credential file as it is on disk.
QJsonObject storedFile()
{
    QFile file(KeychainHelper::storeURL());
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QJsonDocument::fromJson(file.readAll()).object();
}

QColor shownColor(const MRLabel* label)
{
    return label->palette().color(QPalette::WindowText);
}

// A port on which nothing listens.
quint16 closedPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost);
    const quint16 port = probe.serverPort();
    probe.close();
    return port;
}

QRect inWindow(const QWidget* widget)
{
    return QRect(widget->mapTo(widget->window(), QPoint(0, 0)), widget->size());
}

MRLabel* labelWithText(QWidget* window, const QString& text)
{
    const QList<MRLabel*> labels = window->findChildren<MRLabel*>();
    for (MRLabel* label : labels) {
        if (label->text() == text)
            return label;
    }
    return nullptr;
}

} // namespace

class TestLoginWindow : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();
    void layout();
    void formErrors_data();
    void formErrors();
    void refused_data();
    void refused();
    void signInStoresTrimmedValues();
    void validatingState();
    void returnSubmits_data();
    void returnSubmits();
    void tabOrder();
    void delegateMayDestroyController();
    void windowGoneBeforeAnswer();
    void statusKeepsToTwoLines();

private:
    void fill(const QString& url, const QString& key);
    // The key checks the server has received. A request through the client's own network
    // access is answered first, so whatever the client sent before it has arrived.
    int healthRequests();
    void verifyEditing();

    std::unique_ptr<TestHttpServer> m_server;
    std::unique_ptr<LoginWindowController> m_controller;
    RecordingDelegate m_delegate;
};

void TestLoginWindow::init()
{
    KeychainHelper::deleteCredentials();
    m_server = std::make_unique<TestHttpServer>();
    m_server->route("GET", "/api/v1/health", TestHttpServer::json(200, "{}"));
    m_delegate = RecordingDelegate();
    m_controller = std::make_unique<LoginWindowController>();
    m_controller->setDelegate(&m_delegate);
    m_controller->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_controller->window()));
    // Return is the window's own key equivalent, which only the active window hears.
    QApplication::setActiveWindow(m_controller->window());
    QVERIFY(QTest::qWaitForWindowActive(m_controller->window()));
}

void TestLoginWindow::cleanup()
{
    m_controller.reset();
    m_server.reset();
}

void TestLoginWindow::fill(const QString& url, const QString& key)
{
    // As pasted: a line break in the clipboard reaches the field.
    m_controller->serverURLField()->setText(url);
    m_controller->apiKeyField()->setText(key);
}

int TestLoginWindow::healthRequests()
{
    QNetworkReply* reply = APIManager::shared().network()->get(QNetworkRequest(QUrl(m_server->baseUrl())));
    [reply] { QTRY_VERIFY(reply->isFinished()); }();
    reply->deleteLater();
    const QList<TestHttpServer::Request> requests = m_server->requests();
    return int(std::count_if(requests.cbegin(), requests.cend(),
                             [](const TestHttpServer::Request& r) { return r.path == "/api/v1/health"; }));
}

void TestLoginWindow::verifyEditing()
{
    QVERIFY(!m_controller->isLoading());
    QVERIFY(m_controller->serverURLField()->isEnabled());
    QVERIFY(m_controller->apiKeyField()->isEnabled());
    QVERIFY(m_controller->loginButton()->isEnabled());
    QVERIFY(m_controller->spinner()->isHidden());
    QVERIFY(!m_controller->spinner()->isAnimating());
    QCOMPARE(shownColor(m_controller->statusLabel()),
             MRWidgetTheme::resolve(MRTheme::danger(), m_controller->statusLabel()));
}

void TestLoginWindow::layout()
{
    QWidget* window = m_controller->window();
    QCOMPARE(window->minimumSize(), QSize(460, 460));
    QCOMPARE(window->maximumSize(), QSize(460, 460));
    QCOMPARE(window->focusWidget(), m_controller->serverURLField());
    const QRect sparkle = inWindow(window->findChild<MRImageView*>());
    const QRect title = inWindow(labelWithText(window, u"Mirelo"_s));
    const QRect subtitle = inWindow(labelWithText(window, u"Natural language to SQL, instantly."_s));
    const QRect urlCaption = inWindow(labelWithText(window, u"Server URL"_s));
    const QRect url = inWindow(m_controller->serverURLField());
    const QRect keyCaption = inWindow(labelWithText(window, u"API Key"_s));
    const QRect key = inWindow(m_controller->apiKeyField());
    const QRect button = inWindow(m_controller->loginButton());
    const QRect spinner = inWindow(m_controller->spinner());
    const QRect status = inWindow(m_controller->statusLabel());

    QCOMPARE(sparkle, QRect(210, 54, 40, 40));
    // Each element's top below the one above it, by the gap of the design.
    const QList<std::tuple<QRect, QRect, int>> gaps{
        {sparkle, title, 14}, {title, subtitle, 6},  {subtitle, urlCaption, 30},
        {urlCaption, url, 6}, {url, keyCaption, 16}, {keyCaption, key, 6},
        {key, button, 26},    {button, spinner, 14}, {spinner, status, 8},
    };
    for (const auto& [above, below, gap] : gaps)
        QCOMPARE(below.top() - (above.top() + above.height()), gap);
    for (const QRect& control : {urlCaption, url, keyCaption, key, button, status})
        QCOMPARE(control.left(), 56);
    for (const QRect& control : {url, key, button, status})
        QCOMPARE(control.width(), 460 - 2 * 56);
    QCOMPARE(url.height(), 30);
    QCOMPARE(key.height(), 30);
    QCOMPARE(button.height(), 36);
    QCOMPARE(spinner.center().x(), sparkle.center().x());
    QVERIFY(status.bottom() < 460);
}

void TestLoginWindow::formErrors_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("message");
    const QString both = u"Please enter both server URL and API key."_s;
    const QString invalid = u"Please enter a valid server URL (e.g. https://mirelo.example.com)."_s;
    QTest::newRow("both empty") << QString() << QString() << both;
    QTest::newRow("no key") << u"https://mirelo.example.com"_s << QString() << both;
    QTest::newRow("no URL") << QString() << u"mirelo_abc"_s << both;
    QTest::newRow("only white space") << u" \t\n"_s << u"\r\n "_s << both;
    QTest::newRow("bare host name") << u"mirelo.example.com"_s << u"mirelo_abc"_s << invalid;
    QTest::newRow("host and port") << u"localhost:8080"_s << u"mirelo_abc"_s << invalid;
    QTest::newRow("scheme only") << u"https://"_s << u"mirelo_abc"_s << invalid;
    QTest::newRow("no host") << u"file:///etc/passwd"_s << u"mirelo_abc"_s << invalid;
    QTest::newRow("line break in key") << u"SERVER"_s << u"abc\r\nX-Injected: yes"_s
                                       << u"The API key contains characters that cannot be sent."_s;
    QTest::newRow("control character in URL")
        << u"SERVER/\u0001"_s << u"mirelo_abc"_s << u"The server URL contains characters that cannot be sent."_s;
}

void TestLoginWindow::formErrors()
{
    QFETCH(QString, url);
    QFETCH(QString, key);
    QFETCH(QString, message);
    url.replace(u"SERVER"_s, m_server->baseUrl());
    fill(url, key);
    QTest::mouseClick(m_controller->loginButton(), Qt::LeftButton);

    // Shown at once, without asking the server.
    QCOMPARE(m_controller->statusText(), message);
    QCOMPARE(m_controller->statusLabel()->text().replace(QLatin1Char('\n'), QLatin1Char(' ')), message);
    verifyEditing();
    QCOMPARE(m_controller->serverURLField()->text(), url);
    QCOMPARE(m_controller->apiKeyField()->text(), key);
    QCOMPARE(healthRequests(), 0);
    QVERIFY(m_delegate.calls.isEmpty());
}

void TestLoginWindow::refused_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("message");
    QTest::newRow("401") << u"SERVER"_s << 401 << u"Invalid API key"_s;
    QTest::newRow("503") << u"SERVER/"_s << 503 << u"Server returned status 503"_s;
    QTest::newRow("nobody listening") << u"http://127.0.0.1:CLOSED"_s << 0
                                      << APIManager::transportErrorText(QNetworkReply::ConnectionRefusedError);
    // Accepted by the form, which takes any scheme; the client speaks only HTTP(S).
    QTest::newRow("other scheme") << u"ftp://mirelo.example.com"_s << 0 << u"Invalid server URL"_s;
}

void TestLoginWindow::refused()
{
    QFETCH(QString, url);
    QFETCH(int, status);
    QFETCH(QString, message);
    url.replace(u"SERVER"_s, m_server->baseUrl()).replace(u"CLOSED"_s, QString::number(closedPort()));
    if (status)
        m_server->route("GET", "/api/v1/health", TestHttpServer::json(status, R"({"error":"no"})"));
    const QString typedURL = u"  "_s + url + u"\n"_s;
    const QString typedKey = u"\tmirelo_wrong "_s;
    fill(typedURL, typedKey);
    QTest::mouseClick(m_controller->loginButton(), Qt::LeftButton);

    QTRY_VERIFY(!m_controller->isLoading());
    QCOMPARE(m_controller->statusText(), message);
    verifyEditing();
    // The typed values stay for the next try, and nothing is stored.
    QCOMPARE(m_controller->serverURLField()->text(), typedURL);
    QCOMPARE(m_controller->apiKeyField()->text(), typedKey);
    QVERIFY(m_delegate.calls.isEmpty());
    QVERIFY(KeychainHelper::apiKey().isEmpty());
    QVERIFY(KeychainHelper::serverURL().isEmpty());
    QVERIFY(!storedFile().contains(u"apiKey"_s));
    QVERIFY(!storedFile().contains(u"serverURL"_s));
    if (status)
        QCOMPARE(m_server->requests().constLast().headers.value("x-api-key"), QByteArray("mirelo_wrong"));
}

void TestLoginWindow::signInStoresTrimmedValues()
{
    // The trailing slash is kept as typed; requests still get one slash before the path.
    const QString url = m_server->baseUrl() + u"/"_s;
    fill(u" \t"_s + url + u"\r\n"_s, u"\u00a0mirelo_right\n"_s);
    QTest::mouseClick(m_controller->loginButton(), Qt::LeftButton);

    QTRY_COMPARE(m_delegate.calls.size(), 1);
    QCOMPARE(m_delegate.calls.constFirst(), m_controller.get());
    // Stored before the shell is told.
    QCOMPARE(m_delegate.storedKey, u"mirelo_right"_s);
    QCOMPARE(m_delegate.storedURL, url);
    const QJsonObject file = storedFile();
    QCOMPARE(file.value(u"apiKey"_s).toString(), u"mirelo_right"_s);
    QCOMPARE(file.value(u"serverURL"_s).toString(), url);
    QCOMPARE(APIManager::shared().serverURL(), url);
    QCOMPARE(APIManager::shared().apiKey(), u"mirelo_right"_s);

    const TestHttpServer::Request request = m_server->requests().constLast();
    QCOMPARE(request.path, QByteArray("/api/v1/health"));
    QCOMPARE(request.headers.value("x-api-key"), QByteArray("mirelo_right"));
    // The window stays busy until the shell closes it.
    QVERIFY(m_controller->isLoading());
    QVERIFY(!m_controller->loginButton()->isEnabled());
}

void TestLoginWindow::validatingState()
{
    TestHttpServer::Response held = TestHttpServer::json(200, "{}");
    held.pauseAfterBodyBytes = 0;
    m_server->route("GET", "/api/v1/health", held);
    fill(m_server->baseUrl(), u"mirelo_key"_s);
    m_controller->apiKeyField()->setFocus();
    QTest::keyClick(m_controller->apiKeyField(), Qt::Key_Return);
    QVERIFY(m_server->waitForRequests(1));

    QVERIFY(m_controller->isLoading());
    QCOMPARE(m_controller->statusText(), u"Validating credentials…"_s);
    QCOMPARE(shownColor(m_controller->statusLabel()),
             MRWidgetTheme::resolve(MRTheme::textSecondary(), m_controller->statusLabel()));
    QVERIFY(!m_controller->serverURLField()->isEnabled());
    QVERIFY(!m_controller->apiKeyField()->isEnabled());
    QVERIFY(!m_controller->loginButton()->isEnabled());
    QVERIFY(m_controller->spinner()->isVisible());
    QVERIFY(m_controller->spinner()->isAnimating());

    // Neither typing, nor the button, nor Return does anything now.
    QTest::keyClicks(m_controller->serverURLField(), u"x"_s);
    QTest::keyClicks(m_controller->apiKeyField(), u"y"_s);
    QCOMPARE(m_controller->serverURLField()->text(), m_server->baseUrl());
    QCOMPARE(m_controller->apiKeyField()->text(), u"mirelo_key"_s);
    QTest::mouseClick(m_controller->loginButton(), Qt::LeftButton);
    QTest::keyClick(m_controller->window(), Qt::Key_Return);
    QVERIFY(m_controller->isLoading());

    m_server->resumePaused();
    QTRY_COMPARE(m_delegate.calls.size(), 1);
    QCOMPARE(healthRequests(), 1);
}

void TestLoginWindow::returnSubmits_data()
{
    QTest::addColumn<int>("focus"); // 0 URL field, 1 key field, 2 button
    QTest::addColumn<int>("key");
    QTest::newRow("Return in the URL field") << 0 << int(Qt::Key_Return);
    QTest::newRow("Return in the key field") << 1 << int(Qt::Key_Return);
    QTest::newRow("Enter in the key field") << 1 << int(Qt::Key_Enter);
    QTest::newRow("Return on the button") << 2 << int(Qt::Key_Return);
}

void TestLoginWindow::returnSubmits()
{
    QFETCH(int, focus);
    QFETCH(int, key);
    fill(m_server->baseUrl(), u"mirelo_key"_s);
    QWidget* target = focus == 0   ? static_cast<QWidget*>(m_controller->serverURLField())
                      : focus == 1 ? static_cast<QWidget*>(m_controller->apiKeyField())
                                   : static_cast<QWidget*>(m_controller->loginButton());
    target->setFocus(Qt::TabFocusReason);
    QCOMPARE(QApplication::focusWidget(), target);
    QTest::keyClick(target, Qt::Key(key));
    QTRY_COMPARE(m_delegate.calls.size(), 1);
    QCOMPARE(healthRequests(), 1);
}

void TestLoginWindow::tabOrder()
{
    m_controller->serverURLField()->setFocus(Qt::TabFocusReason);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), m_controller->apiKeyField());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), m_controller->loginButton());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), m_controller->serverURLField());
}

void TestLoginWindow::delegateMayDestroyController()
{
    // The shell closes and drops the window from within the call, as it replaces it.
    m_delegate.destroyOnCall = [this] { m_controller.reset(); };
    fill(m_server->baseUrl(), u"mirelo_key"_s);
    QTest::mouseClick(m_controller->loginButton(), Qt::LeftButton);
    QTRY_COMPARE(m_delegate.calls.size(), 1);
    QVERIFY(!m_controller);
    QCOMPARE(KeychainHelper::apiKey(), u"mirelo_key"_s);
}

void TestLoginWindow::windowGoneBeforeAnswer()
{
    TestHttpServer::Response held = TestHttpServer::json(200, "{}");
    held.pauseAfterBodyBytes = 0;
    m_server->route("GET", "/api/v1/health", held);
    fill(m_server->baseUrl(), u"mirelo_key"_s);
    QTest::mouseClick(m_controller->loginButton(), Qt::LeftButton);
    QVERIFY(m_server->waitForRequests(1));
    QTRY_COMPARE(APIManager::shared().network()->findChildren<QNetworkReply*>().size(), 1);
    const QPointer<QNetworkReply> pending = APIManager::shared().network()->findChildren<QNetworkReply*>().constFirst();
    m_controller.reset();

    // The late answer finds no window: nothing is stored and nobody is told. The client lets
    // go of the reply only after its completion has run.
    m_server->resumePaused();
    QTRY_VERIFY(pending.isNull());
    QVERIFY(m_delegate.calls.isEmpty());
    QVERIFY(KeychainHelper::apiKey().isEmpty());
    QVERIFY(!storedFile().contains(u"apiKey"_s));
}

void TestLoginWindow::statusKeepsToTwoLines()
{
    MRLabel* label = m_controller->statusLabel();
    const auto shownLinesFit = [label] {
        const QStringList lines = label->text().split(QLatin1Char('\n'));
        return lines.size() <= 2 && std::all_of(lines.cbegin(), lines.cend(), [label](const QString& line) {
                   return label->fontMetrics().horizontalAdvance(line) <= label->width();
               });
    };
    // Broken at a space, not inside the example address.
    m_controller->showError(LoginWindowController::invalidURLMessage());
    QVERIFY(shownLinesFit());
    QVERIFY(label->text().endsWith(u"\nhttps://mirelo.example.com)."_s));

    const QString text = u"The server at the address you entered answered with something this window "
                         "cannot read, so the sign-in could not be completed; please check the address "
                         "and try again in a moment."_s;
    m_controller->showError(text);
    QVERIFY(shownLinesFit());
    QVERIFY(label->text().endsWith(QChar(0x2026)));
    QCOMPARE(label->toolTip(), text);
    QCOMPARE(m_controller->statusText(), text);
    QVERIFY(label->fontMetrics().lineSpacing() * 2 <= label->height());
}

QTEST_MAIN(TestLoginWindow)
#include "tst_loginwindow.moc"
