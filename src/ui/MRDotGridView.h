#pragma once

#include <QWidget>

// A backdrop of small dots on a 22-point grid anchored at the view's origin, so partial
// repaints line up with the rest. It paints only its dots; what lies behind shows through.
class MRDotGridView : public QWidget
{
    Q_OBJECT

public:
    explicit MRDotGridView(QWidget* parent = nullptr);

    static constexpr qreal kSpacing = 22;
    static constexpr qreal kDotDiameter = 2.3;

protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;
};
