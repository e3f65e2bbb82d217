#include "diagramkit/engine/SVG2PDF.h"

#include <libvisio/libvisio.h>
#include <librevenge-stream/librevenge-stream.h>
#include <librevenge/librevenge.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <exception>
#include <system_error>
#include <utility>

#include "diagramkit/engine/MakePDF.h"
#include "diagramkit/engine/PageFile.h"
#include "diagramkit/engine/PageGenerator.h"
#include "diagramkit/engine/PageSimplify.h"
#include "diagramkit/engine/RenderThread.h"
#include "diagramkit/engine/VSDXRenderer.h"
#include "platform/foundation/dispatcher.h"
#include "platform/foundation/log.h"
#include "platform/foundation/notification_center.h"

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kLog = "diagramkit";
// Paper of a first page whose SVG gives no usable size: US Letter.
constexpr double kDefaultPaperWidth = 612.0;
constexpr double kDefaultPaperHeight = 792.0;

void logLine(foundation::LogLevel level, const std::string& text) { foundation::log(level, kLog, text); }

enum class Generation { Ok, Failed, Empty };

// The drawing's pages as SVG; a stencil or template without pages gives its masters.
Generation generatePages(const fs::path& src, librevenge::RVNGStringVector& pages) {
  bool ok = false;
  {
    librevenge::RVNGFileStream stream(src.c_str());
    diagramkit::PageGenerator generator(pages, "svg");
    ok = libvisio::VisioDocument::parse(&stream, &generator);
  }
  if (ok && !pages.empty()) return Generation::Ok;
  pages.clear();
  librevenge::RVNGFileStream stream(src.c_str());
  diagramkit::PageGenerator generator(pages, "svg");
  const bool stencilsOk = libvisio::VisioDocument::parseStencils(&stream, &generator);
  if (!ok && !stencilsOk) return Generation::Failed;
  return pages.empty() ? Generation::Empty : Generation::Ok;
}

bool supported(const fs::path& src) {
  librevenge::RVNGFileStream stream(src.c_str());
  return libvisio::VisioDocument::isSupported(&stream);
}

// A folder only this user can enter, shared by this user's conversions.
fs::path userWorkRoot(std::string& error) {
  std::error_code ec;
  fs::path tmp = fs::temp_directory_path(ec);
  if (ec) tmp = "/tmp";
  const fs::path root = tmp / ("diagramkit-" + std::to_string(::getuid()));
  if (::mkdir(root.c_str(), 0700) != 0 && errno != EEXIST) {
    error = "cannot create " + root.string() + ": " + std::generic_category().message(errno);
    return {};
  }
  struct stat st {};
  if (::lstat(root.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::getuid() ||
      (st.st_mode & 077) != 0) {
    error = root.string() + " is not a private folder of this user";
    return {};
  }
  return root;
}

// The source's name reduced to a short, safe prefix of the work folder's name.
std::string folderPrefix(const fs::path& src) {
  std::string stem = src.stem().string();
  std::string out;
  for (char c : stem) {
    const bool safe = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
                      c == '_' || c == '.';
    out += safe ? c : '_';
    if (out.size() >= 48) break;
  }
  if (out.empty() || out[0] == '.') out.insert(out.begin(), '_');
  return out;
}

fs::path makeWorkFolder(const fs::path& src, std::string& error) {
  const fs::path root = userWorkRoot(error);
  if (root.empty()) return {};
  std::string tmpl = (root / (folderPrefix(src) + "-XXXXXX")).string();
  if (::mkdtemp(tmpl.data()) == nullptr) {
    error = "cannot create a work folder in " + root.string() + ": " + std::generic_category().message(errno);
    return {};
  }
  return tmpl;
}

fs::path pageFilePath(const fs::path& folder, int index) { return folder / (std::to_string(index) + ".svg"); }

}  // namespace

void setVSDPageNum(int count, const void* caller) {
  foundation::NotificationCenter::defaultCenter().post(VSD_ALL_PAGE_NOTI, caller, {{VSD_ALL_PAGE_NUM, count}});
}

void setEndPageVSD2PDFNoti(int pagesDone, const void* caller) {
  foundation::NotificationCenter::defaultCenter().post(END_VSD_PAGE_NOTI, caller, {{END_VSD_PAGE_NUM, pagesDone}});
}

void setEndFileVSD2PDFNoti(const void* caller) {
  foundation::NotificationCenter::defaultCenter().post(END_VSD_FILE_NOTI, caller);
}

int getVSDFilePageNum(const fs::path& src) {
  try {
    if (!supported(src)) return 0;
    librevenge::RVNGStringVector pages;
    return generatePages(src, pages) == Generation::Ok ? static_cast<int>(pages.size()) : 0;
  } catch (const std::exception& e) {
    logLine(foundation::LogLevel::Error, std::string("page count failed: ") + e.what());
    return 0;
  }
}

bool isSupport(const fs::path& src) {
  try {
    return supported(src);
  } catch (const std::exception&) {
    return false;
  }
}

std::shared_ptr<SVG2PDF> SVG2PDF::initWithSrc(const fs::path& src, const fs::path& toDes, const void* caller) {
  return std::make_shared<SVG2PDF>(Passkey{}, src, toDes, caller);
}

SVG2PDF::SVG2PDF(Passkey, fs::path src, fs::path toDes, const void* caller)
    : srcFile_(std::move(src)), desFile_(std::move(toDes)), caller_(caller) {
  logLine(foundation::LogLevel::Debug, "converting " + srcFile_.string());
  std::string error;
  workFolder_ = makeWorkFolder(srcFile_, error);
  if (workFolder_.empty()) logLine(foundation::LogLevel::Error, error);
}

SVG2PDF::~SVG2PDF() { removeWorkFolder(); }

void SVG2PDF::createPDF() {
  if (started_) {
    logLine(foundation::LogLevel::Warning, "a converter runs once: " + srcFile_.string());
    return;
  }
  started_ = true;
  const std::shared_ptr<SVG2PDF> keepAlive = shared_from_this();
  int loaded = -1;
  if (!workFolder_.empty()) {
    try {
      if (diagramkit::usesOwnVSDXRenderer(srcFile_)) {
        pageIndex_ = 0;
        loaded = diagramkit::loadVSDXFile(srcFile_, workFolder_, caller_, pageCount_);
      } else {
        loaded = loadVSDFile();
      }
    } catch (const std::exception& e) {
      logLine(foundation::LogLevel::Error, std::string("ERROR: ") + e.what());
    }
  }
  if (loaded > 0) {
    try {
      initPrintInfo();
      foundation::Dispatcher::postMain([self = shared_from_this()] { self->loadSVGData(); });
      return;
    } catch (const std::exception& e) {
      logLine(foundation::LogLevel::Error, std::string("ERROR: ") + e.what());
      ctx_.reset();
    }
  }
  loadFinished();
}

int SVG2PDF::loadVSDFile() {
  pageIndex_ = 0;
  if (!supported(srcFile_)) return -1;
  librevenge::RVNGStringVector pages;
  switch (generatePages(srcFile_, pages)) {
    case Generation::Failed:
      logLine(foundation::LogLevel::Error, "ERROR: SVG Generation failed!");
      return -1;
    case Generation::Empty:
      logLine(foundation::LogLevel::Error, "ERROR: No SVG document generated!");
      return -1;
    case Generation::Ok:
      break;
  }
  const int n = static_cast<int>(pages.size());
  setVSDPageNum(n, caller_);
  for (int i = 0; i < n; ++i) {
    const librevenge::RVNGString& page = pages[static_cast<unsigned>(i)];
    if (!diagramkit::writePageFile(pageFilePath(workFolder_, i), std::string_view(page.cstr(), page.size()))) {
      logLine(foundation::LogLevel::Error, "cannot write " + pageFilePath(workFolder_, i).string());
    }
  }
  pageCount_ = n;
  return 1;
}

void SVG2PDF::loadFinished() {
  logLine(foundation::LogLevel::Debug, "ending the conversion of " + srcFile_.string() + " without pages");
  endConversion();
}

void SVG2PDF::initPrintInfo() {
  paperWidth_ = kDefaultPaperWidth;
  paperHeight_ = kDefaultPaperHeight;
  ctx_ = std::make_unique<PDFContext>(desFile_);
}

void SVG2PDF::loadSVGData() {
  if (pageIndex_ >= pageCount_) {
    endConversion();
    return;
  }
  // The main queue paces the pages: the next one is rendered once the last one was reported.
  if (!diagramkit::postRender([self = shared_from_this()] { self->printPage(); })) pageFailed("no render thread runs");
}

void SVG2PDF::printPage() {
  try {
    std::string error;
    auto page = diagramkit::readPageFile(pageFilePath(workFolder_, pageIndex_), &error);
    if (!page) {
      pageFailed(error);
      return;
    }
    if (page->width && page->height) {
      paperWidth_ = *page->width;
      paperHeight_ = *page->height;
    }
    const fs::path scratch = workFolder_ / "temp.pdf";
    diagramkit::simplifyPage(page->svg);
    if (!diagramkit::renderPageSVG(page->svg, paperWidth_, paperHeight_, scratch, &error) ||
        !MakePDF::addToPdf(*ctx_, scratch, &error)) {
      pageFailed(error);
      return;
    }
    // The output is written before the last page is reported, so a full count means a file.
    if (pageIndex_ + 1 == pageCount_) {
      if (!ctx_->close(&error)) {
        pageFailed(error);
        return;
      }
      // Cleared here, so the main queue has nothing heavy left to do at the end.
      ctx_.reset();
      removeWorkFolder();
    }
    const int done = ++pageIndex_;
    foundation::Dispatcher::postMain([self = shared_from_this(), done] {
      setEndPageVSD2PDFNoti(done, self->caller_);
      self->loadSVGData();
    });
  } catch (const std::exception& e) {
    pageFailed(e.what());
  }
}

void SVG2PDF::pageFailed(const std::string& why) {
  logLine(foundation::LogLevel::Error,
          "page " + std::to_string(pageIndex_ + 1) + " of " + srcFile_.string() + " failed: " + why);
  ctx_.reset();
  removeWorkFolder();
  foundation::Dispatcher::postMain([self = shared_from_this()] { self->endConversion(); });
}

void SVG2PDF::endConversion() {
  if (ended_) return;
  ended_ = true;
  ctx_.reset();
  removeWorkFolder();
  setEndFileVSD2PDFNoti(caller_);
}

void SVG2PDF::removeWorkFolder() {
  // Once only: after removal, mkdtemp may hand the same name to another conversion.
  if (workFolder_.empty() || workFolderRemoved_) return;
  workFolderRemoved_ = true;
  std::error_code ec;
  fs::remove_all(workFolder_, ec);
  if (ec) logLine(foundation::LogLevel::Warning, "cannot remove " + workFolder_.string() + ": " + ec.message());
}
