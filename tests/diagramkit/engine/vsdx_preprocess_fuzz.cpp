// Fuzz target: a file as a VSDX package through the pre-processor (unpack, metafile
// companions, pack). What it answers is a file inside its own work folder, or nothing.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "diagramkit/engine/PreProcessVSDX.h"
#include "platform/foundation/log.h"

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
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static bool quiet = (foundation::setLogSink([](const foundation::LogRecord&) {}), true);
  (void)quiet;
  const fs::path src = scratch() / "drawing.vsdx";
  {
    FILE* f = std::fopen(src.c_str(), "wb");
    if (!f) std::abort();
    if (size) std::fwrite(data, 1, size, f);
    std::fclose(f);
  }
  const fs::path work = scratch() / "data" / "VSD2PDF";
  const fs::path out = preProcessVSDX(src);
  if (!out.empty() && (!fs::is_regular_file(out) || !isInside(out, work))) std::abort();
  // Each call's folder is left for the caller: remove them all, keep the process's lock.
  std::error_code ec;
  for (const auto& run : fs::directory_iterator(work, ec)) {
    for (const auto& call : fs::directory_iterator(run.path(), ec)) {
      if (call.is_directory() && !call.is_symlink()) fs::remove_all(call.path(), ec);
    }
  }
  return 0;
}
