#include "modules/works/WPSModul.h"

void WPSModul::registerModul() {
  DocumentModul::registerModuleClass(Kind::Works, [](const QString& path) { return std::make_shared<WPSModul>(path); });
}

std::shared_ptr<QFWpsConverter> WPSModul::converter() const {
  std::lock_guard lock(converterMutex_);
  return converter_;
}

void WPSModul::startConverter() {
  auto converter = QFWpsConverter::converterWithType(format());
  {
    std::lock_guard lock(converterMutex_);
    converter_ = converter;
  }
  converter->setDelegate(std::shared_ptr<QFWpsConverterDelegate>(shared_from_this(), this));
  converter->start();
}

void WPSModul::cancelConverter() {
  if (auto c = converter()) c->cancel();
}

void WPSModul::QFWpsConverterDelegate_converterStart(QFWpsConverter*) { converterStarted(); }

void WPSModul::QFWpsConverterDelegate_converterProcess(double progress, QFWpsConverter*) { converterProgress(progress); }

void WPSModul::QFWpsConverterDelegate_converterEnd(int32_t code, std::shared_ptr<QFExportObject> exportObject,
                                                   QFWpsConverter*) {
  converterEnded(code, exportObject);
}
