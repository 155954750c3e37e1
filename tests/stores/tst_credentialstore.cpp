#include "platform/AppPaths.h"
#include "stores/KeychainHelper.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QTest>
#include <sys/stat.h>

using namespace Qt::StringLiterals;
using Status = LegacySecretStore::Status;

namespace {

QString folder()
{
    return AppPaths::appSupportDir();
}

QString credentialsPath()
{
    return folder() + u"/credentials.json"_s;
}

int modeOf(const QString& path)
{
    struct stat st
    {
    };
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? int(st.st_mode & 07777) : -1;
}

QJsonObject fileContent()
{
    QFile file(credentialsPath());
    return file.open(QIODevice::ReadOnly) ? QJsonDocument::fromJson(file.readAll()).object() : QJsonObject();
}

void writeFile(const QByteArray& bytes)
{
    QDir().mkpath(folder());
    QFile file(credentialsPath());
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
}

// A scripted legacy item: "" not found, "!cancel" cancelled, "!error" another failure,
// anything else found with those bytes.
LegacySecretStore::Item item(const QByteArray& script)
{
    if (script.isEmpty())
        return {Status::ItemNotFound, std::nullopt};
    if (script == "!cancel")
        return {Status::UserCanceled, std::nullopt};
    if (script == "!error")
        return {Status::OtherError, QByteArray("ignored")};
    return {Status::Success, script};
}

} // namespace

class TestCredentialStore : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup() { LegacySecretStore::setReaderForTesting({}); }
    void firstLaunchWritesPrivateFile();
    void migration_data();
    void migration();
    void credentialsRoundTrip();
    void malformedFiles_data();
    void malformedFiles();
    void writeFailureKeepsMemoryState();

private:
    QMap<QString, QByteArray> m_legacy; // account → item script
    QStringList m_reads;
};

void TestCredentialStore::init()
{
    QDir(folder()).removeRecursively();
    m_legacy.clear();
    m_reads.clear();
    LegacySecretStore::setReaderForTesting([this](const QString& account, const QString& service) {
        m_reads << service + u'/' + account;
        return item(m_legacy.value(account));
    });
    KeychainHelper::reloadForTesting();
}

void TestCredentialStore::firstLaunchWritesPrivateFile()
{
    // A permissive umask must not widen the file or the folder.
    const mode_t old = ::umask(0);
    QVERIFY(KeychainHelper::serverURL().isEmpty());
    ::umask(old);

    QCOMPARE(m_reads, QStringList({u"com.mirelo.app/api-key"_s, u"com.mirelo.app/server-url"_s,
                                   u"com.mirelo.connections/all"_s}));
    QCOMPARE(fileContent(), QJsonObject());
    QCOMPARE(modeOf(credentialsPath()), 0600);
    QCOMPARE(modeOf(folder()), 0700);
    // No temporary file is left beside it.
    QCOMPARE(QDir(folder()).entryList(QDir::Files | QDir::Hidden), QStringList({u"credentials.json"_s}));

    // The platform's own reader finds nothing, so the migration is done.
    LegacySecretStore::setReaderForTesting({});
    QJsonObject object;
    QVERIFY(KeychainHelper::migrateFromKeychainInto(object));
    QVERIFY(object.isEmpty());
}

void TestCredentialStore::migration_data()
{
    QTest::addColumn<QByteArray>("key");
    QTest::addColumn<QByteArray>("url");
    QTest::addColumn<QByteArray>("connections");
    QTest::addColumn<QString>("expectedKey");
    QTest::addColumn<QString>("expectedPassword"); // of connection c1
    QTest::addColumn<bool>("written");

    QTest::newRow("all three") << "key-1"_ba
                               << "https://m"_ba
                               << R"({"c1":"pä"})"_ba << u"key-1"_s << u"pä"_s << true;
    QTest::newRow("not UTF-8, empty, not an object")
        << "\xff\xfe"_ba << QByteArray() << "[1]"_ba << QString() << QString() << true;
    QTest::newRow("another failure counts as done") << "!error"_ba
                                                    << "https://m"_ba << QByteArray() << QString() << QString() << true;
    // What was read is used in this run; nothing is written so the next launch asks again.
    QTest::newRow("user cancelled") << "key-1"_ba
                                    << "!cancel"_ba
                                    << R"({"c1":"x"})"_ba << u"key-1"_s << u"x"_s << false;
}

void TestCredentialStore::migration()
{
    QFETCH(QByteArray, key);
    QFETCH(QByteArray, url);
    QFETCH(QByteArray, connections);
    QFETCH(QString, expectedKey);
    QFETCH(QString, expectedPassword);
    QFETCH(bool, written);
    m_legacy = {{u"api-key"_s, key}, {u"server-url"_s, url}, {u"all"_s, connections}};

    QCOMPARE(KeychainHelper::apiKey(), expectedKey);
    QCOMPARE(KeychainHelper::connectionPasswords().value(u"c1"_s), expectedPassword);
    QCOMPARE(QFile::exists(credentialsPath()), written);
    if (written)
        QCOMPARE(fileContent().value(u"apiKey"_s).toString(), expectedKey);

    m_legacy[u"server-url"_s] = "https://again";
    KeychainHelper::reloadForTesting();
    QCOMPARE(KeychainHelper::serverURL(), written ? QString::fromUtf8(url) : u"https://again"_s);
    QVERIFY(QFile::exists(credentialsPath()));
}

void TestCredentialStore::credentialsRoundTrip()
{
    writeFile(R"({"apiKey":"k","serverURL":"u","connections":{"a":"1"},"extra":{"keep":true}})");
    // A file someone loosened is narrowed again on the next write.
    QFile::setPermissions(credentialsPath(), QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther);

    QVERIFY(KeychainHelper::saveAPIKey(QString(), u"https://s"_s));
    QVERIFY(KeychainHelper::apiKey().isEmpty());
    QCOMPARE(fileContent().value(u"apiKey"_s), QJsonValue(u""_s));
    QCOMPARE(modeOf(credentialsPath()), 0600);

    // Signing out keeps the connection passwords and members we do not know.
    KeychainHelper::deleteCredentials();
    QCOMPARE(fileContent(), QJsonDocument::fromJson(R"({"connections":{"a":"1"},"extra":{"keep":true}})").object());

    QVERIFY(KeychainHelper::saveConnectionPasswords({{u"b"_s, u"2"_s}}));
    QCOMPARE(KeychainHelper::connectionPasswords(), (QHash<QString, QString>{{u"b"_s, u"2"_s}}));
    QCOMPARE(fileContent().value(u"connections"_s).toObject(), QJsonObject({{u"b"_s, u"2"_s}}));

    // The store is read once: later changes by another process are not seen.
    writeFile(R"({"apiKey":"other"})");
    QVERIFY(KeychainHelper::apiKey().isEmpty());
}

void TestCredentialStore::malformedFiles_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("migrates");
    QTest::newRow("top-level array") << "[1,2]"_ba << true;
    QTest::newRow("invalid JSON") << R"({"apiKey":)"_ba << true;
    QTest::newRow("bare string") << R"("x")"_ba << true;
    QTest::newRow("connections is an array") << R"({"apiKey":"k","connections":[1]})"_ba << false;
    QTest::newRow("non-string values") << R"({"apiKey":5,"connections":{"a":1,"b":"2"}})"_ba << false;
}

void TestCredentialStore::malformedFiles()
{
    QFETCH(QByteArray, content);
    QFETCH(bool, migrates);
    m_legacy[u"api-key"_s] = "legacy";
    writeFile(content);

    // Treated as no file, the migration's content replaces it; otherwise wrong members
    // read as absent and the next write puts an object in place of the connections.
    QCOMPARE(KeychainHelper::apiKey() == u"legacy"_s, migrates);
    QVERIFY(!KeychainHelper::connectionPasswords().contains(u"a"_s));
    KeychainHelper::deleteCredentials();
    QVERIFY(fileContent().value(u"connections"_s).isObject());
}

void TestCredentialStore::writeFailureKeepsMemoryState()
{
    // A folder where the file should be makes every write fail, even for root.
    QVERIFY(QDir().mkpath(credentialsPath()));
    QVERIFY(KeychainHelper::saveAPIKey(u"new"_s, u"https://n"_s));
    QCOMPARE(KeychainHelper::apiKey(), u"new"_s);
    QVERIFY(KeychainHelper::persist(KeychainHelper::store()).startsWith(u"Could not"_s));
    QCOMPARE(QDir(folder()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             QStringList({u"credentials.json"_s}));
}

QTEST_GUILESS_MAIN(TestCredentialStore)
#include "tst_credentialstore.moc"
