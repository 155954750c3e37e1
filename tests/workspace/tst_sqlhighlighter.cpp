#include "workspace/MRSQLHighlighter.h"

#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTest>
#include <algorithm>

namespace {

// One letter per unit of the text: . plain, K keyword, F function, N number, S string,
// C comment.
constexpr char kLetters[] = ".KFNSC";

QString mask(const QList<SqlSpan>& spans, qsizetype length)
{
    QString letters(length, QLatin1Char('.'));
    for (const SqlSpan& span : spans) {
        for (qsizetype i = span.start; i < span.start + span.length; ++i)
            letters[i] = QLatin1Char(kLetters[int(span.role)]);
    }
    return letters;
}

// The six expressions applied one after another over the whole text, later ones painting
// over earlier ones.
QString referenceMask(const QString& sql)
{
    QStringList words(MRSQLHighlighter::keywords().cbegin(), MRSQLHighlighter::keywords().cend());
    std::sort(words.begin(), words.end());
    const auto unicode = QRegularExpression::UseUnicodePropertiesOption;
    static const struct
    {
        QRegularExpression expression;
        int group;
        char letter;
    } passes[] = {
        {QRegularExpression(QStringLiteral("\\b(%1)\\b").arg(words.join(QLatin1Char('|'))),
                            QRegularExpression::CaseInsensitiveOption | unicode),
         1, 'K'},
        {QRegularExpression(QStringLiteral("\\b([a-zA-Z_][a-zA-Z0-9_]*)\\s*\\("), unicode), 1, 'F'},
        {QRegularExpression(QStringLiteral("\\b\\d+(?:\\.\\d+)?\\b"), unicode), 0, 'N'},
        {QRegularExpression(QStringLiteral("'(?:[^']|'')*'")), 0, 'S'},
        {QRegularExpression(QStringLiteral("--[^\\n]*")), 0, 'C'},
        {QRegularExpression(QStringLiteral("/\\*[\\s\\S]*?\\*/")), 0, 'C'},
    };
    QString letters(sql.size(), QLatin1Char('.'));
    for (const auto& pass : passes) {
        auto it = pass.expression.globalMatch(sql);
        while (it.hasNext()) {
            const auto match = it.next();
            for (qsizetype i = match.capturedStart(pass.group); i < match.capturedEnd(pass.group); ++i)
                letters[i] = QLatin1Char(pass.letter);
        }
    }
    return letters;
}

} // namespace

class TestSqlHighlighter : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void keywords();
    void highlight_data();
    void highlight();
    void matchesExpressions();
};

void TestSqlHighlighter::keywords()
{
    const QSet<QString>& words = MRSQLHighlighter::keywords();
    QCOMPARE(words.size(), 77);
    for (const char* word : {"select", "ilike", "returning", "partition", "fetch", "false"})
        QVERIFY2(words.contains(QLatin1String(word)), word);
    QVERIFY(!words.contains(QStringLiteral("count")));
}

void TestSqlHighlighter::highlight_data()
{
    QTest::addColumn<QString>("sql");
    QTest::addColumn<QString>("roles");

    QTest::newRow("keywords and a call") << "select count(*) from t" //
                                         << "KKKKKK.FFFFF....KKKK..";
    QTest::newRow("case and a decimal") << "SELECT * FROM t WHERE n = 10.5" //
                                        << "KKKKKK...KKKK...KKKKK.....NNNN";
    QTest::newRow("doubled quote") << "select 'it''s' from t" //
                                   << "KKKKKK.SSSSSSS.KKKK..";
    QTest::newRow("dashes in a literal") << "select 'a--b' from t" //
                                         << "KKKKKK.SSCCCCCCCCCCC";
    QTest::newRow("line comment") << "select 1 -- where is it\nx" //
                                  << "KKKKKK.N.CCCCCCCCCCCCCC..";
    QTest::newRow("block comment over lines") << "a /* b\n*/ c */" //
                                              << "..CCCCCCC.....";
    QTest::newRow("digits in names") << "col1 id2 2" //
                                     << ".........N";
    QTest::newRow("keywords as calls") << "in (1) exists (x) values (" //
                                       << "FF..N..FFFFFF.....FFFFFF..";
    QTest::newRow("keyword and number in a literal") << "'select 1'" //
                                                     << "SSSSSSSSSS";
    QTest::newRow("quote and number in a comment") << "/* 'a' 1 */ -- 'b' 2" //
                                                   << "CCCCCCCCCCC.CCCCCCCC";
    QTest::newRow("block comment opened in a literal") << "'/*' x */ y" //
                                                       << "SCCCCCCCC..";
    QTest::newRow("unclosed literal and comment") << "x 'a /* b" //
                                                  << ".........";
    QTest::newRow("literal ending on a doubled quote") << "'a'' b" //
                                                       << "SSS...";
    QTest::newRow("word inside a longer word") << "selected nulls 5x" //
                                               << ".................";
    QTest::newRow("letter before a keyword") << "éselect select" //
                                             << "........KKKKKK";
    QTest::newRow("empty") << ""
                           << "";
}

void TestSqlHighlighter::highlight()
{
    QFETCH(QString, sql);
    QFETCH(QString, roles);
    QCOMPARE(roles.size(), sql.size());
    const QList<SqlSpan> spans = MRSQLHighlighter::highlight(sql);
    QCOMPARE(mask(spans, sql.size()), roles);
    for (qsizetype i = 1; i < spans.size(); ++i)
        QVERIFY(spans[i - 1].start + spans[i - 1].length <= spans[i].start);
}

void TestSqlHighlighter::matchesExpressions()
{
    const QStringList pieces =
        QStringLiteral("select|FROM|count|in|(| |\n|'|''|--|-|/*|*/|*|/|1|2.5|.|col1|é|_x|\t|٣|\u00a0")
            .split(QLatin1Char('|'));
    QRandomGenerator random(1203);
    for (int round = 0; round < 20000; ++round) {
        QString sql;
        const int length = int(random.bounded(0, 24));
        for (int i = 0; i < length; ++i)
            sql += pieces[random.bounded(int(pieces.size()))];
        const QString actual = mask(MRSQLHighlighter::highlight(sql), sql.size());
        const QString expected = referenceMask(sql);
        if (actual != expected) {
            qWarning().noquote() << "input:" << sql;
            QCOMPARE(actual, expected);
        }
    }
}

QTEST_GUILESS_MAIN(TestSqlHighlighter)
#include "tst_sqlhighlighter.moc"
