#include "workspace/WorkspacePage.h"

#include "ui/MRContentFlipped.h"

#include <QApplication>
#include <QEvent>
#include <QPointer>
#include <QProxyStyle>
#include <QScrollBar>

namespace {

// The application's style with transient scroll bars: laid over the viewport, shown while
// scrolling or hovered, as overlay scrollers are.
class OverlayScrollStyle final : public QProxyStyle
{
public:
    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* returnData) const override
    {
        if (hint == SH_ScrollBar_Transient)
            return 1;
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }
};

QStyle* overlayScrollStyle()
{
    // Made once per application style; a style change makes a new one.
    static QPointer<OverlayScrollStyle> style;
    static QPointer<QStyle> base;
    if (!style || base != QApplication::style()) {
        base = QApplication::style();
        style = new OverlayScrollStyle;
        style->setParent(qApp);
    }
    return style;
}

} // namespace

WorkspacePage::WorkspacePage(const WorkspaceColumnLayout::Metrics& metrics, QWidget* parent)
    : QScrollArea(parent), m_document(new MRContentFlipped), m_layout(new WorkspaceColumnLayout(metrics, m_document)),
      m_column(new QWidget)
{
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setAutoFillBackground(false);
    viewport()->setAutoFillBackground(false);
    useOverlayScrollBars(this);

    m_layout->addWidget(m_column);
    // The page sizes its document itself, from the column's height at the visible width.
    setWidgetResizable(false);
    setWidget(m_document);
    // setWidget() turns the fill on; the backdrop behind the page is to show through.
    m_document->setAutoFillBackground(false);
    m_document->installEventFilter(this);
}

void WorkspacePage::useOverlayScrollBars(QAbstractScrollArea* area)
{
    QStyle* style = overlayScrollStyle();
    area->setStyle(style);
    area->verticalScrollBar()->setStyle(style);
    area->horizontalScrollBar()->setStyle(style);
}

void WorkspacePage::resizeEvent(QResizeEvent* event)
{
    QScrollArea::resizeEvent(event);
    fitDocument();
}

bool WorkspacePage::eventFilter(QObject* watched, QEvent* event)
{
    // A change inside the column (a result, a longer statement) asks for a new layout.
    if (watched == m_document && event->type() == QEvent::LayoutRequest)
        fitDocument();
    return QScrollArea::eventFilter(watched, event);
}

void WorkspacePage::fitDocument()
{
    const QSize visible = viewport()->size();
    const int height = std::max(visible.height(), m_layout->heightForWidth(visible.width()));
    if (m_document->size() != QSize(visible.width(), height))
        m_document->resize(visible.width(), height);
}
