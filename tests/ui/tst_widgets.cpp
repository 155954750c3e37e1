#include "ui/MRButton.h"
#include "ui/MRClickRow.h"
#include "ui/MRContentRootView.h"
#include "ui/MRContrast.h"
#include "ui/MRDotGridView.h"
#include "ui/MRFieldStyle.h"
#include "ui/MRHistoryRow.h"
#include "ui/MRImageView.h"
#include "ui/MRLabel.h"
#include "ui/MRPanel.h"
#include "ui/MRPill.h"
#include "ui/MRSQLLineView.h"
#include "ui/MRSettingChip.h"
#include "ui/MRSidebarRow.h"
#include "ui/MRStyleKit.h"
#include "ui/MRSuggestionRow.h"
#include "ui/MRTheme.h"
#include "ui/ThemeManager.h"

#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QSignalSpy>
#include <QStyleOptionButton>
#include <QTest>
#include <memory>

namespace {

// A palette fill as the screen shows it on the window background; no fill shows the background.
QColor onWindow(const MRColor& fill = MRColor())
{
    const bool dark = ThemeManager::shared().isDark();
    const QColor bottom = MRTheme::windowBackground().resolve(dark);
    const QColor top = fill == MRColor() ? bottom : fill.resolve(dark);
    const float a = top.alphaF();
    return QColor::fromRgbF(top.redF() * a + bottom.redF() * (1 - a), top.greenF() * a + bottom.greenF() * (1 - a),
                            top.blueF() * a + bottom.blueF() * (1 - a));
}

// What the screen shows at a point of a widget: the window is grabbed, so the widget's
// translucent fills land on the real background.
QColor shownAt(QWidget* widget, QPoint at)
{
    QWidget* window = widget->window();
    return window->grab(QRect(widget->mapTo(window, at), QSize(1, 1))).toImage().pixelColor(0, 0);
}

// Whether the widget shows the colour at the point, give or take rounding; says what it shows if not.
bool shows(QWidget* widget, QPoint at, const QColor& expected)
{
    const QColor actual = shownAt(widget, at);
    const bool near = qAbs(actual.red() - expected.red()) <= 2 && qAbs(actual.green() - expected.green()) <= 2 &&
                      qAbs(actual.blue() - expected.blue()) <= 2;
    if (!near)
        qWarning("%s shows %s at (%d, %d), not %s", widget->metaObject()->className(), qPrintable(actual.name()),
                 at.x(), at.y(), qPrintable(expected.name()));
    return near;
}

void hover(QWidget* widget)
{
    QTest::mouseMove(widget, widget->rect().center());
    QTRY_VERIFY(widget->underMouse());
}

// How far the pixels of a widget, as the window shows it, lie from the window's background.
qint64 inkOf(QWidget* widget)
{
    const QColor background = onWindow();
    QWidget* window = widget->window();
    const QImage image = window->grab(QRect(widget->mapTo(window, QPoint()), widget->size())).toImage();
    qint64 ink = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor pixel = image.pixelColor(x, y);
            ink += qAbs(pixel.red() - background.red()) + qAbs(pixel.green() - background.green()) +
                   qAbs(pixel.blue() - background.blue());
        }
    }
    return ink;
}

enum class Kind { SuggestionRow, HistoryRow, SidebarRow, ClickRow, ChipOff, ChipOn, Pill, SendButton, IconButton };

QWidget* make(Kind kind)
{
    switch (kind) {
    case Kind::SuggestionRow:
        return new MRSuggestionRow(QStringLiteral("clock"), QStringLiteral("Show the latest orders"));
    case Kind::HistoryRow:
        return new MRHistoryRow(QStringLiteral("Orders of last week"),
                                QStringLiteral("SELECT * FROM orders WHERE placed_at > now() - interval '7 days'"),
                                QStringLiteral("09:12"));
    case Kind::SidebarRow:
        return new MRSidebarRow(QStringLiteral("plus"), QStringLiteral("New query"));
    case Kind::ClickRow: {
        // The recents header: a row made of a chevron and a section header.
        auto* row = new MRClickRow;
        row->setRowAccessibilityLabel(QStringLiteral("Recents"));
        auto* layout = new QHBoxLayout(row);
        layout->setContentsMargins(0, 0, 0, 0);
        auto* chevron = new MRImageView;
        chevron->setImage(MRStyleKit::symbol(QStringLiteral("chevron.down"), 10, QFont::DemiBold));
        chevron->setTint(MRTheme::textTertiary());
        layout->addWidget(chevron);
        layout->addWidget(MRStyleKit::sectionHeader(QStringLiteral("Recents")));
        return row;
    }
    case Kind::ChipOff:
    case Kind::ChipOn: {
        auto* chip = new MRSettingChip(QStringLiteral("tablecells"), QStringLiteral("Single"), MRTheme::accent());
        chip->setSettingName(QStringLiteral("Single Results Mode"));
        chip->setOn(kind == Kind::ChipOn);
        return chip;
    }
    case Kind::Pill:
        return new MRPill({QStringLiteral("Query"), QStringLiteral("History")});
    case Kind::SendButton:
        return MRStyleKit::sendButtonWithTarget();
    case Kind::IconButton:
        return MRStyleKit::iconButtonWithSymbol(QStringLiteral("plus"), QStringLiteral("Insert an example"));
    }
    return nullptr;
}

struct PaintCounter : QObject
{
    QHash<QObject*, int> counts;
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        counts[watched] += event->type() == QEvent::Paint;
        return false;
    }
};

} // namespace

class TestWidgets : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        ThemeManager::shared().setMode(ThemeManager::Mode(1));
        m_window = std::make_unique<MRContentRootView>();
        m_layout = new QHBoxLayout(m_window.get());
        m_layout->setContentsMargins(30, 30, 30, 30);
        m_layout->setSizeConstraint(QLayout::SetNoConstraint);
        m_window->resize(700, 120);
        // The pointer stays where the last test left it; park it on the margin.
        QTest::mouseMove(m_window.get(), QPoint(2, 2));
    }

    void rowInput_data()
    {
        // A key with its text; with neither, a mouse press at x 150 released at releaseX.
        QTest::addColumn<int>("key");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("releaseX");
        QTest::addColumn<int>("clicks");
        QTest::newRow("space") << int(Qt::Key_Space) << QStringLiteral(" ") << 0 << 1;
        QTest::newRow("return") << int(Qt::Key_Return) << QStringLiteral("\r") << 0 << 1;
        QTest::newRow("enter") << int(Qt::Key_Enter) << QStringLiteral("\r") << 0 << 1;
        QTest::newRow("line feed") << 0 << QStringLiteral("\n") << 0 << 1;
        QTest::newRow("tab") << int(Qt::Key_Tab) << QStringLiteral("\t") << 0 << 0;
        QTest::newRow("letter") << int(Qt::Key_A) << QStringLiteral("a") << 0 << 0;
        QTest::newRow("released inside") << 0 << QString() << 190 << 1;
        QTest::newRow("released outside") << 0 << QString() << 250 << 0;
    }

    void rowInput()
    {
        QFETCH(int, key);
        QFETCH(QString, text);
        QFETCH(int, releaseX);
        QFETCH(int, clicks);
        auto* row = place(new MRSidebarRow(QStringLiteral("plus"), QStringLiteral("New query")), QSize(200, 32));
        auto* other = place(new MRSidebarRow(QString(), QStringLiteral("Other")), QSize(200, 32));
        QSignalSpy fired(row, &MRRowView::clicked);
        row->setFocus(Qt::TabFocusReason);
        QVERIFY(row->hasFocus());
        if (key || !text.isEmpty()) {
            QTest::sendKeyEvent(QTest::Press, row, Qt::Key(key), text, Qt::NoModifier);
            QTest::sendKeyEvent(QTest::Release, row, Qt::Key(key), text, Qt::NoModifier);
        } else {
            QTest::mousePress(row, Qt::LeftButton, {}, QPoint(150, 15));
            QTest::mouseRelease(row, Qt::LeftButton, {}, QPoint(releaseX, 15));
        }
        QCOMPARE(fired.size(), clicks);
        QCOMPARE(other->hasFocus(), key == Qt::Key_Tab);
    }

    void historyRow_data()
    {
        QTest::addColumn<QString>("prompt");
        QTest::addColumn<QString>("shown");
        // Long enough to run into the time: the prompt gives way, never the time.
        const QString longPrompt =
            QStringLiteral("Show every customer who ordered more than twice last winter and paid late");
        QTest::newRow("long") << longPrompt << longPrompt;
        QTest::newRow("empty") << QString() << QStringLiteral("(empty prompt)");
        QTest::newRow("only spaces, unchanged") << QStringLiteral("   ") << QStringLiteral("   ");
    }

    void historyRow()
    {
        QFETCH(QString, prompt);
        QFETCH(QString, shown);
        const QString time = QStringLiteral("Yesterday 14:05");
        auto* row = place(new MRHistoryRow(prompt, QStringLiteral("SELECT name FROM customers"), time), QSize(300, 62));
        QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(row);
        QCOMPARE(iface->text(QAccessible::Name), shown);
        QSignalSpy clicks(row, &MRRowView::clicked);
        iface->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
        // A click on the SQL line is the row's click.
        QTest::mouseClick(row->sqlLine(), Qt::LeftButton, {}, QPoint(5, 5));
        QCOMPARE(clicks.size(), 2);

        // The time keeps its full width at the right; the prompt stops 10 points before it.
        const int timeLeft = 300 - 14 - qCeil(QFontMetricsF(MRTheme::uiFont(11)).horizontalAdvance(time));
        const QImage image = row->grab().toImage();
        const QColor background = image.pixelColor(timeLeft - 5, 3);
        const auto inkIn = [&](int x0, int x1) {
            for (int x = x0; x < x1; ++x)
                for (int y = 10; y < 32; ++y)
                    if (image.pixelColor(x, y) != background)
                        return true;
            return false;
        };
        QVERIFY(inkIn(timeLeft, timeLeft + 4));
        QVERIFY(inkIn(300 - 18, 300 - 14));
        QVERIFY(!inkIn(timeLeft - 9, timeLeft - 1));
        QCOMPARE(inkIn(14, 20), !shown.trimmed().isEmpty());
    }

    void chip()
    {
        auto* chip = place(new MRSettingChip(QStringLiteral("tablecells"), QStringLiteral("Single"), MRTheme::accent()),
                           QSize(120, 26));
        chip->setSettingName(QStringLiteral("Single Results Mode"));
        QList<bool> heard;
        connect(chip, &MRSettingChip::toggled, chip, [&heard](bool on) { heard.append(on); });
        const QPoint inside(100, 13);
        QVERIFY(shows(chip, inside, onWindow()));
        hover(chip);
        QVERIFY(shows(chip, inside, onWindow(MRTheme::rowHover())));
        // Turned on under the pointer it shows the on fill, not the hover one, and keeps it after.
        QTest::mouseClick(chip, Qt::LeftButton);
        const QColor onFill = onWindow(MRTheme::accent().withAlpha(0.14));
        QVERIFY(shows(chip, inside, onFill));
        QTest::mouseMove(m_window.get(), QPoint(2, 2));
        QTRY_VERIFY(!chip->underMouse());
        QVERIFY(shows(chip, inside, onFill));
        QTest::mouseClick(chip, Qt::LeftButton);
        QCOMPARE(heard, (QList<bool>{true, false}));

        // A change from code is not the user's: no toggled().
        chip->setOn(true);
        QCOMPARE(heard.size(), 2);
        QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(chip);
        QCOMPARE(iface->text(QAccessible::Name), QStringLiteral("Single Results Mode"));
        QVERIFY(iface->state().checked);
        iface->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
        QVERIFY(!iface->state().checked);
        QCOMPARE(heard, (QList<bool>{true, false, false}));
    }

    void pill_data()
    {
        QTest::addColumn<int>("start");
        QTest::addColumn<int>("key"); // 0: a click at clickX, or the accessibility press when clickX is -1
        QTest::addColumn<int>("clickX");
        QTest::addColumn<int>("selected");
        QTest::addColumn<QList<int>>("heard");
        QTest::newRow("right on the last stays") << 1 << int(Qt::Key_Right) << -1 << 1 << QList<int>{};
        QTest::newRow("left on the first stays") << 0 << int(Qt::Key_Left) << -1 << 0 << QList<int>{};
        QTest::newRow("right moves on") << 0 << int(Qt::Key_Right) << -1 << 1 << QList<int>{1};
        QTest::newRow("space on the last wraps") << 1 << int(Qt::Key_Space) << -1 << 0 << QList<int>{0};
        QTest::newRow("return moves on") << 0 << int(Qt::Key_Return) << -1 << 1 << QList<int>{1};
        QTest::newRow("enter on the last wraps") << 1 << int(Qt::Key_Enter) << -1 << 0 << QList<int>{0};
        QTest::newRow("other keys do nothing") << 0 << int(Qt::Key_Down) << -1 << 0 << QList<int>{};
        QTest::newRow("out of range is clamped") << 7 << int(Qt::Key_Right) << -1 << 1 << QList<int>{1};
        QTest::newRow("click the second half") << 0 << 0 << 150 << 1 << QList<int>{1};
        QTest::newRow("click the selected segment") << 1 << 0 << 150 << 1 << QList<int>{};
        QTest::newRow("click the first half") << 1 << 0 << 99 << 0 << QList<int>{0};
        QTest::newRow("accessibility press wraps") << 1 << 0 << -1 << 0 << QList<int>{0};
    }

    void pill()
    {
        QFETCH(int, start);
        QFETCH(int, key);
        QFETCH(int, clickX);
        QFETCH(int, selected);
        QFETCH(QList<int>, heard);
        auto* pill = place(new MRPill({QStringLiteral("Query"), QStringLiteral("History")}), QSize(200, 30));
        QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(pill);
        QList<int> calls;
        connect(pill, &MRPill::selectionChanged, pill, [&calls](int index) { calls.append(index); });
        pill->setSelectedIndex(start);
        QCOMPARE(iface->text(QAccessible::Value), pill->titles().value(start));

        pill->setFocus(Qt::TabFocusReason);
        if (clickX >= 0)
            QTest::mouseClick(pill, Qt::LeftButton, {}, QPoint(clickX, 15));
        else if (key)
            QTest::keyClick(pill, Qt::Key(key));
        else
            iface->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
        QCOMPARE(iface->text(QAccessible::Value), pill->titles().at(selected));
        QCOMPARE(calls, heard);
        // The thumb comes to rest behind the selected segment only.
        const QPoint segments[] = {QPoint(8, 15), QPoint(108, 15)};
        QTRY_VERIFY(!pill->isAnimating());
        QVERIFY(shows(pill, segments[selected], onWindow(MRTheme::elevatedBackground())));
        QVERIFY(shows(pill, segments[1 - selected], onWindow(MRTheme::rowHover())));
    }

    void buttonFills_data()
    {
        QTest::addColumn<int>("style");
        QTest::addColumn<QList<MRColor>>("fills"); // at rest, hovered, pressed
        const MRColor none;
        QTest::newRow("primary") << 0
                                 << QList<MRColor>{MRTheme::accent(), MRTheme::accentPressed(),
                                                   MRTheme::accentPressed()};
        QTest::newRow("ghost") << 1 << QList<MRColor>{none, MRTheme::rowHover(), MRTheme::rowSelected()};
        QTest::newRow("icon") << 2 << QList<MRColor>{none, MRTheme::rowHover(), MRTheme::rowSelected()};
        QTest::newRow("unknown style") << 7 << QList<MRColor>{none, none, none};
    }

    void buttonFills()
    {
        QFETCH(int, style);
        QFETCH(QList<MRColor>, fills);
        auto* button = place(new MRButton, QSize(80, 32));
        button->setMrStyle(MRButton::Style(style));
        const QPoint centre(40, 16);
        QVERIFY(shows(button, centre, onWindow(fills.at(0))));
        // Only the ghost look has a border.
        QVERIFY(shows(button, QPoint(40, 0), onWindow(style == 1 ? MRTheme::hairline() : fills.at(0))));
        hover(button);
        QVERIFY(shows(button, centre, onWindow(fills.at(1))));
        QTest::mousePress(button, Qt::LeftButton);
        QVERIFY(shows(button, centre, onWindow(fills.at(2))));
        QTest::mouseRelease(button, Qt::LeftButton);
    }

    void panelShadowOnAndOff()
    {
        auto* panel = place(new MRPanel, QSize(200, 80));
        const QPoint below(100, 83);
        panel->setElevated(true);
        QVERIFY(shownAt(panel, below).lightness() < onWindow().lightness() - 2);
        panel->setElevated(false);
        QVERIFY(shows(panel, below, onWindow()));
    }

    void dotGridRepaintsPartOfADot()
    {
        MRDotGridView grid;
        grid.resize(100, 100);
        const auto render = [&grid](const QRegion& dirty) {
            QImage image(100, 100, QImage::Format_ARGB32);
            image.fill(Qt::transparent);
            grid.render(&image, {}, dirty, QWidget::RenderFlags());
            return image;
        };
        const QImage whole = render(QRegion(0, 0, 100, 100));
        QVERIFY(qAlpha(whole.pixel(44, 44)) > 0);
        // A repaint whose lower edge runs through the dots of row 44 still draws their upper
        // halves, the same pixels as a whole repaint, and nothing outside the dirty area.
        const QImage part = render(QRegion(0, 0, 100, 44));
        QVERIFY(qAlpha(part.pixel(44, 43)) > 0);
        QCOMPARE(part.pixel(44, 43), whole.pixel(44, 43));
        QCOMPARE(qAlpha(part.pixel(44, 44)), 0);
    }

    void appearanceSwitchRepaints()
    {
        auto* primary = place(MRStyleKit::primaryButtonWithTitle(QStringLiteral("Update")), QSize(90, 32));
        auto* panel = place(new MRPanel, QSize(60, 40));
        auto* pill = place(new MRPill({QStringLiteral("Query"), QStringLiteral("History")}), QSize(160, 30));
        auto* row = place(new MRSidebarRow(QString(), QStringLiteral("Recent")), QSize(120, 32));
        row->setDotColor(MRTheme::statusDot());
        auto* sparkle = place(MRStyleKit::sparkleViewOfSize(40));
        auto* header = place(MRStyleKit::sectionHeader(QStringLiteral("Recents")));

        const std::tuple<QWidget*, QPoint, MRColor> samples[] = {
            {m_window.get(), QPoint(3, 3), MRTheme::windowBackground()},
            {primary, QPoint(4, 16), MRTheme::accent()},
            {panel, QPoint(30, 20), MRTheme::inputBackground()},
            {pill, QPoint(8, 15), MRTheme::elevatedBackground()},
            {row, QPoint(18, 16), MRTheme::statusDot()},
            {sparkle, QPoint(36, 20), MRTheme::accent()},
        };
        // Counts the repaints each widget gets, so a switch is seen on screen, not only in a grab.
        PaintCounter paints;
        for (const auto& [widget, at, color] : samples)
            widget->installEventFilter(&paints);

        // The same widgets, never rebuilt, follow each switch and come back without a stale colour.
        for (int mode : {1, 2, 1, 2}) {
            paints.counts.clear();
            ThemeManager::shared().setMode(ThemeManager::Mode(mode));
            for (const auto& [widget, at, color] : samples) {
                QTRY_VERIFY(paints.counts.value(widget) > 0);
                QVERIFY(shows(widget, at, onWindow(color)));
            }
            QCOMPARE(header->palette().color(QPalette::WindowText), MRTheme::textTertiary().resolve(mode == 2));
        }
    }

    // Qt's own form controls in the field style: an edge that stands out from the window and the
    // input fill (the accent for a ticked box), in light and in dark, on the same widgets as the
    // appearance switches; a focused field is ringed in the accent.
    void formControls_data()
    {
        QTest::addColumn<QString>("kind");
        for (const char* kind : {"field", "focused field", "combo box", "check box", "ticked check box"})
            QTest::newRow(kind) << QString::fromLatin1(kind);
    }

    void formControls()
    {
        QFETCH(QString, kind);
        QWidget* control = nullptr;
        QRect box; // the bezel, or the check box's box
        if (kind.endsWith(QLatin1String("check box"))) {
            auto* check = new QCheckBox(QStringLiteral("Use SSL"));
            check->setChecked(kind.startsWith(QLatin1String("ticked")));
            MRFieldStyle::apply(check);
            place(check);
            QStyleOptionButton option;
            option.initFrom(check);
            box = check->style()->subElementRect(QStyle::SE_CheckBoxIndicator, &option, check);
            control = check;
        } else if (kind == QLatin1String("combo box")) {
            auto* combo = new QComboBox;
            combo->addItems({QStringLiteral("PostgreSQL"), QStringLiteral("MySQL")});
            MRFieldStyle::apply(combo);
            control = place(combo, QSize(200, combo->sizeHint().height()));
            box = combo->rect();
        } else {
            auto* field = new QLineEdit;
            MRFieldStyle::apply(field);
            control = place(field, QSize(200, 24));
            box = field->rect();
            // The window hands its only field the focus as it opens.
            if (kind.startsWith(QLatin1String("focused"))) {
                field->setFocus(Qt::TabFocusReason);
                QTRY_VERIFY(field->hasFocus());
            } else {
                field->clearFocus();
            }
        }
        const bool ticked = kind.startsWith(QLatin1String("ticked"));
        const bool focused = kind.startsWith(QLatin1String("focused"));
        PaintCounter paints;
        control->installEventFilter(&paints);

        // The test starts in light: to dark and back, each switch seen on screen.
        for (const bool dark : {true, false}) {
            paints.counts.clear();
            ThemeManager::shared().setMode(dark ? ThemeManager::Mode::Dark : ThemeManager::Mode::Light);
            QTRY_VERIFY(paints.counts.value(control) > 0);
            const QColor window = onWindow();
            const QColor edge = shownAt(control, QPoint(box.center().x(), box.top()));
            QVERIFY2(MRContrast::ratio(edge, window) >= MRContrast::kSecondary,
                     qPrintable(QStringLiteral("the edge %1 on %2").arg(edge.name(), window.name())));
            const MRColor fill = ticked ? MRTheme::accent() : MRTheme::inputBackground();
            const QPoint inside = box.topLeft() + QPoint(2, box.height() / 2);
            if (focused) {
                // The ring lies over the fill just inside the edge.
                const QColor ring = MRTheme::accent().withAlpha(0.55).resolve(dark);
                QVERIFY(shows(control, QPoint(box.center().x(), box.top() + 1),
                              MRContrast::over(ring, MRTheme::inputBackground().resolve(dark))));
            } else {
                QVERIFY(shows(control, QPoint(box.center().x(), box.top()),
                              onWindow(ticked ? fill : MRFieldStyle::border())));
                QVERIFY(shows(control, ticked ? box.topLeft() + QPoint(2, 2) : inside, onWindow(fill)));
            }
        }
    }

    void disabledRowsDim_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QSize>("size");
        QTest::newRow("suggestion row") << int(Kind::SuggestionRow) << QSize(300, 52);
        QTest::newRow("history row, its SQL line included") << int(Kind::HistoryRow) << QSize(300, 62);
        QTest::newRow("sidebar row") << int(Kind::SidebarRow) << QSize(200, 32);
        QTest::newRow("click row, its labels included") << int(Kind::ClickRow) << QSize(200, 22);
    }

    void disabledRowsDim()
    {
        QFETCH(int, kind);
        QFETCH(QSize, size);
        auto* row = static_cast<MRRowView*>(place(make(Kind(kind)), size));
        QSignalSpy clicks(row, &MRRowView::clicked);
        const qint64 atRest = inkOf(row);
        QVERIFY(atRest > 0);

        // Disabled under the pointer: no hover fill, everything at the opacity of a disabled button.
        hover(row);
        if (Kind(kind) != Kind::ClickRow) // it has no fill of its own
            QVERIFY(inkOf(row) > atRest);
        row->setEnabled(false);
        const qreal share = qreal(inkOf(row)) / qreal(atRest);
        QVERIFY2(share > 0.33 && share < 0.47, qPrintable(QString::number(share)));

        // Nothing reaches it, and assistive technology hears that it is unavailable.
        QTest::mouseClick(row, Qt::LeftButton);
        QTest::keyClick(row, Qt::Key_Space);
        QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(row);
        QVERIFY(iface->state().disabled);
        iface->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
        QCOMPARE(clicks.size(), 0);

        row->setEnabled(true);
        QTest::mouseMove(m_window.get(), QPoint(2, 2));
        QTRY_VERIFY(!row->underMouse());
        QCOMPARE(inkOf(row), atRest);
    }

    void accessibility_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("role");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("value");
        QTest::addColumn<int>("checked"); // -1: not checkable
        QTest::addColumn<QString>("valueAfterPress");
        const auto button = int(QAccessible::Button);
        QTest::newRow("suggestion row") << int(Kind::SuggestionRow) << button
                                        << QStringLiteral("Show the latest orders") << QString() << -1 << QString();
        QTest::newRow("history row") << int(Kind::HistoryRow) << button << QStringLiteral("Orders of last week")
                                     << QString() << -1 << QString();
        QTest::newRow("sidebar row") << int(Kind::SidebarRow) << button << QStringLiteral("New query") << QString()
                                     << -1 << QString();
        QTest::newRow("click row") << int(Kind::ClickRow) << button << QStringLiteral("Recents") << QString() << -1
                                   << QString();
        QTest::newRow("chip, off") << int(Kind::ChipOff) << int(QAccessible::CheckBox)
                                   << QStringLiteral("Single Results Mode") << QStringLiteral("0") << 0
                                   << QStringLiteral("1");
        QTest::newRow("chip, on") << int(Kind::ChipOn) << int(QAccessible::CheckBox)
                                  << QStringLiteral("Single Results Mode") << QStringLiteral("1") << 1
                                  << QStringLiteral("0");
        QTest::newRow("view switch") << int(Kind::Pill) << button << QStringLiteral("Switch view")
                                     << QStringLiteral("Query") << -1 << QStringLiteral("History");
        QTest::newRow("send button") << int(Kind::SendButton) << button << QStringLiteral("Send") << QString() << -1
                                     << QString();
        QTest::newRow("icon button") << int(Kind::IconButton) << button << QStringLiteral("Insert an example")
                                     << QString() << -1 << QString();
    }

    void accessibility()
    {
        QFETCH(int, kind);
        QFETCH(int, role);
        QFETCH(QString, name);
        QFETCH(QString, value);
        QFETCH(int, checked);
        QFETCH(QString, valueAfterPress);
        QWidget* widget = place(make(Kind(kind)));
        QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(widget);
        QVERIFY(iface);
        QCOMPARE(int(iface->role()), role);
        QCOMPARE(iface->text(QAccessible::Name), name);
        QCOMPARE(iface->state().checkable, checked >= 0);
        QCOMPARE(iface->state().checked, checked == 1);
        if (auto* button = qobject_cast<MRButton*>(widget))
            QCOMPARE(button->toolTip(), name); // the same words for the pointer as for the ear
        else
            QCOMPARE(iface->text(QAccessible::Value), value);

        // The press action does what a click does, once.
        QSignalSpy* spy = nullptr;
        if (auto* row = qobject_cast<MRRowView*>(widget))
            spy = new QSignalSpy(row, &MRRowView::clicked);
        else if (auto* chip = qobject_cast<MRSettingChip*>(widget))
            spy = new QSignalSpy(chip, &MRSettingChip::toggled);
        else if (auto* pill = qobject_cast<MRPill*>(widget))
            spy = new QSignalSpy(pill, &MRPill::selectionChanged);
        else
            spy = new QSignalSpy(static_cast<MRButton*>(widget), &QAbstractButton::clicked);
        const std::unique_ptr<QSignalSpy> heard(spy);
        QVERIFY(iface->actionInterface()->actionNames().contains(QAccessibleActionInterface::pressAction()));
        iface->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
        QTRY_COMPARE(heard->size(), 1);
        if (!valueAfterPress.isEmpty())
            QCOMPARE(iface->text(QAccessible::Value), valueAfterPress);
        if (checked >= 0)
            QCOMPARE(iface->state().checked, checked == 0);
    }

private:
    std::unique_ptr<QWidget> m_window;
    QHBoxLayout* m_layout = nullptr;

    template <typename W> W* place(W* widget, QSize size = {})
    {
        m_layout->addWidget(widget);
        if (size.isValid())
            widget->setFixedSize(size);
        widget->show();
        m_layout->activate();
        m_window->show();
        m_window->activateWindow();
        (void)QTest::qWaitForWindowActive(m_window.get());
        return widget;
    }
};

QTEST_MAIN(TestWidgets)
#include "tst_widgets.moc"
