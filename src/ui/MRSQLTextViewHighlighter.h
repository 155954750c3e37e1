#pragma once

#include "workspace/MRSQLHighlighter.h"

#include <QSyntaxHighlighter>

class QTextEdit;

// Shows the SQL of a text view highlighted: monospaced, primary text colour, 2 points of
// line spacing, and the highlighter's colours. The spans are made once per call; colours
// are resolved against the view whenever its palette changes, so a theme switch recolours
// the text without splitting it again. Text typed into the view afterwards stays plain.
class MRSQLTextViewHighlighter final : public QSyntaxHighlighter
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(MRSQLTextViewHighlighter)

public:
    // Re-colours the whole content of view in place at fontSize points, finding literals
    // and comments as a server of that dialect reads them. The selection stays where it
    // was when it still lies within the text.
    static void highlightTextView(QTextEdit* view, qreal fontSize,
                                  SQLClassifier::Dialect dialect = SQLClassifier::Dialect::PostgreSQL);

    // The highlighter attached to view by highlightTextView, or null.
    static MRSQLTextViewHighlighter* of(const QTextEdit* view);

    // The spans now shown; empty once the text has changed since highlighting.
    QList<SQLSpan> spans() const { return m_spans; }

protected:
    void highlightBlock(const QString& text) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    explicit MRSQLTextViewHighlighter(QTextEdit* view);
    void attach();
    void documentChanged();

    QTextEdit* m_view;
    QList<SQLSpan> m_spans;
    bool m_replacing = false;
};
