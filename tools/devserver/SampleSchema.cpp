#include "SampleSchema.h"

namespace SampleSchema {

namespace {

using K = ColumnKind;

QList<Table> makeTables()
{
    const auto s = [](const char* text) { return QString::fromLatin1(text); };
    return {
        {s("users"),
         s("user"),
         s("users"),
         {{s("id"), K::Integer, {}},
          {s("name"), K::Text, {}},
          {s("email"), K::Text, {s("email address"), s("e-mail")}},
          {s("plan"), K::Text, {}},
          {s("country"), K::Text, {}},
          {s("signed_up_at"), K::Timestamp, {s("signed up"), s("signup"), s("sign up date"), s("date")}}},
         s("signed_up_at"),
         {}},
        {s("customers"),
         s("customer"),
         s("customers"),
         {{s("id"), K::Integer, {}},
          {s("user_id"), K::Integer, {s("user")}},
          {s("name"), K::Text, {}},
          {s("email"), K::Text, {s("email address"), s("e-mail")}},
          {s("city"), K::Text, {}},
          {s("country"), K::Text, {}},
          {s("created_at"), K::Timestamp, {s("created"), s("date")}}},
         s("created_at"),
         {}},
        {s("products"),
         s("product"),
         s("products"),
         {{s("id"), K::Integer, {}},
          {s("name"), K::Text, {}},
          {s("category"), K::Text, {}},
          {s("price"), K::Decimal, {s("cost")}},
          {s("stock"), K::Integer, {s("quantity in stock")}}},
         {},
         s("price")},
        {s("orders"),
         s("order"),
         s("orders"),
         {{s("id"), K::Integer, {}},
          {s("customer_id"), K::Integer, {s("customer")}},
          {s("status"), K::Text, {}},
          {s("total"), K::Decimal, {s("amount"), s("value")}},
          {s("ordered_at"), K::Timestamp, {s("ordered"), s("order date"), s("date")}}},
         s("ordered_at"),
         s("total")},
        {s("order_items"),
         s("order_item"),
         s("order items"),
         {{s("id"), K::Integer, {}},
          {s("order_id"), K::Integer, {s("order")}},
          {s("product_id"), K::Integer, {s("product")}},
          {s("quantity"), K::Integer, {s("qty")}},
          {s("unit_price"), K::Decimal, {s("price")}}},
         {},
         s("quantity")},
    };
}

} // namespace

const Column* Table::column(const QString& columnName) const
{
    for (const Column& c : columns) {
        if (c.name == columnName)
            return &c;
    }
    return nullptr;
}

const QList<Table>& tables()
{
    static const QList<Table> all = makeTables();
    return all;
}

const Table* table(const QString& name)
{
    for (const Table& t : tables()) {
        if (t.name == name)
            return &t;
    }
    return nullptr;
}

QString tableList()
{
    QStringList names;
    for (const Table& t : tables())
        names << t.name;
    const QString last = names.takeLast();
    return names.join(QStringLiteral(", ")) + QStringLiteral(" and ") + last;
}

} // namespace SampleSchema
