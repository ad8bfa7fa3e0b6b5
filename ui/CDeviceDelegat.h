#pragma once

#include <QStyledItemDelegate>

// Draws a device row as a card tinted with the colour of the device's type.
class CDeviceDelegat : public QStyledItemDelegate
{
    Q_OBJECT
public:
    // mode is the ProtocolOption value of the list: 1 template-decoded, 2 transparent TCP.
    explicit CDeviceDelegat(QObject *parent = nullptr, int mode = 0);
    ~CDeviceDelegat() override;

    void paint(QPainter *painter, const QStyleOptionViewItem &option,
               const QModelIndex &index) const override;
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;

private:
    int mode = 0;
};
