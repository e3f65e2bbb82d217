#pragma once
// The engine's own renderer for VSDX packages: shape transforms (nested), straight-line geometry
// in one fixed stroke style, embedded images as data URIs and texts broken at line breaks and
// wrapped by measured width.
// Each page becomes one svg:svg element for the page file. Cell values are inches with y up;
// coordinates are written in points with y down.

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct _xmlDoc;
struct _xmlNode;

namespace diagramkit {

class TextMeasurer;
class VSDXPackage;

struct XForm {
  double pinX = 0, pinY = 0, height = 0, width = 0, pinLocX = 0, pinLocY = 0;
  double angle = 0;  // radians
  double x = 0, y = 0;
  bool flipX = false, flipY = false;
  bool isExist = false;  // a text-block cell was read into it
};

struct LineStyle {
  double width = 0.01;
  std::optional<std::string> color;
  std::uint8_t pattern = 1, startMarker = 0, endMarker = 0, cap = 0;
  bool isExist = false;
};

struct FillStyle {
  std::optional<std::string> fgColor, bgColor;
  std::uint8_t pattern = 0;
  double fgTransparency = 0, bgTransparency = 0;
  std::optional<std::string> shadowFgColor;
  std::uint8_t shadowPattern = 0;
  double shadowOffsetX = 0, shadowOffsetY = 0;
};

struct TextBlockStyle {
  double leftMargin = 0, rightMargin = 0, topMargin = 0, bottomMargin = 0;
  std::uint8_t verticalAlign = 1;
  bool isTextBkgndFilled = true;
  std::optional<std::string> textBkgndColor;
  double defaultTabStop = 0.5;
  std::uint8_t textDirection = 0;
  double opacity = 1.0;
};

// Moves a shape-local point into its parent's frame: pin offset, flips, rotation, pin.
void applyTheXForm(double& x, double& y, const XForm* xf);

// The source name whose drawings this renderer draws; every other drawing goes through libvisio.
inline constexpr std::string_view kOwnRendererFileName = "fixed-diagram.vsdx";
bool usesOwnVSDXRenderer(const std::filesystem::path& src);

// The MIME type of an image part by its name's extension; application/octet-stream when unknown.
std::string imageMimeType(std::string_view partName);

// Standard Base64 with padding.
std::string base64(std::string_view data);
void appendBase64(std::string& out, std::string_view data);

// The image data one drawing's page files may carry, counted once for each page an image is
// on; an image beyond it is left out with a log line.
inline constexpr std::size_t kMaxImageBytes = std::size_t{64} << 20;
// The image data one page carries: librsvg reads no page over 10,000,000 bytes, and the Base64
// of 7,000,000 bytes leaves the rest of the page about 650 KB. An image beyond it is left out
// with a log line.
inline constexpr std::size_t kMaxPageImageBytes = 7'000'000;

class VSDXRenderer {
 public:
  VSDXRenderer(const VSDXPackage& package, TextMeasurer& measurer, std::size_t imageBytes = kMaxImageBytes);
  ~VSDXRenderer();
  VSDXRenderer(const VSDXRenderer&) = delete;
  VSDXRenderer& operator=(const VSDXRenderer&) = delete;

  // Reads the pages part; false when it is missing, unreadable or lists no Page.
  bool loadPages();
  int pageCount() const { return static_cast<int>(pagesNodes_.size()); }
  // Page `index` (0-based) as one svg:svg element; an unreadable page part gives an empty page.
  // Each image of the page is defined once and drawn by reference.
  std::string renderPage(int index);

  // The lines and their heights (points) the last text was broken into.
  const std::vector<std::string>& textArry() const { return textArry_; }
  const std::vector<double>& heightArry() const { return heightArry_; }

 private:
  void processPage(const _xmlNode* page);
  void processPageDoc(int index);
  void processShape(const _xmlNode* shape);
  void readShapeCell(std::string_view name, std::string_view value);
  void processGeometry(const _xmlNode* section);
  void processCharacter(const _xmlNode* section);
  void processText(const std::string& text);
  void processForeignData(const std::string& relId);
  void processMoveTo(double x, double y);
  void processLineTo(double x, double y);
  void processRelMoveTo(double x, double y);
  void processRelLineTo(double x, double y);
  void transformPoint(double& x, double& y, const XForm* xf) const;
  double transformAngle(double angle, const XForm* xf) const;
  void transformFlip(bool& flipX, bool& flipY) const;
  void processMyText(std::string text);
  void breakParagraph(std::string_view paragraph, bool wrap);
  // The id of the page's definition of image `part` ("" for none), written on first use.
  const std::string& pageImage(const std::string& part);
  void startMyTextSpan();

  const VSDXPackage& package_;
  TextMeasurer& measurer_;
  _xmlDoc* pagesDoc_ = nullptr;
  std::vector<const _xmlNode*> pagesNodes_;
  _xmlDoc* pageRel_ = nullptr;
  std::string pageRelSource_;  // the part the page relationships belong to
  double m_pageWidth = 0;
  double m_pageHeight = 0;
  std::string bodyStr_;
  std::string textStr_;
  std::string defsStr_;                            // the page's image definitions
  std::map<std::string, std::string> pageImages_;  // image part -> id of its definition
  std::size_t imageBytesLeft_;      // of the drawing
  std::size_t pageImageBytesLeft_ = 0;
  std::vector<XForm> xFormStack_;
  std::vector<XForm> textFormStack_;
  std::vector<TextBlockStyle> textBlockStyleStack_;
  std::vector<LineStyle> lineStyleStack_;
  std::vector<FillStyle> fillStyleStack_;
  std::map<std::string, std::string> textSpanDic_;
  double path_x = 0, path_y = 0, path_originalX = 0, path_originalY = 0;
  bool path_noFill = false, path_noLine = false, path_noShow = false;
  std::vector<std::string> textArry_;
  std::vector<double> heightArry_;
  double m_x = 0, m_y = 0, m_width = 0, m_height = 0;
  double m_xorigin = 0, m_yorigin = 0, m_xmiddle = 0, m_ymiddle = 0;
  double m_angle = 0;  // degrees
  bool m_isRotated = false;
  std::string m_fontName;
  double m_fontHeight = 0;  // points
  double m_foreignWidth = 0, m_foreignHeight = 0, m_foreignOffsetX = 0, m_foreignOffsetY = 0;
};

// Renders every page of `src` into the page files "<index>.svg" of `workFolder`, after posting
// the page count with `caller`. Answers 1 and sets `pageCount`, or -1 when the package or its
// pages part cannot be read.
int loadVSDXFile(const std::filesystem::path& src, const std::filesystem::path& workFolder, const void* caller,
                 int& pageCount);

}  // namespace diagramkit
