// Reads arbitrary bytes as a metafile, converts it to SVG and plays it into a new context.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "diagramkit/emf/emf.h"
#include "platform/foundation/log.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The reader logs a line per unknown record: thousands of runs a second would flood the disk.
  static bool quiet = (foundation::setLogSink([](const foundation::LogRecord&) {}), true);
  (void)quiet;
  char path[] = "/tmp/emf-fuzz-XXXXXX";
  const int fd = mkstemp(path);
  if (fd < 0) return 0;
  size_t done = 0;
  while (done < size) {
    const ssize_t n = write(fd, data + done, size - done);
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  close(fd);
  const HENHMETAFILE h = GetEnhMetaFileA(path);
  unlink(path);
  if (!h) return 0;
  if (FILE* out = std::fopen("/dev/null", "w")) {
    outputEnhMetaFile(out, h);
    std::fclose(out);
  }
  const HDC copy = CreateEnhMetaFileWithFILEA(0, nullptr, nullptr, nullptr);
  PlayEnhMetaFile(copy, h);
  CloseEnhMetaFile(copy);
  DeleteDC(copy);
  DeleteEnhMetaFile(h);
  DeleteDC(h);
  return 0;
}
