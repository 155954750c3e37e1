#include "platform/AtomicFile.h"

#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace AtomicFile {
namespace {

QString failure(const QString& what, const QString& path, int error)
{
    return QStringLiteral("Could not %1 “%2”: %3.").arg(what, path, QString::fromLocal8Bit(std::strerror(error)));
}

mode_t currentUmask()
{
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return mask;
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
        return failure(QStringLiteral("create a temporary file for"), path, errno);

    auto fail = [&](const QString& what) {
        const int error = errno;
        ::close(fd);
        ::unlink(tmpl.constData());
        return failure(what, path, error);
    };

    const mode_t wanted = mode ? static_cast<mode_t>(*mode) : (0666 & ~currentUmask());
    if (::fchmod(fd, wanted) != 0)
        return fail(QStringLiteral("set the permissions of"));

    const char* p = data.constData();
    qsizetype left = data.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, static_cast<size_t>(left));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return fail(QStringLiteral("write"));
        }
        p += n;
        left -= n;
    }
    if (::fsync(fd) != 0)
        return fail(QStringLiteral("write"));
    if (::close(fd) != 0) {
        const int error = errno;
        ::unlink(tmpl.constData());
        return failure(QStringLiteral("write"), path, error);
    }
    if (::rename(tmpl.constData(), QFile::encodeName(path).constData()) != 0) {
        const int error = errno;
        ::unlink(tmpl.constData());
        return failure(QStringLiteral("replace"), path, error);
    }
    return {};
}

} // namespace AtomicFile
