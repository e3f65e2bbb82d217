// The catalogue's converter and extractor factories, beside the classes they make.

#include "core/ProductInfo.h"
#include "modules/export/XVConverter.h"
#include "modules/export/XVExtract.h"

std::shared_ptr<ConverterInterface> ProductInfo::converterInterface(const Format& format, const QString& converterFormat) {
  (void)converterFormat;
  // RTFD is made again from the Works or WordPerfect source; this build has no such exporter.
  if (format.formatName() == QLatin1String("RTFD")) return nullptr;
  return XVConverter::converterWithFormat(format);
}

std::shared_ptr<ConverterInterface> ProductInfo::converterInterface(const Format& format) {
  return XVConverter::converterWithFormat(format);
}

std::shared_ptr<ExtractInterface> ProductInfo::ExtractInterface(const Format& format) {
  return XVExtract::extractWithFormat(format);
}
