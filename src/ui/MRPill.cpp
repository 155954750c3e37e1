#include "ui/MRPill.h"

#include "ui/MRAccessible.h"
#include "ui/MRFocusRing.h"
#include "ui/MRTheme.h"
#include "ui/MRWidgetTheme.h"

#include <QEvent>
#include <QFocusEvent>
#include <QFontMetricsF>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QVariantAnimation>
#include <QtMath>

namespace {

constexpr int kHeight = 30;
constexpr qreal kRadius = 9;
constexpr qreal kThumbRadius = 7;
constexpr qreal kThumbInset = 3;
constexpr qreal kShadowAlpha = 0.14;
constexpr qreal kShadowOffset = 1;
constexpr qreal kSegmentPadding = 16;

QFont labelFont()
{
    return MRTheme::uiFont(12.5, QFont::Medium);
}

// A soft shadow of about three points, in rings that fade outwards.
void paintThumbShadow(QPainter& painter, const QRectF& thumb)
{
    const QRectF shadow = thumb.translated(0, kShadowOffset);
    const struct
    {
        qreal spread;
        qreal share;
    } rings[] = {{0.5, 0.5}, {1.5, 0.3}, {2.5, 0.15}};
    painter.setPen(Qt::NoPen);
    for (const auto& ring : rings) {
        painter.setBrush(QColor(0, 0, 0, qRound(255 * kShadowAlpha * ring.share)));
        const QRectF r = shadow.adjusted(-ring.spread, -ring.spread, ring.spread, ring.spread);
        painter.drawRoundedRect(r, kThumbRadius + ring.spread, kThumbRadius + ring.spread);
    }
}

} // namespace

MRPill::MRPill(const QStringList& titles, QWidget* parent)
    : MRInteractiveWidget(parent), m_titles(titles), m_animation(new QVariantAnimation(this))
{
    MRAccessible::install();
    setFixedHeight(kHeight);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setFocusPolicy(Qt::StrongFocus);
    m_animation->setDuration(kAnimationMs);
    m_animation->setEasingCurve(QEasingCurve::InOutQuad);
    connect(m_animation, &QVariantAnimation::valueChanged, this, [this](const QVariant& value) {
        m_thumbRect = value.toRectF();
        update();
    });
}

qreal MRPill::segmentWidth() const
{
    return width() / qreal(qMax<qsizetype>(m_titles.size(), 1));
}

QRectF MRPill::thumbRectForIndex(int index) const
{
    const qreal s = segmentWidth();
    return {index * s + kThumbInset, kThumbInset, s - 2 * kThumbInset, height() - 2 * kThumbInset};
}

bool MRPill::isAnimating() const
{
    return m_animation->state() == QAbstractAnimation::Running;
}

void MRPill::placeThumb(bool animated)
{
    const QRectF target = thumbRectForIndex(m_selectedIndex);
    m_animation->stop();
    if (animated && m_thumbRect.isValid()) {
        m_animation->setStartValue(m_thumbRect);
        m_animation->setEndValue(target);
        m_animation->start();
    } else {
        m_thumbRect = target;
    }
    update();
}

void MRPill::setSelectedIndex(int index)
{
    m_selectedIndex = index;
    placeThumb(false);
}

void MRPill::selectIndex(int index, bool animated, bool notify)
{
    // With no segments at all the only index is 0.
    const int clamped = qMax(0, qMin(index, int(m_titles.size()) - 1));
    if (clamped == m_selectedIndex)
        return;
    m_selectedIndex = clamped;
    placeThumb(animated);
    if (notify)
        Q_EMIT selectionChanged(clamped);
}

void MRPill::selectNextWrapping()
{
    const int count = qMax<int>(int(m_titles.size()), 1);
    selectIndex((m_selectedIndex + 1) % count, true, true);
}

QString MRPill::accessibleLabel() const
{
    return tr("Switch view");
}

QString MRPill::accessibleValue() const
{
    return m_selectedIndex >= 0 && m_selectedIndex < m_titles.size() ? m_titles.at(m_selectedIndex) : QString();
}

void MRPill::accessiblePress()
{
    selectNextWrapping();
}

QSize MRPill::sizeHint() const
{
    const QFontMetricsF metrics(labelFont());
    qreal widest = 0;
    for (const QString& title : m_titles)
        widest = qMax(widest, metrics.horizontalAdvance(title));
    return {qCeil((widest + 2 * kSegmentPadding) * qMax<qsizetype>(m_titles.size(), 1)), kHeight};
}

QSize MRPill::minimumSizeHint() const
{
    return {int(kThumbInset * 2 * qMax<qsizetype>(m_titles.size(), 1)), kHeight};
}

void MRPill::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(MRWidgetTheme::resolve(MRTheme::rowHover(), this));
    painter.drawRoundedRect(rect(), kRadius, kRadius);

    paintThumbShadow(painter, m_thumbRect);
    painter.setBrush(MRWidgetTheme::resolve(MRTheme::elevatedBackground(), this));
    painter.drawRoundedRect(m_thumbRect, kThumbRadius, kThumbRadius);

    const QColor primary = MRWidgetTheme::resolve(MRTheme::textPrimary(), this);
    const QColor secondary = MRWidgetTheme::resolve(MRTheme::textSecondary(), this);
    const qreal s = segmentWidth();
    painter.setFont(labelFont());
    if (!isEnabled())
        painter.setOpacity(0.45);
    for (int i = 0; i < m_titles.size(); ++i) {
        painter.setPen(i == m_selectedIndex ? primary : secondary);
        painter.drawText(QRectF(i * s, 0, s, height()), Qt::AlignCenter, m_titles.at(i));
    }
    painter.setOpacity(1);

    if (showsFocusRing())
        MRFocusRing::paint(painter, rect(), kRadius, this);
}

void MRPill::resizeEvent(QResizeEvent* event)
{
    placeThumb(false);
    QWidget::resizeEvent(event);
}

void MRPill::mousePressEvent(QMouseEvent* event)
{
    const qreal s = segmentWidth();
    if (event->button() != Qt::LeftButton || s <= 0) {
        event->ignore();
        return;
    }
    selectIndex(int(event->position().x() / s), true, true);
}

void MRPill::keyPressEvent(QKeyEvent* event)
{
    const QString text = event->text();
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Space:
        selectNextWrapping();
        return;
    case Qt::Key_Left:
        selectIndex(m_selectedIndex - 1, true, true);
        return;
    case Qt::Key_Right:
        selectIndex(m_selectedIndex + 1, true, true);
        return;
    default:
        break;
    }
    if (text == QLatin1String("\n") || text == QLatin1String("\r") || text == QLatin1String(" ")) {
        selectNextWrapping();
        return;
    }
    QWidget::keyPressEvent(event);
}
