#include "diagramkit/engine/Metafiles.h"

#include <cairo.h>
#include <librsvg/rsvg.h>
#include <libwmf/api.h>
#include <libwmf/eps.h>
#include <libwmf/gd.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <mutex>
#include <thread>
#include <vector>

#include "diagramkit/emf/emf.h"
#include "diagramkit/emf/objects.h"
#include "diagramkit/engine/PageFile.h"
#include "diagramkit/engine/RenderThread.h"
#include "platform/foundation/log.h"

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kLog = "diagramkit";
// A WMF is drawn at 72 dpi, but never wider or taller than this many pixels.
constexpr double kMaxPngSide = 4096;

void logLine(foundation::LogLevel level, const std::string& text) { foundation::log(level, kLog, text); }

// A new file that was not there before, or null.
std::FILE* createNew(const fs::path& path) {
  std::FILE* f = std::fopen(path.c_str(), "wbx");
  if (f == nullptr) logLine(foundation::LogLevel::Warning, "not written (exists or cannot be made): " + path.string());
  return f;
}

// libwmf keeps font state of its own: one conversion at a time.
std::mutex& wmfMutex() {
  static std::mutex m;
  return m;
}

// One libwmf player on one device; the metafile is scanned for its bounds.
class WmfPlayer {
 public:
  WmfPlayer(const fs::path& wmf, void (*device)(wmfAPI*)) {
    wmfAPI_Options options{};
    options.function = device;
    const unsigned long flags = WMF_OPT_FUNCTION | WMF_OPT_IGNORE_NONFATAL | WMF_OPT_NO_ERROR | WMF_OPT_NO_DEBUG;
    if (wmf_api_create(&api_, flags, &options) != wmf_E_None) {
      if (api_ != nullptr) wmf_api_destroy(api_);
      api_ = nullptr;
      return;
    }
    if (wmf_file_open(api_, wmf.c_str()) != wmf_E_None) return;
    opened_ = true;
    ok_ = wmf_scan(api_, 0, &bbox_) == wmf_E_None;
  }
  ~WmfPlayer() {
    if (api_ == nullptr) return;
    if (opened_) wmf_file_close(api_);
    wmf_api_destroy(api_);
  }
  WmfPlayer(const WmfPlayer&) = delete;
  WmfPlayer& operator=(const WmfPlayer&) = delete;

  bool ok() const { return api_ != nullptr && ok_; }
  wmfAPI* api() const { return api_; }
  const wmfD_Rect& bbox() const { return bbox_; }
  bool play() { return wmf_play(api_, 0, &bbox_) == wmf_E_None; }

 private:
  wmfAPI* api_ = nullptr;
  bool opened_ = false;
  bool ok_ = false;
  wmfD_Rect bbox_{};
};

bool writeEps(const fs::path& wmf, const fs::path& eps) {
  WmfPlayer player(wmf, wmf_eps_function);
  if (!player.ok()) return false;
  std::FILE* out = createNew(eps);
  if (out == nullptr) return false;
  wmf_eps_t* data = WMF_EPS_GetData(player.api());
  data->bbox = player.bbox();
  data->out = wmf_stream_create(player.api(), out);
  bool ok = data->out != nullptr && player.play();
  // The stream belongs to the player's memory, released with it; the file is ours to close.
  ok = std::fclose(out) == 0 && ok;
  if (!ok) fs::remove(eps);
  return ok;
}

bool writePng(const fs::path& wmf, const fs::path& png) {
  WmfPlayer player(wmf, wmf_gd_function);
  if (!player.ok()) return false;
  wmf_gd_t* data = WMF_GD_GetData(player.api());
  if ((data->flags & WMF_GD_SUPPORTS_PNG) == 0) return false;
  unsigned int width = 0;
  unsigned int height = 0;
  double dpi = 72;
  if (wmf_display_size(player.api(), &width, &height, dpi, dpi) != wmf_E_None || width == 0 || height == 0)
    return false;
  if (width > kMaxPngSide || height > kMaxPngSide) {
    dpi *= kMaxPngSide / std::max(width, height);
    if (wmf_display_size(player.api(), &width, &height, dpi, dpi) != wmf_E_None || width == 0 || height == 0)
      return false;
  }
  std::FILE* out = createNew(png);
  if (out == nullptr) return false;
  data->type = wmf_gd_png;
  data->flags |= WMF_GD_OUTPUT_FILE;
  data->file = out;
  data->width = width;
  data->height = height;
  data->bbox = player.bbox();
  bool ok = player.play();
  ok = std::fclose(out) == 0 && ok;
  if (!ok) fs::remove(png);
  return ok;
}

struct RsvgHandleFree {
  void operator()(RsvgHandle* h) const { g_object_unref(h); }
};
using SvgHandle = std::unique_ptr<RsvgHandle, RsvgHandleFree>;

SvgHandle loadSvg(const std::string& text) {
  GError* error = nullptr;
  RsvgHandle* h = rsvg_handle_new_from_data(reinterpret_cast<const guint8*>(text.data()), text.size(), &error);
  if (error != nullptr) {
    logLine(foundation::LogLevel::Warning, std::string("SVG not loaded: ") + error->message);
    g_error_free(error);
  }
  if (h != nullptr) rsvg_handle_set_dpi(h, 72.0);
  return SvgHandle(h);
}

// The SVG's size in points, at least 1 x 1.
bool svgSize(RsvgHandle* h, double* width, double* height) {
  gdouble w = 0;
  gdouble hh = 0;
  if (!rsvg_handle_get_intrinsic_size_in_pixels(h, &w, &hh) || !std::isfinite(w) || !std::isfinite(hh)) return false;
  *width = std::max(1.0, w);
  *height = std::max(1.0, hh);
  return true;
}

std::string readAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void putLE(std::vector<unsigned char>& out, std::uint32_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<unsigned char>(v >> (8 * i)));
}

// A 24-bit bottom-up BMP of an ARGB32 surface, composited on white.
bool writeBmp(cairo_surface_t* surface, const fs::path& path) {
  const int w = cairo_image_surface_get_width(surface);
  const int h = cairo_image_surface_get_height(surface);
  const int stride = cairo_image_surface_get_stride(surface);
  const unsigned char* px = cairo_image_surface_get_data(surface);
  const std::uint32_t row = static_cast<std::uint32_t>((w * 3 + 3) & ~3);
  const std::uint32_t imageBytes = row * static_cast<std::uint32_t>(h);
  std::vector<unsigned char> out;
  out.reserve(54 + imageBytes);
  out.push_back('B');
  out.push_back('M');
  putLE(out, 54 + imageBytes, 4);
  putLE(out, 0, 4);
  putLE(out, 54, 4);
  putLE(out, 40, 4);
  putLE(out, static_cast<std::uint32_t>(w), 4);
  putLE(out, static_cast<std::uint32_t>(h), 4);
  putLE(out, 1, 2);
  putLE(out, 24, 2);
  putLE(out, 0, 4);
  putLE(out, imageBytes, 4);
  putLE(out, 2835, 4);
  putLE(out, 2835, 4);
  putLE(out, 0, 4);
  putLE(out, 0, 4);
  for (int y = h - 1; y >= 0; --y) {
    const auto* line = reinterpret_cast<const std::uint32_t*>(px + static_cast<std::ptrdiff_t>(y) * stride);
    for (int x = 0; x < w; ++x) {
      const std::uint32_t p = line[x];  // premultiplied ARGB
      const unsigned a = p >> 24;
      for (int shift = 0; shift <= 16; shift += 8) out.push_back(static_cast<unsigned char>(((p >> shift) & 0xFF) + (255 - a)));
    }
    for (std::uint32_t pad = static_cast<std::uint32_t>(w) * 3; pad < row; ++pad) out.push_back(0);
  }
  std::FILE* f = createNew(path);
  if (f == nullptr) return false;
  bool ok = std::fwrite(out.data(), 1, out.size(), f) == out.size();
  ok = std::fclose(f) == 0 && ok;
  if (!ok) fs::remove(path);
  return ok;
}

}  // namespace

bool wmf2jpg(const fs::path& wmf, const fs::path& eps, const fs::path& png) {
  std::lock_guard lock(wmfMutex());
  if (!writeEps(wmf, eps)) {
    logLine(foundation::LogLevel::Warning, "WMF not converted: " + wmf.string());
    return false;
  }
  if (!writePng(wmf, png)) logLine(foundation::LogLevel::Warning, "no PNG for " + wmf.string());
  return true;
}

int emf2svg(const char* emf, const char* svg) {
  // One lock across read, write and delete: no other conversion can reuse the handle meanwhile.
  std::lock_guard<std::recursive_mutex> lock(EMF::libraryMutex());
  const HENHMETAFILE handle = GetEnhMetaFileA(emf);
  int result = 0;
  if (std::FILE* out = createNew(svg)) {
    result = handle != 0 ? outputEnhMetaFile(out, handle) : 0;
    if (std::fclose(out) != 0) result = 0;
  }
  if (handle != 0) {
    DeleteEnhMetaFile(handle);
    DeleteDC(handle);
  }
  return result;
}

EMF2PDF::EMF2PDF(fs::path srcFile, fs::path desFile, std::atomic<bool>* isOver)
    : srcFile_(std::move(srcFile)), desFile_(std::move(desFile)), isOver_(isOver) {}

void EMF2PDF::createSVG() {
  svgFile_ = desFile_;
  svgFile_.replace_extension("svg");
  emf2svg(srcFile_.c_str(), svgFile_.c_str());
}

void EMF2PDF::createPDF() {
  createSVG();
  const bool queued = diagramkit::postRender([svg = svgFile_, pdf = desFile_, done = isOver_] {
    const std::string text = readAll(svg);
    double width = 0;
    double height = 0;
    SvgHandle h = loadSvg(text);
    std::string error;
    if (!h || !svgSize(h.get(), &width, &height) || !diagramkit::renderPageSVG(text, width, height, pdf, &error))
      logLine(foundation::LogLevel::Warning, "no PDF from " + svg.string() + (error.empty() ? "" : ": " + error));
    if (done != nullptr) done->store(true);
  });
  if (!queued) {
    logLine(foundation::LogLevel::Warning, "no render thread for " + svgFile_.string());
    if (isOver_ != nullptr) isOver_->store(true);
  }
}

bool emf2jpg(const fs::path& emf, const fs::path& pdf, const fs::path& image) {
  if (diagramkit::isRenderThread()) return false;
  std::atomic<bool> done{false};
  EMF2PDF converter = EMF2PDF::initWithSrc(emf, pdf, &done);
  converter.createPDF();
  while (!done.load()) std::this_thread::sleep_for(std::chrono::milliseconds(2));
  if (!fs::exists(pdf)) return false;
  SvgHandle h = loadSvg(readAll(converter.svgFile()));
  double width = 0;
  double height = 0;
  if (!h || !svgSize(h.get(), &width, &height)) return false;
  const int w = static_cast<int>(std::ceil(std::min(width, kMaxPngSide)));
  const int hh = static_cast<int>(std::ceil(std::min(height, kMaxPngSide)));
  cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, hh);
  cairo_t* cr = cairo_create(surface);
  const RsvgRectangle viewport{0, 0, static_cast<double>(w), static_cast<double>(hh)};
  const bool drawn = rsvg_handle_render_document(h.get(), cr, &viewport, nullptr) != FALSE;
  cairo_destroy(cr);
  cairo_surface_flush(surface);
  const bool ok = drawn && cairo_surface_status(surface) == CAIRO_STATUS_SUCCESS && writeBmp(surface, image);
  cairo_surface_destroy(surface);
  return ok;
}
