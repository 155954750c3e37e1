#pragma once

#include <QWidget>

class QTimer;

// The small spinning indicator of a task in progress; it keeps its place in the layout
// but shows nothing while stopped.
class WorkspaceSpinner final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(WorkspaceSpinner)

public:
    static constexpr int kSize = 16;

    explicit WorkspaceSpinner(QWidget* parent = nullptr);

    bool isSpinning() const { return m_spinning; }
    void start();
    void stop();

    QSize sizeHint() const override { return {kSize, kSize}; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    QTimer* m_timer;
    int m_step = 0;
    bool m_spinning = false;
};
