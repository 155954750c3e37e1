#include "ui/MRSQLPalette.h"

#include "ui/MRWidgetTheme.h"

#include <QTextCharFormat>
#include <algorithm>
#include <array>

MRColor MRSQLPalette::color(SQLRole role)
{
    switch (role) {
    case SQLRole::Keyword:
        return MRTheme::sqlKeyword();
    case SQLRole::Function:
        return MRTheme::sqlFunction();
    case SQLRole::Number:
        return MRTheme::sqlNumber();
    case SQLRole::String:
        return MRTheme::sqlString();
    case SQLRole::Comment:
        return MRTheme::sqlComment();
    case SQLRole::Plain:
        break;
    }
    return MRTheme::textPrimary();
}

QList<QTextLayout::FormatRange> MRSQLPalette::formats(const QList<SQLSpan>& spans, qsizetype start, qsizetype length,
                                                      const QWidget* widget)
{
    QList<QTextLayout::FormatRange> ranges;
    const qsizetype end = start + length;
    auto it = std::partition_point(spans.cbegin(), spans.cend(),
                                   [start](const SQLSpan& span) { return span.start + span.length <= start; });
    if (it == spans.cend() || it->start >= end)
        return ranges;

    std::array<QTextCharFormat, 6> byRole;
    for (size_t role = 0; role < byRole.size(); ++role)
        byRole[role].setForeground(MRWidgetTheme::resolve(color(SQLRole(role)), widget));

    for (; it != spans.cend() && it->start < end; ++it) {
        const qsizetype from = std::max(it->start, start);
        const qsizetype to = std::min(it->start + it->length, end);
        ranges.append({int(from - start), int(to - from), byRole[size_t(it->role)]});
    }
    return ranges;
}
