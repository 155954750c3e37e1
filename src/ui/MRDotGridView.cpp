#include "ui/MRDotGridView.h"

#include "ui/MRTheme.h"
#include "ui/MRWidgetTheme.h"

#include <QEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QtMath>

MRDotGridView::MRDotGridView(QWidget* parent) : QWidget(parent) {}

void MRDotGridView::paintEvent(QPaintEvent* event)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(MRWidgetTheme::resolve(MRTheme::textTertiary().withAlpha(0.33), this));
    const qreal radius = kDotDiameter / 2;
    for (const QRect& dirty : event->region()) {
        // Widened by a dot's radius so that a dot centred just outside the dirty area still
        // repaints the part of it that lies inside; painting stays clipped to that area.
        const QRectF d = QRectF(dirty).adjusted(-radius, -radius, radius, radius);
        for (qreal y = qFloor(d.top() / kSpacing) * kSpacing; y < d.bottom(); y += kSpacing) {
            for (qreal x = qFloor(d.left() / kSpacing) * kSpacing; x < d.right(); x += kSpacing)
                painter.drawEllipse(QRectF(x - radius, y - radius, kDotDiameter, kDotDiameter));
        }
    }
}

void MRDotGridView::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::PaletteChange)
        update();
    QWidget::changeEvent(event);
}
