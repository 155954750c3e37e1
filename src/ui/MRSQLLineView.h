#pragma once

#include "workspace/MRSQLHighlighter.h"

#include <QWidget>

// One line of highlighted SQL, cut at the tail with "…" when it does not fit: the SQL
// line of a history row. Line breaks and tabs show as spaces. Colours are resolved when
// painting, so an appearance change repaints in the right colours without a new split.
class MRSQLLineView final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(MRSQLLineView)

public:
    static constexpr qreal kDefaultFontSize = 11.5;

    explicit MRSQLLineView(QWidget* parent = nullptr);

    QString sql() const { return m_sql; }
    // Literals and comments are found as a server of that dialect reads them.
    void setSQL(const QString& sql, SQLClassifier::Dialect dialect = SQLClassifier::Dialect::PostgreSQL);

    qreal fontSize() const { return m_fontSize; }
    void setFontSize(qreal size);

    // The text as drawn at the current width: the whole line or a cut ending in "…".
    QString displayedText() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    struct Elided
    {
        int width = -1;
        QString text;
        QList<SQLSpan> spans;
    };
    const Elided& elided() const;
    void invalidate();

    QString m_sql;
    QString m_line;
    QList<SQLSpan> m_spans;
    qreal m_fontSize = kDefaultFontSize;
    mutable Elided m_elided;
};
