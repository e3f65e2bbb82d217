#pragma once
// Small Visio drawings for tests: VDX (one XML file) and VSDX (a zip package), one shape with
// a rectangle and a text per page. Link the test with libzip for writeVsdx().

#include <zip.h>

#include <charconv>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace testsupport {

struct VisioPage {
  std::optional<double> widthIn = 8.5;  // no width/height: the page sheet gives no size
  std::optional<double> heightIn = 11.0;
  std::string text;                     // XML-escaped by the caller
};

inline std::string visioNumber(double v) {
  char buf[32];
  auto r = std::to_chars(buf, buf + sizeof buf, v);
  return std::string(buf, r.ptr);
}

// A VDX drawing with one page per entry; with `stencil`, masters and no pages instead.
inline std::string vdxDrawing(const std::vector<VisioPage>& pages, bool stencil = false) {
  const std::string list = stencil ? "Masters" : "Pages";
  const std::string item = stencil ? "Master" : "Page";
  std::string x = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
                  "<VisioDocument xmlns=\"http://schemas.microsoft.com/visio/2003/core\">\n<" + list + ">\n";
  for (std::size_t i = 0; i < pages.size(); ++i) {
    const VisioPage& p = pages[i];
    const std::string id = std::to_string(i);
    x += "<" + item + " ID=\"" + id + "\" NameU=\"" + item + "-" + id + "\" Name=\"" + item + "-" + id + "\">\n";
    if (p.widthIn && p.heightIn) {
      x += "<PageSheet><PageProps><PageWidth>" + visioNumber(*p.widthIn) + "</PageWidth><PageHeight>" +
           visioNumber(*p.heightIn) + "</PageHeight></PageProps></PageSheet>\n";
    }
    x += "<Shapes><Shape ID=\"" + std::to_string(i + 1) +
         "\" Type=\"Shape\">\n"
         "<XForm><PinX>2</PinX><PinY>3</PinY><Width>2</Width><Height>1</Height><LocPinX>1</LocPinX>"
         "<LocPinY>0.5</LocPinY><Angle>0</Angle></XForm>\n"
         "<Geom IX=\"0\"><NoFill>1</NoFill><MoveTo IX=\"1\"><X>0</X><Y>0</Y></MoveTo>"
         "<LineTo IX=\"2\"><X>2</X><Y>0</Y></LineTo><LineTo IX=\"3\"><X>2</X><Y>1</Y></LineTo>"
         "<LineTo IX=\"4\"><X>0</X><Y>1</Y></LineTo><LineTo IX=\"5\"><X>0</X><Y>0</Y></LineTo></Geom>\n"
         "<Text>" + p.text + "</Text>\n</Shape></Shapes>\n</" + item + ">\n";
  }
  x += "</" + list + ">\n</VisioDocument>\n";
  return x;
}

namespace detail {
inline const char* kVsdxNs =
    "xmlns=\"http://schemas.microsoft.com/office/visio/2012/main\" "
    "xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\"";
inline std::string rels(const std::vector<std::pair<std::string, std::string>>& typeAndTarget) {
  std::string x = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
                  "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">";
  for (std::size_t i = 0; i < typeAndTarget.size(); ++i) {
    x += "<Relationship Id=\"rId" + std::to_string(i + 1) + "\" Type=\"" + typeAndTarget[i].first +
         "\" Target=\"" + typeAndTarget[i].second + "\"/>";
  }
  return x + "</Relationships>";
}
}  // namespace detail

// The parts of a VSDX package: (name in the package, content).
inline std::vector<std::pair<std::string, std::string>> vsdxParts(const std::vector<VisioPage>& pages) {
  using detail::kVsdxNs;
  const std::string rel = "http://schemas.microsoft.com/visio/2010/relationships/";
  std::vector<std::pair<std::string, std::string>> parts;
  std::string types =
      "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
      "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
      "<Default Extension=\"rels\" ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>"
      "<Default Extension=\"xml\" ContentType=\"application/xml\"/>"
      "<Override PartName=\"/visio/document.xml\" ContentType=\"application/vnd.ms-visio.drawing.main+xml\"/>"
      "<Override PartName=\"/visio/pages/pages.xml\" ContentType=\"application/vnd.ms-visio.pages+xml\"/>";
  std::string pagesXml = std::string("<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n<Pages ") +
                         kVsdxNs + ">";
  std::vector<std::pair<std::string, std::string>> pageRels;
  for (std::size_t i = 0; i < pages.size(); ++i) {
    const VisioPage& p = pages[i];
    const std::string n = std::to_string(i + 1);
    types += "<Override PartName=\"/visio/pages/page" + n +
             ".xml\" ContentType=\"application/vnd.ms-visio.page+xml\"/>";
    pagesXml += "<Page ID=\"" + std::to_string(i) + "\" NameU=\"Page-" + n + "\" Name=\"Page-" + n + "\"><PageSheet>";
    if (p.widthIn && p.heightIn) {
      pagesXml += "<Cell N=\"PageWidth\" V=\"" + visioNumber(*p.widthIn) + "\"/><Cell N=\"PageHeight\" V=\"" +
                  visioNumber(*p.heightIn) + "\"/>";
    }
    pagesXml += "</PageSheet><Rel r:id=\"rId" + n + "\"/></Page>";
    pageRels.emplace_back(rel + "page", "page" + n + ".xml");
    std::string page = std::string("<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n<PageContents ") +
                       kVsdxNs + "><Shapes><Shape ID=\"" + n +
                       "\" Type=\"Shape\">"
                       "<Cell N=\"PinX\" V=\"2\"/><Cell N=\"PinY\" V=\"3\"/><Cell N=\"Width\" V=\"2\"/>"
                       "<Cell N=\"Height\" V=\"1\"/><Cell N=\"LocPinX\" V=\"1\"/><Cell N=\"LocPinY\" V=\"0.5\"/>"
                       "<Section N=\"Geometry\" IX=\"0\"><Cell N=\"NoFill\" V=\"1\"/>"
                       "<Row T=\"MoveTo\" IX=\"1\"><Cell N=\"X\" V=\"0\"/><Cell N=\"Y\" V=\"0\"/></Row>"
                       "<Row T=\"LineTo\" IX=\"2\"><Cell N=\"X\" V=\"2\"/><Cell N=\"Y\" V=\"0\"/></Row>"
                       "<Row T=\"LineTo\" IX=\"3\"><Cell N=\"X\" V=\"2\"/><Cell N=\"Y\" V=\"1\"/></Row>"
                       "<Row T=\"LineTo\" IX=\"4\"><Cell N=\"X\" V=\"0\"/><Cell N=\"Y\" V=\"1\"/></Row>"
                       "<Row T=\"LineTo\" IX=\"5\"><Cell N=\"X\" V=\"0\"/><Cell N=\"Y\" V=\"0\"/></Row>"
                       "</Section><Text>" + p.text + "</Text></Shape></Shapes></PageContents>";
    parts.emplace_back("visio/pages/page" + n + ".xml", page);
  }
  pagesXml += "</Pages>";
  types += "</Types>";
  parts.emplace_back("[Content_Types].xml", types);
  parts.emplace_back("_rels/.rels", detail::rels({{rel + "document", "visio/document.xml"}}));
  parts.emplace_back("visio/document.xml",
                     std::string("<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n<VisioDocument ") +
                         kVsdxNs + "/>");
  parts.emplace_back("visio/_rels/document.xml.rels", detail::rels({{rel + "pages", "pages/pages.xml"}}));
  parts.emplace_back("visio/pages/pages.xml", pagesXml);
  parts.emplace_back("visio/pages/_rels/pages.xml.rels", detail::rels(pageRels));
  return parts;
}

// Writes the parts as a zip file; answers false when libzip fails.
inline bool writeZip(const std::filesystem::path& path, const std::vector<std::pair<std::string, std::string>>& parts) {
  int err = 0;
  zip_t* z = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &err);
  if (z == nullptr) return false;
  for (const auto& [name, content] : parts) {
    zip_source_t* src = zip_source_buffer(z, content.data(), content.size(), 0);
    if (src == nullptr || zip_file_add(z, name.c_str(), src, ZIP_FL_OVERWRITE) < 0) {
      if (src != nullptr) zip_source_free(src);
      zip_discard(z);
      return false;
    }
  }
  return zip_close(z) == 0;
}

inline bool writeVsdx(const std::filesystem::path& path, const std::vector<VisioPage>& pages) {
  return writeZip(path, vsdxParts(pages));
}

}  // namespace testsupport
