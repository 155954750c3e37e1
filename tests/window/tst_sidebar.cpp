#include "db/ConnectionManager.h"
#include "ui/MRButton.h"
#include "ui/MRClickRow.h"
#include "ui/MRImageView.h"
#include "ui/MRLabel.h"
#include "ui/MRPill.h"
#include "ui/MRSeparatorView.h"
#include "ui/MRSidebarRow.h"
#include "ui/MRStyleKit.h"
#include "ui/MRTheme.h"
#include "window/SidebarViewController.h"
#include "workspace/QueryHistory.h"

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QScrollArea>
#include <QSettings>
#include <QTest>
#include <memory>

using namespace Qt::Literals::StringLiterals;

namespace {

// The main window's side: every message, in order, as one line each.
struct Recorder : SidebarDelegate
{
    QStringList log;
    void sidebarDidSelectView(int index) override { log << u"view %1"_s.arg(index); }
    void sidebarDidStartNewQuery() override { log << u"new query"_s; }
    void sidebarDidSelectRecentAtIndex(int index) override { log << u"recent %1"_s.arg(index); }
    void sidebarDidRequestManageConnections() override { log << u"manage"_s; }
    void sidebarDidSelectConnectionId(const std::optional<QString>& id) override
    {
        log << u"connection "_s + id.value_or(u"none"_s);
    }
    void sidebarDidRequestClearHistory() override { log << u"clear history"_s; }
    QString take()
    {
        const QString all = log.join(u", "_s);
        log.clear();
        return all;
    }
};

// Makes the history hold these prompts in this order, first = newest.
void setHistory(const QStringList& prompts)
{
    QueryHistory& history = QueryHistory::shared();
    history.clearAll();
    for (qsizetype i = prompts.size() - 1; i >= 0; --i)
        history.addRecord(QueryRecord::make(prompts.at(i), u"SELECT %1"_s.arg(i)));
}

QString titles(const QList<MRSidebarRow*>& rows)
{
    QStringList texts;
    for (const MRSidebarRow* row : rows)
        texts << row->titleText();
    return texts.join(u'|');
}

// The menu as text: items joined by "|", "-" for a separator, "[x] " before a checked item.
QString menuText(const QMenu* menu)
{
    QStringList shown;
    for (const QAction* action : menu->actions())
        shown << (action->isSeparator() ? u"-"_s : (action->isChecked() ? u"[x] "_s : QString()) + action->text());
    return shown.join(u'|');
}

QAction* menuItem(const QMenu* menu, const QString& startingWith)
{
    for (QAction* action : menu->actions())
        if (!action->isSeparator() && action->text().startsWith(startingWith))
            return action;
    return nullptr;
}

void clearConnections()
{
    ConnectionManager& manager = ConnectionManager::shared();
    for (const DatabaseConnection& c : manager.connections())
        manager.removeConnectionWithId(c.connectionId);
    manager.setActiveConnectionId(std::nullopt);
}

} // namespace

class TestSidebar : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();
    void recents_data();
    void recents();
    void pillKeys_data();
    void pillKeys();
    void fixedRows_data();
    void fixedRows();
    void collapse_data();
    void collapse();
    void connectionRow_data();
    void connectionRow();
    void keyboard();
    void layout();

private:
    void make();

    std::unique_ptr<SidebarViewController> m_sidebar;
    Recorder m_recorder;
};

void TestSidebar::init()
{
    QSettings().remove(QLatin1String(SidebarViewController::kRecentsCollapsedKey));
    setHistory({});
    clearConnections();
    m_recorder = Recorder();
}

void TestSidebar::cleanup()
{
    m_sidebar.reset();
}

// A sidebar as the main window makes it, shown at its initial size.
void TestSidebar::make()
{
    m_sidebar = std::make_unique<SidebarViewController>();
    m_sidebar->setDelegate(&m_recorder);
    m_sidebar->show();
    QVERIFY(QTest::qWaitForWindowActive(m_sidebar.get()));
}

void TestSidebar::recents_data()
{
    QTest::addColumn<QString>("filter");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<int>("click"); // a visible row, or -1
    QTest::addColumn<QString>("sent");

    QTest::newRow("no filter") << QString() << u"Orders by month|top customers|(empty prompt)|ORDERS today"_s << 1
                               << u"view 0, recent 1"_s;
    QTest::newRow("lower-case filter, second match is record 3")
        << u"orders"_s << u"Orders by month|ORDERS today"_s << 1 << u"view 0, recent 3"_s;
    QTest::newRow("upper-case filter") << u"CUSTOMERS"_s << u"top customers"_s << 0 << u"view 0, recent 1"_s;
    QTest::newRow("leading space matches only a space")
        << u" today"_s << u"ORDERS today"_s << 0 << u"view 0, recent 3"_s;
    QTest::newRow("leading space before a word at the start") << u" orders"_s << QString() << -1 << QString();
    QTest::newRow("untrimmed prompt is searched") << u"  top"_s << u"top customers"_s << 0 << u"view 0, recent 1"_s;
    QTest::newRow("line break in the prompt") << u"customers\n"_s << u"top customers"_s << -1 << QString();
    QTest::newRow("no match") << u"invoices"_s << QString() << -1 << QString();
}

void TestSidebar::recents()
{
    QFETCH(QString, filter);
    QFETCH(QString, shown);
    QFETCH(int, click);
    QFETCH(QString, sent);
    setHistory({u"Orders by month"_s, u"  top customers\n"_s, u" \n\t "_s, u"ORDERS today"_s});
    make();
    m_sidebar->setSelectedView(1);
    m_sidebar->filterRecentsWithQuery(filter);
    QCOMPARE(m_sidebar->searchFilter(), filter.isEmpty() ? std::nullopt : std::optional<QString>(filter));

    const QList<MRSidebarRow*> rows = m_sidebar->recentRows();
    QCOMPARE(titles(rows), shown);
    QCOMPARE(m_sidebar->emptyRecentsLabel()->isVisible(), rows.isEmpty());
    // The first row shown carries the status dot, whichever record it is.
    for (qsizetype i = 0; i < rows.size(); ++i)
        QCOMPARE(rows.at(i)->dotColor(), i == 0 ? MRTheme::statusDot() : MRTheme::textTertiary());
    if (click < 0)
        return;

    MRSidebarRow* clicked = rows.at(click);
    QTest::mouseClick(clicked, Qt::LeftButton);
    QCOMPARE(m_recorder.take(), sent);
    QCOMPARE(m_sidebar->pill()->selectedIndex(), 0);
    for (const MRSidebarRow* row : rows)
        QCOMPARE(row->isSelected(), row == clicked);
    // A reload starts afresh, with no row selected.
    m_sidebar->reloadRecents();
    for (const MRSidebarRow* row : m_sidebar->recentRows())
        QVERIFY(!row->isSelected());
}

void TestSidebar::pillKeys_data()
{
    QTest::addColumn<int>("start");
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("selected");
    QTest::addColumn<QString>("sent");
    QTest::newRow("Right on the last segment") << 1 << int(Qt::Key_Right) << 1 << QString();
    QTest::newRow("Left on the first segment") << 0 << int(Qt::Key_Left) << 0 << QString();
    QTest::newRow("Right to History") << 0 << int(Qt::Key_Right) << 1 << u"view 1"_s;
    QTest::newRow("Space on the last wraps") << 1 << int(Qt::Key_Space) << 0 << u"view 0"_s;
    QTest::newRow("Return moves on") << 0 << int(Qt::Key_Return) << 1 << u"view 1"_s;
}

void TestSidebar::pillKeys()
{
    QFETCH(int, start);
    QFETCH(int, key);
    QFETCH(int, selected);
    QFETCH(QString, sent);
    make();
    m_sidebar->setSelectedView(start);
    // Setting the view from the window is no choice of the user's.
    QCOMPARE(m_recorder.take(), QString());
    QCOMPARE(m_sidebar->pill()->selectedIndex(), start);
    QTest::keyClick(m_sidebar->pill(), Qt::Key(key));
    QCOMPARE(m_sidebar->pill()->selectedIndex(), selected);
    QCOMPARE(m_recorder.take(), sent);
}

void TestSidebar::fixedRows_data()
{
    QTest::addColumn<QString>("control");
    QTest::addColumn<QString>("sent");
    QTest::newRow("New query") << u"new query"_s << u"view 0, new query"_s;
    QTest::newRow("Databases") << u"databases"_s << u"manage"_s;
    QTest::newRow("History options, Clear History") << u"clear history"_s << u"clear history"_s;
    QTest::newRow("connection menu, Manage Databases…") << u"manage from menu"_s << u"manage"_s;
}

void TestSidebar::fixedRows()
{
    QFETCH(QString, control);
    QFETCH(QString, sent);
    setHistory({u"one"_s});
    make();
    m_sidebar->setSelectedView(1);
    if (control == u"new query") {
        QTest::mouseClick(m_sidebar->primaryRow(), Qt::LeftButton);
        QCOMPARE(m_sidebar->pill()->selectedIndex(), 0);
    } else if (control == u"databases") {
        QTest::mouseClick(m_sidebar->databasesRow(), Qt::LeftButton);
    } else {
        const bool history = control == u"clear history";
        QTest::mouseClick(history ? static_cast<QWidget*>(m_sidebar->recentsOptionsButton())
                                  : static_cast<QWidget*>(m_sidebar->connectionRow()),
                          Qt::LeftButton);
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        QVERIFY(menu);
        if (history) {
            QCOMPARE(menuText(menu), u"Clear History"_s);
            // Four points under the button's left end.
            const MRButton* options = m_sidebar->recentsOptionsButton();
            QCOMPARE(menu->pos(), options->mapToGlobal(QPoint(0, options->height() + 4)));
        }
        menuItem(menu, history ? u"Clear History"_s : u"Manage"_s)->trigger();
    }
    QCOMPARE(m_recorder.take(), sent);
    // The sidebar reports; the history is the main window's to clear.
    QCOMPARE(QueryHistory::shared().count(), 1);
}

void TestSidebar::collapse_data()
{
    QTest::addColumn<QVariant>("stored");
    QTest::addColumn<int>("records");
    QTest::addColumn<QString>("toggles"); // "m" a click on the header, "k" Space on it
    QTest::addColumn<QString>("written"); // the stored value after each toggle
    QTest::addColumn<bool>("collapsed");

    QTest::newRow("nothing stored: open") << QVariant() << 2 << QString() << QString() << false;
    QTest::newRow("stored true: folded at start") << QVariant(true) << 2 << QString() << QString() << true;
    QTest::newRow("one click folds") << QVariant() << 2 << u"m"_s << u"true"_s << true;
    QTest::newRow("twice restores") << QVariant() << 2 << u"mk"_s << u"true,false"_s << false;
    QTest::newRow("unfold from stored") << QVariant(true) << 2 << u"k"_s << u"false"_s << false;
    QTest::newRow("folded with no records") << QVariant() << 0 << u"k"_s << u"true"_s << true;
    QTest::newRow("open with no records") << QVariant(true) << 0 << u"m"_s << u"false"_s << false;
}

void TestSidebar::collapse()
{
    QFETCH(QVariant, stored);
    QFETCH(int, records);
    QFETCH(QString, toggles);
    QFETCH(QString, written);
    QFETCH(bool, collapsed);
    if (stored.isValid())
        QSettings().setValue(QLatin1String(SidebarViewController::kRecentsCollapsedKey), stored);
    setHistory(records ? QStringList{u"a"_s, u"b"_s} : QStringList{});
    make();

    QStringList values;
    for (const QChar how : toggles) {
        if (how == u'm') {
            QTest::mouseClick(m_sidebar->recentsHeader(), Qt::LeftButton);
        } else {
            m_sidebar->recentsHeader()->setFocus(Qt::TabFocusReason);
            QTest::keyClick(m_sidebar->recentsHeader(), Qt::Key_Space);
        }
        QVERIFY(m_sidebar->isRecentsAnimating());
        values << QSettings().value(QLatin1String(SidebarViewController::kRecentsCollapsedKey)).toString();
        QTRY_VERIFY(!m_sidebar->isRecentsAnimating());
    }
    QCOMPARE(values.join(u','), written);

    // What shows, now and after a restart, which applies the stored state at once.
    for (const bool restarted : {false, true}) {
        if (restarted) {
            m_sidebar.reset();
            make();
            QVERIFY(!m_sidebar->isRecentsAnimating());
        }
        QCOMPARE(m_sidebar->isRecentsCollapsed(), collapsed);
        QCOMPARE(m_sidebar->recentsChevron()->image().name(), collapsed ? u"chevron.right"_s : u"chevron.down"_s);
        QCOMPARE(m_sidebar->recentsScroll()->isVisible(), !collapsed);
        QCOMPARE(m_sidebar->emptyRecentsLabel()->isVisible(), !collapsed && records == 0);
        QCOMPARE(m_sidebar->recentRows().size(), records);
        // Open, the list reaches down to 8 above the separator.
        const int bottom = m_sidebar->separator()->y() - 8;
        if (!collapsed)
            QCOMPARE(m_sidebar->recentsScroll()->geometry().bottom() + 1, bottom);
    }
}

void TestSidebar::connectionRow_data()
{
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<int>("active"); // index into names; -1 none, -2 an id naming no record
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("menu");
    QTest::addColumn<int>("choose"); // menu item: index into names, or -1 for "No database"

    QTest::newRow("no connections") << QStringList{} << -1 << u"No database"_s
                                    << u"[x] No database|-|Manage Databases…"_s << -1;
    QTest::newRow("active named") << QStringList{u"Prod"_s, u"Stage"_s} << 0 << u"Prod"_s
                                  << u"No database|-|[x] Prod  ·  db:5432|Stage  ·  db:5432|-|Manage Databases…"_s << 1;
    QTest::newRow("active unnamed") << QStringList{QString()} << 0 << u"(unnamed)"_s
                                    << u"No database|-|[x] (unnamed)  ·  db:5432|-|Manage Databases…"_s << -1;
    QTest::newRow("active id names no record") << QStringList{u"Prod"_s} << -2 << u"No database"_s
                                               << u"No database|-|Prod  ·  db:5432|-|Manage Databases…"_s << 0;
}

void TestSidebar::connectionRow()
{
    QFETCH(QStringList, names);
    QFETCH(int, active);
    QFETCH(QString, title);
    QFETCH(QString, menu);
    QFETCH(int, choose);
    QStringList ids;
    for (const QString& name : names) {
        DatabaseConnection c;
        c.name = name;
        c.host = u"db"_s;
        ConnectionManager::shared().addConnection(c);
        ids << c.connectionId;
    }
    ConnectionManager::shared().setActiveConnectionId(active >= 0    ? std::optional<QString>(ids.at(active))
                                                      : active == -2 ? u"gone"_s
                                                                     : std::optional<QString>());
    make();

    MRSidebarRow* row = m_sidebar->connectionRow();
    QCOMPARE(row->titleText(), title);
    QCOMPARE(row->icon(), MRStyleKit::sparkleImageOfSize(16));
    QCOMPARE(row->iconTint(), title == u"No database" ? MRTheme::textTertiary() : MRTheme::accent());
    QCOMPARE(row->trailingImage().name(), u"chevron.up.chevron.down"_s);

    QTest::mouseClick(row, Qt::LeftButton);
    auto* popup = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    QVERIFY(popup);
    QCOMPARE(menuText(popup), menu);
    menuItem(popup, choose < 0 ? u"No database"_s : (names.at(choose).isEmpty() ? u"(unnamed)"_s : names.at(choose)))
        ->trigger();
    QCOMPARE(m_recorder.take(), u"connection "_s + (choose < 0 ? u"none"_s : ids.at(choose)));
    // The choice is the main window's to store; the row shows what the store holds.
    QCOMPARE(row->titleText(), title);
}

void TestSidebar::keyboard()
{
    setHistory({u"first"_s, u"second"_s});
    make();
    SidebarViewController& s = *m_sidebar;
    const QList<MRSidebarRow*> recents = s.recentRows();
    const QList<QWidget*> order{s.pill(),          s.primaryRow(),           s.databasesRow(),
                                s.recentsHeader(), s.recentsOptionsButton(), recents.at(0),
                                recents.at(1),     s.connectionRow()};
    s.pill()->setFocus(Qt::TabFocusReason);
    for (qsizetype i = 1; i < order.size(); ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), order.at(i));
    }
    // Rows reloaded later still sit between the options and the connection row.
    setHistory({u"third"_s});
    s.reloadRecents();
    s.recentsOptionsButton()->setFocus(Qt::TabFocusReason);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), s.recentRows().at(0));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), s.connectionRow());

    // The menus open from the keyboard: Return on the connection row, Space on the options.
    QTest::keyClick(s.connectionRow(), Qt::Key_Return);
    auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    QVERIFY(menu);
    QVERIFY(menuItem(menu, u"Manage Databases"_s));
    menu->close();
    QTRY_VERIFY(!QApplication::activePopupWidget());
    s.recentsOptionsButton()->setFocus(Qt::TabFocusReason);
    QTest::keyClick(s.recentsOptionsButton(), Qt::Key_Space);
    menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    QVERIFY(menu);
    QCOMPARE(menuText(menu), u"Clear History"_s);
    // Down and Return choose from it.
    QTest::keyClick(menu, Qt::Key_Down);
    QTest::keyClick(menu, Qt::Key_Return);
    QCOMPARE(m_recorder.take(), u"clear history"_s);
}

void TestSidebar::layout()
{
    make();
    SidebarViewController& s = *m_sidebar;
    QCOMPARE(s.size(), QSize(260, 600));
    QCOMPARE(s.pill()->geometry(), QRect(10, 8, 240, 30));
    QCOMPARE(s.primaryRow()->geometry(), QRect(10, 50, 240, 32));
    QCOMPARE(s.databasesRow()->geometry(), QRect(10, 84, 240, 32));
    QCOMPARE(s.recentsHeader()->geometry(), QRect(10, 134, 210, 22));
    QCOMPARE(s.recentsOptionsButton()->geometry(), QRect(224, 133, 24, 24));
    QCOMPARE(s.connectionRow()->geometry(), QRect(10, 560, 240, 32));
    QCOMPARE(s.separator()->geometry(), QRect(10, 553, 240, 1));
    QCOMPARE(s.recentsScroll()->geometry(), QRect(8, 162, 244, 553 - 8 - 162));
    QCOMPARE(s.emptyRecentsLabel()->pos(), QPoint(19, 166));
    QVERIFY(s.primaryRow()->isSelected());
    QCOMPARE(s.recentsOptionsButton()->accessibleName(), u"History options"_s);

    // The bottom stays anchored when the window grows; the recents take the room.
    s.resize(280, 700);
    QCOMPARE(s.connectionRow()->geometry(), QRect(10, 660, 260, 32));
    QCOMPARE(s.recentsScroll()->geometry(), QRect(8, 162, 264, 653 - 8 - 162));

    // Rows stack 2 apart from 2 inside the list.
    setHistory({u"a"_s, u"b"_s});
    s.reloadRecents();
    QTRY_COMPARE(s.recentRows().at(1)->geometry(), QRect(2, 36, 264 - 4, 32));
    QCOMPARE(s.recentRows().at(0)->geometry().topLeft(), QPoint(2, 2));
}

QTEST_MAIN(TestSidebar)
#include "tst_sidebar.moc"
