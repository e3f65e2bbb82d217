// The Works and WordPerfect modules' plugin: the rich text kits with librevenge, libwps and
// libwpd, loaded with the first such document; it also makes their RTFD exporters.

#include "core/DocumentModul.h"
#include "modules/export/RTFDConverters.h"
#include "modules/works/RichTextModuls.h"

LECTERN_MODULE_PLUGIN_ENTRY {
  registerRichTextModuls();
  registerRTFDConverters();
}
