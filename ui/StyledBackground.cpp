#include "StyledBackground.h"

#include <QPainter>
#include <QStyleOptionButton>
#include <QWidget>

void drawStyledBackground(QWidget *widget, QStyle::State extraState)
{
    QPainter painter(widget);
    painter.setRenderHints(QPainter::Antialiasing | QPainter::TextAntialiasing);
    painter.setFont(widget->font());
    painter.setPen(Qt::NoPen);
    QStyleOptionButton option;
    option.initFrom(widget);
    option.state |= extraState;
    widget->style()->drawControl(QStyle::CE_PushButton, &option, &painter, widget);
}
