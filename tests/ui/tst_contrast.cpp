#include "ui/MRContrast.h"
#include "ui/MRFieldStyle.h"
#include "ui/MRTheme.h"
#include "workspace/ResultsGridView.h"

#include <QTest>

namespace {

// A background as the screen shows it: the layers from the bottom up, each laid over the last.
QColor shown(const QList<QColor>& layers)
{
    QColor result = layers.first();
    for (qsizetype i = 1; i < layers.size(); ++i) {
        if (layers.at(i).isValid())
            result = MRContrast::over(layers.at(i), result);
    }
    return result;
}

} // namespace

// Every text colour of the palette against every background it is drawn on, in light and in
// dark. Body text (textPrimary, textSecondary, danger, success, onAccent, the SQL colours but
// comments, grid values) needs 4.5:1; secondary text (textTertiary: hints, captions, times,
// section headers, NULL; sqlComment), icons and the edges of form controls need 3:1.
// Translucent fills are laid over what they sit on first.
class TestContrast : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // The WCAG formula, and translucent colours laid over what they sit on.
    void formula()
    {
        QCOMPARE(qRound(MRContrast::ratio(Qt::black, Qt::white) * 100), 2100);
        // The grey usually quoted as the lightest that passes 4.5:1 on white.
        QCOMPARE(qRound(MRContrast::ratio(QColor(0x767676), Qt::white) * 100), 454);
        QCOMPARE(MRContrast::over(QColor(0, 0, 0, 128), QColor(Qt::white)).red(), 127);
    }

    // The selection is the accent made just deep enough, not more: one step lighter fails.
    void deepenedFill()
    {
        for (const bool dark : {false, true}) {
            const QColor accent = MRTheme::accent().resolve(dark);
            const QColor selection = MRTheme::palette(dark).color(QPalette::Highlight);
            QVERIFY(MRContrast::ratio(selection, Qt::white) >= MRContrast::kBody);
            QCOMPARE(selection.hue(), accent.hue());
            QVERIFY(MRContrast::ratio(selection.lighter(103), Qt::white) < MRContrast::kBody);
        }
    }

    void textOnBackground_data()
    {
        QTest::addColumn<QColor>("text");
        QTest::addColumn<QColor>("background");
        QTest::addColumn<qreal>("minimum");
        QTest::addColumn<bool>("kept");

        for (const bool dark : {false, true}) {
            const auto c = [dark](const MRColor& color) { return color.resolve(dark); };
            const QPalette palette = MRTheme::palette(dark);
            const QColor window = c(MRTheme::windowBackground());
            const QColor card = c(MRTheme::elevatedBackground());
            const QColor panel = c(MRTheme::inputBackground());
            const QColor hover = c(MRTheme::rowHover());
            const QColor pressed = c(MRTheme::rowSelected());
            const QColor accent = c(MRTheme::accent());
            const QColor accentPressed = c(MRTheme::accentPressed());
            const QColor selection = palette.color(QPalette::Highlight);

            const QList<std::pair<const char*, QColor>> page{
                {"the window", window},
                {"a hovered row or ghost button", shown({window, hover})},
                {"a selected row or pressed ghost button", shown({window, pressed})},
            };
            const QList<std::pair<const char*, QColor>> boxes{
                {"a card or the pill's thumb", card},
                {"a panel", panel},
            };
            const auto surfaces = page + boxes;
            const QColor chipOn = shown({window, c(MRTheme::accent().withAlpha(0.14))});
            const QColor banner = shown({window, c(MRTheme::accent().withAlpha(0.10))});

            const char* appearance = dark ? "dark" : "light";
            const auto add = [&](const char* role, const QColor& text, const char* where, const QColor& background,
                                 qreal minimum, bool kept = false) {
                QTest::addRow("%s on %s (%s)", role, where, appearance)
                    << shown({background, text}) << background << minimum << kept;
            };
            const auto addAll = [&](const char* role, const QColor& text,
                                    const QList<std::pair<const char*, QColor>>& backgrounds, qreal minimum) {
                for (const auto& [where, background] : backgrounds)
                    add(role, text, where, background, minimum);
            };
            const qreal body = MRContrast::kBody;
            const qreal secondary = MRContrast::kSecondary;

            addAll("textPrimary", c(MRTheme::textPrimary()), surfaces, body);
            add("textPrimary", c(MRTheme::textPrimary()), "a chip that is on", chipOn, body);
            // The update banner's tint is the chip's, only fainter: textPrimary passes there too.
            addAll("textSecondary", c(MRTheme::textSecondary()), surfaces, body);
            add("textSecondary", c(MRTheme::textSecondary()), "the update banner", banner, body);
            addAll("textTertiary", c(MRTheme::textTertiary()), surfaces, secondary);
            add("danger", c(MRTheme::danger()), "the window", window, body);
            add("danger", c(MRTheme::danger()), "the update banner", banner, body);
            add("success", c(MRTheme::success()), "the window", window, body);
            add("success", c(MRTheme::success()), "a hovered ghost button", shown({window, hover}), body);

            // Button titles of the primary look: the accent is the design's own colour, and
            // deepening it would also erase the step to accentPressed that shows hover.
            add("onAccent", c(MRTheme::onAccent()), "a primary button at rest", accent, body, true);
            add("onAccent", c(MRTheme::onAccent()), "a hovered or pressed primary button", accentPressed, body, dark);
            add("HighlightedText", palette.color(QPalette::HighlightedText), "the selection", selection, body);

            const QList<std::pair<const char*, MRColor>> code{{"sqlKeyword", MRTheme::sqlKeyword()},
                                                              {"sqlFunction", MRTheme::sqlFunction()},
                                                              {"sqlNumber", MRTheme::sqlNumber()},
                                                              {"sqlString", MRTheme::sqlString()},
                                                              {"sqlComment", MRTheme::sqlComment()}};
            for (const auto& [role, color] : code) {
                // SQL shows in the statement's panel or card and on history rows, hovered or not.
                const qreal minimum = color == MRTheme::sqlComment() ? secondary : body;
                addAll(role, c(color), page.mid(0, 2), minimum);
                addAll(role, c(color), boxes, minimum);
            }

            for (const bool alternate : {false, true}) {
                const char* row = alternate ? "an alternate grid row" : "a grid row";
                const ResultsGridView::CellLook look = ResultsGridView::cellLook(palette, alternate, false);
                add("a grid value", look.text, row, shown({panel, look.fill}), body);
                add("NULL", look.nullText, row, shown({panel, look.fill}), secondary);
            }
            const ResultsGridView::CellLook selected = ResultsGridView::cellLook(palette, false, true);
            add("a grid value", selected.text, "a selected grid row", shown({panel, selected.fill}), body);
            add("NULL", selected.nullText, "a selected grid row", shown({panel, selected.fill}), secondary);

            // Icons in text colours need 3:1: row and button icons, chevrons, the send arrow. Where
            // text of the same colour sits, its own rows above already ask for more.
            addAll("a textSecondary icon", c(MRTheme::textSecondary()),
                   {{"a hovered button in a panel", shown({panel, hover})},
                    {"a pressed button in a panel", shown({panel, pressed})}},
                   secondary);
            add("the send arrow", c(MRTheme::onAccent()), "a primary button at rest", accent, secondary);
            add("the send arrow", c(MRTheme::onAccent()), "a hovered or pressed primary button", accentPressed,
                secondary);
            addAll("the status dot", c(MRTheme::statusDot()), page, secondary);

            // The edges of form controls, 3:1 as a control's boundary: a field's, a combo box's
            // and an empty check box's border against the window and the fill inside it, and
            // a ticked box's fill against the window.
            add("a field's edge", c(MRFieldStyle::border()), "the window", window, secondary);
            add("a field's edge", c(MRFieldStyle::border()), "a field's fill", panel, secondary);
            // The sparkle mark is drawn in the accent on the window too.
            add("a ticked check box", accent, "the window", window, secondary);
        }
    }

    void textOnBackground()
    {
        QFETCH(QColor, text);
        QFETCH(QColor, background);
        QFETCH(qreal, minimum);
        QFETCH(bool, kept);
        const qreal ratio = MRContrast::ratio(text, background);
        if (kept)
            QEXPECT_FAIL("", "kept: white on the accent is the design's look", Continue);
        QVERIFY2(ratio >= minimum, qPrintable(QStringLiteral("%1 on %2 is %3:1, below %4:1")
                                                  .arg(text.name(QColor::HexArgb), background.name())
                                                  .arg(ratio, 0, 'f', 2)
                                                  .arg(minimum)));
    }
};

QTEST_MAIN(TestContrast)
#include "tst_contrast.moc"
