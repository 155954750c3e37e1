#include "db/ConnectionManager.h"
#include "ui/MRStyleKit.h"

#include <QAction>
#include <QMenu>
#include <QTest>
#include <memory>

namespace {

DatabaseConnection connection(const QString& name, const QString& host, qint64 port)
{
    DatabaseConnection c;
    c.name = name;
    c.host = host;
    c.port = port;
    return c;
}

// The menu as text: one entry per item, "-" for a separator, "[x] " before a checked item.
QStringList describe(const QMenu& menu)
{
    QStringList lines;
    for (const QAction* action : menu.actions()) {
        if (action->isSeparator())
            lines.append(QStringLiteral("-"));
        else
            lines.append((action->isChecked() ? QStringLiteral("[x] ") : QString()) + action->text());
    }
    return lines;
}

} // namespace

class TestConnectionMenu : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void items_data();
    void items();
    void actions();
};

void TestConnectionMenu::init()
{
    ConnectionManager& manager = ConnectionManager::shared();
    for (const DatabaseConnection& c : manager.connections())
        manager.removeConnectionWithId(c.connectionId);
    manager.setActiveConnectionId(std::nullopt);
}

void TestConnectionMenu::items_data()
{
    QTest::addColumn<QList<DatabaseConnection>>("connections");
    QTest::addColumn<int>("active");
    QTest::addColumn<bool>("detail");
    QTest::addColumn<QStringList>("expected");

    const QList<DatabaseConnection> two{connection(QStringLiteral("Prod"), QStringLiteral("db.example.com"), 5432),
                                        connection(QString(), QString(), 3306)};
    QTest::newRow("no connections") << QList<DatabaseConnection>{} << -1 << true
                                    << QStringList{"[x] No database", "-", "Manage Databases…"};
    QTest::newRow("detail, second active")
        << two << 1 << true
        << QStringList{"No database",      "-", "Prod  ·  db.example.com:5432", "[x] (unnamed)  ·  localhost:3306", "-",
                       "Manage Databases…"};
    QTest::newRow("names alone, none active")
        << two << -1 << false << QStringList{"[x] No database", "-", "Prod", "(unnamed)", "-", "Manage Databases…"};
    QTest::newRow("active id naming no record")
        << two << 7 << false << QStringList{"No database", "-", "Prod", "(unnamed)", "-", "Manage Databases…"};
    QTest::newRow("placeholders in a name stay")
        << QList<DatabaseConnection>{connection(QStringLiteral("50%2 %1"), QStringLiteral("h%3"), 1)} << 0 << true
        << QStringList{"No database", "-", "[x] 50%2 %1  ·  h%3:1", "-", "Manage Databases…"};
}

void TestConnectionMenu::items()
{
    QFETCH(QList<DatabaseConnection>, connections);
    QFETCH(int, active);
    QFETCH(bool, detail);
    QFETCH(QStringList, expected);
    ConnectionManager& manager = ConnectionManager::shared();
    for (const DatabaseConnection& c : connections)
        manager.addConnection(c);
    if (active >= 0)
        manager.setActiveConnectionId(active < connections.size() ? connections.at(active).connectionId
                                                                  : QStringLiteral("gone"));

    QObject target;
    const std::unique_ptr<QMenu> menu(MRStyleKit::connectionMenuForTarget(
        &target, [](QAction*) {}, {}, detail));
    QCOMPARE(describe(*menu), expected);
}

void TestConnectionMenu::actions()
{
    ConnectionManager& manager = ConnectionManager::shared();
    const DatabaseConnection prod = connection(QStringLiteral("Prod"), QStringLiteral("db"), 5432);
    manager.addConnection(prod);

    QList<QVariant> chosen;
    int managed = 0;
    auto target = std::make_unique<QObject>();
    const std::unique_ptr<QMenu> menu(MRStyleKit::connectionMenuForTarget(
        target.get(), [&chosen](QAction* item) { chosen.append(item->data()); }, [&managed] { ++managed; }, true));
    const QList<QAction*> items = menu->actions();
    items.at(0)->trigger();
    items.at(2)->trigger();
    items.at(4)->trigger();
    QCOMPARE(chosen, (QList<QVariant>{QVariant(), prod.connectionId}));
    QCOMPARE(managed, 1);

    // The actions belong to the target: once it is gone, choosing does nothing.
    target.reset();
    items.at(2)->trigger();
    items.at(4)->trigger();
    QCOMPARE(chosen.size(), 2);
    QCOMPARE(managed, 1);
}

QTEST_MAIN(TestConnectionMenu)
#include "tst_connectionmenu.moc"
