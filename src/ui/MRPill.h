#pragma once

#include "ui/MRAccessibleElement.h"
#include "ui/MRInteractiveWidget.h"

#include <QRectF>
#include <QStringList>
#include <QWidget>

class QVariantAnimation;

// A segmented switch: equal segments with centred titles and a sliding thumb behind the
// selected one. Clicks, arrows and Space/Return change the selection; selectionChanged()
// tells of each change the user makes.
class MRPill : public MRInteractiveWidget<QWidget>, public MRAccessibleElement
{
    Q_OBJECT

public:
    static constexpr int kAnimationMs = 180;

    explicit MRPill(const QStringList& titles, QWidget* parent = nullptr);

    QStringList titles() const { return m_titles; }
    int selectedIndex() const { return m_selectedIndex; }
    // Moves the thumb at once; no clamping and no selectionChanged().
    void setSelectedIndex(int index);

    // Clamps into the segments; an unchanged index does nothing, else the thumb moves and,
    // with notify, selectionChanged() tells the new index.
    void selectIndex(int index, bool animated, bool notify);

    QRectF thumbRectForIndex(int index) const;
    // Where the thumb is drawn now, part-way along while it slides.
    QRectF currentThumbRect() const { return m_thumbRect; }
    bool isAnimating() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

    QAccessible::Role accessibleRole() const override { return QAccessible::Button; }
    QString accessibleLabel() const override;
    QString accessibleValue() const override;
    void accessiblePress() override;

Q_SIGNALS:
    void selectionChanged(int index);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    qreal segmentWidth() const;
    void placeThumb(bool animated);
    void selectNextWrapping();

    QStringList m_titles;
    int m_selectedIndex = 0;
    QRectF m_thumbRect;
    QVariantAnimation* m_animation;
};
