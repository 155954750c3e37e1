#include "db/CSVExportSink.h"

#include "db/CSVFormat.h"

namespace {

constexpr qsizetype kBufferSize = 256 * 1024;
constexpr qint64 kProgressIntervalMs = 100;

// The grid shows bytes that are not valid UTF-8 as Latin-1 (LibraryText); the file says
// the same.
bool isValidUtf8(QByteArrayView bytes)
{
    for (const char c : bytes) {
        if (static_cast<unsigned char>(c) >= 0x80)
            return bytes.isValidUtf8();
    }
    return true;
}

} // namespace

CSVExportSink::CSVExportSink(const QString& path, std::function<void(quint64)> progress)
    : m_file(path), m_progress(std::move(progress))
{}

QString CSVExportSink::open()
{
    m_buffer.reserve(kBufferSize + 4096);
    m_sinceProgress.start();
    return m_file.open();
}

void CSVExportSink::beginRows(const QStringList& columnNames)
{
    // A later result replaces an earlier one, in the file as on screen.
    m_buffer.resize(0);
    m_rows = 0;
    if (m_failure.isEmpty())
        m_failure = m_file.restart();
    m_hasRows = true;
    m_columns = columnNames.size();
    for (qsizetype column = 0; column < m_columns; ++column) {
        if (column > 0)
            m_buffer.append(',');
        CSVFormat::appendField(m_buffer, columnNames[column].toUtf8());
    }
    m_buffer.append('\n');
}

bool CSVExportSink::row(const RawValue* values)
{
    if (!m_failure.isEmpty())
        return false;
    for (qsizetype column = 0; column < m_columns; ++column) {
        if (column > 0)
            m_buffer.append(',');
        const RawValue& value = values[column];
        if (!value.data)
            continue;
        const QByteArrayView bytes(value.data, value.length);
        if (isValidUtf8(bytes)) {
            CSVFormat::appendField(m_buffer, bytes);
        } else {
            m_scratch = QString::fromLatin1(bytes).toUtf8();
            CSVFormat::appendField(m_buffer, m_scratch);
        }
    }
    m_buffer.append('\n');
    ++m_rows;
    if (m_buffer.size() >= kBufferSize && !writeBuffer())
        return false;
    if ((m_rows & 255) == 0 && m_progress && m_sinceProgress.elapsed() >= kProgressIntervalMs) {
        m_sinceProgress.restart();
        m_progress(m_rows);
    }
    return true;
}

void CSVExportSink::command(const QString& affected)
{
    Q_UNUSED(affected);
    m_hasRows = false;
}

QString CSVExportSink::commit()
{
    if (m_failure.isEmpty() && !writeBuffer())
        return m_failure;
    if (!m_failure.isEmpty())
        return m_failure;
    return m_file.commit();
}

bool CSVExportSink::writeBuffer()
{
    m_failure = m_file.write(m_buffer.constData(), m_buffer.size());
    m_buffer.resize(0); // keeps the buffer's memory for the next rows
    return m_failure.isEmpty();
}
