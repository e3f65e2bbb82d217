// Fuzz target: a file as a DjVu document through the whole conversion. A success leaves a PDF
// of the announced pages, each reported once; a failure says why and leaves nothing.
#include <QString>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <string>

#include "platform/djvukit/DjvuKit.h"
#include "platform/foundation/log.h"
#include "platform/pdfkit/PDFDocument.h"
#include "support/fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static bool quiet = (foundation::setLogSink([](const foundation::LogRecord&) {}), true);
  (void)quiet;
  const auto src = testsupport::writeFuzzInput("input.djvu", data, size);
  const auto out = testsupport::fuzzScratch() / "out.pdf";
  std::filesystem::remove(out);
  int32_t count = -1, done = 0;
  djvukit::ConversionCallbacks callbacks;
  callbacks.pageCount = [&](int32_t n) { count = n; };
  callbacks.pageDone = [&](int32_t page) {
    if (page != done + 1) std::abort();  // each page once, in order
    done = page;
  };
  std::string error;
  bool ok = false;
  try {
    ok = djvukit::convertDjvuToPdf(src.string(), out.string(), callbacks, &error);
  } catch (const std::exception& e) {  // the kit ends such a conversion with its reason
    error = e.what();
    if (error.empty()) error = "exception";
  }
  if (!ok) {
    if (error.empty() || std::filesystem::exists(out)) std::abort();
    return 0;
  }
  if (count <= 0 || done != count) std::abort();
  auto pdf = pdfkit::PDFDocument::initWithURL(QString::fromStdString(out.string()));
  if (!pdf || pdf->pageCount() != count) std::abort();
  return 0;
}
