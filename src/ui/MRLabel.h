#pragma once

#include "ui/MRTheme.h"

#include <QLabel>

// A label whose text colour is a palette colour, re-resolved whenever the appearance
// the label is shown in changes.
class MRLabel : public QLabel
{
    Q_OBJECT

public:
    explicit MRLabel(const QString& text = {}, QWidget* parent = nullptr);
    // Text that is shown as it stands, never read as markup: prompts, statements and
    // server messages may hold '<'.
    static MRLabel* plainText(const QString& text, const QFont& font, const MRColor& color);

    MRColor textColor() const { return m_color; }
    void setTextColor(const MRColor& color);

protected:
    void changeEvent(QEvent* event) override;

private:
    void applyColor();

    MRColor m_color = MRTheme::textPrimary();
};
