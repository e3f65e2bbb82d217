#pragma once
// Appending the pages of printed PDF files to an output PDF.

#include <cstddef>
#include <filesystem>
#include <memory>
#include <string>

// The output PDF being assembled. Pages are kept in memory; close() writes the file to a
// temporary name in the same folder and renames it into place.
class PDFContext {
 public:
  explicit PDFContext(std::filesystem::path outPath);
  ~PDFContext();
  PDFContext(const PDFContext&) = delete;
  PDFContext& operator=(const PDFContext&) = delete;

  int pageCount() const;
  // Writes the output once; answers false (and leaves no file) when it cannot.
  bool close(std::string* error = nullptr);

 private:
  friend class MakePDF;
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

class MakePDF {
 public:
  // A sheet after the first of a printed file is dropped when, written alone as a PDF, it is
  // smaller than this: an empty sheet. The first sheet is always kept.
  static constexpr std::size_t kEmptySheetBytes = 4000;

  // Appends the pages of the PDF at `fromPath` to `ctx`, each with its media box and its URI
  // link annotations. Page data is copied at once, so the file may be rewritten afterwards.
  // Answers false (appending nothing) when the file is missing or cannot be read.
  static bool addToPdf(PDFContext& ctx, const std::filesystem::path& fromPath, std::string* error = nullptr);

  // Writes to `toPDF` the first `retainPages` pages of `src` (capped at its page count), each
  // with its media box and links, without the empty-sheet rule.
  static bool changePDF(const std::filesystem::path& src, int retainPages, const std::filesystem::path& toPDF,
                        std::string* error = nullptr);
};
