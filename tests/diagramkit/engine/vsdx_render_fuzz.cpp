// Fuzz target: a VSDX package through DiagramKit's own renderer. An input that is a zip file is
// the package; any other input holds the parts the renderer reads, separated by NUL bytes, in
// the order of kParts (so the fuzzer mutates their XML, not their compressed bytes). Every page
// the renderer writes must be a page file that reads back; the conversion of the package under
// the renderer's file name ends once, leaves no work folder and writes an output exactly when
// it is a readable PDF of the announced page count.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "diagramkit/engine/PageFile.h"
#include "diagramkit/engine/TextMeasurer.h"
#include "diagramkit/engine/VSDXPackage.h"
#include "diagramkit/engine/VSDXRenderer.h"
#include "engine_test_support.h"
#include "platform/foundation/log.h"
#include "support/fuzz_input.h"
#include "support/visio_builder.h"

namespace {

constexpr const char* kParts[] = {
    "visio/pages/pages.xml", "visio/pages/page1.xml", "visio/pages/_rels/page1.xml.rels", "visio/media/image1.png",
    "visio/pages/page2.xml", "visio/pages/_rels/page2.xml.rels",
};

std::filesystem::path writePackage(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  if (input.starts_with("PK")) return testsupport::writeFuzzInput(diagramkit::kOwnRendererFileName, data, size);
  std::vector<std::pair<std::string, std::string>> parts;
  std::size_t at = 0;
  for (const char* name : kParts) {
    if (at > input.size()) break;
    const std::size_t end = std::min(input.find('\0', at), input.size());
    parts.emplace_back(name, std::string(input.substr(at, end - at)));
    at = end + 1;
  }
  const auto path = testsupport::fuzzScratch() / diagramkit::kOwnRendererFileName;
  if (!testsupport::writeZip(path, parts)) std::abort();
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static bool quiet = (foundation::setLogSink([](const foundation::LogRecord&) {}), true);
  (void)quiet;
  static const std::unique_ptr<diagramkit::TextMeasurer> measurer = diagramkit::makePangoTextMeasurer();
  const std::filesystem::path src = writePackage(data, size);
  const std::filesystem::path out = testsupport::fuzzScratch() / "out.pdf";
  std::filesystem::remove(out);
  if (const auto package = diagramkit::VSDXPackage::open(src)) {
    diagramkit::VSDXRenderer renderer(*package, *measurer);
    if (renderer.loadPages()) {
      const std::filesystem::path page = testsupport::fuzzScratch() / "page.svg";
      for (int i = 0; i < renderer.pageCount(); ++i) {
        if (!diagramkit::writePageFile(page, renderer.renderPage(i))) std::abort();
        std::string error;
        if (!diagramkit::readPageFile(page, &error)) {
          std::fprintf(stderr, "page %d does not read back: %s\n", i, error.c_str());
          std::abort();
        }
      }
    }
  }
  if (!enginetest::convertedSoundly(enginetest::convert(src, out), out)) std::abort();
  return 0;
}
