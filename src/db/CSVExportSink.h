#pragma once

#include "db/ResultSink.h"
#include "platform/AtomicFile.h"

#include <QElapsedTimer>
#include <functional>

// Writes the rows of a statement's outcome straight into a CSV file (CSVFormat) while they
// stream in, through a buffer of bounded size, so that memory does not grow with the
// result. The file takes its place only through commit(); until then, and after any
// failure, the target keeps what it had.
class CSVExportSink final : public ResultSink
{
public:
    // progress is called, on the thread that feeds the sink and at most ten times a
    // second, with the number of rows written so far.
    CSVExportSink(const QString& path, std::function<void(quint64 rows)> progress);

    // Creates the temporary file beside the target; empty on success, else the sentence.
    QString open();

    void beginRows(const QStringList& columnNames) override;
    bool row(const RawValue* values) override;
    void command(const QString& affected) override;
    QString failure() const override { return m_failure; }

    // True when the outcome was a result with columns, which is what a file can hold.
    bool hasRows() const { return m_hasRows; }
    quint64 rowsWritten() const { return m_rows; }
    // Writes what is buffered and puts the file in place; empty on success, else the sentence.
    QString commit();

private:
    bool writeBuffer();

    AtomicFileWriter m_file;
    std::function<void(quint64)> m_progress;
    QByteArray m_buffer;
    QByteArray m_scratch;
    qsizetype m_columns = 0;
    quint64 m_rows = 0;
    bool m_hasRows = false;
    QString m_failure;
    QElapsedTimer m_sinceProgress;
};
