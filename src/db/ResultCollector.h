#pragma once

#include "db/QueryResult.h"
#include "db/ResultSink.h"

// Builds the QueryResult a statement's stream amounts to: of the outcome's rows, the first
// QueryResult::kMaxKeptRows converted to text and the rest only counted, so that a huge
// answer never sits whole in memory.
class ResultCollector final : public ResultSink
{
public:
    void beginRows(const QStringList& columnNames) override;
    bool row(const RawValue* values) override;
    void command(const QString& affected) override;
    void notice(const QString& text) override;

    // The outcome, its summary made with the statement's duration in seconds.
    QueryResultPtr finish(double seconds);

private:
    std::shared_ptr<QueryResult> m_result = std::make_shared<QueryResult>();
    bool m_command = false; // the outcome is a statement without rows
    QString m_affected;
    QStringList m_notices;
};
