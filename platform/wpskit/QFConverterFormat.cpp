#include "platform/wpskit/QFConverterFormat.h"

std::shared_ptr<QFConverterFormat> QFConverterFormat::formatWithType(int32_t type, const QString& FilePath) {
  return std::shared_ptr<QFConverterFormat>(new QFConverterFormat(type, FilePath));
}
