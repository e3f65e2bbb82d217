// The DjVu module's plugin: DjvuKit with djvulibre, loaded with the first DjVu document.

#include "modules/djvu/DjVuModul.h"

LECTERN_MODULE_PLUGIN_ENTRY { DjVuModul::registerModul(); }
