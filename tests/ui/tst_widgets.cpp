#include "db/ConnectionManager.h"
#include "ui/MRButton.h"
#include "ui/MRContentRootView.h"
#include "ui/MRContrast.h"
#include "ui/MRDotGridView.h"
#include "ui/MRFieldStyle.h"
#include "ui/MRHistoryRow.h"
#include "ui/MRIconCatalogue.h"
#include "ui/MRLabel.h"
#include "ui/MRPanel.h"
#include "ui/MRPill.h"
#include "ui/MRSQLLineView.h"
#include "ui/MRSettingChip.h"
#include "ui/MRSidebarRow.h"
#include "ui/MRStyleKit.h"
#include "ui/MRTheme.h"
#include "ui/ThemeManager.h"

#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QMenu>
#include <QSignalSpy>
#include <QStyleOptionButton>
#include <QTest>
#include <memory>
#include <tuple>

using namespace Qt::StringLiterals;

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

// How much ink an image carries: how far its pixels lie from the background colour, or with
// none, the sum of their alpha.
qint64 inkOf(const QImage& image, const std::optional<QColor>& background = std::nullopt)
{
    qint64 ink = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor pixel = image.pixelColor(x, y);
            ink += background ? qAbs(pixel.red() - background->red()) + qAbs(pixel.green() - background->green()) +
                                    qAbs(pixel.blue() - background->blue())
                              : pixel.alpha();
        }
    }
    return ink;
}

// The ink of a widget as the window shows it.
qint64 inkOf(QWidget* widget)
{
    QWidget* window = widget->window();
    return inkOf(window->grab(QRect(widget->mapTo(window, QPoint()), widget->size())).toImage(), onWindow());
}

enum class Kind { HistoryRow, Chip, Pill, IconButton };

QWidget* make(Kind kind)
{
    switch (kind) {
    case Kind::HistoryRow:
        return new MRHistoryRow(QString(),
                                QStringLiteral("SELECT * FROM orders WHERE placed_at > now() - interval '7 days'"),
                                QStringLiteral("09:12"));
    case Kind::Chip: {
        auto* chip = new MRSettingChip(QStringLiteral("tablecells"), QStringLiteral("Single"), MRTheme::accent());
        chip->setSettingName(QStringLiteral("Single Results Mode"));
        chip->setOn(true);
        return chip;
    }
    case Kind::Pill:
        return new MRPill({QStringLiteral("Query"), QStringLiteral("History")});
    case Kind::IconButton:
        return MRStyleKit::iconButtonWithSymbol(QStringLiteral("plus"), QStringLiteral("Insert an example"));
    }
    return nullptr;
}

DatabaseConnection connection(const QString& name, const QString& host, qint64 port)
{
    DatabaseConnection c;
    std::tie(c.name, c.host, c.port) = std::tie(name, host, port);
    return c;
}

// Replaces the store's connections; the one at index active becomes active (below 0, an id
// naming no record).
QList<DatabaseConnection> storeConnections(const QList<DatabaseConnection>& connections, int active)
{
    ConnectionManager& manager = ConnectionManager::shared();
    for (const DatabaseConnection& c : manager.connections())
        manager.removeConnectionWithId(c.connectionId);
    for (const DatabaseConnection& c : connections)
        manager.addConnection(c);
    const QList<DatabaseConnection> stored = manager.connections();
    manager.setActiveConnectionId(active >= 0 ? stored.at(active).connectionId : QStringLiteral("gone"));
    return stored;
}

// Where an item of the menu carries ink: the columns, left to right, that differ from the
// item's own background. The menu's frame at the edges is left out.
QList<int> inkColumns(const QImage& image, const QRect& item)
{
    const QRect inside = item.adjusted(2, 3, -3, -3);
    const QColor background = image.pixelColor(inside.right(), inside.center().y());
    QList<int> columns;
    for (int x = inside.left(); x <= inside.right(); ++x) {
        for (int y = inside.top(); y <= inside.bottom(); ++y) {
            const QColor pixel = image.pixelColor(x, y);
            if (qAbs(pixel.red() - background.red()) + qAbs(pixel.green() - background.green()) +
                    qAbs(pixel.blue() - background.blue()) >
                60) {
                columns.append(x);
                break;
            }
        }
    }
    return columns;
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
    void initTestCase()
    {
        // The application's own style, which draws a box beside every checkable item of a menu.
        QApplication::setStyle(QStringLiteral("Fusion"));
    }

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
        // A key with its text; with neither, a mouse press at x 150 released at releaseX, or a click on
        // the row's SQL line for -1.
        QTest::addColumn<int>("key");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("releaseX");
        QTest::addColumn<int>("clicks");
        QTest::newRow("space") << int(Qt::Key_Space) << QStringLiteral(" ") << 0 << 1;
        QTest::newRow("line feed") << 0 << QStringLiteral("\n") << 0 << 1;
        QTest::newRow("tab") << int(Qt::Key_Tab) << QStringLiteral("\t") << 0 << 0;
        QTest::newRow("released outside") << 0 << QString() << 350 << 0;
        QTest::newRow("a click on the SQL line") << 0 << QString() << -1 << 1;
    }

    void rowInput()
    {
        QFETCH(int, key);
        QFETCH(QString, text);
        QFETCH(int, releaseX);
        QFETCH(int, clicks);
        auto* row = static_cast<MRHistoryRow*>(place(make(Kind::HistoryRow), QSize(300, 62)));
        auto* other = place(new MRSidebarRow(QString(), QStringLiteral("Other")), QSize(200, 32));
        QSignalSpy fired(row, &MRRowView::clicked);
        row->setFocus(Qt::TabFocusReason);
        if (key || !text.isEmpty()) {
            QTest::sendKeyEvent(QTest::Press, row, Qt::Key(key), text, Qt::NoModifier);
            QTest::sendKeyEvent(QTest::Release, row, Qt::Key(key), text, Qt::NoModifier);
        } else if (releaseX < 0) {
            QTest::mouseClick(row->sqlLine(), Qt::LeftButton, {}, QPoint(5, 5));
        } else {
            QTest::mousePress(row, Qt::LeftButton, {}, QPoint(150, 15));
            QTest::mouseRelease(row, Qt::LeftButton, {}, QPoint(releaseX, 15));
        }
        QCOMPARE(fired.size(), clicks);
        QCOMPARE(other->hasFocus(), key == Qt::Key_Tab);
    }

    // Turned on under the pointer the chip shows the on fill, not the hover one, and keeps it
    // after; a change from code is not the user's, so no toggled().
    void chip()
    {
        auto* chip = static_cast<MRSettingChip*>(place(make(Kind::Chip), QSize(120, 26)));
        chip->setOn(false);
        QSignalSpy toggled(chip, &MRSettingChip::toggled);
        const QPoint inside(100, 13);
        hover(chip);
        QVERIFY(shows(chip, inside, onWindow(MRTheme::rowHover())));
        QTest::mouseClick(chip, Qt::LeftButton);
        const QColor onFill = onWindow(MRTheme::accent().withAlpha(0.14));
        QVERIFY(shows(chip, inside, onFill));
        QTest::mouseMove(m_window.get(), QPoint(2, 2));
        QTRY_VERIFY(!chip->underMouse());
        QVERIFY(shows(chip, inside, onFill));
        chip->setOn(false);
        QCOMPARE(toggled.size(), 1);
        QCOMPARE(toggled.first().first().toBool(), true);
    }

    void pill_data()
    {
        QTest::addColumn<int>("start");
        QTest::addColumn<int>("key"); // 0: a click at clickX
        QTest::addColumn<int>("clickX");
        QTest::addColumn<int>("selected");
        QTest::addColumn<QList<int>>("heard");
        QTest::newRow("right on the last stays") << 1 << int(Qt::Key_Right) << -1 << 1 << QList<int>{};
        QTest::newRow("space on the last wraps") << 1 << int(Qt::Key_Space) << -1 << 0 << QList<int>{0};
        QTest::newRow("click the first half") << 1 << 0 << 99 << 0 << QList<int>{0};
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

        pill->setFocus(Qt::TabFocusReason);
        if (clickX >= 0)
            QTest::mouseClick(pill, Qt::LeftButton, {}, QPoint(clickX, 15));
        else
            QTest::keyClick(pill, Qt::Key(key));
        QCOMPARE(iface->text(QAccessible::Value), pill->titles().at(selected));
        QCOMPARE(calls, heard);
        // The thumb comes to rest behind the selected segment only.
        const QPoint segments[] = {QPoint(8, 15), QPoint(108, 15)};
        QTRY_VERIFY(!pill->isAnimating());
        QVERIFY(shows(pill, segments[selected], onWindow(MRTheme::elevatedBackground())));
        QVERIFY(shows(pill, segments[1 - selected], onWindow(MRTheme::rowHover())));
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
        QVERIFY(qAlpha(whole.pixel(44, 43)) > 0 && qAlpha(whole.pixel(44, 44)) > 0);
        // A repaint whose lower edge runs through the dots of row 44 still draws their upper
        // halves, the same pixels as a whole repaint, and nothing outside the dirty area.
        const QImage part = render(QRegion(0, 0, 100, 44));
        QCOMPARE(part.pixel(44, 43), whole.pixel(44, 43));
        QCOMPARE(qAlpha(part.pixel(44, 44)), 0);
    }

    // After each switch of appearance, light to dark and back, the same widgets, never rebuilt,
    // repaint (seen on screen, not only in a grab) without a stale colour. Qt's own form controls
    // in the field style show an edge that stands out from the window and the input fill (the
    // accent for a ticked box); a focused field is ringed in the accent.
    void appearanceSwitches_data()
    {
        QTest::addColumn<QString>("kind");
        for (const char* kind : {"field", "focused field", "combo box", "check box", "ticked check box"})
            QTest::newRow(kind) << QString::fromLatin1(kind);
    }

    void appearanceSwitches()
    {
        QFETCH(QString, kind);
        auto* primary = place(MRStyleKit::primaryButtonWithTitle(QStringLiteral("Update")), QSize(90, 32));
        auto* panel = place(new MRPanel, QSize(60, 40));
        auto* row = place(new MRSidebarRow(QString(), QStringLiteral("Recent")), QSize(120, 32));
        row->setDotColor(MRTheme::statusDot());
        auto* header = place(MRStyleKit::sectionHeader(QStringLiteral("Recents")));
        QWidget* control = nullptr;
        QRect box; // the bezel, or the check box's box
        if (kind.endsWith(QLatin1String("check box"))) {
            auto* check = new QCheckBox(QStringLiteral("Use SSL"));
            check->setChecked(kind.startsWith(QLatin1String("ticked")));
            MRFieldStyle::apply(check);
            control = place(check);
            QStyleOptionButton option;
            option.initFrom(check);
            box = check->style()->subElementRect(QStyle::SE_CheckBoxIndicator, &option, check);
        } else if (kind == QLatin1String("combo box")) {
            auto* combo = new QComboBox;
            combo->addItems({QStringLiteral("PostgreSQL"), QStringLiteral("MySQL")});
            MRFieldStyle::apply(combo);
            control = place(combo, QSize(160, combo->sizeHint().height()));
            box = combo->rect();
        } else {
            auto* field = new QLineEdit;
            MRFieldStyle::apply(field);
            control = place(field, QSize(160, 24));
            box = field->rect();
            if (kind.startsWith(QLatin1String("focused"))) {
                field->setFocus(Qt::TabFocusReason);
                QTRY_VERIFY(field->hasFocus());
            } else {
                field->clearFocus();
            }
        }
        const bool ticked = kind.startsWith(QLatin1String("ticked"));
        const bool focused = kind.startsWith(QLatin1String("focused"));
        const std::tuple<QWidget*, QPoint, MRColor> samples[] = {
            {m_window.get(), QPoint(3, 3), MRTheme::windowBackground()},
            {primary, QPoint(4, 16), MRTheme::accent()},
            {panel, QPoint(30, 20), MRTheme::inputBackground()},
            {row, QPoint(18, 16), MRTheme::statusDot()},
        };
        PaintCounter paints;
        for (QWidget* widget : {m_window.get(), static_cast<QWidget*>(primary), static_cast<QWidget*>(panel),
                                static_cast<QWidget*>(row), control})
            widget->installEventFilter(&paints);

        // The test starts in light.
        for (const bool dark : {true, false}) {
            paints.counts.clear();
            ThemeManager::shared().setMode(dark ? ThemeManager::Mode::Dark : ThemeManager::Mode::Light);
            for (const auto& [widget, at, color] : samples) {
                QTRY_VERIFY(paints.counts.value(widget) > 0);
                QVERIFY(shows(widget, at, onWindow(color)));
            }
            QCOMPARE(header->palette().color(QPalette::WindowText), MRTheme::textTertiary().resolve(dark));
            QTRY_VERIFY(paints.counts.value(control) > 0);
            const MRColor fill = ticked ? MRTheme::accent() : MRTheme::inputBackground();
            if (focused) {
                // The ring lies over the fill just inside the edge.
                const QColor ring = MRTheme::accent().withAlpha(0.55).resolve(dark);
                QVERIFY(shows(control, QPoint(box.center().x(), box.top() + 1),
                              MRContrast::over(ring, MRTheme::inputBackground().resolve(dark))));
            } else {
                // The edge's contrast with the window and the fill is tst_contrast's.
                QVERIFY(shows(control, QPoint(box.center().x(), box.top()),
                              onWindow(ticked ? fill : MRFieldStyle::border())));
                QVERIFY(shows(control,
                              ticked ? box.topLeft() + QPoint(2, 2) : box.topLeft() + QPoint(2, box.height() / 2),
                              onWindow(fill)));
            }
        }
    }

    // The dimming is MRRowView's, for every kind of row: a history row, its SQL line included.
    void disabledRowsDim()
    {
        auto* row = static_cast<MRRowView*>(place(make(Kind::HistoryRow), QSize(300, 62)));
        QSignalSpy clicks(row, &MRRowView::clicked);
        const qint64 atRest = inkOf(row);

        // Disabled under the pointer: no hover fill, everything at the opacity of a disabled button.
        hover(row);
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

    void symbols_data()
    {
        QTest::addColumn<QString>("name");
        // Every symbol of the catalogue, and one it does not know.
        const QStringList names = MRIconCatalogue::names() + QStringList{QStringLiteral("no.such.symbol")};
        for (const QString& name : names)
            QTest::newRow(qPrintable(name)) << name;
    }

    void symbols()
    {
        QFETCH(QString, name);
        const MRIcon icon = MRStyleKit::symbol(name, 14, QFont::Normal);
        if (name == QStringLiteral("no.such.symbol")) {
            QVERIFY(icon.isNull());
            return;
        }
        const QColor tint(0x3B7DF0);
        const auto render = [&](qreal ratio) {
            return icon.pixmap(tint, ratio).toImage().convertToFormat(QImage::Format_ARGB32);
        };
        const QImage single = render(1.0);
        QVERIFY2(inkOf(single) > 0, "the symbol paints nothing");
        // Drawn as paths, so twice the pixel density carries four times the ink, not a blur.
        QVERIFY(qAbs(inkOf(render(2.0)) / 4.0 - inkOf(single)) < inkOf(single) * 0.15);
        // A template image: every pixel drawn is the one colour asked for.
        for (int y = 0; y < single.height(); ++y)
            for (int x = 0; x < single.width(); ++x)
                if (qAlpha(single.pixel(x, y)) == 255)
                    QCOMPARE(QColor(single.pixel(x, y)), tint);
    }

    void accessibility_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("role");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("value"); // before and after the press action; a check box's "1" is checked
        QTest::addColumn<QString>("valueAfterPress");
        QTest::addColumn<QByteArray>("signal"); // what a click emits
        const auto button = int(QAccessible::Button);
        QTest::newRow("history row") << int(Kind::HistoryRow) << button << QStringLiteral("(empty prompt)") << QString()
                                     << QString() << QByteArray("clicked()");
        QTest::newRow("chip") << int(Kind::Chip) << int(QAccessible::CheckBox) << QStringLiteral("Single Results Mode")
                              << QStringLiteral("1") << QStringLiteral("0") << QByteArray("toggled(bool)");
        QTest::newRow("view switch") << int(Kind::Pill) << button << QStringLiteral("Switch view")
                                     << QStringLiteral("Query") << QStringLiteral("History")
                                     << QByteArray("selectionChanged(int)");
        // A button's tooltip has the same words for the pointer as its name for the ear.
        QTest::newRow("icon button") << int(Kind::IconButton) << button << QStringLiteral("Insert an example")
                                     << QStringLiteral("Insert an example") << QStringLiteral("Insert an example")
                                     << QByteArray("clicked(bool)");
    }

    void accessibility()
    {
        QFETCH(int, kind);
        QFETCH(int, role);
        QFETCH(QString, name);
        QFETCH(QString, value);
        QFETCH(QString, valueAfterPress);
        QFETCH(QByteArray, signal);
        QWidget* widget = place(make(Kind(kind)));
        QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(widget);
        QCOMPARE(int(iface->role()), role);
        QCOMPARE(iface->text(QAccessible::Name), name);
        const auto shownValue = [&] {
            return qobject_cast<MRButton*>(widget) ? widget->toolTip() : iface->text(QAccessible::Value);
        };
        QCOMPARE(shownValue(), value);
        QCOMPARE(iface->state().checkable, role == QAccessible::CheckBox);
        QCOMPARE(iface->state().checked, iface->state().checkable && value == QStringLiteral("1"));

        // The press action does what a click does, once.
        const QMetaObject* meta = widget->metaObject();
        QSignalSpy heard(widget, meta->method(meta->indexOfSignal(signal.constData())));
        iface->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
        QTRY_COMPARE(heard.size(), 1);
        QCOMPARE(shownValue(), valueAfterPress);
    }

    void connectionMenu_data()
    {
        QTest::addColumn<QList<DatabaseConnection>>("connections");
        QTest::addColumn<int>("active"); // see storeConnections()
        QTest::addColumn<bool>("detail");
        // As assistive technology hears it: "-" a separator, "(x) " / "( ) " before a checked /
        // unchecked choice.
        QTest::addColumn<QString>("expected");
        QTest::addColumn<bool>("dark");
        QTest::addColumn<int>("hovered"); // index among the menu's actions, -1 for none
        const QList<DatabaseConnection> two{connection(u"Prod"_s, u"db.example.com"_s, 5432),
                                            connection(QString(), QString(), 3306)};
        QTest::newRow("detail, second active and hovered, dark")
            << two << 1 << true
            << u"( ) No database|-|( ) Prod  ·  db.example.com:5432|(x) (unnamed)  ·  localhost:3306|-|Manage Databases…"_s
            << true << 3;
        QTest::newRow("names alone, active id naming no record")
            << two << -2 << false << u"( ) No database|-|( ) Prod|( ) (unnamed)|-|Manage Databases…"_s << false << 2;
        QTest::newRow("placeholders in a name stay, another hovered, dark")
            << QList<DatabaseConnection>{connection(u"50%2 %1"_s, u"h%3"_s, 1)} << 0 << true
            << u"( ) No database|-|(x) 50%2 %1  ·  h%3:1|-|Manage Databases…"_s << true << 0;
    }

    void connectionMenu()
    {
        QFETCH(QList<DatabaseConnection>, connections);
        QFETCH(int, active);
        QFETCH(bool, detail);
        QFETCH(QString, expected);
        QFETCH(bool, dark);
        QFETCH(int, hovered);
        QApplication::setPalette(MRTheme::palette(dark));
        QList<QVariant> ids{QVariant()};
        for (const DatabaseConnection& c : storeConnections(connections, active))
            ids.append(c.connectionId);
        QList<QVariant> chosen;
        int managed = 0;
        auto target = std::make_unique<QObject>();
        const std::unique_ptr<QMenu> menu(MRStyleKit::connectionMenuForTarget(
            target.get(), [&chosen](QAction* item) { chosen.append(item->data()); }, [&managed] { ++managed; },
            detail));
        QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(menu.get());
        QStringList heard;
        for (int i = 0; i < iface->childCount(); ++i) {
            const QAccessibleInterface* item = iface->child(i);
            const QAccessible::State state = item->state();
            heard << (state.checkable ? (state.checked ? u"(x) "_s : u"( ) "_s) : QString()) +
                         (item->role() == QAccessible::Separator ? u"-"_s : item->text(QAccessible::Name));
        }
        QCOMPARE(heard.join(u'|'), expected);

        // The text of every item starts at one column; left of it only the chosen item has ink:
        // the mark, a gap, then the text.
        menu->resize(menu->sizeHint());
        if (hovered >= 0)
            menu->setActiveAction(menu->actions().at(hovered));
        const QImage image = menu->grab().toImage();
        std::optional<int> textStart;
        for (QAction* action : menu->actions()) {
            if (action->isSeparator())
                continue;
            const QList<int> ink = inkColumns(image, menu->actionGeometry(action));
            qsizetype text = 0; // past the mark and its gap on the chosen item
            while (action->isChecked() && ++text < ink.size() && ink.at(text) == ink.at(text - 1) + 1) {
            }
            QVERIFY2(text < ink.size(), qPrintable(action->text()));
            textStart = textStart.value_or(ink.at(text));
            QVERIFY2(qAbs(ink.at(text) - *textStart) <= 2, qPrintable(action->text()));
        }
        QVERIFY(*textStart > 16); // the mark stands in the check column, left of every text

        // A choice hands over the connection id, none for "No database". The actions belong to
        // the target: once it is gone, choosing again does nothing.
        for (bool gone : {false, true}) {
            if (gone)
                target.reset();
            for (QAction* item : menu->actions())
                item->trigger();
            QCOMPARE(chosen, ids);
            QCOMPARE(managed, 1);
        }
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
