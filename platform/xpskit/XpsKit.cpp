#include "platform/xpskit/XpsKit.h"

#include <cairo-pdf.h>
#include <cairo.h>
#include <libgxps/gxps.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>

#include "platform/foundation/cairo_font_lock.h"
#include "platform/foundation/log.h"
#include "platform/foundation/worker_threads.h"
#include "platform/xpskit/XpsMarkup.h"
#include "platform/xpskit/XpsPackage.h"

namespace xpskit {

namespace {

// XPS lengths are in 1/96 inch, PDF lengths in 1/72 inch.
constexpr double kPointsPerXpsUnit = 72.0 / 96.0;

// libgxps keeps process-wide state without locks of its own: one FreeType library for the fonts
// of every package and one cache of the font faces made from them. cairo finishes those faces
// on whichever thread lets go of their last scaled font. Every call into libgxps, every release
// of one of its objects and all drawing into and finishing of our cairo surfaces hold the
// process-wide cairo font lock, which the other roads that draw text through cairo hold too.
std::mutex& fontMutex() { return foundation::cairoFontMutex(); }

void logLine(foundation::LogLevel level, const std::string& line) { foundation::log(level, "xpskit", line); }

std::string takeError(GError* error, const char* fallback) {
  std::string s = error && error->message ? error->message : fallback;
  if (error) g_error_free(error);
  return s;
}

// A new empty file named after `pattern` (ending in XXXXXX), private unless `mode` says
// otherwise; empty on failure.
std::string makeTempFile(std::string pattern, mode_t mode = 0600) {
  const int fd = ::mkstemp(pattern.data());
  if (fd < 0) return {};
  if (mode != 0600) ::fchmod(fd, mode);
  ::close(fd);
  return pattern;
}

}  // namespace

struct QFXpsDocument::Impl {
  GXPSFile* file = nullptr;
  std::vector<GXPSDocument*> documents;
  std::string repacked;  // the private re-packed copy, removed with the document
  ~Impl() {
    {
      std::lock_guard lock(fontMutex());
      for (GXPSDocument* d : documents) g_object_unref(d);
      if (file) g_object_unref(file);
    }
    if (!repacked.empty()) std::remove(repacked.c_str());
  }
};

namespace {

// Opens the package at `path` and its fixed documents into `impl`. False with the reason when
// libgxps cannot read the package (impl.file stays null) or one of its documents.
bool openPackage(const std::string& path, QFXpsDocument::Impl& impl, std::string* why) {
  std::lock_guard lock(fontMutex());
  GFile* gfile = g_file_new_for_path(path.c_str());
  GError* gerror = nullptr;
  impl.file = gxps_file_new(gfile, &gerror);
  g_object_unref(gfile);
  if (!impl.file) {
    *why = takeError(gerror, "no package");
    return false;
  }
  const guint n = gxps_file_get_n_documents(impl.file);
  for (guint i = 0; i < n; ++i) {
    gerror = nullptr;
    GXPSDocument* d = gxps_file_get_document(impl.file, i, &gerror);
    if (!d) {
      *why = "A fixed document cannot be read (" + takeError(gerror, "no document") + ")";
      return false;
    }
    impl.documents.push_back(d);
  }
  return true;
}

}  // namespace

std::shared_ptr<QFXpsConverterFormat> QFXpsConverterFormat::formatWithType(int type) {
  if (type != 0) return nullptr;
  return std::shared_ptr<QFXpsConverterFormat>(new QFXpsConverterFormat(type));
}

// ---- document -----------------------------------------------------------------------------

QFXpsDocument::QFXpsDocument(std::string path, std::unique_ptr<Impl> impl) : path_(std::move(path)), impl_(std::move(impl)) {}
QFXpsDocument::~QFXpsDocument() = default;

std::shared_ptr<QFXpsDocument> QFXpsDocument::documentWithPath(const std::string& path, std::string* error) {
  auto fail = [&](const std::string& why) -> std::shared_ptr<QFXpsDocument> {
    logLine(foundation::LogLevel::Warning, "cannot open " + path + ": " + why);
    if (error) *error = why;
    return nullptr;
  };
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec)) return fail("The file does not exist");
  auto impl = std::make_unique<Impl>();
  std::string readPath = path;
  std::string repackError;
  if (zipHasDataDescriptors(path)) {
    impl->repacked = makeTempFile((std::filesystem::temp_directory_path(ec) / "lectern-xps-XXXXXX").string());
    if (impl->repacked.empty()) return fail("No temporary file for the package");
    if (repackZip(path, impl->repacked, &repackError)) {
      readPath = impl->repacked;
    } else {
      // libgxps reads the entries in the order they are stored and may manage without.
      std::remove(impl->repacked.c_str());
      impl->repacked.clear();
      logLine(foundation::LogLevel::Info, path + " cannot be re-packed (" + repackError + "); read as it is");
    }
  }
  // Markup on which libgxps would stop the process is read from a copy where it is made safe.
  const std::string safeCopy = makeTempFile((std::filesystem::temp_directory_path(ec) / "lectern-xps-XXXXXX").string());
  if (safeCopy.empty()) return fail("No temporary file for the package");
  std::string why;
  switch (repairMarkup(readPath, safeCopy, &why)) {
    case MarkupRepair::NotNeeded:
      std::remove(safeCopy.c_str());
      break;
    case MarkupRepair::Repaired:
      if (!impl->repacked.empty()) std::remove(impl->repacked.c_str());
      impl->repacked = readPath = safeCopy;
      logLine(foundation::LogLevel::Warning, path + ": markup that cannot be drawn safely is cut short");
      break;
    case MarkupRepair::Failed:
      std::remove(safeCopy.c_str());
      return fail("The package holds markup that cannot be read safely (" + why + ")");
  }
  if (!openPackage(readPath, *impl, &why)) {
    if (impl->file) return fail(why);
    return fail(repackError.empty() ? "Not an XPS document (" + why + ")" : "The package cannot be read (" + repackError + ")");
  }
  return std::shared_ptr<QFXpsDocument>(new QFXpsDocument(path, std::move(impl)));
}

int QFXpsDocument::pageCount() const {
  std::lock_guard lock(fontMutex());
  int n = 0;
  for (GXPSDocument* d : impl_->documents) n += static_cast<int>(gxps_document_get_n_pages(d));
  return n;
}

std::shared_ptr<QFXpsConverterSource> QFXpsConverterSource::converterSourceWithDocument(std::shared_ptr<QFXpsDocument> document) {
  if (!document) return nullptr;
  return std::shared_ptr<QFXpsConverterSource>(new QFXpsConverterSource(std::move(document)));
}

// ---- param --------------------------------------------------------------------------------

std::shared_ptr<QFXpsConverterParam> QFXpsConverterParam::paramWithFormat(std::shared_ptr<QFXpsConverterFormat> format) {
  return std::shared_ptr<QFXpsConverterParam>(new QFXpsConverterParam(std::move(format)));
}

void QFXpsConverterParam::setDelegate(std::weak_ptr<QFXpsConverterDelegate> delegate) {
  std::lock_guard lock(mutex_);
  delegate_ = std::move(delegate);
}

std::shared_ptr<QFXpsConverterDelegate> QFXpsConverterParam::delegate() const {
  std::lock_guard lock(mutex_);
  return delegate_.lock();
}

void QFXpsConverterParam::setOutPath(const std::string& path) {
  std::lock_guard lock(mutex_);
  outPath_ = path;
}

std::string QFXpsConverterParam::outPath() const {
  std::lock_guard lock(mutex_);
  return outPath_;
}

void QFXpsConverterParam::addConverterSource(std::shared_ptr<QFXpsConverterSource> source) {
  if (!source) return;
  std::lock_guard lock(mutex_);
  sources_.push_back(std::move(source));
}

std::vector<std::shared_ptr<QFXpsConverterSource>> QFXpsConverterParam::sources() const {
  std::lock_guard lock(mutex_);
  return sources_;
}

// ---- converter ----------------------------------------------------------------------------

namespace {

// Adds page `index` of `doc` to the PDF `surface`: as libgxps draws it or, when libgxps cannot
// read or draw the page, blank at the page's size with the reason in `why`. A page is drawn
// onto a recording first, so that nothing of a page that fails half-way reaches the PDF. False
// (with the reason) only when the PDF itself fails.
bool drawPage(GXPSDocument* doc, guint index, cairo_surface_t* surface, std::string* why) {
  why->clear();
  std::lock_guard lock(fontMutex());
  GError* gerror = nullptr;
  GXPSPage* page = gxps_document_get_page(doc, index, &gerror);
  gdouble w = 0, h = 0;
  if (page) gxps_page_get_size(page, &w, &h);
  // A page without a usable size of its own takes the document's, else US letter.
  const auto usable = [](double v) { return v > 0 && std::isfinite(v); };
  if (!(usable(w) && usable(h)) && (!gxps_document_get_page_size(doc, index, &w, &h) || !(usable(w) && usable(h)))) {
    w = 816;
    h = 1056;
  }
  cairo_surface_t* recording = nullptr;
  if (page) {
    const cairo_rectangle_t extents{0, 0, w * kPointsPerXpsUnit, h * kPointsPerXpsUnit};
    recording = cairo_recording_surface_create(CAIRO_CONTENT_COLOR_ALPHA, &extents);
    cairo_t* cr = cairo_create(recording);
    cairo_scale(cr, kPointsPerXpsUnit, kPointsPerXpsUnit);
    const bool rendered = gxps_page_render(page, cr, &gerror);
    const cairo_status_t status = cairo_status(cr);
    cairo_destroy(cr);
    g_object_unref(page);
    if (!rendered) {
      *why = takeError(gerror, "cannot be drawn");
    } else if (status != CAIRO_STATUS_SUCCESS) {
      *why = cairo_status_to_string(status);
    }
  } else {
    *why = takeError(gerror, "cannot be read");
  }
  cairo_pdf_surface_set_size(surface, w * kPointsPerXpsUnit, h * kPointsPerXpsUnit);
  cairo_t* cr = cairo_create(surface);
  if (recording && why->empty()) {
    cairo_set_source_surface(cr, recording, 0, 0);
    cairo_paint(cr);
  }
  cairo_show_page(cr);
  const cairo_status_t status = cairo_status(cr);
  cairo_destroy(cr);
  if (recording) cairo_surface_destroy(recording);
  if (status != CAIRO_STATUS_SUCCESS) {
    *why = cairo_status_to_string(status);
    return false;
  }
  return true;
}

// Finishes and releases the PDF surface; its status.
cairo_status_t finishSurface(cairo_surface_t* surface) {
  std::lock_guard lock(fontMutex());
  cairo_surface_finish(surface);
  const cairo_status_t status = cairo_surface_status(surface);
  cairo_surface_destroy(surface);
  return status;
}

// One line naming the pages drawn blank: "a.xps: pages 2, 5 of 7 cannot be drawn and are left
// blank (page 2: why; page 5: why)".
std::string blankPagesMessage(const std::vector<std::shared_ptr<QFXpsConverterSource>>& sources, int pages,
                              const std::vector<std::pair<int, std::string>>& blank) {
  std::string from, numbers, reasons;
  for (const auto& source : sources) from += (from.empty() ? "" : ", ") + source->document()->path();
  for (const auto& [page, why] : blank) {
    numbers += (numbers.empty() ? "" : ", ") + std::to_string(page);
    reasons += (reasons.empty() ? "page " : "; page ") + std::to_string(page) + ": " + why;
  }
  const bool one = blank.size() == 1;
  return from + (one ? ": page " : ": pages ") + numbers + " of " + std::to_string(pages) +
         (one ? " cannot be drawn and is left blank (" : " cannot be drawn and are left blank (") + reasons + ")";
}

}  // namespace

std::shared_ptr<QFXpsConverter> QFXpsConverter::converterWithParam(std::shared_ptr<QFXpsConverterParam> param) {
  if (!param) return nullptr;
  return std::shared_ptr<QFXpsConverter>(new QFXpsConverter(std::move(param)));
}

QFXpsConverter::~QFXpsConverter() {
  // The last reference may be dropped by the conversion itself, as it ends: then the registry
  // joins its thread later.
  if (worker_) worker_->join();
}

bool QFXpsConverter::start() {
  // The conversion may end, and its delegate drop the last other reference, before the thread
  // object is stored.
  const auto keep = shared_from_this();
  auto delegate = param_->delegate();
  std::unique_lock lock(mutex_);
  if (started_) return false;
  started_ = true;
  worker_ = foundation::WorkerThreads::start("xps", [self = shared_from_this(), delegate]() mutable {
    if (delegate) delegate->QFXpsConverterDelegate_converterStart(self.get());
    std::string error;
    int32_t code = QFXpsConverterEndFailed;
    try {
      code = self->convert(delegate.get(), &error);
    } catch (const std::exception& e) {
      error = std::string("The conversion stopped (") + e.what() + ")";
      logLine(foundation::LogLevel::Error, error);
    }
    const std::string out = self->param_->outPath();
    {
      std::lock_guard l(self->mutex_);
      self->errorInfo_ = error;
    }
    if (delegate) {
      delegate->QFXpsConverterDelegate_converterEnd(code, code == QFXpsConverterEndComplete ? out.c_str() : nullptr,
                                                    self.get());
    }
    delegate.reset();
    self.reset();
  });
  if (!worker_) {
    errorInfo_ = "No conversion thread";
    lock.unlock();
    if (delegate) delegate->QFXpsConverterDelegate_converterEnd(QFXpsConverterEndFailed, nullptr, this);
  }
  return true;
}

void QFXpsConverter::cancel() { cancelled_ = true; }

void QFXpsConverter::wait() {
  std::shared_ptr<foundation::Worker> worker;
  {
    std::lock_guard lock(mutex_);
    worker = worker_;
  }
  if (worker) worker->join();
}

std::string QFXpsConverter::errorInfo() const {
  std::lock_guard lock(mutex_);
  return errorInfo_;
}

int32_t QFXpsConverter::convert(QFXpsConverterDelegate* delegate, std::string* error) {
  const std::string out = param_->outPath();
  const auto sources = param_->sources();
  if (out.empty()) {
    *error = "No output path";
    return QFXpsConverterEndFailed;
  }
  if (sources.empty()) {
    *error = "The XPS document cannot be opened";
    return QFXpsConverterEndFailed;
  }
  int total = 0;
  for (const auto& s : sources) total += s->document()->pageCount();
  if (total == 0) {
    *error = "The XPS document has no pages";
    return QFXpsConverterEndFailed;
  }

  // The result is readable as a file written in place would be.
  const std::string temp = makeTempFile(out + ".part-XXXXXX", 0644);
  if (temp.empty()) {
    *error = "Cannot write beside " + out;
    return QFXpsConverterEndFailed;
  }
  cairo_surface_t* surface = cairo_pdf_surface_create(temp.c_str(), 612, 792);
  auto abandon = [&](int32_t code) {
    finishSurface(surface);
    std::remove(temp.c_str());
    return code;
  };
  if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) {
    *error = cairo_status_to_string(cairo_surface_status(surface));
    return abandon(QFXpsConverterEndFailed);
  }

  int done = 0;
  int drawn = 0;
  std::vector<std::pair<int, std::string>> blank;  // the pages drawn blank (from 1) and why
  for (const auto& source : sources) {
    for (GXPSDocument* doc : source->document()->impl()->documents) {
      guint pages = 0;
      {
        std::lock_guard lock(fontMutex());
        pages = gxps_document_get_n_pages(doc);
      }
      for (guint p = 0; p < pages; ++p) {
        if (cancelled_) {
          *error = "Cancelled";
          return abandon(QFXpsConverterEndCancelled);
        }
        ++done;
        std::string why;
        if (!drawPage(doc, p, surface, &why)) {
          *error = why;
          return abandon(QFXpsConverterEndFailed);
        }
        if (why.empty()) {
          ++drawn;
        } else {
          blank.emplace_back(done, why);
        }
        if (delegate) delegate->QFXpsConverterDelegate_converterProcess(done * 100.0 / total, this);
      }
    }
  }
  if (drawn == 0) {
    *error = "No page can be drawn (" + blank.front().second + ")";
    return abandon(QFXpsConverterEndFailed);
  }
  const cairo_status_t status = finishSurface(surface);
  if (status != CAIRO_STATUS_SUCCESS) {
    std::remove(temp.c_str());
    *error = cairo_status_to_string(status);
    return QFXpsConverterEndFailed;
  }
  std::error_code ec;
  std::filesystem::rename(temp, out, ec);
  if (ec) {
    std::remove(temp.c_str());
    *error = "Cannot write " + out + ": " + ec.message();
    return QFXpsConverterEndFailed;
  }
  if (!blank.empty()) logLine(foundation::LogLevel::Warning, blankPagesMessage(sources, done, blank));
  return QFXpsConverterEndComplete;
}

}  // namespace xpskit
