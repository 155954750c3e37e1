#pragma once

#include <QList>
#include <QString>
#include <QStringList>

// The demo shop of tools/sampledata as the demo server knows it: the tables it may name
// in generated SQL and the kind of every column, so that values are written as literals
// of the right type.
namespace SampleSchema {

enum class ColumnKind { Integer, Decimal, Text, Timestamp };

struct Column
{
    QString name;
    ColumnKind kind;
    QStringList aliases; // other words a prompt may use, lower case, spaces between words
};

struct Table
{
    QString name;     // "order_items"
    QString singular; // "order_item"
    QString label;    // "order items", as a sentence names it
    QList<Column> columns;
    QString timeColumn; // what "recent" and "this month" refer to; empty when none
    QString rankColumn; // what "top N" ranks by when the prompt does not say; empty when none

    const Column* column(const QString& columnName) const;
    bool hasColumn(const QString& columnName) const { return column(columnName) != nullptr; }
};

// users, customers, products, orders, order_items, in that order.
const QList<Table>& tables();
// The table with exactly this name.
const Table* table(const QString& name);
// "users, customers, products, orders and order_items"
QString tableList();

} // namespace SampleSchema
