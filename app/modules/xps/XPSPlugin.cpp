// The XPS module's plugin: XpsKit with libgxps and cairo, loaded with the first XPS document.

#include "modules/xps/XPSModul.h"

LECTERN_MODULE_PLUGIN_ENTRY { XPSModul::registerModul(); }
