#include "db/ConnectionManager.h"
#include "stores/KeychainHelper.h"

#include <QFile>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::Literals::StringLiterals;
using Passwords = QHash<QString, QString>;

namespace {

DatabaseConnection record(const QString& id, const QString& name, const QString& password = {})
{
    DatabaseConnection c;
    std::tie(c.connectionId, c.name, c.password) = std::tie(id, name, password);
    return c;
}

// The records' names in order, each with its password after a colon where it has one.
QString names(const ConnectionManager& store)
{
    QStringList result;
    for (const DatabaseConnection& c : store.connections())
        result << c.name + (c.password.isEmpty() ? QString() : u':' + c.password);
    return result.join(u',');
}

} // namespace

class TestConnectionManager : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString path() const { return m_dir.filePath(u".mirelo"_s); }
    QByteArray fileBytes() const
    {
        QFile file(path());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    QJsonObject fileContent() const { return QJsonDocument::fromJson(fileBytes()).object(); }
    void writeFile(const QByteArray& bytes) const
    {
        QFile file(path());
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
    }

private Q_SLOTS:
    void init()
    {
        QFile::remove(path());
        QFile::remove(KeychainHelper::storeURL());
        KeychainHelper::reloadForTesting();
    }

    void readingRecords_data()
    {
        QTest::addColumn<QString>("json");
        QTest::addColumn<QString>("expected"); // type://host:port, then " ssl" and the password where there are
        QTest::newRow("empty object: defaults") << R"({})"
                                                << "postgresql://localhost:5432";
        QTest::newRow("port as digits, ssl") << R"({"port":"6543","ssl":true})"
                                             << "postgresql://localhost:6543 ssl";
        // An older file's passwords (olderFileMovesPasswords reads a good one): strict Base64 of
        // UTF-8, anything else is no password.
        QTest::newRow("base64 with a line break") << R"({"password":"c2VjcmV0\nMQ="})"
                                                  << "postgresql://localhost:5432";
        QTest::newRow("base64 of bytes that are not UTF-8") << R"({"password":"/w=="})"
                                                            << "postgresql://localhost:5432";
    }

    void readingRecords()
    {
        QFETCH(QString, json);
        QFETCH(QString, expected);
        const auto c = DatabaseConnection::fromDictionary(QJsonDocument::fromJson(json.toUtf8()).object());
        QCOMPARE(u"%1://%2:%3"_s.arg(c.type, c.host).arg(c.port) + (c.ssl ? u" ssl"_s : QString()) +
                     (c.password.isEmpty() ? QString() : u' ' + c.password),
                 expected);
        // A record without an id gets a fresh one.
        QVERIFY(QRegularExpression(u"^[0-9A-F]{8}(-[0-9A-F]{4}){3}-[0-9A-F]{12}$"_s).match(c.connectionId).hasMatch());
    }

    void loading_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("count");
        QTest::addColumn<QString>("active"); // empty: none
        QTest::newRow("not json") << QByteArray("{connections: oops") << 0 << "";
        QTest::newRow("elements that are not objects")
            << QByteArray(R"({"connections":[1,"x",null,{"id":"A"},[],{"id":"B"}]})") << 2 << "";
        QTest::newRow("active id of no record")
            << QByteArray(R"({"connections":[{"id":"A"}],"active_connection_id":"B"})") << 1 << "B";
    }

    void loading()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(int, count);
        QFETCH(QString, active);
        writeFile(bytes);
        ConnectionManager store(path());
        QCOMPARE(store.connections().size(), count);
        QCOMPARE(store.activeConnectionId().value_or(QString()), active);
        QVERIFY(!store.activeConnection());
        // Only a change writes the file: loading leaves it as it was.
        QCOMPARE(fileBytes(), bytes);
    }

    void savedFile()
    {
        {
            ConnectionManager store(path());
            store.addConnection(record(u"A"_s, u"First"_s));
            store.addConnection(record(u"B"_s, u"Second"_s, u"pw-b"_s));
            store.setActiveConnectionId(u"B"_s);
        }
        // Readable by the user alone, and never holding a password.
        QCOMPARE(QFile::permissions(path()), QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser);
        QVERIFY2(!fileBytes().contains("password") && !fileBytes().contains("pw-b"), fileBytes().constData());
        // The record as stored: every member but the password, none of them null.
        QCOMPARE(fileContent()[u"connections"_s][0].toObject(),
                 QJsonDocument::fromJson(R"({"id":"A","name":"First","type":"postgresql","host":"localhost",
                                             "port":5432,"database":"","username":"","ssl":false})")
                     .object());
        QCOMPARE(KeychainHelper::connectionPasswords(), (Passwords{{"B", "pw-b"}}));
        ConnectionManager reread(path());
        QCOMPARE(names(reread), u"First,Second:pw-b"_s);
        QCOMPARE(reread.activeConnection()->name, u"Second"_s);

        // Removing the active record leaves none active, and its password goes with it.
        reread.removeConnectionWithId(u"B"_s);
        QVERIFY(!reread.activeConnectionId() && fileContent()[u"active_connection_id"_s].isNull());
        QVERIFY(KeychainHelper::connectionPasswords().isEmpty());
    }

    void olderFileMovesPasswords()
    {
        KeychainHelper::saveConnectionPasswords({{"B", "from-store"}});
        writeFile(R"({"connections":[{"id":"A","name":"Old","type":"mysql","port":0,"password":"cMOkc3N3b3Jk"},
                                     {"id":"B","name":"Kept"},{"name":"no id"}],"active_connection_id":"A"})");
        const ConnectionManager store(path());
        QCOMPARE(names(store), u"Old:pässword,Kept:from-store,no id"_s);
        QCOMPARE(KeychainHelper::connectionPasswords(), (Passwords{{"A", "pässword"}, {"B", "from-store"}}));

        // The file is written again at once: no password, the port filled in, the new id kept.
        QVERIFY(!fileBytes().contains("password"));
        QCOMPARE(fileContent()[u"connections"_s][0][u"port"_s].toInteger(), 3306);
        QCOMPARE(fileContent()[u"active_connection_id"_s].toString(), u"A"_s);
        QCOMPARE(ConnectionManager(path()).connections().at(2).connectionId, store.connections().at(2).connectionId);
    }

    void writeFailureKeepsState()
    {
        ConnectionManager store(m_dir.filePath(u"missing-folder/.mirelo"_s));
        store.addConnection(record(u"A"_s, u"kept"_s));
        QCOMPARE(names(store), u"kept"_s);
        QVERIFY(!store.save().isEmpty() && !QFile::exists(store.filePath()));
    }
};

QTEST_GUILESS_MAIN(TestConnectionManager)
#include "tst_connectionmanager.moc"
