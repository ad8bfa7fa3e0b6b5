#pragma once

class QAbstractItemView;

// Makes the view's viewport receive hover events, so that the card under the pointer is painted
// with the under-mouse state; not every style asks for them.
void trackHover(QAbstractItemView *view);
