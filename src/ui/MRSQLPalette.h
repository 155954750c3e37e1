#pragma once

#include "ui/MRTheme.h"
#include "workspace/MRSQLHighlighter.h"

#include <QList>
#include <QTextLayout>

class QWidget;

// Gives highlighted SQL its palette colours for the widget that shows it, at the moment it
// is drawn, so the same spans serve both appearances.
namespace MRSQLPalette {

// The palette colour of a role; Plain is the primary text colour.
MRColor color(SQLRole role);

// Colour formats for the stretch [start, start + length) of the text the spans were
// made from, with positions relative to start, resolved for widget's appearance.
// Plain text gets no format: callers draw it in the primary text colour.
QList<QTextLayout::FormatRange> formats(const QList<SQLSpan>& spans, qsizetype start, qsizetype length,
                                        const QWidget* widget);

} // namespace MRSQLPalette
