#include <pango/pangocairo.h>

#include <cmath>
#include <mutex>

#include "diagramkit/engine/TextMeasurer.h"
#include "platform/foundation/cairo_font_lock.h"

namespace diagramkit {

namespace {

constexpr const char* kDefaultFamily = "Sans";
constexpr double kDefaultPointSize = 12.0;

class PangoTextMeasurer final : public TextMeasurer {
 public:
  PangoTextMeasurer() : fontMap_(pango_cairo_font_map_new()), context_(pango_font_map_create_context(fontMap_)) {
    // Points and device units agree at 72 dpi.
    pango_cairo_context_set_resolution(context_, 72.0);
  }
  ~PangoTextMeasurer() override {
    std::lock_guard fonts(foundation::cairoFontMutex());
    g_object_unref(context_);
    g_object_unref(fontMap_);
  }
  PangoTextMeasurer(const PangoTextMeasurer&) = delete;
  PangoTextMeasurer& operator=(const PangoTextMeasurer&) = delete;

  TextSize measure(std::string_view text, const std::string& fontName, double pointSize) override {
    const bool byDefault = fontName.empty();
    const double size = byDefault ? kDefaultPointSize : pointSize;
    // A font of no size draws nothing.
    if (!(size > 0) || !std::isfinite(size)) return {};
    std::lock_guard fonts(foundation::cairoFontMutex());
    PangoFontDescription* font = pango_font_description_new();
    pango_font_description_set_family(font, byDefault ? kDefaultFamily : fontName.c_str());
    pango_font_description_set_absolute_size(font, size * PANGO_SCALE);
    PangoLayout* layout = pango_layout_new(context_);
    pango_layout_set_font_description(layout, font);
    pango_layout_set_text(layout, text.data(), static_cast<int>(text.size()));
    PangoRectangle logical{};
    pango_layout_get_extents(layout, nullptr, &logical);
    const int baseline = pango_layout_get_baseline(layout);
    g_object_unref(layout);
    pango_font_description_free(font);
    return {static_cast<double>(logical.width) / PANGO_SCALE, static_cast<double>(logical.height) / PANGO_SCALE,
            static_cast<double>(baseline) / PANGO_SCALE};
  }

 private:
  PangoFontMap* fontMap_;
  PangoContext* context_;
};

}  // namespace

std::unique_ptr<TextMeasurer> makePangoTextMeasurer() { return std::make_unique<PangoTextMeasurer>(); }

}  // namespace diagramkit
