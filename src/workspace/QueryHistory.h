#pragma once

#include <QJsonObject>
#include <QList>
#include <QString>

// One generated statement with the prompt that produced it.
struct QueryRecord
{
    QString prompt;
    QString sql;
    double timestamp = 0; // seconds since 1970-01-01 UTC, with fraction

    // A record stamped with the current time.
    static QueryRecord make(const QString& prompt, const QString& sql);

    QJsonObject toDictionary() const;
    static QueryRecord fromDictionary(const QJsonObject& object);

    bool operator==(const QueryRecord&) const = default;
};

// The most recent generated queries, newest first, in query_history.json.
class QueryHistory final
{
    Q_DISABLE_COPY_MOVE(QueryHistory)

public:
    static constexpr qsizetype kLimit = 100;

    static QueryHistory& shared();
    // A history over the given file, loaded at once.
    explicit QueryHistory(const QString& filePath);

    QList<QueryRecord> records() const { return m_records; }
    qsizetype count() const { return m_records.size(); }

    // Repeating the newest prompt and SQL only refreshes its time; anything else goes in
    // front, and a list that grows past the limit loses its oldest record.
    void addRecord(const QueryRecord& record);
    void clearAll();

    QString historyFileURL() const { return m_filePath; }
    void load();
    // Writes the whole list; returns an empty string or a sentence saying what failed.
    QString save() const;

    // The file's records, skipping elements that are not objects; empty for anything
    // that is not a JSON array.
    static QList<QueryRecord> parse(const QByteArray& bytes);
    static QByteArray serialize(const QList<QueryRecord>& records);

private:
    QString m_filePath;
    QList<QueryRecord> m_records;
};
