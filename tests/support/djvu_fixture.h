#pragma once
// Builds DjVu documents with djvulibre's tools: bitonal pages (cjb2), colour pages (c44), a
// bundled document of them (djvm) and a hidden text layer (djvused).

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace testsupport {

struct DjvuPageSpec {
  bool colour = false;
  int width = 850;  // pixels
  int height = 1100;
  int dpi = 100;
  std::vector<std::string> words;  // the hidden text, one word after the other on one line
  int rotation = 0;                 // counter-clockwise, in quarter turns
};

inline bool runTool(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()) == 0; }

inline std::string quoted(const std::filesystem::path& p) { return "'" + p.string() + "'"; }

// Writes a bundled document of the pages to `path`, using `work` for the pieces.
inline bool writeDjvu(const std::filesystem::path& path, const std::filesystem::path& work,
                      const std::vector<DjvuPageSpec>& pages) {
  std::string bundle = "djvm -c " + quoted(path);
  for (size_t i = 0; i < pages.size(); ++i) {
    const DjvuPageSpec& p = pages[i];
    const auto image = work / ("page" + std::to_string(i) + (p.colour ? ".ppm" : ".pbm"));
    const auto page = work / ("page" + std::to_string(i) + ".djvu");
    {
      std::ofstream out(image, std::ios::binary);
      out << (p.colour ? "P6\n" : "P4\n") << p.width << " " << p.height << "\n" << (p.colour ? "255\n" : "");
      // A dark block in the top left quarter, the rest white (colour: a blue block).
      for (int y = 0; y < p.height; ++y) {
        if (p.colour) {
          for (int x = 0; x < p.width; ++x) {
            const bool block = x < p.width / 2 && y < p.height / 2;
            out.put(static_cast<char>(block ? 0x20 : 0xFF)).put(static_cast<char>(block ? 0x40 : 0xFF))
                .put(static_cast<char>(block ? 0xC0 : 0xFF));
          }
        } else {
          for (int b = 0; b < (p.width + 7) / 8; ++b) {
            unsigned char byte = 0;
            for (int k = 0; k < 8; ++k) {
              const int x = b * 8 + k;
              if (x < p.width / 2 && y < p.height / 2) byte |= static_cast<unsigned char>(0x80 >> k);
            }
            out.put(static_cast<char>(byte));
          }
        }
      }
    }
    const std::string dpi = " -dpi " + std::to_string(p.dpi) + " ";
    if (!runTool((p.colour ? "c44" : "cjb2") + dpi + quoted(image) + " " + quoted(page))) return false;
    if (!p.words.empty()) {
      const auto text = work / ("page" + std::to_string(i) + ".txt");
      std::ofstream out(text);
      out << "(page 0 0 " << p.width << " " << p.height << " (line 0 " << p.height * 3 / 4 << " " << p.width << " "
          << p.height * 3 / 4 + 40;
      int x = 20;
      for (const std::string& w : p.words) {
        const int x1 = x + 25 * static_cast<int>(w.size());
        out << " (word " << x << " " << p.height * 3 / 4 << " " << x1 << " " << p.height * 3 / 4 + 40 << " \"" << w << "\")";
        x = x1 + 20;
      }
      out << "))\n";
      out.close();
      if (!runTool("djvused " + quoted(page) + " -e 'select 1; set-txt " + text.string() + "' -s")) return false;
    }
    if (p.rotation && !runTool("djvused " + quoted(page) + " -e 'select 1; set-rotation " + std::to_string(p.rotation) + "' -s"))
      return false;
    bundle += " " + quoted(page);
  }
  return runTool(bundle);
}

}  // namespace testsupport
