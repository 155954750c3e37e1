#pragma once

#include <QColor>

// Contrast between colours as the Web Content Accessibility Guidelines measure it, so that
// text colours can be checked against what they are drawn on.
namespace MRContrast {

// Body text needs this ratio to its background; large or secondary text and icons need kSecondary.
constexpr qreal kBody = 4.5;
constexpr qreal kSecondary = 3.0;

// Relative luminance of an sRGB colour, 0 for black to 1 for white; alpha is ignored.
qreal luminance(const QColor& color);
// From 1 (no contrast) to 21 (black on white), in either order; alpha is ignored.
qreal ratio(const QColor& a, const QColor& b);
// What the screen shows where top is painted over bottom (source over).
QColor over(const QColor& top, const QColor& bottom);
// fill, darkened step by step until text on it reaches minimum, as far as black allows.
QColor deepenedFor(const QColor& fill, const QColor& text, qreal minimum);

} // namespace MRContrast
