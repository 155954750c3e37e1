#include "ui/MRClickRow.h"

MRClickRow::MRClickRow(QWidget* parent) : MRRowView(parent) {}
