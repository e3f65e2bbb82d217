#pragma once
// A hand-written PDF with chosen boxes and rotations, to see exactly what an export keeps.
// Each page shows its text in Helvetica and a black square in the top-left corner of its
// media box.

#include <optional>
#include <string>
#include <vector>

#include "support/pdf_objects.h"

namespace exporttest {

struct RawPage {
  std::string text;
  std::optional<std::string> mediaBox;  // "0 0 612 792"; inherited from the page tree when unset
  std::optional<std::string> cropBox;
  std::optional<int> rotate;            // inherited from the page tree when unset
};

// `treeMediaBox` and `treeRotate` are set on the page tree node, for the pages to inherit.
inline std::string rawPdf(const std::vector<RawPage>& pages, const std::string& treeMediaBox = "0 0 612 792",
                          std::optional<int> treeRotate = std::nullopt) {
  std::vector<std::string> objects;  // object i + 1
  const int n = static_cast<int>(pages.size());
  auto ref = [](int id) { return std::to_string(id) + " 0 R"; };
  // 1 catalog, 2 page tree, 3 font, then per page: page, contents.
  objects.push_back("<< /Type /Catalog /Pages 2 0 R >>");
  std::string kids;
  for (int i = 0; i < n; ++i) kids += ref(4 + 2 * i) + " ";
  std::string tree = "<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(n) + " /MediaBox [" + treeMediaBox +
                     "] /Resources << /Font << /F1 3 0 R >> >>";
  if (treeRotate) tree += " /Rotate " + std::to_string(*treeRotate);
  objects.push_back(tree + " >>");
  objects.push_back("<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>");
  for (int i = 0; i < n; ++i) {
    const RawPage& p = pages[static_cast<size_t>(i)];
    std::string page = "<< /Type /Page /Parent 2 0 R /Contents " + ref(5 + 2 * i);
    if (p.mediaBox) page += " /MediaBox [" + *p.mediaBox + "]";
    if (p.cropBox) page += " /CropBox [" + *p.cropBox + "]";
    if (p.rotate) page += " /Rotate " + std::to_string(*p.rotate);
    objects.push_back(page + " >>");
    // The square sits at the top left of the default 612 x 792 box.
    std::string content = "0 0 0 rg 0 692 100 100 re f\n";
    if (!p.text.empty()) content += "BT /F1 24 Tf 150 300 Td (" + p.text + ") Tj ET\n";
    objects.push_back("<< /Length " + std::to_string(content.size()) + " >>\nstream\n" + content + "endstream");
  }
  return testsupport::pdfFromObjects(objects);
}

}  // namespace exporttest
