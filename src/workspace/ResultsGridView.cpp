#include "workspace/ResultsGridView.h"

#include "ui/MRFocusRing.h"
#include "ui/MRSharedStyle.h"
#include "ui/MRTheme.h"
#include "ui/MRWidgetTheme.h"
#include "workspace/ExportProgressPanel.h"
#include "workspace/QueryResultModel.h"
#include "workspace/ResultExport.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QPainterPath>
#include <QPointer>
#include <QProxyStyle>
#include <QStyledItemDelegate>
#include <QTableView>
#include <QtMath>
#include <algorithm>

namespace {

constexpr int kCellInset = 6;
constexpr qreal kHeaderFontSize = 11;
// NULL on a selected row: the selection's text colour let through this much still reads at 3:1.
constexpr qreal kNullOnSelectionAlpha = 0.75;

struct NextFile
{
    QString path;
    std::optional<ResultsGridView::ExportScope> scope;
};

NextFile& nextFile()
{
    static NextFile next;
    return next;
}

// A failure as the alert shows it, as a sentence: the library's or server's text without
// PostgreSQL's severity in front and with a full stop at its end, or what a refusal to
// write means for an export.
QString exportErrorText(const QueryError& error)
{
    if (error.kind == QueryError::Kind::RefusedAsWrite)
        return ResultsGridView::tr("The statement changes data, so it is not run again to export all its rows.");
    QString text = error.message.trimmed();
    if (text.startsWith(QLatin1String("ERROR:")))
        text = text.mid(6).trimmed();
    if (text.isEmpty())
        return ResultsGridView::tr("The export failed.");
    text[0] = text[0].toUpper();
    if (!QStringView(u".!?…").contains(text.back()))
        text += QLatin1Char('.');
    return text;
}

QPainterPath cardPath(const QRectF& rect)
{
    QPainterPath path;
    path.addRoundedRect(rect, MRTheme::cardRadius(), MRTheme::cardRadius());
    return path;
}

// Gives every column the same share of a change in width, as far as the minimum allows,
// so that together they fill the visible width; wider than that only when the minimums
// ask for it.
void fitColumns(QHeaderView* header, int target)
{
    const int count = header->count();
    if (count == 0 || target <= 0)
        return;
    QList<int> widths(count);
    int total = 0;
    for (int i = 0; i < count; ++i)
        total += widths[i] = header->sectionSize(i);
    int change = target - total;
    if (change == 0)
        return;

    const int minimum = header->minimumSectionSize();
    while (change != 0) {
        QList<int> open;
        for (int i = 0; i < count; ++i) {
            if (change > 0 || widths[i] > minimum)
                open.append(i);
        }
        if (open.isEmpty())
            break;
        const int share = change / int(open.size());
        int extra = change - share * int(open.size()); // spread one at a time
        for (const int i : open) {
            int step = share;
            if (extra != 0) {
                const int one = extra > 0 ? 1 : -1;
                step += one;
                extra -= one;
            }
            step = std::max(step, minimum - widths[i]);
            widths[i] += step;
            change -= step;
        }
    }
    for (int i = 0; i < count; ++i) {
        if (header->sectionSize(i) != widths[i])
            header->resizeSection(i, widths[i]);
    }
}

class ResultsHeader final : public QHeaderView
{
public:
    explicit ResultsHeader(QWidget* parent) : QHeaderView(Qt::Horizontal, parent)
    {
        setFont(MRTheme::uiFont(kHeaderFontSize));
        setSectionsClickable(false);
        setHighlightSections(false);
        setSectionResizeMode(QHeaderView::Interactive);
        setStretchLastSection(false);
        setMinimumSectionSize(ResultsGridView::kMinColumnWidth);
        setDefaultSectionSize(ResultsGridView::kColumnWidth);
        setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        viewport()->setAutoFillBackground(false);
    }

    QSize sizeHint() const override { return {QHeaderView::sizeHint().width(), ResultsGridView::kRowHeight}; }

protected:
    void paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const override
    {
        painter->save();
        const QColor line = MRWidgetTheme::resolve(MRTheme::hairline(), this);
        painter->fillRect(QRect(rect.left(), rect.bottom(), rect.width(), 1), line);
        if (logicalIndex < count() - 1)
            painter->fillRect(QRect(rect.right(), rect.top(), 1, rect.height()), line);
        const QRect textRect = rect.adjusted(kCellInset, 0, -kCellInset, 0);
        const QString title = model() ? model()->headerData(logicalIndex, orientation()).toString() : QString();
        painter->setPen(MRWidgetTheme::resolve(MRTheme::textSecondary(), this));
        painter->drawText(textRect, Qt::AlignLeft | Qt::AlignVCenter,
                          fontMetrics().elidedText(title, Qt::ElideRight, textRect.width()));
        painter->restore();
    }
};

// Paints a fill into the part of rect that lies inside the card, so that rows passing the
// rounded corners keep them smooth.
void fillInsideCard(QPainter* painter, const QRect& rect, const QColor& color, const QPainterPath& card)
{
    if (!color.isValid() || color.alpha() == 0)
        return;
    if (card.contains(QRectF(rect))) {
        painter->fillRect(rect, color);
        return;
    }
    QPainterPath cell;
    cell.addRect(rect);
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    painter->fillPath(card.intersected(cell), color);
    painter->restore();
}

// Keeps a scroll bar out of the card's rounded corners: an empty stretch beside its end.
QWidget* cornerSpacer(int extent)
{
    auto* spacer = new QWidget;
    spacer->setFixedSize(extent, extent);
    return spacer;
}

// Leaves the rows' fills to the cell delegate, which keeps them inside the rounded card; the
// base style would fill the selected and alternate rows as plain rectangles first.
class RowPanelStyle final : public QProxyStyle
{
public:
    explicit RowPanelStyle(const QString& baseStyle) : QProxyStyle(baseStyle) {}

    void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                       const QWidget* widget) const override
    {
        if (element != PE_PanelItemViewRow)
            QProxyStyle::drawPrimitive(element, option, painter, widget);
    }
};

class ResultsTable final : public QTableView
{
public:
    explicit ResultsTable(ResultsGridView* grid) : QTableView(grid), m_grid(grid)
    {
        setStyle(sharedProxyStyle<RowPanelStyle>());
    }

    // Whether the focus came from the keyboard, as the focus ring shows it.
    void setKeyboardFocus(bool keyboard)
    {
        m_keyboardFocus = keyboard;
        viewport()->update();
    }

    // The card's outline in the viewport's coordinates.
    QPainterPath cardInViewport() const
    {
        return cardPath(m_grid->rect()).translated(-QPointF(viewport()->mapTo(m_grid, QPoint())));
    }

protected:
    bool event(QEvent* event) override
    {
        // Ctrl+C belongs to the table while it has focus, even when a menu bar offers it.
        if (event->type() == QEvent::ShortcutOverride && static_cast<QKeyEvent*>(event)->matches(QKeySequence::Copy)) {
            event->accept();
            return true;
        }
        return QTableView::event(event);
    }

    void keyPressEvent(QKeyEvent* event) override
    {
        if (event->matches(QKeySequence::Copy)) {
            m_grid->copy();
            event->accept();
            return;
        }
        QTableView::keyPressEvent(event);
    }

    // Whole rows are what can be chosen, so Home and End go to the first and last row.
    QModelIndex moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) override
    {
        if (action == MoveHome || action == MoveEnd)
            modifiers |= Qt::ControlModifier;
        return QTableView::moveCursor(action, modifiers);
    }

    bool viewportEvent(QEvent* event) override
    {
        if (event->type() == QEvent::Resize)
            fitColumns(horizontalHeader(), viewport()->width());
        return QTableView::viewportEvent(event);
    }

    // With the keyboard in the grid, the current row is outlined while it is not selected,
    // so that moving without selecting (Ctrl with the arrows) shows where it is.
    void paintEvent(QPaintEvent* event) override
    {
        QTableView::paintEvent(event);
        const QModelIndex current = currentIndex();
        if (!m_keyboardFocus || !hasFocus() || !current.isValid() ||
            selectionModel()->isRowSelected(current.row(), QModelIndex()))
            return;
        const QRectF row(-horizontalHeader()->offset(), rowViewportPosition(current.row()),
                         horizontalHeader()->length(), rowHeight(current.row()));
        QPainter painter(viewport());
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setClipPath(cardInViewport());
        painter.setPen(QPen(MRWidgetTheme::resolve(MRTheme::accent(), this), 1));
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(row.adjusted(1.5, 0.5, -1.5, -0.5), 3, 3);
    }

private:
    ResultsGridView* m_grid;
    bool m_keyboardFocus = false;
};

// Draws each cell itself: the row's fill inside the card, the text inset 6 on both sides on
// one line cut at the tail, NULL in its own colour, and the line between columns.
class ResultsCellDelegate final : public QStyledItemDelegate
{
public:
    explicit ResultsCellDelegate(ResultsTable* table) : QStyledItemDelegate(table), m_table(table) {}

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        const bool selected = option.state & QStyle::State_Selected;
        const bool alternate = option.features & QStyleOptionViewItem::Alternate;
        const ResultsGridView::CellLook look = ResultsGridView::cellLook(option.palette, alternate, selected);
        fillInsideCard(painter, option.rect, look.fill, m_table->cardInViewport());

        painter->save();
        const bool isNull = index.data(QueryResultModel::IsNullRole).toBool();
        const auto alignment = Qt::Alignment(index.data(Qt::TextAlignmentRole).toInt());
        const QRect textRect = option.rect.adjusted(kCellInset, 0, -kCellInset, 0);
        painter->setFont(option.font);
        painter->setPen(isNull ? look.nullText : look.text);
        painter->drawText(textRect, int(alignment) | Qt::TextSingleLine,
                          option.fontMetrics.elidedText(index.data().toString(), Qt::ElideRight, textRect.width()));
        if (index.column() < index.model()->columnCount() - 1)
            painter->fillRect(QRect(option.rect.right(), option.rect.top(), 1, option.rect.height()),
                              MRWidgetTheme::resolve(MRTheme::hairline(), m_table));
        painter->restore();
    }

private:
    ResultsTable* m_table;
};

// The card's outline, drawn above the table and its scroll bars, and the keyboard focus ring
// while the table has focus from the keyboard.
class GridBorder final : public QWidget
{
public:
    explicit GridBorder(QWidget* parent) : QWidget(parent) { setAttribute(Qt::WA_TransparentForMouseEvents); }

    void setFocusRing(bool on)
    {
        if (on == m_focusRing)
            return;
        m_focusRing = on;
        update();
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(QPen(MRWidgetTheme::resolve(MRTheme::hairline(), this), 1));
        painter.setBrush(Qt::NoBrush);
        painter.drawPath(cardPath(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5)));
        if (m_focusRing)
            MRFocusRing::paint(painter, rect(), MRTheme::cardRadius(), this);
    }

    void changeEvent(QEvent* event) override
    {
        if (event->type() == QEvent::PaletteChange)
            update();
        QWidget::changeEvent(event);
    }

private:
    bool m_focusRing = false;
};

} // namespace

ResultsGridView::ResultsGridView(QWidget* parent)
    : QWidget(parent), m_model(new QueryResultModel(this)), m_table(new ResultsTable(this)),
      m_border(new GridBorder(this)), m_menu(new QMenu(this)), m_copyAction(m_menu->addAction(tr("Copy"))),
      m_exportAction(m_menu->addAction(tr("Export CSV…"))), m_exportAllAction(m_menu->addAction(QString()))
{
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);

    m_table->setHorizontalHeader(new ResultsHeader(m_table));
    m_table->setModel(m_model);
    m_table->setItemDelegate(new ResultsCellDelegate(static_cast<ResultsTable*>(m_table)));
    m_table->setFont(MRTheme::monoFont(kCellFontSize));
    m_table->setFrameShape(QFrame::NoFrame);
    m_table->viewport()->setAutoFillBackground(false);
    m_table->setShowGrid(false);
    m_table->setAlternatingRowColors(true);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    // Tab and Shift+Tab go on to the next and previous control; the arrows, Page Up/Down,
    // Home and End move within the grid.
    m_table->setTabKeyNavigation(false);
    m_table->setAccessibleName(tr("Results"));
    m_table->setWordWrap(false);
    m_table->setTextElideMode(Qt::ElideRight);
    m_table->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    m_table->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    m_table->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    m_table->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    m_table->verticalHeader()->hide();
    m_table->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    m_table->verticalHeader()->setMinimumSectionSize(kRowHeight);
    m_table->verticalHeader()->setDefaultSectionSize(kRowHeight);
    m_table->setCornerButtonEnabled(false);
    // The scroll bars stop short of the rounded corners: the vertical one starts under the
    // header, and an empty corner replaces the square the style paints between the two.
    const int radius = qCeil(MRTheme::cardRadius());
    m_table->addScrollBarWidget(cornerSpacer(kRowHeight), Qt::AlignTop);
    m_table->addScrollBarWidget(cornerSpacer(radius), Qt::AlignBottom);
    m_table->addScrollBarWidget(cornerSpacer(radius), Qt::AlignLeft);
    m_table->setCornerWidget(new QWidget);
    m_table->installEventFilter(this);
    m_table->setContextMenuPolicy(Qt::CustomContextMenu);
    m_border->raise();

    connect(m_table, &QWidget::customContextMenuRequested, this, &ResultsGridView::showContextMenu);
    connect(m_menu, &QMenu::aboutToShow, this, &ResultsGridView::updateActions);
    connect(m_copyAction, &QAction::triggered, this, &ResultsGridView::copy);
    connect(m_exportAction, &QAction::triggered, this, [this] { exportCSV(ExportScope::ShownRows); });
    connect(m_exportAllAction, &QAction::triggered, this, &ResultsGridView::exportWholeResult);
    updateActions();
}

ResultsGridView::~ResultsGridView()
{
    if (m_exportTicket != 0)
        DatabaseExecutor::shared().cancel(m_exportTicket);
}

QueryResultPtr ResultsGridView::currentResult() const
{
    return m_model->result();
}

void ResultsGridView::setResult(QueryResultPtr result, const ResultSource& source)
{
    setResult(std::move(result));
    m_source = source;
}

void ResultsGridView::setResult(QueryResultPtr result)
{
    m_source.reset();
    m_model->setResult(std::move(result));
    QHeaderView* header = m_table->horizontalHeader();
    for (int i = 0; i < header->count(); ++i)
        header->resizeSection(i, kColumnWidth);
    fitColumns(header, m_table->viewport()->width());
    updateGeometry();
    update();
}

ResultsGridView::CellLook ResultsGridView::cellLook(const QPalette& palette, bool alternate, bool selected)
{
    if (selected) {
        const QColor text = palette.color(QPalette::HighlightedText);
        QColor nullText = text;
        nullText.setAlphaF(float(kNullOnSelectionAlpha));
        return {palette.color(QPalette::Highlight), text, nullText};
    }
    const bool dark = MRTheme::isDark(palette);
    return {alternate ? MRTheme::rowHover().resolve(dark) : QColor(), MRTheme::textPrimary().resolve(dark),
            MRTheme::textTertiary().resolve(dark)};
}

int ResultsGridView::heightForRows(qsizetype rows)
{
    if (rows <= 0)
        return 0;
    return int(std::min<qsizetype>(kMaxHeight, (rows + 1) * kRowHeight + 4));
}

int ResultsGridView::preferredHeight() const
{
    const QueryResultPtr result = currentResult();
    return heightForRows(result ? result->rows.size() : 0);
}

QSize ResultsGridView::sizeHint() const
{
    return {kColumnWidth * 4, preferredHeight()};
}

QSize ResultsGridView::minimumSizeHint() const
{
    return {0, 0};
}

bool ResultsGridView::canCopy() const
{
    return !m_table->selectionModel()->selectedRows().isEmpty();
}

bool ResultsGridView::canExportCSV() const
{
    const QueryResultPtr result = currentResult();
    return result && !result->rows.isEmpty();
}

void ResultsGridView::copy()
{
    const QueryResultPtr result = currentResult();
    const QModelIndexList selected = m_table->selectionModel()->selectedRows();
    if (!result || selected.isEmpty())
        return;
    QList<qsizetype> rows;
    rows.reserve(selected.size());
    for (const QModelIndex& index : selected)
        rows.append(index.row());
    QGuiApplication::clipboard()->setText(ResultExport::tabSeparatedRows(*result, rows));
}

bool ResultsGridView::offersWholeResult() const
{
    const QueryResultPtr result = currentResult();
    return m_source && result && !result->rows.isEmpty() && result->rowCount > quint64(result->rows.size());
}

ExportProgressPanel* ResultsGridView::exportPanel() const
{
    return m_exportPanel;
}

bool ResultsGridView::canExportWholeResult() const
{
    return offersWholeResult() && !isExportingWholeResult();
}

void ResultsGridView::setNextFileName(const QString& path, std::optional<ExportScope> scope)
{
    nextFile() = {path, scope};
}

void ResultsGridView::exportCSV(ExportScope scope)
{
    if (!canExportCSV())
        return;
    // The result on screen now is the one written, whatever arrives while the dialog is open.
    const QueryResultPtr shown = currentResult();
    const std::optional<ResultSource> source = canExportWholeResult() ? m_source : std::nullopt;

    auto* dialog = new QFileDialog(this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setAcceptMode(QFileDialog::AcceptSave);
    // The choice between the rows shown and all rows is the dialog's choice of file type,
    // which every platform's dialog offers.
    const QString shownFilter = tr("CSV — the %L1 rows shown (*.csv)").arg(shown->rows.size());
    const QString wholeFilter = tr("CSV — all %L1 rows (*.csv)").arg(shown->rowCount);
    if (source) {
        dialog->setNameFilters({shownFilter, wholeFilter});
        dialog->selectNameFilter(scope == ExportScope::WholeResult ? wholeFilter : shownFilter);
    } else {
        dialog->setNameFilter(QStringLiteral("CSV (*.csv)"));
    }
    dialog->setDefaultSuffix(QStringLiteral("csv"));
    dialog->selectFile(QStringLiteral("results.csv"));
    const QPointer<QFileDialog> asked(dialog);
    connect(dialog, &QFileDialog::fileSelected, this, [this, asked, shown, source, wholeFilter](const QString& path) {
        if (path.isEmpty())
            return;
        if (source && asked && asked->selectedNameFilter() == wholeFilter) {
            startWholeExport(*source, shown->rowCount, path);
            return;
        }
        const QString error = ResultExport::writeCSV(*shown, path);
        if (!error.isEmpty())
            showExportError(error);
    });
    dialog->open();

    if (!nextFile().path.isEmpty()) {
        const NextFile next = std::exchange(nextFile(), NextFile());
        QMetaObject::invokeMethod(
            dialog,
            [dialog, next, wholeFilter, shownFilter] {
                if (next.scope)
                    dialog->selectNameFilter(*next.scope == ExportScope::WholeResult ? wholeFilter : shownFilter);
                dialog->selectFile(next.path);
                static_cast<QDialog*>(dialog)->accept();
            },
            Qt::QueuedConnection);
    }
}

void ResultsGridView::startWholeExport(const ResultSource& source, quint64 total, const QString& path)
{
    if (isExportingWholeResult())
        return;
    auto* panel = new ExportProgressPanel(QFileInfo(path).fileName(), total, this);
    panel->setAttribute(Qt::WA_DeleteOnClose);
    m_exportPanel = panel;
    m_exportTicket = DatabaseExecutor::shared().exportCSV(
        source.sql, source.connection, path, this,
        [this](quint64 rows) {
            if (m_exportPanel)
                m_exportPanel->setRowsWritten(rows);
        },
        [this, path](std::optional<quint64> rows, const QueryError& error) {
            m_exportTicket = 0;
            if (m_exportPanel && m_exportPanel->isVisible())
                m_exportPanel->accept();
            if (rows) {
                Q_EMIT wholeResultExported(path, *rows);
                return;
            }
            // Stopped by the user, who needs no word about it: the file is as it was.
            if (error.kind != QueryError::Kind::Cancelled)
                showExportError(exportErrorText(error));
        });
    const DatabaseExecutor::Ticket ticket = m_exportTicket;
    connect(panel, &QDialog::rejected, this, [ticket] { DatabaseExecutor::shared().cancel(ticket); });
    panel->open();
}

void ResultsGridView::showExportError(const QString& message)
{
    auto* alert = new QMessageBox(QMessageBox::Warning, tr("Export CSV"), tr("The rows could not be exported."),
                                  QMessageBox::Ok, this);
    alert->setObjectName(QStringLiteral("exportFailedAlert"));
    alert->setInformativeText(message);
    alert->setAttribute(Qt::WA_DeleteOnClose);
    alert->setWindowModality(Qt::WindowModal);
    alert->open();
    Q_EMIT exportFailed(message);
}

void ResultsGridView::updateActions()
{
    m_copyAction->setEnabled(canCopy());
    m_exportAction->setEnabled(canExportCSV());
    const QueryResultPtr result = currentResult();
    m_exportAllAction->setVisible(offersWholeResult());
    m_exportAllAction->setEnabled(canExportWholeResult());
    m_exportAllAction->setText(tr("Export All %L1 Rows as CSV…").arg(result ? result->rowCount : 0));
}

void ResultsGridView::showContextMenu(const QPoint& position)
{
    updateActions();
    m_menu->popup(m_table->viewport()->mapToGlobal(position));
}

void ResultsGridView::paintEvent(QPaintEvent*)
{
    if (height() == 0)
        return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillPath(cardPath(rect()), MRWidgetTheme::resolve(MRTheme::inputBackground(), this));
}

void ResultsGridView::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    m_table->setGeometry(rect().adjusted(1, 0, -1, 0));
    m_border->setGeometry(rect());
}

bool ResultsGridView::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_table && (event->type() == QEvent::FocusIn || event->type() == QEvent::FocusOut)) {
        MRFocusRing::track(m_focusRing, static_cast<QFocusEvent*>(event));
        static_cast<GridBorder*>(m_border)->setFocusRing(m_focusRing);
        static_cast<ResultsTable*>(m_table)->setKeyboardFocus(m_focusRing);
    }
    return QWidget::eventFilter(watched, event);
}

void ResultsGridView::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::PaletteChange)
        update();
    QWidget::changeEvent(event);
}
