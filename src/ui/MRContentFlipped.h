#pragma once

#include <QWidget>

// A plain container whose content stacks from the top; Qt's own axis already runs
// downwards, so it adds nothing but its name.
class MRContentFlipped : public QWidget
{
    Q_OBJECT

public:
    explicit MRContentFlipped(QWidget* parent = nullptr);
};
