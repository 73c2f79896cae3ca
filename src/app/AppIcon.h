#pragma once

#include <QIcon>

// The application icon, drawn in code to the same design as resources/vindrel.svg (Qt here has no
// SVG image plugin).
QIcon AppIcon();
