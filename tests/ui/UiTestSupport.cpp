#include "UiTestSupport.h"

#include "StylePalette.h"

#include <QApplication>
#include <QFile>
#include <QWidget>

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
