#pragma once

#include <QWidget>

// A rounded box on the elevated background with a one-point hairline border; it has no
// content margins of its own.
class MRCardView : public QWidget
{
    Q_OBJECT

public:
    explicit MRCardView(qreal cornerRadius, QWidget* parent = nullptr);

    qreal cornerRadius() const { return m_radius; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    qreal m_radius;
};
