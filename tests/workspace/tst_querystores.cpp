#include "platform/AppPaths.h"
#include "stores/QuerySettings.h"
#include "workspace/QueryHistory.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSettings>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeAll(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
}

QByteArray numberedHistory(int n)
{
    QJsonArray array;
    for (int i = 0; i < n; ++i)
        array.append(QueryRecord{u"p%1"_s.arg(i), u"s%1"_s.arg(i), 1000.0 + i}.toDictionary());
    return QJsonDocument(array).toJson();
}

} // namespace

class TestQueryStores : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        QCoreApplication::setOrganizationName(u"Mirelo"_s);
        QCoreApplication::setApplicationName(u"Mirelo"_s);
    }

    void settings()
    {
        const auto parameters = [](bool allow, bool fix, bool isolate, bool single) {
            return QJsonObject({{u"allow_destructive"_s, allow},
                                {u"self_correction"_s, fix},
                                {u"data_isolation"_s, isolate},
                                {u"singular_results"_s, single}});
        };
        QuerySettings& settings = QuerySettings::shared();
        QCOMPARE(settings.requestParameters(), parameters(false, true, false, false));
        // Defaults are never written.
        QVERIFY(QSettings().allKeys().isEmpty());
        settings.setAllowDestructive(true);
        settings.setSelfCorrection(false);
        settings.setDataIsolation(true);
        // What the switches wrote is what the next start reads; a key never stored keeps its default.
        QCOMPARE(QuerySettings::createForTesting()->requestParameters(), parameters(true, false, true, false));
        QSettings().clear();
    }

    void repeatsFoldIntoNewest()
    {
        QFile::remove(path());
        QueryHistory history(path());
        history.addRecord({u"count users"_s, u"SELECT count(*) FROM users"_s, 10});
        history.addRecord({u"count users"_s, u"SELECT count(*) FROM users"_s, 20});
        QCOMPARE(history.count(), 1);
        QCOMPARE(history.records().constFirst().timestamp, 20.0);
        // A case change is a new entry; only the newest is compared, so an older repeat is added again.
        history.addRecord({u"count users"_s, u"SELECT COUNT(*) FROM users"_s, 30});
        history.addRecord({u"count users"_s, u"SELECT count(*) FROM users"_s, 40});
        QCOMPARE(history.count(), 3);

        // What is on disk reads back the same, fractions included.
        history.addRecord(QueryRecord::make(u"é “quoted”"_s, u"SELECT 'ü'"_s));
        QCOMPARE(QueryHistory(path()).records(), history.records());
        // Cleared, the file holds an empty array.
        history.clearAll();
        QCOMPARE(QJsonDocument::fromJson(readAll(path())), QJsonDocument(QJsonArray()));
    }

    // The newest records are kept up to 100; a file that cannot be read counts as empty.
    void limitAndDamagedFiles_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<int>("kept");
        QTest::addColumn<QString>("last");
        QTest::newRow("100 reached by additions") << numberedHistory(99) << 100 << u"p97"_s;
        // A longer file, written by another version, keeps its length.
        QTest::newRow("150 in the file") << numberedHistory(150) << 150 << u"p147"_s;
        QTest::newRow("object") << QByteArray(R"({"prompt":"p","sql":"s"})") << 2 << u"new"_s;
        QTest::newRow("not JSON") << QByteArray("[{\"prompt\":") << 2 << u"new"_s;
    }

    void limitAndDamagedFiles()
    {
        QFETCH(QByteArray, content);
        QFETCH(int, kept);
        QFETCH(QString, last);
        writeAll(path(), content);
        QueryHistory history(path());
        history.addRecord({u"new"_s, u"SELECT 1"_s, 5});
        history.addRecord({u"newer"_s, u"SELECT 2"_s, 6});
        QCOMPARE(history.count(), kept);
        QCOMPARE(history.records().constFirst().prompt, u"newer"_s);
        QCOMPARE(history.records().constLast().prompt, last);
        QCOMPARE(QJsonDocument::fromJson(readAll(path())).array().size(), kept);
    }

    void elementReading()
    {
        const QList<QueryRecord> records = QueryHistory::parse(R"([
            {"prompt": "a", "sql": "s", "timestamp": 1700000000.25},
            42, "text", null, [1],
            {"prompt": "no time"},
            {"sql": "no prompt", "timestamp": "1234.5"},
            {"prompt": 7, "timestamp": "soon"}
        ])");
        QCOMPARE(records.size(), 4);
        QCOMPARE(records[0], (QueryRecord{u"a"_s, u"s"_s, 1700000000.25}));
        // A missing time reads as now.
        QVERIFY(qAbs(records[1].timestamp - QDateTime::currentMSecsSinceEpoch() / 1000.0) < 5);
        QCOMPARE(records[2].timestamp, 1234.5);
        QCOMPARE(records[3], (QueryRecord{QString(), QString(), 0.0}));
    }

private:
    QString path() const { return AppPaths::appSupportDir() + u"/query_history.json"_s; }
};

QTEST_GUILESS_MAIN(TestQueryStores)
#include "tst_querystores.moc"
