#include "db/ConnectionManager.h"
#include "server/KeychainHelper.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

class TestConnectionManager : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void readingRecords_data();
    void readingRecords();
    void recordForm();
    void noFile();
    void unreadableFiles_data();
    void unreadableFiles();
    void savedFile();
    void olderFileMovesPasswords();
    void activeConnection();
    void duplicateIds();
    void passwordsFollowRecords();
    void idlessRecordKeepsItsNewId();
    void writeFailureKeepsState();

private:
    QString path() const { return m_dir->filePath(QStringLiteral(".mirelo")); }
    QJsonObject fileContent() const;
    void writeFile(const QByteArray& bytes) const;
    static DatabaseConnection record(const QString& id, const QString& name, const QString& password = {});

    std::unique_ptr<QTemporaryDir> m_dir;
};

QJsonObject TestConnectionManager::fileContent() const
{
    QFile file(path());
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QJsonDocument::fromJson(file.readAll()).object();
}

void TestConnectionManager::writeFile(const QByteArray& bytes) const
{
    QFile file(path());
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

DatabaseConnection TestConnectionManager::record(const QString& id, const QString& name, const QString& password)
{
    DatabaseConnection c;
    c.connectionId = id;
    c.name = name;
    c.password = password;
    return c;
}

void TestConnectionManager::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    QFile::remove(KeychainHelper::storeURL());
    KeychainHelper::reloadForTesting();
}

void TestConnectionManager::readingRecords_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<QString>("type");
    QTest::addColumn<qint64>("port");
    QTest::addColumn<bool>("ssl");
    QTest::addColumn<QString>("password");

    QTest::newRow("empty object: defaults") << QByteArray("{}") << "postgresql" << qint64(5432) << false << "";
    QTest::newRow("mysql without port") << QByteArray(R"({"type":"mysql"})") << "mysql" << qint64(3306) << false << "";
    QTest::newRow("mysql with port 0") << QByteArray(R"({"type":"mysql","port":0})") << "mysql" << qint64(3306) << false
                                       << "";
    QTest::newRow("other type, port 0") << QByteArray(R"({"type":"oracle","port":0})") << "oracle" << qint64(5432)
                                        << false << "";
    QTest::newRow("port as digits") << QByteArray(R"({"port":"6543"})") << "postgresql" << qint64(6543) << false << "";
    QTest::newRow("port as other text") << QByteArray(R"({"type":"mysql","port":"x1"})") << "mysql" << qint64(3306)
                                        << false << "";
    QTest::newRow("ssl on") << QByteArray(R"({"ssl":true})") << "postgresql" << qint64(5432) << true << "";
    // "pässword" in UTF-8, Base64.
    QTest::newRow("base64 password") << QByteArray(R"({"password":"cMOkc3N3b3Jk"})") << "postgresql" << qint64(5432)
                                     << false << "pässword";
    QTest::newRow("base64 with a line break")
        << QByteArray(R"({"password":"cMOkc3N3\nb3Jk"})") << "postgresql" << qint64(5432) << false << "";
    QTest::newRow("base64 without padding")
        << QByteArray(R"({"password":"c2VjcmV0MQ"})") << "postgresql" << qint64(5432) << false << "";
    QTest::newRow("base64 of bytes that are not UTF-8")
        << QByteArray(R"({"password":"/w=="})") << "postgresql" << qint64(5432) << false << "";
    QTest::newRow("not base64") << QByteArray(R"({"password":"s3cr3t!"})") << "postgresql" << qint64(5432) << false
                                << "";
}

void TestConnectionManager::readingRecords()
{
    QFETCH(QByteArray, json);
    QFETCH(QString, type);
    QFETCH(qint64, port);
    QFETCH(bool, ssl);
    QFETCH(QString, password);
    const DatabaseConnection c = DatabaseConnection::fromDictionary(QJsonDocument::fromJson(json).object());
    QCOMPARE(c.type, type);
    QCOMPARE(c.port, port);
    QCOMPARE(c.ssl, ssl);
    QCOMPARE(c.password, password);
    QCOMPARE(c.host, QStringLiteral("localhost"));
    QVERIFY(QRegularExpression(QStringLiteral("^[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}$"))
                .match(c.connectionId)
                .hasMatch());
}

void TestConnectionManager::recordForm()
{
    DatabaseConnection c = record(QStringLiteral("A"), QStringLiteral("Prod"), QStringLiteral("secret"));
    c.type = QString();
    c.host = QString();
    const QJsonObject form = c.toDictionary();
    QCOMPARE(form.keys(), (QStringList{"database", "host", "id", "name", "port", "ssl", "type", "username"}));
    QCOMPARE(form.value(QStringLiteral("type")).toString(), QStringLiteral("postgresql"));
    QCOMPARE(form.value(QStringLiteral("host")).toString(), QStringLiteral("localhost"));
    QCOMPARE(form.value(QStringLiteral("database")), QJsonValue(QStringLiteral("")));
    QCOMPARE(DatabaseConnection::defaultPortForType(QStringLiteral("mysql")), 3306);
    QCOMPARE(DatabaseConnection::defaultPortForType(QStringLiteral("MySQL")), 5432);
}

void TestConnectionManager::noFile()
{
    ConnectionManager store(path());
    QVERIFY(store.connections().isEmpty());
    QVERIFY(!store.activeConnectionId());
    QVERIFY(!store.activeConnection());
    QVERIFY(!QFile::exists(path()));
}

void TestConnectionManager::unreadableFiles_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("count");
    QTest::newRow("not json") << QByteArray("{connections: oops") << 0;
    QTest::newRow("array at the top") << QByteArray(R"([{"id":"A"}])") << 0;
    QTest::newRow("connections not an array") << QByteArray(R"({"connections":{"id":"A"}})") << 0;
    QTest::newRow("elements that are not objects")
        << QByteArray(R"({"connections":[1,"x",null,{"id":"A"},[],{"id":"B"}]})") << 2;
}

void TestConnectionManager::unreadableFiles()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, count);
    writeFile(bytes);
    ConnectionManager store(path());
    QCOMPARE(store.connections().size(), count);
    QVERIFY(!store.activeConnectionId());
}

void TestConnectionManager::savedFile()
{
    {
        ConnectionManager store(path());
        store.addConnection(record(QStringLiteral("A"), QStringLiteral("First"), QStringLiteral("pw-a")));
        store.addConnection(record(QStringLiteral("B"), QStringLiteral("Second")));
        store.setActiveConnectionId(QStringLiteral("B"));
    }
    struct stat info = {};
    QCOMPARE(::stat(QFile::encodeName(path()).constData(), &info), 0);
    QCOMPARE(info.st_mode & 07777, mode_t(0600));
    QFile file(path());
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    QVERIFY2(bytes.count('\n') > 10, "not pretty-printed");
    QVERIFY(!bytes.contains("password"));
    QVERIFY(!bytes.contains("pw-a"));
    const QJsonObject root = QJsonDocument::fromJson(bytes).object();
    QCOMPARE(root.value(QStringLiteral("active_connection_id")).toString(), QStringLiteral("B"));
    QCOMPARE(root.value(QStringLiteral("connections")).toArray().size(), 2);

    QCOMPARE(KeychainHelper::connectionPasswords(), (QHash<QString, QString>{{"A", "pw-a"}}));
    ConnectionManager reread(path());
    QCOMPARE(reread.connections().size(), 2);
    QCOMPARE(reread.connections().at(0).name, QStringLiteral("First"));
    QCOMPARE(reread.connections().at(0).password, QStringLiteral("pw-a"));
    QCOMPARE(reread.activeConnection()->name, QStringLiteral("Second"));
}

void TestConnectionManager::olderFileMovesPasswords()
{
    KeychainHelper::saveConnectionPasswords({{"B", "from-store"}});
    writeFile(R"({"connections":[{"id":"A","name":"Old","type":"mysql","port":0,"password":"b2xkLXB3"},
                                 {"id":"B","name":"Kept"}],"active_connection_id":"A"})");
    ConnectionManager store(path());
    QCOMPARE(store.connections().at(0).password, QStringLiteral("old-pw"));
    QCOMPARE(store.connections().at(0).port, 3306);
    QCOMPARE(store.connections().at(1).password, QStringLiteral("from-store"));
    QCOMPARE(KeychainHelper::connectionPasswords(), (QHash<QString, QString>{{"A", "old-pw"}, {"B", "from-store"}}));

    const QJsonArray records = fileContent().value(QStringLiteral("connections")).toArray();
    QCOMPARE(records.size(), 2);
    for (const QJsonValue& r : records)
        QCOMPARE(r.toObject().keys().size(), 8);
    QCOMPARE(records.at(0).toObject().value(QStringLiteral("port")).toInteger(), 3306);
    QCOMPARE(fileContent().value(QStringLiteral("active_connection_id")).toString(), QStringLiteral("A"));
}

void TestConnectionManager::activeConnection()
{
    writeFile(R"({"connections":[{"id":"A"}],"active_connection_id":"gone"})");
    ConnectionManager store(path());
    QCOMPARE(store.activeConnectionId(), QStringLiteral("gone"));
    QVERIFY(!store.activeConnection());

    store.setActiveConnectionId(QStringLiteral("A"));
    QCOMPARE(store.activeConnection()->connectionId, QStringLiteral("A"));
    store.removeConnectionWithId(QStringLiteral("A"));
    QVERIFY(!store.activeConnectionId());
    QVERIFY(fileContent().value(QStringLiteral("active_connection_id")).isNull());

    writeFile(R"({"connections":[],"active_connection_id":""})");
    QVERIFY(!ConnectionManager(path()).activeConnectionId());
}

void TestConnectionManager::duplicateIds()
{
    ConnectionManager store(path());
    store.addConnection(record(QStringLiteral("X"), QStringLiteral("one")));
    store.addConnection(record(QStringLiteral("Y"), QStringLiteral("middle")));
    store.addConnection(record(QStringLiteral("X"), QStringLiteral("two")));
    QCOMPARE(store.connectionWithId(QStringLiteral("X"))->name, QStringLiteral("one"));

    store.updateConnection(record(QStringLiteral("X"), QStringLiteral("changed")));
    QCOMPARE(store.connections().at(0).name, QStringLiteral("changed"));
    QCOMPARE(store.connections().at(2).name, QStringLiteral("two"));

    // An unknown id changes nothing, yet the file is written again.
    QVERIFY(QFile::remove(path()));
    store.updateConnection(record(QStringLiteral("nobody"), QStringLiteral("ghost")));
    QCOMPARE(store.connections().size(), 3);
    QCOMPARE(fileContent().value(QStringLiteral("connections")).toArray().size(), 3);

    store.removeConnectionWithId(QStringLiteral("X"));
    QCOMPARE(store.connections().size(), 1);
    QCOMPARE(store.connections().at(0).name, QStringLiteral("middle"));
}

void TestConnectionManager::passwordsFollowRecords()
{
    ConnectionManager store(path());
    store.addConnection(record(QStringLiteral("A"), QStringLiteral("a"), QStringLiteral("pw")));
    store.addConnection(record(QStringLiteral("B"), QStringLiteral("b"), QStringLiteral("pw-b")));
    store.updateConnection(record(QStringLiteral("A"), QStringLiteral("a")));
    QCOMPARE(KeychainHelper::connectionPasswords(), (QHash<QString, QString>{{"B", "pw-b"}}));
    store.removeConnectionWithId(QStringLiteral("B"));
    QVERIFY(KeychainHelper::connectionPasswords().isEmpty());
}

void TestConnectionManager::idlessRecordKeepsItsNewId()
{
    writeFile(R"({"connections":[{"name":"no id"}]})");
    QString id;
    {
        ConnectionManager store(path());
        id = store.connections().at(0).connectionId;
        QCOMPARE(id.size(), 36);
        store.setActiveConnectionId(id);
    }
    ConnectionManager reread(path());
    QCOMPARE(reread.connections().at(0).connectionId, id);
    QCOMPARE(reread.activeConnection()->name, QStringLiteral("no id"));
}

void TestConnectionManager::writeFailureKeepsState()
{
    ConnectionManager store(m_dir->filePath(QStringLiteral("missing-folder/.mirelo")));
    store.addConnection(record(QStringLiteral("A"), QStringLiteral("kept")));
    QCOMPARE(store.connections().size(), 1);
    QVERIFY(!store.save().isEmpty());
    QVERIFY(!QFile::exists(store.filePath()));
}

QTEST_GUILESS_MAIN(TestConnectionManager)
#include "tst_connectionmanager.moc"
