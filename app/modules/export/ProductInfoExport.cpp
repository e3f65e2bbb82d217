// The catalogue's converter and extractor factories, beside the classes they make.

#include <QHash>

#include <mutex>

#include "core/ProductInfo.h"
#include "modules/export/XVConverter.h"
#include "modules/export/XVExtract.h"

namespace {

struct SourceConverters {
  std::mutex mutex;
  QHash<QString, ProductInfo::SourceConverterMaker> makers;
};

SourceConverters& sourceConverters() {
  static auto* s = new SourceConverters();
  return *s;
}

}  // namespace

void ProductInfo::registerSourceConverter(const QString& formatName, SourceConverterMaker maker) {
  auto& s = sourceConverters();
  std::lock_guard lock(s.mutex);
  s.makers.insert(formatName, std::move(maker));
}

std::shared_ptr<ConverterInterface> ProductInfo::converterInterface(const Format& format, const QString& converterFormat) {
  // RTFD is made again from the source file, by the kit that reads it.
  SourceConverterMaker maker;
  {
    auto& s = sourceConverters();
    std::lock_guard lock(s.mutex);
    maker = s.makers.value(format.formatName());
  }
  if (maker) return maker(format, converterFormat);
  if (format.formatName() == QLatin1String("RTFD")) return nullptr;
  return XVConverter::converterWithFormat(format);
}

std::shared_ptr<ConverterInterface> ProductInfo::converterInterface(const Format& format) {
  return XVConverter::converterWithFormat(format);
}

std::shared_ptr<ExtractInterface> ProductInfo::ExtractInterface(const Format& format) {
  return XVExtract::extractWithFormat(format);
}
