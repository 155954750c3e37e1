#pragma once

#include "ui/MRRowView.h"

class MRSQLLineView;

// A two-line row for one past query: the prompt with its time on the right, and under it
// the statement on one highlighted line; a hairline separates it from the next row.
class MRHistoryRow : public MRRowView
{
    Q_OBJECT

public:
    MRHistoryRow(const QString& prompt, const QString& sql, const QString& time, QWidget* parent = nullptr);

    // The prompt as shown: "(empty prompt)" stands in for an empty one.
    QString promptText() const { return m_prompt; }
    QString timeText() const { return m_time; }
    MRSQLLineView* sqlLine() const { return m_sqlLine; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintRow(QPainter& painter) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    QRectF promptRect() const;

    QString m_prompt;
    QString m_time;
    MRSQLLineView* m_sqlLine;
};
