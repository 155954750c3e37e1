#include "ui/MRSpinner.h"

#include "ui/MRWidgetTheme.h"

#include <QEvent>
#include <QPainter>
#include <QtMath>

namespace {

// One turn a second, like the platform's own small spinner.
constexpr int kTickMs = 1000 / MRSpinner::kRays;
constexpr qreal kDimmestAlpha = 0.22;

} // namespace

MRSpinner::MRSpinner(QWidget* parent) : QWidget(parent)
{
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    QSizePolicy policy = sizePolicy();
    policy.setRetainSizeWhenHidden(true);
    setSizePolicy(policy);
    setFixedSize(kSize, kSize);
    m_timer.setInterval(kTickMs);
    connect(&m_timer, &QTimer::timeout, this, &MRSpinner::advance);
    hide();
}

void MRSpinner::startAnimation()
{
    m_animating = true;
    show();
    // A spinner in a window not yet shown starts turning when it appears.
    if (isVisible())
        m_timer.start();
}

void MRSpinner::stopAnimation()
{
    m_animating = false;
    m_timer.stop();
    hide();
}

void MRSpinner::advance()
{
    m_step = (m_step + 1) % kRays;
    update();
}

void MRSpinner::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QColor base = MRWidgetTheme::resolve(MRTheme::textSecondary(), this);
    const qreal centre = kSize / 2.0;
    const qreal thickness = kSize * 0.11;
    const qreal inner = kSize * 0.24;
    const qreal outer = kSize * 0.5 - thickness / 2;
    QPen pen(base, thickness, Qt::SolidLine, Qt::RoundCap);
    painter.translate(centre, centre);
    for (int ray = 0; ray < kRays; ++ray) {
        // The brightest ray is the current step; those behind it fade out.
        const int behind = (m_step - ray + kRays) % kRays;
        QColor color = base;
        color.setAlphaF(color.alphaF() * (1.0 - (1.0 - kDimmestAlpha) * behind / (kRays - 1)));
        pen.setColor(color);
        painter.setPen(pen);
        const qreal angle = ray * 2 * M_PI / kRays - M_PI / 2;
        painter.drawLine(QPointF(qCos(angle) * inner, qSin(angle) * inner),
                         QPointF(qCos(angle) * outer, qSin(angle) * outer));
    }
}

void MRSpinner::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::PaletteChange)
        update();
    QWidget::changeEvent(event);
}

void MRSpinner::showEvent(QShowEvent* event)
{
    if (m_animating)
        m_timer.start();
    QWidget::showEvent(event);
}

void MRSpinner::hideEvent(QHideEvent* event)
{
    // Nothing to turn while the window is hidden or minimised.
    m_timer.stop();
    QWidget::hideEvent(event);
}
