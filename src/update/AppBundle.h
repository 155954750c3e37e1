#pragma once

#include <QString>

// The installed application: a self-contained folder whose name ends in ".app", holding
// the executable and its resources.
namespace AppBundle {

// The nearest folder ending in ".app" that encloses path, or empty when there is none.
QString enclosingBundle(const QString& path);

// True when a new entry can really be created in folder: the same test the
// installation's own copy and renames will face, whoever runs it.
bool canCreateIn(const QString& folder);

// True when the bundle belongs to the system's package manager rather than to the user:
// it lives under /usr, or the user cannot change it.
bool isPackageManaged(const QString& bundle);

} // namespace AppBundle
