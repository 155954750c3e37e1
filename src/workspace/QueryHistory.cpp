#include "workspace/QueryHistory.h"

#include "platform/AppPaths.h"
#include "platform/AtomicFile.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>

namespace {

double now()
{
    return double(QDateTime::currentMSecsSinceEpoch()) / 1000.0;
}

QString stringMember(const QJsonObject& object, const QString& key)
{
    const QJsonValue value = object.value(key);
    return value.isString() ? value.toString() : QString();
}

} // namespace

QueryRecord QueryRecord::make(const QString& prompt, const QString& sql)
{
    return {prompt, sql, now()};
}

QJsonObject QueryRecord::toDictionary() const
{
    return {{QStringLiteral("prompt"), prompt}, {QStringLiteral("sql"), sql}, {QStringLiteral("timestamp"), timestamp}};
}

QueryRecord QueryRecord::fromDictionary(const QJsonObject& object)
{
    QueryRecord record;
    record.prompt = stringMember(object, QStringLiteral("prompt"));
    record.sql = stringMember(object, QStringLiteral("sql"));
    const QJsonValue time = object.value(QStringLiteral("timestamp"));
    if (time.isDouble())
        record.timestamp = time.toDouble();
    else if (time.isString())
        record.timestamp = time.toString().trimmed().toDouble(); // 0 when it spells no number
    else if (time.isBool())
        record.timestamp = time.toBool() ? 1 : 0;
    else
        record.timestamp = now();
    return record;
}

QueryHistory& QueryHistory::shared()
{
    static QueryHistory* instance = new QueryHistory(AppPaths::appSupportDir() + QStringLiteral("/query_history.json"));
    return *instance;
}

QueryHistory::QueryHistory(const QString& filePath) : m_filePath(filePath)
{
    load();
}

void QueryHistory::addRecord(const QueryRecord& record)
{
    if (!m_records.isEmpty() && m_records.constFirst().prompt == record.prompt &&
        m_records.constFirst().sql == record.sql) {
        m_records.first().timestamp = record.timestamp;
    } else {
        m_records.prepend(record);
        // Only the single oldest goes, so a longer list loaded from disk keeps its length.
        if (m_records.size() > kLimit)
            m_records.removeLast();
    }
    save();
}

void QueryHistory::clearAll()
{
    m_records.clear();
    save();
}

void QueryHistory::load()
{
    QFile file(m_filePath);
    if (!file.open(QIODevice::ReadOnly))
        return;
    m_records = parse(file.readAll());
}

QString QueryHistory::save() const
{
    const QString dir = QFileInfo(m_filePath).absolutePath();
    // The folder is shared with the credential file, so it is created private.
    if (dir == AppPaths::appSupportDir())
        AppPaths::ensureAppSupportDir(0700);
    else
        QDir().mkpath(dir);
    return AtomicFile::write(m_filePath, serialize(m_records));
}

QList<QueryRecord> QueryHistory::parse(const QByteArray& bytes)
{
    const QJsonDocument document = QJsonDocument::fromJson(bytes);
    QList<QueryRecord> records;
    if (!document.isArray())
        return records;
    const QJsonArray array = document.array();
    records.reserve(array.size());
    for (const QJsonValue& element : array) {
        if (element.isObject())
            records.append(QueryRecord::fromDictionary(element.toObject()));
    }
    return records;
}

QByteArray QueryHistory::serialize(const QList<QueryRecord>& records)
{
    QJsonArray array;
    for (const QueryRecord& record : records)
        array.append(record.toDictionary());
    return QJsonDocument(array).toJson(QJsonDocument::Indented);
}
