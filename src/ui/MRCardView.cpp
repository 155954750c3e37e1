#include "ui/MRCardView.h"

#include "ui/MRTheme.h"
#include "ui/MRWidgetTheme.h"

#include <QEvent>
#include <QPainter>

MRCardView::MRCardView(qreal cornerRadius, QWidget* parent) : QWidget(parent), m_radius(cornerRadius) {}

void MRCardView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(MRWidgetTheme::resolve(MRTheme::hairline(), this), 1));
    painter.setBrush(MRWidgetTheme::resolve(MRTheme::elevatedBackground(), this));
    painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), m_radius - 0.5, m_radius - 0.5);
}

void MRCardView::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::PaletteChange)
        update();
    QWidget::changeEvent(event);
}
