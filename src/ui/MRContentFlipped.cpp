#include "ui/MRContentFlipped.h"

MRContentFlipped::MRContentFlipped(QWidget* parent) : QWidget(parent) {}
