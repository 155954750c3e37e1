#include "ViewTestSupport.h"
#include "db/ConnectionManager.h"
#include "db/DatabaseExecutor.h"
#include "server/APIManager.h"
#include "stores/QuerySettings.h"
#include "support/TestDatabases.h"
#include "support/TestHttpServer.h"
#include "ui/MRButton.h"
#include "ui/MRContentFlipped.h"
#include "ui/MRHistoryRow.h"
#include "ui/MRLabel.h"
#include "ui/MRPanel.h"
#include "ui/MRSQLTextViewHighlighter.h"
#include "ui/MRSettingChip.h"
#include "ui/MRSpinnerView.h"
#include "ui/MRSuggestionRow.h"
#include "update/UpdateBannerView.h"
#include "update/UpdateManager.h"
#include "workspace/ContentViewController.h"
#include "workspace/ContentViewControllerDelegate.h"
#include "workspace/ElidedLabel.h"
#include "workspace/QueryHistory.h"
#include "workspace/RelativeTime.h"
#include "workspace/ResultsGridView.h"
#include "workspace/WorkspacePage.h"

#include <QClipboard>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMenu>
#include <QMessageBox>
#include <QNetworkAccessManager>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollBar>
#include <QSettings>
#include <QSignalSpy>
#include <QTest>
#include <QTextEdit>

using namespace Qt::Literals::StringLiterals;

namespace {

// What the main window does with the workspace's messages: it switches the active
// connection in the store and tells the workspace.
class WindowStandIn final : public QObject, public ContentViewControllerDelegate
{
public:
    int added = 0;
    int manage = 0;
    QList<std::optional<QString>> selected;
    QPointer<ContentViewController> content;

    void contentDidAddHistoryRecord() override { ++added; }
    void contentDidRequestManageConnections() override { ++manage; }
    void contentDidSelectConnectionId(const std::optional<QString>& id) override
    {
        selected.append(id);
        ConnectionManager::shared().setActiveConnectionId(id);
        content->connectionsChanged();
    }
};

QString titleOf(const MRButton* button)
{
    QString text;
    for (const MRStyledText& run : button->styledTitle())
        text += run.text;
    return text;
}

QByteArray answer(const QString& sql)
{
    return QJsonDocument(QJsonObject{{u"status"_s, u"success"_s}, {u"query"_s, sql}}).toJson(QJsonDocument::Compact);
}

// The alert of that name once it is open; it is answered by clicking one of its buttons.
QMessageBox* openAlert(QWidget* owner, const QString& name)
{
    QMessageBox* box = nullptr;
    const bool open = QTest::qWaitFor([&] {
        box = owner->findChild<QMessageBox*>(name);
        return box && box->isVisible();
    });
    return open ? box : nullptr;
}

void press(QMessageBox* box, const QString& title)
{
    for (QAbstractButton* button : box->buttons()) {
        if (button->text() == title) {
            QTest::mouseClick(button, Qt::LeftButton);
            return;
        }
    }
    QFAIL(qPrintable(u"The alert has no button "_s + title));
}

// Objects the tests create carry the process id, so that test programs running side by
// side never meet.
QString suffixed(const char* sql)
{
    return QString::fromUtf8(sql).replace(u"%1"_s, QString::number(QCoreApplication::applicationPid()));
}

// The first value of the first row, "∅" for NULL, or the error; run able to write.
QString firstValue(DatabaseExecutor& executor, const QString& sql, const DatabaseConnection& c)
{
    QString value;
    bool done = false;
    executor.executeQuery(sql, c, &executor, [&](const QueryResultPtr& result, const QString& error) {
        done = true;
        if (!result)
            value = error;
        else if (result->rows.isEmpty() || result->rows.first().isEmpty())
            value = u"no rows"_s;
        else
            value = result->rows.first().first().value_or(u"∅"_s);
    });
    if (!QTest::qWaitFor([&] { return done; }, 60000))
        return u"no answer"_s;
    return value;
}

QString runningQuery(const QString& type, const QString& sql)
{
    return (type == u"postgresql"_s ? u"SELECT count(*) FROM pg_stat_activity WHERE state = 'active' AND query = '%1'"_s
                                    : u"SELECT count(*) FROM information_schema.PROCESSLIST WHERE INFO = '%1'"_s)
        .arg(sql);
}

void bothServers()
{
    QTest::addColumn<QString>("type");
    QTest::newRow("postgresql") << u"postgresql"_s;
    QTest::newRow("mysql") << u"mysql"_s;
}

} // namespace

// Declares the shop connection `var` on the server of `type` and makes it the active one.
#define USE_SHOP(var, type)                                                                                            \
    MIRELO_REQUIRE_DATABASE(var, type, TestDatabases::Server::Tls, TestDatabases::variable(type, "SHOP_DATABASE"));    \
    useConnection(m_connectionIds.value(type))

class TestWorkspace : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void wholeFlow_data() { bothServers(); }
    void wholeFlow();
    void promptKeys();
    void generatingAndCancel();
    void generationAnswers();
    void executeChecks_data();
    void executeChecks();
    void confirmation_data();
    void confirmation();
    void longStatement();
    void libraryErrorText();
    void readsRunUnasked_data();
    void readsRunUnasked();
    void refusedWrites_data();
    void refusedWrites();
    void stop_data();
    void stop();
    void timedOut_data() { bothServers(); }
    void timedOut();
    void cappedResultOffersTheWhole();
    void copy();
    void historyPage();
    void relativeTime_data();
    void relativeTime();
    void columnWidths_data();
    void columnWidths();
    void sqlCardHeight();
    void settingChips();
    void examplesAndPlaceholder();
    void connectionButton();
    void appearance();
    void updateBanner();

private:
    // Types the prompt, sends it with Ctrl+Return and waits for the outcome.
    void generate(const QString& prompt, const QString& sql);
    void useConnection(const std::optional<QString>& id);
    void makeContent();
    void execute(int timeout = 30000);

    std::unique_ptr<TestHttpServer> m_server;
    std::unique_ptr<ContentViewController> m_content;
    std::unique_ptr<WindowStandIn> m_window;
    QMap<QString, QString> m_connectionIds; // the shop on each server by type, and "unnamed"
    // Prepares, checks and looks at the servers beside the workspace's own executor.
    DatabaseExecutor m_observer;
};

void TestWorkspace::initTestCase()
{
    m_server = std::make_unique<TestHttpServer>();
    APIManager::shared().setServerURL(m_server->baseUrl());
    APIManager::shared().setApiKey(u"key"_s);
    ConnectionManager& connections = ConnectionManager::shared();
    for (const QString& type : {u"postgresql"_s, u"mysql"_s}) {
        if (auto c = TestDatabases::connection(type, TestDatabases::Server::Tls,
                                               TestDatabases::variable(type, "SHOP_DATABASE"))) {
            c->name = type == u"postgresql"_s ? u"Shop on PostgreSQL"_s : u"Shop on MariaDB"_s;
            connections.addConnection(*c);
            m_connectionIds.insert(type, c->connectionId);
        }
    }
    DatabaseConnection unnamed;
    connections.addConnection(unnamed);
    m_connectionIds.insert(u"unnamed"_s, unnamed.connectionId);
}

void TestWorkspace::init()
{
    setAppearance(false);
    QueryHistory::shared().clearAll();
    ConnectionManager::shared().setActiveConnectionId(std::nullopt);
    m_server->route("POST", "/api/v1", TestHttpServer::json(200, answer(u"SELECT 1"_s)));
    m_server->clearRequests();
    makeContent();
}

void TestWorkspace::makeContent()
{
    m_content.reset();
    m_content = std::make_unique<ContentViewController>();
    if (!m_window)
        m_window = std::make_unique<WindowStandIn>();
    m_window->content = m_content.get();
    m_content->setDelegate(m_window.get());
    m_content->show();
    QApplication::setActiveWindow(m_content.get());
    QVERIFY(QTest::qWaitForWindowActive(m_content.get()));
}

void TestWorkspace::cleanup()
{
    m_content.reset();
    m_window.reset();
    APIManager::shared().cancelPendingRequests();
    QuerySettings::shared().setAllowDestructive(false);
    DatabaseExecutor::setLibrarySearchListForTesting(u"postgresql"_s, std::nullopt);
    DatabaseExecutor::shared().setStatementTimeLimitForTesting(DatabaseExecutor::kStatementTimeLimit);
}

void TestWorkspace::useConnection(const std::optional<QString>& id)
{
    ConnectionManager::shared().setActiveConnectionId(id);
    m_content->connectionsChanged();
}

void TestWorkspace::generate(const QString& prompt, const QString& sql)
{
    m_server->route("POST", "/api/v1", TestHttpServer::json(200, answer(sql)));
    m_content->promptTextView()->clear();
    // Typed line by line: Return breaks the line.
    const QStringList lines = prompt.split(u'\n');
    for (qsizetype i = 0; i < lines.size(); ++i) {
        if (i > 0)
            QTest::keyClick(m_content->promptTextView(), Qt::Key_Return);
        QTest::keyClicks(m_content->promptTextView(), lines.at(i));
    }
    QTest::keyClick(m_content->promptTextView(), Qt::Key_Return, Qt::ControlModifier);
    QTRY_COMPARE(m_content->statusLabel()->text(), u"SQL generated. Review it, then Execute."_s);
}

// Presses Execute and waits until the statement is done.
void TestWorkspace::execute(int timeout)
{
    QTest::mouseClick(m_content->executeButton(), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(!m_content->isRunningQuery(), timeout);
}

void TestWorkspace::wholeFlow()
{
    QFETCH(QString, type);
    USE_SHOP(c, type);
    const QString sql = u"SELECT id, name FROM products ORDER BY id LIMIT 3"_s;
    generate(u"  three products\n"_s, sql);
    // The server got the trimmed prompt; the statement is shown highlighted for review.
    const QJsonObject body = QJsonDocument::fromJson(m_server->requests().constLast().body).object();
    QCOMPARE(body.value(u"prompt"_s).toString(), u"three products"_s);
    QCOMPARE(m_content->sqlTextView()->toPlainText(), sql);
    const MRSQLTextViewHighlighter* highlighter = MRSQLTextViewHighlighter::of(m_content->sqlTextView());
    QVERIFY(highlighter && !highlighter->spans().isEmpty());
    QVERIFY(m_content->resultsBox()->isVisible() && !m_content->suggestionsBox()->isVisible());
    // Recorded once, and the window told.
    QCOMPARE(QueryHistory::shared().records().constFirst().prompt, u"three products"_s);
    QCOMPARE(m_window->added, 1);
    QCOMPARE(m_content->historyRows().size(), 1);

    MRButton* button = m_content->executeButton();
    const int width = button->width();
    QTest::mouseClick(button, Qt::LeftButton);
    QVERIFY(m_content->isRunningQuery() && m_content->runSpinner()->isAnimating());
    QCOMPARE(m_content->resultsStatusLabel()->text(), u"Running query…"_s);
    // Execute becomes Stop, still enabled and as wide as before.
    QVERIFY(button->isEnabled());
    QCOMPARE(button->image().name(), u"stop.fill"_s);
    QCOMPARE(button->text() + button->toolTip(), u"StopStop"_s);
    QCOMPARE(button->width(), width);
    QTRY_VERIFY_WITH_TIMEOUT(!m_content->isRunningQuery(), 30000);
    QCOMPARE(button->text(), u"Execute"_s);
    QVERIFY(button->image().isNull() && !m_content->runSpinner()->isAnimating());
    const QueryResultPtr result = m_content->resultsGrid()->currentResult();
    QVERIFY(result);
    QCOMPARE(result->columnNames, QStringList({u"id"_s, u"name"_s}));
    QCOMPARE(result->rows.size(), 3);
    QTRY_COMPARE(m_content->resultsGrid()->height(), ResultsGridView::heightForRows(3));
    QVERIFY2(m_content->resultsStatusLabel()->text().startsWith(u"3 rows ("_s),
             qPrintable(m_content->resultsStatusLabel()->text()));
    // Running never touches the history.
    QCOMPARE(QueryHistory::shared().count(), 1);

    // A failing statement empties the grid and shows the server's sentence.
    generate(u"broken"_s, u"SELECT * FROM no_such_table"_s);
    execute();
    QVERIFY(!m_content->resultsGrid()->currentResult());
    QVERIFY2(m_content->resultsStatusLabel()->text().contains(u"no_such_table"_s),
             qPrintable(m_content->resultsStatusLabel()->text()));
    QCOMPARE(m_content->resultsStatusLabel()->textColor(), MRTheme::danger());
}

void TestWorkspace::promptKeys()
{
    QTextEdit* prompt = m_content->promptTextView();
    QVERIFY(prompt->hasFocus());
    // Return and the keypad's Enter break the line; nothing is sent.
    QTest::keyClicks(prompt, u"first"_s);
    QTest::keyClick(prompt, Qt::Key_Return);
    QTest::keyClicks(prompt, u"second"_s);
    QTest::keyClick(prompt, Qt::Key_Enter, Qt::KeypadModifier);
    QCOMPARE(prompt->toPlainText(), u"first\nsecond\n"_s);
    QCOMPARE(m_server->requests().size(), 0);
    // Ctrl with the keypad's Enter sends, as Ctrl+Return does.
    QTest::keyClick(prompt, Qt::Key_Enter, Qt::ControlModifier | Qt::KeypadModifier);
    QVERIFY(m_server->waitForRequests(1));
    QTRY_COMPARE(m_content->sqlTextView()->toPlainText(), u"SELECT 1"_s);

    // Only white space: an error sentence, focus back on the prompt, no request.
    prompt->setPlainText(u" \n\t \n"_s);
    m_content->sendButton()->setFocus();
    QTest::mouseClick(m_content->sendButton(), Qt::LeftButton);
    QCOMPARE(m_content->statusLabel()->text(), u"Enter a prompt to generate SQL."_s);
    QCOMPARE(m_content->statusLabel()->textColor(), MRTheme::danger());
    QVERIFY(prompt->hasFocus());
    QCOMPARE(m_server->requests().size(), 1);
}

void TestWorkspace::generatingAndCancel()
{
    MRButton* send = m_content->sendButton();
    // The server holds the answer's body until told.
    TestHttpServer::Response late = TestHttpServer::json(200, answer(u"SELECT 'late'"_s));
    late.pauseAfterBodyBytes = 0;
    m_server->route("POST", "/api/v1", late);
    QTest::keyClicks(m_content->promptTextView(), u"slow one"_s);
    QTest::mouseClick(send, Qt::LeftButton);
    QCOMPARE(send->image().name(), u"stop.fill"_s);
    QCOMPARE(send->toolTip(), u"Stop generating"_s);
    QVERIFY(send->isEnabled() && m_content->promptTextView()->isReadOnly() && m_content->spinner()->isAnimating());
    QCOMPARE(m_content->statusLabel()->text(), u"Generating SQL…"_s);

    // The whole answer is on its way back when Ctrl+Return, doing what the button does
    // now, cancels: the server handed it over while this thread was blocked.
    QVERIFY(m_server->waitForRequests(1));
    QSignalSpy ended(APIManager::shared().network(), &QNetworkAccessManager::finished);
    m_server->resumePaused();
    QVERIFY(m_server->waitForAnswers(1));
    QTest::keyClick(m_content->promptTextView(), Qt::Key_Return, Qt::ControlModifier);
    QCOMPARE(m_content->statusLabel()->text(), u"Generation cancelled."_s);
    QCOMPARE(send->image().name(), u"arrow.up"_s);
    QVERIFY(!m_content->promptTextView()->isReadOnly() && !m_content->spinner()->isAnimating());

    // The late answer is never shown.
    QTRY_COMPARE(ended.size(), 1);
    QCoreApplication::processEvents();
    QCOMPARE(m_content->sqlTextView()->toPlainText(), QString());
    QCOMPARE(QueryHistory::shared().count(), 0);
    QCOMPARE(m_content->statusLabel()->text(), u"Generation cancelled."_s);
}

void TestWorkspace::generationAnswers()
{
    generate(u"first"_s, u"SELECT 1 AS kept"_s);
    // A failed generation leaves the statement and history as they were.
    m_server->route(
        "POST", "/api/v1",
        TestHttpServer::json(400, R"({"status":"error","error":"No table matches.","error_type":"schema"})"));
    QTest::mouseClick(m_content->sendButton(), Qt::LeftButton);
    QTRY_COMPARE(m_content->statusLabel()->text(), u"[schema] No table matches."_s);
    QCOMPARE(m_content->sqlTextView()->toPlainText(), u"SELECT 1 AS kept"_s);
    QCOMPARE(QueryHistory::shared().count(), 1);

    // Success with an empty statement still counts: an empty card, Copy off, a record.
    generate(u"nothing"_s, QString());
    QVERIFY(m_content->resultsBox()->isVisible() && !m_content->sqlCopyButton()->isEnabled());
    QCOMPARE(m_content->sqlTextView()->toPlainText(), QString());
    QCOMPARE(QueryHistory::shared().count(), 2);
    QCOMPARE(m_window->added, 2);
}

void TestWorkspace::executeChecks_data()
{
    QTest::addColumn<QString>("sql");
    QTest::addColumn<QString>("connection"); // "", "unnamed", "missing driver"
    QTest::addColumn<QString>("status");     // the results status, or empty with the driver alert
    QTest::newRow("blank statement") << u" \n "_s << u"unnamed"_s << u"Generate SQL first."_s;
    QTest::newRow("no connection") << u"DELETE FROM t"_s << QString() << u"Select a database connection first."_s;
    // The missing library is found before the statement is judged.
    QTest::newRow("missing driver, destructive") << u"DELETE FROM t"_s << u"missing driver"_s << QString();
}

void TestWorkspace::executeChecks()
{
    QFETCH(QString, sql);
    QFETCH(QString, connection);
    QFETCH(QString, status);
    if (!connection.isEmpty()) // any record of the type will do: nothing reaches a server here
        useConnection(m_connectionIds.value(u"unnamed"_s));
    if (connection == u"missing driver"_s)
        DatabaseExecutor::setLibrarySearchListForTesting(u"postgresql"_s, QStringList{u"/nonexistent/libpq.so.5"_s});

    generate(u"check"_s, sql);
    QTest::mouseClick(m_content->executeButton(), Qt::LeftButton);
    if (status.isEmpty()) {
        QMessageBox* alert = openAlert(m_content.get(), u"driverNotFoundAlert"_s);
        QVERIFY(alert);
        QCOMPARE(alert->windowModality(), Qt::WindowModal);
        QCOMPARE(alert->text(), u"Driver Not Found"_s);
        QCOMPARE(alert->informativeText(), DatabaseExecutor::installInstructionsForType(u"postgresql"_s));
        QVERIFY(!m_content->findChild<QMessageBox*>(u"confirmRunAlert"_s));
        press(alert, u"OK"_s);
        QTRY_VERIFY(!m_content->findChild<QMessageBox*>(u"driverNotFoundAlert"_s));
        QCOMPARE(m_content->resultsStatusLabel()->text(), QString());
    } else {
        QCOMPARE(m_content->resultsStatusLabel()->text(), status);
        QCOMPARE(m_content->resultsStatusLabel()->textColor(), MRTheme::danger());
        QVERIFY(!m_content->findChild<QMessageBox*>());
    }
}

void TestWorkspace::confirmation_data()
{
    QTest::addColumn<QString>("answer");
    QTest::addColumn<bool>("switchWhileOpen");
    QTest::addColumn<bool>("allowDestructive");
    QTest::newRow("cancel") << u"Cancel"_s << false << false;
    QTest::newRow("run after a switch") << u"Run Query"_s << true << false;
    QTest::newRow("writes allowed still asks") << u"Run Query"_s << false << true;
}

void TestWorkspace::confirmation()
{
    QFETCH(QString, answer);
    QFETCH(bool, switchWhileOpen);
    QFETCH(bool, allowDestructive);
    USE_SHOP(c, u"postgresql"_s);
    QuerySettings::shared().setAllowDestructive(allowDestructive);

    // A quoted identifier named like a keyword looks destructive, and the answer tells
    // which server ran it.
    generate(u"which server"_s, u"SELECT version() AS \"delete\""_s);
    QTest::mouseClick(m_content->executeButton(), Qt::LeftButton);
    QMessageBox* alert = openAlert(m_content.get(), u"confirmRunAlert"_s);
    QVERIFY(alert);
    QCOMPARE(alert->windowModality(), Qt::WindowModal);
    QCOMPARE(alert->text(), u"Run this statement?"_s);
    QCOMPARE(alert->informativeText(), u"This query looks like it modifies data or schema (INSERT, UPDATE, DELETE, "
                                       "DROP, …). That can’t be undone."_s);
    QCOMPARE(alert->defaultButton()->text(), u"Run Query"_s);
    if (switchWhileOpen)
        useConnection(m_connectionIds.value(u"mysql"_s));

    press(alert, answer);
    // Running starts with the answer.
    QCOMPARE(m_content->isRunningQuery(), answer != u"Cancel"_s);
    QTRY_VERIFY(!m_content->findChild<QMessageBox*>(u"confirmRunAlert"_s));
    QTRY_VERIFY_WITH_TIMEOUT(!m_content->isRunningQuery(), 30000);
    const QueryResultPtr result = m_content->resultsGrid()->currentResult();
    if (answer == u"Cancel"_s) {
        QVERIFY(!result);
        QCOMPARE(m_content->resultsStatusLabel()->text(), QString());
        return;
    }
    QVERIFY2(result, qPrintable(m_content->resultsStatusLabel()->text()));
    QVERIFY(result->rows.at(0).at(0).value_or(QString()).startsWith(u"PostgreSQL"_s));
    if (switchWhileOpen)
        QVERIFY(titleOf(m_content->connButton()).endsWith(u"Shop on MariaDB"_s));
}

void TestWorkspace::longStatement()
{
    USE_SHOP(c, u"postgresql"_s);
    QueryHistory::shared().addRecord(QueryRecord::make(u"other"_s, u"SELECT 2"_s));
    generate(u"slow"_s, u"SELECT 1 AS n FROM pg_sleep(2.5)"_s);
    QTest::mouseClick(m_content->executeButton(), Qt::LeftButton);
    // The window keeps answering while the statement runs, and says for how long.
    const QRegularExpression elapsed(u"^Running query… [12] s$"_s);
    QTRY_VERIFY_WITH_TIMEOUT(elapsed.match(m_content->resultsStatusLabel()->text()).hasMatch(), 5000);
    QTRY_VERIFY_WITH_TIMEOUT(!m_content->isRunningQuery(), 30000);
    QVERIFY(m_content->resultsStatusLabel()->text().startsWith(u"1 row ("_s));

    // A statement replaced while it runs does not lend its result to the one now shown.
    generate(u"slow again"_s, u"SELECT 1 AS n FROM pg_sleep(0.5)"_s);
    QTest::mouseClick(m_content->executeButton(), Qt::LeftButton);
    m_content->loadHistoryRecordAtIndex(2);
    QCOMPARE(m_content->sqlTextView()->toPlainText(), u"SELECT 2"_s);
    QTRY_VERIFY_WITH_TIMEOUT(!m_content->isRunningQuery(), 30000);
    QVERIFY(!m_content->resultsGrid()->currentResult());
    QCOMPARE(m_content->resultsStatusLabel()->text(), QString());
}

void TestWorkspace::libraryErrorText()
{
    // libpq ends its message with a line break and indents its hint with a tab; the
    // status shows neither as blank space.
    DatabaseConnection refused;
    refused.host = u"127.0.0.1"_s;
    refused.port = 1;
    ConnectionManager::shared().addConnection(refused);
    useConnection(refused.connectionId);
    generate(u"anything"_s, u"SELECT 1"_s);
    execute();
    ConnectionManager::shared().removeConnectionWithId(refused.connectionId);
    const QString text = m_content->resultsStatusLabel()->text();
    QVERIFY2(text.startsWith(u"Connection failed: "_s) && text.contains(u"\n    Is the server running"_s),
             qPrintable(text));
    QVERIFY(!text.contains(u'\t') && !text.endsWith(u'\n'));
}

void TestWorkspace::readsRunUnasked_data()
{
    QTest::addColumn<QString>("type");
    QTest::addColumn<QString>("sql");
    QTest::addColumn<QString>("value"); // the first value, or empty for any
    const QString pg = u"postgresql"_s;
    const QString my = u"mysql"_s;
    QTest::newRow("postgresql: explain") << pg << u"EXPLAIN SELECT name FROM products"_s << QString();
    QTest::newRow("postgresql: cte")
        << pg << u"WITH cheap AS (SELECT id FROM products ORDER BY price LIMIT 2) SELECT count(*) FROM cheap"_s
        << u"2"_s;
    // The session the statement ran in was read-only.
    QTest::newRow("postgresql: show") << pg << u"SHOW default_transaction_read_only"_s << u"on"_s;
    QTest::newRow("postgresql: several reads") << pg << u"SELECT 1 AS a; SELECT 2 AS b"_s << u"2"_s;
    QTest::newRow("mysql: explain") << my << u"EXPLAIN SELECT name FROM products"_s << QString();
    QTest::newRow("mysql: show") << my << u"SHOW VARIABLES LIKE 'tx_read_only'"_s << u"tx_read_only"_s;
}

void TestWorkspace::readsRunUnasked()
{
    QFETCH(QString, type);
    QFETCH(QString, sql);
    QFETCH(QString, value);
    USE_SHOP(c, type);
    generate(u"a read"_s, sql);
    // Running at once, without a question.
    QTest::mouseClick(m_content->executeButton(), Qt::LeftButton);
    QVERIFY(m_content->isRunningQuery());
    QTRY_VERIFY_WITH_TIMEOUT(!m_content->isRunningQuery(), 30000);
    QVERIFY(!m_content->findChild<QMessageBox*>());
    const QueryResultPtr result = m_content->resultsGrid()->currentResult();
    QVERIFY2(result, qPrintable(m_content->resultsStatusLabel()->text()));
    if (!value.isEmpty())
        QCOMPARE(result->rows.value(0).value(0).value_or(QString()), value);
}

void TestWorkspace::refusedWrites_data()
{
    QTest::addColumn<QString>("type");
    QTest::addColumn<QString>("sql");
    QTest::addColumn<bool>("refusedByServer"); // else the text itself is found to ask first
    QTest::addColumn<QString>("check");        // a query whose first value shows the statement's effect
    QTest::addColumn<QString>("values");       // that value before, then after the statement
    const auto row = [](const char* name, const char* type, const char* sql, bool server, const char* check,
                        const char* values) {
        QTest::newRow(name) << QString::fromLatin1(type) << suffixed(sql) << server << suffixed(check)
                            << QString::fromLatin1(values);
    };
    row("postgresql: nextval", "postgresql", "select nextval('ws_s_%1')", true, "SELECT is_called FROM ws_s_%1", "f t");
    // Lifting the read-only mode in the text itself is found before anything runs.
    row("postgresql: lifts read-only", "postgresql", "SET transaction_read_only = off; SELECT nextval('ws_s_%1')",
        false, "SELECT is_called FROM ws_s_%1", "f t");
    row("mysql: nextval", "mysql", "SELECT NEXTVAL(ws_s_%1)", true, "SELECT next_not_cached_value FROM ws_s_%1",
        "1 1001");
}

void TestWorkspace::refusedWrites()
{
    QFETCH(QString, type);
    QFETCH(QString, sql);
    QFETCH(bool, refusedByServer);
    QFETCH(QString, check);
    QFETCH(QString, values);
    USE_SHOP(c, type);
    const auto tidy = qScopeGuard([&] { firstValue(m_observer, suffixed("DROP SEQUENCE IF EXISTS ws_s_%1"), c); });
    QCOMPARE(firstValue(m_observer, suffixed("CREATE SEQUENCE ws_s_%1"), c), u"no rows"_s);
    generate(u"a write in disguise"_s, sql);

    const QString asked = u"This query looks like it modifies data or schema (INSERT, UPDATE, DELETE, DROP, …). "
                          "That can’t be undone."_s;
    const QRegularExpression reason(
        u"^\\n\\nThe server refused to run it read-only: “(cannot execute .+ in a read-only transaction|"
        "Cannot execute statement in a READ ONLY transaction)”\\.$"_s);
    for (const QString& answer : {u"Cancel"_s, u"Run Query"_s}) {
        QTest::mouseClick(m_content->executeButton(), Qt::LeftButton);
        QMessageBox* alert = openAlert(m_content.get(), u"confirmRunAlert"_s);
        QVERIFY(alert);
        QVERIFY(!m_content->isRunningQuery());
        QVERIFY2(alert->informativeText().startsWith(asked), qPrintable(alert->informativeText()));
        const QString added = alert->informativeText().mid(asked.size());
        QVERIFY2(refusedByServer ? reason.match(added).hasMatch() : added.isEmpty(), qPrintable(added));
        // No failure while the question is open: the statement changed nothing yet.
        QCOMPARE(m_content->resultsStatusLabel()->text(), QString());
        QCOMPARE(firstValue(m_observer, check, c), values.section(u' ', 0, 0));

        press(alert, answer);
        QTRY_VERIFY_WITH_TIMEOUT(!m_content->isRunningQuery(), 30000);
        QTRY_VERIFY(!m_content->findChild<QMessageBox*>(u"confirmRunAlert"_s));
        if (answer == u"Cancel"_s) {
            QCOMPARE(m_content->resultsStatusLabel()->text(),
                     refusedByServer ? u"The statement was not run."_s : QString());
            QCOMPARE(firstValue(m_observer, check, c), values.section(u' ', 0, 0));
        } else {
            QVERIFY2(m_content->resultsGrid()->currentResult(), qPrintable(m_content->resultsStatusLabel()->text()));
            QCOMPARE(firstValue(m_observer, check, c), values.section(u' ', 1));
        }
    }
}

void TestWorkspace::stop_data()
{
    QTest::addColumn<QString>("type");
    QTest::addColumn<QString>("sql");
    QTest::addColumn<bool>("escape"); // else the Stop button
    QTest::newRow("postgresql, Stop") << u"postgresql"_s << u"select pg_sleep(30)"_s << false;
    QTest::newRow("mysql, Escape") << u"mysql"_s << u"select sleep(30)"_s << true;
}

void TestWorkspace::stop()
{
    QFETCH(QString, type);
    QFETCH(QString, sql);
    QFETCH(bool, escape);
    USE_SHOP(c, type);
    generate(u"a long wait"_s, sql);
    QTest::mouseClick(m_content->executeButton(), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(firstValue(m_observer, runningQuery(type, sql), c), u"1"_s, 30000);
    if (escape)
        QTest::keyClick(m_content->promptTextView(), Qt::Key_Escape);
    else
        QTest::mouseClick(m_content->executeButton(), Qt::LeftButton);
    // Well within the statement's 30 seconds, so it was stopped.
    QTRY_VERIFY_WITH_TIMEOUT(!m_content->isRunningQuery(), 10000);
    QCOMPARE(m_content->resultsStatusLabel()->text(), u"Query cancelled."_s);
    QCOMPARE(m_content->resultsStatusLabel()->textColor(), MRTheme::textSecondary());
    QVERIFY(!m_content->resultsGrid()->currentResult());
    QCOMPARE(m_content->executeButton()->text(), u"Execute"_s);
    // Stopped on the server too, and the next statement runs at once.
    QTRY_COMPARE_WITH_TIMEOUT(firstValue(m_observer, runningQuery(type, sql), c), u"0"_s, 10000);
    generate(u"the next one"_s, u"SELECT 2 AS b"_s);
    execute(10000);
    const QueryResultPtr result = m_content->resultsGrid()->currentResult();
    QVERIFY2(result, qPrintable(m_content->resultsStatusLabel()->text()));

    // Stopping once the result has arrived does nothing.
    const QString summary = m_content->resultsStatusLabel()->text();
    QTest::keyClick(m_content->promptTextView(), Qt::Key_Escape);
    QCoreApplication::processEvents();
    QCOMPARE(m_content->resultsGrid()->currentResult(), result);
    QCOMPARE(m_content->resultsStatusLabel()->text(), summary);
}

void TestWorkspace::timedOut()
{
    QFETCH(QString, type);
    USE_SHOP(c, type);
    DatabaseExecutor::shared().setStatementTimeLimitForTesting(std::chrono::seconds(2));
    generate(u"longer than the limit"_s, type == u"postgresql"_s ? u"select pg_sleep(30)"_s : u"select sleep(30)"_s);
    execute(20000);
    QCOMPARE(m_content->resultsStatusLabel()->text(), u"The server did not answer within 2 seconds."_s);
    QCOMPARE(m_content->resultsStatusLabel()->textColor(), MRTheme::danger());
    QVERIFY(!m_content->resultsGrid()->currentResult());
}

void TestWorkspace::cappedResultOffersTheWhole()
{
    USE_SHOP(c, u"postgresql"_s);
    const QString sql = u"SELECT g FROM generate_series(1, 25000) AS g"_s;
    generate(u"many rows"_s, sql);
    execute(60000);
    QVERIFY2(m_content->resultsStatusLabel()->text().startsWith(u"Showing 10000 of 25000 rows ("_s),
             qPrintable(m_content->resultsStatusLabel()->text()));
    // The grid knows the statement and the connection, to run it again into a file.
    ResultsGridView* grid = m_content->resultsGrid();
    QVERIFY(grid->offersWholeResult());
    QCOMPARE(grid->resultSource()->sql, sql);
    QCOMPARE(grid->resultSource()->connection.connectionId, m_connectionIds.value(u"postgresql"_s));
}

void TestWorkspace::copy()
{
    QGuiApplication::clipboard()->setText(u"before"_s);
    generate(u"empty"_s, QString());
    MRButton* copy = m_content->sqlCopyButton();
    QTest::mouseClick(copy, Qt::LeftButton);
    QCOMPARE(QGuiApplication::clipboard()->text(), u"before"_s);

    generate(u"one"_s, u"SELECT 1\n  AS one"_s);
    QTest::mouseClick(copy, Qt::LeftButton);
    QCOMPARE(QGuiApplication::clipboard()->text(), u"SELECT 1\n  AS one"_s);
    QCOMPARE(titleOf(copy), u"Copied!"_s);
    QCOMPARE(copy->styledTitle().constFirst().color, MRTheme::success());
    QTRY_COMPARE_WITH_TIMEOUT(titleOf(copy), u"Copy"_s, ContentViewController::kCopiedMs + 2000);
    QCOMPARE(copy->styledTitle().constFirst().color, MRTheme::textPrimary());
}

void TestWorkspace::historyPage()
{
    QueryHistory& history = QueryHistory::shared();
    history.addRecord(QueryRecord::make(u"Revenue by month"_s, u"SELECT sum(total) FROM orders"_s));
    history.addRecord(QueryRecord::make(u"Top customers"_s, u"SELECT name FROM customers"_s));
    history.addRecord(QueryRecord::make(u"Nothing came back"_s, QString()));
    history.addRecord(QueryRecord::make(u"late orders"_s, u"SELECT id FROM orders WHERE late"_s));
    m_content->showMainView(ContentViewController::MainView::History);
    QVERIFY(m_content->historyPage()->isVisible() && !m_content->queryPage()->isVisible());

    // Capitals match lower case, in the prompt or in the SQL; a click loads the record
    // at its place in the whole history.
    m_content->filterHistory(u"ORDERS"_s);
    QCOMPARE(m_content->historyRows().size(), 2);
    QTest::mouseClick(m_content->historyRows().at(1), Qt::LeftButton);
    QVERIFY(m_content->queryPage()->isVisible());
    QCOMPARE(m_content->promptTextView()->toPlainText(), u"Revenue by month"_s);
    QCOMPARE(m_content->sqlTextView()->toPlainText(), u"SELECT sum(total) FROM orders"_s);
    QVERIFY(m_content->resultsBox()->isVisible());

    // A record without SQL brings the suggestions back.
    m_content->loadHistoryRecordAtIndex(1);
    QVERIFY(m_content->suggestionsBox()->isVisible() && !m_content->resultsBox()->isVisible());

    // Nothing matches: the empty text.
    m_content->filterHistory(u"zebra"_s);
    m_content->showMainView(ContentViewController::MainView::History);
    QCOMPARE(m_content->historyRows().size(), 0);
    QVERIFY(m_content->historyEmptyLabel()->isVisible());
    m_content->filterHistory(QString());
    QCOMPARE(m_content->historyRows().size(), 4);

    // startNewQuery leaves the history page and clears the query page.
    m_content->startNewQuery();
    QVERIFY(m_content->queryPage()->isVisible() && m_content->suggestionsBox()->isVisible());
    QCOMPARE(m_content->promptTextView()->toPlainText(), QString());
}

void TestWorkspace::relativeTime_data()
{
    QTest::addColumn<double>("age"); // seconds before now; negative for the future
    QTest::addColumn<QString>("text");
    QTest::newRow("future") << -30.0 << u"just now"_s;
    QTest::newRow("59.9 s") << 59.9 << u"just now"_s;
    QTest::newRow("60 s") << 60.0 << u"1m ago"_s;
    QTest::newRow("3599 s") << 3599.0 << u"59m ago"_s;
    QTest::newRow("3600 s") << 3600.0 << u"1h ago"_s;
    QTest::newRow("23 h 59 m") << 86340.0 << u"23h ago"_s;
    QTest::newRow("24 h") << 86400.0 << u"1d ago"_s;
    QTest::newRow("6 d 23 h") << 601200.0 << u"6d ago"_s;
    QTest::newRow("7 d") << 604800.0 << u"Mar 5"_s;
}

void TestWorkspace::relativeTime()
{
    QFETCH(double, age);
    QFETCH(QString, text);
    // Noon, so that the date reads the same in every time zone the tests may run in.
    const double stamp = double(QDateTime(QDate(2024, 3, 5), QTime(12, 0), Qt::UTC).toSecsSinceEpoch());
    QCOMPARE(RelativeTime::text(stamp, stamp + age, QLocale(QLocale::English)), text);
    // A number no clock gives, from a damaged file, still reads as a date.
    QVERIFY(!RelativeTime::text(-1e300, stamp).isEmpty());

    // The history page counts from the workspace's clock.
    QueryHistory::shared().addRecord({u"p"_s, u"SELECT 1"_s, stamp});
    m_content->setClockForTesting(
        [stamp, age] { return QDateTime::fromMSecsSinceEpoch(qint64((stamp + age) * 1000), Qt::UTC); });
    QCOMPARE(m_content->historyRows().constFirst()->timeText(), RelativeTime::text(stamp, stamp + age));
}

void TestWorkspace::columnWidths_data()
{
    QTest::addColumn<int>("pane");
    QTest::addColumn<int>("query");
    QTest::addColumn<int>("history");
    QTest::newRow("600") << 600 << 504 << 536;
    QTest::newRow("1200") << 1200 << 720 << 840;
}

void TestWorkspace::columnWidths()
{
    QFETCH(int, pane);
    QFETCH(int, query);
    QFETCH(int, history);
    for (int i = 0; i < 30; ++i)
        QueryHistory::shared().addRecord(QueryRecord::make(u"prompt %1"_s.arg(i), u"SELECT %1"_s.arg(i)));
    // A long statement makes the page scroll; the scroll bar floats over it and takes no width.
    QStringList lines;
    for (int i = 0; i < 40; ++i)
        lines << u"SELECT %1"_s.arg(i);
    generate(u"long"_s, lines.join(u'\n'));
    m_content->resize(pane, 700);

    QWidget* column = m_content->queryPage()->column();
    QTRY_COMPARE(column->width(), query);
    QCOMPARE(column->x(), (pane - query) / 2);
    QVERIFY(m_content->queryPage()->verticalScrollBar()->maximum() > 0);
    QCOMPARE(m_content->promptCard()->height(), 152);

    m_content->showMainView(ContentViewController::MainView::History);
    QWidget* historyColumn = m_content->historyColumn();
    QTRY_COMPARE(historyColumn->width(), history);
    QCOMPARE(historyColumn->x(), (pane - history) / 2);
}

void TestWorkspace::sqlCardHeight()
{
    m_content->resize(900, 700);
    MRPanel* card = m_content->sqlCard();
    QTextEdit* view = m_content->sqlTextView();
    generate(u"one line"_s, u"SELECT 1"_s);
    QTRY_COMPARE(card->height(), 50);

    // Many lines stop at 280 and scroll inside the card.
    QStringList lines;
    for (int i = 0; i < 40; ++i)
        lines << u"SELECT %1"_s.arg(i);
    generate(u"many lines"_s, lines.join(u'\n'));
    QTRY_COMPARE(card->height(), 280);
    QVERIFY(view->verticalScrollBar()->maximum() > 0);

    // One long line wraps more in a narrower pane, and the card follows, showing it all.
    const QString wide = u"SELECT "_s + QStringList(30, u"column_name"_s).join(u", "_s) + u" FROM t"_s;
    generate(u"wide"_s, wide);
    const int wideHeight = card->height();
    m_content->resize(600, 700);
    QTRY_VERIFY(card->height() > wideHeight);
    QCOMPARE(view->verticalScrollBar()->maximum(), 0);
}

void TestWorkspace::settingChips()
{
    QuerySettings& settings = QuerySettings::shared();
    const QList<MRSettingChip*> chips = m_content->settingChips();
    QCOMPARE(chips.size(), 4);
    QVERIFY(chips.at(1)->isOn() && !chips.at(3)->isOn());
    // A click writes the setting, and the next prompt carries it.
    QTest::mouseClick(chips.at(3), Qt::LeftButton);
    QTest::mouseClick(chips.at(1), Qt::LeftButton);
    QVERIFY(settings.singularResults() && !settings.selfCorrection());
    generate(u"with settings"_s, u"SELECT 1"_s);
    const QJsonObject body = QJsonDocument::fromJson(m_server->requests().constLast().body).object();
    QCOMPARE(body.value(u"singular_results"_s).toBool(), true);
    QCOMPARE(body.value(u"self_correction"_s).toBool(), false);
    settings.setSelfCorrection(true);
    settings.setSingularResults(false);
    // A workspace made later shows what is stored.
    makeContent();
    QVERIFY(m_content->settingChips().at(1)->isOn() && !m_content->settingChips().at(3)->isOn());
}

void TestWorkspace::examplesAndPlaceholder()
{
    QVERIFY(m_content->promptPlaceholder()->isVisible());
    // The plus button's menu puts an example in the prompt and sends nothing.
    QTest::mouseClick(m_content->plusButton(), Qt::LeftButton);
    QMenu* menu = nullptr;
    QTRY_VERIFY((menu = m_content->findChild<QMenu*>()) && menu->isVisible());
    QCOMPARE(menu->actions().size(), 4);
    menu->actions().at(2)->trigger();
    QCOMPARE(m_content->promptTextView()->toPlainText(), u"Top 5 products by total revenue"_s);
    QVERIFY(!m_content->promptPlaceholder()->isVisible());
    QCOMPARE(m_server->requests().size(), 0);

    // A suggestion row generates at once.
    QCOMPARE(m_content->suggestionRows().size(), 4);
    QTest::mouseClick(m_content->suggestionRows().at(0), Qt::LeftButton);
    QVERIFY(m_server->waitForRequests(1));
    const QJsonObject body = QJsonDocument::fromJson(m_server->requests().constLast().body).object();
    QCOMPARE(body.value(u"prompt"_s).toString(), u"Show the 10 most recent orders"_s);
}

void TestWorkspace::connectionButton()
{
    MRButton* button = m_content->connButton();
    QCOMPARE(titleOf(button), u"Run against · No database"_s);
    useConnection(m_connectionIds.value(u"unnamed"_s));
    QCOMPARE(titleOf(button), u"Run against · (unnamed)"_s);

    // The menu under the button: names only; a pick goes to the window, which switches.
    QTest::mouseClick(button, Qt::LeftButton);
    QMenu* menu = nullptr;
    QTRY_VERIFY((menu = m_content->findChild<QMenu*>()) && menu->isVisible());
    QCOMPARE(menu->actions().constFirst()->text(), u"No database"_s);
    QAction* unnamed = nullptr;
    for (QAction* action : menu->actions()) {
        QVERIFY(!action->text().contains(u':'));
        if (action->data().toString() == m_connectionIds.value(u"unnamed"_s))
            unnamed = action;
    }
    QVERIFY(unnamed && unnamed->isChecked());
    menu->actions().constFirst()->trigger();
    QCOMPARE(m_window->selected, QList<std::optional<QString>>{std::nullopt});
    QCOMPARE(titleOf(button), u"Run against · No database"_s);
    menu->actions().constLast()->trigger();
    QCOMPARE(m_window->manage, 1);

    // A window that is gone is not called.
    m_window.reset();
    QTest::mouseClick(button, Qt::LeftButton);
    QTRY_VERIFY((menu = m_content->findChild<QMenu*>()) && menu->isVisible());
    menu->actions().constLast()->trigger();
}

void TestWorkspace::appearance()
{
    // Status colours follow a switch of appearance without a rebuild.
    m_content->promptTextView()->setPlainText(u" "_s);
    QTest::mouseClick(m_content->sendButton(), Qt::LeftButton);
    ElidedLabel* status = m_content->statusLabel();
    QCOMPARE(status->palette().color(QPalette::WindowText), MRTheme::danger().light());
    setAppearance(true);
    QTRY_COMPARE(status->palette().color(QPalette::WindowText), MRTheme::danger().dark());
    QCOMPARE(m_content->historyHeader()->palette().color(QPalette::WindowText), MRTheme::textPrimary().dark());
    setAppearance(false);
}

void TestWorkspace::updateBanner()
{
    UpdateBannerView* banner = m_content->updateBanner();
    QVERIFY(banner->isHidden());
    // A real check against the server finds a newer build.
    UpdateManager::setCurrentBuildForTesting(41);
    m_server->route("GET", "/api/v1/desktop/appcast",
                    TestHttpServer::json(200, R"({"release":{"version":"2.0","build":42,"sha256":"ab",)"
                                              R"("download_path":"/d/Mirelo-42.zip"}})"));
    UpdateManager::shared().checkWithCompletion();
    QTRY_VERIFY(banner->isVisible());
    QTRY_COMPARE(m_content->queryPage()->y(), ContentViewController::kBannerHeight);
    // A workspace made later shows the offer at once.
    ContentViewController another;
    QVERIFY(!another.updateBanner()->isHidden());

    QTest::mouseClick(banner->laterButton(), Qt::LeftButton);
    QTRY_VERIFY(banner->isHidden());
    QTRY_COMPARE(m_content->queryPage()->y(), 0);
    UpdateManager::setCurrentBuildForTesting(std::nullopt);
}

QTEST_MAIN(TestWorkspace)
#include "tst_workspace.moc"
