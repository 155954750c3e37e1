#pragma once

#include "ui/MRTheme.h"

#include <QApplication>
#include <QImage>
#include <QMessageBox>
#include <QTest>

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

// The alert of that name once it is open (some wait on a server's answer), else null.
inline QMessageBox* openAlert(QWidget* owner, const QString& name)
{
    QMessageBox* box = nullptr;
    const auto open = [&] { return (box = owner->findChild<QMessageBox*>(name)) && box->isVisible(); };
    return QTest::qWaitFor(open, 60000) ? box : nullptr;
}

// The alert's title and message on two lines, if it is open and window-modal.
inline QString alertText(const QMessageBox* box)
{
    if (!box || !box->isVisible() || box->windowModality() != Qt::WindowModal)
        return QStringLiteral("no window-modal alert");
    return box->text() + u'\n' + box->informativeText();
}
