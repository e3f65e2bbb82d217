#pragma once
// What a written PDF holds, read with qpdf: per page its boxes and /Rotate (inherited values
// included).

#include <array>
#include <optional>
#include <string>
#include <vector>

namespace exporttest {

struct PageFacts {
  std::array<double, 4> mediaBox{};
  std::optional<std::array<double, 4>> cropBox;
  int rotate = 0;
};

// nullopt when the file does not open.
std::optional<std::vector<PageFacts>> inspectPdf(const std::string& path);

}  // namespace exporttest
