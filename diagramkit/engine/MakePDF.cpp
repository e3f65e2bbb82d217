#include "diagramkit/engine/MakePDF.h"

#define POINTERHOLDER_TRANSITION 4

#include <qpdf/Buffer.hh>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFObjectHandle.hh>
#include <qpdf/QPDFWriter.hh>

#include <unistd.h>

#include <cstdio>
#include <exception>
#include <system_error>
#include <utility>
#include <vector>

#include "platform/foundation/qpdf_log.h"

namespace {

void setError(std::string* error, std::string text) {
  if (error != nullptr) *error = std::move(text);
}

struct Link {
  QPDFObjectHandle rect;
  std::string uri;
};

// The URI links of a page; other annotations are not carried over.
std::vector<Link> uriLinks(QPDFObjectHandle page) {
  std::vector<Link> links;
  QPDFObjectHandle annots = page.getKey("/Annots");
  if (!annots.isArray()) return links;
  for (int i = 0; i < annots.getArrayNItems(); ++i) {
    QPDFObjectHandle a = annots.getArrayItem(i);
    if (!a.isDictionary() || !a.getKey("/Subtype").isNameAndEquals("/Link")) continue;
    QPDFObjectHandle action = a.getKey("/A");
    QPDFObjectHandle rect = a.getKey("/Rect");
    if (!action.isDictionary() || !action.getKey("/S").isNameAndEquals("/URI")) continue;
    QPDFObjectHandle uri = action.getKey("/URI");
    if (!uri.isString() || !rect.isArray() || rect.getArrayNItems() != 4) continue;
    links.push_back({QPDFObjectHandle::newArray(rect.getArrayAsVector()), uri.getStringValue()});
  }
  return links;
}

// Gives the page in `out` a URL rectangle for each link, at the same bounds.
void addLinkToPdf(QPDF& out, QPDFObjectHandle page, const std::vector<Link>& links) {
  if (links.empty()) return;
  QPDFObjectHandle annots = QPDFObjectHandle::newArray();
  for (const Link& link : links) {
    QPDFObjectHandle action = QPDFObjectHandle::newDictionary();
    action.replaceKey("/S", QPDFObjectHandle::newName("/URI"));
    action.replaceKey("/URI", QPDFObjectHandle::newString(link.uri));
    QPDFObjectHandle annot = QPDFObjectHandle::newDictionary();
    annot.replaceKey("/Type", QPDFObjectHandle::newName("/Annot"));
    annot.replaceKey("/Subtype", QPDFObjectHandle::newName("/Link"));
    annot.replaceKey("/Rect", link.rect);
    annot.replaceKey("/Border", QPDFObjectHandle::parse("[0 0 0]"));
    annot.replaceKey("/A", action);
    annots.appendItem(out.makeIndirectObject(annot));
  }
  page.replaceKey("/Annots", annots);
}

// Copies one page of `src` (opened with immediate copy) to the end of `out`.
void appendPage(QPDF& out, QPDFObjectHandle srcPage) {
  std::vector<Link> links = uriLinks(srcPage);
  srcPage.removeKey("/Annots");
  out.addPage(srcPage, false);
  addLinkToPdf(out, out.getAllPages().back(), links);
}

std::size_t sheetBytes(QPDFObjectHandle srcPage) {
  QPDF alone;
  foundation::QpdfWarnings warnings(alone, "measuring a printed page");
  alone.emptyPDF();
  alone.addPage(srcPage, false);
  QPDFWriter writer(alone);
  writer.setOutputMemory();
  writer.write();
  return writer.getBufferSharedPointer()->getSize();
}

void openSource(QPDF& src, const std::filesystem::path& path) {
  src.processFile(path.c_str());
  src.setImmediateCopyFrom(true);
  src.pushInheritedAttributesToPage();
}

// Writes `pdf` to a temporary file beside `outPath` and renames it into place.
bool writeAtomically(QPDF& pdf, const std::filesystem::path& outPath, std::string* error) {
  std::filesystem::path dir = outPath.parent_path();
  if (dir.empty()) dir = ".";
  std::string tmp = (dir / ("." + outPath.filename().string() + ".XXXXXX")).string();
  const int fd = ::mkstemp(tmp.data());
  if (fd < 0) {
    setError(error, "cannot create a file beside " + outPath.string() + ": " +
                        std::generic_category().message(errno));
    return false;
  }
  ::close(fd);
  try {
    QPDFWriter writer(pdf, tmp.c_str());
    writer.write();
  } catch (const std::exception& e) {
    std::remove(tmp.c_str());
    setError(error, std::string("cannot write the PDF: ") + e.what());
    return false;
  }
  std::error_code ec;
  std::filesystem::permissions(tmp, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write |
                                        std::filesystem::perms::group_read | std::filesystem::perms::others_read,
                               ec);
  std::filesystem::rename(tmp, outPath, ec);
  if (ec) {
    std::remove(tmp.c_str());
    setError(error, "cannot rename the PDF into place: " + ec.message());
    return false;
  }
  return true;
}

}  // namespace

struct PDFContext::Impl {
  std::filesystem::path outPath;
  QPDF pdf;
  foundation::QpdfWarnings warnings{pdf, "writing the drawing's PDF"};
  bool closed = false;
};

PDFContext::PDFContext(std::filesystem::path outPath) : impl_(std::make_unique<Impl>()) {
  impl_->outPath = std::move(outPath);
  impl_->pdf.emptyPDF();
}

PDFContext::~PDFContext() = default;

int PDFContext::pageCount() const { return static_cast<int>(impl_->pdf.getAllPages().size()); }

bool PDFContext::close(std::string* error) {
  if (impl_->closed) {
    setError(error, "the output is already closed");
    return false;
  }
  impl_->closed = true;
  return writeAtomically(impl_->pdf, impl_->outPath, error);
}

bool MakePDF::addToPdf(PDFContext& ctx, const std::filesystem::path& fromPath, std::string* error) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(fromPath, ec)) {
    setError(error, "no printed page at " + fromPath.string());
    return false;
  }
  try {
    QPDF src;
    foundation::QpdfWarnings warnings(src, "reading " + fromPath.string());
    openSource(src, fromPath);
    std::vector<QPDFObjectHandle> pages = src.getAllPages();
    if (pages.empty()) {
      setError(error, "the printed file has no page");
      return false;
    }
    std::vector<QPDFObjectHandle> kept;
    for (std::size_t i = 0; i < pages.size(); ++i) {
      if (i == 0 || sheetBytes(pages[i]) >= kEmptySheetBytes) kept.push_back(pages[i]);
    }
    for (QPDFObjectHandle& page : kept) appendPage(ctx.impl_->pdf, page);
    return true;
  } catch (const std::exception& e) {
    setError(error, std::string("cannot append ") + fromPath.string() + ": " + e.what());
    return false;
  }
}

bool MakePDF::changePDF(const std::filesystem::path& src, int retainPages, const std::filesystem::path& toPDF,
                        std::string* error) {
  try {
    QPDF in;
    foundation::QpdfWarnings inWarnings(in, "reading " + src.string());
    openSource(in, src);
    std::vector<QPDFObjectHandle> pages = in.getAllPages();
    const std::size_t n = retainPages < 0 ? 0 : std::min<std::size_t>(pages.size(), static_cast<std::size_t>(retainPages));
    QPDF out;
    foundation::QpdfWarnings outWarnings(out, "writing " + toPDF.string());
    out.emptyPDF();
    for (std::size_t i = 0; i < n; ++i) appendPage(out, pages[i]);
    return writeAtomically(out, toPDF, error);
  } catch (const std::exception& e) {
    setError(error, std::string("cannot copy pages of ") + src.string() + ": " + e.what());
    return false;
  }
}
