#include "workspace/HairlineView.h"

#include "ui/MRTheme.h"
#include "ui/MRWidgetTheme.h"

#include <QEvent>
#include <QPainter>

HairlineView::HairlineView(QWidget* parent) : QWidget(parent)
{
    setFixedHeight(1);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void HairlineView::paintEvent(QPaintEvent*)
{
    QPainter(this).fillRect(rect(), MRWidgetTheme::resolve(MRTheme::hairline(), this));
}

void HairlineView::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::PaletteChange)
        update();
    QWidget::changeEvent(event);
}
