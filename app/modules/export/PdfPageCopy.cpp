#include "modules/export/PdfPageCopy.h"

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFPageObjectHelper.hh>
#include <qpdf/QPDFWriter.hh>

#include <exception>
#include <vector>

#include "platform/foundation/qpdf_log.h"

namespace exportpdf {

struct PdfPageCopy::Impl {
  struct Source {
    std::unique_ptr<QPDF> pdf;
    std::unique_ptr<foundation::QpdfWarnings> warnings;  // after pdf: logged before it goes
    std::vector<QPDFPageObjectHelper> pages;
  };
  // Sources stay open until the output is written: copied pages read their streams from them.
  std::vector<Source> sources;
  QPDF out;
  foundation::QpdfWarnings outWarnings{out, "writing the copied pages"};
  std::unique_ptr<QPDFPageDocumentHelper> outPages;
  int added = 0;
};

namespace {
std::string reason(const std::exception& e) { return e.what()[0] ? e.what() : "qpdf failed"; }
}  // namespace

PdfPageCopy::PdfPageCopy() : impl_(std::make_unique<Impl>()) {
  impl_->out.emptyPDF();
  impl_->outPages = std::make_unique<QPDFPageDocumentHelper>(impl_->out);
}

PdfPageCopy::~PdfPageCopy() = default;

int PdfPageCopy::openSource(const std::string& path, std::string* error) {
  try {
    Impl::Source s;
    s.pdf = std::make_unique<QPDF>();
    s.warnings = std::make_unique<foundation::QpdfWarnings>(*s.pdf, "reading " + path);
    s.pdf->processFile(path.c_str());
    // Inherited boxes, resources and /Rotate move onto each page before it is copied.
    s.pdf->pushInheritedAttributesToPage();
    s.pages = QPDFPageDocumentHelper(*s.pdf).getAllPages();
    impl_->sources.push_back(std::move(s));
    return static_cast<int>(impl_->sources.size()) - 1;
  } catch (const std::exception& e) {
    if (error) *error = reason(e);
    return -1;
  }
}

int PdfPageCopy::pageCount(int source) const {
  if (source < 0 || source >= static_cast<int>(impl_->sources.size())) return 0;
  return static_cast<int>(impl_->sources[static_cast<size_t>(source)].pages.size());
}

std::string PdfPageCopy::addPage(int source, int index, int extraRotation) {
  if (index < 0 || index >= pageCount(source)) return "no such page";
  try {
    const QPDFPageObjectHelper& page = impl_->sources[static_cast<size_t>(source)].pages[static_cast<size_t>(index)];
    QPDFPageObjectHelper copy(impl_->out.copyForeignObject(page.getObjectHandle()));
    if (extraRotation % 360 != 0) copy.rotatePage(extraRotation, true);
    impl_->outPages->addPage(copy, false);
    impl_->added++;
  } catch (const std::exception& e) {
    return reason(e);
  }
  return std::string();
}

int PdfPageCopy::outputPageCount() const { return impl_->added; }

std::string PdfPageCopy::write(const std::string& path) {
  try {
    QPDFWriter writer(impl_->out, path.c_str());
    writer.write();
    QPDF check;
    foundation::QpdfWarnings checkWarnings(check, "reading back " + path);
    check.processFile(path.c_str());
    if (static_cast<int>(QPDFPageDocumentHelper(check).getAllPages().size()) != impl_->added)
      return "the written file does not check";
  } catch (const std::exception& e) {
    return reason(e);
  }
  return std::string();
}

}  // namespace exportpdf
