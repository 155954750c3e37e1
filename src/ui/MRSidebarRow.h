#pragma once

#include "ui/MRIcon.h"
#include "ui/MRRowView.h"

#include <optional>

// A sidebar row: an icon or a coloured dot, a one-line title and a trailing image; the
// selected look fills it and sets the title in medium weight.
class MRSidebarRow : public MRRowView
{
    Q_OBJECT

public:
    // No symbol leaves the icon blank.
    MRSidebarRow(const QString& symbol, const QString& title, QWidget* parent = nullptr);

    QString titleText() const { return m_title; }
    // Sets the title and the accessibility label.
    void setTitleText(const QString& title);
    // A colour shows the dot in place of the icon; none shows the icon again.
    void setDotColor(const std::optional<MRColor>& color);
    std::optional<MRColor> dotColor() const { return m_dotColor; }
    // The symbol at 11 points semibold, or a blank image for an empty name.
    void setTrailingSymbol(const QString& name);
    // Shows the icon (not the dot), replacing its image when one is given, in this tint.
    void setLeadingImage(const std::optional<MRIcon>& image, const MRColor& tint);
    void setSelectedLook(bool selected);
    bool isSelected() const { return m_selected; }

    MRIcon icon() const { return m_icon; }
    MRColor iconTint() const { return m_iconTint; }
    MRIcon trailingImage() const { return m_trailing; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintRow(QPainter& painter) override;

private:
    QFont titleFont() const;

    QString m_title;
    MRIcon m_icon;
    MRColor m_iconTint = MRTheme::textSecondary();
    MRIcon m_trailing;
    std::optional<MRColor> m_dotColor;
    bool m_selected = false;
};
