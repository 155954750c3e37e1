#include "workspace/MRSQLHighlighter.h"
#include "workspace/SQLClassifier.h"

#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTest>
#include <algorithm>

using namespace Qt::Literals::StringLiterals;
using Dialect = SQLClassifier::Dialect;

namespace {

// One letter per unit of the text: . plain, K keyword, F function, N number, S string,
// C comment.
QString mask(const QList<SQLSpan>& spans, qsizetype length)
{
    QString letters(length, u'.');
    for (const SQLSpan& span : spans)
        letters.replace(span.start, span.length, QString(span.length, QLatin1Char(".KFNSC"[int(span.role)])));
    return letters;
}

// The three word expressions applied one after another over the whole text, later ones
// painting over earlier ones; then the literals and comments of the destructive check's
// reading for the dialect over all of them.
QString referenceMask(const QString& sql, Dialect dialect)
{
    static const auto passes = [] {
        QStringList words(MRSQLHighlighter::keywords().cbegin(), MRSQLHighlighter::keywords().cend());
        std::sort(words.begin(), words.end());
        const auto unicode = QRegularExpression::UseUnicodePropertiesOption;
        return QList<std::tuple<QRegularExpression, int, char16_t>>{
            {QRegularExpression(uR"(\b(%1)\b)"_s.arg(words.join(u'|')),
                                QRegularExpression::CaseInsensitiveOption | unicode),
             1, u'K'},
            {QRegularExpression(uR"(\b([a-zA-Z_][a-zA-Z0-9_]*)\s*\()"_s, unicode), 1, u'F'},
            {QRegularExpression(uR"(\b\d+(?:\.\d+)?\b)"_s, unicode), 0, u'N'},
        };
    }();
    QString letters(sql.size(), u'.');
    for (const auto& [expression, group, letter] : passes) {
        for (auto it = expression.globalMatch(sql); it.hasNext();) {
            const auto match = it.next();
            letters.replace(match.capturedStart(group), match.capturedLength(group),
                            QString(match.capturedLength(group), letter));
        }
    }
    for (const auto& range : SQLClassifier::hiddenRanges(sql, SQLClassifier::defaultReading(dialect))) {
        const bool literal = range.kind == SQLClassifier::HiddenRange::Kind::StringLiteral;
        letters.replace(range.start, range.length, QString(range.length, literal ? u'S' : u'C'));
    }
    return letters;
}

} // namespace

class TestSQLHighlighter : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void highlight_data();
    void highlight();
    void matchesExpressionsAndScanner();
};

void TestSQLHighlighter::highlight_data()
{
    QTest::addColumn<QString>("sql");
    QTest::addColumn<Dialect>("dialect");
    QTest::addColumn<QString>("roles");
    const auto row = [](const char* name, const QString& sql, Dialect dialect, const char* roles) {
        QTest::newRow(name) << sql << dialect << QString::fromLatin1(roles);
    };
    const Dialect pg = Dialect::PostgreSQL;
    const Dialect my = Dialect::MySQL;

    row("keywords and a call", u"select count(*) from t"_s, pg, //
        "KKKKKK.FFFFF....KKKK..");
    row("case, digits in names, numbers", u"SELECT col1 FROM t WHERE n = 10.5 OR n = 2"_s, pg,
        "KKKKKK......KKKK...KKKKK.....NNNN.KK.....N");
    row("doubled quote", u"select 'it''s' from t"_s, pg, //
        "KKKKKK.SSSSSSS.KKKK..");
    row("line comment", u"select 1 -- where is it\nx"_s, pg, //
        "KKKKKK.N.CCCCCCCCCCCCCC..");
    row("keywords as calls", u"in (1) exists (x) values ("_s, pg, //
        "FF..N..FFFFFF.....FFFFFF..");
    row("words inside longer words", u"selected nulls 5x éselect select"_s, pg, "..........................KKKKKK");

    // What runs is shown as code, as the destructive check reads it.
    row("quote in a line comment", u"-- it's\nDELETE FROM t WHERE x = 'a'"_s, pg,
        "CCCCCCC.KKKKKK.KKKK...KKKKK.....SSS");
    row("nested comments, MySQL", u"/* /* */ x */ y"_s, my, //
        "CCCCCCCC.......");
    row("backslash, MySQL", u"select 'a\\' from t"_s, my, //
        "KKKKKK......KKKK..");
    row("dollar body is code", u"select $$ it's $$"_s, pg, //
        "KKKKKK...........");
    row("executable comment, MySQL", u"/*!50000 delete */"_s, my, //
        "CCCCCCCC.KKKKKK...");
}

void TestSQLHighlighter::highlight()
{
    QFETCH(QString, sql);
    QFETCH(Dialect, dialect);
    QFETCH(QString, roles);
    const QList<SQLSpan> spans = MRSQLHighlighter::highlight(sql, dialect);
    QCOMPARE(mask(spans, sql.size()), roles);
    for (qsizetype i = 1; i < spans.size(); ++i)
        QVERIFY(spans[i - 1].start + spans[i - 1].length <= spans[i].start);
    if (dialect == Dialect::PostgreSQL)
        QCOMPARE(MRSQLHighlighter::highlight(sql), spans);
}

void TestSQLHighlighter::matchesExpressionsAndScanner()
{
    const QStringList pieces = u"select|FROM|count|in|(| |\n|\r|'|''|\\|--|-- |-|#|/*|*/|/*!5|*|/|1|2.5|.|col1|é|_x|"
                               "\t|٣|\u00a0|$$|$a$|E'|\"|`|delete"_s.split(u'|');
    QRandomGenerator random(1203);
    for (int round = 0; round < 20000; ++round) {
        QString sql;
        for (int i = random.bounded(0, 24); i > 0; --i)
            sql += pieces[random.bounded(int(pieces.size()))];
        for (const Dialect dialect : {Dialect::PostgreSQL, Dialect::MySQL}) {
            const QString actual = mask(MRSQLHighlighter::highlight(sql, dialect), sql.size());
            if (actual != referenceMask(sql, dialect)) {
                qWarning().noquote() << "input:" << sql;
                QCOMPARE(actual, referenceMask(sql, dialect));
            }
        }
    }
}

QTEST_GUILESS_MAIN(TestSQLHighlighter)
#include "tst_sqlhighlighter.moc"
