#pragma once

#include "ui/MRTheme.h"

#include <QTimer>
#include <QWidget>

// A small indeterminate progress indicator: twelve rays whose brightness runs round the
// circle while it animates. Hidden while stopped, it keeps its place in the layout, so
// nothing below it moves when it starts or stops.
class MRSpinner : public QWidget
{
    Q_OBJECT

public:
    explicit MRSpinner(QWidget* parent = nullptr);

    static constexpr int kSize = 16;
    static constexpr int kRays = 12;

    void startAnimation();
    void stopAnimation();
    bool isAnimating() const { return m_animating; }
    // The ray drawn brightest, 0 … kRays − 1; it advances one ray per tick.
    int step() const { return m_step; }

    QSize sizeHint() const override { return {kSize, kSize}; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void advance();

    QTimer m_timer;
    bool m_animating = false;
    int m_step = 0;
};
