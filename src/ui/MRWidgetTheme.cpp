#include "ui/MRWidgetTheme.h"

#include <QWidget>

namespace MRWidgetTheme {

bool isDark(const QWidget* widget)
{
    return MRTheme::isDark(widget->palette());
}

QColor resolve(const MRColor& color, const QWidget* widget)
{
    return color.resolve(isDark(widget));
}

} // namespace MRWidgetTheme
