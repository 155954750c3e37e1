#include "ui/MRButton.h"
#include "ui/MRClickRow.h"
#include "ui/MRContentRootView.h"
#include "ui/MRDotGridView.h"
#include "ui/MRHistoryRow.h"
#include "ui/MRImageView.h"
#include "ui/MRLabel.h"
#include "ui/MRPanel.h"
#include "ui/MRPill.h"
#include "ui/MRSettingChip.h"
#include "ui/MRSidebarRow.h"
#include "ui/MRStyleKit.h"
#include "ui/MRSuggestionRow.h"
#include "ui/MRTheme.h"
#include "ui/ThemeManager.h"
#include "workspace/MRSQLLineView.h"

#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QApplication>
#include <QHBoxLayout>
#include <QTest>

namespace {

// A translucent palette colour as it lands on an opaque background.
QColor over(const QColor& top, const QColor& bottom)
{
    const float a = top.alphaF();
    return QColor::fromRgbF(top.redF() * a + bottom.redF() * (1 - a), top.greenF() * a + bottom.greenF() * (1 - a),
                            top.blueF() * a + bottom.blueF() * (1 - a));
}

bool near(const QColor& actual, const QColor& expected)
{
    return qAbs(actual.red() - expected.red()) <= 2 && qAbs(actual.green() - expected.green()) <= 2 &&
           qAbs(actual.blue() - expected.blue()) <= 2;
}

// What the screen shows at a point of a widget: the window is grabbed, so the widget's
// translucent fills land on the real background.
QColor shownAt(QWidget* widget, QPoint at)
{
    QWidget* window = widget->window();
    return window->grab(QRect(widget->mapTo(window, at), QSize(1, 1))).toImage().pixelColor(0, 0);
}

QColor resolved(const MRColor& color)
{
    return color.resolve(ThemeManager::shared().isDark());
}

void hover(QWidget* widget)
{
    QTest::mouseMove(widget, widget->rect().center());
    QTRY_VERIFY(widget->underMouse());
}

class PaintCounter : public QObject
{
public:
    QHash<QObject*, int> counts;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Paint)
            ++counts[watched];
        return false;
    }
};

} // namespace

class TestWidgets : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void rowClicksOnReleaseInside();
    void rowKeys_data();
    void rowKeys();
    void rowAccessibility();
    void historyRow_data();
    void historyRow();
    void chipToggles();
    void chipOnKeepsItsFillWhenHovered();
    void pillInput_data();
    void pillInput();
    void pillGeometryAndAnimation();
    void pillAccessibility();
    void buttonFills_data();
    void buttonFills();
    void buttonNaturalSize();
    void panelShadowOnAndOff();
    void dotGridRepaintsPartOfADot();
    void appearanceSwitchRepaints();

private:
    QWidget* m_window = nullptr;
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
        (void)QTest::qWaitForWindowActive(m_window);
        return widget;
    }
};

void TestWidgets::initTestCase()
{
    ThemeManager::shared().setMode(1);
}

void TestWidgets::init()
{
    m_window = new MRContentRootView;
    m_layout = new QHBoxLayout(m_window);
    m_layout->setContentsMargins(30, 30, 30, 30);
    m_layout->setSpacing(10);
    m_layout->setSizeConstraint(QLayout::SetNoConstraint);
    m_window->resize(700, 120);
    // The pointer stays where the last test left it; park it on the margin.
    QTest::mouseMove(m_window, QPoint(2, 2));
}

void TestWidgets::cleanup()
{
    delete m_window;
    m_window = nullptr;
    ThemeManager::shared().setMode(1);
}

void TestWidgets::rowClicksOnReleaseInside()
{
    auto* row = place(new MRClickRow, QSize(200, 30));
    auto* label = MRStyleKit::sectionHeader(QStringLiteral("Recents"));
    label->setParent(row);
    label->setGeometry(5, 5, 100, 20);
    label->show();
    int clicks = 0;
    row->setOnClick([&clicks] { ++clicks; });

    QTest::mouseClick(row, Qt::LeftButton, {}, QPoint(150, 15));
    QCOMPARE(clicks, 1);
    // A label inside the row never takes the click.
    QTest::mouseClick(label, Qt::LeftButton, {}, QPoint(10, 10));
    QCOMPARE(clicks, 2);
    // Pressed inside, released outside: nothing.
    QTest::mousePress(row, Qt::LeftButton, {}, QPoint(150, 15));
    QTest::mouseRelease(row, Qt::LeftButton, {}, QPoint(250, 15));
    QCOMPARE(clicks, 2);
    // The press alone sends nothing.
    QTest::mousePress(row, Qt::LeftButton, {}, QPoint(150, 15));
    QCOMPARE(clicks, 2);
    QTest::mouseRelease(row, Qt::LeftButton, {}, QPoint(150, 15));
    QCOMPARE(clicks, 3);
}

void TestWidgets::rowKeys_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("clicks");
    QTest::newRow("space") << int(Qt::Key_Space) << QStringLiteral(" ") << 1;
    QTest::newRow("return") << int(Qt::Key_Return) << QStringLiteral("\r") << 1;
    QTest::newRow("enter") << int(Qt::Key_Enter) << QStringLiteral("\r") << 1;
    QTest::newRow("line feed") << 0 << QStringLiteral("\n") << 1;
    QTest::newRow("tab") << int(Qt::Key_Tab) << QStringLiteral("\t") << 0;
    QTest::newRow("letter") << int(Qt::Key_A) << QStringLiteral("a") << 0;
    QTest::newRow("escape") << int(Qt::Key_Escape) << QStringLiteral("\x1b") << 0;
}

void TestWidgets::rowKeys()
{
    QFETCH(int, key);
    QFETCH(QString, text);
    QFETCH(int, clicks);
    auto* row = place(new MRSidebarRow(QStringLiteral("plus"), QStringLiteral("New query")), QSize(200, 32));
    auto* other = place(new MRSidebarRow(QString(), QStringLiteral("Other")), QSize(200, 32));
    int fired = 0;
    row->setOnClick([&fired] { ++fired; });
    row->setFocus(Qt::TabFocusReason);
    QVERIFY(row->hasFocus());
    QTest::sendKeyEvent(QTest::Press, row, Qt::Key(key), text, Qt::NoModifier);
    QTest::sendKeyEvent(QTest::Release, row, Qt::Key(key), text, Qt::NoModifier);
    QCOMPARE(fired, clicks);
    if (key == Qt::Key_Tab)
        QVERIFY(other->hasFocus());
}

void TestWidgets::rowAccessibility()
{
    auto* row = place(new MRSuggestionRow(QStringLiteral("clock"), QStringLiteral("Show the 10 most recent orders")));
    QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(row);
    QVERIFY(iface);
    QCOMPARE(iface->role(), QAccessible::Button);
    QCOMPARE(iface->text(QAccessible::Name), QStringLiteral("Show the 10 most recent orders"));
    QAccessibleActionInterface* actions = iface->actionInterface();
    QVERIFY(actions);
    QVERIFY(actions->actionNames().contains(QAccessibleActionInterface::pressAction()));
    // Without onClick the press is harmless.
    actions->doAction(QAccessibleActionInterface::pressAction());
    int clicks = 0;
    row->setOnClick([&clicks] { ++clicks; });
    actions->doAction(QAccessibleActionInterface::pressAction());
    QCOMPARE(clicks, 1);
}

void TestWidgets::historyRow_data()
{
    QTest::addColumn<QString>("prompt");
    QTest::addColumn<QString>("shown");
    QTest::newRow("plain") << QStringLiteral("Top customers") << QStringLiteral("Top customers");
    QTest::newRow("empty") << QString() << QStringLiteral("(empty prompt)");
    QTest::newRow("only spaces, unchanged") << QStringLiteral("   ") << QStringLiteral("   ");
    QTest::newRow("long") << QStringLiteral("Show every customer who ordered more than twice last winter and paid late")
                          << QStringLiteral(
                                 "Show every customer who ordered more than twice last winter and paid late");
}

void TestWidgets::historyRow()
{
    QFETCH(QString, prompt);
    QFETCH(QString, shown);
    const QString time = QStringLiteral("Yesterday 14:05");
    auto* row = place(new MRHistoryRow(prompt, QStringLiteral("SELECT name FROM customers"), time), QSize(300, 62));
    QCOMPARE(row->promptText(), shown);
    QCOMPARE(QAccessible::queryAccessibleInterface(row)->text(QAccessible::Name), shown);
    QCOMPARE(row->sqlLine()->sql(), QStringLiteral("SELECT name FROM customers"));

    // A click on the SQL line is the row's click.
    int clicks = 0;
    row->setOnClick([&clicks] { ++clicks; });
    QTest::mouseClick(row->sqlLine(), Qt::LeftButton, {}, QPoint(5, 5));
    QCOMPARE(clicks, 1);

    // The time keeps its full width at the right; the prompt stops 10 points before it.
    const int timeWidth = qCeil(QFontMetricsF(MRTheme::uiFont(11)).horizontalAdvance(time));
    const int timeLeft = 300 - 14 - timeWidth;
    const QImage image = row->grab().toImage();
    const QColor background = image.pixelColor(timeLeft - 5, 3);
    const auto inkIn = [&](int x0, int x1) {
        int count = 0;
        for (int x = x0; x < x1; ++x)
            for (int y = 10; y < 32; ++y)
                count += image.pixelColor(x, y) != background;
        return count;
    };
    QVERIFY(inkIn(timeLeft, timeLeft + 4) > 0);
    QVERIFY(inkIn(300 - 14 - 4, 300 - 14) > 0);
    QCOMPARE(inkIn(timeLeft - 9, timeLeft - 1), 0);
    const bool blankPrompt = shown.trimmed().isEmpty();
    QCOMPARE(inkIn(14, 20) > 0, !blankPrompt);
}

void TestWidgets::chipToggles()
{
    auto* chip = place(new MRSettingChip(QStringLiteral("tablecells"), QStringLiteral("Single"), MRTheme::accent()));
    chip->setSettingName(QStringLiteral("Single Results Mode"));
    chip->setSettingDetail(QStringLiteral("Simple single-table answers, no UNION"));
    QCOMPARE(chip->toolTip(), QStringLiteral("Simple single-table answers, no UNION"));
    QList<bool> heard;
    chip->setOnToggle([&heard](bool on) { heard.append(on); });

    QTest::mouseClick(chip, Qt::LeftButton);
    QCOMPARE(chip->isOn(), true);
    QCOMPARE(heard, QList<bool>{true});
    QTest::mouseClick(chip, Qt::LeftButton);
    QCOMPARE(chip->isOn(), false);
    QCOMPARE(heard, (QList<bool>{true, false}));

    chip->setOn(true);
    chip->setOn(false);
    chip->setOn(true);
    QCOMPARE(heard.size(), 2);

    QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(chip);
    QCOMPARE(iface->role(), QAccessible::CheckBox);
    QCOMPARE(iface->text(QAccessible::Name), QStringLiteral("Single Results Mode"));
    QVERIFY(iface->state().checked);
    QCOMPARE(iface->text(QAccessible::Value), QStringLiteral("1"));
    iface->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    QCOMPARE(chip->isOn(), false);
    QVERIFY(!iface->state().checked);
    QCOMPARE(iface->text(QAccessible::Value), QStringLiteral("0"));
    QCOMPARE(heard, (QList<bool>{true, false, false}));
}

void TestWidgets::chipOnKeepsItsFillWhenHovered()
{
    auto* chip = place(new MRSettingChip(QStringLiteral("tablecells"), QStringLiteral("Single"), MRTheme::accent()),
                       QSize(120, 26));
    const QPoint inside(100, 13);
    const QColor background = resolved(MRTheme::windowBackground());
    QVERIFY(near(shownAt(chip, inside), background));
    hover(chip);
    QVERIFY(near(shownAt(chip, inside), over(resolved(MRTheme::rowHover()), background)));
    chip->setOn(true);
    const QColor onFill = over(resolved(MRTheme::accent().withAlpha(0.14)), background);
    QVERIFY(near(shownAt(chip, inside), onFill));
    QTest::mouseMove(m_window, QPoint(2, 2));
    QTRY_VERIFY(!chip->underMouse());
    QVERIFY(near(shownAt(chip, inside), onFill));
}

void TestWidgets::pillInput_data()
{
    QTest::addColumn<int>("start");
    QTest::addColumn<int>("key");
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
    QTest::newRow("wrap from out of range") << 7 << int(Qt::Key_Space) << -1 << 0 << QList<int>{0};
    QTest::newRow("click the second half") << 0 << 0 << 150 << 1 << QList<int>{1};
    QTest::newRow("click the selected segment") << 1 << 0 << 150 << 1 << QList<int>{};
    QTest::newRow("click the first half") << 1 << 0 << 99 << 0 << QList<int>{0};
}

void TestWidgets::pillInput()
{
    QFETCH(int, start);
    QFETCH(int, key);
    QFETCH(int, clickX);
    QFETCH(int, selected);
    QFETCH(QList<int>, heard);
    auto* pill = place(new MRPill({QStringLiteral("Query"), QStringLiteral("History")}), QSize(200, 30));
    QList<int> calls;
    pill->setOnChange([&calls](int index) { calls.append(index); });
    pill->setSelectedIndex(start);
    QCOMPARE(pill->selectedIndex(), start);
    QVERIFY(calls.isEmpty());

    pill->setFocus(Qt::TabFocusReason);
    if (clickX >= 0)
        QTest::mouseClick(pill, Qt::LeftButton, {}, QPoint(clickX, 15));
    else
        QTest::keyClick(pill, Qt::Key(key));
    QCOMPARE(pill->selectedIndex(), selected);
    QCOMPARE(calls, heard);
}

void TestWidgets::pillGeometryAndAnimation()
{
    auto* pill = place(new MRPill({QStringLiteral("Query"), QStringLiteral("History")}), QSize(200, 30));
    QCOMPARE(pill->thumbRectForIndex(0), QRectF(3, 3, 94, 24));
    QCOMPARE(pill->thumbRectForIndex(1), QRectF(103, 3, 94, 24));
    QCOMPARE(pill->currentThumbRect(), pill->thumbRectForIndex(0));

    pill->selectIndex(1, false, false);
    QCOMPARE(pill->currentThumbRect(), pill->thumbRectForIndex(1));
    pill->selectIndex(0, true, false);
    QVERIFY(pill->isAnimating());
    QTRY_COMPARE_WITH_TIMEOUT(pill->currentThumbRect(), pill->thumbRectForIndex(0), 1000);
    QVERIFY(!pill->isAnimating());

    // The selected title is drawn in the primary text colour, the other in the secondary.
    const QColor thumb = resolved(MRTheme::elevatedBackground());
    QVERIFY(near(shownAt(pill, QPoint(8, 15)), thumb));
    QVERIFY(!near(shownAt(pill, QPoint(108, 15)), thumb));
}

void TestWidgets::pillAccessibility()
{
    auto* pill = place(new MRPill({QStringLiteral("Query"), QStringLiteral("History")}), QSize(200, 30));
    QList<int> calls;
    pill->setOnChange([&calls](int index) { calls.append(index); });
    QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(pill);
    QCOMPARE(iface->role(), QAccessible::Button);
    QCOMPARE(iface->text(QAccessible::Name), QStringLiteral("Switch view"));
    QCOMPARE(iface->text(QAccessible::Value), QStringLiteral("Query"));
    iface->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    QCOMPARE(iface->text(QAccessible::Value), QStringLiteral("History"));
    iface->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    QCOMPARE(iface->text(QAccessible::Value), QStringLiteral("Query"));
    QCOMPARE(calls, (QList<int>{1, 0}));
    pill->setSelectedIndex(4);
    QCOMPARE(iface->text(QAccessible::Value), QString());
}

void TestWidgets::buttonFills_data()
{
    QTest::addColumn<int>("style");
    QTest::addColumn<QString>("state");
    QTest::addColumn<MRColor>("fill");
    const MRColor none;
    QTest::newRow("primary rest") << 0 << "rest" << MRTheme::accent();
    QTest::newRow("primary hover") << 0 << "hover" << MRTheme::accentPressed();
    QTest::newRow("primary pressed") << 0 << "pressed" << MRTheme::accentPressed();
    QTest::newRow("ghost rest") << 1 << "rest" << none;
    QTest::newRow("ghost hover") << 1 << "hover" << MRTheme::rowHover();
    QTest::newRow("ghost pressed") << 1 << "pressed" << MRTheme::rowSelected();
    QTest::newRow("icon rest") << 2 << "rest" << none;
    QTest::newRow("icon hover") << 2 << "hover" << MRTheme::rowHover();
    QTest::newRow("icon pressed") << 2 << "pressed" << MRTheme::rowSelected();
    QTest::newRow("unknown style hover") << 7 << "hover" << none;
}

void TestWidgets::buttonFills()
{
    QFETCH(int, style);
    QFETCH(QString, state);
    QFETCH(MRColor, fill);
    auto* button = place(new MRButton, QSize(80, 32));
    button->setMrStyle(style);
    if (state != QLatin1String("rest"))
        hover(button);
    if (state == QLatin1String("pressed"))
        QTest::mousePress(button, Qt::LeftButton);
    const QColor background = resolved(MRTheme::windowBackground());
    const QColor expected = fill == MRColor() ? background : over(resolved(fill), background);
    QVERIFY2(near(shownAt(button, QPoint(40, 16)), expected), qPrintable(shownAt(button, QPoint(40, 16)).name()));
    // Only the ghost look has a border.
    if (state == QLatin1String("rest"))
        QCOMPARE(near(shownAt(button, QPoint(40, 0)), over(resolved(MRTheme::hairline()), expected)), style == 1);
    if (state == QLatin1String("pressed"))
        QTest::mouseRelease(button, Qt::LeftButton);
}

void TestWidgets::buttonNaturalSize()
{
    MRButton* ghost = MRStyleKit::ghostButtonWithTitle(QStringLiteral("Later"));
    MRButton* bare = new MRButton;
    bare->setStyledTitle(MRStyleKit::titleString(QStringLiteral("Later"), MRTheme::textPrimary(), QFont::Medium, 12.5));
    bare->setImage(MRStyleKit::symbol(QStringLiteral("plus"), 14, QFont::Normal));
    MRButton* send = MRStyleKit::sendButtonWithTarget();
    MRButton* icon = MRStyleKit::iconButtonWithSymbol(QStringLiteral("plus"), QStringLiteral("Add connection"));
    const int text =
        qCeil(QFontMetricsF(MRTheme::uiFont(12.5, QFont::Medium)).horizontalAdvance(QStringLiteral("Later")));
    QVERIFY(qAbs(ghost->sizeHint().width() - (text + 30)) <= 1);
    QCOMPARE(ghost->height(), 32);
    QVERIFY(bare->sizeHint().width() > ghost->sizeHint().width());
    QCOMPARE(icon->sizeHint().width(), qCeil(icon->image().size().width()));
    QCOMPARE(icon->toolTip(), QStringLiteral("Add connection"));
    QCOMPARE(QAccessible::queryAccessibleInterface(icon)->text(QAccessible::Name), QStringLiteral("Add connection"));
    QCOMPARE(send->size(), QSize(32, 32));
    QVERIFY(send->image().isSemibold());
    for (MRButton* b : {ghost, bare, send, icon})
        delete b;
}

void TestWidgets::panelShadowOnAndOff()
{
    auto* panel = place(new MRPanel, QSize(200, 80));
    const QPoint below(100, 83);
    const QColor background = resolved(MRTheme::windowBackground());
    QVERIFY(near(shownAt(panel, below), background));
    panel->setElevated(true);
    QVERIFY(shownAt(panel, below).lightness() < background.lightness() - 2);
    panel->setElevated(false);
    QVERIFY(!panel->graphicsEffect());
    QCOMPARE(shownAt(panel, below), shownAt(panel, QPoint(100, -3)));
    QVERIFY(near(shownAt(panel, below), background));
}

void TestWidgets::dotGridRepaintsPartOfADot()
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
    QCOMPARE(qAlpha(whole.pixel(33, 33)), 0);
    // A repaint whose lower edge runs through the dots of row 44 still draws their upper
    // halves, the same pixels as a whole repaint, and nothing outside the dirty area.
    const QImage part = render(QRegion(0, 0, 100, 44));
    QVERIFY(qAlpha(part.pixel(44, 43)) > 0);
    QCOMPARE(part.pixel(44, 43), whole.pixel(44, 43));
    QCOMPARE(qAlpha(part.pixel(44, 44)), 0);
}

void TestWidgets::appearanceSwitchRepaints()
{
    auto* primary = place(MRStyleKit::primaryButtonWithTitle(QStringLiteral("Update")), QSize(90, 32));
    auto* panel = place(new MRPanel, QSize(60, 40));
    auto* pill = place(new MRPill({QStringLiteral("Query"), QStringLiteral("History")}), QSize(160, 30));
    auto* row = place(new MRSidebarRow(QString(), QStringLiteral("Recent")), QSize(120, 32));
    row->setDotColor(MRTheme::statusDot());
    auto* sparkle = place(MRStyleKit::sparkleViewOfSize(40));
    auto* header = place(MRStyleKit::sectionHeader(QStringLiteral("Recents")));

    const struct
    {
        QWidget* widget;
        QPoint at;
        MRColor color;
    } samples[] = {
        {m_window, QPoint(3, 3), MRTheme::windowBackground()}, {primary, QPoint(4, 16), MRTheme::accent()},
        {panel, QPoint(30, 20), MRTheme::inputBackground()},   {pill, QPoint(8, 15), MRTheme::elevatedBackground()},
        {row, QPoint(18, 16), MRTheme::statusDot()},           {sparkle, QPoint(36, 20), MRTheme::accent()},
    };
    // Counts the repaints each widget gets, so a switch is seen on screen, not only in a grab.
    PaintCounter paints;
    for (const auto& sample : samples)
        sample.widget->installEventFilter(&paints);

    // The same widgets, never rebuilt, follow each switch and come back without a stale colour.
    for (int mode : {1, 2, 1, 2}) {
        paints.counts.clear();
        ThemeManager::shared().setMode(mode);
        for (const auto& sample : samples) {
            const QColor expected = sample.color.resolve(mode == 2);
            QTRY_VERIFY(paints.counts.value(sample.widget) > 0);
            QVERIFY2(near(shownAt(sample.widget, sample.at), expected),
                     qPrintable(QStringLiteral("%1 in mode %2: %3 instead of %4")
                                    .arg(QString::fromLatin1(sample.widget->metaObject()->className()))
                                    .arg(mode)
                                    .arg(shownAt(sample.widget, sample.at).name(), expected.name())));
        }
        QCOMPARE(header->palette().color(QPalette::WindowText), MRTheme::textTertiary().resolve(mode == 2));
    }
}

QTEST_MAIN(TestWidgets)
#include "tst_widgets.moc"
