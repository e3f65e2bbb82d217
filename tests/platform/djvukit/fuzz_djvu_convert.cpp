// Fuzz target: a file as a DjVu document through the whole conversion. A success leaves a PDF
// of the announced pages, each reported once; a failure says why and leaves nothing.
//
// An input that begins with "#files\n" is a set of files, so that indirect documents (a
// directory file naming page files beside it) are reached with their pages: each file is its
// name, a newline, its size in decimal, a newline and its bytes; the first is the document.
// seeds/indirect.files holds seeds/two-pages.djvu split by `djvmcvt -i`.
#include <QString>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <string>
#include <string_view>

#include "platform/djvukit/DjvuKit.h"
#include "platform/foundation/log.h"
#include "platform/pdfkit/PDFDocument.h"
#include "support/fuzz_input.h"

namespace {

// Writes the files of a set into `folder` and answers the first one's path, or an empty path
// when the set names none. Names that are not one plain file-name component are passed over.
std::filesystem::path writeFileSet(std::string_view data, const std::filesystem::path& folder) {
  std::filesystem::path first;
  while (!data.empty()) {
    const size_t nameEnd = data.find('\n');
    if (nameEnd == std::string_view::npos) break;
    const std::string name(data.substr(0, nameEnd));
    data.remove_prefix(nameEnd + 1);
    const size_t sizeEnd = data.find('\n');
    if (sizeEnd == std::string_view::npos || sizeEnd > 9) break;
    size_t size = 0;
    for (char c : data.substr(0, sizeEnd)) size = c >= '0' && c <= '9' ? size * 10 + static_cast<size_t>(c - '0') : size;
    data.remove_prefix(sizeEnd + 1);
    size = std::min(size, data.size());
    const std::string_view bytes = data.substr(0, size);
    data.remove_prefix(size);
    if (name.empty() || name.size() > 64 || name == "." || name == ".." || name.find('/') != std::string::npos ||
        name.find('\0') != std::string::npos)
      continue;
    const auto path = folder / name;
    if (FILE* f = std::fopen(path.c_str(), "wb")) {
      std::fwrite(bytes.data(), 1, bytes.size(), f);
      std::fclose(f);
      if (first.empty()) first = path;
    }
  }
  return first;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static bool quiet = (foundation::setLogSink([](const foundation::LogRecord&) {}), true);
  (void)quiet;
  // A folder of its own for each input, so that no file of an earlier one is found.
  const auto folder = testsupport::fuzzScratch() / "input";
  std::filesystem::remove_all(folder);
  std::filesystem::create_directory(folder);
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  constexpr std::string_view kSet = "#files\n";
  std::filesystem::path src;
  if (bytes.substr(0, kSet.size()) == kSet) {
    src = writeFileSet(bytes.substr(kSet.size()), folder);
    if (src.empty()) return 0;
  } else {
    src = testsupport::writeFuzzInput("input/input.djvu", data, size);
  }
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
