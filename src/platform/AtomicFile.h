#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

// Replaces a file's whole content so that readers see either the old or the new bytes.
namespace AtomicFile {

// Writes data to a private temporary file beside path, flushes it and renames it over
// path. With a mode the temporary file is created with exactly that mode before any
// byte is written, so the file never exists with looser permissions; without one it
// gets the usual 0666 less the umask. Returns an empty string on success, else a
// sentence saying what failed. Nothing is left behind on failure.
QString write(const QString& path, const QByteArray& data, std::optional<int> mode = std::nullopt);

} // namespace AtomicFile

// The same, for content that arrives piece by piece: it goes to the temporary file as it
// comes, and commit() puts the file in place whole. Until then path keeps its old content
// (or stays absent); anything but a successful commit() removes the temporary file. Every
// function returns an empty string on success, else a sentence saying what failed; after
// a failure the writer is finished and the temporary file gone.
class AtomicFileWriter final
{
    Q_DISABLE_COPY_MOVE(AtomicFileWriter)

public:
    explicit AtomicFileWriter(QString path, std::optional<int> mode = std::nullopt);
    ~AtomicFileWriter();

    QString open();
    QString write(const char* data, qsizetype size);
    // Drops what was written so far and starts the content over.
    QString restart();
    // Flushes the file to disk and renames it over path.
    QString commit();
    // Removes the temporary file; path is left as it was.
    void discard();

private:
    QString fail(const char* sentence);

    const QString m_path;
    const std::optional<int> m_mode;
    QByteArray m_temporary;
    int m_fd = -1;
};
