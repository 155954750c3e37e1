#include "ui/MRLabel.h"

#include "ui/MRWidgetTheme.h"

#include <QEvent>

MRLabel::MRLabel(const QString& text, QWidget* parent) : QLabel(text, parent)
{
    applyColor();
}

MRLabel* MRLabel::plainText(const QString& text, const QFont& font, const MRColor& color)
{
    auto* label = new MRLabel(text);
    label->setFont(font);
    label->setTextColor(color);
    label->setTextFormat(Qt::PlainText);
    return label;
}

void MRLabel::setTextColor(const MRColor& color)
{
    m_color = color;
    applyColor();
}

void MRLabel::applyColor()
{
    // Only the text roles are set, so the window colour, which tells light from dark,
    // still comes from the parent. Setting an unchanged palette sends no further change.
    const QColor color = MRWidgetTheme::resolve(m_color, this);
    QPalette own = palette();
    own.setColor(QPalette::WindowText, color);
    own.setColor(QPalette::Text, color);
    setPalette(own);
}

void MRLabel::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::PaletteChange)
        applyColor();
    QLabel::changeEvent(event);
}
