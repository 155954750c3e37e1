#pragma once

#include <QDialog>
#include <optional>

class MRButton;
class MRLabel;
class QProgressBar;

// The small window-modal panel shown while a whole result is written to a file: what is
// being written, a bar of the rows written so far (of how many, when that is known) and
// Cancel. Cancel, Escape and closing the panel all reject it; its owner stops the export.
class ExportProgressPanel final : public QDialog
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ExportProgressPanel)

public:
    // total: the rows the result had when it was shown, if known; the new run may differ.
    ExportProgressPanel(const QString& fileName, std::optional<quint64> total, QWidget* parent = nullptr);

    void setRowsWritten(quint64 rows);
    quint64 rowsWritten() const { return m_rows; }

    MRLabel* titleLabel() const { return m_title; }
    MRLabel* progressLabel() const { return m_progress; }
    QProgressBar* progressBar() const { return m_bar; }
    MRButton* cancelButton() const { return m_cancel; }

private:
    void showProgress();

    std::optional<quint64> m_total;
    quint64 m_rows = 0;
    MRLabel* m_title;
    QProgressBar* m_bar;
    MRLabel* m_progress;
    MRButton* m_cancel;
};
