#include "HoverTracking.h"

#include <QAbstractItemView>

void trackHover(QAbstractItemView *view)
{
    view->viewport()->setAttribute(Qt::WA_Hover);
}
