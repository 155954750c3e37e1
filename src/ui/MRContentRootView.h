#pragma once

#include <QWidget>

// The background of a window's content, in the palette's window colour.
class MRContentRootView : public QWidget
{
    Q_OBJECT

public:
    explicit MRContentRootView(QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;
};
