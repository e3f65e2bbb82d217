#pragma once
// The one process-wide lock for cairo's fonts.
//
// cairo finishes a font face on whichever thread lets go of its last scaled font, often when its
// cache of unused scaled fonts is full and another library's text pushes one out. A face that
// libgxps made from a package's font is then released on libgxps's FreeType library, which must
// not meet a face being made there by an XPS conversion. So every road that draws or measures
// text through cairo (libgxps, librsvg, pango), or destroys a cairo context or surface that
// did, holds this lock meanwhile.

#include <mutex>

#include "platform/foundation/export.h"

namespace foundation {

FOUNDATION_EXPORT std::mutex& cairoFontMutex();

}  // namespace foundation
