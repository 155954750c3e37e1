#include "platform/AppPaths.h"

#include <QDir>
#include <QStandardPaths>
#include <sys/stat.h>

namespace AppPaths {

QString appSupportDir()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + QStringLiteral("/Mirelo");
}

bool ensureAppSupportDir(int mode)
{
    const QString dir = appSupportDir();
    if (QFileInfo(dir).isDir())
        return true;
    if (!QDir().mkpath(dir))
        return false;
    // mkpath honours the umask only; the folder may hold secrets, so narrow it explicitly.
    return ::chmod(QFile::encodeName(dir).constData(), static_cast<mode_t>(mode)) == 0;
}

QString homeDir()
{
    return QDir::homePath();
}

} // namespace AppPaths
