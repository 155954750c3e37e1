#pragma once

#include <QLineEdit>

// The single-line text field of the house style: a rounded bezel in the input background
// with a hairline border, ringed in the accent colour while it has the keyboard focus.
class MRTextField : public QLineEdit
{
    Q_OBJECT

public:
    explicit MRTextField(QWidget* parent = nullptr);

    static constexpr qreal kCornerRadius = 7;
    static constexpr int kHorizontalPadding = 8;

protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    void applyColors();
};
