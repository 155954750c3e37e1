#include "ui/MRSpinnerView.h"

#include "ui/MRTheme.h"
#include "ui/MRWidgetTheme.h"

#include <QEvent>
#include <QPainter>
#include <QTimer>

namespace {

constexpr int kSpokes = 12;
constexpr int kStepMs = 80;
constexpr qreal kSpokeWidth = 1.6;
constexpr qreal kInnerRadius = 3.6;
constexpr qreal kOuterRadius = 7.2;
constexpr qreal kFaintestAlpha = 0.18;

} // namespace

MRSpinnerView::MRSpinnerView(QWidget* parent) : QWidget(parent), m_timer(new QTimer(this))
{
    setFixedSize(kSize, kSize);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    m_timer->setInterval(kStepMs);
    connect(m_timer, &QTimer::timeout, this, [this] {
        m_step = (m_step + 1) % kSpokes;
        update();
    });
    hide();
}

void MRSpinnerView::startAnimation()
{
    m_step = 0;
    m_timer->start();
    show();
}

void MRSpinnerView::stopAnimation()
{
    m_timer->stop();
    hide();
}

bool MRSpinnerView::isAnimating() const
{
    return m_timer->isActive();
}

QSize MRSpinnerView::sizeHint() const
{
    return {kSize, kSize};
}

void MRSpinnerView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.translate(width() / 2.0, height() / 2.0);
    QColor color = MRWidgetTheme::resolve(MRTheme::textSecondary(), this);
    const qreal baseAlpha = color.alphaF();
    for (int i = 0; i < kSpokes; ++i) {
        // The spoke at the current step is the brightest; those behind it fade out.
        const int age = (m_step - i + kSpokes) % kSpokes;
        const qreal share = 1.0 - (1.0 - kFaintestAlpha) * age / (kSpokes - 1);
        color.setAlphaF(float(baseAlpha * share));
        painter.setPen(QPen(color, kSpokeWidth, Qt::SolidLine, Qt::RoundCap));
        painter.save();
        painter.rotate(i * 360.0 / kSpokes - 90);
        painter.drawLine(QPointF(kInnerRadius, 0), QPointF(kOuterRadius, 0));
        painter.restore();
    }
}

void MRSpinnerView::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::PaletteChange)
        update();
    QWidget::changeEvent(event);
}
