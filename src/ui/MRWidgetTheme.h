#pragma once

#include "ui/MRTheme.h"

class QWidget;

// Resolves palette colours against a widget's own effective appearance, which Qt carries
// in the widget's palette, so a widget given a dark palette paints dark on its own.
namespace MRWidgetTheme {

bool isDark(const QWidget* widget);
QColor resolve(const MRColor& color, const QWidget* widget);

} // namespace MRWidgetTheme
