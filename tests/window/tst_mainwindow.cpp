#include "db/ConnectionManager.h"
#include "ui/MRButton.h"
#include "ui/MRSidebarRow.h"
#include "ui/ThemeManager.h"
#include "window/MainWindowController.h"
#include "workspace/ContentViewController.h"
#include "workspace/QueryHistory.h"

#include <QAction>
#include <QApplication>
#include <QFile>
#include <QLineEdit>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>
#include <QSettings>
#include <QSplitter>
#include <QTemporaryDir>
#include <QTest>
#include <QTextEdit>
#include <memory>

using namespace Qt::Literals::StringLiterals;

namespace {

struct LogoutRecorder : MainWindowControllerDelegate
{
    int logouts = 0;
    void mainWindowControllerDidLogout(MainWindowController*) override { ++logouts; }
};

void setHistory(const QStringList& prompts)
{
    QueryHistory& history = QueryHistory::shared();
    history.clearAll();
    for (qsizetype i = prompts.size() - 1; i >= 0; --i)
        history.addRecord(QueryRecord::make(prompts.at(i), u"SELECT %1"_s.arg(i)));
}

QPushButton* button(QMessageBox* box, const QString& text)
{
    for (QAbstractButton* candidate : box->buttons())
        if (candidate->text() == text)
            return qobject_cast<QPushButton*>(candidate);
    return nullptr;
}

} // namespace

// The main window as its user meets it: the toolbar's search and appearance switch, the
// hub between its panes in the order the stores and panes are told, the frame kept across
// launches, and the sign-out confirmation.
class TestMainWindow : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();
    void searchIsDebounced();
    void appearanceButtonCycles();
    void recentUnderFilterLoadsItsRecord();
    void connectionChoiceReachesStoreAndPanes();
    void clearHistoryEmptiesEverything();
    void sizesAndSidebarToggle();
    void frameSurvivesRestart();
    void signOutAsksFirst();
    void connectionSheetComesAndGoes();
    void keyboard();

private:
    std::unique_ptr<MainWindowController> m_window;
};

void TestMainWindow::init()
{
    QSettings().clear();
    setHistory({});
    for (const DatabaseConnection& connection : ConnectionManager::shared().connections())
        ConnectionManager::shared().removeConnectionWithId(connection.connectionId);
    ConnectionManager::shared().setActiveConnectionId(std::nullopt);
    ThemeManager::shared().setMode(ThemeManager::Mode::System);
    m_window = std::make_unique<MainWindowController>();
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
}

void TestMainWindow::cleanup()
{
    m_window.reset();
}

void TestMainWindow::searchIsDebounced()
{
    setHistory({u"orders by month"_s, u"late orders"_s, u"users"_s});
    m_window->sidebar()->reloadRecents();
    QLineEdit* search = m_window->searchField();
    search->setFocus();
    // Five keystrokes in a burst filter nothing until the burst is over, then once, whole.
    QTest::keyClicks(search, u"order"_s);
    QCOMPARE(m_window->sidebar()->searchFilter(), std::nullopt);
    QCOMPARE(m_window->content()->historyFilter(), std::nullopt);
    QTRY_COMPARE(m_window->sidebar()->searchFilter(), std::optional<QString>(u"order"_s));
    QCOMPARE(m_window->content()->historyFilter(), std::optional<QString>(u"order"_s));
    QCOMPARE(m_window->sidebar()->recentRows().size(), 2);

    // Clearing the field lifts the filter in both panes.
    search->clear();
    QTRY_COMPARE(m_window->sidebar()->searchFilter(), std::nullopt);
    QCOMPARE(m_window->content()->historyFilter(), std::nullopt);
    QCOMPARE(m_window->sidebar()->recentRows().size(), 3);
}

void TestMainWindow::appearanceButtonCycles()
{
    MRButton* theme = m_window->themeButton();
    QCOMPARE(theme->accessibleName(), u"Toggle appearance"_s);
    const QList<std::pair<QString, QString>> expected{
        {u"Appearance: Light"_s, u"sun.max"_s},
        {u"Appearance: Dark"_s, u"moon.stars"_s},
        {u"Appearance: System"_s, u"circle.lefthalf.filled"_s},
    };
    for (const auto& [tooltip, symbol] : expected) {
        QTest::mouseClick(theme, Qt::LeftButton);
        QCOMPARE(theme->toolTip(), tooltip);
        QCOMPARE(theme->image().name(), symbol);
        QCOMPARE(theme->accessibleName(), u"Toggle appearance"_s);
    }
    // A change made elsewhere (the application's menu) reaches the button too.
    ThemeManager::shared().setMode(ThemeManager::Mode::Dark);
    QCOMPARE(theme->toolTip(), u"Appearance: Dark"_s);
}

void TestMainWindow::recentUnderFilterLoadsItsRecord()
{
    setHistory({u"orders by month"_s, u"users"_s, u"late orders"_s});
    m_window->sidebar()->reloadRecents();
    m_window->sidebar()->filterRecentsWithQuery(u"orders"_s);
    const QList<MRSidebarRow*> rows = m_window->sidebar()->recentRows();
    QCOMPARE(rows.size(), 2);
    QTest::mouseClick(rows.at(1), Qt::LeftButton);
    // The second visible row is the third record.
    QCOMPARE(m_window->content()->promptTextView()->toPlainText(), u"late orders"_s);
    QCOMPARE(m_window->content()->sqlTextView()->toPlainText(), u"SELECT 2"_s);
    QCOMPARE(m_window->content()->mainView(), ContentViewController::MainView::Query);
}

void TestMainWindow::connectionChoiceReachesStoreAndPanes()
{
    DatabaseConnection shop;
    shop.name = u"Shop"_s;
    ConnectionManager::shared().addConnection(shop);
    m_window->sidebarDidSelectConnectionId(shop.connectionId);
    QCOMPARE(ConnectionManager::shared().activeConnectionId(), std::optional<QString>(shop.connectionId));
    QCOMPARE(m_window->sidebar()->connectionRow()->titleText(), u"Shop"_s);
    QVERIFY(m_window->content()->connButton()->text().endsWith(u"Shop"_s));

    m_window->contentDidSelectConnectionId(std::nullopt);
    QCOMPARE(ConnectionManager::shared().activeConnectionId(), std::nullopt);
    QCOMPARE(m_window->sidebar()->connectionRow()->titleText(), u"No database"_s);
    QVERIFY(m_window->content()->connButton()->text().endsWith(u"No database"_s));
}

void TestMainWindow::clearHistoryEmptiesEverything()
{
    setHistory({u"one"_s, u"two"_s});
    m_window->sidebar()->reloadRecents();
    m_window->content()->reloadHistory();
    QCOMPARE(m_window->content()->historyRows().size(), 2);
    m_window->sidebarDidRequestClearHistory();
    QCOMPARE(QueryHistory::shared().count(), 0);
    QVERIFY(m_window->sidebar()->recentRows().isEmpty());
    QVERIFY(m_window->content()->historyRows().isEmpty());

    // A new record reaches the sidebar through the workspace's message.
    QueryHistory::shared().addRecord(QueryRecord::make(u"three"_s, u"SELECT 3"_s));
    m_window->contentDidAddHistoryRecord();
    QCOMPARE(m_window->sidebar()->recentRows().size(), 1);
}

void TestMainWindow::sizesAndSidebarToggle()
{
    QCOMPARE(m_window->minimumSize(), QSize(840, 560));
    m_window->resize(300, 200);
    QCOMPARE(m_window->size(), QSize(840, 560));
    m_window->resize(1040, 720);
    QSplitter* split = m_window->splitter();
    QVERIFY(split->widget(0)->width() >= 248 && split->widget(0)->width() <= 300);
    // Dragging the divider far right stops the sidebar at its maximum.
    QSplitterHandle* handle = split->handle(1);
    QTest::mousePress(handle, Qt::LeftButton, {}, QPoint(0, 100));
    QMouseEvent drag(QEvent::MouseMove, QPointF(600 - handle->x(), 100),
                     handle->mapToGlobal(QPointF(600 - handle->x(), 100)), Qt::NoButton, Qt::LeftButton,
                     Qt::NoModifier);
    QApplication::sendEvent(handle, &drag);
    QTest::mouseRelease(handle, Qt::LeftButton, {}, QPoint(600 - handle->x(), 100));
    QCOMPARE(split->widget(0)->width(), 300);
    QVERIFY(split->widget(1)->width() >= 480);

    const int before = split->sizes().at(0);
    m_window->toggleSidebarAction()->trigger();
    QVERIFY(m_window->isSidebarCollapsed());
    QTest::mouseClick(m_window->sidebarButton(), Qt::LeftButton);
    QVERIFY(!m_window->isSidebarCollapsed());
    QCOMPARE(split->sizes().at(0), before);
}

void TestMainWindow::frameSurvivesRestart()
{
    const QRect available = m_window->screen()->availableGeometry();
    m_window->setGeometry(QRect(available.topLeft() + QPoint(30, 40), QSize(900, 600)));
    const QRect frame = m_window->geometry();
    m_window->close();
    m_window = std::make_unique<MainWindowController>();
    QCOMPARE(m_window->geometry(), frame);

    // A frame larger than this screen is brought inside its visible area.
    m_window->setGeometry(QRect(available.topLeft(), available.size() + QSize(400, 300)));
    m_window->close();
    m_window = std::make_unique<MainWindowController>();
    QVERIFY2(available.contains(m_window->geometry()), "the restored frame reaches outside the screen");
}

void TestMainWindow::signOutAsksFirst()
{
    LogoutRecorder recorder;
    m_window->setDelegate(&recorder);
    for (const QString& answer : {u"Cancel"_s, u"Sign Out"_s}) {
        m_window->signOutClicked();
        QMessageBox* box = m_window->signOutConfirmation();
        QVERIFY(box);
        QCOMPARE(box->text(), u"Sign Out?"_s);
        QCOMPARE(box->informativeText(), u"Your API key will be removed from this device."_s);
        QCOMPARE(box->windowModality(), Qt::WindowModal);
        QCOMPARE(box->buttons().size(), 2);
        QCOMPARE(box->defaultButton(), button(box, u"Sign Out"_s));
        button(box, answer)->click();
        QTRY_VERIFY(!m_window->signOutConfirmation());
        QTRY_COMPARE(recorder.logouts, answer == u"Cancel"_s ? 0 : 1);
    }
    QCOMPARE(recorder.logouts, 1);
}

void TestMainWindow::connectionSheetComesAndGoes()
{
    m_window->sidebarDidRequestManageConnections();
    ConnectionSheetController* first = m_window->sheetController();
    QVERIFY(first && first->sheet()->isVisible());
    QCOMPARE(first->sheet()->parentWidget(), m_window.get());
    first->addClicked();
    first->saveClicked();
    first->doneClicked();
    QTRY_VERIFY(!m_window->sheetController());
    // The saved connection shows in the sidebar's menu source and the workspace at once.
    QCOMPARE(ConnectionManager::shared().connections().size(), 1);
    QCOMPARE(m_window->sidebar()->connectionRow()->titleText(), u"No database"_s);
}

void TestMainWindow::keyboard()
{
    m_window->activateWindow();
    m_window->sidebarButton()->setFocus(Qt::TabFocusReason);
    QTest::keyClick(m_window->sidebarButton(), Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), m_window->searchField());
    QTest::keyClick(m_window->searchField(), Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), m_window->themeButton());
    QTest::keyClick(m_window->themeButton(), Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), m_window->moreButton());

    QCOMPARE(m_window->focusSearchAction()->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_F));
    QCOMPARE(m_window->toggleSidebarAction()->shortcut(), QKeySequence(Qt::CTRL | Qt::META | Qt::Key_S));
    QCOMPARE(m_window->newQueryAction()->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_N));
    QTest::keyClick(m_window.get(), Qt::Key_F, Qt::ControlModifier);
    QCOMPARE(QApplication::focusWidget(), m_window->searchField());
    QVERIFY(!m_window->moreButton()->accessibleName().isEmpty());
    QVERIFY(!m_window->sidebarButton()->accessibleName().isEmpty());
}

// A screen the size of an ordinary desktop, since the offscreen platform's own is smaller
// than the window's minimum.
int main(int argc, char** argv)
{
    QTemporaryDir folder;
    const QString config = folder.filePath(u"screens.json"_s);
    QFile file(config);
    if (!file.open(QIODevice::WriteOnly))
        return 1;
    file.write(R"({"screens": [{"name": "desktop", "x": 0, "y": 0, "width": 1600, "height": 1000,
                                "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": 1}]})");
    file.close();
    qputenv("QT_QPA_PLATFORM", "offscreen:configfile=" + QFile::encodeName(config));
    QApplication app(argc, argv);
    TestMainWindow test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_mainwindow.moc"
