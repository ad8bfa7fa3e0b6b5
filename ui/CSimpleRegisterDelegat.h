#pragma once

#include <QStyledItemDelegate>

// Draws a register card of the device forms and edits the scaling of numeric registers in place.
class CSimpleRegisterDelegat : public QStyledItemDelegate
{
    Q_OBJECT
public:
    explicit CSimpleRegisterDelegat(QObject *parent = nullptr);
    ~CSimpleRegisterDelegat() override;

    void paint(QPainter *painter, const QStyleOptionViewItem &option,
               const QModelIndex &index) const override;
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    // No editor for registers that are not "integer" or "uinteger".
    QWidget *createEditor(QWidget *parent, const QStyleOptionViewItem &option,
                          const QModelIndex &index) const override;
    void setEditorData(QWidget *editor, const QModelIndex &index) const override;
    void setModelData(QWidget *editor, QAbstractItemModel *model,
                      const QModelIndex &index) const override;
    void updateEditorGeometry(QWidget *editor, const QStyleOptionViewItem &option,
                              const QModelIndex &index) const override;

    // Writes an open editor into the model and closes it, as Return in the editor does. Focus
    // leaving one of its fields does not end the edit, so the forms call this before reading.
    void commitAndCloseEditor(QWidget *editor);
};
