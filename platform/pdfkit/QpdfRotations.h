#pragma once
// The qpdf side of PDFDocument::writeToFile, kept in its own unit (qpdf's headers).

#include <string>
#include <vector>

namespace pdfkit::detail {

// Writes `source` (an empty document when `source` is empty) to `destination` with page i
// turned to rotations[i] degrees, then reads the result back. Answers "" on success, else why
// it failed.
std::string writeWithRotations(const std::string& source, const std::string& destination, const std::vector<int>& rotations);

}  // namespace pdfkit::detail
