#include "LibraryText.h"

#include <QByteArrayView>

#include <cstring>

namespace LibraryText {

QString decode(const char* bytes, qsizetype length)
{
    if (!bytes)
        return QStringLiteral("");
    const QByteArrayView view(bytes, length);
    return view.isValidUtf8() ? QString::fromUtf8(view) : QString::fromLatin1(view);
}

QString decode(const char* bytes)
{
    return decode(bytes, bytes ? qsizetype(std::strlen(bytes)) : 0);
}

} // namespace LibraryText
