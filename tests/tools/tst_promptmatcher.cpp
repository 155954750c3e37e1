#include "devserver/PromptMatcher.h"

#include <QRegularExpression>
#include <QTest>

using namespace Qt::StringLiterals;

Q_DECLARE_METATYPE(SqlDialect)

namespace {

// "writes,fix-off,mine" → settings; the client's defaults otherwise.
GenerationSettings settingsFrom(const QString& flags)
{
    GenerationSettings s;
    const QStringList list = flags.split(u',', Qt::SkipEmptyParts);
    s.allowDestructive = list.contains(u"writes"_s);
    s.selfCorrection = !list.contains(u"fix-off"_s);
    s.dataIsolation = list.contains(u"mine"_s);
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
};

void TestPromptMatcher::generate_data()
{
    QTest::addColumn<SqlDialect>("dialect");
    QTest::addColumn<QString>("flags");
    QTest::addColumn<QString>("prompt");
    QTest::addColumn<QString>("errorType"); // empty for SQL
    QTest::addColumn<QStringList>("contains");

    const auto sql = [](const char* name, SqlDialect dialect, const QString& flags, const QString& prompt,
                        const QStringList& contains) {
        QTest::newRow(name) << dialect << flags << prompt << QString() << contains;
    };
    const auto refused = [](const char* name, SqlDialect dialect, const QString& flags, const QString& prompt,
                            const QString& errorType) {
        QTest::newRow(name) << dialect << flags << prompt << errorType << QStringList();
    };
    const auto pg = SqlDialect::PostgreSQL;
    const auto my = SqlDialect::MySQL;

    // Each dialect's own date arithmetic.
    sql("month start, PostgreSQL", pg, {}, u"Count users who signed up this month"_s,
        {u"signed_up_at >= date_trunc('month', LOCALTIMESTAMP)"_s});
    sql("month start, MariaDB", my, {}, u"Count users who signed up this month"_s,
        {u"CURRENT_DATE - INTERVAL (DAYOFMONTH(CURRENT_DATE) - 1) DAY"_s});

    sql("misspelt table, corrected", pg, {}, u"show custmers in Oslo"_s, {u"FROM customers"_s});

    // Quotes and backslashes stay inside the literal.
    sql("quote, PostgreSQL", pg, {}, u"customers where name is O'Brien"_s, {u"lower(name) = 'o''brien'"_s});
    sql("quote after backslash, MariaDB", my, {}, uR"(customers where name is a\' OR 1=1 -- )"_s,
        {uR"(name = 'a\\'' OR 1=1 --')"_s});

    // Writes.
    refused("update without writes", pg, {}, u"update products set price to 5 where id is 1"_s,
            u"destructive_not_allowed"_s);
    sql("delete only mine", my, u"writes,mine"_s, u"delete all orders"_s,
        {u"DELETE FROM orders\nWHERE customer_id IN"_s});
    sql("insert with writes", pg, u"writes"_s,
        u"add a product with name 'Tea, Cup', category Kitchen, price 12.50 and stock 5"_s,
        {u"INSERT INTO products (name, category, price, stock)\nVALUES ('Tea, Cup', 'Kitchen', 12.50, 5)"_s});
    refused("schema changes never", pg, u"writes"_s, u"drop table users"_s, u"unsupported_prompt"_s);

    // Refusals.
    refused("empty", pg, {}, u"  ?  "_s, u"invalid_request"_s);
    refused("misspelt table without auto-fix", pg, u"fix-off"_s, u"show custmers"_s, u"unknown_table"_s);
    refused("text for a number", pg, {}, u"products where price is cheap"_s, u"invalid_value"_s);
    refused("control character", pg, {}, u"customers where name is a\u0001b"_s, u"invalid_value"_s);
}

void TestPromptMatcher::generate()
{
    QFETCH(SqlDialect, dialect);
    QFETCH(QString, flags);
    QFETCH(QString, prompt);
    QFETCH(QString, errorType);
    QFETCH(QStringList, contains);

    const Generation g = PromptMatcher(dialect, 7).generate(prompt, settingsFrom(flags));
    QCOMPARE(g.errorType, errorType);
    if (!errorType.isEmpty()) {
        QVERIFY2(isSentence(g.error), qPrintable(g.error));
        QVERIFY(g.sql.isEmpty());
        return;
    }
    for (const QString& part : contains)
        QVERIFY2(g.sql.contains(part), qPrintable(g.sql + u"\n--- lacks: "_s + part));
    QVERIFY(!g.sql.contains(u"UNION"_s, Qt::CaseInsensitive));
}

QTEST_GUILESS_MAIN(TestPromptMatcher)
#include "tst_promptmatcher.moc"
