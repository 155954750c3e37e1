#pragma once

#include "db/DatabaseConnection.h"

#include <QList>
#include <QString>
#include <optional>

// The saved connections, in the order they were added, and the active one's id, kept in
// the connections file ".mirelo" in the home directory. Passwords live in the credential
// store instead; an older file's passwords are moved there on loading. The file is read
// once; every change rewrites it whole. Write failures are silent: the in-memory state
// stays authoritative. Main thread only.
class ConnectionManager final
{
    Q_DISABLE_COPY_MOVE(ConnectionManager)

public:
    static ConnectionManager& shared();
    // A store over the given file, loaded at once.
    explicit ConnectionManager(const QString& filePath);

    QList<DatabaseConnection> connections() const { return m_connections; }
    // May name no record.
    std::optional<QString> activeConnectionId() const { return m_activeConnectionId; }
    std::optional<DatabaseConnection> activeConnection() const;
    // The first record with exactly this id.
    std::optional<DatabaseConnection> connectionWithId(const QString& connectionId) const;

    void addConnection(const DatabaseConnection& connection);
    // Replaces the first record with the same id in place; saves even when none matches.
    void updateConnection(const DatabaseConnection& connection);
    // Removes every record with the id and clears the active id when it is that id.
    void removeConnectionWithId(const QString& connectionId);
    // Not checked against the records.
    void setActiveConnectionId(const std::optional<QString>& connectionId);

    QString filePath() const { return m_filePath; }
    // Replaces the in-memory state with the file's; a missing or malformed file gives no
    // connections. Rewrites the file when it still carried passwords.
    void load();
    // Hands every non-empty password to the credential store, then writes the file with
    // mode 0600. Returns an empty string or a sentence saying what failed.
    QString save() const;

private:
    QString m_filePath;
    QList<DatabaseConnection> m_connections;
    std::optional<QString> m_activeConnectionId;
};
