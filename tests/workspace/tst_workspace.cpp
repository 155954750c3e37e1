#include "ViewTestSupport.h"
#include "db/ConnectionManager.h"
#include "db/DatabaseExecutor.h"
#include "server/APIManager.h"
#include "stores/QuerySettings.h"
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
#include "workspace/ExportProgressPanel.h"
#include "workspace/QueryHistory.h"
#include "workspace/RelativeTime.h"
#include "workspace/ResultExport.h"
#include "workspace/ResultsGridView.h"
#include "workspace/WorkspacePage.h"

#include <QClipboard>
#include <QContextMenuEvent>
#include <QElapsedTimer>
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
#include <QTableView>
#include <QTemporaryDir>
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

// The shop database on one of the servers that scripts/test starts, or nullopt.
std::optional<DatabaseConnection> shopConnection(const QString& type)
{
    const QString prefix = type == u"postgresql"_s ? u"MIRELO_TEST_PG_"_s : u"MIRELO_TEST_MYSQL_"_s;
    const auto env = [&](const char* name) { return qEnvironmentVariable((prefix + QLatin1String(name)).toLatin1()); };
    if (env("PORT").isEmpty())
        return std::nullopt;
    DatabaseConnection c;
    c.name = type == u"postgresql"_s ? u"Shop on PostgreSQL"_s : u"Shop on MariaDB"_s;
    c.type = type;
    c.host = env("HOST");
    c.port = env("PORT").toLongLong();
    c.database = env("SHOP_DATABASE");
    c.username = env("USER");
    c.password = env("PASSWORD");
    return c;
}

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

// Objects the tests create carry the process id, so that test programs running side by
// side never meet.
const QString kSuffix = QString::number(QCoreApplication::applicationPid());

QString suffixed(const char* sql)
{
    const QString text = QString::fromUtf8(sql);
    return text.contains(u"%1"_s) ? text.arg(kSuffix) : text;
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

// The texts of the grid's context menu items that show.
QStringList menuItems(ResultsGridView* grid)
{
    QTableView* table = grid->table();
    const QPoint position(10, 10);
    QContextMenuEvent event(QContextMenuEvent::Mouse, position, table->viewport()->mapToGlobal(position));
    QApplication::sendEvent(table->viewport(), &event);
    QStringList items;
    QMenu* menu = grid->findChild<QMenu*>();
    if (!menu)
        return items;
    for (const QAction* action : menu->actions()) {
        if (action->isVisible())
            items << action->text();
    }
    menu->close();
    return items;
}

QAction* menuItem(ResultsGridView* grid, const QString& text)
{
    for (QAction* action : grid->findChild<QMenu*>()->actions()) {
        if (action->text() == text)
            return action;
    }
    return nullptr;
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

} // namespace

class TestWorkspace : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void wholeFlow_data();
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
    void timedOut_data();
    void timedOut();
    void exportWholeResult_data();
    void exportWholeResult();
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
    QString requireServer(const QString& type);

    std::unique_ptr<TestHttpServer> m_server;
    std::unique_ptr<ContentViewController> m_content;
    std::unique_ptr<WindowStandIn> m_window;
    QMap<QString, QString> m_connectionIds;          // by type, and "unnamed"
    QMap<QString, DatabaseConnection> m_connections; // the shop on each server, by type
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
        if (const auto c = shopConnection(type)) {
            connections.addConnection(*c);
            m_connectionIds.insert(type, c->connectionId);
            m_connections.insert(type, *c);
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
    DatabaseExecutor::setLibrarySearchListForTesting(u"postgresql"_s, std::nullopt);
    DatabaseExecutor::shared().setStatementTimeLimitForTesting(DatabaseExecutor::kStatementTimeLimit);
}

QString TestWorkspace::requireServer(const QString& type)
{
    if (!m_connectionIds.contains(type)) {
        if (qEnvironmentVariableIsSet("MIRELO_TEST_DB_REQUIRED"))
            qFatal("The database servers' MIRELO_TEST_* variables are missing.");
        return {};
    }
    return m_connectionIds.value(type);
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

void TestWorkspace::wholeFlow_data()
{
    QTest::addColumn<QString>("type");
    QTest::addColumn<QString>("sql");
    QTest::addColumn<QString>("failure");
    QTest::newRow("postgresql") << u"postgresql"_s << u"SELECT id, name FROM products ORDER BY id LIMIT 3"_s
                                << u"ERROR:  relation \"no_such_table\" does not exist"_s;
    QTest::newRow("mysql") << u"mysql"_s << u"SELECT id, name FROM products ORDER BY id LIMIT 3"_s
                           << u"Table 'mirelo_shop.no_such_table' doesn't exist"_s;
}

void TestWorkspace::wholeFlow()
{
    QFETCH(QString, type);
    QFETCH(QString, sql);
    QFETCH(QString, failure);
    const QString id = requireServer(type);
    if (id.isEmpty())
        QSKIP("No test database servers: run scripts/test.");
    useConnection(id);

    generate(u"  three products\n"_s, sql);
    // The server got the trimmed prompt; the statement is shown highlighted for review.
    const QJsonObject body = QJsonDocument::fromJson(m_server->requests().constLast().body).object();
    QCOMPARE(body.value(u"prompt"_s).toString(), u"three products"_s);
    QCOMPARE(m_content->sqlTextView()->toPlainText(), sql);
    const MRSQLTextViewHighlighter* highlighter = MRSQLTextViewHighlighter::of(m_content->sqlTextView());
    QVERIFY(highlighter && !highlighter->spans().isEmpty());
    QVERIFY(m_content->resultsBox()->isVisible());
    QVERIFY(!m_content->suggestionsBox()->isVisible());
    QVERIFY(m_content->sqlCopyButton()->isEnabled());
    // Recorded once, and the window told.
    QCOMPARE(QueryHistory::shared().count(), 1);
    QCOMPARE(QueryHistory::shared().records().constFirst().prompt, u"three products"_s);
    QCOMPARE(m_window->added, 1);
    QCOMPARE(m_content->historyRows().size(), 1);

    MRButton* execute = m_content->executeButton();
    QCOMPARE(execute->text(), u"Execute"_s);
    const int executeWidth = execute->width();
    QTest::mouseClick(execute, Qt::LeftButton);
    QVERIFY(m_content->isRunningQuery());
    QVERIFY(m_content->runSpinner()->isAnimating());
    QCOMPARE(m_content->resultsStatusLabel()->text(), u"Running query…"_s);
    // Execute becomes Stop, still enabled and as wide as before.
    QVERIFY(execute->isEnabled());
    QCOMPARE(execute->image().name(), u"stop.fill"_s);
    QCOMPARE(execute->text(), u"Stop"_s);
    QCOMPARE(execute->toolTip(), u"Stop"_s);
    QCOMPARE(execute->accessibleName(), u"Stop"_s);
    QCOMPARE(execute->width(), executeWidth);
    QTRY_VERIFY_WITH_TIMEOUT(!m_content->isRunningQuery(), 30000);
    QVERIFY(!m_content->runSpinner()->isAnimating());
    QCOMPARE(execute->text(), u"Execute"_s);
    QVERIFY(execute->image().isNull());
    QCOMPARE(execute->toolTip(), QString());
    const QueryResultPtr result = m_content->resultsGrid()->currentResult();
    QVERIFY(result);
    QCOMPARE(result->columnNames, QStringList({u"id"_s, u"name"_s}));
    QCOMPARE(result->rows.size(), 3);
    QTRY_COMPARE(m_content->resultsGrid()->height(), ResultsGridView::heightForRows(3));
    QVERIFY2(m_content->resultsStatusLabel()->text().startsWith(u"3 rows ("_s),
             qPrintable(m_content->resultsStatusLabel()->text()));
    QCOMPARE(m_content->resultsStatusLabel()->textColor(), MRTheme::textSecondary());
    // Running never touches the history.
    QCOMPARE(QueryHistory::shared().count(), 1);

    // A failing statement empties the grid and shows the server's sentence.
    generate(u"broken"_s, u"SELECT * FROM no_such_table"_s);
    QTest::mouseClick(m_content->executeButton(), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(!m_content->isRunningQuery(), 30000);
    QVERIFY(!m_content->resultsGrid()->currentResult());
    QVERIFY2(m_content->resultsStatusLabel()->text().startsWith(failure),
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
    QTest::keyClicks(prompt, u"third"_s);
    QCOMPARE(prompt->toPlainText(), u"first\nsecond\nthird"_s);
    QCOMPARE(m_server->requests().size(), 0);
    // Ctrl with the keypad's Enter sends, as Ctrl+Return does.
    QTest::keyClick(prompt, Qt::Key_Enter, Qt::ControlModifier | Qt::KeypadModifier);
    QVERIFY(m_server->waitForRequests(1));
    QTRY_COMPARE(m_content->sqlTextView()->toPlainText(), u"SELECT 1"_s);

    // Only white space: an error sentence, focus back on the prompt, no request.
    prompt->setPlainText(u" \n\t \n"_s);
    QVERIFY(!m_content->promptPlaceholder()->isVisible());
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
    QCOMPARE(send->image().name(), u"arrow.up"_s);
    QCOMPARE(send->toolTip(), u"Send"_s);
    QCOMPARE(send->accessibleName(), u"Send"_s);

    // The server holds the answer's body until told.
    TestHttpServer::Response late = TestHttpServer::json(200, answer(u"SELECT 'late'"_s));
    late.pauseAfterBodyBytes = 0;
    m_server->route("POST", "/api/v1", late);
    QTest::keyClicks(m_content->promptTextView(), u"slow one"_s);
    QTest::mouseClick(send, Qt::LeftButton);
    QCOMPARE(send->image().name(), u"stop.fill"_s);
    QCOMPARE(send->image().pointSize(), 13.0);
    QCOMPARE(send->toolTip(), u"Stop generating"_s);
    QCOMPARE(send->accessibleName(), u"Stop"_s);
    QVERIFY(send->isEnabled());
    QVERIFY(m_content->promptTextView()->isReadOnly());
    QVERIFY(m_content->spinner()->isAnimating());
    QCOMPARE(m_content->statusLabel()->text(), u"Generating SQL…"_s);

    // The whole answer is on its way back when Ctrl+Return, doing what the button does
    // now, cancels: the server handed it over while this thread was blocked.
    QVERIFY(m_server->waitForRequests(1));
    QSignalSpy ended(APIManager::shared().network(), &QNetworkAccessManager::finished);
    m_server->resumePaused();
    QVERIFY(m_server->waitForAnswers(1));
    QTest::keyClick(m_content->promptTextView(), Qt::Key_Return, Qt::ControlModifier);
    QCOMPARE(m_content->statusLabel()->text(), u"Generation cancelled."_s);
    QCOMPARE(m_content->statusLabel()->textColor(), MRTheme::textSecondary());
    QCOMPARE(send->image().name(), u"arrow.up"_s);
    QCOMPARE(send->image().pointSize(), 15.0);
    QVERIFY(!m_content->promptTextView()->isReadOnly());
    QVERIFY(!m_content->spinner()->isAnimating());

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

    // A failed generation leaves the statement, grid and history as they were.
    m_server->route(
        "POST", "/api/v1",
        TestHttpServer::json(400, R"({"status":"error","error":"No table matches.","error_type":"schema"})"));
    QTest::keyClicks(m_content->promptTextView(), u" again"_s);
    QTest::mouseClick(m_content->sendButton(), Qt::LeftButton);
    QTRY_COMPARE(m_content->statusLabel()->text(), u"[schema] No table matches."_s);
    QCOMPARE(m_content->statusLabel()->textColor(), MRTheme::danger());
    QCOMPARE(m_content->sqlTextView()->toPlainText(), u"SELECT 1 AS kept"_s);
    QCOMPARE(QueryHistory::shared().count(), 1);
    QCOMPARE(m_window->added, 1);

    // Success with an empty statement still counts: an empty card, Copy off, a record.
    generate(u"nothing"_s, QString());
    QVERIFY(m_content->resultsBox()->isVisible());
    QCOMPARE(m_content->sqlTextView()->toPlainText(), QString());
    QVERIFY(!m_content->sqlCopyButton()->isEnabled());
    QCOMPARE(QueryHistory::shared().count(), 2);
    QCOMPARE(QueryHistory::shared().records().constFirst().sql, QString());
    QCOMPARE(m_window->added, 2);
}

void TestWorkspace::executeChecks_data()
{
    QTest::addColumn<QString>("sql");
    QTest::addColumn<QString>("connection"); // "", "postgresql", "missing driver"
    QTest::addColumn<QString>("status");     // the results status, or empty with the driver alert

    QTest::newRow("empty statement") << QString() << u"postgresql"_s << u"Generate SQL first."_s;
    QTest::newRow("blank statement") << u" \n "_s << u"postgresql"_s << u"Generate SQL first."_s;
    QTest::newRow("no connection") << u"DELETE FROM t"_s << QString() << u"Select a database connection first."_s;
    // The missing library is found before the statement is judged.
    QTest::newRow("missing driver, destructive") << u"DELETE FROM t"_s << u"missing driver"_s << QString();
    QTest::newRow("missing driver") << u"SELECT 1"_s << u"missing driver"_s << QString();
}

void TestWorkspace::executeChecks()
{
    QFETCH(QString, sql);
    QFETCH(QString, connection);
    QFETCH(QString, status);
    if (!connection.isEmpty()) {
        // Any record of the type will do: nothing reaches a server here.
        useConnection(m_connectionIds.value(u"unnamed"_s));
    }
    if (connection == u"missing driver"_s)
        DatabaseExecutor::setLibrarySearchListForTesting(u"postgresql"_s, QStringList{u"/nonexistent/libpq.so.5"_s});

    generate(u"check"_s, sql);
    QTest::mouseClick(m_content->executeButton(), Qt::LeftButton);
    if (status.isEmpty()) {
        QMessageBox* alert = openAlert(m_content.get(), u"driverNotFoundAlert"_s);
        QVERIFY(alert);
        QCOMPARE(alert->windowModality(), Qt::WindowModal);
        QCOMPARE(alert->icon(), QMessageBox::Warning);
        QCOMPARE(alert->text(), u"Driver Not Found"_s);
        QCOMPARE(alert->informativeText(), DatabaseExecutor::installInstructionsForType(u"postgresql"_s));
        QVERIFY(!m_content->findChild<QMessageBox*>(u"confirmRunAlert"_s));
        press(alert, u"OK"_s);
        QTRY_VERIFY(!m_content->findChild<QMessageBox*>(u"driverNotFoundAlert"_s));
        QCOMPARE(m_content->resultsStatusLabel()->text(), QString());
        QVERIFY(m_content->executeButton()->isEnabled());
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
    QTest::newRow("run") << u"Run Query"_s << false << false;
    QTest::newRow("run after a switch") << u"Run Query"_s << true << false;
    QTest::newRow("writes allowed still asks") << u"Run Query"_s << false << true;
}

void TestWorkspace::confirmation()
{
    QFETCH(QString, answer);
    QFETCH(bool, switchWhileOpen);
    QFETCH(bool, allowDestructive);
    const QString postgres = requireServer(u"postgresql"_s);
    if (postgres.isEmpty())
        QSKIP("No test database servers: run scripts/test.");
    QuerySettings::shared().setAllowDestructive(allowDestructive);
    useConnection(postgres);

    // A quoted identifier named like a keyword looks destructive, and the answer tells
    // which server ran it.
    generate(u"which server"_s, u"SELECT version() AS \"delete\""_s);
    QTest::mouseClick(m_content->executeButton(), Qt::LeftButton);
    QMessageBox* alert = openAlert(m_content.get(), u"confirmRunAlert"_s);
    QVERIFY(alert);
    QCOMPARE(alert->windowModality(), Qt::WindowModal);
    QCOMPARE(alert->icon(), QMessageBox::Warning);
    QCOMPARE(alert->text(), u"Run this statement?"_s);
    QCOMPARE(alert->informativeText(), u"This query looks like it modifies data or schema (INSERT, UPDATE, DELETE, "
                                       "DROP, …). That can’t be undone."_s);
    QCOMPARE(alert->defaultButton()->text(), u"Run Query"_s);
    QCOMPARE(alert->buttons().size(), 2);
    if (switchWhileOpen)
        useConnection(m_connectionIds.value(u"mysql"_s));

    press(alert, answer);
    // Running starts with the answer.
    QCOMPARE(m_content->isRunningQuery(), answer != u"Cancel"_s);
    QTRY_VERIFY(!m_content->findChild<QMessageBox*>(u"confirmRunAlert"_s));
    if (answer == u"Cancel"_s) {
        QVERIFY(!m_content->isRunningQuery());
        QCOMPARE(m_content->resultsStatusLabel()->text(), QString());
        QVERIFY(!m_content->resultsGrid()->currentResult());
        QuerySettings::shared().setAllowDestructive(false);
        return;
    }
    QTRY_VERIFY_WITH_TIMEOUT(!m_content->isRunningQuery(), 30000);
    const QueryResultPtr result = m_content->resultsGrid()->currentResult();
    QVERIFY2(result, qPrintable(m_content->resultsStatusLabel()->text()));
    QVERIFY(result->rows.at(0).at(0).value_or(QString()).startsWith(u"PostgreSQL"_s));
    if (switchWhileOpen)
        QVERIFY(titleOf(m_content->connButton()).endsWith(u"Shop on MariaDB"_s));
    QuerySettings::shared().setAllowDestructive(false);
}

void TestWorkspace::longStatement()
{
    const QString postgres = requireServer(u"postgresql"_s);
    if (postgres.isEmpty())
        QSKIP("No test database servers: run scripts/test.");
    useConnection(postgres);
    QueryHistory::shared().addRecord(QueryRecord::make(u"other"_s, u"SELECT 2"_s));

    generate(u"slow"_s, u"SELECT 1 AS n FROM pg_sleep(2.5)"_s);
    QTest::mouseClick(m_content->executeButton(), Qt::LeftButton);
    // The window keeps answering while the statement runs, and says for how long.
    const QRegularExpression elapsed(u"^Running query… [12] s$"_s);
    QTRY_VERIFY_WITH_TIMEOUT(elapsed.match(m_content->resultsStatusLabel()->text()).hasMatch(), 5000);
    QVERIFY(m_content->isRunningQuery());
    QTRY_VERIFY_WITH_TIMEOUT(!m_content->isRunningQuery(), 30000);
    QVERIFY(m_content->resultsStatusLabel()->text().startsWith(u"1 row ("_s));

    // A statement replaced while it runs does not lend its result to the one now shown.
    generate(u"slow again"_s, u"SELECT 1 AS n FROM pg_sleep(0.5)"_s);
    QTest::mouseClick(m_content->executeButton(), Qt::LeftButton);
    m_content->loadHistoryRecordAtIndex(2);
    QCOMPARE(m_content->sqlTextView()->toPlainText(), u"SELECT 2"_s);
    QVERIFY(m_content->isRunningQuery());
    QTRY_VERIFY_WITH_TIMEOUT(!m_content->isRunningQuery(), 30000);
    QVERIFY(!m_content->runSpinner()->isAnimating());
    QVERIFY(!m_content->resultsGrid()->currentResult());
    QCOMPARE(m_content->resultsStatusLabel()->text(), QString());
}

void TestWorkspace::libraryErrorText()
{
    // libpq ends its message with a line break and indents its hint with a tab; the
    // status shows neither as blank space.
    DatabaseConnection refused;
    refused.name = u"Refused"_s;
    refused.host = u"127.0.0.1"_s;
    refused.port = 1;
    ConnectionManager::shared().addConnection(refused);
    useConnection(refused.connectionId);
    generate(u"anything"_s, u"SELECT 1"_s);
    QTest::mouseClick(m_content->executeButton(), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(!m_content->isRunningQuery(), 30000);
    ConnectionManager::shared().removeConnectionWithId(refused.connectionId);
    const QString text = m_content->resultsStatusLabel()->text();
    QVERIFY2(text.startsWith(u"Connection failed: "_s), qPrintable(text));
    QVERIFY2(text.contains(u"\n    Is the server running"_s), qPrintable(text));
    QVERIFY(!text.contains(u'\t'));
    QVERIFY(!text.endsWith(u'\n'));
    QCOMPARE(m_content->resultsStatusLabel()->textColor(), MRTheme::danger());
    QVERIFY(!m_content->resultsGrid()->currentResult());
}

void TestWorkspace::readsRunUnasked_data()
{
    QTest::addColumn<QString>("type");
    QTest::addColumn<QString>("sql");
    QTest::addColumn<QString>("column"); // the result's first column
    QTest::addColumn<QString>("value");  // its first value, or empty for any
    const auto row = [](const QString& type, const char* name, const char* sql, const char* column,
                        const char* value = "") {
        QTest::addRow("%s: %s", qPrintable(type), name)
            << type << QString::fromUtf8(sql) << QString::fromUtf8(column) << QString::fromUtf8(value);
    };
    for (const QString& type : {u"postgresql"_s, u"mysql"_s}) {
        const bool pg = type == u"postgresql"_s;
        row(type, "select", "SELECT count(*) AS n FROM products", "n");
        row(type, "explain", "EXPLAIN SELECT name FROM products", pg ? "QUERY PLAN" : "id");
        row(type, "cte",
            "WITH cheap AS (SELECT id FROM products ORDER BY price LIMIT 2) SELECT count(*) AS c FROM cheap", "c", "2");
        if (pg) {
            // The session the statement ran in was read-only.
            row(type, "show", "SHOW default_transaction_read_only", "default_transaction_read_only", "on");
            row(type, "several reads", "SELECT 1 AS a; SELECT 2 AS b", "b", "2");
        } else {
            row(type, "show", "SHOW VARIABLES LIKE 'tx_read_only'", "Variable_name", "tx_read_only");
        }
    }
}

void TestWorkspace::readsRunUnasked()
{
    QFETCH(QString, type);
    QFETCH(QString, sql);
    QFETCH(QString, column);
    QFETCH(QString, value);
    const QString id = requireServer(type);
    if (id.isEmpty())
        QSKIP("No test database servers: run scripts/test.");
    useConnection(id);
    generate(u"a read"_s, sql);
    QTest::mouseClick(m_content->executeButton(), Qt::LeftButton);
    // Running at once, without a question.
    QVERIFY(m_content->isRunningQuery());
    QTRY_VERIFY_WITH_TIMEOUT(!m_content->isRunningQuery(), 30000);
    QVERIFY(!m_content->findChild<QMessageBox*>());
    const QueryResultPtr result = m_content->resultsGrid()->currentResult();
    QVERIFY2(result, qPrintable(m_content->resultsStatusLabel()->text()));
    QCOMPARE(result->columnNames.value(0), column);
    if (!value.isEmpty())
        QCOMPARE(result->rows.value(0).value(0).value_or(QString()), value);
    QCOMPARE(m_content->resultsStatusLabel()->textColor(), MRTheme::textSecondary());
}

void TestWorkspace::refusedWrites_data()
{
    QTest::addColumn<QString>("type");
    QTest::addColumn<QStringList>("setup");
    QTest::addColumn<QString>("sql");
    QTest::addColumn<bool>("refusedByServer"); // else the text itself is found to ask first
    QTest::addColumn<QString>("check");        // a query whose first value shows the statement's effect
    QTest::addColumn<QString>("before");
    QTest::addColumn<QString>("after");
    QTest::addColumn<QStringList>("cleanup");

    const auto list = [](std::initializer_list<const char*> sql) {
        QStringList statements;
        for (const char* statement : sql)
            statements << suffixed(statement);
        return statements;
    };
    const auto row = [](const QString& type, const char* name, const QStringList& setup, const char* sql, bool server,
                        const char* check, const char* before, const char* after, const QStringList& cleanup) {
        QTest::addRow("%s: %s", qPrintable(type), name)
            << type << setup << suffixed(sql) << server << suffixed(check) << QString::fromUtf8(before)
            << QString::fromUtf8(after) << cleanup;
    };
    const QString pg = u"postgresql"_s;
    const QString my = u"mysql"_s;
    const QStringList table = list({"CREATE TABLE ws_t_%1 (id INTEGER)"});
    const QStringList sequence = list({"CREATE SEQUENCE ws_s_%1"});
    const QStringList dropSequence = list({"DROP SEQUENCE IF EXISTS ws_s_%1"});
    row(pg, "select into", table, "SELECT * INTO copy_of_t_%1 FROM ws_t_%1", true,
        "SELECT to_regclass('copy_of_t_%1') IS NOT NULL", "f", "t",
        list({"DROP TABLE IF EXISTS ws_t_%1", "DROP TABLE IF EXISTS copy_of_t_%1"}));
    row(pg, "setval", sequence, "select setval('ws_s_%1', 100)", true, "SELECT last_value FROM ws_s_%1", "1", "100",
        dropSequence);
    row(pg, "nextval", sequence, "select nextval('ws_s_%1')", true, "SELECT is_called FROM ws_s_%1", "f", "t",
        dropSequence);
    // Lifting the read-only mode in the text itself is found before anything runs.
    row(pg, "lifts read-only", sequence, "SET transaction_read_only = off; SELECT nextval('ws_s_%1')", false,
        "SELECT is_called FROM ws_s_%1", "f", "t", dropSequence);
    row(my, "optimize table", table, "OPTIMIZE TABLE ws_t_%1", true, "SELECT 1", "1", "1",
        list({"DROP TABLE IF EXISTS ws_t_%1"}));
    row(my, "nextval", sequence, "SELECT NEXTVAL(ws_s_%1)", true, "SELECT next_not_cached_value FROM ws_s_%1", "1",
        "1001", dropSequence);
}

void TestWorkspace::refusedWrites()
{
    QFETCH(QString, type);
    QFETCH(QStringList, setup);
    QFETCH(QString, sql);
    QFETCH(bool, refusedByServer);
    QFETCH(QString, check);
    QFETCH(QString, before);
    QFETCH(QString, after);
    QFETCH(QStringList, cleanup);
    const QString id = requireServer(type);
    if (id.isEmpty())
        QSKIP("No test database servers: run scripts/test.");
    const DatabaseConnection c = m_connections.value(type);
    const auto tidy = qScopeGuard([&] {
        for (const QString& statement : cleanup)
            firstValue(m_observer, statement, c);
    });
    for (const QString& statement : setup)
        QCOMPARE(firstValue(m_observer, statement, c), u"no rows"_s);
    useConnection(id);
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
        QCOMPARE(alert->text(), u"Run this statement?"_s);
        QVERIFY2(alert->informativeText().startsWith(asked), qPrintable(alert->informativeText()));
        const QString added = alert->informativeText().mid(asked.size());
        if (refusedByServer)
            QVERIFY2(reason.match(added).hasMatch(), qPrintable(added));
        else
            QCOMPARE(added, QString());
        QCOMPARE(alert->defaultButton()->text(), u"Run Query"_s);
        // No failure while the question is open: the statement changed nothing yet.
        QCOMPARE(m_content->resultsStatusLabel()->text(), QString());
        QVERIFY(!m_content->resultsGrid()->currentResult());
        QCOMPARE(firstValue(m_observer, check, c), before);

        press(alert, answer);
        if (answer == u"Cancel"_s) {
            QTRY_VERIFY(!m_content->findChild<QMessageBox*>(u"confirmRunAlert"_s));
            QVERIFY(!m_content->isRunningQuery());
            QCOMPARE(m_content->resultsStatusLabel()->text(),
                     refusedByServer ? u"The statement was not run."_s : QString());
            QCOMPARE(m_content->resultsStatusLabel()->textColor(), MRTheme::textSecondary());
            QCOMPARE(firstValue(m_observer, check, c), before);
            continue;
        }
        QVERIFY(m_content->isRunningQuery());
        QTRY_VERIFY_WITH_TIMEOUT(!m_content->isRunningQuery(), 30000);
        QVERIFY(!m_content->findChild<QMessageBox*>(u"confirmRunAlert"_s));
        QVERIFY2(m_content->resultsGrid()->currentResult(), qPrintable(m_content->resultsStatusLabel()->text()));
        QCOMPARE(m_content->resultsStatusLabel()->textColor(), MRTheme::textSecondary());
        QCOMPARE(firstValue(m_observer, check, c), after);
    }
}

void TestWorkspace::stop_data()
{
    QTest::addColumn<QString>("type");
    QTest::addColumn<QString>("sql");
    QTest::addColumn<bool>("escape"); // else the Stop button
    for (const bool escape : {false, true}) {
        const char* how = escape ? "Escape" : "Stop";
        QTest::addRow("postgresql, %s", how) << u"postgresql"_s << u"select pg_sleep(30)"_s << escape;
        QTest::addRow("mysql, %s", how) << u"mysql"_s << u"select sleep(30)"_s << escape;
    }
}

void TestWorkspace::stop()
{
    QFETCH(QString, type);
    QFETCH(QString, sql);
    QFETCH(bool, escape);
    const QString id = requireServer(type);
    if (id.isEmpty())
        QSKIP("No test database servers: run scripts/test.");
    const DatabaseConnection c = m_connections.value(type);
    const QString running =
        (type == u"postgresql"_s ? u"SELECT count(*) FROM pg_stat_activity WHERE state = 'active' AND query = '%1'"_s
                                 : u"SELECT count(*) FROM information_schema.PROCESSLIST WHERE INFO = '%1'"_s)
            .arg(sql);
    useConnection(id);
    generate(u"a long wait"_s, sql);
    QTest::mouseClick(m_content->executeButton(), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(firstValue(m_observer, running, c), u"1"_s, 30000);
    QVERIFY(m_content->isRunningQuery());

    QElapsedTimer clock;
    clock.start();
    if (escape)
        QTest::keyClick(m_content->promptTextView(), Qt::Key_Escape);
    else
        QTest::mouseClick(m_content->executeButton(), Qt::LeftButton);
    // Well within the statement's 30 seconds, so it was stopped.
    QTRY_VERIFY_WITH_TIMEOUT(!m_content->isRunningQuery(), 10000);
    qInfo("stopped after %lld ms", static_cast<long long>(clock.elapsed()));
    QCOMPARE(m_content->resultsStatusLabel()->text(), u"Query cancelled."_s);
    QCOMPARE(m_content->resultsStatusLabel()->textColor(), MRTheme::textSecondary());
    QVERIFY(!m_content->resultsGrid()->currentResult());
    QCOMPARE(m_content->executeButton()->text(), u"Execute"_s);
    QVERIFY(!m_content->runSpinner()->isAnimating());
    // Stopped on the server too, and the next statement runs at once.
    QTRY_COMPARE_WITH_TIMEOUT(firstValue(m_observer, running, c), u"0"_s, 10000);
    generate(u"the next one"_s, u"SELECT 2 AS b"_s);
    QTest::mouseClick(m_content->executeButton(), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(!m_content->isRunningQuery(), 10000);
    const QueryResultPtr result = m_content->resultsGrid()->currentResult();
    QVERIFY2(result, qPrintable(m_content->resultsStatusLabel()->text()));

    // Stopping once the result has arrived does nothing.
    const QString summary = m_content->resultsStatusLabel()->text();
    QTest::keyClick(m_content->promptTextView(), Qt::Key_Escape);
    QCoreApplication::processEvents();
    QVERIFY(!m_content->isRunningQuery());
    QCOMPARE(m_content->resultsGrid()->currentResult(), result);
    QCOMPARE(m_content->resultsStatusLabel()->text(), summary);
}

void TestWorkspace::timedOut_data()
{
    QTest::addColumn<QString>("type");
    QTest::addColumn<QString>("sql");
    QTest::newRow("postgresql") << u"postgresql"_s << u"select pg_sleep(30)"_s;
    QTest::newRow("mysql") << u"mysql"_s << u"select sleep(30)"_s;
}

void TestWorkspace::timedOut()
{
    QFETCH(QString, type);
    QFETCH(QString, sql);
    const QString id = requireServer(type);
    if (id.isEmpty())
        QSKIP("No test database servers: run scripts/test.");
    DatabaseExecutor::shared().setStatementTimeLimitForTesting(std::chrono::seconds(2));
    useConnection(id);
    generate(u"longer than the limit"_s, sql);
    QTest::mouseClick(m_content->executeButton(), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(!m_content->isRunningQuery(), 20000);
    QCOMPARE(m_content->resultsStatusLabel()->text(), u"The server did not answer within 2 seconds."_s);
    QCOMPARE(m_content->resultsStatusLabel()->textColor(), MRTheme::danger());
    QVERIFY(!m_content->resultsGrid()->currentResult());
    QCOMPARE(m_content->executeButton()->text(), u"Execute"_s);
}

void TestWorkspace::exportWholeResult_data()
{
    QTest::addColumn<QString>("type");
    QTest::addColumn<QString>("sql");
    // Every 5000th label is NULL; the third needs quoting for its comma, the fourth for its quotes.
    QTest::newRow("postgresql") << u"postgresql"_s
                                << u"SELECT g AS n, CASE WHEN g % 5000 = 0 THEN NULL WHEN g = 3 THEN 'a,b' "
                                   "WHEN g = 4 THEN 'say \"hi\"' ELSE 'row ' || g END AS \"label, quoted\" "
                                   "FROM generate_series(1, 25000) AS g ORDER BY g"_s;
    QTest::newRow("mysql") << u"mysql"_s
                           << u"SELECT seq AS n, CASE WHEN seq % 5000 = 0 THEN NULL WHEN seq = 3 THEN 'a,b' "
                              "WHEN seq = 4 THEN 'say \"hi\"' ELSE CONCAT('row ', seq) END AS `label, quoted` "
                              "FROM seq_1_to_25000 ORDER BY seq"_s;
}

void TestWorkspace::exportWholeResult()
{
    QFETCH(QString, type);
    QFETCH(QString, sql);
    const QString id = requireServer(type);
    if (id.isEmpty())
        QSKIP("No test database servers: run scripts/test.");
    useConnection(id);
    generate(u"many rows"_s, sql);
    QTest::mouseClick(m_content->executeButton(), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(!m_content->isRunningQuery(), 60000);
    QVERIFY2(m_content->resultsStatusLabel()->text().startsWith(u"Showing 10000 of 25000 rows ("_s),
             qPrintable(m_content->resultsStatusLabel()->text()));
    ResultsGridView* grid = m_content->resultsGrid();
    QCOMPARE(menuItems(grid), QStringList({u"Copy"_s, u"Export CSV…"_s, u"Export All 25000 Rows as CSV…"_s}));

    QTemporaryDir dir;
    const QString path = dir.filePath(u"all.csv"_s);
    QSignalSpy exported(grid, &ResultsGridView::wholeResultExported);
    ResultsGridView::setNextFileName(path);
    menuItem(grid, u"Export All 25000 Rows as CSV…"_s)->trigger();
    // The panel while it writes; once done it is gone.
    QTRY_VERIFY(grid->exportPanel() || !exported.isEmpty());
    if (ExportProgressPanel* panel = grid->exportPanel()) {
        QCOMPARE(panel->windowModality(), Qt::WindowModal);
        QCOMPARE(panel->titleLabel()->text(), u"Exporting all 25000 rows to “all.csv”…"_s);
    }
    QTRY_VERIFY_WITH_TIMEOUT(!exported.isEmpty(), 60000);
    QCOMPARE(exported.constFirst().at(1).toULongLong(), quint64(25000));
    QTRY_VERIFY(!grid->exportPanel());

    // The grid's CSV of every row: the rows it shows, then the rest, in the same form.
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray written = file.readAll();
    auto whole = std::make_shared<QueryResult>();
    whole->columnNames = {u"n"_s, u"label, quoted"_s};
    for (int n = 1; n <= 25000; ++n) {
        const SQLValue label = n % 5000 == 0 ? SQLValue()
                               : n == 3      ? SQLValue(u"a,b"_s)
                               : n == 4      ? SQLValue(u"say \"hi\""_s)
                                             : SQLValue(u"row %1"_s.arg(n));
        whole->rows.append({QString::number(n), label});
    }
    QCOMPARE(written, ResultExport::csv(*whole));
    QVERIFY(written.startsWith(ResultExport::csv(*grid->currentResult())));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{u"all.csv"_s});
}

void TestWorkspace::copy()
{
    QGuiApplication::clipboard()->setText(u"before"_s);
    generate(u"empty"_s, QString());
    MRButton* copy = m_content->sqlCopyButton();
    QVERIFY(!copy->isEnabled());
    QTest::mouseClick(copy, Qt::LeftButton);
    QCOMPARE(QGuiApplication::clipboard()->text(), u"before"_s);
    QCOMPARE(titleOf(copy), u"Copy"_s);

    generate(u"one"_s, u"SELECT 1\n  AS one"_s);
    QTest::mouseClick(copy, Qt::LeftButton);
    QCOMPARE(QGuiApplication::clipboard()->text(), u"SELECT 1\n  AS one"_s);
    QCOMPARE(titleOf(copy), u"Copied!"_s);
    QCOMPARE(copy->styledTitle().constFirst().color, MRTheme::success());
    QCOMPARE(copy->styledTitle().constFirst().font, MRTheme::uiFont(12.5, QFont::Medium));
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
    QVERIFY(m_content->historyPage()->isVisible());
    QVERIFY(!m_content->queryPage()->isVisible());
    QCOMPARE(m_content->historyRows().size(), 4);
    QVERIFY(!m_content->historyEmptyLabel()->isVisible());

    // Capitals match lower case, in the prompt or in the SQL; a click loads the record
    // at its place in the whole history.
    m_content->filterHistory(u"ORDERS"_s);
    QCOMPARE(m_content->historyRows().size(), 2);
    QCOMPARE(m_content->historyRows().at(1)->promptText(), u"Revenue by month"_s);
    QTest::mouseClick(m_content->historyRows().at(1), Qt::LeftButton);
    QVERIFY(m_content->queryPage()->isVisible());
    QCOMPARE(m_content->promptTextView()->toPlainText(), u"Revenue by month"_s);
    QCOMPARE(m_content->sqlTextView()->toPlainText(), u"SELECT sum(total) FROM orders"_s);
    QVERIFY(m_content->resultsBox()->isVisible());
    QVERIFY(m_content->sqlCopyButton()->isEnabled());
    QCOMPARE(history.count(), 4);

    // A record without SQL brings the suggestions back.
    m_content->loadHistoryRecordAtIndex(1);
    QVERIFY(m_content->suggestionsBox()->isVisible());
    QVERIFY(!m_content->resultsBox()->isVisible());
    QVERIFY(!m_content->sqlCopyButton()->isEnabled());
    m_content->loadHistoryRecordAtIndex(4);
    QCOMPARE(m_content->promptTextView()->toPlainText(), u"Nothing came back"_s);

    // Nothing matches: the empty text, 8 points above the column's end.
    m_content->filterHistory(u"zebra"_s);
    m_content->showMainView(ContentViewController::MainView::History);
    QCOMPARE(m_content->historyRows().size(), 0);
    QVERIFY(m_content->historyEmptyLabel()->isVisible());
    QWidget* column = m_content->historyColumn();
    QTRY_COMPARE(
        m_content->historyEmptyLabel()->mapTo(column, QPoint(0, m_content->historyEmptyLabel()->height())).y() + 8,
        column->height());
    QCOMPARE(m_content->historyEmptyLabel()->geometry().top() - m_content->historyHeader()->geometry().bottom() - 1,
             16);
    m_content->filterHistory(QString());
    QCOMPARE(m_content->historyFilter(), std::nullopt);
    QCOMPARE(m_content->historyRows().size(), 4);
    QTRY_COMPARE(m_content->historyRows().first()->mapTo(column, QPoint()).y(),
                 m_content->historyHeader()->mapTo(column, QPoint()).y() + m_content->historyHeader()->height() + 14);

    // startNewQuery leaves the history page and clears the query page.
    m_content->startNewQuery();
    QVERIFY(m_content->queryPage()->isVisible());
    QCOMPARE(m_content->promptTextView()->toPlainText(), QString());
    QVERIFY(m_content->promptPlaceholder()->isVisible());
    QVERIFY(m_content->suggestionsBox()->isVisible());
}

void TestWorkspace::relativeTime_data()
{
    QTest::addColumn<double>("age"); // seconds before now; negative for the future
    QTest::addColumn<QString>("text");
    QTest::newRow("future") << -30.0 << u"just now"_s;
    QTest::newRow("59 s") << 59.0 << u"just now"_s;
    QTest::newRow("59.9 s") << 59.9 << u"just now"_s;
    QTest::newRow("60 s") << 60.0 << u"1m ago"_s;
    QTest::newRow("61 s") << 61.0 << u"1m ago"_s;
    QTest::newRow("3599 s") << 3599.0 << u"59m ago"_s;
    QTest::newRow("3600 s") << 3600.0 << u"1h ago"_s;
    QTest::newRow("23 h 59 m") << 86340.0 << u"23h ago"_s;
    QTest::newRow("24 h") << 86400.0 << u"1d ago"_s;
    QTest::newRow("6 d 23 h") << 601200.0 << u"6d ago"_s;
    QTest::newRow("7 d") << 604800.0 << u"Mar 5"_s;
    QTest::newRow("a year") << 366 * 86400.0 << u"Mar 5"_s;
}

void TestWorkspace::relativeTime()
{
    QFETCH(double, age);
    QFETCH(QString, text);
    // Noon, so that the date reads the same in every time zone the tests may run in.
    const double stamp = double(QDateTime(QDate(2024, 3, 5), QTime(12, 0), Qt::UTC).toSecsSinceEpoch());
    QCOMPARE(RelativeTime::text(stamp, stamp + age, QLocale(QLocale::English)), text);
    QCOMPARE(RelativeTime::text(0, stamp), QString());
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
    QCOMPARE(column->y(), 64);
    QVERIFY(m_content->queryPage()->verticalScrollBar()->maximum() > 0);
    QCOMPARE(m_content->queryPage()->document()->height(), 64 + column->height() + 48);
    // The hint ends 2 points inside the column; the spinner, running, 8 points before it.
    const auto inColumn = [column](QWidget* w) { return QRect(w->mapTo(column, QPoint()), w->size()); };
    QCOMPARE(inColumn(m_content->hintLabel()).right() + 1, query - 2);
    m_content->promptTextView()->setPlainText(u"again"_s);
    QTest::mouseClick(m_content->sendButton(), Qt::LeftButton);
    QVERIFY(m_content->spinner()->isVisible());
    QCOMPARE(inColumn(m_content->spinner()).right() + 1, inColumn(m_content->hintLabel()).left() - 8);
    QCOMPARE(inColumn(m_content->connButton()).top(), inColumn(m_content->promptCard()).bottom() + 1 + 10);
    QCOMPARE(m_content->promptCard()->height(), 152);
    QCOMPARE(inColumn(m_content->resultsBox()).bottom() + 1, column->height());

    m_content->showMainView(ContentViewController::MainView::History);
    QWidget* historyColumn = m_content->historyColumn();
    QTRY_COMPARE(historyColumn->width(), history);
    QCOMPARE(historyColumn->x(), (pane - history) / 2);
    QCOMPARE(historyColumn->y(), 60);
    QCOMPARE(m_content->historyPage()->document()->height(), 60 + historyColumn->height() + 40);
}

void TestWorkspace::sqlCardHeight()
{
    m_content->resize(900, 700);
    MRPanel* card = m_content->sqlCard();
    QTextEdit* view = m_content->sqlTextView();

    generate(u"one line"_s, u"SELECT 1"_s);
    QTRY_COMPARE(card->height(), 50);

    // A few lines fit exactly: the card grows with them and nothing scrolls.
    generate(u"five lines"_s, u"SELECT a,\n  b,\n  c\nFROM t\nWHERE a > 1"_s);
    QTRY_VERIFY(card->height() > 50 && card->height() < 280);
    QCOMPARE(card->height(), ContentViewController::sqlCardHeightForText(view->toPlainText(), card->width()));
    QCOMPARE(view->verticalScrollBar()->maximum(), 0);

    // Many lines stop at 280 and scroll inside the card.
    QStringList lines;
    for (int i = 0; i < 40; ++i)
        lines << u"SELECT %1"_s.arg(i);
    generate(u"many lines"_s, lines.join(u'\n'));
    QTRY_COMPARE(card->height(), 280);
    QVERIFY(view->verticalScrollBar()->maximum() > 0);

    // One long line wraps more in a narrower pane, and the card follows the width.
    const QString wide = u"SELECT "_s + QStringList(30, u"column_name"_s).join(u", "_s) + u" FROM t"_s;
    generate(u"wide"_s, wide);
    const int wideHeight = card->height();
    m_content->resize(600, 700);
    QTRY_VERIFY(card->height() > wideHeight);
    QCOMPARE(card->height(), ContentViewController::sqlCardHeightForText(wide, card->width()));
    QCOMPARE(view->verticalScrollBar()->maximum(), 0);
    // Not yet laid out: measured at 520.
    QCOMPARE(ContentViewController::sqlCardHeightForText(wide, 0),
             ContentViewController::sqlCardHeightForText(wide, 520 + 18));
}

void TestWorkspace::settingChips()
{
    QuerySettings& settings = QuerySettings::shared();
    settings.setSelfCorrection(true);
    settings.setSingularResults(false);
    makeContent();
    const QList<MRSettingChip*> chips = m_content->settingChips();
    QCOMPARE(chips.size(), 4);
    const QStringList labels{u"Writes"_s, u"Auto-fix"_s, u"My data"_s, u"Single"_s};
    const QStringList names{u"Destructive Commands"_s, u"AI Self-Correction"_s, u"User Data Isolation"_s,
                            u"Single Results Mode"_s};
    const QStringList details{u"Allow INSERT, UPDATE & DELETE"_s, u"Auto-correct invalid SQL (extra AI call)"_s,
                              u"Restrict queries to the current user"_s, u"Simple single-table answers, no UNION"_s};
    for (int i = 0; i < 4; ++i) {
        QCOMPARE(chips.at(i)->label(), labels.at(i));
        QCOMPARE(chips.at(i)->settingName(), names.at(i));
        QCOMPARE(chips.at(i)->toolTip(), details.at(i));
        // Left to right in this order, 8 points apart.
        if (i > 0)
            QCOMPARE(chips.at(i)->x(), chips.at(i - 1)->geometry().right() + 1 + 8);
    }
    QVERIFY(chips.at(1)->isOn());
    QVERIFY(!chips.at(3)->isOn());

    // A click writes the setting, and the next prompt carries it.
    QTest::mouseClick(chips.at(3), Qt::LeftButton);
    QTest::mouseClick(chips.at(1), Qt::LeftButton);
    QVERIFY(settings.singularResults());
    QVERIFY(!settings.selfCorrection());
    QCOMPARE(QSettings().value(u"qs.singular_results"_s).toBool(), true);
    generate(u"with settings"_s, u"SELECT 1"_s);
    const QJsonObject body = QJsonDocument::fromJson(m_server->requests().constLast().body).object();
    QCOMPARE(body.value(u"singular_results"_s).toBool(), true);
    QCOMPARE(body.value(u"self_correction"_s).toBool(), false);
    settings.setSelfCorrection(true);
    settings.setSingularResults(false);
}

void TestWorkspace::examplesAndPlaceholder()
{
    QVERIFY(m_content->promptPlaceholder()->isVisible());
    QCOMPARE(m_content->suggestionRows().size(), 4);

    // The plus button's menu puts an example in the prompt and sends nothing.
    QTest::mouseClick(m_content->plusButton(), Qt::LeftButton);
    QMenu* menu = nullptr;
    QTRY_VERIFY((menu = m_content->findChild<QMenu*>()) && menu->isVisible());
    QCOMPARE(menu->actions().size(), 4);
    QCOMPARE(menu->actions().at(2)->text(), u"Top 5 products by total revenue"_s);
    QCOMPARE(menu->pos(), m_content->plusButton()->mapToGlobal(QPoint(0, m_content->plusButton()->height() + 4)));
    menu->actions().at(2)->trigger();
    QCOMPARE(m_content->promptTextView()->toPlainText(), u"Top 5 products by total revenue"_s);
    QVERIFY(!m_content->promptPlaceholder()->isVisible());
    QCOMPARE(m_server->requests().size(), 0);

    // A suggestion row generates at once.
    QTest::mouseClick(m_content->suggestionRows().at(0), Qt::LeftButton);
    QVERIFY(m_server->waitForRequests(1));
    const QJsonObject body = QJsonDocument::fromJson(m_server->requests().constLast().body).object();
    QCOMPARE(body.value(u"prompt"_s).toString(), u"Show the 10 most recent orders"_s);
    QCOMPARE(m_content->promptTextView()->toPlainText(), u"Show the 10 most recent orders"_s);
}

void TestWorkspace::connectionButton()
{
    MRButton* button = m_content->connButton();
    QCOMPARE(titleOf(button), u"Run against · No database"_s);
    QCOMPARE(button->styledTitle().at(1).color, MRTheme::textSecondary());
    useConnection(m_connectionIds.value(u"unnamed"_s));
    QCOMPARE(titleOf(button), u"Run against · (unnamed)"_s);
    QCOMPARE(button->styledTitle().at(0).color, MRTheme::textTertiary());
    QCOMPARE(button->styledTitle().at(1).color, MRTheme::textPrimary());
    QCOMPARE(button->styledTitle().at(1).font, MRTheme::uiFont(12, QFont::DemiBold));

    // The menu under the button: names only; a pick goes to the window, which switches.
    QTest::mouseClick(button, Qt::LeftButton);
    QMenu* menu = nullptr;
    QTRY_VERIFY((menu = m_content->findChild<QMenu*>()) && menu->isVisible());
    QCOMPARE(menu->pos(), button->mapToGlobal(QPoint(0, button->height() + 4)));
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
    // The dotted backdrop shows through both pages, above the column.
    const QColor window = MRTheme::windowBackground().light();
    const auto backdropShows = [this, &window] {
        const QImage image = m_content->grab().toImage();
        const QRect band(0, 0, m_content->width(), 40);
        return band.width() * band.height() - pixelsNear(image, band, window) > 0;
    };
    QVERIFY(backdropShows());
    m_content->showMainView(ContentViewController::MainView::History);
    QVERIFY(backdropShows());
    m_content->showMainView(ContentViewController::MainView::Query);

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
    QCOMPARE(banner->height(), 0);

    // A real check against the server finds a newer build.
    UpdateManager::setCurrentBuildForTesting(41);
    m_server->route("GET", "/api/v1/desktop/appcast",
                    TestHttpServer::json(200, R"({"release":{"version":"2.0","build":42,"sha256":"ab",)"
                                              R"("download_path":"/d/Mirelo-42.zip"}})"));
    UpdateManager::shared().checkWithCompletion();
    QTRY_VERIFY(banner->isVisible());
    QTRY_COMPARE(banner->height(), ContentViewController::kBannerHeight);
    QCOMPARE(banner->info()->version, u"2.0"_s);
    QTRY_COMPARE(m_content->queryPage()->y(), ContentViewController::kBannerHeight);

    // A workspace made later shows the offer at once.
    ContentViewController another;
    QVERIFY(!another.updateBanner()->isHidden());

    QTest::mouseClick(banner->laterButton(), Qt::LeftButton);
    QTRY_VERIFY(banner->isHidden());
    QCOMPARE(banner->height(), 0);
    QTRY_COMPARE(m_content->queryPage()->y(), 0);
    UpdateManager::setCurrentBuildForTesting(std::nullopt);
}

QTEST_MAIN(TestWorkspace)
#include "tst_workspace.moc"
