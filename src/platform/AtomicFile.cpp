#include "platform/AtomicFile.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char* const kWriteFailed = QT_TRANSLATE_NOOP("AtomicFile", "Could not write “%1”: %2.");

// sentence holds %1 for the file's path and %2 for the system's reason.
QString failure(const char* sentence, const QString& path, int error)
{
    return QCoreApplication::translate("AtomicFile", sentence).arg(path, QString::fromLocal8Bit(std::strerror(error)));
}

// Setting the umask to read it would change it for every thread for a moment, and another
// thread creating a file then would get the wrong permissions; the kernel tells it instead.
mode_t currentUmask()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (status.open(QIODevice::ReadOnly | QIODevice::Text)) {
        while (!status.atEnd()) {
            const QByteArray line = status.readLine();
            if (line.startsWith("Umask:")) {
                bool ok = false;
                const uint mask = line.mid(6).trimmed().toUInt(&ok, 8);
                if (ok)
                    return static_cast<mode_t>(mask);
            }
        }
    }
    return 022;
}

} // namespace

QString AtomicFile::write(const QString& path, const QByteArray& data, std::optional<int> mode)
{
    AtomicFileWriter writer(path, mode);
    QString error = writer.open();
    if (error.isEmpty())
        error = writer.write(data.constData(), data.size());
    if (error.isEmpty())
        error = writer.commit();
    return error;
}

AtomicFileWriter::AtomicFileWriter(QString path, std::optional<int> mode) : m_path(std::move(path)), m_mode(mode) {}

AtomicFileWriter::~AtomicFileWriter()
{
    discard();
}

QString AtomicFileWriter::open()
{
    const QFileInfo info(m_path);
    m_temporary =
        QFile::encodeName(info.absolutePath() + QStringLiteral("/.") + info.fileName() + QStringLiteral(".XXXXXX"));
    // mkstemp creates the file with mode 0600, never wider.
    m_fd = ::mkstemp(m_temporary.data());
    if (m_fd < 0) {
        m_temporary.clear();
        return failure(QT_TRANSLATE_NOOP("AtomicFile", "Could not create a temporary file for “%1”: %2."), m_path,
                       errno);
    }
    const mode_t wanted = m_mode ? static_cast<mode_t>(*m_mode) : (0666 & ~currentUmask());
    if (::fchmod(m_fd, wanted) != 0)
        return fail(QT_TRANSLATE_NOOP("AtomicFile", "Could not set the permissions of “%1”: %2."));
    return {};
}

QString AtomicFileWriter::write(const char* data, qsizetype size)
{
    while (size > 0) {
        const ssize_t n = ::write(m_fd, data, static_cast<size_t>(size));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return fail(kWriteFailed);
        }
        data += n;
        size -= n;
    }
    return {};
}

QString AtomicFileWriter::restart()
{
    if (::ftruncate(m_fd, 0) != 0 || ::lseek(m_fd, 0, SEEK_SET) != 0)
        return fail(kWriteFailed);
    return {};
}

QString AtomicFileWriter::commit()
{
    if (::fsync(m_fd) != 0)
        return fail(kWriteFailed);
    const int fd = m_fd;
    m_fd = -1;
    if (::close(fd) != 0) {
        const int error = errno;
        discard();
        return failure(kWriteFailed, m_path, error);
    }
    if (::rename(m_temporary.constData(), QFile::encodeName(m_path).constData()) != 0) {
        const int error = errno;
        discard();
        return failure(QT_TRANSLATE_NOOP("AtomicFile", "Could not replace “%1”: %2."), m_path, error);
    }
    m_temporary.clear();
    return {};
}

void AtomicFileWriter::discard()
{
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
    if (!m_temporary.isEmpty()) {
        ::unlink(m_temporary.constData());
        m_temporary.clear();
    }
}

QString AtomicFileWriter::fail(const char* sentence)
{
    const int error = errno;
    discard();
    return failure(sentence, m_path, error);
}
