#include "db/ConnectionManager.h"
#include "ui/MRStyleKit.h"
#include "ui/MRTheme.h"

#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QTest>
#include <memory>
#include <tuple>

namespace {

DatabaseConnection connection(const QString& name, const QString& host, qint64 port)
{
    DatabaseConnection c;
    std::tie(c.name, c.host, c.port) = std::tie(name, host, port);
    return c;
}

// Replaces the store's connections; the one at index active becomes active (none for -1, an
// id naming no record for -2).
QList<DatabaseConnection> storeConnections(const QList<DatabaseConnection>& connections, int active)
{
    ConnectionManager& manager = ConnectionManager::shared();
    for (const DatabaseConnection& c : manager.connections())
        manager.removeConnectionWithId(c.connectionId);
    for (const DatabaseConnection& c : connections)
        manager.addConnection(c);
    const QList<DatabaseConnection> stored = manager.connections();
    manager.setActiveConnectionId(active >= 0    ? std::optional<QString>(stored.at(active).connectionId)
                                  : active == -2 ? std::optional<QString>(QStringLiteral("gone"))
                                                 : std::nullopt);
    return stored;
}

// Where an item of the menu carries ink: the columns, left to right, that differ from the
// item's own background. The menu's frame at the edges is left out.
QList<int> inkColumns(const QImage& image, const QRect& item)
{
    const QRect inside = item.adjusted(2, 3, -3, -3);
    const QColor background = image.pixelColor(inside.right(), inside.center().y());
    QList<int> columns;
    for (int x = inside.left(); x <= inside.right(); ++x) {
        for (int y = inside.top(); y <= inside.bottom(); ++y) {
            const QColor pixel = image.pixelColor(x, y);
            if (qAbs(pixel.red() - background.red()) + qAbs(pixel.green() - background.green()) +
                    qAbs(pixel.blue() - background.blue()) >
                60) {
                columns.append(x);
                break;
            }
        }
    }
    return columns;
}

} // namespace

class TestConnectionMenu : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        // The application's own style, which draws a box beside every checkable item.
        QApplication::setStyle(QStringLiteral("Fusion"));
    }

    void items_data()
    {
        QTest::addColumn<QList<DatabaseConnection>>("connections");
        QTest::addColumn<int>("active"); // see storeConnections()
        QTest::addColumn<bool>("detail");
        QTest::addColumn<QString>("expected"); // "-" a separator, "[x] " before a checked item
        const QList<DatabaseConnection> two{connection(QStringLiteral("Prod"), QStringLiteral("db.example.com"), 5432),
                                            connection(QString(), QString(), 3306)};
        QTest::newRow("no connections") << QList<DatabaseConnection>{} << -1 << true
                                        << QStringLiteral("[x] No database|-|Manage Databases…");
        QTest::newRow("detail, second active")
            << two << 1 << true
            << QStringLiteral(
                   "No database|-|Prod  ·  db.example.com:5432|[x] (unnamed)  ·  localhost:3306|-|Manage Databases…");
        QTest::newRow("names alone, none active")
            << two << -1 << false << QStringLiteral("[x] No database|-|Prod|(unnamed)|-|Manage Databases…");
        QTest::newRow("active id naming no record")
            << two << -2 << false << QStringLiteral("No database|-|Prod|(unnamed)|-|Manage Databases…");
        QTest::newRow("placeholders in a name stay")
            << QList<DatabaseConnection>{connection(QStringLiteral("50%2 %1"), QStringLiteral("h%3"), 1)} << 0 << true
            << QStringLiteral("No database|-|[x] 50%2 %1  ·  h%3:1|-|Manage Databases…");
    }

    void items()
    {
        QFETCH(QList<DatabaseConnection>, connections);
        QFETCH(int, active);
        QFETCH(bool, detail);
        QFETCH(QString, expected);
        QList<QVariant> ids{QVariant()};
        for (const DatabaseConnection& c : storeConnections(connections, active))
            ids.append(c.connectionId);
        QList<QVariant> chosen;
        int managed = 0;
        auto target = std::make_unique<QObject>();
        const std::unique_ptr<QMenu> menu(MRStyleKit::connectionMenuForTarget(
            target.get(), [&chosen](QAction* item) { chosen.append(item->data()); }, [&managed] { ++managed; },
            detail));
        QStringList shown;
        for (const QAction* action : menu->actions())
            shown.append(action->isSeparator() ? QStringLiteral("-")
                                               : (action->isChecked() ? "[x] " : "") + action->text());
        QCOMPARE(shown.join(u'|'), expected);

        // A choice hands over the connection id, none for "No database". The actions belong to
        // the target: once it is gone, choosing again does nothing.
        for (bool gone : {false, true}) {
            if (gone)
                target.reset();
            for (QAction* item : menu->actions())
                item->trigger();
            QCOMPARE(chosen, ids);
            QCOMPARE(managed, 1);
        }
    }

    void checkColumn_data()
    {
        QTest::addColumn<bool>("dark");
        QTest::addColumn<int>("active");  // index of the active connection, -1 for none
        QTest::addColumn<int>("hovered"); // index among the menu's actions, -1 for none
        QTest::newRow("none active, light") << false << -1 << -1;
        QTest::newRow("second active and hovered, dark") << true << 1 << 3;
        QTest::newRow("first active, another hovered, dark") << true << 0 << 4;
    }

    void checkColumn()
    {
        QFETCH(bool, dark);
        QFETCH(int, active);
        QFETCH(int, hovered);
        QApplication::setPalette(MRTheme::palette(dark));
        storeConnections({connection(QStringLiteral("Prod"), QStringLiteral("db.example.com"), 5432),
                          connection(QStringLiteral("Staging"), QString(), 5433),
                          connection(QStringLiteral("Analytics"), QString(), 5434)},
                         active);
        const std::unique_ptr<QMenu> menu(MRStyleKit::connectionMenuForTarget(nullptr, {}, {}, true));
        menu->resize(menu->sizeHint());
        if (hovered >= 0)
            menu->setActiveAction(menu->actions().at(hovered));
        const QImage image = menu->grab().toImage();

        // The text of every item starts at one column; left of it only the chosen item has ink.
        QList<int> textStarts;
        int marks = 0;
        for (QAction* action : menu->actions()) {
            if (action->isSeparator())
                continue;
            const QList<int> ink = inkColumns(image, menu->actionGeometry(action));
            QVERIFY2(!ink.isEmpty(), qPrintable(action->text()));
            if (!action->isChecked()) {
                textStarts.append(ink.first());
                continue;
            }
            // The mark, a gap, then the text.
            qsizetype gap = 1;
            while (gap < ink.size() && ink.at(gap) == ink.at(gap - 1) + 1)
                ++gap;
            QVERIFY2(gap < ink.size(), "no gap between the check mark and the text");
            textStarts.append(ink.at(gap));
            ++marks;
        }
        QCOMPARE(marks, 1);
        for (const int start : textStarts)
            QVERIFY2(qAbs(start - textStarts.first()) <= 2, qPrintable(QString::number(start)));
        // The mark stands where the check column is, left of every text.
        QVERIFY(textStarts.first() > 16);
    }

    // What assistive technology hears item by item: a role, a name, and for the choices
    // whether each is checked; only the active connection is.
    void accessibility()
    {
        storeConnections({connection(QStringLiteral("Prod"), QStringLiteral("db.example.com"), 5432),
                          connection(QStringLiteral("Staging"), QString(), 5433)},
                         1);
        const std::unique_ptr<QMenu> menu(MRStyleKit::connectionMenuForTarget(nullptr, {}, {}, false));
        QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(menu.get());
        QCOMPARE(iface->role(), QAccessible::PopupMenu);
        QStringList heard;
        for (int i = 0; i < iface->childCount(); ++i) {
            QAccessibleInterface* item = iface->child(i);
            if (item->role() == QAccessible::Separator) {
                heard << QStringLiteral("-");
                continue;
            }
            QCOMPARE(item->role(), QAccessible::MenuItem);
            const QAccessible::State state = item->state();
            heard << (state.checkable ? (state.checked ? QStringLiteral("(x) ") : QStringLiteral("( ) ")) : QString()) +
                         item->text(QAccessible::Name);
        }
        QCOMPARE(heard.join(u'|'), QStringLiteral("( ) No database|-|( ) Prod|(x) Staging|-|Manage Databases…"));
    }
};

QTEST_MAIN(TestConnectionMenu)
#include "tst_connectionmenu.moc"
