#pragma once

#include <QColor>
#include <QRectF>
#include <QString>
#include <QStringList>

class QPainter;

// The named symbols the interface asks for, drawn as vector paths so they stay crisp at any
// size and pixel density. Each is drawn in one colour; the caller chooses it, as a template
// image takes the tint of the view that shows it.
namespace MRIconCatalogue {

bool contains(const QString& name);
QStringList names();

// Draws the symbol centred in a square box inside rect. Semibold strokes are heavier.
// Returns false, drawing nothing, for a name the catalogue does not know.
bool draw(const QString& name, QPainter& painter, const QRectF& rect, const QColor& color, bool semibold);

// Twelve rounded rays 30 degrees apart, 0.1 of the size thick, reaching from 0.05 to
// 0.47 of the size from the centre; the first ray points along the positive x axis.
void drawSparkle(QPainter& painter, const QRectF& rect, const QColor& color);

} // namespace MRIconCatalogue
