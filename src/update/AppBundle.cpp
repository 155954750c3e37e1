#include "update/AppBundle.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryFile>

namespace AppBundle {

QString enclosingBundle(const QString& path)
{
    QString current = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    while (!current.isEmpty() && current != QLatin1String("/")) {
        if (current.endsWith(QLatin1String(".app")) && QFileInfo(current).isDir())
            return current;
        const qsizetype slash = current.lastIndexOf(QLatin1Char('/'));
        if (slash < 0)
            break;
        current = slash == 0 ? QStringLiteral("/") : current.left(slash);
    }
    return {};
}

bool canCreateIn(const QString& folder)
{
    // Permission bits do not tell the whole story (read-only mounts, privileged users),
    // so try it.
    if (!QFileInfo(folder).isDir())
        return false;
    QTemporaryFile probe(QDir(folder).filePath(QStringLiteral(".mirelo-write-test-XXXXXX")));
    return probe.open();
}

bool isPackageManaged(const QString& bundle)
{
    const QString path = QDir::cleanPath(bundle);
    return path.startsWith(QLatin1String("/usr/")) || !canCreateIn(path);
}

} // namespace AppBundle
