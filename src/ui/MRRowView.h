#pragma once

#include "ui/MRAccessibleElement.h"
#include "ui/MRInteractiveWidget.h"
#include "ui/MRTheme.h"

#include <QWidget>

// The base of every clickable row: hover, a click that fires on release inside the row,
// Space/Return/Enter from the keyboard, a rounded focus ring, and the button role for
// assistive technology. Child widgets never take the mouse; the row answers for them.
class MRRowView : public MRInteractiveWidget<QWidget>, public MRAccessibleElement
{
    Q_OBJECT

public:
    explicit MRRowView(QWidget* parent = nullptr);

    QString rowAccessibilityLabel() const { return m_accessibilityLabel; }
    void setRowAccessibilityLabel(const QString& label) { m_accessibilityLabel = label; }
    qreal focusCornerRadius() const { return m_focusCornerRadius; }
    void setFocusCornerRadius(qreal radius);

    // What a click, Space/Return or the accessibility press does: emits clicked().
    void performClick();

    QAccessible::Role accessibleRole() const override { return QAccessible::Button; }
    QString accessibleLabel() const override { return m_accessibilityLabel; }
    void accessiblePress() override { performClick(); }

Q_SIGNALS:
    void clicked();

protected:
    // Whether to paint the hover fill: a disabled row shows none.
    bool showsHover() const { return isHovered() && isEnabled(); }
    // Subclasses paint their content here; the focus ring is drawn over it. A disabled row is
    // dimmed as a whole.
    virtual void paintRow(QPainter& painter);
    // The rounded background every row uses: the given fill inside rowRadius corners.
    void paintRowBackground(QPainter& painter, const MRColor& fill);

    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void changeEvent(QEvent* event) override;
    void childEvent(QChildEvent* event) override;

private:
    QString m_accessibilityLabel;
    qreal m_focusCornerRadius = MRTheme::rowRadius();
};
