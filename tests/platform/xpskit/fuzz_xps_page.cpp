// Fuzz target: a fixed page of an XPS package, converted to PDF as the XPS module does.
//
// The first byte chooses the package's shape (bit 0: deflated entries with data descriptors, so
// the package is re-packed first; bit 1: a good page follows; bit 2: the fixed document gives no
// size for the page); the rest is the page's markup. The package also holds a font and a JPEG
// image from the sample packages at the names the seeds use.
#include <zip.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/foundation/log.h"
#include "platform/xpskit/XpsKit.h"
#include "support/fuzz_input.h"
#include "support/xps_builder.h"

namespace {

constexpr const char* kFontName = "48230029-18BE-6784-E14A-6C3DD62CAE72.odttf";

std::string readEntry(const std::string& package, const char* name) {
  std::string data;
  int code = 0;
  zip_t* z = zip_open(package.c_str(), ZIP_RDONLY, &code);
  if (!z) return data;
  if (zip_file_t* f = zip_fopen(z, name, 0)) {
    char buf[8192];
    zip_int64_t n;
    while ((n = zip_fread(f, buf, sizeof buf)) > 0) data.append(buf, static_cast<size_t>(n));
    zip_fclose(f);
  }
  zip_discard(z);
  return data;
}

// The font with its obfuscation undone (its first 32 bytes XORed with the GUID of its name, in
// reverse order), so that every run finds it in libgxps's font cache instead of loading it anew.
std::string plainFont(std::string font) {
  unsigned char key[16];
  std::string hex;
  for (const char* p = kFontName; *p && *p != '.'; ++p) {
    if (*p != '-') hex += *p;
  }
  for (int i = 0; i < 16; ++i) key[i] = static_cast<unsigned char>(std::stoi(hex.substr(2 * i, 2), nullptr, 16));
  if (font.size() < 32) return font;
  for (int i = 0; i < 32; ++i) font[i] = static_cast<char>(font[i] ^ key[15 - i % 16]);
  return font;
}

struct Resources {
  std::string font;
  std::string jpeg;
};

const Resources& resources() {
  static const Resources r = [] {
    const std::string sample = std::string(LECTERN_CORPUS_DIR) + "/xps/testPPT.xps";
    return Resources{plainFont(readEntry(sample, (std::string("Resources/") + kFontName).c_str())),
                     readEntry(sample, "docProps/thumbnail.jpeg")};
  }();
  return r;
}

struct Ends : xpskit::QFXpsConverterDelegate {
  std::mutex mutex;
  std::vector<int32_t> codes;
  void QFXpsConverterDelegate_converterEnd(int32_t code, const void*, xpskit::QFXpsConverter*) override {
    std::lock_guard l(mutex);
    codes.push_back(code);
  }
};

bool nothingBeside(const std::filesystem::path& out) {
  for (const auto& e : std::filesystem::directory_iterator(out.parent_path())) {
    if (e.path().filename().string().rfind(out.filename().string() + ".part-", 0) == 0) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static bool quiet = (foundation::setLogSink([](const foundation::LogRecord&) {}), true);
  (void)quiet;
  const unsigned flags = size > 0 ? data[0] : 0;
  const std::string markup = size > 1 ? std::string(reinterpret_cast<const char*>(data) + 1, size - 1) : std::string();
  const bool streamed = flags & 1, goodPage = flags & 2, unsized = flags & 4;

  testsupport::ZipWriter zip(testsupport::ZipWriter::Options{.deflated = streamed, .dataDescriptors = streamed});
  const Resources& res = resources();
  if (!res.font.empty()) zip.add(std::string("Resources/") + kFontName, res.font);
  if (!res.jpeg.empty()) zip.add("Resources/image.jpg", res.jpeg);
  std::vector<testsupport::XpsPage> pages{{unsized ? 0 : 816, unsized ? 0 : 1056, markup.empty() ? " " : markup}};
  if (goodPage) pages.push_back({});
  testsupport::addXpsPackage(zip, pages);
  const std::string bytes = zip.bytes();
  const auto source = testsupport::writeFuzzInput("input.xps", reinterpret_cast<const std::uint8_t*>(bytes.data()),
                                                  bytes.size());
  const auto out = testsupport::fuzzScratch() / "out.pdf";
  std::filesystem::remove(out);

  auto ends = std::make_shared<Ends>();
  auto param = xpskit::QFXpsConverterParam::paramWithFormat(xpskit::QFXpsConverterFormat::formatWithType(0));
  param->setDelegate(ends);
  param->setOutPath(out.string());
  std::string openError;
  if (auto doc = xpskit::QFXpsDocument::documentWithPath(source.string(), &openError)) {
    param->addConverterSource(xpskit::QFXpsConverterSource::converterSourceWithDocument(doc));
  } else if (openError.empty()) {
    std::abort();  // a refusal always says why
  }
  auto converter = xpskit::QFXpsConverter::converterWithParam(param);
  converter->start();
  converter->wait();

  std::lock_guard l(ends->mutex);
  if (ends->codes.size() != 1) std::abort();  // exactly one end
  const bool complete = ends->codes[0] == xpskit::QFXpsConverterEndComplete;
  if (complete != std::filesystem::exists(out)) std::abort();  // a PDF exactly when complete
  if (!complete && converter->errorInfo().empty()) std::abort();  // a failure says why
  if (goodPage && !complete) std::abort();  // a good page always makes a document
  if (!nothingBeside(out)) std::abort();    // no temporary file left
  if (complete) {
    FILE* f = std::fopen(out.c_str(), "rb");
    char head[5] = {};
    if (!f || std::fread(head, 1, 4, f) != 4 || std::string(head) != "%PDF") std::abort();
    std::fclose(f);
  }
  return 0;
}
