#pragma once

#include "db/QueryResult.h"

#include <QByteArray>
#include <QList>
#include <QString>

// The text forms of a result that leave the grid: tab-separated rows for the clipboard and
// CSV for a file.
namespace ResultExport {

// The given rows in ascending order (each once), one line each, with a tab between
// the values of every column; NULL and missing values are empty. Values go as they
// are, with no quoting; no header and no line feed after the last line.
QString tabSeparatedRows(const QueryResult& result, QList<qsizetype> rows);

// A field as CSV writes it: wrapped in double quotes, inner ones doubled, when it
// holds a comma, double quote, line feed or carriage return; otherwise unchanged.
QString csvField(const QString& field);

// A header line of column names, then every kept row, each entry in order, NULL as an
// empty field; every line ends with a line feed. UTF-8 without a byte-order mark.
QByteArray csv(const QueryResult& result);

// Writes csv(result) to path atomically; returns an empty string on success, else a
// sentence saying what failed.
QString writeCSV(const QueryResult& result, const QString& path);

} // namespace ResultExport
