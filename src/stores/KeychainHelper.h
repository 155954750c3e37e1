#pragma once

#include "platform/LegacySecretStore.h"

#include <QHash>
#include <QJsonObject>
#include <QString>
#include <optional>

// The credential file: server URL, API key and connection passwords in
// <app data>/Mirelo/credentials.json, readable by the user alone. Loaded once per process;
// every change rewrites the whole file. Credentials an earlier release left in the
// system's secret store are carried over once, read-only.
class KeychainHelper final
{
public:
    KeychainHelper() = delete;

    // The file's path; creates its folder (mode 0700) when missing.
    static QString storeURL();

    // The in-memory store, loaded on first use. Main thread only after loading.
    static QJsonObject& store();
    // Writes the object to the file, mode 0600 from the first byte. Returns an empty
    // string or a sentence saying what failed; callers of this class ignore failures,
    // the in-memory store stays authoritative.
    static QString persist(const QJsonObject& object);

    // Empty when missing or empty.
    static QString apiKey();
    static QString serverURL();
    // A null argument is stored as the empty string. Always true.
    static bool saveAPIKey(const QString& key, const QString& serverURL);
    // Forgets the sign-in credentials; connection passwords stay.
    static void deleteCredentials();

    // Connection id → password; members that are not strings are left out.
    static QHash<QString, QString> connectionPasswords();
    // Replaces every stored connection password. Always true.
    static bool saveConnectionPasswords(const QHash<QString, QString>& passwords);

    // Copies the legacy items into the object. False when the user cancelled a read, so
    // that nothing is written and the next launch asks again.
    static bool migrateFromKeychainInto(QJsonObject& object);
    static std::optional<QString> keychainRead(const QString& account, const QString& service,
                                               LegacySecretStore::Status* status = nullptr);

    // The store's content for the file's bytes: nullopt when they are not a JSON object.
    static std::optional<QJsonObject> parse(const QByteArray& bytes);

    // Forgets the loaded store so that the next use reads the file again.
    static void reloadForTesting();
};
