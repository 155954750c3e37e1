#include "ui/MRSQLLineView.h"

#include "ui/MRSQLPalette.h"
#include "ui/MRTheme.h"
#include "ui/MRWidgetTheme.h"

#include <QEvent>
#include <QFontMetricsF>
#include <QPainter>
#include <QTextLayout>
#include <algorithm>
#include <cmath>

namespace {

// How much of a long line the size hint measures; a history row is far narrower.
constexpr qsizetype kHintCharacters = 200;

bool isLineBreakOrTab(QChar c)
{
    switch (c.unicode()) {
    case '\t':
    case '\n':
    case '\v':
    case '\f':
    case '\r':
    case 0x85:
    case 0x2028:
    case 0x2029:
        return true;
    default:
        return false;
    }
}

// Same length as sql, so the highlighter's positions in sql hold for the line too.
QString oneLine(const QString& sql)
{
    QString line = sql;
    for (QChar& c : line) {
        if (isLineBreakOrTab(c))
            c = QLatin1Char(' ');
    }
    return line;
}

SQLRole roleAt(const QList<SQLSpan>& spans, qsizetype position)
{
    auto it = std::partition_point(spans.cbegin(), spans.cend(),
                                   [position](const SQLSpan& span) { return span.start + span.length <= position; });
    return it != spans.cend() && it->start <= position ? it->role : SQLRole::Plain;
}

} // namespace

MRSQLLineView::MRSQLLineView(QWidget* parent) : QWidget(parent)
{
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    setFont(MRTheme::monoFont(m_fontSize));
}

void MRSQLLineView::setSQL(const QString& sql, SQLClassifier::Dialect dialect)
{
    m_sql = sql;
    m_line = oneLine(sql);
    // Highlighted as written, so that a line comment still ends at its line break.
    m_spans = MRSQLHighlighter::highlight(sql, dialect);
    setAccessibleName(m_line);
    invalidate();
}

void MRSQLLineView::setFontSize(qreal size)
{
    m_fontSize = size;
    setFont(MRTheme::monoFont(size));
    invalidate();
}

void MRSQLLineView::invalidate()
{
    m_elided.width = -1;
    updateGeometry();
    update();
}

QString MRSQLLineView::displayedText() const
{
    return elided().text;
}

const MRSQLLineView::Elided& MRSQLLineView::elided() const
{
    const int available = width();
    if (m_elided.width == available)
        return m_elided;
    m_elided = {available, {}, {}};

    const QFontMetricsF metrics(font());
    // Only what could fit is measured: four times the characters the width holds leaves
    // room for narrow and combining characters.
    const qsizetype cap = qsizetype(available / std::max<qreal>(1, metrics.averageCharWidth())) * 4 + 16;
    QString candidate = m_line;
    const bool cut = candidate.size() > cap;
    if (cut)
        candidate.truncate(candidate[cap - 1].isHighSurrogate() ? cap - 1 : cap);

    QString text = metrics.elidedText(candidate, Qt::ElideRight, available);
    if (cut && text == candidate)
        text += QChar(0x2026);

    // The kept head keeps its colours; the ellipsis takes the colour of what it stands for.
    qsizetype kept = 0;
    while (kept < text.size() && kept < candidate.size() && text[kept] == candidate[kept])
        ++kept;
    if (kept == m_line.size()) {
        m_elided.spans = m_spans;
    } else {
        for (const SQLSpan& span : m_spans) {
            if (span.start >= kept)
                break;
            m_elided.spans.append({span.start, std::min(span.length, kept - span.start), span.role});
        }
        const SQLRole tail = roleAt(m_spans, kept);
        if (tail != SQLRole::Plain && text.size() > kept)
            m_elided.spans.append({kept, text.size() - kept, tail});
    }
    m_elided.text = text;
    return m_elided;
}

QSize MRSQLLineView::sizeHint() const
{
    const QFontMetricsF metrics(font());
    const qreal width = metrics.horizontalAdvance(m_line.left(kHintCharacters));
    return {int(std::ceil(width)), int(std::ceil(metrics.height()))};
}

QSize MRSQLLineView::minimumSizeHint() const
{
    const QFontMetricsF metrics(font());
    return {int(std::ceil(metrics.horizontalAdvance(QChar(0x2026)))), int(std::ceil(metrics.height()))};
}

void MRSQLLineView::paintEvent(QPaintEvent*)
{
    const Elided& line = elided();
    if (line.text.isEmpty())
        return;

    QTextLayout layout(line.text, font(), this);
    QTextOption option;
    option.setWrapMode(QTextOption::NoWrap);
    option.setTextDirection(layoutDirection());
    layout.setTextOption(option);
    layout.setFormats(MRSQLPalette::formats(line.spans, 0, line.text.size(), this));
    layout.beginLayout();
    QTextLine textLine = layout.createLine();
    textLine.setLineWidth(width());
    layout.endLayout();

    QPainter painter(this);
    painter.setPen(MRWidgetTheme::resolve(MRTheme::textPrimary(), this));
    layout.draw(&painter, QPointF(0, (height() - textLine.height()) / 2));
}

void MRSQLLineView::changeEvent(QEvent* event)
{
    switch (event->type()) {
    case QEvent::PaletteChange:
    case QEvent::ApplicationPaletteChange:
        update();
        break;
    case QEvent::FontChange:
        invalidate();
        break;
    default:
        break;
    }
    QWidget::changeEvent(event);
}
