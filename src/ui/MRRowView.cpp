#include "ui/MRRowView.h"

#include "ui/MRAccessible.h"
#include "ui/MRFocusRing.h"
#include "ui/MRWidgetTheme.h"

#include <QChildEvent>
#include <QGraphicsOpacityEffect>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

MRRowView::MRRowView(QWidget* parent) : MRInteractiveWidget(parent)
{
    MRAccessible::install();
    setAttribute(Qt::WA_Hover);
    setFocusPolicy(Qt::StrongFocus);
}

void MRRowView::setFocusCornerRadius(qreal radius)
{
    m_focusCornerRadius = radius;
    update();
}

void MRRowView::performClick()
{
    Q_EMIT clicked();
}

void MRRowView::paintRow(QPainter&) {}

void MRRowView::paintRowBackground(QPainter& painter, const MRColor& fill)
{
    const QColor color = MRWidgetTheme::resolve(fill, this);
    if (!color.isValid())
        return;
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(color);
    painter.drawRoundedRect(rect(), MRTheme::rowRadius(), MRTheme::rowRadius());
    painter.restore();
}

void MRRowView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    paintRow(painter);
    if (showsFocusRing())
        MRFocusRing::paint(painter, rect(), m_focusCornerRadius, this);
}

void MRRowView::mousePressEvent(QMouseEvent* event)
{
    // The press is taken so that the release comes here; only the release decides.
    event->setAccepted(event->button() == Qt::LeftButton);
}

void MRRowView::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) {
        event->ignore();
        return;
    }
    if (rect().contains(event->position().toPoint()))
        performClick();
}

void MRRowView::keyPressEvent(QKeyEvent* event)
{
    const QString text = event->text();
    const bool fires = event->key() == Qt::Key_Space || event->key() == Qt::Key_Return ||
                       event->key() == Qt::Key_Enter || text == QLatin1String(" ") || text == QLatin1String("\r") ||
                       text == QLatin1String("\n");
    if (fires) {
        performClick();
        return;
    }
    QWidget::keyPressEvent(event);
}

void MRRowView::changeEvent(QEvent* event)
{
    // Dimmed as a whole, labels and images it holds included, as disabled buttons are.
    if (event->type() == QEvent::EnabledChange) {
        if (isEnabled()) {
            setGraphicsEffect(nullptr);
        } else if (!graphicsEffect()) {
            auto* dim = new QGraphicsOpacityEffect(this);
            dim->setOpacity(kMRDisabledOpacity);
            setGraphicsEffect(dim);
        }
    }
    MRInteractiveWidget::changeEvent(event);
}

void MRRowView::childEvent(QChildEvent* event)
{
    if (event->added() && event->child()->isWidgetType())
        static_cast<QWidget*>(event->child())->setAttribute(Qt::WA_TransparentForMouseEvents);
    QWidget::childEvent(event);
}
