#include "ui/MRSQLTextViewHighlighter.h"

#include "ui/MRSQLPalette.h"
#include "ui/MRTheme.h"
#include "ui/MRWidgetTheme.h"

#include <QEvent>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextEdit>

namespace {

constexpr qreal kLineSpacing = 2;

} // namespace

// Parented after construction: given a text edit as parent, the base class would attach to
// its document at once, before the edit watch below could be connected ahead of it.
MRSQLTextViewHighlighter::MRSQLTextViewHighlighter(QTextEdit* view)
    : QSyntaxHighlighter(static_cast<QObject*>(nullptr)), m_view(view)
{
    setParent(view);
    setObjectName(QStringLiteral("MRSQLTextViewHighlighter"));
    view->installEventFilter(this);
}

MRSQLTextViewHighlighter* MRSQLTextViewHighlighter::of(const QTextEdit* view)
{
    return view->findChild<MRSQLTextViewHighlighter*>(QString(), Qt::FindDirectChildrenOnly);
}

void MRSQLTextViewHighlighter::attach()
{
    QTextDocument* document = m_view->document();
    if (this->document() == document)
        return;
    // Connected before the base class connects its own re-formatting, so an edit forgets
    // the spans before any block is formatted again.
    connect(document, &QTextDocument::contentsChange, this, &MRSQLTextViewHighlighter::documentChanged);
    setDocument(document);
}

void MRSQLTextViewHighlighter::documentChanged()
{
    if (!m_replacing)
        m_spans.clear();
}

void MRSQLTextViewHighlighter::highlightTextView(QTextEdit* view, qreal fontSize, SQLClassifier::Dialect dialect)
{
    MRSQLTextViewHighlighter* highlighter = of(view);
    if (!highlighter)
        highlighter = new MRSQLTextViewHighlighter(view);
    highlighter->attach();

    const QString text = view->toPlainText();
    const QList<SQLSpan> spans = MRSQLHighlighter::highlight(text, dialect);
    const QTextCursor selection = view->textCursor();
    const int anchor = selection.anchor();
    const int position = selection.position();

    view->setFont(MRTheme::monoFont(fontSize));

    // Replace the whole content with the same text in uniform formats; the blocks are
    // not coloured until the new spans are in place.
    highlighter->m_replacing = true;
    highlighter->m_spans.clear();
    QTextDocument* document = view->document();
    const bool undo = document->isUndoRedoEnabled();
    document->setUndoRedoEnabled(false);
    document->clear();
    QTextCursor cursor(document);
    QTextBlockFormat block;
    block.setLineHeight(kLineSpacing, QTextBlockFormat::LineDistanceHeight);
    cursor.setBlockFormat(block);
    cursor.setBlockCharFormat({});
    cursor.insertText(text, {});
    document->setUndoRedoEnabled(undo);
    highlighter->m_spans = spans;
    highlighter->m_replacing = false;
    highlighter->rehighlight();

    if (std::max(anchor, position) <= text.size()) {
        QTextCursor restored(document);
        restored.setPosition(anchor);
        restored.setPosition(position, QTextCursor::KeepAnchor);
        view->setTextCursor(restored);
    }
}

void MRSQLTextViewHighlighter::highlightBlock(const QString& text)
{
    if (m_replacing)
        return;
    QTextCharFormat plain;
    plain.setForeground(MRWidgetTheme::resolve(MRTheme::textPrimary(), m_view));
    setFormat(0, int(text.size()), plain);
    const QTextBlock block = currentBlock();
    for (const auto& range : MRSQLPalette::formats(m_spans, block.position(), text.size(), m_view))
        setFormat(range.start, range.length, range.format);
}

bool MRSQLTextViewHighlighter::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_view && event->type() == QEvent::PaletteChange)
        rehighlight();
    return QSyntaxHighlighter::eventFilter(watched, event);
}
