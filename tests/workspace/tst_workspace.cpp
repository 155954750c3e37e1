#include "ViewTestSupport.h"
#include "db/ConnectionManager.h"
#include "db/DatabaseExecutor.h"
#include "server/APIManager.h"
#include "stores/QuerySettings.h"
#include "support/TestDatabases.h"
#include "support/TestHttpServer.h"
#include "ui/MRButton.h"
#include "ui/MRHistoryRow.h"
#include "ui/MRLabel.h"
#include "ui/MRPanel.h"
#include "ui/MRSpinnerView.h"
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
#include <QNetworkAccessManager>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTableView>
#include <QTextEdit>

using namespace Qt::Literals::StringLiterals;
using namespace TestDatabases;

namespace {

QByteArray answer(const QString& sql)
{
    return QJsonDocument(QJsonObject{{u"status"_s, u"success"_s}, {u"query"_s, sql}}).toJson(QJsonDocument::Compact);
}

} // namespace

// Declares the shop connection `var` on the server of `type` and makes it the active one.
#define USE_SHOP(var, type)                                                                                            \
    MIRELO_REQUIRE_DATABASE(var, type, TestDatabases::Server::Tls, TestDatabases::variable(type, "SHOP_DATABASE"));    \
    useConnection(m_connectionIds.value(type))

// Stands in for the main window, which hears of each new history record.
class TestWorkspace : public QObject, ContentViewControllerDelegate
{
    Q_OBJECT

    int m_added = 0;
    void contentDidAddHistoryRecord() override { ++m_added; }
    void contentDidRequestManageConnections() override {}
    void contentDidSelectConnectionId(const std::optional<QString>&) override {}

private Q_SLOTS:
    void initTestCase()
    {
        m_server = std::make_unique<TestHttpServer>();
        APIManager::shared().setServerURL(m_server->baseUrl());
        APIManager::shared().setApiKey(u"key"_s);
        ConnectionManager& connections = ConnectionManager::shared();
        for (const QString& type : {u"postgresql"_s, u"mysql"_s}) {
            if (auto c = TestDatabases::connection(type, TestDatabases::Server::Tls,
                                                   TestDatabases::variable(type, "SHOP_DATABASE"))) {
                connections.addConnection(*c);
                m_connectionIds.insert(type, c->connectionId);
            }
        }
        DatabaseConnection unnamed;
        connections.addConnection(unnamed);
        m_connectionIds.insert(u"unnamed"_s, unnamed.connectionId);
    }

    void init()
    {
        QueryHistory::shared().clearAll();
        ConnectionManager::shared().setActiveConnectionId(std::nullopt);
        m_server->route("POST", "/api/v1", TestHttpServer::json(200, answer(u"SELECT 1"_s)));
        m_server->clearRequests();
        m_added = 0;
        m_content = std::make_unique<ContentViewController>();
        m_content->setDelegate(this);
        m_content->show();
        QApplication::setActiveWindow(m_content.get());
        QVERIFY(QTest::qWaitForWindowActive(m_content.get()));
    }

    void cleanup()
    {
        m_content.reset();
        APIManager::shared().cancelPendingRequests();
        QuerySettings::shared().setAllowDestructive(false);
        DatabaseExecutor::setLibrarySearchListForTesting(u"postgresql"_s, std::nullopt);
    }

    void wholeFlow_data() { bothServers(); }
    void wholeFlow()
    {
        QFETCH(QString, type);
        USE_SHOP(c, type);
        const QString sql = u"SELECT id, name FROM products ORDER BY id LIMIT 3"_s;
        generate(u"  three products\n"_s, sql);
        // The server got the trimmed prompt; the statement is recorded once (and shown: it runs).
        const QJsonObject body = QJsonDocument::fromJson(m_server->requests().constLast().body).object();
        QCOMPARE(body.value(u"prompt"_s).toString(), u"three products"_s);
        QCOMPARE(m_content->historyRows().constFirst()->promptText(), u"three products"_s);
        QCOMPARE(m_added, 1);

        // A read runs at once, without a question.
        QTest::mouseClick(m_content->executeButton(), Qt::LeftButton);
        QCOMPARE(resultsStatus(), u"Running query…"_s);
        QTRY_VERIFY_WITH_TIMEOUT(!m_content->isRunningQuery(), 30000);
        const QueryResultPtr result = m_content->resultsGrid()->currentResult();
        QVERIFY2(result, qPrintable(resultsStatus()));
        QCOMPARE(result->columnNames, QStringList({u"id"_s, u"name"_s}));
        QVERIFY2(resultsStatus().startsWith(u"3 rows ("_s), qPrintable(resultsStatus()));
        QCOMPARE(QueryHistory::shared().count(), 1); // running never adds to the history
        // The grid knows the statement and its connection, to run it again for the whole result.
        QCOMPARE(m_content->resultsGrid()->resultSource()->sql, sql);
        QCOMPARE(m_content->resultsGrid()->resultSource()->connection.connectionId, m_connectionIds.value(type));

        // Arrows move inside the grid; a single Tab leaves it, however many cells it holds.
        QTableView* table = m_content->resultsGrid()->table();
        table->setFocus(Qt::TabFocusReason);
        // Set on the selection model: the view's own calls read the modifier keys held.
        table->selectionModel()->setCurrentIndex(table->model()->index(0, 1),
                                                 QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        QTest::keyClick(table, Qt::Key_Down, Qt::ShiftModifier);
        QCOMPARE(table->selectionModel()->selectedRows().size(), 2);
        QTest::keyClick(table, Qt::Key_Tab);
        QTRY_VERIFY(!m_content->resultsGrid()->isAncestorOf(QApplication::focusWidget()));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab, Qt::ShiftModifier);
        QTRY_COMPARE(QApplication::focusWidget(), table);

        // A failing statement empties the grid and shows the server's sentence.
        generate(u"broken"_s, u"SELECT * FROM no_such_table"_s);
        execute();
        QVERIFY2(!m_content->resultsGrid()->currentResult() && resultsStatus().contains(u"no_such_table"_s),
                 qPrintable(resultsStatus()));
    }

    void generatingAndCancel()
    {
        MRButton* send = m_content->sendButton();
        // The server holds the answer's body until told.
        TestHttpServer::Response late = TestHttpServer::json(200, answer(u"SELECT 'late'"_s));
        late.pauseAfterBodyBytes = 0;
        m_server->route("POST", "/api/v1", late);
        QTest::keyClicks(m_content->promptTextView(), u"slow one"_s);
        QTest::mouseClick(send, Qt::LeftButton);
        QCOMPARE(send->image().name(), u"stop.fill"_s);
        QVERIFY(m_content->promptTextView()->isReadOnly() && m_content->spinner()->isAnimating());
        QCOMPARE(m_content->statusLabel()->text(), u"Generating SQL…"_s);

        // The whole answer is on its way back when Ctrl+Return, doing what the button does
        // now, cancels: the server handed it over while this thread was blocked.
        QVERIFY(m_server->waitForRequests(1));
        QSignalSpy ended(APIManager::shared().network(), &QNetworkAccessManager::finished);
        m_server->resumePaused();
        QVERIFY(m_server->waitForAnswers(1));
        QTest::keyClick(m_content->promptTextView(), Qt::Key_Return, Qt::ControlModifier);
        QCOMPARE(send->image().name(), u"arrow.up"_s);
        QVERIFY(!m_content->promptTextView()->isReadOnly() && !m_content->spinner()->isAnimating());

        // The late answer is never shown.
        QTRY_COMPARE(ended.size(), 1);
        QCoreApplication::processEvents();
        QCOMPARE(m_content->sqlTextView()->toPlainText(), QString());
        QCOMPARE(QueryHistory::shared().count(), 0);
        QCOMPARE(m_content->statusLabel()->text(), u"Generation cancelled."_s);
    }

    void generationOutcomesAndCopy()
    {
        // Only white space: an error sentence, focus back on the prompt, no request.
        m_content->promptTextView()->setPlainText(u" \n\t "_s);
        m_content->sendButton()->setFocus();
        QTest::mouseClick(m_content->sendButton(), Qt::LeftButton);
        QCOMPARE(m_content->statusLabel()->text(), u"Enter a prompt to generate SQL."_s);
        QVERIFY(m_content->promptTextView()->hasFocus());
        QCOMPARE(m_server->requests().size(), 0);

        // Success with an empty statement still counts: an empty card, a record, nothing to copy.
        QGuiApplication::clipboard()->setText(u"before"_s);
        generate(u"empty"_s, QString());
        QVERIFY(m_content->resultsBox()->isVisible() && QueryHistory::shared().count() == 1);
        MRButton* copy = m_content->sqlCopyButton();
        QTest::mouseClick(copy, Qt::LeftButton);
        QCOMPARE(QGuiApplication::clipboard()->text(), u"before"_s);

        generate(u"one"_s, u"SELECT 1\n  AS one"_s);
        QTest::mouseClick(copy, Qt::LeftButton);
        QCOMPARE(QGuiApplication::clipboard()->text(), u"SELECT 1\n  AS one"_s);
        QCOMPARE(copy->text(), u"Copied!"_s);

        // A failed generation leaves the statement and the history as they were.
        m_server->route(
            "POST", "/api/v1",
            TestHttpServer::json(400, R"({"status":"error","error":"No table matches.","error_type":"schema"})"));
        QTest::mouseClick(m_content->sendButton(), Qt::LeftButton);
        QTRY_COMPARE(m_content->statusLabel()->text(), u"[schema] No table matches."_s);
        QCOMPARE(m_content->sqlTextView()->toPlainText(), u"SELECT 1\n  AS one"_s);
        QVERIFY(QueryHistory::shared().count() == 2 && m_added == 2);
    }

    // Said in the results status before anything runs; a missing library is found before the
    // statement is judged. Any record of the type will do: nothing reaches a server here.
    void executeChecks()
    {
        generate(u"a write"_s, u"DELETE FROM t"_s);
        QTest::mouseClick(m_content->executeButton(), Qt::LeftButton);
        QCOMPARE(resultsStatus(), u"Select a database connection first."_s);
        QCOMPARE(m_content->resultsStatusLabel()->textColor(), MRTheme::danger());
        useConnection(m_connectionIds.value(u"unnamed"_s));
        generate(u"blank"_s, u" \n "_s);
        QTest::mouseClick(m_content->executeButton(), Qt::LeftButton);
        QCOMPARE(resultsStatus(), u"Generate SQL first."_s);
        QVERIFY(!m_content->findChild<QMessageBox*>());

        DatabaseExecutor::setLibrarySearchListForTesting(u"postgresql"_s, QStringList{u"/nonexistent/libpq.so.5"_s});
        generate(u"a write"_s, u"DELETE FROM t"_s);
        QTest::mouseClick(m_content->executeButton(), Qt::LeftButton);
        QMessageBox* alert = openAlert(m_content.get(), u"driverNotFoundAlert"_s);
        QCOMPARE(alertText(alert),
                 u"Driver Not Found\n"_s + DatabaseExecutor::installInstructionsForType(u"postgresql"_s));
        QVERIFY(!m_content->findChild<QMessageBox*>(u"confirmRunAlert"_s));
    }

    void longStatement()
    {
        USE_SHOP(c, u"postgresql"_s);
        QueryHistory::shared().addRecord(QueryRecord::make(u"other"_s, u"SELECT 2"_s));
        generate(u"slow"_s, u"SELECT 1 AS n FROM pg_sleep(2.5)"_s);
        QTest::mouseClick(m_content->executeButton(), Qt::LeftButton);
        // The window keeps answering while the statement runs, and says for how long.
        const QRegularExpression elapsed(u"^Running query… [12] s$"_s);
        QTRY_VERIFY_WITH_TIMEOUT(elapsed.match(resultsStatus()).hasMatch(), 5000);
        QTRY_VERIFY_WITH_TIMEOUT(!m_content->isRunningQuery(), 30000);
        QVERIFY(resultsStatus().startsWith(u"1 row ("_s));

        // A statement replaced while it runs does not lend its result to the one now shown.
        generate(u"slow again"_s, u"SELECT 1 AS n FROM pg_sleep(0.5)"_s);
        QTest::mouseClick(m_content->executeButton(), Qt::LeftButton);
        m_content->loadHistoryRecordAtIndex(2);
        QCOMPARE(m_content->sqlTextView()->toPlainText(), u"SELECT 2"_s);
        QTRY_VERIFY_WITH_TIMEOUT(!m_content->isRunningQuery(), 30000);
        QVERIFY(!m_content->resultsGrid()->currentResult());
        QCOMPARE(resultsStatus(), QString());
    }

    void libraryErrorText()
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
        const QString text = resultsStatus();
        QVERIFY2(text.startsWith(u"Connection failed: "_s) && text.contains(u"\n    Is the server running"_s),
                 qPrintable(text));
        QVERIFY(!text.contains(u'\t') && !text.endsWith(u'\n'));
    }

    // Writes the destructive check misses are refused by the read-only session and asked about
    // with the server's reason; a text that lifts the mode is asked about before it runs.
    void confirmation_data()
    {
        QTest::addColumn<QString>("sql");    // changes whether ws_s_… was called
        QTest::addColumn<QString>("reason"); // the server's, or empty where the text itself asks first
        QTest::newRow("nextval") << suffixed("select nextval('ws_s_%1')")
                                 << u"cannot execute nextval() in a read-only transaction"_s;
        QTest::newRow("lifts read-only") << suffixed("SET transaction_read_only = off; SELECT nextval('ws_s_%1')")
                                         << QString();
    }

    void confirmation()
    {
        QFETCH(QString, sql);
        QFETCH(QString, reason);
        USE_SHOP(c, u"postgresql"_s);
        // Letting the server generate writes does not spare the question.
        QuerySettings::shared().setAllowDestructive(true);
        const auto tidy = qScopeGuard([&] { firstValue(m_observer, suffixed("DROP SEQUENCE IF EXISTS ws_s_%1"), c); });
        QCOMPARE(firstValue(m_observer, suffixed("CREATE SEQUENCE ws_s_%1"), c), u"no rows"_s);
        generate(u"a write in disguise"_s, sql);
        QString asked = u"This query looks like it modifies data or schema (INSERT, UPDATE, DELETE, DROP, …). "
                        "That can’t be undone."_s;
        if (!reason.isEmpty())
            asked += u"\n\nThe server refused to run it read-only: “%1”."_s.arg(reason);

        for (const QString& answer : {u"Cancel"_s, u"Run Query"_s}) {
            useConnection(m_connectionIds.value(u"postgresql"_s));
            QTest::mouseClick(m_content->executeButton(), Qt::LeftButton);
            QMessageBox* alert = openAlert(m_content.get(), u"confirmRunAlert"_s);
            QCOMPARE(alertText(alert), u"Run this statement?\n"_s + asked);
            QCOMPARE(alert->defaultButton()->text(), u"Run Query"_s);
            // Nothing ran, and nothing failed, while the question is open.
            QVERIFY(!m_content->isRunningQuery() && resultsStatus().isEmpty());
            // The answer holds for the connection in use when Execute was pressed.
            useConnection(m_connectionIds.value(u"mysql"_s));

            for (QAbstractButton* button : alert->buttons())
                if (button->text() == answer)
                    QTest::mouseClick(button, Qt::LeftButton);
            QTRY_VERIFY_WITH_TIMEOUT(!m_content->isRunningQuery(), 30000);
            QTRY_VERIFY(!m_content->findChild<QMessageBox*>(u"confirmRunAlert"_s));
            const bool cancelled = answer == u"Cancel"_s;
            if (cancelled)
                QCOMPARE(resultsStatus(), reason.isEmpty() ? QString() : u"The statement was not run."_s);
            else
                QVERIFY2(m_content->resultsGrid()->currentResult(), qPrintable(resultsStatus()));
            QCOMPARE(firstValue(m_observer, suffixed("SELECT is_called FROM ws_s_%1"), c), cancelled ? u"f"_s : u"t"_s);
        }
    }

    void stop_data()
    {
        QTest::addColumn<QString>("type");
        QTest::addColumn<QString>("sql");
        QTest::addColumn<bool>("escape"); // else the Stop button
        QTest::newRow("postgresql, Stop") << u"postgresql"_s << u"select pg_sleep(30)"_s << false;
        QTest::newRow("mysql, Escape") << u"mysql"_s << u"select sleep(30)"_s << true;
    }

    void stop()
    {
        QFETCH(QString, type);
        QFETCH(QString, sql);
        QFETCH(bool, escape);
        USE_SHOP(c, type);
        generate(u"a long wait"_s, sql);
        MRButton* button = m_content->executeButton();
        QTest::mouseClick(button, Qt::LeftButton);
        QCOMPARE(button->text() + button->toolTip(), u"StopStop"_s);
        QTRY_COMPARE_WITH_TIMEOUT(firstValue(m_observer, runningCount(type, sql), c), u"1"_s, 30000);
        if (escape)
            QTest::keyClick(m_content->promptTextView(), Qt::Key_Escape);
        else
            QTest::mouseClick(button, Qt::LeftButton);
        // Well within the statement's 30 seconds, so it was stopped.
        QTRY_VERIFY_WITH_TIMEOUT(!m_content->isRunningQuery(), 10000);
        QCOMPARE(resultsStatus(), u"Query cancelled."_s);
        // The next statement runs at once (the executor's tests see the server stop).
        generate(u"the next one"_s, u"SELECT 2 AS b"_s);
        execute(10000);
        const QueryResultPtr result = m_content->resultsGrid()->currentResult();
        QVERIFY2(result, qPrintable(resultsStatus()));

        // Stopping once the result has arrived does nothing.
        const QString summary = resultsStatus();
        QTest::keyClick(m_content->promptTextView(), Qt::Key_Escape);
        QCoreApplication::processEvents();
        QCOMPARE(m_content->resultsGrid()->currentResult(), result);
        QCOMPARE(resultsStatus(), summary);
    }

    void historyPage()
    {
        QueryHistory& history = QueryHistory::shared();
        history.addRecord(QueryRecord::make(u"Revenue by month"_s, u"SELECT sum(total) FROM orders"_s));
        history.addRecord(QueryRecord::make(u"Top customers"_s, u"SELECT name FROM customers"_s));
        history.addRecord(QueryRecord::make(u"Nothing came back"_s, QString()));
        history.addRecord(QueryRecord::make(u"late orders"_s, u"SELECT id FROM orders WHERE late"_s));
        m_content->showMainView(ContentViewController::MainView::History);

        // Capitals match lower case, in the prompt or in the SQL; a click loads the record
        // at its place in the whole history.
        m_content->filterHistory(u"ORDERS"_s);
        QCOMPARE(m_content->historyRows().size(), 2);
        QTest::mouseClick(m_content->historyRows().at(1), Qt::LeftButton);
        QVERIFY(m_content->queryPage()->isVisible() && m_content->resultsBox()->isVisible());
        QCOMPARE(m_content->sqlTextView()->toPlainText(), u"SELECT sum(total) FROM orders"_s);

        // A record without SQL brings the suggestions back.
        m_content->loadHistoryRecordAtIndex(1);
        QVERIFY(m_content->suggestionsBox()->isVisible() && !m_content->resultsBox()->isVisible());

        // startNewQuery leaves the history page and clears the query page.
        m_content->startNewQuery();
        QVERIFY(m_content->queryPage()->isVisible() && m_content->suggestionsBox()->isVisible());
        QCOMPARE(m_content->promptTextView()->toPlainText(), QString());
    }

    void relativeTime_data()
    {
        QTest::addColumn<double>("age"); // seconds before now; negative for the future
        QTest::addColumn<QString>("text");
        QTest::newRow("future") << -30.0 << u"just now"_s;
        QTest::newRow("59.9 s") << 59.9 << u"just now"_s;
        QTest::newRow("60 s") << 60.0 << u"1m ago"_s;
        QTest::newRow("23 h 59 m") << 86340.0 << u"23h ago"_s;
        QTest::newRow("24 h") << 86400.0 << u"1d ago"_s;
        QTest::newRow("7 d") << 604800.0 << u"Mar 5"_s;
    }

    void relativeTime()
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

    // The query column keeps its width, centred, when the page scrolls: the scroll bar floats
    // over it. The statement card grows with its lines up to 280, then scrolls inside, and
    // follows a long line's wrapping.
    void columnAndCardSizes()
    {
        m_content->resize(600, 700);
        MRPanel* card = m_content->sqlCard();
        QTextEdit* view = m_content->sqlTextView();
        QWidget* column = m_content->queryPage()->column();
        generate(u"one line"_s, u"SELECT 1"_s);
        QTRY_COMPARE(card->height(), 50);
        generate(u"many lines"_s, QStringList(40, u"SELECT 1"_s).join(u'\n'));
        QTRY_COMPARE(card->height(), 280);
        // Scroll ranges and the page's layout follow the card on later passes of the event loop.
        QTRY_VERIFY(view->verticalScrollBar()->maximum() > 0 &&
                    m_content->queryPage()->verticalScrollBar()->maximum() > 0);
        QTRY_COMPARE(std::pair(column->x(), column->width()), std::pair(48, 504));

        generate(u"wide"_s, u"SELECT "_s + QStringList(30, u"column_name"_s).join(u", "_s) + u" FROM t"_s);
        QTRY_COMPARE(view->verticalScrollBar()->maximum(), 0);
        QTRY_VERIFY(card->height() > 50 && card->height() < 280);
        const int narrowHeight = card->height();
        m_content->resize(1200, 700);
        QTRY_VERIFY(card->height() < narrowHeight);
        QTRY_COMPARE(std::pair(column->x(), column->width()), std::pair(240, 720));
    }

private:
    // Types the prompt, sends it with Ctrl+Return and waits for the outcome.
    void generate(const QString& prompt, const QString& sql)
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

    void useConnection(const std::optional<QString>& id)
    {
        ConnectionManager::shared().setActiveConnectionId(id);
        m_content->connectionsChanged();
    }

    // Presses Execute and waits until the statement is done.
    void execute(int timeout = 30000)
    {
        QTest::mouseClick(m_content->executeButton(), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(!m_content->isRunningQuery(), timeout);
    }

    QString resultsStatus() const { return m_content->resultsStatusLabel()->text(); }

    std::unique_ptr<TestHttpServer> m_server;
    std::unique_ptr<ContentViewController> m_content;
    QMap<QString, QString> m_connectionIds; // the shop on each server by type, and "unnamed"
    // Prepares, checks and looks at the servers beside the workspace's own executor.
    DatabaseExecutor m_observer;
};

QTEST_MAIN(TestWorkspace)
#include "tst_workspace.moc"
