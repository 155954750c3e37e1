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
    void matchesTheExpressions()
    {
        QCOMPARE(mask(MRSQLHighlighter::highlight(u"SELECT count(*) FROM t -- it's"_s), 30),
                 u"KKKKKK.FFFFF....KKKK...CCCCCCC"_s);
        // Random texts of hostile pieces are coloured as the expressions and the check's reading say.
        const QStringList pieces =
            u"select|FROM|count|in|(| |\n|\r|'|''|\\|--|-- |-|#|/*|*/|/*!5|*|/|1|2.5|.|col1|é|_x|"
            "\t|٣|\u00a0|$$|$a$|E'|\"|`|delete"_s.split(u'|');
        QRandomGenerator random(1203);
        for (int round = 0; round < 20000; ++round) {
            QString sql;
            for (int i = random.bounded(0, 24); i > 0; --i)
                sql += pieces[random.bounded(int(pieces.size()))];
            for (const Dialect dialect : {Dialect::PostgreSQL, Dialect::MySQL}) {
                const QList<SQLSpan> spans = MRSQLHighlighter::highlight(sql, dialect);
                QVERIFY2(mask(spans, sql.size()) == referenceMask(sql, dialect), qPrintable(u"input: "_s + sql));
                for (qsizetype i = 1; i < spans.size(); ++i)
                    QVERIFY(spans[i - 1].start + spans[i - 1].length <= spans[i].start);
            }
            QCOMPARE(MRSQLHighlighter::highlight(sql), MRSQLHighlighter::highlight(sql, Dialect::PostgreSQL));
        }
    }
};

QTEST_GUILESS_MAIN(TestSQLHighlighter)
#include "tst_sqlhighlighter.moc"
