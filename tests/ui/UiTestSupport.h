#pragma once

#include <QColor>
#include <QImage>
#include <QStyleOptionViewItem>

class QAbstractItemView;
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

// The colour a fill of colour gives over background, as the raster engine blends it.
QColor composed(const QColor &background, const QColor &fill);

// A point inside a card of a list, seen with the pointer elsewhere in the viewport, then over the
// card, then away again; the pointer moves through the view's window as a mouse's would.
struct HoverShots
{
    QColor background; // the viewport below the last card
    QColor plain;
    QColor hovered;
    QColor left;
};
// The view must be shown and have room below its last card; background is invalid otherwise.
HoverShots hoverShots(QAbstractItemView *view, int row);
