#include "platform/xpskit/XpsKit.h"

#include <cairo-pdf.h>
#include <cairo.h>
#include <libgxps/gxps.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "platform/foundation/log.h"
#include "platform/xpskit/XpsPackage.h"

namespace xpskit {

namespace {

// XPS lengths are in 1/96 inch, PDF lengths in 1/72 inch.
constexpr double kPointsPerXpsUnit = 72.0 / 96.0;

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
    for (GXPSDocument* d : documents) g_object_unref(d);
    if (file) g_object_unref(file);
    if (!repacked.empty()) std::remove(repacked.c_str());
  }
};

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
  if (zipHasDataDescriptors(path)) {
    impl->repacked = makeTempFile((std::filesystem::temp_directory_path(ec) / "lectern-xps-XXXXXX").string());
    if (impl->repacked.empty()) return fail("No temporary file for the package");
    std::string why;
    if (!repackZip(path, impl->repacked, &why)) return fail("The package cannot be read (" + why + ")");
    readPath = impl->repacked;
  }
  GFile* gfile = g_file_new_for_path(readPath.c_str());
  GError* gerror = nullptr;
  impl->file = gxps_file_new(gfile, &gerror);
  g_object_unref(gfile);
  if (!impl->file) return fail("Not an XPS document (" + takeError(gerror, "no package") + ")");
  const guint n = gxps_file_get_n_documents(impl->file);
  for (guint i = 0; i < n; ++i) {
    gerror = nullptr;
    GXPSDocument* d = gxps_file_get_document(impl->file, i, &gerror);
    if (!d) return fail("A fixed document cannot be read (" + takeError(gerror, "no document") + ")");
    impl->documents.push_back(d);
  }
  return std::shared_ptr<QFXpsDocument>(new QFXpsDocument(path, std::move(impl)));
}

int QFXpsDocument::pageCount() const {
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

std::shared_ptr<QFXpsConverter> QFXpsConverter::converterWithParam(std::shared_ptr<QFXpsConverterParam> param) {
  if (!param) return nullptr;
  return std::shared_ptr<QFXpsConverter>(new QFXpsConverter(std::move(param)));
}

QFXpsConverter::~QFXpsConverter() {
  if (!thread_.joinable()) return;
  // The last reference may be dropped by the conversion itself, as it ends.
  if (thread_.get_id() == std::this_thread::get_id()) {
    thread_.detach();
  } else {
    thread_.join();
  }
}

bool QFXpsConverter::start() {
  // The conversion may end, and its delegate drop the last other reference, before the thread
  // object is stored.
  const auto keep = shared_from_this();
  auto delegate = param_->delegate();
  std::unique_lock lock(mutex_);
  if (started_) return false;
  started_ = true;
  try {
    thread_ = std::thread([self = shared_from_this(), delegate]() mutable {
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
  } catch (const std::system_error& e) {
    errorInfo_ = e.what();
    lock.unlock();
    logLine(foundation::LogLevel::Error, std::string("cannot start a conversion thread: ") + e.what());
    if (delegate) delegate->QFXpsConverterDelegate_converterEnd(QFXpsConverterEndFailed, nullptr, this);
  }
  return true;
}

void QFXpsConverter::cancel() { cancelled_ = true; }

void QFXpsConverter::wait() {
  std::thread t;
  {
    std::lock_guard lock(mutex_);
    if (!thread_.joinable() || thread_.get_id() == std::this_thread::get_id()) return;
    t = std::move(thread_);
  }
  t.join();
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
    cairo_surface_finish(surface);
    cairo_surface_destroy(surface);
    std::remove(temp.c_str());
    return code;
  };
  if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) {
    *error = cairo_status_to_string(cairo_surface_status(surface));
    return abandon(QFXpsConverterEndFailed);
  }

  int done = 0;
  for (const auto& source : sources) {
    for (GXPSDocument* doc : source->document()->impl()->documents) {
      const guint pages = gxps_document_get_n_pages(doc);
      for (guint p = 0; p < pages; ++p) {
        if (cancelled_) {
          *error = "Cancelled";
          return abandon(QFXpsConverterEndCancelled);
        }
        GError* gerror = nullptr;
        GXPSPage* page = gxps_document_get_page(doc, p, &gerror);
        if (!page) {
          *error = "Page " + std::to_string(done + 1) + ": " + takeError(gerror, "cannot be read");
          return abandon(QFXpsConverterEndFailed);
        }
        gdouble w = 0, h = 0;
        gxps_page_get_size(page, &w, &h);
        if (!(w > 0 && h > 0)) {
          // No size of its own: the document's, else US letter.
          if (!gxps_document_get_page_size(doc, p, &w, &h) || !(w > 0 && h > 0)) {
            w = 816;
            h = 1056;
          }
        }
        cairo_pdf_surface_set_size(surface, w * kPointsPerXpsUnit, h * kPointsPerXpsUnit);
        cairo_t* cr = cairo_create(surface);
        cairo_scale(cr, kPointsPerXpsUnit, kPointsPerXpsUnit);
        const bool rendered = gxps_page_render(page, cr, &gerror);
        cairo_show_page(cr);
        const cairo_status_t status = cairo_status(cr);
        cairo_destroy(cr);
        g_object_unref(page);
        if (!rendered) {
          *error = "Page " + std::to_string(done + 1) + ": " + takeError(gerror, "cannot be rendered");
          return abandon(QFXpsConverterEndFailed);
        }
        if (status != CAIRO_STATUS_SUCCESS) {
          *error = cairo_status_to_string(status);
          return abandon(QFXpsConverterEndFailed);
        }
        ++done;
        if (delegate) delegate->QFXpsConverterDelegate_converterProcess(done * 100.0 / total, this);
      }
    }
  }
  cairo_surface_finish(surface);
  const cairo_status_t status = cairo_surface_status(surface);
  cairo_surface_destroy(surface);
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
  return QFXpsConverterEndComplete;
}

}  // namespace xpskit
