#include "ViewTestSupport.h"
#include "workspace/MRSQLLineView.h"
#include "workspace/MRSQLTextViewHighlighter.h"

#include <QApplication>
#include <QImage>
#include <QTest>
#include <QTextBlock>
#include <QTextEdit>
#include <QTextLayout>

namespace {

// The foreground the view shows at a position of its text.
QColor colourAt(const QTextEdit& view, int position)
{
    const QTextBlock block = view.document()->findBlock(position);
    QColor colour;
    for (const auto& range : block.layout()->formats()) {
        const int offset = position - block.position();
        if (offset >= range.start && offset < range.start + range.length)
            colour = range.format.foreground().color();
    }
    return colour;
}

} // namespace

class TestSqlViews : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void lineElidesAtTheTail_data();
    void lineElidesAtTheTail();
    void lineRepaintsForAppearance();
    void textViewColours();
    void textViewKeepsSelectionAndForgetsEdits();
};

void TestSqlViews::init()
{
    setAppearance(false);
}

void TestSqlViews::lineElidesAtTheTail_data()
{
    QTest::addColumn<QString>("sql");
    QTest::addColumn<int>("width");
    QTest::addColumn<QString>("shown");

    QTest::newRow("fits") << "select 1" << 400 << "select 1";
    QTest::newRow("line breaks as spaces") << "select\n1\tfrom t" << 400 << "select 1 from t";
    QTest::newRow("cut") << "select a, b, c from some_table where x = 1" << 100 << "";
    QTest::newRow("very long") << QStringLiteral("select ") + QString(100000, QLatin1Char('x')) << 200 << "";
}

void TestSqlViews::lineElidesAtTheTail()
{
    QFETCH(QString, sql);
    QFETCH(int, width);
    QFETCH(QString, shown);

    MRSQLLineView view;
    view.setSql(sql);
    view.resize(width, view.sizeHint().height());
    QCOMPARE(view.sizeHint().height(), view.minimumSizeHint().height());
    QVERIFY(view.sizeHint().height() > 0);
    const QString text = view.displayedText();
    if (!shown.isEmpty()) {
        QCOMPARE(text, shown);
        return;
    }
    QVERIFY2(text.endsWith(QChar(0x2026)), qPrintable(text));
    QVERIFY(text.size() > 3);
    QVERIFY(sql.startsWith(text.chopped(1)));
    QVERIFY(QFontMetricsF(view.font()).horizontalAdvance(text) <= width);
}

void TestSqlViews::lineRepaintsForAppearance()
{
    MRSQLLineView view;
    view.setFontSize(20);
    view.setSql(QStringLiteral("-- a\nSELECT 'text' FROM t"));
    view.resize(view.sizeHint());
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));

    const QImage light = view.grab().toImage();
    QVERIFY(pixelsNear(light, light.rect(), MRTheme::sqlKeyword().light()) > 0);
    QVERIFY(pixelsNear(light, light.rect(), MRTheme::sqlString().light()) > 0);
    QCOMPARE(pixelsNear(light, light.rect(), MRTheme::sqlKeyword().dark()), 0);

    setAppearance(true);
    const QImage dark = view.grab().toImage();
    QVERIFY(pixelsNear(dark, dark.rect(), MRTheme::sqlKeyword().dark()) > 0);
    QCOMPARE(pixelsNear(dark, dark.rect(), MRTheme::sqlKeyword().light()), 0);
}

void TestSqlViews::textViewColours()
{
    QTextEdit view;
    view.setPlainText(QStringLiteral("select count(*)\nfrom t -- note"));
    MRSQLTextViewHighlighter::highlightTextView(&view, 13);

    QCOMPARE(view.font(), MRTheme::monoFont(13));
    const QTextBlockFormat block = view.document()->lastBlock().blockFormat();
    QCOMPARE(block.lineHeightType(), int(QTextBlockFormat::LineDistanceHeight));
    QCOMPARE(block.lineHeight(), 2.0);

    QCOMPARE(colourAt(view, 0), MRTheme::sqlKeyword().light());
    QCOMPARE(colourAt(view, 7), MRTheme::sqlFunction().light());
    QCOMPARE(colourAt(view, 13), MRTheme::textPrimary().light());
    QCOMPARE(colourAt(view, 16), MRTheme::sqlKeyword().light());
    QCOMPARE(colourAt(view, 25), MRTheme::sqlComment().light());

    const QList<SqlSpan> spans = MRSQLTextViewHighlighter::of(&view)->spans();
    setAppearance(true);
    QCOMPARE(colourAt(view, 0), MRTheme::sqlKeyword().dark());
    QCOMPARE(colourAt(view, 13), MRTheme::textPrimary().dark());
    QCOMPARE(colourAt(view, 25), MRTheme::sqlComment().dark());
    QCOMPARE(MRSQLTextViewHighlighter::of(&view)->spans(), spans);
}

void TestSqlViews::textViewKeepsSelectionAndForgetsEdits()
{
    QTextEdit view;
    view.setPlainText(QStringLiteral("select 1"));
    QTextCursor cursor = view.textCursor();
    cursor.setPosition(7);
    cursor.setPosition(2, QTextCursor::KeepAnchor);
    view.setTextCursor(cursor);

    MRSQLTextViewHighlighter::highlightTextView(&view, 13);
    MRSQLTextViewHighlighter::highlightTextView(&view, 13);
    QCOMPARE(view.findChildren<MRSQLTextViewHighlighter*>().size(), 1);
    QCOMPARE(view.toPlainText(), QStringLiteral("select 1"));
    QCOMPARE(view.textCursor().anchor(), 7);
    QCOMPARE(view.textCursor().position(), 2);
    QCOMPARE(colourAt(view, 0), MRTheme::sqlKeyword().light());

    // Typed text is no longer the highlighted SQL: its old colours go.
    QTextCursor(view.document()).insertText(QStringLiteral("x"));
    QVERIFY(MRSQLTextViewHighlighter::of(&view)->spans().isEmpty());
    QCOMPARE(colourAt(view, 1), MRTheme::textPrimary().light());
}

QTEST_MAIN(TestSqlViews)
#include "tst_sqlviews.moc"
