#pragma once

#include <QString>

// Replaces every palette placeholder of a style sheet by its colour ("#rrggbb").
QString applyStylePalette(QString styleSheet);
