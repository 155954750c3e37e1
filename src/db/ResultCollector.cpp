#include "db/ResultCollector.h"

#include "db/LibraryText.h"

void ResultCollector::beginRows(const QStringList& columnNames)
{
    m_result = std::make_shared<QueryResult>();
    m_result->columnNames = columnNames;
    m_command = false;
}

bool ResultCollector::row(const RawValue* values)
{
    ++m_result->rowCount;
    if (m_result->rows.size() >= QueryResult::kMaxKeptRows)
        return true;
    const qsizetype columns = m_result->columnNames.size();
    SQLRow row;
    row.reserve(columns);
    for (qsizetype column = 0; column < columns; ++column) {
        const RawValue& value = values[column];
        if (value.data)
            row.emplace_back(LibraryText::decode(value.data, value.length));
        else
            row.emplace_back(std::nullopt);
    }
    m_result->rows.append(std::move(row));
    return true;
}

void ResultCollector::command(const QString& affected)
{
    m_result = std::make_shared<QueryResult>();
    m_command = true;
    m_affected = affected.isEmpty() ? QStringLiteral("0") : affected;
}

void ResultCollector::notice(const QString& text)
{
    m_notices << text;
}

QueryResultPtr ResultCollector::finish(double seconds)
{
    m_result->executionTime = seconds;
    m_result->notices = m_notices;
    m_result->statusMessage = m_command ? QueryResult::affectedSummary(m_affected, seconds)
                                        : QueryResult::rowsSummary(m_result->rowCount, seconds);
    return std::move(m_result);
}
