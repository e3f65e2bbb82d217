// The catalogue's converter and extractor factories, beside the classes they make.

#include "core/ProductInfo.h"
#include "core/XVBaseFunction.h"
#include "modules/export/RTFDConverter.h"
#include "modules/export/XVConverter.h"
#include "modules/export/XVExtract.h"

std::shared_ptr<ConverterInterface> ProductInfo::converterInterface(const Format& format, const QString& converterFormat) {
  // RTFD is made again from the source file, by the kit that reads it.
  if (format.formatName() == QLatin1String("RTFD")) {
    if (XVBaseFunction::stringInArray(converterFormat, WPDSupportImportFilesExtension()))
      return WVConverter::converterWithFormat(format);
    return WPVConverter::converterWithFormat(format);
  }
  return XVConverter::converterWithFormat(format);
}

std::shared_ptr<ConverterInterface> ProductInfo::converterInterface(const Format& format) {
  return XVConverter::converterWithFormat(format);
}

std::shared_ptr<ExtractInterface> ProductInfo::ExtractInterface(const Format& format) {
  return XVExtract::extractWithFormat(format);
}
