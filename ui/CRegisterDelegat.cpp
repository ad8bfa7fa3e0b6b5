#include "CRegisterDelegat.h"

#include "CLogFile.h"
#include "DbRecords.h"
#include "Palette.h"
#include "RegisterText.h"
#include "SharedConstants.h"

#include <QDateTime>
#include <QDebug>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>

namespace {
constexpr int RowRadius = 4;
const QString neverReceived = QStringLiteral("NEVER RECEIVING");

QFont boldFont(QFont font, int pixelSize)
{
    font.setPixelSize(pixelSize);
    font.setBold(true);
    return font;
}

QString registerLabel(int bitSize, int address)
{
    if (bitSize > 16) {
        const int count = (bitSize + 15) / 16;
        return QStringLiteral("ModBUS register[%1..%2]").arg(address).arg(address + count - 1);
    }
    return QStringLiteral("ModBUS register[%1]").arg(address);
}

// The signed number of a full value: 2, 4 or 8 big-endian bytes as the bit size chooses. A shorter
// value gives the number its bytes make, sign-extended from the bytes there are.
QString integerText(const QString &fullValue, int bitSize)
{
    const QByteArray bytes = QByteArray::fromHex(fullValue.toLatin1());
    const int width = bitSize <= 16 ? 2 : (bitSize == 32 ? 4 : 8);
    const int count = int(std::min<qsizetype>(bytes.size(), width));
    if (count == 0)
        return QStringLiteral("0");
    const quint64 raw = RegisterText::readUnsigned(bytes, 0, count, true);
    return QString::number(RegisterText::signExtend(raw, count));
}

QString unsignedText(const QString &fullValue)
{
    bool ok = false;
    const quint64 value = fullValue.toULongLong(&ok, 16);
    return QString::number(ok ? value : 0);
}
} // namespace

CRegisterDelegat::CRegisterDelegat(QObject *parent) : QStyledItemDelegate(parent) {}

CRegisterDelegat::~CRegisterDelegat() = default;

void CRegisterDelegat::paint(QPainter *painter, const QStyleOptionViewItem &option,
                             const QModelIndex &index) const
{
    const QAbstractItemModel *model = index.model();
    if (model == nullptr)
        return;
    if (model->columnCount(QModelIndex()) != DB::DevDataColumns.size()) {
        qDebug() << "[CRegisterDelegat::paint] ERROR: invalid input data size!";
        return;
    }
    const auto cell = [&](int column) {
        return model->index(index.row(), column).data(Qt::DisplayRole);
    };

    painter->save();
    painter->setRenderHints(QPainter::Antialiasing | QPainter::TextAntialiasing);
    painter->setPen(Qt::NoPen);

    QColor fill;
    if (option.state & (QStyle::State_MouseOver | QStyle::State_Selected))
        fill = QC_LIST_ROW_SELECTED;
    else
        fill = index.row() % 2 == 0 ? QC_LIST_ROW_EVEN : QC_LIST_ROW_ODD;
    QPainterPath bar;
    bar.addRoundedRect(QRectF(option.rect), RowRadius, RowRadius, Qt::AbsoluteSize);
    painter->fillPath(bar, QBrush(fill));

    const QRect &r = option.rect;
    painter->setFont(boldFont(painter->font(), 12));
    painter->setPen(QPen(QC_LIST_MAIN_TEXT, 0));
    const QString name = cell(DB::DevDataCol::Name).toString();
    const int h1 = painter->fontMetrics().boundingRect(name).height();
    const QRect firstLine(r.left() + 2, r.top() + 2, r.width() - 4, h1);
    painter->drawText(firstLine, Qt::AlignLeft, name);

    const int bitSize = cell(DB::DevDataCol::BitSize).toInt();
    painter->drawText(firstLine, Qt::AlignRight,
                      registerLabel(bitSize, cell(DB::DevDataCol::RegAddr).toInt()));

    painter->setFont(boldFont(painter->font(), 9));
    painter->setPen(QPen(QC_LIST_LABEL, 0));
    const quint64 time = cell(DB::DevDataCol::Time).toULongLong();
    const QString timeText
        = time != 0 ? QDateTime::fromMSecsSinceEpoch(qint64(time)).toString(DateFormat::LastReceive)
                    : neverReceived;
    painter->drawText(QRect(r.left() + 2, r.top() + h1 + 2, r.width() - 4, 12), Qt::AlignLeft,
                      timeText);

    painter->setFont(boldFont(painter->font(), 12));
    QString valueText = neverReceived;
    const QString dataType = cell(DB::DevDataCol::DataType).toString();
    const QVariant fullValue = cell(DB::DevDataCol::FullValue);
    bool withUnits = false;
    if (dataType == DataType::Boolean) {
        addLog(QStringLiteral("[CRegisterDelegat::paint] Unsupporting dataType: BOOLEAN"));
    } else if (dataType == DataType::Text) {
        if (!fullValue.isNull())
            valueText = fullValue.toString();
    } else if (dataType == DataType::Integer) {
        if (!fullValue.isNull()) {
            valueText = integerText(fullValue.toString(), bitSize);
            withUnits = true;
        }
    } else if (dataType == DataType::UInteger) {
        if (!fullValue.isNull()) {
            valueText = unsignedText(fullValue.toString());
            withUnits = true;
        }
    } else {
        addLog(QStringLiteral("[CRegisterDelegat::paint] Unknown data type! ") + dataType);
    }
    const QString units = cell(DB::DevDataCol::Unit).toString();
    if (withUnits && !units.isEmpty())
        valueText += QStringLiteral(" [%1]").arg(units);

    painter->setPen(QPen(QC_LIST_VALUE, 0));
    painter->drawText(QRect(r.left() + 2, r.top() + h1 + 2, r.width() - 4, 16), Qt::AlignRight,
                      valueText);

    painter->restore();
}

QSize CRegisterDelegat::sizeHint(const QStyleOptionViewItem &, const QModelIndex &) const
{
    return QSize(100, 40);
}
