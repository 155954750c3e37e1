#include "ui/MRFlippedView.h"

MRFlippedView::MRFlippedView(QWidget* parent) : QWidget(parent) {}
