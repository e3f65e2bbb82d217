#pragma once
// The qpdf side of PDFDocument::writeToFile, kept in its own unit (qpdf's headers).

#include <string>
#include <vector>

namespace pdfkit::detail {

// A rotation that leaves the page as the source has it.
constexpr int kKeepRotation = -1;

// Writes `source` (an empty document when `source` is empty) to `destination` with page i
// turned to rotations[i] degrees (kept as it is for kKeepRotation), then reads the result back.
// Answers "" on success, else why it failed.
std::string writeWithRotations(const std::string& source, const std::string& destination, const std::vector<int>& rotations);

// One sheet of a print: a page of the source placed on a sheet of paper.
struct PrintSheet {
  int page = 0;        // index in the source
  bool turned = false;  // the sheet is laid landscape and carries /Rotate 90
};
// Sheet and printable area in points, the area's origin at the sheet's top left.
struct PrintPaper {
  double width = 0, height = 0;
  double areaX = 0, areaY = 0, areaWidth = 0, areaHeight = 0;
};

// Writes the sheets to `destination`: each source page (shown with rotations[page] degrees,
// as writeWithRotations) drawn unchanged, as vectors and text, centred in the printable area;
// `fit` scales it to fill the area, else it keeps its size (shrunk only when it is larger).
// Answers "" on success, else why it failed.
std::string writeSheets(const std::string& source, const std::string& destination, const std::vector<int>& rotations,
                        const std::vector<PrintSheet>& sheets, const PrintPaper& paper, bool fit);

}  // namespace pdfkit::detail
