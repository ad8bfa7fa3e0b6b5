#pragma once

#include <QStyledItemDelegate>

// Draws a register row of the main window: name and Modbus address on the first line, time and
// value of the last reception on the second.
class CRegisterDelegat : public QStyledItemDelegate
{
    Q_OBJECT
public:
    explicit CRegisterDelegat(QObject *parent = nullptr);
    ~CRegisterDelegat() override;

    void paint(QPainter *painter, const QStyleOptionViewItem &option,
               const QModelIndex &index) const override;
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;
};
