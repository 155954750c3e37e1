#include "devserver/PromptMatcher.h"

#include <QRegularExpression>
#include <QTest>

using namespace Qt::StringLiterals;

Q_DECLARE_METATYPE(SqlDialect)

namespace {

// "writes,fix-off,mine,single" → settings; the client's defaults otherwise.
GenerationSettings settingsFrom(const QString& flags)
{
    GenerationSettings s;
    const QStringList list = flags.split(u',', Qt::SkipEmptyParts);
    s.allowDestructive = list.contains(u"writes"_s);
    s.selfCorrection = !list.contains(u"fix-off"_s);
    s.dataIsolation = list.contains(u"mine"_s);
    s.singularResults = list.contains(u"single"_s);
    return s;
}

// An error the user reads: one or more sentences, each starting with a capital or a quote.
bool isSentence(const QString& text)
{
    static const QRegularExpression shape(u"^[A-Z“].*[.”]$"_s, QRegularExpression::DotMatchesEverythingOption);
    return shape.match(text).hasMatch();
}

} // namespace

class TestPromptMatcher : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void generate_data();
    void generate();
    void examplesUnderEverySetting_data();
    void examplesUnderEverySetting();
};

void TestPromptMatcher::generate_data()
{
    QTest::addColumn<SqlDialect>("dialect");
    QTest::addColumn<QString>("flags");
    QTest::addColumn<QString>("prompt");
    QTest::addColumn<QString>("errorType"); // empty for SQL
    QTest::addColumn<QStringList>("contains");
    QTest::addColumn<QStringList>("lacks");

    const auto pg = SqlDialect::PostgreSQL;
    const auto my = SqlDialect::MySQL;
    const QString ok;

    // The examples, with each dialect's own date arithmetic.
    QTest::newRow("recent orders joins the customer's name")
        << pg << u""_s << u"Show the 10 most recent orders"_s << ok
        << QStringList{u"JOIN customers c ON c.id = o.customer_id"_s, u"ORDER BY o.ordered_at DESC"_s, u"LIMIT 10"_s}
        << QStringList{u"WHERE"_s};
    QTest::newRow("month start, PostgreSQL")
        << pg << u""_s << u"Count users who signed up this month"_s << ok
        << QStringList{u"COUNT(*)"_s, u"signed_up_at >= date_trunc('month', LOCALTIMESTAMP)"_s}
        << QStringList{u"DAYOFMONTH"_s};
    QTest::newRow("month start, MariaDB")
        << my << u""_s << u"Count users who signed up this month"_s << ok
        << QStringList{u"CURRENT_DATE - INTERVAL (DAYOFMONTH(CURRENT_DATE) - 1) DAY"_s}
        << QStringList{u"date_trunc"_s, u"LOCALTIMESTAMP"_s};
    QTest::newRow("90 days, PostgreSQL") << pg << u""_s << u"Customers with no orders in 90 days"_s << ok
                                         << QStringList{u"NOT EXISTS"_s, u"LOCALTIMESTAMP - INTERVAL '90 days'"_s}
                                         << QStringList{};
    QTest::newRow("90 days, MariaDB") << my << u""_s << u"Customers with no orders in 90 days"_s << ok
                                      << QStringList{u"NOW() - INTERVAL 90 DAY"_s} << QStringList{u"'90 days'"_s};
    QTest::newRow("revenue, single table")
        << pg << u"single"_s << u"Top 5 products by total revenue"_s << ok
        << QStringList{u"FROM order_items"_s, u"LIMIT 5"_s} << QStringList{u"JOIN"_s};
    QTest::newRow("recent orders, single table")
        << my << u"single"_s << u"show the 3 latest orders"_s << ok << QStringList{u"FROM orders"_s, u"LIMIT 3"_s}
        << QStringList{u"JOIN"_s};
    QTest::newRow("recent orders, only mine")
        << pg << u"mine"_s << u"Show the 10 most recent orders"_s << ok
        << QStringList{u"WHERE o.customer_id IN (SELECT id FROM customers WHERE user_id = 7)"_s} << QStringList{};
    QTest::newRow("the count of users is mine too") << pg << u"mine"_s << u"how many users joined this week"_s << ok
                                                    << QStringList{u"AND id = 7"_s} << QStringList{};
    QTest::newRow("the catalogue is everybody's")
        << pg << u"mine"_s << u"list products"_s << ok << QStringList{} << QStringList{u"WHERE"_s};

    // Plain patterns.
    QTest::newRow("filter by text ignores case in PostgreSQL")
        << pg << u""_s << u"List customers where city is Berlin."_s << ok
        << QStringList{u"FROM customers"_s, u"WHERE lower(city) = 'berlin'"_s} << QStringList{};
    QTest::newRow("MariaDB's collation ignores case already")
        << my << u""_s << u"customers whose city is Berlin"_s << ok << QStringList{u"WHERE city = 'Berlin'"_s}
        << QStringList{u"lower("_s};
    QTest::newRow("in means the city") << pg << u""_s << u"customers in Lisbon"_s << ok
                                       << QStringList{u"lower(city) = 'lisbon'"_s} << QStringList{};
    QTest::newRow("two conditions") << my << u""_s << u"orders with status shipped and total over 500"_s << ok
                                    << QStringList{u"WHERE status = 'shipped' AND total > 500"_s} << QStringList{};
    QTest::newRow("null") << pg << u""_s << u"customers where user id is null"_s << ok
                          << QStringList{u"user_id IS NULL"_s} << QStringList{};
    QTest::newRow("count, politely, two-word table")
        << pg << u""_s << u"Please count order items?"_s << ok
        << QStringList{u"SELECT COUNT(*)"_s, u"FROM order_items"_s} << QStringList{};
    QTest::newRow("top N by a column") << my << u""_s << u"top 3 products by stock"_s << ok
                                       << QStringList{u"ORDER BY stock DESC"_s, u"LIMIT 3"_s} << QStringList{};
    QTest::newRow("top customers by revenue") << pg << u""_s << u"top 5 customers by revenue"_s << ok
                                              << QStringList{u"SUM(o.total)"_s, u"LIMIT 5"_s} << QStringList{};
    QTest::newRow("misspelt table, corrected")
        << pg << u""_s << u"show custmers in Oslo"_s << ok << QStringList{u"FROM customers"_s} << QStringList{};
    QTest::newRow("misspelt column, corrected") << my << u""_s << u"customers where cuntry is Spain"_s << ok
                                                << QStringList{u"country = 'Spain'"_s} << QStringList{};

    // Quotes and backslashes stay inside the literal.
    QTest::newRow("quote, PostgreSQL") << pg << u""_s << u"customers where name is O'Brien"_s << ok
                                       << QStringList{u"lower(name) = 'o''brien'"_s} << QStringList{};
    QTest::newRow("quote after backslash, MariaDB")
        << my << u""_s << uR"(customers where name is a\' OR 1=1 -- )"_s << ok
        << QStringList{uR"(name = 'a\\'' OR 1=1 --')"_s} << QStringList{};
    QTest::newRow("backslash, PostgreSQL") << pg << u""_s << uR"(users where plan is \x)"_s << ok
                                           << QStringList{uR"(lower(plan) = '\x')"_s} << QStringList{};

    // Writes.
    QTest::newRow("delete without writes") << pg << u""_s << u"delete orders where status is cancelled"_s
                                           << u"destructive_not_allowed"_s << QStringList{} << QStringList{};
    QTest::newRow("update without writes") << pg << u""_s << u"update products set price to 5 where id is 1"_s
                                           << u"destructive_not_allowed"_s << QStringList{} << QStringList{};
    QTest::newRow("insert without writes") << my << u""_s << u"add a product with name Cup"_s
                                           << u"destructive_not_allowed"_s << QStringList{} << QStringList{};
    QTest::newRow("delete with writes") << pg << u"writes"_s << u"Delete orders where status is cancelled"_s << ok
                                        << QStringList{u"DELETE FROM orders\nWHERE lower(status) = 'cancelled'"_s}
                                        << QStringList{};
    QTest::newRow("delete only mine") << my << u"writes,mine"_s << u"delete all orders"_s << ok
                                      << QStringList{u"DELETE FROM orders\nWHERE customer_id IN"_s} << QStringList{};
    QTest::newRow("update with writes") << pg << u"writes"_s << u"update products set price to 9.50 where id is 3"_s
                                        << ok << QStringList{u"UPDATE products\nSET price = 9.50\nWHERE id = 3"_s}
                                        << QStringList{};
    QTest::newRow("set … of … to") << my << u"writes"_s << u"set the status of orders to shipped where id is 12"_s << ok
                                   << QStringList{u"UPDATE orders\nSET status = 'shipped'\nWHERE id = 12"_s}
                                   << QStringList{};
    QTest::newRow("insert with writes")
        << pg << u"writes"_s << u"add a product with name 'Tea, Cup', category Kitchen, price 12.50 and stock 5"_s << ok
        << QStringList{u"INSERT INTO products (name, category, price, stock)\nVALUES ('Tea, Cup', 'Kitchen', 12.50, 5)"_s}
        << QStringList{};
    QTest::newRow("insert, two-word column")
        << my << u"writes"_s << u"insert an order item with order 1, product 2, unit price 3.5"_s << ok
        << QStringList{u"(order_id, product_id, unit_price)"_s} << QStringList{};
    QTest::newRow("schema changes never")
        << pg << u"writes"_s << u"drop table users"_s << u"unsupported_prompt"_s << QStringList{} << QStringList{};

    // Refusals.
    QTest::newRow("empty") << pg << u""_s << u"  ?  "_s << u"invalid_request"_s << QStringList{} << QStringList{};
    QTest::newRow("not understood") << pg << u""_s << u"what is the meaning of life"_s << u"unsupported_prompt"_s
                                    << QStringList{} << QStringList{};
    QTest::newRow("a lone unknown word") << pg << u""_s << u"hello"_s << u"unsupported_prompt"_s << QStringList{}
                                         << QStringList{};
    QTest::newRow("unknown table") << pg << u""_s << u"show invoices"_s << u"unknown_table"_s << QStringList{}
                                   << QStringList{};
    QTest::newRow("misspelt table without auto-fix")
        << pg << u"fix-off"_s << u"show custmers"_s << u"unknown_table"_s << QStringList{} << QStringList{};
    QTest::newRow("misspelt column without auto-fix") << my << u"fix-off"_s << u"customers where citty is Oslo"_s
                                                      << u"unknown_column"_s << QStringList{} << QStringList{};
    QTest::newRow("text for a number") << pg << u""_s << u"products where price is cheap"_s << u"invalid_value"_s
                                       << QStringList{} << QStringList{};
    QTest::newRow("not a date") << pg << u""_s << u"orders where ordered at is yesterday"_s << u"invalid_value"_s
                                << QStringList{} << QStringList{};
    QTest::newRow("no city column") << pg << u""_s << u"products in Berlin"_s << u"unsupported_prompt"_s
                                    << QStringList{} << QStringList{};
    QTest::newRow("zero rows") << pg << u""_s << u"top 0 products"_s << u"invalid_value"_s << QStringList{}
                               << QStringList{};
    QTest::newRow("no ranking column") << pg << u""_s << u"top 3 customers"_s << u"unsupported_prompt"_s
                                       << QStringList{} << QStringList{};
    QTest::newRow("no dates in products")
        << pg << u""_s << u"the 5 most recent products"_s << u"unsupported_prompt"_s << QStringList{} << QStringList{};
    QTest::newRow("control character") << pg << u""_s << u"customers where name is a\u0001b"_s << u"invalid_value"_s
                                       << QStringList{} << QStringList{};
}

void TestPromptMatcher::generate()
{
    QFETCH(SqlDialect, dialect);
    QFETCH(QString, flags);
    QFETCH(QString, prompt);
    QFETCH(QString, errorType);
    QFETCH(QStringList, contains);
    QFETCH(QStringList, lacks);

    const Generation g = PromptMatcher(dialect, 7).generate(prompt, settingsFrom(flags));
    QVERIFY(!g.outcome.isEmpty());
    if (!errorType.isEmpty()) {
        QVERIFY2(!g.succeeded(), qPrintable(g.sql));
        QCOMPARE(g.errorType, errorType);
        QVERIFY2(isSentence(g.error), qPrintable(g.error));
        QVERIFY(g.sql.isEmpty());
        return;
    }
    QVERIFY2(g.succeeded(), qPrintable(g.error));
    for (const QString& part : contains)
        QVERIFY2(g.sql.contains(part), qPrintable(g.sql + u"\n--- lacks: "_s + part));
    for (const QString& part : lacks)
        QVERIFY2(!g.sql.contains(part), qPrintable(g.sql + u"\n--- has: "_s + part));
    QVERIFY(!g.sql.contains(u"UNION"_s, Qt::CaseInsensitive));
}

void TestPromptMatcher::examplesUnderEverySetting_data()
{
    QTest::addColumn<SqlDialect>("dialect");
    QTest::addColumn<QString>("prompt");
    for (const auto& [name, dialect] :
         {std::pair{"postgresql", SqlDialect::PostgreSQL}, {"mysql", SqlDialect::MySQL}}) {
        for (const QString& prompt : PromptMatcher::examplePrompts())
            QTest::addRow("%s: %s", name, qPrintable(prompt)) << dialect << prompt;
    }
}

// Every switch combination still answers the examples, and each switch that applies shows.
void TestPromptMatcher::examplesUnderEverySetting()
{
    QFETCH(SqlDialect, dialect);
    QFETCH(QString, prompt);
    const PromptMatcher matcher(dialect, 42);
    for (int bits = 0; bits < 16; ++bits) {
        const GenerationSettings s{bool(bits & 1), bool(bits & 2), bool(bits & 4), bool(bits & 8)};
        const Generation g = matcher.generate(prompt, s);
        QVERIFY2(g.succeeded(), qPrintable(g.error));
        QVERIFY(g.outcome.startsWith(u"example: "_s));
        QVERIFY(!g.sql.contains(u"UNION"_s, Qt::CaseInsensitive));
        if (s.singularResults)
            QVERIFY2(!g.sql.contains(u"JOIN"_s), qPrintable(g.sql));
        QCOMPARE(g.sql.contains(u" = 42"_s), s.dataIsolation);
    }
}

QTEST_GUILESS_MAIN(TestPromptMatcher)
#include "tst_promptmatcher.moc"
