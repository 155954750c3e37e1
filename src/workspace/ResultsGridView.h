#pragma once

#include "db/QueryResult.h"

#include <QColor>
#include <QWidget>

class QAction;
class QMenu;
class QTableView;
class QueryResultModel;

// The results of one statement as a read-only table in a rounded card: a column per
// result column, a line per kept row. It grows with its rows up to a cap, copies selected
// rows as tab-separated text, and exports the shown result as CSV.
class ResultsGridView final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ResultsGridView)

public:
    static constexpr int kRowHeight = 22;
    static constexpr int kMaxHeight = 280;
    static constexpr int kColumnWidth = 150;
    static constexpr int kMinColumnWidth = 70;
    static constexpr qreal kCellFontSize = 11.5;

    explicit ResultsGridView(QWidget* parent = nullptr);

    QueryResultPtr currentResult() const;
    // Shows result, or clears the grid for none: new columns, rows and height.
    void setResult(QueryResultPtr result);

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
    // Puts the selected rows on the clipboard, in row order; nothing without a selection.
    void copy();
    // Asks for a file in a window-modal dialog, then writes the result shown now to it.
    void exportCSV();

    // For tests: the next export dialog is answered with path once it is open.
    static void setNextFileName(const QString& path);

Q_SIGNALS:
    // An export could not be written; the sentence says why.
    void exportFailed(const QString& message);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void showContextMenu(const QPoint& position);
    void updateActions();

    QueryResultModel* m_model;
    QTableView* m_table;
    QWidget* m_border;
    QMenu* m_menu;
    QAction* m_copyAction;
    QAction* m_exportAction;
    bool m_focusRing = false;
};
