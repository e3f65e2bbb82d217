#pragma once
// Converts an XPS package into a PDF as the XPS module does, waiting for the end.

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/xpskit/XpsKit.h"

namespace testsupport {

// The ends a conversion sent, and how many pages it reported.
struct XpsEndRecorder : xpskit::QFXpsConverterDelegate {
  std::mutex mutex;
  std::vector<int32_t> ends;
  std::atomic<int> pages{0};
  void QFXpsConverterDelegate_converterProcess(double, xpskit::QFXpsConverter*) override { ++pages; }
  void QFXpsConverterDelegate_converterEnd(int32_t code, const void*, xpskit::QFXpsConverter*) override {
    std::lock_guard l(mutex);
    ends.push_back(code);
  }
};

// Opens and converts `source` into `out`; answers the end codes.
inline std::vector<int32_t> convertXps(const std::string& source, const std::string& out) {
  using namespace xpskit;
  auto recorder = std::make_shared<XpsEndRecorder>();
  auto param = QFXpsConverterParam::paramWithFormat(QFXpsConverterFormat::formatWithType(0));
  param->setDelegate(recorder);
  param->setOutPath(out);
  if (auto doc = QFXpsDocument::documentWithPath(source))
    param->addConverterSource(QFXpsConverterSource::converterSourceWithDocument(doc));
  auto converter = QFXpsConverter::converterWithParam(param);
  converter->start();
  converter->wait();
  std::lock_guard l(recorder->mutex);
  return recorder->ends;
}

}  // namespace testsupport
