#pragma once

#include "ui/MRRowView.h"

// A clickable container: whatever it holds, a click anywhere on it is the row's click.
class MRClickRow : public MRRowView
{
    Q_OBJECT

public:
    explicit MRClickRow(QWidget* parent = nullptr);
};
