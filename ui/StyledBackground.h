#pragma once

#include <QStyle>

class QWidget;

// Paints the widget's background the way the style draws a push button, so that the style-sheet
// rule for the widget's class applies to the program's own container widgets.
void drawStyledBackground(QWidget *widget, QStyle::State extraState = QStyle::State_None);
