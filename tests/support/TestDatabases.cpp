#include "TestDatabases.h"

#include "db/DatabaseExecutor.h"

#include <QCoreApplication>

using namespace Qt::Literals::StringLiterals;

namespace TestDatabases {

QString variable(const QString& type, const char* name)
{
    const QByteArray prefix = type == QLatin1String("postgresql") ? "MIRELO_TEST_PG_" : "MIRELO_TEST_MYSQL_";
    return qEnvironmentVariable(prefix + name);
}

std::optional<DatabaseConnection> connection(const QString& type, Server server, const QString& database)
{
    const QString port = variable(type, server == Server::Tls ? "PORT" : "PLAIN_PORT");
    if (port.isEmpty())
        return std::nullopt;
    DatabaseConnection c;
    c.type = type;
    c.host = variable(type, "HOST");
    c.port = port.toLongLong();
    c.database = database.isEmpty() ? variable(type, "DATABASE") : database;
    c.username = variable(type, "USER");
    c.password = variable(type, "PASSWORD");
    return c;
}

QString suffixed(const char* sql)
{
    return QString::fromUtf8(sql).replace(u"%1"_s, QString::number(QCoreApplication::applicationPid()));
}

void bothServers()
{
    QTest::addColumn<QString>("type");
    QTest::newRow("postgresql") << u"postgresql"_s;
    QTest::newRow("mysql") << u"mysql"_s;
}

QString firstValue(DatabaseExecutor& executor, const QString& sql, const DatabaseConnection& c)
{
    auto value = std::make_shared<std::optional<QString>>();
    executor.executeQuery(sql, c, &executor, [value](const QueryResultPtr& result, const QString& error) {
        if (!result)
            *value = error;
        else
            *value = result->rows.value(0).isEmpty() ? u"no rows"_s : result->rows[0][0].value_or(u"∅"_s);
    });
    return QTest::qWaitFor([&] { return value->has_value(); }, 90000) ? **value : u"no answer"_s;
}

QString runningCount(const QString& type, const QString& sql)
{
    return (type == u"postgresql"_s ? u"SELECT count(*) FROM pg_stat_activity WHERE state = 'active' AND query = '%1'"_s
                                    : u"SELECT count(*) FROM information_schema.PROCESSLIST WHERE INFO = '%1'"_s)
        .arg(sql);
}

} // namespace TestDatabases
