#pragma once
// The page file of a conversion: one page's SVG wrapped in a small XHTML document, read back
// for its size and rendered onto a one-page PDF.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

struct _xmlNode;

// The value of the node's first attribute called `name`; nothing for a null node or no match.
std::optional<std::string> attrStrForName(const _xmlNode* node, std::string_view name);

namespace diagramkit {

// The nine head lines written before a page's SVG, and the tail written after it.
const std::string& pageFileHead();
const std::string& pageFileTail();

// Writes head, `svg` and tail to `path` (truncating). Answers false when it cannot.
bool writePageFile(const std::filesystem::path& path, std::string_view svg);

// An SVG length ("8.5000in", "21cm", "612", "612pt", "10mm", "3pc", "100px") in points at
// 72 dpi, independent of the locale; nothing when it is not a positive finite length.
std::optional<double> svgLengthToPoints(std::string_view text);

struct PageSVG {
  std::string svg;               // the page's svg:svg element as a standalone SVG document
  std::optional<double> width;   // points; nothing when absent or unusable
  std::optional<double> height;
};

// Reads a page file (no network, no DTD) and takes its first svg:svg element; with
// `simplified`, as simplifyPageTree leaves it. A file as writePageFile wrote it is taken as it
// stands where nothing is to be simplified; any other is parsed. Nothing when the file does not
// parse or holds no svg:svg element; `error` says why.
std::optional<PageSVG> readPageFile(const std::filesystem::path& path, std::string* error = nullptr,
                                    bool simplified = false);

// Renders `svg` at 72 dpi into a new one-page PDF of width x height points at `pdfPath`; with
// `whitePaper`, on a page painted white first (a drawing's sheet), else on a transparent one.
bool renderPageSVG(const std::string& svg, double width, double height,
                                     const std::filesystem::path& pdfPath, std::string* error = nullptr,
                                     bool whitePaper = false);

}  // namespace diagramkit
