// Writes the page files of one drawing through DiagramKit's own VSDX renderer into a folder and
// prints their total size in bytes:  vsdx_pages SRC FOLDER
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "diagramkit/engine/VSDXRenderer.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: vsdx_pages SRC FOLDER\n");
    return 2;
  }
  const std::filesystem::path folder = argv[2];
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  static int tag;
  int pages = 0;
  if (diagramkit::loadVSDXFile(argv[1], folder, &tag, pages) != 1) return 1;
  std::uintmax_t bytes = 0;
  for (int i = 0; i < pages; ++i) bytes += std::filesystem::file_size(folder / (std::to_string(i) + ".svg"), ec);
  std::printf("%ju\n", bytes);
  return 0;
}
