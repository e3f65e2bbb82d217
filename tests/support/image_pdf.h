#pragma once
// A hand-written PDF whose pages draw chosen images: image objects in any colour space, bit
// depth and filter, inline images, stencil masks, broken image data, page labels.

#include <string>
#include <vector>

#include "support/pdf_objects.h"

namespace testsupport {

struct PdfImage {
  int width = 1;
  int height = 1;
  std::string colorSpace = "/DeviceRGB";  // any PDF colour space, written as given
  int bits = 8;
  std::string filter;                     // "/ASCIIHexDecode", ...; none when empty
  std::string data;                       // the stream's bytes, encoded by `filter`
  bool imageMask = false;                 // a stencil mask (colorSpace and bits unused)
  bool inlineImage = false;               // drawn with BI ... ID ... EI
  int draws = 1;                          // how often the page draws it
};

struct PdfImagePage {
  std::vector<PdfImage> images;
};

inline std::string hexBytes(const std::string& bytes) {
  static const char* digits = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) {
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out + ">";
}

// `pageLabels`, when set, is written as the catalogue's /PageLabels number tree body
// ("0 << /S /r >> 2 << /S /D >>").
inline std::string imagePdf(const std::vector<PdfImagePage>& pages, const std::string& pageLabels = "") {
  std::vector<std::string> objects;  // object i + 1
  auto ref = [](size_t id) { return std::to_string(id) + " 0 R"; };
  objects.push_back(pageLabels.empty() ? "<< /Type /Catalog /Pages 2 0 R >>"
                                       : "<< /Type /Catalog /Pages 2 0 R /PageLabels << /Nums [" + pageLabels + "] >> >>");
  objects.push_back("");  // the page tree, once the pages are known
  std::string kids;
  for (const PdfImagePage& page : pages) {
    std::string xobjects;
    std::string content;
    int n = 0;
    for (const PdfImage& im : page.images) {
      const std::string name = "Im" + std::to_string(n++);
      std::string dict = "/Width " + std::to_string(im.width) + " /Height " + std::to_string(im.height);
      if (im.imageMask) {
        dict += " /ImageMask true /BitsPerComponent 1";
      } else {
        dict += " /ColorSpace " + im.colorSpace + " /BitsPerComponent " + std::to_string(im.bits);
      }
      if (!im.filter.empty()) dict += " /Filter " + im.filter;
      for (int d = 0; d < im.draws; ++d) {
        content += "q 100 0 0 100 " + std::to_string(50 + 110 * (n - 1)) + " " + std::to_string(500 - 110 * d) + " cm ";
        if (im.inlineImage) {
          content += "BI " + dict + " ID " + im.data + "\nEI Q\n";
        } else {
          content += "/" + name + " Do Q\n";
        }
      }
      if (!im.inlineImage) {
        objects.push_back("<< /Type /XObject /Subtype /Image " + dict + " /Length " + std::to_string(im.data.size()) +
                          " >>\nstream\n" + im.data + "\nendstream");
        xobjects += "/" + name + " " + ref(objects.size()) + " ";
      }
    }
    // A fill colour for the stencil masks.
    content = "0 0 1 rg\n" + content;
    objects.push_back("<< /Length " + std::to_string(content.size()) + " >>\nstream\n" + content + "endstream");
    const size_t contents = objects.size();
    objects.push_back("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents " + ref(contents) +
                      " /Resources << /XObject << " + xobjects + ">> >> >>");
    kids += ref(objects.size()) + " ";
  }
  objects[1] = "<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(pages.size()) + " >>";
  return testsupport::pdfFromObjects(objects);
}

// One RGB pixel a colour: 8-bit samples.
inline PdfImage rgbImage(int width, int height, const std::string& samples) {
  PdfImage im;
  im.width = width;
  im.height = height;
  im.data = samples;
  return im;
}

}  // namespace testsupport
