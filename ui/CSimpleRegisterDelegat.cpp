#include "CSimpleRegisterDelegat.h"

#include "CSimpleRegisterEditWidget.h"
#include "DbRecords.h"
#include "Palette.h"
#include "SharedConstants.h"

#include <QDebug>
#include <QPainter>
#include <QPainterPath>

namespace {
constexpr int CardRadius = 4;
constexpr int RowHeight = 12;
constexpr double SeparatorWidth = 3.0;

QVariant cell(const QModelIndex &index, int column)
{
    return index.model()->index(index.row(), column).data(Qt::DisplayRole);
}

bool isEditable(const QModelIndex &index)
{
    const QString dataType = cell(index, DB::DevDataCol::DataType).toString();
    return dataType == DataType::Integer || dataType == DataType::UInteger;
}

QPen textPen(const QColor &color, double width = 0)
{
    return QPen(QBrush(color), width, Qt::SolidLine, Qt::SquareCap, Qt::BevelJoin);
}

void setBoldPixelSize(QPainter *painter, int pixelSize)
{
    QFont font = painter->font();
    font.setPixelSize(pixelSize);
    font.setBold(true);
    painter->setFont(font);
}

int textWidth(const QPainter *painter, const QString &text)
{
    return painter->fontMetrics().boundingRect(text).width();
}

QString fixedText(double value)
{
    return QStringLiteral("%1").arg(value, 0, 'f', 6);
}
} // namespace

CSimpleRegisterDelegat::CSimpleRegisterDelegat(QObject *parent) : QStyledItemDelegate(parent) {}

CSimpleRegisterDelegat::~CSimpleRegisterDelegat() = default;

void CSimpleRegisterDelegat::paint(QPainter *painter, const QStyleOptionViewItem &option,
                                   const QModelIndex &index) const
{
    if (index.model() == nullptr)
        return;
    if (index.model()->columnCount(QModelIndex()) < DB::DevDataColumns.size()) {
        qDebug() << "[CDeviceDelegat::paintAllRow] ERROR: invalid input data size!";
        return;
    }

    painter->save();
    painter->setRenderHints(QPainter::Antialiasing | QPainter::TextAntialiasing);
    painter->setPen(Qt::NoPen);

    const int left = option.rect.left();
    const int top = option.rect.top();
    const int width = option.rect.width();
    const int height = option.rect.height();
    const int half = width / 2;

    QColor fill;
    if (option.state & (QStyle::State_MouseOver | QStyle::State_Selected))
        fill = QC_LIST_ROW_SELECTED;
    else
        fill = index.row() % 2 != 0 ? QC_LIST_ROW_ODD : QC_LIST_ROW_EVEN;
    QPainterPath card;
    card.addRoundedRect(QRectF(option.rect), CardRadius, CardRadius, Qt::AbsoluteSize);
    painter->fillPath(card, QBrush(fill));

    // Title.
    setBoldPixelSize(painter, 12);
    painter->setPen(textPen(QC_LIST_MAIN_TEXT));
    const QString name = cell(index, DB::DevDataCol::Name).toString();
    painter->drawText(
        QRect(left + 2, top + 2, width - 4, painter->fontMetrics().boundingRect(name).height()),
        Qt::AlignLeft, name);

    // Badge: where the value comes from.
    const QRectF badge(left + width - 52, top + 2, 50, 13);
    QPainterPath badgePath;
    badgePath.addRoundedRect(badge, CardRadius, CardRadius, Qt::AbsoluteSize);
    painter->fillPath(badgePath, QBrush(QC_GLOB_GREEN1_D2));
    setBoldPixelSize(painter, 9);
    painter->setPen(textPen(QC_GLOB_WHITE1));
    const bool fromServer = cell(index, DB::DevDataCol::Source).toInt() == DB::SourceServer;
    painter->drawText(badge, Qt::AlignHCenter | Qt::AlignVCenter,
                      fromServer ? QStringLiteral("SERVER") : QStringLiteral("DEVICE"));

    // Address and its label, ending 10 px before the badge.
    setBoldPixelSize(painter, 12);
    painter->setPen(textPen(QC_LIST_MAIN_TEXT));
    const QString address = QStringLiteral("%1").arg(cell(index, DB::DevDataCol::RegAddr).toInt());
    const int addressWidth = textWidth(painter, address);
    painter->drawText(QRect(left + width - 62 - addressWidth, top + 2, half, 13),
                      Qt::AlignLeft | Qt::AlignVCenter, address);
    setBoldPixelSize(painter, 9);
    painter->setPen(textPen(QC_LIST_LABEL));
    const QString addressLabel = tr("Register map bias: ");
    const int labelWidth = textWidth(painter, addressLabel);
    painter->drawText(QRect(left + width - 64 - addressWidth - labelWidth, top + 2, half, 13),
                      Qt::AlignLeft | Qt::AlignVCenter, addressLabel);

    painter->setPen(textPen(QC_LIST_SEPARATOR, SeparatorWidth));
    painter->drawLine(QPoint(left + 20, top + 19), QPoint(left + width - 20, top + 19));

    const bool editable = isEditable(index);
    const QString unsupported = tr("UNSUPPORT");
    const struct
    {
        QString label;
        QString value;
    } rows[] = {
        {tr("ExtraValue: "),
         editable ? fixedText(cell(index, DB::DevDataCol::StartValue).toDouble()) : unsupported},
        {tr("Multiplier: "),
         editable ? fixedText(cell(index, DB::DevDataCol::GratingPeriod).toDouble()) : unsupported},
        {tr("Units: "), editable ? cell(index, DB::DevDataCol::Unit).toString() : unsupported},
    };
    int y = top + 23;
    for (const auto &row : rows) {
        setBoldPixelSize(painter, 9);
        painter->setPen(textPen(QC_LIST_LABEL));
        painter->drawText(QRect(left + 2, y, half, RowHeight), Qt::AlignLeft | Qt::AlignVCenter,
                          row.label);
        const int w = textWidth(painter, row.label);
        setBoldPixelSize(painter, 12);
        painter->setPen(textPen(QC_LIST_MAIN_TEXT));
        painter->drawText(QRect(left + 2 + w, y, half, RowHeight), Qt::AlignLeft | Qt::AlignVCenter,
                          row.value);
        y += 14;
    }

    painter->drawText(QRect(left + half + 2, top + 23, half - 4, height - 25),
                      Qt::AlignHCenter | Qt::AlignVCenter,
                      editable ? tr("Value = RAW *\nMultiplier + ExtraValue")
                               : tr("Parameter is\nTEXT value!"));

    painter->restore();
}

QSize CSimpleRegisterDelegat::sizeHint(const QStyleOptionViewItem &, const QModelIndex &) const
{
    return QSize(200, 65);
}

QWidget *CSimpleRegisterDelegat::createEditor(QWidget *parent, const QStyleOptionViewItem &,
                                              const QModelIndex &index) const
{
    if (index.model() == nullptr || !isEditable(index))
        return nullptr;
    return new CSimpleRegisterEditWidget(parent);
}

void CSimpleRegisterDelegat::setEditorData(QWidget *editor, const QModelIndex &index) const
{
    auto *registerEditor = qobject_cast<CSimpleRegisterEditWidget *>(editor);
    if (registerEditor == nullptr || index.model() == nullptr)
        return;
    registerEditor->setData(cell(index, DB::DevDataCol::Name).toString(),
                            cell(index, DB::DevDataCol::StartValue).toDouble(),
                            cell(index, DB::DevDataCol::GratingPeriod).toDouble(),
                            cell(index, DB::DevDataCol::Unit).toString());
}

void CSimpleRegisterDelegat::setModelData(QWidget *editor, QAbstractItemModel *model,
                                          const QModelIndex &index) const
{
    auto *registerEditor = qobject_cast<CSimpleRegisterEditWidget *>(editor);
    if (registerEditor == nullptr || model == nullptr)
        return;
    const int row = index.row();
    model->setData(model->index(row, DB::DevDataCol::StartValue), registerEditor->getExtraValue(),
                   Qt::EditRole);
    const double multiplier = registerEditor->getMultiplier();
    model->setData(model->index(row, DB::DevDataCol::GratingPeriod),
                   multiplier == 0.0 ? 1.0 : multiplier, Qt::EditRole);
    model->setData(model->index(row, DB::DevDataCol::Unit), registerEditor->getUnits(),
                   Qt::EditRole);
}

void CSimpleRegisterDelegat::commitAndCloseEditor(QWidget *editor)
{
    if (editor == nullptr)
        return;
    emit commitData(editor);
    emit closeEditor(editor, QAbstractItemDelegate::SubmitModelCache);
}

void CSimpleRegisterDelegat::updateEditorGeometry(QWidget *editor,
                                                  const QStyleOptionViewItem &option,
                                                  const QModelIndex &) const
{
    editor->setGeometry(option.rect);
}
