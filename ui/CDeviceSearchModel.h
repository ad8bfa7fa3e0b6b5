#pragma once

#include <QSortFilterProxyModel>
#include <QString>

// Proxy of the device forms' device rows: hides every device whose name does not contain the
// search text (any letter case).
class CDeviceSearchModel : public QSortFilterProxyModel
{
    Q_OBJECT
public:
    explicit CDeviceSearchModel(QObject *parent);
    ~CDeviceSearchModel() override;

public slots:
    void setSearchValue(QString _value);

protected:
    bool filterAcceptsRow(int sourceRow, const QModelIndex &sourceParent) const override;

private:
    QString searchValue;
};
