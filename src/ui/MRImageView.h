#pragma once

#include "ui/MRIcon.h"
#include "ui/MRTheme.h"

#include <QWidget>

// Shows one symbol image tinted with a palette colour, resolved whenever it paints.
class MRImageView : public QWidget
{
    Q_OBJECT

public:
    explicit MRImageView(QWidget* parent = nullptr);

    MRIcon image() const { return m_image; }
    void setImage(const MRIcon& image);
    MRColor tint() const { return m_tint; }
    void setTint(const MRColor& tint);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    MRIcon m_image;
    MRColor m_tint = MRTheme::textPrimary();
};
