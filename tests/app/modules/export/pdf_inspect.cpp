#include "pdf_inspect.h"

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFPageObjectHelper.hh>

#include <exception>

namespace exporttest {

namespace {
std::array<double, 4> box(QPDFObjectHandle h) {
  std::array<double, 4> b{};
  for (int i = 0; i < 4 && h.isArray() && i < h.getArrayNItems(); ++i) b[static_cast<size_t>(i)] = h.getArrayItem(i).getNumericValue();
  return b;
}
}  // namespace

std::optional<std::vector<PageFacts>> inspectPdf(const std::string& path) {
  try {
    QPDF pdf;
    pdf.processFile(path.c_str());
    std::vector<PageFacts> out;
    for (QPDFPageObjectHelper& page : QPDFPageDocumentHelper(pdf).getAllPages()) {
      PageFacts f;
      f.mediaBox = box(page.getAttribute("/MediaBox", false));
      QPDFObjectHandle crop = page.getAttribute("/CropBox", false);
      if (crop.isArray()) f.cropBox = box(crop);
      QPDFObjectHandle rotate = page.getAttribute("/Rotate", false);
      if (rotate.isInteger()) f.rotate = static_cast<int>(rotate.getIntValue());
      out.push_back(f);
    }
    return out;
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

}  // namespace exporttest
