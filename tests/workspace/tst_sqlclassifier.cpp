#include "workspace/SQLClassifier.h"

#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTest>
#include <optional>

using Dialect = SQLClassifier::Dialect;
using Reading = SQLClassifier::Reading;
using HiddenRange = SQLClassifier::HiddenRange;
using Kind = HiddenRange::Kind;

using namespace Qt::Literals::StringLiterals;

namespace {

const Reading kReadings[] = {
    {Dialect::PostgreSQL, false}, {Dialect::PostgreSQL, true}, {Dialect::MySQL, true}, {Dialect::MySQL, false}};

// A slow lexer written as a table: at each position the first rule whose whole token
// matches there wins; a rule whose opener matches but whose token never closes keeps the
// rest of the text; anything else is one unit of code. A rule with a kind hides a literal
// or a comment; the others are code kept as it is.
struct Rule
{
    QRegularExpression token;
    std::optional<Kind> hide;
    QRegularExpression opener{u"(?!)"_s};
};

QList<Rule> rulesFor(Reading reading)
{
    using E = QRegularExpression;
    const std::optional<Kind> code, literal = Kind::StringLiteral, comment = Kind::Comment;
    const QString letter = uR"([A-Za-z_\x{80}-\x{10FFFF}])"_s;
    const QString tag = uR"((?:%1[A-Za-z0-9_\x{80}-\x{10FFFF}]*)?)"_s.arg(letter);
    const QString escaped = uR"('(?:[^'\\]|''|\\[\s\S])*+')"_s;
    const QString single = reading.backslashEscapes ? escaped : uR"('(?:[^']|'')*+')"_s;
    if (reading.dialect == Dialect::PostgreSQL) {
        return {{E(uR"(--[^\n\r]*)"_s), comment},
                {E(uR"(/\*(?:(?R)|(?!/\*|\*/)[\s\S])*+\*/)"_s), comment, E(uR"(/\*)"_s)},
                {E(u"[Ee]"_s + escaped), literal, E(u"[Ee]'"_s)},
                {E(letter + uR"([A-Za-z0-9_$\x{80}-\x{10FFFF}]*)"_s), code},
                {E(uR"(\$[0-9]+)"_s), code},
                {E(uR"(\$(%1)\$[\s\S]*?\$\1\$)"_s.arg(tag)), code, E(uR"(\$%1\$)"_s.arg(tag))},
                {E(single), literal, E(u"'"_s)},
                {E(uR"("(?:[^"]|"")*+")"_s), code, E(u"\""_s)}};
    }
    return {
        {E(uR"(#[^\n]*)"_s), comment},
        {E(uR"(--(?=[\x00-\x20\x7F]|\z)[^\n]*)"_s), comment},
        {E(uR"(/\*(?:M!|!)[0-9]{0,6})"_s), comment},
        {E(uR"(/\*[\s\S]*?\*/)"_s), comment, E(uR"(/\*)"_s)},
        {E(single), literal, E(u"'"_s)},
        {E(reading.backslashEscapes ? uR"("(?:[^"\\]|""|\\[\s\S])*+")"_s : uR"("(?:[^"]|"")*+")"_s), code, E(u"\""_s)},
        {E(uR"(`(?:[^`]|``)*+`)"_s), code, E(u"`"_s)}};
}

// The code text and the hidden ranges the table reads in sql.
std::pair<QString, QList<HiddenRange>> referenceReading(const QString& sql, const QList<Rule>& rules)
{
    QString code;
    QList<HiddenRange> hidden;
    for (qsizetype at = 0; at < sql.size();) {
        const auto here = [&](const QRegularExpression& e) {
            return e.match(sql, at, QRegularExpression::NormalMatch, QRegularExpression::AnchorAtOffsetMatchOption);
        };
        const auto rule = std::find_if(rules.begin(), rules.end(), [&](const Rule& r) {
            return here(r.token).capturedLength() > 0 || here(r.opener).hasMatch();
        });
        const QRegularExpressionMatch token = rule == rules.end() ? QRegularExpressionMatch() : here(rule->token);
        if (rule == rules.end()) {
            code += sql[at++];
        } else if (token.capturedLength() == 0) {
            return {code + sql.mid(at), hidden};
        } else {
            code += rule->hide ? u" "_s : token.captured();
            if (rule->hide)
                hidden.append({at, token.capturedLength(), *rule->hide});
            at = token.capturedEnd();
        }
    }
    return {code, hidden};
}

} // namespace

class TestSQLClassifier : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void isDestructive_data()
    {
        QTest::addColumn<QString>("sql");
        // Which readings, in the order of kReadings, leave one of the words in code.
        QTest::addColumn<QString>("readings");
        const auto row = [](const char* name, const char* sql, const char* readings) {
            QTest::newRow(name) << sql << readings;
        };

        row("word boundary", "select updated_at, created from t", "0000");
        // Each word in code, in any letter case, even where it names a column or function.
        for (const char* word : {"INSERT",  "Update",  "delete",  "drop",   "truncate", "alter", "create",
                                 "replace", "merge",   "grant",   "revoke", "call",     "exec",  "execute",
                                 "vacuum",  "reindex", "refresh", "rename", "comment",  "lock",  "copy"})
            QTest::newRow(word) << u"select %1(x) from t"_s.arg(QLatin1String(word)) << "1111";

        // How each reading lexes is matchesReferenceLexer's. Only one way of reading shows these
        // as changing data: dropping any reading would let them run unasked.
        row("only PostgreSQL", "select #'\\'; drop table t; \\''", "1000");
        row("only PostgreSQL with backslash escapes", "select #'\\'1-- '; drop table t; ", "0100");
        row("only MySQL", "select \"\\\"/*\"; drop table t; */", "0010");
        row("only MySQL without backslash escapes", "select E'\\'; drop table t; #'", "0001");
    }

    void isDestructive()
    {
        QFETCH(QString, sql);
        QFETCH(QString, readings);
        QString shown;
        for (const Reading& reading : kReadings)
            shown += SQLClassifier::containsModifyingKeyword(SQLClassifier::codeText(sql, reading)) ? u'1' : u'0';
        QCOMPARE(shown, readings);
        QCOMPARE(SQLClassifier::isDestructive(sql), readings.contains(u'1'));
    }

    void escapesReadOnly_data()
    {
        QTest::addColumn<QString>("sql");
        QTest::addColumn<bool>("escapes");
        const auto row = [](const char* name, const char* sql, bool escapes) { QTest::newRow(name) << sql << escapes; };

        // Texts that leave the read-only session before writing, none holding one of the 21 words.
        row("begin read write", "BEGIN READ WRITE; SELECT nextval('s'); COMMIT", true);
        row("comment between the words", "BEGIN READ/* x */WRITE", true);
        row("set statement tx_read_only", "SET STATEMENT tx_read_only = 0 FOR SELECT NEXTVAL(s)", true);
        row("set_config", "SELECT set_config('default_transaction_read_only', 'off', false); COMMIT", true);
        row("MySQL executable comment", "/*!40000 SET SESSION TRANSACTION READ WRITE */", true);
        // Changes the read-only session does not guard.
        row("set global", "SET GLOBAL max_connections = 10", true);
        row("set @@global", "SET @a = 1, @@global.sql_mode = ''", true);
        row("into outfile", "SELECT * FROM t INTO OUTFILE '/tmp/t.txt'", true);
        row("kill", "KILL QUERY 42", true);
        row("large object", "SELECT lo_unlink(16400)", true);
        row("other session", "SELECT pg_terminate_backend (pid) FROM pg_stat_activity", true);

        // Reads that name the mode without changing it.
        row("show", "SHOW default_transaction_read_only", false);
        row("set_config of another setting", "SELECT set_config('search_path', 'public', false)", false);
        row("read only", "BEGIN READ ONLY; SELECT 1; COMMIT", false);
        row("words in a literal", "SELECT 'read write', 'set tx_read_only = 0'", false);
        row("settings table", "SELECT name FROM settings WHERE tx_read_only", false);
        row("reading a global", "SELECT @@global.sql_mode, 'kill' AS word", false);
        row("into a variable", "SELECT count(*) INTO @n FROM t", false);
    }

    void escapesReadOnly()
    {
        QFETCH(QString, sql);
        QFETCH(bool, escapes);
        QCOMPARE(SQLClassifier::escapesReadOnly(sql), escapes);
        // The 21 words are not among them: these ask first only because they escape the mode.
        for (const Reading& reading : kReadings)
            QVERIFY(!SQLClassifier::containsModifyingKeyword(SQLClassifier::codeText(sql, reading)));
        QCOMPARE(SQLClassifier::isDestructive(sql), escapes);
    }

    void matchesReferenceLexer()
    {
        const QStringList pieces = u"'|''|\"|`|\\|--|-- |-|#|/*|*/|/*!|/*!5000|/*M!100100|*|/|$$|$a$|$1|$|"
                                   "E'|e|x|é|😀| |\n|\r|\t|delete|DROP|1|_|;|a$|!"_s.split(u'|');
        QList<QList<Rule>> rules;
        for (const Reading& reading : kReadings)
            rules.append(rulesFor(reading));

        QRandomGenerator random(20240607);
        for (int round = 0; round < 20000; ++round) {
            QString sql;
            for (int i = random.bounded(1, 18); i > 0; --i)
                sql += pieces[random.bounded(int(pieces.size()))];
            bool anyShows = false;
            for (int r = 0; r < 4; ++r) {
                const auto [code, hidden] = referenceReading(sql, rules[r]);
                const bool same = SQLClassifier::codeText(sql, kReadings[r]) == code &&
                                  SQLClassifier::hiddenRanges(sql, kReadings[r]) == hidden;
                QVERIFY2(same, qPrintable(u"reading %1 of: %2"_s.arg(r).arg(sql)));
                anyShows = anyShows || SQLClassifier::containsModifyingKeyword(code);
            }
            QCOMPARE(SQLClassifier::isDestructive(sql), anyShows);
        }
    }
};

QTEST_GUILESS_MAIN(TestSQLClassifier)
#include "tst_sqlclassifier.moc"
