#include "db/ConnectionManager.h"
#include "ui/MRButton.h"
#include "ui/MRClickRow.h"
#include "ui/MRImageView.h"
#include "ui/MRLabel.h"
#include "ui/MRPill.h"
#include "ui/MRSidebarRow.h"
#include "ui/MRTheme.h"
#include "ui/ThemeManager.h"
#include "window/MainWindowController.h"
#include "workspace/ContentViewController.h"
#include "workspace/QueryHistory.h"

#include <QAction>
#include <QApplication>
#include <QFile>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QSettings>
#include <QSplitter>
#include <QTemporaryDir>
#include <QTest>
#include <QTextEdit>
#include <memory>

using namespace Qt::Literals::StringLiterals;

namespace {

// Chooses the item of the open pop-up menu whose text starts so.
void choose(const QString& startingWith)
{
    for (QAction* action : qobject_cast<QMenu*>(QApplication::activePopupWidget())->actions())
        if (!action->isSeparator() && action->text().startsWith(startingWith))
            return action->trigger();
    QFAIL(qPrintable(u"no menu item "_s + startingWith));
}

} // namespace

// The main window as its user meets it, through its toolbar and its sidebar: the search,
// the appearance switch, the recents and what choosing one loads, the fixed rows and the
// menus, the frame and the recents' folding kept across launches, the sign-out confirmation.
class TestMainWindow : public QObject, MainWindowControllerDelegate
{
    Q_OBJECT

    std::unique_ptr<MainWindowController> m_window;
    int m_logouts = 0;
    void mainWindowControllerDidLogout(MainWindowController*) override { ++m_logouts; }

    SidebarViewController* sidebar() const { return m_window->sidebar(); }
    ContentViewController* content() const { return m_window->content(); }
    QString titles() const
    {
        QStringList texts;
        for (const MRSidebarRow* row : sidebar()->recentRows())
            texts << row->titleText();
        return texts.join(u'|');
    }
    // Makes the history hold these prompts, first = newest, record i running "SELECT i", and
    // shows it in both panes.
    void setHistory(const QStringList& prompts)
    {
        QueryHistory::shared().clearAll();
        for (qsizetype i = prompts.size() - 1; i >= 0; --i)
            QueryHistory::shared().addRecord(QueryRecord::make(prompts.at(i), u"SELECT %1"_s.arg(i)));
        if (m_window) {
            sidebar()->reloadRecents();
            content()->reloadHistory();
        }
    }
    void restart()
    {
        m_window = std::make_unique<MainWindowController>();
        m_window->setDelegate(this);
        m_window->show();
        QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
    }

private Q_SLOTS:
    void init()
    {
        QSettings().clear();
        setHistory({});
        for (const DatabaseConnection& connection : ConnectionManager::shared().connections())
            ConnectionManager::shared().removeConnectionWithId(connection.connectionId);
        ThemeManager::shared().setMode(ThemeManager::Mode::System);
        restart();
    }

    void cleanup() { m_window.reset(); }

    void searchIsDebounced()
    {
        setHistory({u"orders by month"_s, u"late orders"_s, u"users"_s});
        QLineEdit* search = m_window->searchField();
        search->setFocus();
        // Five keystrokes in a burst filter nothing until the burst is over, then once, whole.
        QTest::keyClicks(search, u"order"_s);
        QCOMPARE(sidebar()->searchFilter(), std::nullopt);
        QTRY_COMPARE(sidebar()->searchFilter(), std::optional<QString>(u"order"_s));
        QCOMPARE(content()->historyFilter(), std::optional<QString>(u"order"_s));
        // Clearing the field lifts the filter in both panes.
        search->clear();
        QTRY_COMPARE(content()->historyFilter(), std::nullopt);
        QCOMPARE(sidebar()->recentRows().size(), 3);
    }

    void recentsUnderFilter_data()
    {
        QTest::addColumn<QString>("filter");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<int>("click"); // a visible row, or -1
        QTest::addColumn<QString>("loaded");
        QTest::newRow("no filter") << QString() << u"Orders by month|top customers|(empty prompt)|ORDERS today"_s << 2
                                   << u"SELECT 2"_s;
        QTest::newRow("second match is record 3")
            << u"orders"_s << u"Orders by month|ORDERS today"_s << 1 << u"SELECT 3"_s;
        QTest::newRow("case and blanks of the prompt") << u"  TOP"_s << u"top customers"_s << 0 << u"SELECT 1"_s;
        QTest::newRow("a leading space is matched too") << u" orders"_s << QString() << -1 << QString();
    }

    void recentsUnderFilter()
    {
        QFETCH(QString, filter);
        QFETCH(QString, shown);
        QFETCH(int, click);
        QFETCH(QString, loaded);
        setHistory({u"Orders by month"_s, u"  top customers\n"_s, u" \n\t "_s, u"ORDERS today"_s});
        sidebar()->filterRecentsWithQuery(filter);
        QCOMPARE(titles(), shown);
        QCOMPARE(sidebar()->emptyRecentsLabel()->isVisible(), shown.isEmpty());
        // The first row shown carries the status dot, whichever record it is.
        const QList<MRSidebarRow*> rows = sidebar()->recentRows();
        for (qsizetype i = 0; i < rows.size(); ++i)
            QCOMPARE(rows.at(i)->dotColor(), i == 0 ? MRTheme::statusDot() : MRTheme::textTertiary());
        if (click < 0)
            return;
        // Chosen from the history view, the record loads into the query view.
        QTest::mouseClick(sidebar()->pill(), Qt::LeftButton, {}, QPoint(sidebar()->pill()->width() - 10, 10));
        QTest::mouseClick(rows.at(click), Qt::LeftButton);
        QCOMPARE(content()->sqlTextView()->toPlainText(), loaded);
        QCOMPARE(sidebar()->pill()->selectedIndex(), 0);
    }

    void appearanceButtonCycles()
    {
        MRButton* theme = m_window->themeButton();
        for (const QString& mode : {u"Light"_s, u"Dark"_s, u"System"_s}) {
            QTest::mouseClick(theme, Qt::LeftButton);
            QCOMPARE(theme->toolTip(), u"Appearance: "_s + mode);
        }
        // A change made elsewhere (the application's menu) reaches the button too.
        ThemeManager::shared().setMode(ThemeManager::Mode::Dark);
        QCOMPARE(theme->toolTip(), u"Appearance: Dark"_s);
    }

    // The sidebar's rows and menus, each doing its work through the main window.
    void sidebarRows()
    {
        setHistory({u"one"_s, u"two"_s});
        m_window->sidebarDidSelectView(1);
        QTest::mouseClick(sidebar()->primaryRow(), Qt::LeftButton);
        QCOMPARE(sidebar()->pill()->selectedIndex(), 0);

        QTest::mouseClick(sidebar()->recentsOptionsButton(), Qt::LeftButton);
        choose(u"Clear History"_s);
        QVERIFY(sidebar()->recentRows().isEmpty() && content()->historyRows().isEmpty());
        // A new record reaches the sidebar through the workspace's message.
        QueryHistory::shared().addRecord(QueryRecord::make(u"three"_s, u"SELECT 3"_s));
        m_window->contentDidAddHistoryRecord();
        QCOMPARE(titles(), u"three"_s);

        // Databases opens the connection sheet; what it saves reaches the connection menu.
        QTest::mouseClick(sidebar()->databasesRow(), Qt::LeftButton);
        ConnectionSheetController* sheet = m_window->sheetController();
        QVERIFY(sheet && sheet->sheet()->isVisible() && sheet->sheet()->parentWidget() == m_window.get());
        sheet->addClicked();
        sheet->saveClicked();
        sheet->doneClicked();
        QTRY_VERIFY(!m_window->sheetController());
        // The menu's texts are tst_widgets'; with none active "No database" is the checked item,
        // the saved connection is among them, and one chosen in either pane shows in both.
        QTest::mouseClick(sidebar()->connectionRow(), Qt::LeftButton);
        QVERIFY(qobject_cast<QMenu*>(QApplication::activePopupWidget())->actions().constFirst()->isChecked());
        choose(u"New Connection"_s);
        const QString saved = ConnectionManager::shared().connections().first().connectionId;
        QCOMPARE(ConnectionManager::shared().activeConnectionId(), std::optional<QString>(saved));
        QVERIFY(content()->connButton()->text().endsWith(u"New Connection"_s));
        m_window->contentDidSelectConnectionId(std::nullopt);
        QCOMPARE(ConnectionManager::shared().activeConnectionId(), std::nullopt);
        QCOMPARE(sidebar()->connectionRow()->titleText(), u"No database"_s);
    }

    void recentsFold_data()
    {
        QTest::addColumn<QVariant>("stored");
        // Space on the header; a click gives the same clicked() (tst_widgets' rowInput).
        QTest::addColumn<int>("toggles");
        QTest::addColumn<bool>("collapsed");
        QTest::newRow("twice restores") << QVariant() << 2 << false;
        QTest::newRow("unfolded from stored") << QVariant(true) << 1 << false;
    }

    void recentsFold()
    {
        QFETCH(QVariant, stored);
        QFETCH(int, toggles);
        QFETCH(bool, collapsed);
        const auto key = QLatin1String(SidebarViewController::kRecentsCollapsedKey);
        if (stored.isValid())
            QSettings().setValue(key, stored);
        setHistory({u"a"_s, u"b"_s});
        restart();
        bool folded = stored.toBool();
        for (int i = 0; i < toggles; ++i) {
            sidebar()->recentsHeader()->setFocus(Qt::TabFocusReason);
            QTest::keyClick(sidebar()->recentsHeader(), Qt::Key_Space);
            QCOMPARE(QSettings().value(key).toBool(), folded = !folded);
            QTRY_VERIFY(!sidebar()->isRecentsAnimating());
        }
        // What shows, now and after a restart, which applies the stored state at once.
        for (const bool restarted : {false, true}) {
            if (restarted) {
                restart();
                QVERIFY(!sidebar()->isRecentsAnimating());
            }
            QCOMPARE(sidebar()->recentsChevron()->image().name(), collapsed ? u"chevron.right"_s : u"chevron.down"_s);
            QCOMPARE(sidebar()->recentsScroll()->isVisible(), !collapsed);
        }
    }

    void sizesAndSidebarToggle()
    {
        m_window->resize(1040, 720);
        QSplitter* split = m_window->splitter();
        const int width = split->widget(0)->width();
        m_window->toggleSidebarAction()->trigger();
        QTest::mouseClick(m_window->sidebarButton(), Qt::LeftButton);
        QVERIFY(!m_window->isSidebarCollapsed());
        QCOMPARE(split->widget(0)->width(), width);
    }

    void frameSurvivesRestart()
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

    void signOutAsksFirst()
    {
        for (const QString& answer : {u"Cancel"_s, u"Sign Out"_s}) {
            m_window->signOutClicked();
            QMessageBox* box = m_window->signOutConfirmation();
            QVERIFY(box);
            QCOMPARE(box->text() + u'\n' + box->informativeText(),
                     u"Sign Out?\nYour API key will be removed from this device."_s);
            QVERIFY(box->windowModality() == Qt::WindowModal && box->defaultButton()->text() == u"Sign Out"_s);
            for (QAbstractButton* button : box->buttons())
                if (button->text() == answer)
                    button->click();
            QTRY_VERIFY(!m_window->signOutConfirmation());
            QCOMPARE(m_logouts, answer == u"Cancel"_s ? 0 : 1);
        }
    }

    void keyboard()
    {
        // Rows reloaded after others still sit between the options and the connection row.
        setHistory({u"zero"_s});
        setHistory({u"first"_s, u"second"_s});
        const QList<MRSidebarRow*> rows = sidebar()->recentRows();
        // Within the sidebar (the toolbar's order is its layout's).
        const auto order = QList<QWidget*>{sidebar()->pill(), sidebar()->primaryRow(), sidebar()->databasesRow()}
                           << sidebar()->recentsHeader() << sidebar()->recentsOptionsButton() << rows.at(0)
                           << rows.at(1) << sidebar()->connectionRow();
        order.first()->setFocus(Qt::TabFocusReason);
        for (qsizetype i = 1; i < order.size(); ++i) {
            QTest::keyClick(order.at(i - 1), Qt::Key_Tab);
            QCOMPARE(QApplication::focusWidget(), order.at(i));
        }

        // Ctrl+F reaches the search from anywhere.
        QTest::keyClick(m_window.get(), Qt::Key_F, Qt::ControlModifier);
        QCOMPARE(QApplication::focusWidget(), m_window->searchField());
    }
};

// A screen the size of an ordinary desktop, since the offscreen platform's own is smaller
// than the window's minimum.
int main(int argc, char** argv)
{
    QTemporaryDir folder;
    QFile file(folder.filePath(u"screens.json"_s));
    if (!file.open(QIODevice::WriteOnly))
        return 1;
    file.write(R"({"screens": [{"name": "desktop", "x": 0, "y": 0, "width": 1600, "height": 1000,
                                "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": 1}]})");
    file.close();
    qputenv("QT_QPA_PLATFORM", "offscreen:configfile=" + QFile::encodeName(file.fileName()));
    QApplication app(argc, argv);
    TestMainWindow test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_mainwindow.moc"
