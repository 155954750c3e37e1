#include "MRClickRow.h"

MRClickRow::MRClickRow(QWidget* parent) : MRRowView(parent) {}
