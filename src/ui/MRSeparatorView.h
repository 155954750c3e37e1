#pragma once

#include <QWidget>

// A one-point horizontal rule in the hairline colour, for dividing a pane into parts.
class MRSeparatorView : public QWidget
{
    Q_OBJECT

public:
    explicit MRSeparatorView(QWidget* parent = nullptr);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;
};
