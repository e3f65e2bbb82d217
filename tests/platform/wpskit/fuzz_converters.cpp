// Fuzz target: a file through the Works and the WordPerfect converters, and what they hand
// over printed into a PDF as the modules print it. Each run sends one end; only a success
// hands over a document, with a paper size, and that document prints. A print that takes
// longer than libFuzzer's -timeout is a finding.
#include <unistd.h>

#include <QGuiApplication>
#include <QSizeF>
#include <QTextDocument>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>

#include "platform/foundation/log.h"
#include "platform/wpdkit/QFWpdConverter.h"
#include "platform/wpskit/QFWpsConverter.h"

namespace {

const std::filesystem::path& scratch() {
  static const std::filesystem::path dir = [] {
    std::string tmpl = (std::filesystem::temp_directory_path() / "converters-fuzz-XXXXXX").string();
    if (::mkdtemp(tmpl.data()) == nullptr) std::abort();
    return std::filesystem::path(tmpl);
  }();
  static const bool cleanup = (std::atexit([] { std::filesystem::remove_all(dir); }), true);
  (void)cleanup;
  return dir;
}

struct End {
  std::mutex mutex;
  std::condition_variable cv;
  int ends = 0;
  int32_t code = -1;
  std::shared_ptr<QFExportObject> exportObject;
  void end(int32_t c, std::shared_ptr<QFExportObject> e) {
    std::lock_guard lock(mutex);
    ++ends;
    code = c;
    exportObject = std::move(e);
    cv.notify_all();
  }
};

struct WpsEnd : QFWpsConverterDelegate, End {
  void QFWpsConverterDelegate_converterEnd(int32_t c, std::shared_ptr<QFExportObject> e, QFWpsConverter*) override {
    end(c, std::move(e));
  }
};
struct WpdEnd : QFWpdConverterDelegate, End {
  void QFWpdConverterDelegate_converterEnd(int32_t c, std::shared_ptr<QFExportObject> e, QFWpdConverter*) override {
    end(c, std::move(e));
  }
};

template <class Converter, class Delegate>
void convert(const QString& path) {
  auto delegate = std::make_shared<Delegate>();
  {
    auto converter = Converter::converterWithType(QFConverterFormat::formatWithType(1, path));
    if (!converter) std::abort();
    converter->setDelegate(delegate);
    if (!converter->start()) std::abort();
  }  // the running conversion keeps itself alive
  std::unique_lock lock(delegate->mutex);
  if (!delegate->cv.wait_for(lock, std::chrono::seconds(60), [&] { return delegate->ends > 0; })) std::abort();
  if ((delegate->code == QFConverterEndSucceeded) != (delegate->exportObject != nullptr)) std::abort();
  if (delegate->exportObject) {
    if (!delegate->exportObject->storage()) std::abort();
    if (!delegate->exportObject->myDic().value(NSPaperSizeDocumentAttribute).toSizeF().isValid()) std::abort();
    const auto printed = delegate->exportObject->print(QString::fromStdString((scratch() / "output.pdf").string()));
    if (!printed.ok || printed.pages < 1) std::abort();
  }
  lock.unlock();
  // A second end would come soon after the first.
  std::this_thread::sleep_for(std::chrono::milliseconds(1));
  std::lock_guard again(delegate->mutex);
  if (delegate->ends != 1) std::abort();
}

}  // namespace

// fontconfig keeps what it finds for a character it had not seen before (the print looks up
// fonts) for the life of the process: not a leak of a run.
extern "C" __attribute__((visibility("default"), used)) const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static int argc = 1;
  static char name[] = "converters-fuzz";
  static char* argv[] = {name, nullptr};
  static QGuiApplication* app = [] {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    foundation::setLogSink([](const foundation::LogRecord&) {});
    return new QGuiApplication(argc, argv);
  }();
  (void)app;
  const auto path = scratch() / "input.doc";
  {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) std::abort();
    if (size) std::fwrite(data, 1, size, f);
    std::fclose(f);
  }
  const QString p = QString::fromStdString(path.string());
  convert<QFWpsConverter, WpsEnd>(p);
  convert<QFWpdConverter, WpdEnd>(p);
  return 0;
}
