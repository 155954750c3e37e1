#include "ui/MRPanel.h"

#include "ui/MRTheme.h"
#include "ui/MRWidgetTheme.h"

#include <QEvent>
#include <QGraphicsDropShadowEffect>
#include <QPainter>

MRPanel::MRPanel(QWidget* parent) : QWidget(parent), m_cornerRadius(MRTheme::inputRadius()) {}

void MRPanel::setCornerRadius(qreal radius)
{
    m_cornerRadius = radius;
    update();
}

void MRPanel::setElevated(bool elevated)
{
    m_elevated = elevated;
    if (!elevated) {
        setGraphicsEffect(nullptr);
        return;
    }
    if (qobject_cast<QGraphicsDropShadowEffect*>(graphicsEffect()))
        return;
    auto* shadow = new QGraphicsDropShadowEffect(this);
    shadow->setBlurRadius(18);
    shadow->setOffset(0, 3);
    shadow->setColor(QColor(0, 0, 0, qRound(0.13 * 255)));
    setGraphicsEffect(shadow);
}

void MRPanel::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal radius = qMax<qreal>(0, m_cornerRadius - 0.5);
    painter.setPen(QPen(MRWidgetTheme::resolve(MRTheme::hairline(), this), 1));
    painter.setBrush(MRWidgetTheme::resolve(MRTheme::inputBackground(), this));
    painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), radius, radius);
}

void MRPanel::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::PaletteChange)
        update();
    QWidget::changeEvent(event);
}
