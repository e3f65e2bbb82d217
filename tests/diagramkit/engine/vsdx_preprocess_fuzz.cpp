// Fuzz target: the VSDX pre-processor. An input that starts as a zip does is the package
// itself (the reader's checks, packing). Any other input is a metafile: it is packed as a WMF
// and as an EMF picture of a small drawing, so that the WMF and EMF steps read it; when its
// last byte is odd, the package also holds a ".vsd" after them, and the pre-processor must
// answer that drawing. What it answers is always a file inside its own work folder.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>

#include "diagramkit/engine/PreProcessVSDX.h"
#include "diagramkit/engine/VSDXPackage.h"
#include "platform/foundation/log.h"
#include "support/visio_builder.h"

namespace fs = std::filesystem;

namespace {
const fs::path& scratch() {
  static const fs::path dir = [] {
    std::string tmpl = (fs::temp_directory_path() / "vsdx-fuzz-XXXXXX").string();
    if (::mkdtemp(tmpl.data()) == nullptr) std::abort();
    // The pre-processor's work folder goes under the data folder.
    ::setenv("XDG_DATA_HOME", (fs::path(tmpl) / "data").c_str(), 1);
    return fs::path(tmpl);
  }();
  static const bool cleanup = (std::atexit([] { fs::remove_all(dir); }), true);  // runs before dir goes
  (void)cleanup;
  return dir;
}

bool isInside(const fs::path& p, const fs::path& folder) {
  const fs::path rel = fs::weakly_canonical(p).lexically_relative(fs::weakly_canonical(folder));
  return !rel.empty() && *rel.begin() != "..";
}

void check(bool ok) {
  if (!ok) std::abort();
}

std::string readFile(const fs::path& p) {
  std::string out;
  FILE* f = std::fopen(p.c_str(), "rb");
  check(f != nullptr);
  char buffer[1 << 16];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, f)) > 0;) out.append(buffer, n);
  std::fclose(f);
  return out;
}

// The metafile road: the package keeps its parts and pictures unchanged and gains the
// companions; or, with a ".vsd", that file is the answer, unchanged.
void checkMetafilePackage(const fs::path& src, const std::string& metafile, bool withVsd, const fs::path& work) {
  auto parts = testsupport::vsdxParts({{}});
  parts.emplace_back("visio/media/image1.wmf", metafile);
  parts.emplace_back("visio/media/image2.emf", metafile);
  if (withVsd) parts.emplace_back("visio/media/image3.vsd", metafile);
  check(testsupport::writeZip(src, parts));
  const fs::path out = preProcessVSDX(src);
  check(!out.empty() && fs::is_regular_file(out) && isInside(out, work));
  if (withVsd) {
    check(out.filename() == "image3.vsd" && readFile(out) == metafile);
    return;
  }
  const auto package = diagramkit::VSDXPackage::open(out);
  check(package != nullptr);
  for (const auto& [name, content] : parts) check(package->read(name) == content);
  const std::set<std::string> names(package->names().begin(), package->names().end());
  check(names.count("visio/media/image2.svg") == 1);
  if (names.count("visio/media/image1.png") == 1) check(names.count("visio/media/image1.eps") == 1);
  check(names.size() == parts.size() + 1 + names.count("visio/media/image1.eps") + names.count("visio/media/image1.png"));
  // Only the new package stays beside it.
  for (const auto& e : fs::directory_iterator(out.parent_path())) check(e.path() == out);
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static bool quiet = (foundation::setLogSink([](const foundation::LogRecord&) {}), true);
  (void)quiet;
  const fs::path src = scratch() / "drawing.vsdx";
  const fs::path work = scratch() / "data" / "VSD2PDF";
  const std::string input(reinterpret_cast<const char*>(data), size);
  if (input.starts_with("PK")) {
    FILE* f = std::fopen(src.c_str(), "wb");
    check(f != nullptr);
    if (size) std::fwrite(data, 1, size, f);
    std::fclose(f);
    const fs::path out = preProcessVSDX(src);
    check(out.empty() || (fs::is_regular_file(out) && isInside(out, work)));
  } else {
    checkMetafilePackage(src, input, size > 0 && (data[size - 1] & 1) != 0, work);
  }
  // Each call's folder is left for the caller: remove them all, keep the process's lock.
  std::error_code ec;
  for (const auto& run : fs::directory_iterator(work, ec)) {
    for (const auto& call : fs::directory_iterator(run.path(), ec)) {
      if (call.is_directory() && !call.is_symlink()) fs::remove_all(call.path(), ec);
    }
  }
  return 0;
}
