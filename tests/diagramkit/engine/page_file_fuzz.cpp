// Reads arbitrary bytes as a page file: parse, find the svg:svg element, take its size and
// serialise it on its own.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "diagramkit/engine/PageFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  char path[] = "/tmp/page-file-fuzz-XXXXXX";
  const int fd = ::mkstemp(path);
  if (fd < 0) std::abort();
  size_t done = 0;
  while (done < size) {
    const ssize_t n = ::write(fd, data + done, size - done);
    if (n <= 0) std::abort();
    done += static_cast<size_t>(n);
  }
  ::close(fd);
  std::string error;
  const auto page = diagramkit::readPageFile(path, &error);
  ::unlink(path);
  if (!page) {
    if (error.empty()) std::abort();  // a refusal always says why
    return 0;
  }
  if (page->svg.empty()) std::abort();
  if ((page->width && !(*page->width > 0)) || (page->height && !(*page->height > 0))) std::abort();
  return 0;
}
