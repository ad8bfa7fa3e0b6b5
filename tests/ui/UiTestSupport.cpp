#include "UiTestSupport.h"

#include "StylePalette.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QFile>
#include <QPainter>
#include <QTest>
#include <QWidget>
#include <QWindow>

void applyApplicationStyleSheet()
{
    QFile file(QStringLiteral(":/style/style.qss"));
    if (!file.open(QIODevice::ReadOnly))
        qFatal("style sheet resource missing");
    qApp->setStyleSheet(applyStylePalette(QString::fromUtf8(file.readAll())));
}

QImage renderWidget(QWidget *widget)
{
    widget->ensurePolished();
    QImage image(widget->size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    widget->render(&image);
    return image;
}

QImage blankImage(int width, int height)
{
    QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    return image;
}

QStyleOptionViewItem itemOption(const QRect &rect, QStyle::State extra)
{
    QStyleOptionViewItem option;
    option.rect = rect;
    option.state = QStyle::State_Enabled | extra;
    return option;
}

QString argbName(const QColor &color)
{
    return color.name(QColor::HexArgb);
}

QColor composed(const QColor &background, const QColor &fill)
{
    QImage image = blankImage(1, 1);
    image.fill(background);
    QPainter painter(&image);
    painter.fillRect(image.rect(), fill);
    painter.end();
    return image.pixelColor(0, 0);
}

namespace {
void movePointer(QWidget *widget, QPoint point)
{
    QWindow *window = widget->window()->windowHandle();
    QTest::mouseMove(window, window->mapFromGlobal(widget->mapToGlobal(point)));
}
} // namespace

HoverShots hoverShots(QAbstractItemView *view, int row)
{
    HoverShots shots;
    QAbstractItemModel *model = view->model();
    const QModelIndex index = model->index(row, 0);
    const QRect card = view->visualRect(index);
    const QRect last = view->visualRect(model->index(model->rowCount() - 1, 0));
    const QPoint inCard(card.left() + 1, card.center().y());
    const QPoint below(inCard.x(), last.bottom() + 10);
    QWidget *viewport = view->viewport();
    if (!viewport->rect().contains(below) || !viewport->rect().contains(inCard))
        return shots;

    // A selected card shows the hover colour anyway: take it out of the selection meanwhile.
    QItemSelectionModel *selection = view->selectionModel();
    const bool wasSelected = selection->isSelected(index);
    if (wasSelected)
        selection->select(index, QItemSelectionModel::Deselect);

    movePointer(viewport, below);
    QImage image = renderWidget(viewport);
    shots.background = image.pixelColor(below);
    shots.plain = image.pixelColor(inCard);
    movePointer(viewport, inCard);
    shots.hovered = renderWidget(viewport).pixelColor(inCard);
    movePointer(viewport, below);
    shots.left = renderWidget(viewport).pixelColor(inCard);

    if (wasSelected)
        selection->select(index, QItemSelectionModel::Select);
    return shots;
}
