#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>

// Mirelo's CSV: a header line of column names, then one line per row, fields separated by
// commas, a NULL as an empty field, UTF-8 without a byte-order mark, every line ending
// with a line feed. Shared by the results grid's export and the whole-result export, so
// that both write the same file for the same rows.
namespace CSVFormat {

// True when a field must be quoted: it holds a comma, a double quote, a line feed or a
// carriage return.
bool needsQuoting(QStringView field);
bool needsQuoting(QByteArrayView field);

// Appends a field as CSV writes it: wrapped in double quotes with inner ones doubled when
// it needs quoting, otherwise unchanged.
void appendField(QString& out, QStringView field);
// The same for a field already in UTF-8.
void appendField(QByteArray& out, QByteArrayView utf8);

} // namespace CSVFormat
