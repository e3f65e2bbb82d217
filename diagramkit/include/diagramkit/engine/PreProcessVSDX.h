#pragma once
// The VSDX pre-processor: in a folder of its own in the process's work folder ("VSD2PDF" in
// the user's data folder), unpacks the drawing's metafiles, writes an EPS and a PNG beside each
// WMF picture and an SVG beside each EMF picture, and packs the package again with them; the
// other entries go from package to package as they are stored. A package beyond the reader's
// limits (entry count, unpacked sizes, compression ratio) is not pre-processed.

#include <filesystem>

#include "diagramkit/engine/export.h"

// The new package (named after the source, with the extension ".vsdx"), or the path of the
// first ".vsd" file found inside the package (then nothing is packed), or an empty path when
// the work folder cannot be made or the package cannot be read or written.
DIAGRAMKIT_EXPORT std::filesystem::path preProcessVSDX(const std::filesystem::path& source);
