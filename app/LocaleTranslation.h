#pragma once

#include <QString>

class QCoreApplication;
class QTranslator;

// True when the system locale's name asks for the Russian interface ("ru" anywhere,
// case-sensitive).
bool wantsRussianTranslation(const QString &localeName);

// Loads and installs the Russian translation when the locale asks for it.
bool installTranslation(QCoreApplication &app, QTranslator &translator, const QString &localeName);
