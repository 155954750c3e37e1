#pragma once

#include "ui/MRTheme.h"

#include <QFont>
#include <QString>

// Text with the font and palette colour it is shown in; the colour is resolved against
// the appearance of whatever widget draws it.
struct MRStyledText
{
    QString text;
    QFont font;
    MRColor color;
};
