#include "ui/MRFieldStyle.h"

#include "ui/MRFocusRing.h"
#include "ui/MRIcon.h"
#include "ui/MRSharedStyle.h"
#include "ui/MRTheme.h"
#include "ui/MRWidgetTheme.h"

#include <QApplication>
#include <QPainter>
#include <QPointer>
#include <QProxyStyle>
#include <QStyleOption>
#include <QWidget>

namespace {

constexpr qreal kDisabledOpacity = 0.55;
constexpr qreal kCheckMarkSize = 9;

class FieldStyle final : public QProxyStyle
{
public:
    explicit FieldStyle(const QString& baseStyle) : QProxyStyle(baseStyle) {}

    void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                       const QWidget* widget) const override
    {
        switch (element) {
        case PE_PanelLineEdit:
            // A field set without a frame keeps the base style's plain fill.
            if (const auto* frame = qstyleoption_cast<const QStyleOptionFrame*>(option);
                frame && frame->lineWidth > 0) {
                drawBezel(*painter, *option, widget, option->state & State_HasFocus);
                return;
            }
            break;
        case PE_FrameLineEdit:
            drawBezel(*painter, *option, widget, option->state & State_HasFocus, false);
            return;
        case PE_IndicatorCheckBox:
            drawCheckBox(*painter, *option, widget);
            return;
        default:
            break;
        }
        QProxyStyle::drawPrimitive(element, option, painter, widget);
    }

    void drawComplexControl(ComplexControl control, const QStyleOptionComplex* option, QPainter* painter,
                            const QWidget* widget) const override
    {
        const auto* combo = qstyleoption_cast<const QStyleOptionComboBox*>(option);
        // Only the closed, framed button is drawn here; an editable one keeps the base look with its line edit.
        if (control != CC_ComboBox || !combo || combo->editable || !combo->frame) {
            QProxyStyle::drawComplexControl(control, option, painter, widget);
            return;
        }
        // The ring shows only when focus came from the keyboard, as the base style's focus frame does.
        const bool ring = (option->state & State_HasFocus) && (option->state & State_KeyboardFocusChange);
        drawBezel(*painter, *option, widget, ring);
        if (combo->subControls & SC_ComboBoxArrow) {
            QStyleOption arrow = *option;
            arrow.rect = subControlRect(CC_ComboBox, combo, SC_ComboBoxArrow, widget);
            arrow.state &= ~(State_Sunken | State_On);
            QProxyStyle::drawPrimitive(PE_IndicatorArrowDown, &arrow, painter, widget);
        }
    }

private:
    static QColor resolve(const MRColor& color, const QStyleOption& option, const QWidget* widget)
    {
        return widget ? MRWidgetTheme::resolve(color, widget) : color.resolve(option.palette);
    }

    // The rounded bezel of a field or a closed combo box: the fill, a border that reads
    // against the window, and the accent ring over it when ringed.
    static void drawBezel(QPainter& painter, const QStyleOption& option, const QWidget* widget, bool ring,
                          bool fill = true)
    {
        painter.save();
        painter.setRenderHint(QPainter::Antialiasing);
        if (!(option.state & State_Enabled))
            painter.setOpacity(kDisabledOpacity);
        const qreal r = MRFieldStyle::kCornerRadius;
        const QRectF bezel = QRectF(option.rect).adjusted(0.5, 0.5, -0.5, -0.5);
        painter.setPen(QPen(resolve(MRFieldStyle::border(), option, widget), 1));
        painter.setBrush(fill ? QBrush(resolve(MRTheme::inputBackground(), option, widget)) : QBrush(Qt::NoBrush));
        painter.drawRoundedRect(bezel, r - 0.5, r - 0.5);
        if (ring)
            MRFocusRing::paint(painter, option.rect, r, widget);
        painter.restore();
    }

    // The box in the base style's place and size: bordered like a field when off, filled
    // with the accent and marked in the on-accent colour when on or partly on. The base
    // style still draws the focus frame around the label.
    static void drawCheckBox(QPainter& painter, const QStyleOption& option, const QWidget* widget)
    {
        painter.save();
        painter.setRenderHint(QPainter::Antialiasing);
        if (!(option.state & State_Enabled))
            painter.setOpacity(kDisabledOpacity);
        const bool on = option.state & (State_On | State_NoChange);
        const QRectF box = QRectF(option.rect).adjusted(0.5, 0.5, -0.5, -0.5);
        const qreal r = MRFieldStyle::kCheckBoxRadius - 0.5;
        if (on) {
            const MRColor fill = (option.state & State_Sunken) ? MRTheme::accentPressed() : MRTheme::accent();
            const QColor accent = resolve(fill, option, widget);
            painter.setPen(QPen(accent, 1));
            painter.setBrush(accent);
            painter.drawRoundedRect(box, r, r);
            const QColor mark = resolve(MRTheme::onAccent(), option, widget);
            if (option.state & State_NoChange) {
                const QPointF centre = box.center();
                const qreal half = box.width() / 4;
                painter.setPen(QPen(mark, 1.6, Qt::SolidLine, Qt::RoundCap));
                painter.drawLine(QPointF(centre.x() - half, centre.y()), QPointF(centre.x() + half, centre.y()));
            } else {
                MRIcon::symbol(QStringLiteral("checkmark"), kCheckMarkSize, true).paint(painter, box, mark);
            }
        } else {
            painter.setPen(QPen(resolve(MRFieldStyle::border(), option, widget), 1));
            painter.setBrush(resolve(MRTheme::inputBackground(), option, widget));
            painter.drawRoundedRect(box, r, r);
            // Pressed, the box darkens as a pressed row does.
            if (option.state & State_Sunken) {
                painter.setBrush(resolve(MRTheme::rowSelected(), option, widget));
                painter.drawRoundedRect(box, r, r);
            }
        }
        painter.restore();
    }
};

} // namespace

namespace MRFieldStyle {

MRColor border()
{
    // The hairline of cards and panels stays far below 3:1; the quietest palette colour that
    // reaches it on the window and on the input background is the tertiary text.
    return MRTheme::textTertiary();
}

QStyle* shared()
{
    return sharedProxyStyle<FieldStyle>();
}

void apply(QWidget* widget)
{
    widget->setStyle(shared());
}

} // namespace MRFieldStyle
