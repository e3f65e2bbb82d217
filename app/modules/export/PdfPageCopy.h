#pragma once
// Places pages of PDF files into a new PDF through qpdf: each page's content, resources,
// boxes and annotations are copied as they are (vector, lossless, text stays text). Kept in
// its own unit for qpdf's headers.

#include <memory>
#include <string>

namespace exportpdf {

class PdfPageCopy {
 public:
  PdfPageCopy();
  ~PdfPageCopy();
  PdfPageCopy(const PdfPageCopy&) = delete;
  PdfPageCopy& operator=(const PdfPageCopy&) = delete;

  // Opens a source file; answers its handle (>= 0), or -1 with `error` set.
  int openSource(const std::string& path, std::string* error);
  // Page count of an opened source.
  int pageCount(int source) const;
  // Appends page `index` of `source`, turned by `extraRotation` degrees (a multiple of 90) on
  // top of its own /Rotate. Answers "" or why it failed.
  std::string addPage(int source, int index, int extraRotation);
  int outputPageCount() const;
  // Writes the new document to `path` and reads it back. Answers "" or why it failed.
  std::string write(const std::string& path);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace exportpdf
