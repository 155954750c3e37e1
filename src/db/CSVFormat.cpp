#include "db/CSVFormat.h"

namespace CSVFormat {
namespace {

template <typename Char> bool isSpecial(Char c)
{
    return c == Char(',') || c == Char('"') || c == Char('\n') || c == Char('\r');
}

// Both texts share the rule; only the character type differs.
template <typename Out, typename View, typename Char> void append(Out& out, View field, Char quote)
{
    if (!needsQuoting(field)) {
        out.append(field);
        return;
    }
    out.append(quote);
    qsizetype from = 0;
    for (qsizetype at = field.indexOf(quote); at >= 0; at = field.indexOf(quote, at + 1)) {
        out.append(field.sliced(from, at + 1 - from));
        out.append(quote);
        from = at + 1;
    }
    out.append(field.sliced(from));
    out.append(quote);
}

} // namespace

bool needsQuoting(QStringView field)
{
    for (const QChar c : field) {
        if (isSpecial(c.unicode()))
            return true;
    }
    return false;
}

bool needsQuoting(QByteArrayView field)
{
    for (const char c : field) {
        if (isSpecial(c))
            return true;
    }
    return false;
}

void appendField(QString& out, QStringView field)
{
    append(out, field, QLatin1Char('"'));
}

void appendField(QByteArray& out, QByteArrayView utf8)
{
    append(out, utf8, '"');
}

} // namespace CSVFormat
