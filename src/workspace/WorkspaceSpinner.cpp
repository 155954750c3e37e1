#include "workspace/WorkspaceSpinner.h"

#include "ui/MRTheme.h"
#include "ui/MRWidgetTheme.h"

#include <QEvent>
#include <QPainter>
#include <QTimer>

namespace {

constexpr int kSpokes = 12;
constexpr int kStepMs = 80;

} // namespace

WorkspaceSpinner::WorkspaceSpinner(QWidget* parent) : QWidget(parent), m_timer(new QTimer(this))
{
    setFixedSize(kSize, kSize);
    QSizePolicy policy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    policy.setRetainSizeWhenHidden(true);
    setSizePolicy(policy);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    m_timer->setInterval(kStepMs);
    connect(m_timer, &QTimer::timeout, this, [this] {
        m_step = (m_step + 1) % kSpokes;
        update();
    });
    hide();
}

void WorkspaceSpinner::start()
{
    m_spinning = true;
    m_timer->start();
    show();
}

void WorkspaceSpinner::stop()
{
    m_spinning = false;
    m_timer->stop();
    hide();
}

void WorkspaceSpinner::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QColor ink = MRWidgetTheme::resolve(MRTheme::textSecondary(), this);
    const qreal centre = kSize / 2.0;
    painter.translate(centre, centre);
    // Twelve spokes, the newest darkest, fading behind it as it turns.
    for (int i = 0; i < kSpokes; ++i) {
        const int age = (m_step - i + kSpokes) % kSpokes;
        QColor color = ink;
        color.setAlphaF(ink.alphaF() * (1.0 - 0.75 * age / (kSpokes - 1)));
        painter.save();
        painter.rotate(i * 360.0 / kSpokes);
        painter.setPen(QPen(color, 1.6, Qt::SolidLine, Qt::RoundCap));
        painter.drawLine(QPointF(0, -centre * 0.45), QPointF(0, -centre * 0.9));
        painter.restore();
    }
}

void WorkspaceSpinner::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::PaletteChange)
        update();
    QWidget::changeEvent(event);
}
