#include "platform/foundation/cairo_font_lock.h"

namespace foundation {

std::mutex& cairoFontMutex() {
  static std::mutex m;
  return m;
}

}  // namespace foundation
