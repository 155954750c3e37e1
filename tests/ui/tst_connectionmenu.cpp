#include "db/ConnectionManager.h"
#include "ui/MRStyleKit.h"

#include <QAction>
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

} // namespace

class TestConnectionMenu : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void items_data();
    void items();
};

void TestConnectionMenu::items_data()
{
    QTest::addColumn<QList<DatabaseConnection>>("connections");
    QTest::addColumn<QString>("active");
    QTest::addColumn<bool>("detail");
    QTest::addColumn<QString>("expected");
    const QList<DatabaseConnection> two{connection(QStringLiteral("Prod"), QStringLiteral("db.example.com"), 5432),
                                        connection(QString(), QString(), 3306)};
    QTest::newRow("no connections") << QList<DatabaseConnection>{} << QString() << true
                                    << QStringLiteral("[x] No database|-|Manage Databases…");
    QTest::newRow("detail, second active")
        << two << two.at(1).connectionId << true
        << QStringLiteral(
               "No database|-|Prod  ·  db.example.com:5432|[x] (unnamed)  ·  localhost:3306|-|Manage Databases…");
    QTest::newRow("names alone, none active")
        << two << QString() << false << QStringLiteral("[x] No database|-|Prod|(unnamed)|-|Manage Databases…");
    QTest::newRow("active id naming no record")
        << two << QStringLiteral("gone") << false << QStringLiteral("No database|-|Prod|(unnamed)|-|Manage Databases…");
    const DatabaseConnection placeholders = connection(QStringLiteral("50%2 %1"), QStringLiteral("h%3"), 1);
    QTest::newRow("placeholders in a name stay")
        << QList<DatabaseConnection>{placeholders} << placeholders.connectionId << true
        << QStringLiteral("No database|-|[x] 50%2 %1  ·  h%3:1|-|Manage Databases…");
}

void TestConnectionMenu::items()
{
    QFETCH(QList<DatabaseConnection>, connections);
    QFETCH(QString, active);
    QFETCH(bool, detail);
    QFETCH(QString, expected);
    ConnectionManager& manager = ConnectionManager::shared();
    for (const DatabaseConnection& c : manager.connections())
        manager.removeConnectionWithId(c.connectionId);
    QList<QVariant> ids{QVariant()};
    for (const DatabaseConnection& c : connections) {
        manager.addConnection(c);
        ids.append(c.connectionId);
    }
    manager.setActiveConnectionId(active.isEmpty() ? std::nullopt : std::optional<QString>(active));
    QList<QVariant> chosen;
    int managed = 0;
    auto target = std::make_unique<QObject>();
    const std::unique_ptr<QMenu> menu(MRStyleKit::connectionMenuForTarget(
        target.get(), [&chosen](QAction* item) { chosen.append(item->data()); }, [&managed] { ++managed; }, detail));
    // The menu as text: items joined by "|", "-" for a separator, "[x] " before a checked item.
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

QTEST_MAIN(TestConnectionMenu)
#include "tst_connectionmenu.moc"
