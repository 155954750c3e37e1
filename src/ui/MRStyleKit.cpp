#include "ui/MRStyleKit.h"

#include "db/ConnectionManager.h"
#include "ui/MRButton.h"
#include "ui/MRCardView.h"
#include "ui/MRImageView.h"
#include "ui/MRLabel.h"
#include "ui/MRSharedStyle.h"

#include <QApplication>
#include <QMenu>
#include <QPainter>
#include <QPointer>
#include <QProxyStyle>
#include <QStyleOptionMenuItem>
#include <QtMath>

namespace {

constexpr int kButtonHeight = 32;

void connectAction(MRButton* button, const QObject* target, MRStyleKit::Action action)
{
    if (target && action)
        QObject::connect(button, &QAbstractButton::clicked, target, std::move(action));
}

MRButton* titledButton(MRButton::Style style, const MRStyledText& title, const QObject* target,
                       MRStyleKit::Action action)
{
    auto* button = new MRButton;
    button->setMrStyle(style);
    button->setStyledTitle(title);
    button->setFixedHeight(kButtonHeight);
    connectAction(button, target, std::move(action));
    return button;
}

// Draws the check column of a menu of choices: a check mark beside the chosen item and nothing
// beside the others, where the base style draws an empty box for every unchecked item. The
// items stay checkable, so assistive technology still hears which one is chosen.
class ChoiceMenuStyle final : public QProxyStyle
{
public:
    explicit ChoiceMenuStyle(const QString& baseStyle) : QProxyStyle(baseStyle) {}

    void drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                     const QWidget* widget) const override
    {
        const auto* item = qstyleoption_cast<const QStyleOptionMenuItem*>(option);
        if (element != CE_MenuItem || !item || item->checkType == QStyleOptionMenuItem::NotCheckable) {
            QProxyStyle::drawControl(element, option, painter, widget);
            return;
        }
        QStyleOptionMenuItem plain = *item;
        plain.checkType = QStyleOptionMenuItem::NotCheckable;
        plain.checked = false;
        QProxyStyle::drawControl(element, &plain, painter, widget);
        if (!item->checked)
            return;
        const int column = qMax(qMax(item->maxIconWidth, kCheckColumn), qRound(item->rect.height() * 0.79));
        const QRect mark =
            visualRect(item->direction, item->rect,
                       QRect(item->rect.left() + kCheckColumnOffset, item->rect.top(), column, item->rect.height()));
        const QPalette::ColorGroup group = (item->state & State_Enabled) ? QPalette::Normal : QPalette::Disabled;
        const QPalette::ColorRole role = (item->state & State_Selected) ? QPalette::HighlightedText : QPalette::Text;
        MRIcon::symbol(QStringLiteral("checkmark"), 11, true).paint(*painter, mark, item->palette.color(group, role));
    }

private:
    // Where the base styles put their check column.
    static constexpr int kCheckColumnOffset = 4;
    static constexpr int kCheckColumn = 21;
};

} // namespace

MRIcon MRStyleKit::symbol(const QString& name, qreal pointSize, int weight)
{
    return MRIcon::symbol(name, pointSize, weight >= QFont::DemiBold);
}

MRStyledText MRStyleKit::titleString(const QString& text, const MRColor& color, int weight, qreal size)
{
    return {text, MRTheme::uiFont(size, weight), color};
}

MRButton* MRStyleKit::primaryButtonWithTitle(const QString& title, const QObject* target, Action action)
{
    return titledButton(MRButton::Style::Primary, titleString(title, MRTheme::onAccent(), QFont::DemiBold, 13), target,
                        std::move(action));
}

MRButton* MRStyleKit::ghostButtonWithTitle(const QString& title, const QObject* target, Action action)
{
    return titledButton(MRButton::Style::Ghost, titleString(title, MRTheme::textPrimary(), QFont::Medium, 12.5), target,
                        std::move(action));
}

MRButton* MRStyleKit::sendButtonWithTarget(const QObject* target, Action action)
{
    auto* button = new MRButton;
    button->setMrStyle(MRButton::Style::Primary);
    button->setCornerRadius(16);
    button->setImage(symbol(QStringLiteral("arrow.up"), 15, QFont::Bold));
    button->setImageTint(MRTheme::onAccent());
    button->setFixedSize(kButtonHeight, kButtonHeight);
    // The workspace names it "Stop" while a generation runs.
    const QString name = QCoreApplication::translate("MRStyleKit", "Send");
    button->setAccessibleName(name);
    button->setToolTip(name);
    connectAction(button, target, std::move(action));
    return button;
}

MRButton* MRStyleKit::iconButtonWithSymbol(const QString& name, const QString& accessibilityLabel,
                                           const QObject* target, Action action)
{
    auto* button = new MRButton;
    button->setMrStyle(MRButton::Style::Icon);
    button->setImage(symbol(name, 14, QFont::Normal));
    button->setImageTint(MRTheme::textSecondary());
    button->setToolTip(accessibilityLabel);
    button->setAccessibleName(accessibilityLabel);
    button->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    connectAction(button, target, std::move(action));
    return button;
}

MRIcon MRStyleKit::sparkleImageOfSize(qreal size)
{
    return MRIcon::sparkle(size);
}

MRImageView* MRStyleKit::sparkleViewOfSize(qreal size)
{
    auto* view = new MRImageView;
    view->setImage(sparkleImageOfSize(size));
    view->setTint(MRTheme::accent());
    view->setFixedSize(qCeil(size), qCeil(size));
    return view;
}

MRCardView* MRStyleKit::cardViewWithRadius(qreal radius)
{
    return new MRCardView(radius);
}

MRCardView* MRStyleKit::cardView()
{
    return cardViewWithRadius(MRTheme::cardRadius());
}

MRLabel* MRStyleKit::sectionHeader(const QString& text)
{
    auto* label = new MRLabel(text);
    label->setFont(MRTheme::uiFont(11.5, QFont::DemiBold));
    label->setTextColor(MRTheme::textTertiary());
    return label;
}

QMenu* MRStyleKit::connectionMenuForTarget(const QObject* target, std::function<void(QAction*)> selectAction,
                                           Action manageAction, bool showDetail, QWidget* parent)
{
    auto* menu = new QMenu(parent);
    menu->setStyle(sharedProxyStyle<ChoiceMenuStyle>());
    const QObject* context = target ? target : menu;
    const ConnectionManager& manager = ConnectionManager::shared();
    const QList<DatabaseConnection> connections = manager.connections();
    const std::optional<QString> activeId = manager.activeConnectionId();

    const auto addChoice = [&](const QString& title, const QVariant& id, bool on) {
        QAction* item = menu->addAction(title);
        item->setData(id);
        item->setCheckable(true);
        item->setChecked(on);
        if (selectAction)
            QObject::connect(item, &QAction::triggered, context, [selectAction, item] { selectAction(item); });
    };

    addChoice(QCoreApplication::translate("MRStyleKit", "No database"), QVariant(), !activeId.has_value());
    if (!connections.isEmpty())
        menu->addSeparator();
    for (const DatabaseConnection& connection : connections) {
        const QString name =
            connection.name.isEmpty() ? QCoreApplication::translate("MRStyleKit", "(unnamed)") : connection.name;
        const QString host = connection.host.isEmpty() ? QStringLiteral("localhost") : connection.host;
        // One multi-argument arg(), so a name holding "%2" is not filled in again.
        const QString title =
            showDetail ? QStringLiteral("%1  ·  %2:%3").arg(name, host, QString::number(connection.port)) : name;
        addChoice(title, connection.connectionId, activeId == connection.connectionId);
    }
    menu->addSeparator();
    QAction* manage = menu->addAction(QCoreApplication::translate("MRStyleKit", "Manage Databases…"));
    if (manageAction)
        QObject::connect(manage, &QAction::triggered, context, std::move(manageAction));
    return menu;
}
