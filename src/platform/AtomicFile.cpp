#include "platform/AtomicFile.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace AtomicFile {
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

QString write(const QString& path, const QByteArray& data, std::optional<int> mode)
{
    const QFileInfo info(path);
    QByteArray tmpl =
        QFile::encodeName(info.absolutePath() + QStringLiteral("/.") + info.fileName() + QStringLiteral(".XXXXXX"));
    // mkstemp creates the file with mode 0600, never wider.
    const int fd = ::mkstemp(tmpl.data());
    if (fd < 0)
        return failure(QT_TRANSLATE_NOOP("AtomicFile", "Could not create a temporary file for “%1”: %2."), path, errno);

    auto fail = [&](const char* sentence) {
        const int error = errno;
        ::close(fd);
        ::unlink(tmpl.constData());
        return failure(sentence, path, error);
    };

    const mode_t wanted = mode ? static_cast<mode_t>(*mode) : (0666 & ~currentUmask());
    if (::fchmod(fd, wanted) != 0)
        return fail(QT_TRANSLATE_NOOP("AtomicFile", "Could not set the permissions of “%1”: %2."));

    const char* p = data.constData();
    qsizetype left = data.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, static_cast<size_t>(left));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return fail(kWriteFailed);
        }
        p += n;
        left -= n;
    }
    if (::fsync(fd) != 0)
        return fail(kWriteFailed);
    if (::close(fd) != 0) {
        const int error = errno;
        ::unlink(tmpl.constData());
        return failure(kWriteFailed, path, error);
    }
    if (::rename(tmpl.constData(), QFile::encodeName(path).constData()) != 0) {
        const int error = errno;
        ::unlink(tmpl.constData());
        return failure(QT_TRANSLATE_NOOP("AtomicFile", "Could not replace “%1”: %2."), path, error);
    }
    return {};
}

} // namespace AtomicFile
