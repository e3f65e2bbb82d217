// Runs a libFuzzer entry point over files and folders given on the command line, so the
// fuzz targets double as regression tests over the real sample files.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "platform/foundation/worker_threads.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {
int runFile(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "cannot read %s\n", p.c_str());
    return 1;
  }
  std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  return 0;
}
}  // namespace

int main(int argc, char** argv) {
  int failures = 0;
  size_t count = 0;
  // The empty input is always worth a run.
  LLVMFuzzerTestOneInput(nullptr, 0);
  for (int i = 1; i < argc; ++i) {
    std::filesystem::path arg(argv[i]);
    std::error_code ec;
    if (std::filesystem::is_directory(arg, ec)) {
      for (const auto& e : std::filesystem::recursive_directory_iterator(arg, ec)) {
        if (e.is_regular_file()) {
          failures += runFile(e.path());
          ++count;
        }
      }
    } else {
      failures += runFile(arg);
      ++count;
    }
  }
  if (count == 0) {
    std::fprintf(stderr, "no input files found\n");
    return 1;
  }
  std::printf("%zu inputs run, %d unreadable\n", count, failures);
  // The inputs' threads end before the statics go.
  return foundation::WorkerThreads::endProcess(failures == 0 ? 0 : 1);
}
