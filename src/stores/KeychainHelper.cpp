#include "stores/KeychainHelper.h"

#include "platform/AppPaths.h"
#include "platform/AtomicFile.h"
#include "platform/StrictUtf8.h"

#include <QFile>
#include <QJsonDocument>
#include <QMutex>

namespace {

const auto kApiKey = QStringLiteral("apiKey");
const auto kServerURL = QStringLiteral("serverURL");
const auto kConnections = QStringLiteral("connections");

struct Store
{
    QMutex mutex;
    bool loaded = false;
    QJsonObject object;
};

Store& state()
{
    static Store s;
    return s;
}

QString nonEmptyString(const QJsonObject& object, const QString& key)
{
    const QJsonValue value = object.value(key);
    return value.isString() ? value.toString() : QString();
}

} // namespace

QString KeychainHelper::storeURL()
{
    AppPaths::ensureAppSupportDir(0700);
    return AppPaths::appSupportDir() + QStringLiteral("/credentials.json");
}

std::optional<QJsonObject> KeychainHelper::parse(const QByteArray& bytes)
{
    const QJsonDocument document = QJsonDocument::fromJson(bytes);
    if (!document.isObject())
        return std::nullopt;
    return document.object();
}

QJsonObject& KeychainHelper::store()
{
    Store& s = state();
    QMutexLocker lock(&s.mutex);
    if (s.loaded)
        return s.object;

    std::optional<QJsonObject> parsed;
    QFile file(storeURL());
    if (file.open(QIODevice::ReadOnly))
        parsed = parse(file.readAll());
    if (parsed) {
        s.object = *parsed;
    } else {
        s.object = QJsonObject();
        if (migrateFromKeychainInto(s.object))
            persist(s.object);
    }
    if (!s.object.value(kConnections).isObject())
        s.object.insert(kConnections, QJsonObject());
    s.loaded = true;
    return s.object;
}

QString KeychainHelper::persist(const QJsonObject& object)
{
    const QByteArray bytes = QJsonDocument(object).toJson(QJsonDocument::Indented);
    return AtomicFile::write(storeURL(), bytes, 0600);
}

QString KeychainHelper::apiKey()
{
    return nonEmptyString(store(), kApiKey);
}

QString KeychainHelper::serverURL()
{
    return nonEmptyString(store(), kServerURL);
}

bool KeychainHelper::saveAPIKey(const QString& key, const QString& serverURL)
{
    QJsonObject& s = store();
    s.insert(kApiKey, key.isNull() ? QString(QLatin1String("")) : key);
    s.insert(kServerURL, serverURL.isNull() ? QString(QLatin1String("")) : serverURL);
    persist(s);
    return true;
}

void KeychainHelper::deleteCredentials()
{
    QJsonObject& s = store();
    s.remove(kApiKey);
    s.remove(kServerURL);
    persist(s);
}

QHash<QString, QString> KeychainHelper::connectionPasswords()
{
    QHash<QString, QString> passwords;
    const QJsonObject connections = store().value(kConnections).toObject();
    for (auto it = connections.constBegin(); it != connections.constEnd(); ++it) {
        if (it.value().isString())
            passwords.insert(it.key(), it.value().toString());
    }
    return passwords;
}

bool KeychainHelper::saveConnectionPasswords(const QHash<QString, QString>& passwords)
{
    QJsonObject connections;
    for (auto it = passwords.constBegin(); it != passwords.constEnd(); ++it)
        connections.insert(it.key(), it.value());
    QJsonObject& s = store();
    s.insert(kConnections, connections);
    persist(s);
    return true;
}

bool KeychainHelper::migrateFromKeychainInto(QJsonObject& object)
{
    using Status = LegacySecretStore::Status;
    Status keyStatus = Status::ItemNotFound;
    Status urlStatus = Status::ItemNotFound;
    Status connectionsStatus = Status::ItemNotFound;
    const std::optional<QString> key =
        keychainRead(QStringLiteral("api-key"), QStringLiteral("com.mirelo.app"), &keyStatus);
    const std::optional<QString> url =
        keychainRead(QStringLiteral("server-url"), QStringLiteral("com.mirelo.app"), &urlStatus);
    const std::optional<QString> connections =
        keychainRead(QStringLiteral("all"), QStringLiteral("com.mirelo.connections"), &connectionsStatus);

    if (key && !key->isEmpty())
        object.insert(kApiKey, *key);
    if (url && !url->isEmpty())
        object.insert(kServerURL, *url);
    if (connections && !connections->isEmpty()) {
        const QJsonDocument document = QJsonDocument::fromJson(connections->toUtf8());
        if (document.isObject())
            object.insert(kConnections, document.object());
    }
    return keyStatus != Status::UserCanceled && urlStatus != Status::UserCanceled &&
           connectionsStatus != Status::UserCanceled;
}

std::optional<QString> KeychainHelper::keychainRead(const QString& account, const QString& service,
                                                    LegacySecretStore::Status* status)
{
    const LegacySecretStore::Item item = LegacySecretStore::read(account, service);
    if (status)
        *status = item.status;
    if (item.status != LegacySecretStore::Status::Success || !item.data)
        return std::nullopt;
    return StrictUtf8::decode(*item.data);
}

void KeychainHelper::reloadForTesting()
{
    Store& s = state();
    QMutexLocker lock(&s.mutex);
    s.loaded = false;
    s.object = QJsonObject();
}
