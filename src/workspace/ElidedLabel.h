#pragma once

#include "ui/MRLabel.h"

// A one-line label that cuts its text short with an ellipsis when the room runs out,
// and shows the whole text as its tooltip then. text() is always the whole text.
class ElidedLabel final : public MRLabel
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ElidedLabel)

public:
    explicit ElidedLabel(QWidget* parent = nullptr);

    // Whether the text is cut short at the present width.
    bool isElided() const;

    // One line high even while empty, so the lines below keep their places.
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    bool event(QEvent* event) override;

private:
    QString shownText() const;
};
