#pragma once

#include <QJsonObject>
#include <QString>

// One saved database connection. Records are values: the store hands out copies, and a
// change is made by passing a new record to ConnectionManager::updateConnection.
struct DatabaseConnection
{
    QString connectionId = newConnectionId(); // key of the password in the credential store
    QString name;
    QString type = QStringLiteral("postgresql"); // "postgresql" or "mysql"
    QString host = QStringLiteral("localhost");
    qint64 port = 5432;
    QString database;
    QString username;
    QString password; // held in memory only, never written to the connections file
    bool ssl = false; // the connection must be encrypted

    // A fresh random UUID, 36 characters, upper-case hex digits.
    static QString newConnectionId();

    // The eight members written to the connections file; never the password.
    QJsonObject toDictionary() const;
    // Missing or mistyped members take the defaults of a new record; a port of 0 becomes
    // the type's default port; an older file's Base64 "password" is decoded.
    static DatabaseConnection fromDictionary(const QJsonObject& object);
    // 3306 for "mysql", 5432 for anything else.
    static qint64 defaultPortForType(const QString& type);

    bool operator==(const DatabaseConnection&) const = default;
};
