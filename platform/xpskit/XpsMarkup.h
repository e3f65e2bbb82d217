#pragma once
// Page markup that libgxps cannot read safely, found and made safe before libgxps reads it.
//
// libgxps stops the whole process on a letter that is no geometry command where abbreviated
// geometry (the Data, Clip and Figures attributes) expects one, and reads past the points of a
// Bézier segment whose point count does not make whole curves. It also copies the resources of a
// resource dictionary as text without escaping their values and parses that text again, so an
// escaped quote or character reference there becomes markup of its own. The markup parts of a
// package are read here as libgxps reads them (its zip reader, its choice of UTF-8 or UTF-16, the
// same XML rules); a package with such markup is written again with that markup made safe.

#include <cstddef>
#include <string>
#include <string_view>

namespace xpskit {

// Abbreviated geometry as libgxps is given it, cut short before the first command letter
// libgxps does not know (where it would stop the process); unchanged when it has none. libgxps
// draws the part kept as it would have drawn it.
std::string safeGeometry(std::string_view data);

// The points of a Bézier segment (`perCurve` points to a curve) cut to whole curves; unchanged
// when they make whole curves.
std::string wholeCurves(std::string_view points, int perCurve);

enum class MarkupRepair {
  NotNeeded,  // nothing in the package needs it; nothing was written
  Repaired,   // the package was written to the destination with its markup made safe
  Failed,     // the package needs it but cannot be written; the reason is given
};

// Checks the markup of the package at `source` and, where some is not safe, writes the package
// to `destination` with the parts concerned made safe (as UTF-8, their interleaved pieces joined).
// The package is held in memory meanwhile: one whose data (or one part's text) is over `cap`
// bytes is not written again and fails.
MarkupRepair repairMarkup(const std::string& source, const std::string& destination, std::string* error,
                          size_t cap = size_t(256) << 20);

}  // namespace xpskit
