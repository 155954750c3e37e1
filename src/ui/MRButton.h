#pragma once

#include "ui/MRIcon.h"
#include "ui/MRInteractiveWidget.h"
#include "ui/MRStyledText.h"
#include "ui/MRTheme.h"

#include <QAbstractButton>
#include <QList>

// The one button of the house style, in three looks: primary (accent fill), ghost (hairline
// border, fills on hover and press) and icon (fills on hover and press, no border).
class MRButton : public MRInteractiveWidget<QAbstractButton>
{
    Q_OBJECT

public:
    // A value outside the three looks draws no fill and no border.
    enum class Style : int { Primary = 0, Ghost = 1, Icon = 2 };

    explicit MRButton(QWidget* parent = nullptr);

    Style mrStyle() const { return m_style; }
    void setMrStyle(Style style);
    qreal cornerRadius() const { return m_cornerRadius; }
    void setCornerRadius(qreal radius);

    // The title with its own font and colour; also sets text().
    void setStyledTitle(const MRStyledText& title);
    // A title of several runs side by side on one baseline, each with its own font and
    // colour; text() is their texts joined.
    void setStyledTitle(const QList<MRStyledText>& runs);
    QList<MRStyledText> styledTitle() const { return m_titleRuns; }
    MRIcon image() const { return m_image; }
    void setImage(const MRIcon& image);
    MRColor imageTint() const { return m_imageTint; }
    void setImageTint(const MRColor& tint);
    // Puts the image after the title instead of before it.
    void setImageTrailing(bool trailing);

    bool isImageOnly() const { return !m_image.isNull() && text().isEmpty(); }

    // The natural size of the content, 30 points wider unless the button shows only its image.
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QSizeF contentSize() const;
    QList<MRStyledText> titleRuns() const;

    Style m_style = Style::Ghost;
    qreal m_cornerRadius = MRTheme::rowRadius();
    QList<MRStyledText> m_titleRuns;
    MRIcon m_image;
    MRColor m_imageTint = MRTheme::textSecondary();
    bool m_imageTrailing = false;
};
