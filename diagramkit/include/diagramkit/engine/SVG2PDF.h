#pragma once
// Visio drawing to PDF. Each page of the drawing becomes one SVG page file in a private work
// folder, is rendered onto a one-page PDF and appended to the output.
//
// Progress and the end are posted on foundation::NotificationCenter::defaultCenter() with the
// caller as sender:
//   VSD_ALL_PAGE_NOTI  once the page count is known, on the thread that called createPDF();
//                      user info VSD_ALL_PAGE_NUM -> int
//   END_VSD_PAGE_NOTI  after each page was appended, on the main queue (pages are rendered on
//                      the engine's render thread, never on the main queue);
//                      user info END_VSD_PAGE_NUM -> int (pages done, 1-based)
//   END_VSD_FILE_NOTI  exactly once, at the end: on the main queue after pages, on the calling
//                      thread when the drawing could not be loaded. The output PDF is complete
//                      (written and closed) exactly when the last END_VSD_PAGE_NOTI carried the
//                      announced page count; otherwise no output file is written.

#include <filesystem>
#include <memory>
#include <string>

#include "diagramkit/engine/export.h"

inline const std::string VSD_ALL_PAGE_NOTI = "VSD ALL PAGE NOTI";
inline const std::string END_VSD_PAGE_NOTI = "END VSD PAGE NOTI";
inline const std::string END_VSD_FILE_NOTI = "END VSD FILE NOTI";
inline const std::string VSD_ALL_PAGE_NUM = "VSD ALL PAGE NUM";
inline const std::string END_VSD_PAGE_NUM = "END VSD PAGE NUM";

class PDFContext;

class SVG2PDF : public std::enable_shared_from_this<SVG2PDF> {
  struct Passkey {};

 public:
  // Prepares a converter of `src` into the PDF `toDes`, reporting with `caller` as sender (not
  // owned; only compared by observers), and makes its private work folder. The converter keeps itself alive from createPDF() until it
  // has posted END_VSD_FILE_NOTI, so the creator may drop it.
  DIAGRAMKIT_EXPORT static std::shared_ptr<SVG2PDF> initWithSrc(const std::filesystem::path& src, const std::filesystem::path& toDes,
                                              const void* caller);

  SVG2PDF(Passkey, std::filesystem::path src, std::filesystem::path toDes, const void* caller);
  DIAGRAMKIT_EXPORT ~SVG2PDF();
  SVG2PDF(const SVG2PDF&) = delete;
  SVG2PDF& operator=(const SVG2PDF&) = delete;

  // Loads every page and writes the page files on the calling thread, then queues page 0 on
  // the main queue and returns; from there each page is rendered on the render thread and
  // reported on the main queue. Runs once; later calls are ignored.
  DIAGRAMKIT_EXPORT void createPDF();

  // The work folder (empty when it could not be made). It is removed when the end is posted.
  const std::filesystem::path& tempPath() const { return workFolder_; }

 private:
  int loadVSDFile();
  void loadFinished();
  void initPrintInfo();
  void loadSVGData();
  void printPage();
  void pageFailed(const std::string& why);
  void endConversion();
  void removeWorkFolder();

  std::filesystem::path srcFile_;
  std::filesystem::path desFile_;
  const void* caller_;
  std::filesystem::path workFolder_;  // the page files; removed at the end
  int pageIndex_ = 0;
  int pageCount_ = 0;
  bool started_ = false;
  bool ended_ = false;
  bool workFolderRemoved_ = false;
  double paperWidth_ = 0;
  double paperHeight_ = 0;
  std::unique_ptr<PDFContext> ctx_;
};

// Posts VSD_ALL_PAGE_NOTI / END_VSD_PAGE_NOTI / END_VSD_FILE_NOTI on the calling thread.
DIAGRAMKIT_EXPORT void setVSDPageNum(int count, const void* caller);
DIAGRAMKIT_EXPORT void setEndPageVSD2PDFNoti(int pagesDone, const void* caller);
DIAGRAMKIT_EXPORT void setEndFileVSD2PDFNoti(const void* caller);

// The number of SVG pages libvisio gives for the file (stencils included), or 0.
DIAGRAMKIT_EXPORT int getVSDFilePageNum(const std::filesystem::path& src);
// Whether libvisio recognises the file as a Visio drawing.
DIAGRAMKIT_EXPORT bool isSupport(const std::filesystem::path& src);
