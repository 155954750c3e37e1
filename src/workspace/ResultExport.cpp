#include "workspace/ResultExport.h"

#include "db/CSVFormat.h"
#include "platform/AtomicFile.h"

#include <algorithm>

QString ResultExport::tabSeparatedRows(const QueryResult& result, QList<qsizetype> rows)
{
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());

    QString text;
    bool first = true;
    for (const qsizetype index : rows) {
        if (index < 0 || index >= result.rows.size())
            continue;
        if (!first)
            text += QLatin1Char('\n');
        first = false;
        const SQLRow& row = result.rows[index];
        for (qsizetype column = 0; column < result.columnNames.size(); ++column) {
            if (column > 0)
                text += QLatin1Char('\t');
            if (column < row.size() && row[column])
                text += *row[column];
        }
    }
    return text;
}

QString ResultExport::csvField(const QString& field)
{
    QString out;
    CSVFormat::appendField(out, field);
    return out;
}

QByteArray ResultExport::csv(const QueryResult& result)
{
    QString text;
    // A guess at the size that saves most of the re-allocations on large results.
    text.reserve((result.rows.size() + 1) * std::max<qsizetype>(1, result.columnNames.size()) * 12);

    for (qsizetype i = 0; i < result.columnNames.size(); ++i) {
        if (i > 0)
            text += QLatin1Char(',');
        CSVFormat::appendField(text, result.columnNames[i]);
    }
    text += QLatin1Char('\n');
    for (const SQLRow& row : result.rows) {
        for (qsizetype i = 0; i < row.size(); ++i) {
            if (i > 0)
                text += QLatin1Char(',');
            if (row[i])
                CSVFormat::appendField(text, *row[i]);
        }
        text += QLatin1Char('\n');
    }
    return text.toUtf8();
}

QString ResultExport::writeCSV(const QueryResult& result, const QString& path)
{
    return AtomicFile::write(path, csv(result));
}
