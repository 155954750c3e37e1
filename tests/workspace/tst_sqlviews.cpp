#include "ViewTestSupport.h"
#include "ui/MRSQLLineView.h"
#include "ui/MRSQLTextViewHighlighter.h"

#include <QTest>
#include <QTextBlock>
#include <QTextEdit>
#include <QTextLayout>

using namespace Qt::Literals::StringLiterals;

namespace {

// The foregrounds the view shows at positions of its text.
QList<QColor> coloursAt(const QTextEdit& view, const QList<int>& positions)
{
    QList<QColor> colours;
    for (const int position : positions) {
        const QTextBlock block = view.document()->findBlock(position);
        colours << QColor();
        for (const auto& range : block.layout()->formats()) {
            const int offset = position - block.position();
            if (offset >= range.start && offset < range.start + range.length)
                colours.last() = range.format.foreground().color();
        }
    }
    return colours;
}

} // namespace

class TestSQLViews : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init() { setAppearance(false); }
    void lineElidesAtTheTail_data()
    {
        QTest::addColumn<QString>("sql");
        QTest::addColumn<int>("width");
        QTest::addColumn<QString>("shown"); // empty: cut

        QTest::newRow("line breaks as spaces") << "select\n1\tfrom t" << 400 << "select 1 from t";
        QTest::newRow("very long") << u"select "_s + QString(100000, u'x') << 200 << "";
    }

    void lineElidesAtTheTail()
    {
        QFETCH(QString, sql);
        QFETCH(int, width);
        QFETCH(QString, shown);
        MRSQLLineView view;
        view.setSQL(sql);
        view.resize(width, view.sizeHint().height());
        const QString text = view.displayedText();
        const bool cut = text.size() > 3 && text.endsWith(u'…') && sql.startsWith(text.chopped(1)) &&
                         QFontMetricsF(view.font()).horizontalAdvance(text) <= width;
        QVERIFY2(shown.isEmpty() ? cut : text == shown, qPrintable(text));
    }

    void textView()
    {
        QTextEdit view;
        const QString sql = u"select count(*)\nfrom t -- note"_s;
        view.setPlainText(sql);
        QTextCursor cursor = view.textCursor();
        cursor.setPosition(7);
        cursor.setPosition(2, QTextCursor::KeepAnchor);
        view.setTextCursor(cursor);
        // A second call keeps the one highlighter, and neither moves the selection.
        MRSQLTextViewHighlighter::highlightTextView(&view, 13);
        MRSQLTextViewHighlighter::highlightTextView(&view, 13);
        QCOMPARE(view.findChildren<MRSQLTextViewHighlighter*>().size(), 1);
        QCOMPARE(std::pair(view.textCursor().anchor(), view.textCursor().position()), std::pair(7, 2));

        // select, count, the bracket, from, the comment; a theme switch recolours without a new split.
        const QList<SQLSpan> spans = MRSQLTextViewHighlighter::of(&view)->spans();
        for (const bool dark : {false, true}) {
            setAppearance(dark);
            QCOMPARE(coloursAt(view, {0, 7, 13, 16, 25}),
                     (QList<QColor>{MRTheme::sqlKeyword().resolve(dark), MRTheme::sqlFunction().resolve(dark),
                                    MRTheme::textPrimary().resolve(dark), MRTheme::sqlKeyword().resolve(dark),
                                    MRTheme::sqlComment().resolve(dark)}));
            QCOMPARE(MRSQLTextViewHighlighter::of(&view)->spans(), spans);
        }

        // Typed text is no longer the highlighted SQL: its old colours go.
        QTextCursor(view.document()).insertText(u"x"_s);
        QVERIFY(MRSQLTextViewHighlighter::of(&view)->spans().isEmpty());
        QCOMPARE(coloursAt(view, {1}), QList<QColor>{MRTheme::textPrimary().dark()});
    }
};

QTEST_MAIN(TestSQLViews)
#include "tst_sqlviews.moc"
