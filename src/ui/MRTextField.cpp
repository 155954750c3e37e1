#include "ui/MRTextField.h"

#include "ui/MRFocusRing.h"
#include "ui/MRTheme.h"
#include "ui/MRWidgetTheme.h"

#include <QEvent>
#include <QPainter>

namespace {

constexpr qreal kDisabledOpacity = 0.55;

} // namespace

MRTextField::MRTextField(QWidget* parent) : QLineEdit(parent)
{
    // The bezel is painted here, so the style draws neither frame nor fill.
    setFrame(false);
    setTextMargins(kHorizontalPadding, 0, kHorizontalPadding, 0);
    setFont(MRTheme::uiFont(13));
    applyColors();
}

void MRTextField::applyColors()
{
    // Only the fill is taken over; text, selection and placeholder colours, and the window
    // colour that tells light from dark, still come from the parent. An unchanged palette
    // sends no further change event.
    QPalette own = palette();
    own.setColor(QPalette::Base, Qt::transparent);
    setPalette(own);
}

void MRTextField::paintEvent(QPaintEvent* event)
{
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        if (!isEnabled())
            painter.setOpacity(kDisabledOpacity);
        const QRectF bezel = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
        painter.setPen(hasFocus() ? Qt::NoPen : QPen(MRWidgetTheme::resolve(MRTheme::hairline(), this), 1));
        painter.setBrush(MRWidgetTheme::resolve(MRTheme::inputBackground(), this));
        painter.drawRoundedRect(bezel, kCornerRadius - 0.5, kCornerRadius - 0.5);
        // Typing goes where the ring is, so a field shows it however the focus arrived.
        if (hasFocus())
            MRFocusRing::paint(painter, rect(), kCornerRadius, this);
    }
    QLineEdit::paintEvent(event);
}

void MRTextField::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::PaletteChange) {
        applyColors();
        update();
    }
    QLineEdit::changeEvent(event);
}

void MRTextField::focusInEvent(QFocusEvent* event)
{
    QLineEdit::focusInEvent(event);
    update();
}

void MRTextField::focusOutEvent(QFocusEvent* event)
{
    QLineEdit::focusOutEvent(event);
    update();
}
