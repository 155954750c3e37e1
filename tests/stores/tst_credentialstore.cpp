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

int modeOf(const QString& path)
{
    struct stat st = {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? int(st.st_mode & 07777) : -1;
}

QJsonObject fileContent()
{
    QFile file(KeychainHelper::storeURL());
    return file.open(QIODevice::ReadOnly) ? QJsonDocument::fromJson(file.readAll()).object() : QJsonObject();
}

void writeFile(const QByteArray& bytes)
{
    QFile file(KeychainHelper::storeURL());
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
}

} // namespace

class TestCredentialStore : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup() { LegacySecretStore::setReaderForTesting({}); }
    void migration_data();
    void migration();
    void credentialsRoundTrip();
    void writeFailureKeepsMemoryState();

private:
    // The legacy items by account: missing is not found, "!cancel" a cancelled read,
    // anything else found with those bytes.
    QMap<QString, QByteArray> m_legacy;
};

void TestCredentialStore::init()
{
    QDir(AppPaths::appSupportDir()).removeRecursively();
    m_legacy.clear();
    LegacySecretStore::setReaderForTesting([this](const QString& account, const QString&) {
        const QByteArray script = m_legacy.value(account);
        const Status status = script.isEmpty()      ? Status::ItemNotFound
                              : script == "!cancel" ? Status::UserCanceled
                                                    : Status::Success;
        return LegacySecretStore::Item{status, script};
    });
    KeychainHelper::reloadForTesting();
}

void TestCredentialStore::migration_data()
{
    QTest::addColumn<QByteArray>("file"); // the credential file's content, empty for none
    QTest::addColumn<QByteArray>("url");  // the legacy item
    QTest::addColumn<QString>("key");
    QTest::addColumn<bool>("written");
    QTest::newRow("all three") << QByteArray() << "https://m"_ba << u"key-1"_s << true;
    // What was read is used in this run; nothing is written so the next launch asks again.
    QTest::newRow("user cancelled") << QByteArray() << "!cancel"_ba << u"key-1"_s << false;
    QTest::newRow("invalid JSON is no file") << R"({"apiKey":)"_ba
                                             << "https://m"_ba << u"key-1"_s << true;
    // Members of the wrong type read as absent.
    QTest::newRow("wrong types") << R"({"apiKey":5,"connections":[{"c1":"x"}]})"_ba
                                 << "https://m"_ba << QString() << false;
}

void TestCredentialStore::migration()
{
    QFETCH(QByteArray, file);
    QFETCH(QByteArray, url);
    QFETCH(QString, key);
    QFETCH(bool, written);
    if (!file.isEmpty())
        writeFile(file);
    m_legacy = {{u"api-key"_s, "key-1"}, {u"server-url"_s, url}, {u"all"_s, R"({"c1":"pä","c2":5})"}};
    // A permissive umask must not widen the file or the folder.
    const mode_t old = ::umask(0);
    QCOMPARE(KeychainHelper::apiKey(), key);
    ::umask(old);
    // A file the test wrote under the usual umask is narrowed too.
    if (written) {
        QCOMPARE(modeOf(KeychainHelper::storeURL()), 0600);
        QCOMPARE(modeOf(AppPaths::appSupportDir()), 0700);
    }
    QCOMPARE(KeychainHelper::connectionPasswords().value(u"c1"_s), key.isEmpty() ? QString() : u"pä"_s);
    QVERIFY(!KeychainHelper::connectionPasswords().contains(u"c2"_s));
    QCOMPARE(fileContent().value(u"apiKey"_s).toString(), written ? key : QString());

    m_legacy[u"server-url"_s] = "https://again";
    KeychainHelper::reloadForTesting();
    QCOMPARE(KeychainHelper::serverURL() == u"https://again"_s, !written && file.isEmpty());
    // The next write puts an object in place of wrong connections.
    KeychainHelper::deleteCredentials();
    QVERIFY(fileContent().value(u"connections"_s).isObject());
}

void TestCredentialStore::credentialsRoundTrip()
{
    writeFile(R"({"apiKey":"k","serverURL":"u","connections":{"a":"1"},"extra":{"keep":true}})");
    // Signing out keeps the connection passwords and members we do not know.
    KeychainHelper::deleteCredentials();
    QCOMPARE(fileContent(), QJsonDocument::fromJson(R"({"connections":{"a":"1"},"extra":{"keep":true}})").object());
    QVERIFY(KeychainHelper::saveConnectionPasswords({{u"b"_s, u"2"_s}}));
    QCOMPARE(fileContent().value(u"connections"_s).toObject(), QJsonObject({{u"b"_s, u"2"_s}}));
}

void TestCredentialStore::writeFailureKeepsMemoryState()
{
    // A folder where the file should be makes every write fail, even for root.
    QVERIFY(QDir().mkpath(KeychainHelper::storeURL()));
    QVERIFY(KeychainHelper::saveAPIKey(u"new"_s, u"https://n"_s));
    QCOMPARE(KeychainHelper::apiKey(), u"new"_s);
    QVERIFY(KeychainHelper::persist(KeychainHelper::store()).startsWith(u"Could not"_s));
    QCOMPARE(QDir(AppPaths::appSupportDir()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             QStringList({u"credentials.json"_s}));
}

QTEST_GUILESS_MAIN(TestCredentialStore)
#include "tst_credentialstore.moc"
