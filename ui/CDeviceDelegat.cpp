#include "CDeviceDelegat.h"

#include "CAllDeviceHandler.h"
#include "DbRecords.h"
#include "Palette.h"
#include "ProtocolOption.h"
#include "SDeviceTypeInfo.h"

#include <QDebug>
#include <QHash>
#include <QPainter>
#include <QPainterPath>

namespace {
constexpr int CardRadius = 4;
constexpr int CardAlpha = 60;
constexpr int CardAlphaSelected = 150;
constexpr double CardDarkening = 1.3;

// One registry lookup per AppEUI and run, shared by the lists of both kinds.
QHash<QString, SDeviceTypeInfo> &deviceTypeCache()
{
    static QHash<QString, SDeviceTypeInfo> cache;
    return cache;
}

int expectedColumns(int mode)
{
    switch (mode) {
    case ProtocolModbus:
        return DB::DeviceColumns.size();
    case ProtocolTCP:
        return DB::DeviceColumns.size() - 1; // transparent TCP rows have no start address
    default:
        return 0;
    }
}

SDeviceTypeInfo deviceType(const QString &appEui, int mode)
{
    QHash<QString, SDeviceTypeInfo> &cache = deviceTypeCache();
    auto found = cache.constFind(appEui);
    if (found == cache.constEnd()) {
        if (mode == ProtocolModbus)
            found = cache.insert(appEui,
                                 CAllDeviceHandler::getInstance()->getDeviceDescription(appEui));
        else if (mode == ProtocolTCP)
            found = cache.insert(appEui,
                                 CAllDeviceHandler::getInstance()->getTCPDeviceDescription(appEui));
        else
            return SDeviceTypeInfo();
    }
    return found.value();
}

QFont boldFont(QFont font, int pixelSize)
{
    font.setPixelSize(pixelSize);
    font.setBold(true);
    return font;
}
} // namespace

CDeviceDelegat::CDeviceDelegat(QObject *parent, int mode) : QStyledItemDelegate(parent), mode(mode)
{
}

CDeviceDelegat::~CDeviceDelegat() = default;

void CDeviceDelegat::paint(QPainter *painter, const QStyleOptionViewItem &option,
                           const QModelIndex &index) const
{
    const QAbstractItemModel *model = index.model();
    if (model == nullptr)
        return;
    const int expected = expectedColumns(mode);
    const int columns = model->columnCount(QModelIndex());
    if (columns != expected) {
        qDebug() << expected << columns
                 << "[CDeviceDelegat::paintAllRow] ERROR: invalid input data size!";
        return;
    }
    const auto text = [&](int column) {
        return model->index(index.row(), column).data(Qt::DisplayRole).toString();
    };

    painter->save();
    painter->setRenderHints(QPainter::Antialiasing | QPainter::TextAntialiasing);
    painter->setPen(Qt::NoPen);

    const SDeviceTypeInfo type = deviceType(text(DB::DeviceCol::AppEui), mode);
    const QColor &typeColor = type.color;
    QColor fill;
    if (option.state & (QStyle::State_MouseOver | QStyle::State_Selected))
        fill = QColor(typeColor.red(), typeColor.green(), typeColor.blue(), CardAlphaSelected);
    else
        fill = QColor(int(typeColor.red() / CardDarkening), int(typeColor.green() / CardDarkening),
                      int(typeColor.blue() / CardDarkening), CardAlpha);

    QPainterPath card;
    card.addRoundedRect(QRectF(option.rect), CardRadius, CardRadius, Qt::AbsoluteSize);
    painter->fillPath(card, QBrush(fill));

    const QRect &r = option.rect;
    painter->setFont(boldFont(painter->font(), 12));
    painter->setPen(QPen(QC_LIST_MAIN_TEXT, 0));
    const QString name = text(DB::DeviceCol::Name);
    const int h1 = painter->fontMetrics().boundingRect(name).height();
    painter->drawText(QRect(r.left() + 2, r.top() + 2, r.width() - 4, h1), Qt::AlignLeft, name);
    if (mode == ProtocolTCP) {
        const QString port = text(DB::DeviceCol::Port);
        painter->drawText(QRect(r.left() + 2, r.top() + 2, r.width() - 4,
                                painter->fontMetrics().boundingRect(port).height()),
                          Qt::AlignRight, port);
    }

    painter->setFont(boldFont(painter->font(), 9));
    painter->setPen(QPen(QC_LIST_LABEL, 0));
    const QString devEui = text(DB::DeviceCol::DevEui);
    painter->drawText(QRect(r.left() + 2, r.top() + h1 + 2, r.width() - 4,
                            painter->fontMetrics().boundingRect(devEui).height()),
                      Qt::AlignLeft, devEui);
    painter->drawText(QRect(r.left() + 2, r.top() + h1 + 2, r.width() - 4,
                            painter->fontMetrics().boundingRect(type.devType).height()),
                      Qt::AlignRight, type.devType);

    painter->restore();
}

QSize CDeviceDelegat::sizeHint(const QStyleOptionViewItem &, const QModelIndex &) const
{
    return QSize(100, 30);
}
