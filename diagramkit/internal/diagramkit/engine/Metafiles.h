#pragma once
// The metafile converters of the VSDX pre-processor, and two converters nothing in the
// application calls (emf2jpg and EMF2PDF).
//
// No converter overwrites a file: a companion whose name is taken is not written.

#include <atomic>
#include <filesystem>
#include <string>

// WMF -> EPS (libwmf's EPS device) and PNG (its gd device). Answers whether the EPS was
// written; without an EPS no PNG is written either.
bool wmf2jpg(const std::filesystem::path& wmf, const std::filesystem::path& eps, const std::filesystem::path& png);

// EMF -> SVG through the EMF library, serialised with every other use of it. The metafile is
// deleted afterwards. Answers 1 when the SVG was written, 0 otherwise (an EMF that cannot be
// read leaves an empty SVG file).
int emf2svg(const char* emf, const char* svg);

// One-page EMF -> PDF: the SVG of the EMF beside `desFile` (its extension replaced by "svg"),
// rendered on the engine's render thread onto a page of the SVG's size. The flag is set once
// the PDF was written or has failed.
class EMF2PDF {
 public:
  EMF2PDF(std::filesystem::path srcFile, std::filesystem::path desFile, std::atomic<bool>* isOver);
  static EMF2PDF initWithSrc(const std::filesystem::path& src, const std::filesystem::path& toDes,
                             std::atomic<bool>* isOver) {
    return EMF2PDF(src, toDes, isOver);
  }

  // Writes the SVG on the calling thread and queues the page; returns at once. Must not be
  // waited for on the render thread.
  void createPDF();
  void createSVG();

  const std::filesystem::path& srcFile() const { return srcFile_; }
  const std::filesystem::path& desFile() const { return desFile_; }
  const std::filesystem::path& svgFile() const { return svgFile_; }

 private:
  std::filesystem::path srcFile_;
  std::filesystem::path desFile_;
  std::filesystem::path svgFile_;
  std::atomic<bool>* isOver_;
};

// EMF -> SVG -> PDF (EMF2PDF) -> the first page as a 24-bit BMP at 72 dpi, drawn from the SVG
// the page was printed from. Waits for the PDF; must not be called on the render thread.
// Answers whether the image was written.
bool emf2jpg(const std::filesystem::path& emf, const std::filesystem::path& pdf, const std::filesystem::path& image);
