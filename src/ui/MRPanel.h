#pragma once

#include <QWidget>

// The rounded input panel: input background, hairline border, and an optional soft shadow
// that lifts it off the window.
class MRPanel : public QWidget
{
    Q_OBJECT

public:
    explicit MRPanel(QWidget* parent = nullptr);

    // inputRadius unless set otherwise; a card inside a page uses cardRadius.
    qreal cornerRadius() const { return m_cornerRadius; }
    void setCornerRadius(qreal radius);

    bool isElevated() const { return m_elevated; }
    // On: a shadow of blur 18, 3 points down, black at 13 %. Off: no shadow at all.
    void setElevated(bool elevated);

protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    bool m_elevated = false;
    qreal m_cornerRadius;
};
