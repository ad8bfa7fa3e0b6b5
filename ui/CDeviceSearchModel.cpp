#include "CDeviceSearchModel.h"

#include "DbRecords.h"

CDeviceSearchModel::CDeviceSearchModel(QObject *parent) : QSortFilterProxyModel(parent) {}

CDeviceSearchModel::~CDeviceSearchModel() = default;

void CDeviceSearchModel::setSearchValue(QString _value)
{
    searchValue = _value;
    invalidateFilter();
}

bool CDeviceSearchModel::filterAcceptsRow(int sourceRow, const QModelIndex &sourceParent) const
{
    if (searchValue.isEmpty())
        return true;
    const QModelIndex nameIndex
        = sourceModel()->index(sourceRow, DB::DeviceCol::Name, sourceParent);
    const QString name = sourceModel()->data(nameIndex, Qt::DisplayRole).toString();
    return name.indexOf(searchValue, 0, Qt::CaseInsensitive) >= 0;
}
