#include "TestDatabases.h"

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

} // namespace TestDatabases
