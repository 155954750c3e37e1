#include "workspace/SqlClassifier.h"

#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTest>

using Dialect = SqlClassifier::Dialect;
using Reading = SqlClassifier::Reading;

namespace {

const Reading kReadings[] = {
    {Dialect::PostgreSQL, false},
    {Dialect::PostgreSQL, true},
    {Dialect::MySQL, true},
    {Dialect::MySQL, false},
};

const char* const kReadingNames[] = {"PostgreSQL", "PostgreSQL with backslash escapes", "MySQL",
                                     "MySQL without backslash escapes"};

// A slow lexer written as a table: at each position the first rule whose whole token
// matches there wins; a rule whose opener matches but whose token never closes keeps the
// rest of the text; anything else is one unit of code.
struct Rule
{
    enum Kind { Hide, Keep };
    QRegularExpression token;
    QRegularExpression opener;
    Kind kind;
};

Rule rule(const QString& token, Rule::Kind kind, const QString& opener = QString())
{
    return {QRegularExpression(token), QRegularExpression(opener.isEmpty() ? QStringLiteral("(?!)") : opener), kind};
}

QList<Rule> rulesFor(Reading reading)
{
    const QString letter = QStringLiteral("[A-Za-z_\\x{80}-\\x{10FFFF}]");
    const QString tag = QStringLiteral("(?:%1[A-Za-z0-9_\\x{80}-\\x{10FFFF}]*)?").arg(letter);
    const QString escapedSingle = QStringLiteral("'(?:[^'\\\\]|''|\\\\[\\s\\S])*+'");
    const QString plainSingle = QStringLiteral("'(?:[^']|'')*+'");
    if (reading.dialect == Dialect::PostgreSQL) {
        return {
            rule(QStringLiteral("--[^\\n\\r]*"), Rule::Hide),
            rule(QStringLiteral("/\\*(?:(?R)|(?!/\\*|\\*/)[\\s\\S])*+\\*/"), Rule::Hide, QStringLiteral("/\\*")),
            rule(QStringLiteral("[Ee]") + escapedSingle, Rule::Hide, QStringLiteral("[Ee]'")),
            rule(letter + QStringLiteral("[A-Za-z0-9_$\\x{80}-\\x{10FFFF}]*"), Rule::Keep),
            rule(QStringLiteral("\\$[0-9]+"), Rule::Keep),
            rule(QStringLiteral("\\$(%1)\\$[\\s\\S]*?\\$\\1\\$").arg(tag), Rule::Keep,
                 QStringLiteral("\\$%1\\$").arg(tag)),
            rule(reading.backslashEscapes ? escapedSingle : plainSingle, Rule::Hide, QStringLiteral("'")),
            rule(QStringLiteral("\"(?:[^\"]|\"\")*+\""), Rule::Keep, QStringLiteral("\"")),
        };
    }
    return {
        rule(QStringLiteral("#[^\\n]*"), Rule::Hide),
        rule(QStringLiteral("--(?=[\\x00-\\x20\\x7F]|\\z)[^\\n]*"), Rule::Hide),
        rule(QStringLiteral("/\\*(?:M!|!)[0-9]{0,6}"), Rule::Hide),
        rule(QStringLiteral("/\\*[\\s\\S]*?\\*/"), Rule::Hide, QStringLiteral("/\\*")),
        rule(reading.backslashEscapes ? escapedSingle : plainSingle, Rule::Hide, QStringLiteral("'")),
        rule(reading.backslashEscapes ? QStringLiteral("\"(?:[^\"\\\\]|\"\"|\\\\[\\s\\S])*+\"")
                                      : QStringLiteral("\"(?:[^\"]|\"\")*+\""),
             Rule::Keep, QStringLiteral("\"")),
        rule(QStringLiteral("`(?:[^`]|``)*+`"), Rule::Keep, QStringLiteral("`")),
    };
}

QString referenceCodeText(const QString& sql, const QList<Rule>& rules)
{
    QString code;
    qsizetype at = 0;
    while (at < sql.size()) {
        bool matched = false;
        for (const Rule& r : rules) {
            const auto token =
                r.token.match(sql, at, QRegularExpression::NormalMatch, QRegularExpression::AnchorAtOffsetMatchOption);
            if (token.hasMatch() && token.capturedLength() > 0) {
                code += r.kind == Rule::Hide ? QStringLiteral(" ") : token.captured();
                at = token.capturedEnd();
                matched = true;
                break;
            }
            if (r.opener.match(sql, at, QRegularExpression::NormalMatch, QRegularExpression::AnchorAtOffsetMatchOption)
                    .hasMatch())
                return code + sql.mid(at);
        }
        if (!matched)
            code += sql[at++];
    }
    return code;
}

} // namespace

class TestSqlClassifier : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void isDestructive_data();
    void isDestructive();
    void eachReadingCounts_data();
    void eachReadingCounts();
    void matchesReferenceLexer();
};

void TestSqlClassifier::isDestructive_data()
{
    QTest::addColumn<QString>("sql");
    QTest::addColumn<bool>("destructive");

    QTest::newRow("plain select") << "SELECT * FROM users" << false;
    QTest::newRow("keyword in a literal") << "select 'delete' from t" << false;
    QTest::newRow("keyword in a block comment") << "/* drop */ select 1" << false;
    QTest::newRow("keyword in a line comment") << "select 1 -- drop it" << false;
    QTest::newRow("delete") << "delete from t" << true;
    QTest::newRow("mixed case") << "Update t set a = 1" << true;
    QTest::newRow("column named comment") << "select comment from posts" << true;
    QTest::newRow("word boundary") << "select updated_at, created from t" << false;
    QTest::newRow("function replace") << "select replace(a, 'x', 'y') from t" << true;
    QTest::newRow("every word") << "INSERT UPDATE DELETE DROP TRUNCATE ALTER CREATE REPLACE MERGE GRANT REVOKE" << true;
    QTest::newRow("empty") << "" << false;

    QTest::newRow("quote in a line comment") << "-- don't\ndelete from t where x = 'a'" << true;
    QTest::newRow("escaped quote in E string") << "select E'it\\'s'; delete from t; select 'x'" << true;
    QTest::newRow("escaped quote in MySQL string") << "select 'it\\'s'; delete from t; select 'x'" << true;
    QTest::newRow("line comment marker in a literal") << "select 'a -- b'; delete from t" << true;
    QTest::newRow("block comment marker in a literal") << "select '/* x'; delete from t; -- */" << true;
    QTest::newRow("doubled quotes") << "select 'it''s', 'drop' from t" << false;
    QTest::newRow("unterminated literal") << "select 'abc; delete from t" << true;
    QTest::newRow("unterminated comment") << "select 1 /* delete from t" << true;
    QTest::newRow("unterminated nested comment") << "/* a /* b */ delete from t" << true;
    QTest::newRow("nested comment, MySQL ends it early") << "/* /* */ delete from t */" << true;
    QTest::newRow("nested comment hiding a keyword") << "/* /* drop */ */ select 1" << false;

    QTest::newRow("dollar body kept") << "select $$delete$$" << true;
    QTest::newRow("quote in a dollar body") << "select $$ it's $$; delete from t where x = 'a'" << true;
    QTest::newRow("tagged dollar body") << "do $fn$ begin delete from t; end $fn$" << true;
    QTest::newRow("dollar inside a name") << "select a$$b from t" << false;
    QTest::newRow("quoted name kept") << "select \"delete\" from t" << true;
    QTest::newRow("quote in a quoted name") << "select \"it's\" from t; delete from t where x = 'a'" << true;
    QTest::newRow("quote in a backquoted name") << "select `a'b` from t; delete from t where c = 'x'" << true;

    QTest::newRow("quote in a MySQL hash comment") << "select 1 # don't\ndelete from t where x = 'a'" << true;
    QTest::newRow("MySQL double dash needs a space") << "select 1 --1; delete from t" << true;
    QTest::newRow("MySQL executable comment") << "/*!50000 delete from t */" << true;
    QTest::newRow("MySQL executable comment, no space") << "/*!50000delete from t */" << true;
    QTest::newRow("MariaDB executable comment") << "/*M!100100 drop table t */" << true;
    QTest::newRow("optimizer hint is a comment") << "select /*+ drop */ 1" << false;
}

void TestSqlClassifier::isDestructive()
{
    QFETCH(QString, sql);
    QFETCH(bool, destructive);
    QCOMPARE(SqlClassifier::isDestructive(sql), destructive);
}

// Statements that only one way of reading shows as changing data: dropping any reading
// would let them run unasked.
void TestSqlClassifier::eachReadingCounts_data()
{
    QTest::addColumn<QString>("sql");
    QTest::addColumn<int>("onlyReading");

    QTest::newRow("PostgreSQL") << "select #'\\'; drop table t; \\''" << 0;
    QTest::newRow("PostgreSQL, backslash escapes") << "select #'\\'1-- '; drop table t; " << 1;
    QTest::newRow("MySQL") << "select \"\\\"/*\"; drop table t; */" << 2;
    QTest::newRow("MySQL, no backslash escapes") << "select E'\\'; drop table t; #'" << 3;
}

void TestSqlClassifier::eachReadingCounts()
{
    QFETCH(QString, sql);
    QFETCH(int, onlyReading);
    for (int i = 0; i < 4; ++i) {
        const bool shows = SqlClassifier::containsModifyingKeyword(SqlClassifier::codeText(sql, kReadings[i]));
        QVERIFY2(shows == (i == onlyReading), kReadingNames[i]);
    }
    QVERIFY(SqlClassifier::isDestructive(sql));
}

void TestSqlClassifier::matchesReferenceLexer()
{
    const QStringList pieces = QStringLiteral("'|''|\"|`|\\|--|-- |-|#|/*|*/|/*!|/*!5000|/*M!100100|*|/|$$|$a$|$1|$|"
                                              "E'|e|x|é|😀| |\n|\r|\t|delete|DROP|1|_|;|a$|!")
                                   .split(QLatin1Char('|'));
    QList<QList<Rule>> rules;
    for (const Reading& reading : kReadings)
        rules.append(rulesFor(reading));

    QRandomGenerator random(20240607);
    for (int round = 0; round < 20000; ++round) {
        QString sql;
        const int length = int(random.bounded(1, 18));
        for (int i = 0; i < length; ++i)
            sql += pieces[random.bounded(int(pieces.size()))];

        bool anyShows = false;
        for (int r = 0; r < 4; ++r) {
            const QString expected = referenceCodeText(sql, rules[r]);
            const QString actual = SqlClassifier::codeText(sql, kReadings[r]);
            if (actual != expected) {
                qWarning().noquote() << kReadingNames[r] << "input:" << sql;
                QCOMPARE(actual, expected);
            }
            anyShows = anyShows || SqlClassifier::containsModifyingKeyword(expected);
        }
        QCOMPARE(SqlClassifier::isDestructive(sql), anyShows);
    }
}

QTEST_GUILESS_MAIN(TestSqlClassifier)
#include "tst_sqlclassifier.moc"
