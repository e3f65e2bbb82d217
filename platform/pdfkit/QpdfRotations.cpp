#include "platform/pdfkit/QpdfRotations.h"

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFPageObjectHelper.hh>
#include <qpdf/QPDFWriter.hh>

#include <exception>
#include <map>
#include <string>

#include "platform/foundation/qpdf_log.h"

namespace pdfkit::detail {

std::string writeWithRotations(const std::string& source, const std::string& destination, const std::vector<int>& rotations) {
  try {
    QPDF pdf;
    foundation::QpdfWarnings pdfWarnings(pdf, "reading " + source);
    if (source.empty()) {
      pdf.emptyPDF();
    } else {
      pdf.processFile(source.c_str());
    }
    std::vector<QPDFPageObjectHelper> pages = QPDFPageDocumentHelper(pdf).getAllPages();
    if (pages.size() != rotations.size()) return "page count changed on disk";
    for (size_t i = 0; i < pages.size(); ++i) {
      // A page object qpdf cannot read would be written as an empty page.
      if (!pages[i].getObjectHandle().isDictionary()) return "page " + std::to_string(i + 1) + " cannot be read";
      if (rotations[i] != kKeepRotation) pages[i].rotatePage(rotations[i], false);
    }
    QPDFWriter writer(pdf, destination.c_str());
    writer.write();

    QPDF check;
    foundation::QpdfWarnings checkWarnings(check, "reading back " + destination);
    check.processFile(destination.c_str());
    std::vector<QPDFPageObjectHelper> written = QPDFPageDocumentHelper(check).getAllPages();
    if (written.size() != rotations.size()) return "written file does not check";
    for (size_t i = 0; i < written.size(); ++i) {
      if (rotations[i] == kKeepRotation) continue;
      QPDFObjectHandle rotate = written[i].getAttribute("/Rotate", false);
      const int degrees = rotate.isInteger() ? ((rotate.getIntValueAsInt() % 360) + 360) % 360 : 0;
      if (degrees != ((rotations[i] % 360) + 360) % 360) return "written file does not keep the rotation of page " + std::to_string(i + 1);
    }
  } catch (const std::exception& e) {
    return e.what()[0] ? e.what() : "qpdf failed";
  }
  return std::string();
}

std::string writeSheets(const std::string& source, const std::string& destination, const std::vector<int>& rotations,
                        const std::vector<PrintSheet>& sheets, const PrintPaper& paper, bool fit) {
  try {
    QPDF in;
    foundation::QpdfWarnings inWarnings(in, "reading " + source);
    in.processFile(source.c_str());
    std::vector<QPDFPageObjectHelper> pages = QPDFPageDocumentHelper(in).getAllPages();
    if (pages.size() != rotations.size()) return "page count changed on disk";
    QPDF out;
    foundation::QpdfWarnings outWarnings(out, "writing " + destination);
    out.emptyPDF();
    QPDFPageDocumentHelper outPages(out);
    std::map<int, QPDFObjectHandle> forms;  // one copy of each page drawn, however many sheets show it
    for (const PrintSheet& sheet : sheets) {
      if (sheet.page < 0 || static_cast<size_t>(sheet.page) >= pages.size()) return "no such page";
      auto form = forms.find(sheet.page);
      if (form == forms.end()) {
        QPDFPageObjectHelper& page = pages[static_cast<size_t>(sheet.page)];
        page.rotatePage(rotations[static_cast<size_t>(sheet.page)], false);
        form = forms.emplace(sheet.page, out.copyForeignObject(page.getFormXObjectForPage(true))).first;
      }
      // PDF space: origin at the bottom left. A turned sheet is laid out landscape.
      const double w = sheet.turned ? paper.height : paper.width;
      const double h = sheet.turned ? paper.width : paper.height;
      const double ax = sheet.turned ? paper.areaY : paper.areaX;
      const double ay = sheet.turned ? paper.areaX : paper.areaY;
      const double aw = sheet.turned ? paper.areaHeight : paper.areaWidth;
      const double ah = sheet.turned ? paper.areaWidth : paper.areaHeight;
      QPDFObjectHandle dict = QPDFObjectHandle::newDictionary();
      dict.replaceKey("/Type", QPDFObjectHandle::newName("/Page"));
      dict.replaceKey("/MediaBox", QPDFObjectHandle::newFromRectangle(QPDFObjectHandle::Rectangle(0, 0, w, h)));
      QPDFObjectHandle xobjects = QPDFObjectHandle::newDictionary();
      xobjects.replaceKey("/Fx1", form->second);
      QPDFObjectHandle resources = QPDFObjectHandle::newDictionary();
      resources.replaceKey("/XObject", xobjects);
      dict.replaceKey("/Resources", resources);
      if (sheet.turned) dict.replaceKey("/Rotate", QPDFObjectHandle::newInteger(90));
      QPDFPageObjectHelper target(out.makeIndirectObject(dict));
      const QPDFObjectHandle::Rectangle area(ax, h - ay - ah, ax + aw, h - ay);
      const std::string content = target.placeFormXObject(form->second, "/Fx1", area, false, true, fit);
      target.getObjectHandle().replaceKey("/Contents", QPDFObjectHandle::newStream(&out, content));
      outPages.addPage(target, false);
    }
    QPDFWriter writer(out, destination.c_str());
    writer.setStreamDataMode(qpdf_s_compress);
    writer.write();

    QPDF check;
    foundation::QpdfWarnings checkWarnings(check, "reading back " + destination);
    check.processFile(destination.c_str());
    if (QPDFPageDocumentHelper(check).getAllPages().size() != sheets.size()) return "written file does not check";
  } catch (const std::exception& e) {
    return e.what()[0] ? e.what() : "qpdf failed";
  }
  return std::string();
}

}  // namespace pdfkit::detail
