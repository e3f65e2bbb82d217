#include "platform/djvukit/DjvuKit.h"

#include <libdjvu/ddjvuapi.h>
#include <libdjvu/miniexp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <vector>

#include "platform/djvukit/PdfWriter.h"
#include "platform/foundation/log.h"
#include "platform/foundation/worker_threads.h"

namespace djvukit {

namespace {

constexpr int kJpegQuality = 75;
// A rendered page above this is refused rather than allocated (a 600 dpi A0 colour page is
// about 1.7 GB).
constexpr double kMaxPageBytes = 1.0e9;

void logLine(foundation::LogLevel level, const std::string& line) { foundation::log(level, "djvukit", line); }

std::u32string fromUtf8(const char* s) {
  std::u32string out;
  const auto* p = reinterpret_cast<const unsigned char*>(s);
  while (*p) {
    char32_t c = *p;
    int extra = 0;
    if (c >= 0xF0) { c &= 0x07; extra = 3; }
    else if (c >= 0xE0) { c &= 0x0F; extra = 2; }
    else if (c >= 0xC0) { c &= 0x1F; extra = 1; }
    else if (c >= 0x80) { c = 0xFFFD; }
    ++p;
    for (int i = 0; i < extra; ++i) {
      if ((*p & 0xC0) != 0x80) { c = 0xFFFD; break; }
      c = (c << 6) | (*p++ & 0x3F);
    }
    out.push_back(c);
  }
  return out;
}

// The first line of a djvulibre message, without its leading "[id] " tag or closing stop.
std::string plainMessage(const char* message) {
  std::string s = message;
  s = s.substr(0, s.find('\n'));
  if (!s.empty() && s.front() == '[') {
    const size_t end = s.find("] ");
    if (end != std::string::npos) s.erase(0, end + 2);
  }
  while (!s.empty() && (s.back() == '.' || s.back() == ' ')) s.pop_back();  // it goes inside a sentence
  return s;
}

// One conversion's djvulibre context, document and the errors it reported.
class Session {
 public:
  Session() : context_(ddjvu_context_create("lectern")) {}
  ~Session() {
    if (document_) ddjvu_document_release(document_);
    if (context_) ddjvu_context_release(context_);
  }
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  ddjvu_context_t* context() const { return context_; }
  ddjvu_document_t* document() const { return document_; }
  void setDocument(ddjvu_document_t* d) { document_ = d; }

  void drain() {
    while (const ddjvu_message_t* m = ddjvu_message_peek(context_)) {
      if (m->m_any.tag == DDJVU_ERROR && m->m_error.message && lastError_.empty()) lastError_ = plainMessage(m->m_error.message);
      ddjvu_message_pop(context_);
    }
  }
  void waitForMessage() {
    ddjvu_message_wait(context_);
    drain();
  }
  std::string reason(const std::string& fallback) const { return lastError_.empty() ? fallback : fallback + " (" + lastError_ + ")"; }

 private:
  ddjvu_context_t* context_ = nullptr;
  ddjvu_document_t* document_ = nullptr;
  std::string lastError_;
};

// The leaves of a text expression (words, or lines where the text goes no deeper), in page
// pixels from the bottom left corner.
void collectWords(miniexp_t node, double scale, std::vector<PdfWord>* words) {
  if (!miniexp_consp(node)) return;
  miniexp_t box[4];
  for (int i = 0; i < 4; ++i) {
    box[i] = miniexp_nth(i + 1, node);
    if (!miniexp_numberp(box[i])) return;
  }
  miniexp_t rest = miniexp_cddr(miniexp_cdddr(node));
  if (miniexp_stringp(miniexp_car(rest)) && miniexp_cdr(rest) == miniexp_nil) {
    PdfWord w;
    w.text = fromUtf8(miniexp_to_str(miniexp_car(rest)));
    w.x0 = miniexp_to_int(box[0]) * scale;
    w.y0 = miniexp_to_int(box[1]) * scale;
    w.x1 = miniexp_to_int(box[2]) * scale;
    w.y1 = miniexp_to_int(box[3]) * scale;
    // Leading and trailing blanks carry no glyphs of their own.
    while (!w.text.empty() && (w.text.back() == U' ' || w.text.back() == U'\n')) w.text.pop_back();
    if (!w.text.empty()) words->push_back(std::move(w));
    return;
  }
  for (; miniexp_consp(rest); rest = miniexp_cdr(rest)) collectWords(miniexp_car(rest), scale, words);
}

bool writePage(Session& s, int index, PdfWriter& pdf, std::string* error) {
  const std::string what = "Page " + std::to_string(index + 1);
  // Asking for the page's information first reports a page that cannot be reached.
  ddjvu_pageinfo_t info;
  ddjvu_status_t status;
  while ((status = ddjvu_document_get_pageinfo(s.document(), index, &info)) < DDJVU_JOB_OK) s.waitForMessage();
  s.drain();
  if (status >= DDJVU_JOB_FAILED) {
    *error = s.reason(what + " cannot be read");
    return false;
  }
  ddjvu_page_t* page = ddjvu_page_create_by_pageno(s.document(), index);
  if (!page) {
    *error = s.reason(what + " cannot be read");
    return false;
  }
  while (!ddjvu_page_decoding_done(page)) s.waitForMessage();
  s.drain();
  if (ddjvu_page_decoding_error(page)) {
    ddjvu_page_release(page);
    *error = s.reason(what + " cannot be read");
    return false;
  }
  // Rendered upright, so that the text layer's coordinates fit the image; the page's own
  // rotation (counter-clockwise) becomes the PDF page's (clockwise).
  const int rotation = (4 - static_cast<int>(ddjvu_page_get_initial_rotation(page))) % 4 * 90;
  ddjvu_page_set_rotation(page, DDJVU_ROTATE_0);
  const int width = ddjvu_page_get_width(page);
  const int height = ddjvu_page_get_height(page);
  int dpi = ddjvu_page_get_resolution(page);
  if (dpi <= 0) dpi = 300;
  if (width <= 0 || height <= 0) {
    ddjvu_page_release(page);
    *error = what + " has no size";
    return false;
  }
  const bool bitonal = ddjvu_page_get_type(page) == DDJVU_PAGETYPE_BITONAL;
  const double bytes = (bitonal ? (width + 7) / 8 : width * 3.0) * height;
  if (bytes > kMaxPageBytes) {
    ddjvu_page_release(page);
    *error = what + " is too large to convert";
    return false;
  }
  ddjvu_format_t* format = bitonal ? ddjvu_format_create(DDJVU_FORMAT_MSBTOLSB, 0, nullptr)
                                   : ddjvu_format_create(DDJVU_FORMAT_RGB24, 0, nullptr);
  ddjvu_format_set_row_order(format, 1);
  ddjvu_format_set_y_direction(format, 1);
  const size_t rowBytes = bitonal ? (static_cast<size_t>(width) + 7) / 8 : static_cast<size_t>(width) * 3;
  std::vector<unsigned char> pixels(rowBytes * static_cast<size_t>(height));
  ddjvu_rect_t rect{0, 0, static_cast<unsigned>(width), static_cast<unsigned>(height)};
  const int rendered = ddjvu_page_render(page, bitonal ? DDJVU_RENDER_MASKONLY : DDJVU_RENDER_COLOR, &rect, &rect,
                                         format, static_cast<unsigned long>(rowBytes), reinterpret_cast<char*>(pixels.data()));
  ddjvu_format_release(format);
  ddjvu_page_release(page);
  s.drain();

  PdfImage image;
  image.width = width;
  image.height = height;
  bool encoded = false;
  if (!rendered) {
    // Nothing to draw (an empty page): white.
    std::fill(pixels.begin(), pixels.end(), bitonal ? 0x00 : 0xFF);
  }
  if (bitonal) {
    image.kind = PdfImage::Kind::CcittG4;
    encoded = encodeCcittG4(pixels.data(), width, height, static_cast<int>(rowBytes), &image.data);
  } else {
    // A page without colour is written as grey.
    bool grey = true;
    for (size_t i = 0; i + 2 < pixels.size() && grey; i += 3) grey = pixels[i] == pixels[i + 1] && pixels[i] == pixels[i + 2];
    if (grey) {
      for (size_t i = 0, n = pixels.size() / 3; i < n; ++i) pixels[i] = pixels[i * 3];
      image.kind = PdfImage::Kind::JpegGray;
      encoded = encodeJpeg(pixels.data(), width, height, 1, kJpegQuality, &image.data);
    } else {
      image.kind = PdfImage::Kind::JpegRgb;
      encoded = encodeJpeg(pixels.data(), width, height, 3, kJpegQuality, &image.data);
    }
  }
  if (!encoded) {
    *error = what + " cannot be encoded";
    return false;
  }

  const double scale = 72.0 / dpi;
  std::vector<PdfWord> words;
  miniexp_t text;
  while ((text = ddjvu_document_get_pagetext(s.document(), index, "word")) == miniexp_dummy) s.waitForMessage();
  if (text != miniexp_nil) collectWords(text, scale, &words);
  ddjvu_miniexp_release(s.document(), text);

  if (!pdf.addPage(width * scale, height * scale, rotation, image, words)) {
    *error = "Cannot write " + what;
    return false;
  }
  return true;
}

}  // namespace

bool convertDjvuToPdf(const std::string& source, const std::string& destination, const ConversionCallbacks& callbacks,
                      std::string* error) {
  std::string why;
  auto fail = [&](const std::string& reason) {
    logLine(foundation::LogLevel::Warning, source + ": " + reason);
    if (error) *error = reason;
    return false;
  };
  std::error_code ec;
  if (!std::filesystem::is_regular_file(source, ec)) return fail("The file does not exist");
  Session s;
  if (!s.context()) return fail("The DjVu decoder cannot be started");
  s.setDocument(ddjvu_document_create_by_filename_utf8(s.context(), source.c_str(), 1));
  if (!s.document()) {
    s.drain();
    return fail(s.reason("Not a DjVu document"));
  }
  while (!ddjvu_document_decoding_done(s.document())) s.waitForMessage();
  s.drain();
  if (ddjvu_document_decoding_error(s.document())) return fail(s.reason("Not a DjVu document"));
  const int pages = ddjvu_document_get_pagenum(s.document());
  if (pages <= 0) return fail("The document has no pages");

  // Removed unless it became the destination, also when a page throws.
  struct TempFile {
    std::string path;
    bool kept = false;
    ~TempFile() {
      if (!kept && !path.empty()) std::remove(path.c_str());
    }
  } temp{destination + ".part-XXXXXX"};
  const int fd = ::mkstemp(temp.path.data());
  if (fd < 0) {
    temp.path.clear();
    return fail("Cannot write beside " + destination);
  }
  ::fchmod(fd, 0644);  // readable as a file written in place would be
  ::close(fd);
  PdfWriter pdf;
  if (!pdf.open(temp.path)) return fail("Cannot write " + temp.path);
  if (callbacks.pageCount) callbacks.pageCount(pages);
  for (int i = 0; i < pages; ++i) {
    if (!writePage(s, i, pdf, &why)) {
      pdf.abandon();
      return fail(why);
    }
    if (callbacks.pageDone) callbacks.pageDone(i + 1);
  }
  if (!pdf.finish()) return fail("Cannot write " + destination);
  std::filesystem::rename(temp.path, destination, ec);
  if (ec) return fail("Cannot write " + destination + ": " + ec.message());
  temp.kept = true;
  return true;
}

// ---- the asynchronous converter -----------------------------------------------------------

std::shared_ptr<DjvuKit> DjvuKit::create() { return std::shared_ptr<DjvuKit>(new DjvuKit()); }

DjvuKit::~DjvuKit() {
  // On the conversion's own thread (it let go last) the registry joins it later.
  if (worker_) worker_->join();
}

void DjvuKit::setDelegate(std::weak_ptr<DjvuKitDelegate> delegate) {
  std::lock_guard lock(mutex_);
  delegate_ = std::move(delegate);
}

bool DjvuKit::DjvuToPDFSrc(const std::string& src, const std::string& Des) {
  // The conversion may end, and its delegate drop the last other reference, before the thread
  // object is stored.
  const auto keep = shared_from_this();
  std::unique_lock lock(mutex_);
  if (started_) return false;
  started_ = true;
  auto delegate = delegate_.lock();
  std::function<void()> run = [delegate, src, Des] {
    ConversionCallbacks callbacks;
    if (delegate) {
      callbacks.pageCount = [&](int32_t n) { delegate->getAllPageNum(n); };
      callbacks.pageDone = [&](int32_t k) { delegate->getCurrentPageNum(k); };
    }
    std::string error;
    bool ok = false;
    try {
      ok = convertDjvuToPdf(src, Des, callbacks, &error);
    } catch (const std::exception& e) {
      // Out of memory for a page, most likely; the temporary file is gone with the stack.
      error = std::string("The conversion stopped (") + e.what() + ")";
      logLine(foundation::LogLevel::Error, src + ": " + error);
    }
    if (!delegate) return;
    if (ok) {
      delegate->endDjVuPageNoti();
    } else {
      delegate->sendErrorInfo(error);
    }
  };
  worker_ = foundation::WorkerThreads::start("djvu", [self = shared_from_this(), run]() mutable {
    run();
    run = nullptr;
    self.reset();
  });
  if (!worker_) {
    lock.unlock();
    if (delegate) delegate->sendErrorInfo("No conversion thread");
  }
  return true;
}

void DjvuKit::wait() {
  std::shared_ptr<foundation::Worker> worker;
  {
    std::lock_guard lock(mutex_);
    worker = worker_;
  }
  if (worker) worker->join();
}

}  // namespace djvukit
