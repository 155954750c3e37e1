#pragma once

#include "ui/MRTheme.h"

#include <QApplication>
#include <QImage>

// Switches the application between the light and dark palette; widgets receive the change
// through posted events, as on a theme switch.
inline void setAppearance(bool dark)
{
    QApplication::setPalette(MRTheme::palette(dark));
    QCoreApplication::processEvents();
}

// How many pixels of rect are within a small distance of color.
inline int pixelsNear(const QImage& image, const QRect& rect, const QColor& color)
{
    int count = 0;
    for (int y = rect.top(); y <= rect.bottom(); ++y) {
        for (int x = rect.left(); x <= rect.right(); ++x) {
            const QColor pixel = image.pixelColor(x, y);
            const int distance = qAbs(pixel.red() - color.red()) + qAbs(pixel.green() - color.green()) +
                                 qAbs(pixel.blue() - color.blue());
            count += distance <= 12 ? 1 : 0;
        }
    }
    return count;
}
