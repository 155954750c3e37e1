#pragma once

#include <QRectF>

class QFocusEvent;
class QPainter;
class QWidget;

// The keyboard focus ring of the house widgets: drawn just inside the bounds, rounded like
// the widget, and only when focus arrived from the keyboard or from code, so a click does
// not leave a ring behind, nor does the focus a window hands out when it opens.
namespace MRFocusRing {

// Updates whether the ring shows from a focus-in or focus-out event. Focus that only
// leaves and returns with the window's activation keeps the ring it had.
void track(bool& visible, const QFocusEvent* event);
// On an accent fill the accent ring would vanish, so it is drawn inset in the on-accent colour.
void paint(QPainter& painter, const QRectF& bounds, qreal radius, const QWidget* widget, bool onAccentFill = false);

} // namespace MRFocusRing
