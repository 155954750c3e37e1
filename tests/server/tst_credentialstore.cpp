#include "platform/AppPaths.h"
#include "server/KeychainHelper.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QTest>

#include <sys/stat.h>

using Status = LegacySecretStore::Status;

namespace {

QString folder()
{
    return AppPaths::appSupportDir();
}

QString credentialsPath()
{
    return folder() + QStringLiteral("/credentials.json");
}

int modeOf(const QString& path)
{
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return -1;
    return int(st.st_mode & 07777);
}

QJsonObject fileContent()
{
    QFile file(credentialsPath());
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QJsonDocument::fromJson(file.readAll()).object();
}

void writeFile(const QByteArray& bytes)
{
    QDir().mkpath(folder());
    QFile file(credentialsPath());
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
}

// Scripts the three legacy reads: account → (status, data).
struct LegacyItems
{
    QMap<QString, LegacySecretStore::Item> items;
    QStringList readOrder;

    void install()
    {
        LegacySecretStore::setReaderForTesting([this](const QString& account, const QString& service) {
            readOrder << service + QLatin1Char('/') + account;
            return items.value(account, {Status::ItemNotFound, std::nullopt});
        });
    }
};

} // namespace

class TestCredentialStore : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();
    void firstLaunchWritesPrivateEmptyFile();
    void migratesLegacyItems();
    void cancelledReadWritesNothing();
    void credentialsRoundTrip();
    void malformedFiles_data();
    void malformedFiles();
    void writeFailureKeepsMemoryState();

private:
    LegacyItems m_legacy;
};

void TestCredentialStore::init()
{
    QDir(folder()).removeRecursively();
    m_legacy = {};
    m_legacy.install();
    KeychainHelper::reloadForTesting();
}

void TestCredentialStore::cleanup()
{
    LegacySecretStore::setReaderForTesting({});
}

void TestCredentialStore::firstLaunchWritesPrivateEmptyFile()
{
    // A permissive umask must not widen the file or the folder.
    const mode_t old = ::umask(0);
    QVERIFY(KeychainHelper::serverURL().isEmpty());
    ::umask(old);

    QCOMPARE(m_legacy.readOrder, QStringList({QStringLiteral("com.mirelo.app/api-key"),
                                              QStringLiteral("com.mirelo.app/server-url"),
                                              QStringLiteral("com.mirelo.connections/all")}));
    QVERIFY(QFile::exists(credentialsPath()));
    QCOMPARE(fileContent(), QJsonObject());
    QCOMPARE(modeOf(credentialsPath()), 0600);
    QCOMPARE(modeOf(folder()), 0700);
    // No temporary file is left beside it.
    QCOMPARE(QDir(folder()).entryList(QDir::Files | QDir::Hidden), QStringList({QStringLiteral("credentials.json")}));

    // The platform reader finds nothing, so the migration succeeds.
    LegacySecretStore::setReaderForTesting({});
    QJsonObject object;
    QVERIFY(KeychainHelper::migrateFromKeychainInto(object));
    QVERIFY(object.isEmpty());
}

void TestCredentialStore::migratesLegacyItems()
{
    m_legacy.items[QStringLiteral("api-key")] = {Status::Success, QByteArray("key-123")};
    m_legacy.items[QStringLiteral("server-url")] = {Status::Success, QByteArray("https://mirelo.example")};
    m_legacy.items[QStringLiteral("all")] = {Status::Success, QByteArray(R"({"c1":"pw1","c2":"pä"})")};

    QCOMPARE(KeychainHelper::apiKey(), QStringLiteral("key-123"));
    QCOMPARE(KeychainHelper::serverURL(), QStringLiteral("https://mirelo.example"));
    QCOMPARE(KeychainHelper::connectionPasswords().value(QStringLiteral("c2")), QStringLiteral("pä"));
    const QJsonObject file = fileContent();
    QCOMPARE(file.value(QStringLiteral("apiKey")).toString(), QStringLiteral("key-123"));
    QCOMPARE(file.value(QStringLiteral("connections")).toObject().value(QStringLiteral("c1")).toString(),
             QStringLiteral("pw1"));

    // Items that are not UTF-8, or a connections text that is not an object, count as absent.
    QJsonObject object;
    m_legacy.items[QStringLiteral("api-key")] = {Status::Success, QByteArray("\xff\xfe")};
    m_legacy.items[QStringLiteral("server-url")] = {Status::Success, QByteArray()};
    m_legacy.items[QStringLiteral("all")] = {Status::Success, QByteArray("[1,2]")};
    QVERIFY(KeychainHelper::migrateFromKeychainInto(object));
    QVERIFY(object.isEmpty());
    m_legacy.items[QStringLiteral("api-key")] = {Status::OtherError, QByteArray("ignored")};
    QVERIFY(KeychainHelper::migrateFromKeychainInto(object));
    QVERIFY(object.isEmpty());
}

void TestCredentialStore::cancelledReadWritesNothing()
{
    m_legacy.items[QStringLiteral("api-key")] = {Status::Success, QByteArray("key-123")};
    m_legacy.items[QStringLiteral("server-url")] = {Status::UserCanceled, std::nullopt};

    QCOMPARE(KeychainHelper::apiKey(), QStringLiteral("key-123"));
    QVERIFY(KeychainHelper::serverURL().isEmpty());
    QVERIFY(!QFile::exists(credentialsPath()));

    // The next launch asks again and, this time allowed, writes the file.
    m_legacy.items[QStringLiteral("server-url")] = {Status::Success, QByteArray("https://m.example")};
    KeychainHelper::reloadForTesting();
    QCOMPARE(KeychainHelper::serverURL(), QStringLiteral("https://m.example"));
    QCOMPARE(fileContent().value(QStringLiteral("serverURL")).toString(), QStringLiteral("https://m.example"));
}

void TestCredentialStore::credentialsRoundTrip()
{
    writeFile(R"({"apiKey":"k","serverURL":"u","connections":{"a":"1"},"extra":{"keep":true}})");
    // A file someone loosened is narrowed again on the next write.
    QFile::setPermissions(credentialsPath(), QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther);

    QVERIFY(KeychainHelper::saveAPIKey(QString(), QStringLiteral("https://s")));
    QVERIFY(KeychainHelper::apiKey().isEmpty());
    QCOMPARE(fileContent().value(QStringLiteral("apiKey")), QJsonValue(QStringLiteral("")));
    QCOMPARE(modeOf(credentialsPath()), 0600);

    KeychainHelper::deleteCredentials();
    QJsonObject file = fileContent();
    QVERIFY(!file.contains(QStringLiteral("apiKey")));
    QVERIFY(!file.contains(QStringLiteral("serverURL")));
    QCOMPARE(file.value(QStringLiteral("connections")).toObject().value(QStringLiteral("a")).toString(),
             QStringLiteral("1"));
    QCOMPARE(file.value(QStringLiteral("extra")).toObject().value(QStringLiteral("keep")), QJsonValue(true));

    QVERIFY(KeychainHelper::saveConnectionPasswords({{QStringLiteral("b"), QStringLiteral("2")}}));
    QCOMPARE(KeychainHelper::connectionPasswords(), (QHash<QString, QString>{{QStringLiteral("b"), QStringLiteral("2")}}));
    file = fileContent();
    QCOMPARE(file.value(QStringLiteral("connections")).toObject(), QJsonObject({{QStringLiteral("b"), QStringLiteral("2")}}));

    // Pretty-printed: one member per line.
    QFile raw(credentialsPath());
    QVERIFY(raw.open(QIODevice::ReadOnly));
    QVERIFY(raw.readAll().count('\n') >= 4);

    // The store is read once: later changes by another process are not seen.
    writeFile(R"({"apiKey":"other"})");
    QVERIFY(KeychainHelper::apiKey().isEmpty());
}

void TestCredentialStore::malformedFiles_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("migrates");
    QTest::newRow("top-level array") << QByteArray("[1,2]") << true;
    QTest::newRow("invalid JSON") << QByteArray("{\"apiKey\":") << true;
    QTest::newRow("bare string") << QByteArray("\"x\"") << true;
    QTest::newRow("connections is an array") << QByteArray(R"({"apiKey":"k","connections":[1]})") << false;
    QTest::newRow("non-string values") << QByteArray(R"({"apiKey":5,"connections":{"a":1,"b":"2"}})") << false;
}

void TestCredentialStore::malformedFiles()
{
    QFETCH(QByteArray, content);
    QFETCH(bool, migrates);
    m_legacy.items[QStringLiteral("api-key")] = {Status::Success, QByteArray("legacy")};
    writeFile(content);

    const QString key = KeychainHelper::apiKey();
    if (migrates) {
        // Treated as no file: the migration's content replaces it.
        QCOMPARE(key, QStringLiteral("legacy"));
        QCOMPARE(fileContent().value(QStringLiteral("apiKey")).toString(), QStringLiteral("legacy"));
    } else {
        QVERIFY(key != QLatin1String("legacy"));
        const QHash<QString, QString> passwords = KeychainHelper::connectionPasswords();
        QVERIFY(!passwords.contains(QStringLiteral("a")));
        // The next write stores an object in place of a wrong connections member.
        KeychainHelper::deleteCredentials();
        QVERIFY(fileContent().value(QStringLiteral("connections")).isObject());
    }
}

void TestCredentialStore::writeFailureKeepsMemoryState()
{
    // A folder where the file should be makes every write fail, even for root.
    QVERIFY(QDir().mkpath(credentialsPath()));
    QVERIFY(KeychainHelper::saveAPIKey(QStringLiteral("new"), QStringLiteral("https://n")));
    QCOMPARE(KeychainHelper::apiKey(), QStringLiteral("new"));
    QVERIFY(KeychainHelper::persist(KeychainHelper::store()).startsWith(QLatin1String("Could not")));
    QCOMPARE(QDir(folder()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             QStringList({QStringLiteral("credentials.json")}));
}

QTEST_GUILESS_MAIN(TestCredentialStore)
#include "tst_credentialstore.moc"
