#pragma once

#include "ui/MRTheme.h"

class QStyle;
class QWidget;

// The look of the standard form controls a sheet builds from Qt's own widgets (QLineEdit,
// QComboBox, QCheckBox): one rounded bezel in the input background with a border that stands
// out from the window in either appearance, the accent ring on a focused field, and a check
// box drawn to match. Colours are resolved at every paint, so an appearance change repaints
// them; sizes and positions stay the base style's.
namespace MRFieldStyle {

// Corner radius of a field's or a closed combo box's bezel (the house text field's), and of
// a check box's box.
constexpr qreal kCornerRadius = 7;
constexpr qreal kCheckBoxRadius = 4;

// The edge of a field, a combo box and an empty check box: a control's boundary needs 3:1
// against what surrounds it to be seen as one.
MRColor border();

// The style, one per base style, alive as long as the application.
QStyle* shared();
// Gives widget the style; its children keep theirs (a combo box's popup list, for one).
void apply(QWidget* widget);

} // namespace MRFieldStyle
