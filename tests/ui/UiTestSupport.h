#pragma once

#include <QColor>
#include <QImage>
#include <QStyleOptionViewItem>

class QWidget;

// The application style sheet from the resources with the palette applied, as the program sets it.
void applyApplicationStyleSheet();
// The widget rendered into a transparent image of its size.
QImage renderWidget(QWidget *widget);
// A transparent ARGB image to paint delegates on.
QImage blankImage(int width, int height);
// Style option of one list item at rect, with extra state flags.
QStyleOptionViewItem itemOption(const QRect &rect, QStyle::State extra = QStyle::State_None);
// Colours as "#aarrggbb" for readable comparisons.
QString argbName(const QColor &color);
