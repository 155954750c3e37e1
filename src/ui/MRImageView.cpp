#include "ui/MRImageView.h"

#include "ui/MRWidgetTheme.h"

#include <QEvent>
#include <QPainter>
#include <QtMath>

namespace {

constexpr qreal kDisabledOpacity = 0.45;

} // namespace

MRImageView::MRImageView(QWidget* parent) : QWidget(parent)
{
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void MRImageView::setImage(const MRIcon& image)
{
    if (image == m_image)
        return;
    m_image = image;
    updateGeometry();
    update();
}

void MRImageView::setTint(const MRColor& tint)
{
    m_tint = tint;
    update();
}

QSize MRImageView::sizeHint() const
{
    if (m_image.isNull())
        return {0, 0};
    const QSizeF size = m_image.size();
    return {qCeil(size.width()), qCeil(size.height())};
}

void MRImageView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    if (!isEnabled())
        painter.setOpacity(kDisabledOpacity);
    m_image.paint(painter, rect(), MRWidgetTheme::resolve(m_tint, this));
}

void MRImageView::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::PaletteChange)
        update();
    QWidget::changeEvent(event);
}
