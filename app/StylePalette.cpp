#include "StylePalette.h"

#include "Palette.h"

#include <QList>
#include <QPair>

namespace {

// Placeholder and colour text, in substitution order.
const QList<QPair<QString, QString>> &paletteTable()
{
#define GATEWAY_PALETTE_ENTRY(id, value)                                                           \
    {QStringLiteral(#id), QColor(QStringLiteral(value)).name()},
    static const QList<QPair<QString, QString>> table = {GATEWAY_PALETTE(GATEWAY_PALETTE_ENTRY)};
#undef GATEWAY_PALETTE_ENTRY
    return table;
}

} // namespace

QString applyStylePalette(QString styleSheet)
{
    for (const auto &entry : paletteTable())
        styleSheet.replace(entry.first, entry.second, Qt::CaseSensitive);
    return styleSheet;
}
