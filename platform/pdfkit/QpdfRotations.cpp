#include "platform/pdfkit/QpdfRotations.h"

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFPageObjectHelper.hh>
#include <qpdf/QPDFWriter.hh>

#include <exception>

namespace pdfkit::detail {

std::string writeWithRotations(const std::string& source, const std::string& destination, const std::vector<int>& rotations) {
  try {
    QPDF pdf;
    if (source.empty()) {
      pdf.emptyPDF();
    } else {
      pdf.processFile(source.c_str());
    }
    std::vector<QPDFPageObjectHelper> pages = QPDFPageDocumentHelper(pdf).getAllPages();
    if (pages.size() != rotations.size()) return "page count changed on disk";
    for (size_t i = 0; i < pages.size(); ++i) pages[i].rotatePage(rotations[i], false);
    QPDFWriter writer(pdf, destination.c_str());
    writer.write();

    QPDF check;
    check.processFile(destination.c_str());
    if (QPDFPageDocumentHelper(check).getAllPages().size() != rotations.size()) return "written file does not check";
  } catch (const std::exception& e) {
    return e.what()[0] ? e.what() : "qpdf failed";
  }
  return std::string();
}

}  // namespace pdfkit::detail
