#include "modules/works/RichTextModuls.h"

#include "modules/works/WPDModul.h"
#include "modules/works/WPSModul.h"

void registerRichTextModuls() {
  WPSModul::registerModul();
  WPDModul::registerModul();
}
