#include "modules/works/WPDModul.h"

void WPDModul::registerModul() {
  DocumentModul::registerModuleClass(Kind::WordPerfect, [](const QString& path) { return std::make_shared<WPDModul>(path); });
}

std::shared_ptr<QFWpdConverter> WPDModul::converter() const {
  std::lock_guard lock(converterMutex_);
  return converter_;
}

void WPDModul::startConverter() {
  prompt_->reset();
  auto converter = QFWpdConverter::converterWithType(format());
  {
    std::lock_guard lock(converterMutex_);
    converter_ = converter;
  }
  converter->setDelegate(std::shared_ptr<QFWpdConverterDelegate>(shared_from_this(), this));
  converter->start();
}

void WPDModul::cancelConverter() {
  if (auto c = converter()) c->cancel();
  prompt_->cancel();
}

std::optional<std::string> WPDModul::QFWpdConverterDelegate_password(QFWpdConverter*) { return prompt_->askUtf8(); }

void WPDModul::QFWpdConverterDelegate_converterStart(QFWpdConverter*) { converterStarted(); }

void WPDModul::QFWpdConverterDelegate_converterProcess(double progress, QFWpdConverter*) { converterProgress(progress); }

void WPDModul::QFWpdConverterDelegate_converterEnd(int32_t code, std::shared_ptr<QFExportObject> exportObject,
                                                   QFWpdConverter*) {
  converterEnded(code, exportObject);
}
