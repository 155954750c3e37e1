#include "db/LibraryText.h"

#include <QByteArrayView>
#include <cstring>

namespace LibraryText {
namespace {

bool isAscii(const char* bytes, qsizetype length)
{
    unsigned char seen = 0;
    for (qsizetype i = 0; i < length; ++i)
        seen |= static_cast<unsigned char>(bytes[i]);
    return seen < 0x80;
}

} // namespace

QString decode(const char* bytes, qsizetype length)
{
    if (!bytes)
        return QStringLiteral("");
    const QByteArrayView view(bytes, length);
    // Most values are plain ASCII, for which widening is the whole conversion.
    if (isAscii(bytes, length) || !view.isValidUtf8())
        return QString::fromLatin1(view);
    return QString::fromUtf8(view);
}

QString decode(const char* bytes)
{
    return decode(bytes, bytes ? qsizetype(std::strlen(bytes)) : 0);
}

} // namespace LibraryText
