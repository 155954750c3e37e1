#include "db/ConnectionManager.h"

#include "platform/AppPaths.h"
#include "platform/AtomicFile.h"
#include "stores/KeychainHelper.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>

namespace {

const auto kConnections = QStringLiteral("connections");
const auto kActiveConnectionId = QStringLiteral("active_connection_id");

} // namespace

ConnectionManager& ConnectionManager::shared()
{
    static ConnectionManager* instance = new ConnectionManager(AppPaths::homeDir() + QStringLiteral("/.mirelo"));
    return *instance;
}

ConnectionManager::ConnectionManager(const QString& filePath) : m_filePath(filePath)
{
    load();
}

std::optional<DatabaseConnection> ConnectionManager::activeConnection() const
{
    if (!m_activeConnectionId)
        return std::nullopt;
    return connectionWithId(*m_activeConnectionId);
}

std::optional<DatabaseConnection> ConnectionManager::connectionWithId(const QString& connectionId) const
{
    for (const DatabaseConnection& c : m_connections) {
        if (c.connectionId == connectionId)
            return c;
    }
    return std::nullopt;
}

void ConnectionManager::addConnection(const DatabaseConnection& connection)
{
    m_connections.append(connection);
    save();
}

void ConnectionManager::updateConnection(const DatabaseConnection& connection)
{
    for (DatabaseConnection& c : m_connections) {
        if (c.connectionId == connection.connectionId) {
            c = connection;
            break;
        }
    }
    save();
}

void ConnectionManager::removeConnectionWithId(const QString& connectionId)
{
    m_connections.removeIf([&](const DatabaseConnection& c) { return c.connectionId == connectionId; });
    if (m_activeConnectionId == connectionId)
        m_activeConnectionId.reset();
    save();
}

void ConnectionManager::setActiveConnectionId(const std::optional<QString>& connectionId)
{
    m_activeConnectionId = connectionId;
    save();
}

void ConnectionManager::load()
{
    m_connections.clear();
    m_activeConnectionId.reset();

    QFile file(m_filePath);
    if (!file.open(QIODevice::ReadOnly))
        return;
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll());
    if (!document.isObject())
        return;
    const QJsonObject root = document.object();

    const QHash<QString, QString> passwords = KeychainHelper::connectionPasswords();
    bool carriedPasswords = false;
    const QJsonArray records = root.value(kConnections).toArray();
    for (const QJsonValue& element : records) {
        if (!element.isObject())
            continue;
        DatabaseConnection c = DatabaseConnection::fromDictionary(element.toObject());
        if (!c.password.isEmpty())
            carriedPasswords = true;
        else
            c.password = passwords.value(c.connectionId);
        m_connections.append(c);
    }

    const QJsonValue active = root.value(kActiveConnectionId);
    if (active.isString() && !active.toString().isEmpty())
        m_activeConnectionId = active.toString();

    if (carriedPasswords)
        save();
}

QString ConnectionManager::save() const
{
    QJsonArray records;
    QHash<QString, QString> passwords;
    for (const DatabaseConnection& c : m_connections) {
        records.append(c.toDictionary());
        if (!c.password.isEmpty())
            passwords.insert(c.connectionId, c.password);
    }
    KeychainHelper::saveConnectionPasswords(passwords);

    const QJsonObject root{
        {kConnections, records},
        {kActiveConnectionId, m_activeConnectionId ? QJsonValue(*m_activeConnectionId) : QJsonValue(QJsonValue::Null)},
    };
    return AtomicFile::write(m_filePath, QJsonDocument(root).toJson(QJsonDocument::Indented), 0600);
}
