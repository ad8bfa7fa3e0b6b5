#pragma once

#include <QColor>
#include <QJsonObject>
#include <QString>
#include <QStringList>

// Readers shared by the template parsers.
namespace TemplateJson {

// Colour of a device type whose template names none.
inline const QColor DefaultTypeColor = QColor(0x94, 0x99, 0x9D);

// True when every key is present in the object.
bool containsAll(const QJsonObject &object, const QStringList &keys);
// True when any of the keys holds a JSON null.
bool anyNull(const QJsonObject &object, const QStringList &keys);
// The colour named by the object's "color" text; the default (and a debug line) when it names
// no colour. Only called when the key is present.
QColor readColor(const QJsonObject &object);

} // namespace TemplateJson
