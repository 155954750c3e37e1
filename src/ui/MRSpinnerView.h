#pragma once

#include <QWidget>

class QTimer;

// A small spinning progress indicator, 16 × 16: twelve spokes whose brightness turns round.
// It hides itself while stopped, so a stopped spinner takes no attention.
class MRSpinnerView : public QWidget
{
    Q_OBJECT

public:
    static constexpr int kSize = 16;

    explicit MRSpinnerView(QWidget* parent = nullptr);

    void startAnimation();
    void stopAnimation();
    bool isAnimating() const;

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    QTimer* m_timer;
    int m_step = 0;
};
