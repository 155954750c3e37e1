#pragma once

#include "db/DatabaseConnection.h"
#include "db/DatabaseExecutor.h"
#include "db/QueryResult.h"

#include <QColor>
#include <QPointer>
#include <QWidget>
#include <optional>

class ExportProgressPanel;
class QAction;
class QMenu;
class QTableView;
class QueryResultModel;

// The results of one statement as a read-only table in a rounded card: a column per
// result column, a line per kept row. It grows with its rows up to a cap, copies selected
// rows as tab-separated text, and exports the shown result as CSV. When the result holds
// more rows than were kept and the grid knows the statement behind it, it also exports
// the whole result: the statement runs again, read-only, straight into the file.
class ResultsGridView final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ResultsGridView)

public:
    // The statement and connection a result came from.
    struct ResultSource
    {
        QString sql;
        DatabaseConnection connection;
    };

    // What an export writes: the rows the grid keeps, or every row of the statement.
    enum class ExportScope { ShownRows, WholeResult };

    static constexpr int kRowHeight = 22;
    static constexpr int kMaxHeight = 280;
    static constexpr int kColumnWidth = 150;
    static constexpr int kMinColumnWidth = 70;
    static constexpr qreal kCellFontSize = 11.5;

    explicit ResultsGridView(QWidget* parent = nullptr);
    // Stops a whole-result export still running; its file is then left as it was.
    ~ResultsGridView() override;

    QueryResultPtr currentResult() const;
    // Shows result, or clears the grid for none: new columns, rows and height. Without a
    // source the whole result is not offered.
    void setResult(QueryResultPtr result);
    void setResult(QueryResultPtr result, const ResultSource& source);
    std::optional<ResultSource> resultSource() const { return m_source; }

    // 0 without rows; else a header line and a line per row plus 4, at most 280.
    static int heightForRows(qsizetype rows);
    int preferredHeight() const;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

    QTableView* table() const { return m_table; }

    // How one cell is painted: its fill over the card (none when invalid), then the colour
    // of a value and of NULL. Selected rows take the palette's selection colours.
    struct CellLook
    {
        QColor fill;
        QColor text;
        QColor nullText;
    };
    static CellLook cellLook(const QPalette& palette, bool alternate, bool selected);

    // "Copy" works while a row is selected, "Export CSV…" while a row is shown.
    bool canCopy() const;
    bool canExportCSV() const;
    // The whole result is offered while the result shown holds fewer rows than the
    // statement returned and its source is known; it can start while no export runs.
    bool offersWholeResult() const;
    bool canExportWholeResult() const;
    bool isExportingWholeResult() const { return m_exportTicket != 0; }
    // Puts the selected rows on the clipboard, in row order; nothing without a selection.
    void copy();
    // Asks for a file in a window-modal dialog, then writes the result shown now to it.
    // When the whole result is offered, the dialog's file types choose between the rows
    // shown and all rows; scope is the one chosen at first.
    void exportCSV(ExportScope scope = ExportScope::ShownRows);
    void exportWholeResult() { exportCSV(ExportScope::WholeResult); }

    // The panel of the whole-result export in progress, or null.
    ExportProgressPanel* exportPanel() const;

    // For tests: the next export dialog is answered with path once it is open, with the
    // file type of scope chosen when given.
    static void setNextFileName(const QString& path, std::optional<ExportScope> scope = std::nullopt);

Q_SIGNALS:
    // An export could not be written; the sentence says why. It is also shown in an alert.
    void exportFailed(const QString& message);
    // A whole-result export wrote its file.
    void wholeResultExported(const QString& path, quint64 rows);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void showContextMenu(const QPoint& position);
    void updateActions();
    void startWholeExport(const ResultSource& source, quint64 total, const QString& path);
    void showExportError(const QString& message);

    QueryResultModel* m_model;
    QTableView* m_table;
    QWidget* m_border;
    QMenu* m_menu;
    QAction* m_copyAction;
    QAction* m_exportAction;
    QAction* m_exportAllAction;
    std::optional<ResultSource> m_source;
    DatabaseExecutor::Ticket m_exportTicket = 0;
    QPointer<ExportProgressPanel> m_exportPanel;
    bool m_focusRing = false;
};
