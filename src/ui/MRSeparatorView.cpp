#include "ui/MRSeparatorView.h"

#include "ui/MRTheme.h"
#include "ui/MRWidgetTheme.h"

#include <QEvent>
#include <QPainter>

MRSeparatorView::MRSeparatorView(QWidget* parent) : QWidget(parent)
{
    setFixedHeight(1);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

QSize MRSeparatorView::sizeHint() const
{
    return {40, 1};
}

void MRSeparatorView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(QRect(0, 0, width(), 1), MRWidgetTheme::resolve(MRTheme::hairline(), this));
}

void MRSeparatorView::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::PaletteChange)
        update();
    QWidget::changeEvent(event);
}
