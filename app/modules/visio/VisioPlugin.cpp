// The Visio module's plugin: DiagramKit with libvisio, librsvg and pango, loaded with the first
// Visio drawing.

#include "modules/visio/VisioModul.h"

LECTERN_MODULE_PLUGIN_ENTRY { VisioModul::registerModul(); }
