#include "workspace/MRSQLHighlighter.h"

#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTest>
#include <algorithm>

using namespace Qt::Literals::StringLiterals;

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

// The six expressions applied one after another over the whole text, later ones painting
// over earlier ones.
QString referenceMask(const QString& sql)
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
            {QRegularExpression(uR"('(?:[^']|'')*')"_s), 0, u'S'},
            {QRegularExpression(uR"(--[^\n]*)"_s), 0, u'C'},
            {QRegularExpression(uR"(/\*[\s\S]*?\*/)"_s), 0, u'C'},
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
    return letters;
}

} // namespace

class TestSQLHighlighter : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void highlight_data();
    void highlight();
    void matchesExpressions();
};

void TestSQLHighlighter::highlight_data()
{
    QTest::addColumn<QString>("sql");
    QTest::addColumn<QString>("roles");

    QTest::newRow("keywords and a call") << "select count(*) from t" //
                                         << "KKKKKK.FFFFF....KKKK..";
    QTest::newRow("keywords of the list") << "ilike returning partition false count" //
                                          << "KKKKK.KKKKKKKKK.KKKKKKKKK.KKKKK......";
    QTest::newRow("case, digits in names, numbers") << "SELECT col1 FROM t WHERE n = 10.5 OR n = 2" //
                                                    << "KKKKKK......KKKK...KKKKK.....NNNN.KK.....N";
    QTest::newRow("doubled quote") << "select 'it''s' from t" //
                                   << "KKKKKK.SSSSSSS.KKKK..";
    QTest::newRow("dashes in a literal") << "select 'a--b' from t" //
                                         << "KKKKKK.SSCCCCCCCCCCC";
    QTest::newRow("line comment") << "select 1 -- where is it\nx" //
                                  << "KKKKKK.N.CCCCCCCCCCCCCC..";
    QTest::newRow("block comment over lines") << "a /* b\n*/ c */" //
                                              << "..CCCCCCC.....";
    QTest::newRow("keywords as calls") << "in (1) exists (x) values (" //
                                       << "FF..N..FFFFFF.....FFFFFF..";
    QTest::newRow("keywords and numbers in literals and comments") << "'select 1' /* 'a' 1 */ -- 'b' 2" //
                                                                   << "SSSSSSSSSS.CCCCCCCCCCC.CCCCCCCC";
    QTest::newRow("block comment opened in a literal") << "'/*' x */ y" //
                                                       << "SCCCCCCCC..";
    QTest::newRow("unclosed literal and comment") << "x 'a /* b" //
                                                  << ".........";
    QTest::newRow("literal ending on a doubled quote") << "'a'' b" //
                                                       << "SSS...";
    QTest::newRow("words inside longer words") << "selected nulls 5x éselect select" //
                                               << "..........................KKKKKK";
}

void TestSQLHighlighter::highlight()
{
    QFETCH(QString, sql);
    QFETCH(QString, roles);
    const QList<SQLSpan> spans = MRSQLHighlighter::highlight(sql);
    QCOMPARE(mask(spans, sql.size()), roles);
    for (qsizetype i = 1; i < spans.size(); ++i)
        QVERIFY(spans[i - 1].start + spans[i - 1].length <= spans[i].start);
}

void TestSQLHighlighter::matchesExpressions()
{
    const QStringList pieces =
        u"select|FROM|count|in|(| |\n|'|''|--|-|/*|*/|*|/|1|2.5|.|col1|é|_x|\t|٣|\u00a0"_s.split(u'|');
    QRandomGenerator random(1203);
    for (int round = 0; round < 20000; ++round) {
        QString sql;
        for (int i = random.bounded(0, 24); i > 0; --i)
            sql += pieces[random.bounded(int(pieces.size()))];
        const QString actual = mask(MRSQLHighlighter::highlight(sql), sql.size());
        if (actual != referenceMask(sql)) {
            qWarning().noquote() << "input:" << sql;
            QCOMPARE(actual, referenceMask(sql));
        }
    }
}

QTEST_GUILESS_MAIN(TestSQLHighlighter)
#include "tst_sqlhighlighter.moc"
