#pragma once
// Zip-level repairs of XPS packages before libgxps reads them.

#include <string>

namespace xpskit {

// Yes when an entry of the zip at `path` has its sizes in a data descriptor after its data
// (bit 3 of the general-purpose flags) or the central directory cannot be read plainly (zip64).
bool zipHasDataDescriptors(const std::string& path);

// Yes when the file at `path` is a zip whose package relationships name a fixed document
// sequence, as an XPS or OpenXPS package's do.
bool isXpsPackage(const std::string& path);

// Writes every entry of the zip at `source` into a new zip at `destination`, whose local
// headers carry the sizes. The compressed data is copied as it is. False with `error` set when
// the source is not a zip that can be read.
bool repackZip(const std::string& source, const std::string& destination, std::string* error);

}  // namespace xpskit
