#include "modules/export/RTFDConverters.h"

#include "core/ProductInfo.h"
#include "core/XVBaseFunction.h"
#include "modules/export/RTFDConverter.h"

void registerRTFDConverters() {
  ProductInfo::registerSourceConverter(QStringLiteral("RTFD"), [](const Format& format, const QString& sourceExtension)
                                                                   -> std::shared_ptr<ConverterInterface> {
    if (XVBaseFunction::stringInArray(sourceExtension, ProductInfo::WPDSupportImportFilesExtension()))
      return WVConverter::converterWithFormat(format);
    return WPVConverter::converterWithFormat(format);
  });
}
