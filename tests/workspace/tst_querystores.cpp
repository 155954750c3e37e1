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

double now()
{
    return QDateTime::currentMSecsSinceEpoch() / 1000.0;
}

} // namespace

class TestQueryStores : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void settings();
    void settingsReadAtCreation_data();
    void settingsReadAtCreation();
    void repeatsFoldIntoNewest();
    void limitByAdditions();
    void longFileKeepsItsLength();
    void malformedFiles_data();
    void malformedFiles();
    void elementReading();
    void clearAllWritesEmptyArray();

private:
    QString path() const { return AppPaths::appSupportDir() + u"/query_history.json"_s; }
};

void TestQueryStores::settings()
{
    QuerySettings& settings = QuerySettings::shared();
    const QJsonObject fresh = settings.requestParameters();
    QCOMPARE(fresh, QJsonObject({{u"allow_destructive"_s, false},
                                 {u"self_correction"_s, true},
                                 {u"data_isolation"_s, false},
                                 {u"singular_results"_s, false}}));
    // Defaults are never written.
    QVERIFY(QSettings().allKeys().isEmpty());

    settings.setAllowDestructive(true);
    settings.setSelfCorrection(false);
    settings.setDataIsolation(true);
    settings.setSingularResults(true);
    QSettings stored;
    QCOMPARE(stored.value(u"qs.allow_destructive"_s).toBool(), true);
    QCOMPARE(stored.value(u"qs.self_correction"_s).toBool(), false);
    QCOMPARE(stored.value(u"qs.data_isolation"_s).toBool(), true);
    QCOMPARE(stored.value(u"qs.singular_results"_s).toBool(), true);
    QCOMPARE(settings.requestParameters().value(u"self_correction"_s), QJsonValue(false));
    QCOMPARE(settings.requestParameters().value(u"singular_results"_s), QJsonValue(true));
    // What the switches wrote is what the next start reads.
    QCOMPARE(QuerySettings::createForTesting()->requestParameters(), settings.requestParameters());
}

void TestQueryStores::settingsReadAtCreation_data()
{
    QTest::addColumn<QVariantMap>("stored");
    QTest::addColumn<QJsonObject>("sent");
    const auto sent = [](bool allow, bool correct, bool isolate, bool single) {
        return QJsonObject({{u"allow_destructive"_s, allow},
                            {u"self_correction"_s, correct},
                            {u"data_isolation"_s, isolate},
                            {u"singular_results"_s, single}});
    };
    QTest::newRow("all changed") << QVariantMap{{u"qs.allow_destructive"_s, true},
                                                {u"qs.self_correction"_s, false},
                                                {u"qs.data_isolation"_s, true},
                                                {u"qs.singular_results"_s, true}}
                                 << sent(true, false, true, true);
    // Keys never stored keep their defaults.
    QTest::newRow("self-correction off") << QVariantMap{{u"qs.self_correction"_s, false}}
                                         << sent(false, false, false, false);
    QTest::newRow("destructive on") << QVariantMap{{u"qs.allow_destructive"_s, true}} << sent(true, true, false, false);
    QTest::newRow("isolation on") << QVariantMap{{u"qs.data_isolation"_s, true}} << sent(false, true, true, false);
    QTest::newRow("single results on") << QVariantMap{{u"qs.singular_results"_s, true}}
                                       << sent(false, true, false, true);
    QTest::newRow("stored defaults") << QVariantMap{{u"qs.allow_destructive"_s, false}, {u"qs.self_correction"_s, true}}
                                     << sent(false, true, false, false);
}

void TestQueryStores::settingsReadAtCreation()
{
    QFETCH(QVariantMap, stored);
    QFETCH(QJsonObject, sent);
    {
        QSettings settings;
        settings.clear();
        for (auto it = stored.cbegin(); it != stored.cend(); ++it)
            settings.setValue(it.key(), it.value());
    }
    const std::unique_ptr<QuerySettings> settings = QuerySettings::createForTesting();
    QCOMPARE(settings->requestParameters(), sent);
    QCOMPARE(settings->allowDestructive(), sent.value(u"allow_destructive"_s).toBool());
    QCOMPARE(settings->selfCorrection(), sent.value(u"self_correction"_s).toBool());
    QCOMPARE(settings->dataIsolation(), sent.value(u"data_isolation"_s).toBool());
    QCOMPARE(settings->singularResults(), sent.value(u"singular_results"_s).toBool());
    QSettings().clear();
}

void TestQueryStores::repeatsFoldIntoNewest()
{
    QFile::remove(path());
    QueryHistory history(path());
    history.addRecord({u"count users"_s, u"SELECT count(*) FROM users"_s, 10});
    history.addRecord({u"count users"_s, u"SELECT count(*) FROM users"_s, 20});
    QCOMPARE(history.count(), 1);
    QCOMPARE(history.records().constFirst().timestamp, 20.0);

    // A different answer, or a case change, is a new entry in front.
    history.addRecord({u"count users"_s, u"SELECT COUNT(*) FROM users"_s, 30});
    QCOMPARE(history.count(), 2);
    QCOMPARE(history.records().constFirst().sql, u"SELECT COUNT(*) FROM users"_s);

    // Only the newest is compared: an older repeat is added again.
    history.addRecord({u"count users"_s, u"SELECT count(*) FROM users"_s, 40});
    QCOMPARE(history.count(), 3);

    // What is on disk reads back the same, fractions included.
    history.addRecord(QueryRecord::make(u"é “quoted”"_s, u"SELECT 'ü'"_s));
    QVERIFY(qAbs(history.records().constFirst().timestamp - now()) < 5);
    QCOMPARE(QueryHistory(path()).records(), history.records());
    const QByteArray bytes = readAll(path());
    QVERIFY(bytes.startsWith("[\n    {")); // pretty-printed
}

void TestQueryStores::limitByAdditions()
{
    QFile::remove(path());
    QueryHistory history(path());
    for (int i = 0; i < 105; ++i)
        history.addRecord({u"p%1"_s.arg(i), u"s"_s, double(i)});
    QCOMPARE(history.count(), 100);
    QCOMPARE(history.records().constFirst().prompt, u"p104"_s);
    QCOMPARE(history.records().constLast().prompt, u"p5"_s);
    QCOMPARE(QJsonDocument::fromJson(readAll(path())).array().size(), 100);
}

void TestQueryStores::longFileKeepsItsLength()
{
    writeAll(path(), numberedHistory(150));
    QueryHistory history(path());
    QCOMPARE(history.count(), 150);
    history.addRecord({u"new"_s, u"SELECT 1"_s, 5});
    QCOMPARE(history.count(), 150);
    QCOMPARE(history.records().constFirst().prompt, u"new"_s);
    QCOMPARE(history.records().constLast().prompt, u"p148"_s);
    QCOMPARE(QJsonDocument::fromJson(readAll(path())).array().size(), 150);
}

void TestQueryStores::malformedFiles_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::newRow("object") << QByteArray(R"({"prompt":"p","sql":"s"})");
    QTest::newRow("not JSON") << QByteArray("[{\"prompt\":");
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("binary") << QByteArray("\x00\xff\x10", 3);
}

void TestQueryStores::malformedFiles()
{
    QFETCH(QByteArray, content);
    writeAll(path(), content);
    QueryHistory history(path());
    QCOMPARE(history.count(), 0);
    history.addRecord({u"p"_s, u"s"_s, 1});
    QCOMPARE(QJsonDocument::fromJson(readAll(path())).array().size(), 1);
}

void TestQueryStores::elementReading()
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
    QCOMPARE(records[1].sql, QString());
    QVERIFY(qAbs(records[1].timestamp - now()) < 5); // a missing time reads as now
    QCOMPARE(records[2].prompt, QString());
    QCOMPARE(records[2].timestamp, 1234.5);
    QCOMPARE(records[3].prompt, QString());
    QCOMPARE(records[3].timestamp, 0.0);
}

void TestQueryStores::clearAllWritesEmptyArray()
{
    writeAll(path(), numberedHistory(3));
    QueryHistory history(path());
    history.clearAll();
    QCOMPARE(history.count(), 0);
    QVERIFY(QFile::exists(path()));
    QCOMPARE(QJsonDocument::fromJson(readAll(path())), QJsonDocument(QJsonArray()));
    QVERIFY(QJsonDocument::fromJson(readAll(path())).isArray());
}

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setOrganizationName(u"Mirelo"_s);
    QCoreApplication::setApplicationName(u"Mirelo"_s);
    TestQueryStores test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_querystores.moc"
