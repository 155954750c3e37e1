#include "platform/AppPaths.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QStringList>
#include <cerrno>
#include <sys/stat.h>

namespace AppPaths {

QString appSupportDir()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + QStringLiteral("/Mirelo");
}

bool ensureAppSupportDir(int mode)
{
    return makePath(appSupportDir(), mode);
}

bool makePath(const QString& path, int mode)
{
    const QString target = QDir::cleanPath(QDir(path).absolutePath());
    QStringList missing;
    for (QString dir = target; !QFileInfo::exists(dir);) {
        missing.prepend(dir);
        const QString parent = QFileInfo(dir).path();
        if (parent == dir)
            break;
        dir = parent;
    }
    const auto permissions = static_cast<mode_t>(mode);
    for (const QString& dir : missing) {
        const QByteArray name = QFile::encodeName(dir);
        // The mode is given to mkdir itself, so a folder that may hold secrets is never
        // open to others, not even for a moment; creating it first and narrowing it after
        // would leave it open in between under a permissive umask. The umask can only
        // take bits away, never add any.
        if (::mkdir(name.constData(), permissions) != 0) {
            if (errno != EEXIST) // another process may have made it meanwhile
                return false;
            continue;
        }
        // A umask that takes away the owner's own bits would leave a folder Mirelo cannot
        // use; giving them back opens nothing to anyone else.
        const mode_t owner = permissions & S_IRWXU;
        struct stat made = {};
        if (::stat(name.constData(), &made) == 0 && (made.st_mode & owner) != owner)
            ::chmod(name.constData(), (made.st_mode & 07777) | owner);
    }
    return QFileInfo(target).isDir();
}

QString homeDir()
{
    return QDir::homePath();
}

} // namespace AppPaths
