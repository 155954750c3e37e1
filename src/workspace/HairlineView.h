#pragma once

#include <QWidget>

// A horizontal separator one point high, in the palette's hairline colour.
class HairlineView final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(HairlineView)

public:
    explicit HairlineView(QWidget* parent = nullptr);

    QSize sizeHint() const override { return {0, 1}; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;
};
