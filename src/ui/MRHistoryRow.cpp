#include "ui/MRHistoryRow.h"

#include "ui/MRSQLLineView.h"
#include "ui/MRWidgetTheme.h"

#include <QCoreApplication>
#include <QFontMetricsF>
#include <QPainter>
#include <QtMath>

namespace {

constexpr int kHeight = 62;
constexpr qreal kInset = 14;
constexpr qreal kPromptTop = 12;
constexpr qreal kPromptToTime = 10;
constexpr qreal kPromptToSQL = 5;
constexpr qreal kSQLFontSize = 11.5;

QFont promptFont()
{
    return MRTheme::uiFont(13.5, QFont::Medium);
}

QFont timeFont()
{
    return MRTheme::uiFont(11);
}

} // namespace

MRHistoryRow::MRHistoryRow(const QString& prompt, const QString& sql, const QString& time, QWidget* parent)
    : MRRowView(parent),
      m_prompt(prompt.isEmpty() ? QCoreApplication::translate("MRHistoryRow", "(empty prompt)") : prompt), m_time(time),
      m_sqlLine(new MRSQLLineView(this))
{
    setFixedHeight(kHeight);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setRowAccessibilityLabel(m_prompt);
    m_sqlLine->setFontSize(kSQLFontSize);
    m_sqlLine->setSQL(sql);
}

QRectF MRHistoryRow::promptRect() const
{
    const qreal timeWidth = QFontMetricsF(timeFont()).horizontalAdvance(m_time);
    const qreal right = width() - kInset - timeWidth - kPromptToTime;
    return {kInset, kPromptTop, qMax<qreal>(0, right - kInset), QFontMetricsF(promptFont()).height()};
}

QSize MRHistoryRow::sizeHint() const
{
    const qreal prompt = QFontMetricsF(promptFont()).horizontalAdvance(m_prompt);
    const qreal time = QFontMetricsF(timeFont()).horizontalAdvance(m_time);
    return {qCeil(kInset + prompt + kPromptToTime + time + kInset), kHeight};
}

QSize MRHistoryRow::minimumSizeHint() const
{
    // The time keeps its full width; only the prompt gives way.
    const qreal time = QFontMetricsF(timeFont()).horizontalAdvance(m_time);
    return {qCeil(kInset + kPromptToTime + time + kInset), kHeight};
}

void MRHistoryRow::resizeEvent(QResizeEvent* event)
{
    const QRectF prompt = promptRect();
    const int top = qCeil(prompt.bottom() + kPromptToSQL);
    const int lineHeight = m_sqlLine->sizeHint().height();
    m_sqlLine->setGeometry(int(kInset), top, qMax(0, width() - int(2 * kInset)), lineHeight);
    MRRowView::resizeEvent(event);
}

void MRHistoryRow::paintRow(QPainter& painter)
{
    if (showsHover())
        paintRowBackground(painter, MRTheme::rowHover());

    const QRectF prompt = promptRect();
    const QFontMetricsF promptMetrics(promptFont());
    const qreal baseline = prompt.top() + promptMetrics.ascent();
    painter.setFont(promptFont());
    painter.setPen(MRWidgetTheme::resolve(MRTheme::textPrimary(), this));
    painter.drawText(QPointF(prompt.left(), baseline),
                     promptMetrics.elidedText(m_prompt, Qt::ElideRight, prompt.width()));

    const qreal timeWidth = QFontMetricsF(timeFont()).horizontalAdvance(m_time);
    painter.setFont(timeFont());
    painter.setPen(MRWidgetTheme::resolve(MRTheme::textTertiary(), this));
    painter.drawText(QPointF(width() - kInset - timeWidth, baseline), m_time);

    painter.fillRect(QRectF(kInset, height() - 1, qMax<qreal>(0, width() - 2 * kInset), 1),
                     MRWidgetTheme::resolve(MRTheme::hairline(), this));
}
