#pragma once
// Builds DjVu documents with djvulibre's tools: bitonal pages (cjb2), colour pages (c44),
// compound pages (a cjb2 mask in a foreground colour over a c44 background, put together by
// djvumake), a bundled document of them (djvm), an indirect one (djvmcvt) and a hidden text
// layer (djvused).

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
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
  std::string text{};               // a hidden text expression as djvused takes it, in place of words
  // "#rrggbb": a compound page, its block in this colour over a light grey background.
  std::string foreground{};
  bool blockAtBottom = false;  // the block in the bottom right quarter, not the top left one
};

inline bool runTool(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()) == 0; }

inline std::string quoted(const std::filesystem::path& p) { return "'" + p.string() + "'"; }

namespace detail {

// A dark block in one quarter, the rest white (colour: a blue block), as PBM or PPM.
inline void writeBlockImage(const std::filesystem::path& image, const DjvuPageSpec& p, bool colour) {
  std::ofstream out(image, std::ios::binary);
  out << (colour ? "P6\n" : "P4\n") << p.width << " " << p.height << "\n" << (colour ? "255\n" : "");
  auto inBlock = [&](int x, int y) {
    return p.blockAtBottom ? x >= p.width / 2 && y >= p.height / 2 : x < p.width / 2 && y < p.height / 2;
  };
  for (int y = 0; y < p.height; ++y) {
    if (colour) {
      for (int x = 0; x < p.width; ++x) {
        const bool block = inBlock(x, y);
        out.put(static_cast<char>(block ? 0x20 : 0xFF)).put(static_cast<char>(block ? 0x40 : 0xFF))
            .put(static_cast<char>(block ? 0xC0 : 0xFF));
      }
    } else {
      for (int b = 0; b < (p.width + 7) / 8; ++b) {
        unsigned char byte = 0;
        for (int k = 0; k < 8; ++k)
          if (inBlock(b * 8 + k, y)) byte |= static_cast<unsigned char>(0x80 >> k);
        out.put(static_cast<char>(byte));
      }
    }
  }
}

inline bool writePage(const std::filesystem::path& page, const std::filesystem::path& work, int i, const DjvuPageSpec& p) {
  const std::string stem = (work / ("page" + std::to_string(i))).string();
  const std::string dpi = " -dpi " + std::to_string(p.dpi) + " ";
  if (p.foreground.empty()) {
    const std::filesystem::path image = stem + (p.colour ? ".ppm" : ".pbm");
    writeBlockImage(image, p, p.colour);
    return runTool((p.colour ? "c44" : "cjb2") + dpi + testsupport::quoted(image) + " " + testsupport::quoted(page));
  }
  // The mask's shapes and a light grey background at a third of the resolution.
  const std::filesystem::path mask = stem + "-mask.pbm", background = stem + "-bg.pgm";
  writeBlockImage(mask, p, false);
  {
    const int w = (p.width + 2) / 3, h = (p.height + 2) / 3;
    std::ofstream out(background, std::ios::binary);
    out << "P5\n" << w << " " << h << "\n255\n" << std::string(static_cast<size_t>(w) * h, '\xC0');
  }
  return runTool("cjb2" + dpi + testsupport::quoted(mask) + " " + testsupport::quoted(stem + "-mask.djvu")) &&
         runTool("djvuextract " + testsupport::quoted(stem + "-mask.djvu") + " Sjbz=" + testsupport::quoted(stem + ".sjbz")) &&
         runTool("c44 -dpi " + std::to_string(p.dpi / 3) + " " + testsupport::quoted(background) + " " + testsupport::quoted(stem + "-bg.djvu")) &&
         runTool("djvuextract " + testsupport::quoted(stem + "-bg.djvu") + " BG44=" + testsupport::quoted(stem + ".bg44")) &&
         runTool("djvumake " + testsupport::quoted(page) + " INFO=" + std::to_string(p.width) + "," + std::to_string(p.height) + "," +
                 std::to_string(p.dpi) + " Sjbz=" + testsupport::quoted(stem + ".sjbz") + " BG44=" + testsupport::quoted(stem + ".bg44") + " 'FGbz=" +
                 p.foreground + ":0,0," + std::to_string(p.width) + "," + std::to_string(p.height) + "'");
}

}  // namespace detail

// Writes a bundled document of the pages to `path`, using `work` for the pieces.
inline bool writeDjvu(const std::filesystem::path& path, const std::filesystem::path& work,
                      const std::vector<DjvuPageSpec>& pages) {
  std::string bundle = "djvm -c " + quoted(path);
  for (size_t i = 0; i < pages.size(); ++i) {
    const DjvuPageSpec& p = pages[i];
    const auto page = work / ("page" + std::to_string(i) + ".djvu");
    if (!detail::writePage(page, work, static_cast<int>(i), p)) return false;
    if (!p.words.empty() || !p.text.empty()) {
      const auto text = work / ("page" + std::to_string(i) + ".txt");
      std::ofstream out(text);
      if (!p.text.empty()) {
        out << p.text << "\n";
      } else {
        out << "(page 0 0 " << p.width << " " << p.height << " (line 0 " << p.height * 3 / 4 << " " << p.width << " "
            << p.height * 3 / 4 + 40;
        int x = 20;
        for (const std::string& w : p.words) {
          const int x1 = x + 25 * static_cast<int>(w.size());
          out << " (word " << x << " " << p.height * 3 / 4 << " " << x1 << " " << p.height * 3 / 4 + 40 << " \"" << w << "\")";
          x = x1 + 20;
        }
        out << "))\n";
      }
      out.close();
      if (!runTool("djvused " + quoted(page) + " -e 'select 1; set-txt " + text.string() + "' -s")) return false;
    }
    if (p.rotation && !runTool("djvused " + quoted(page) + " -e 'select 1; set-rotation " + std::to_string(p.rotation) + "' -s"))
      return false;
    bundle += " " + quoted(page);
  }
  return runTool(bundle);
}

// Writes an indirect document of the pages: its directory file `folder`/`index` naming one file
// per page beside it.
inline bool writeIndirectDjvu(const std::filesystem::path& folder, const std::string& index,
                              const std::filesystem::path& work, const std::vector<DjvuPageSpec>& pages) {
  const auto bundled = work / "bundled.djvu";
  std::filesystem::create_directories(folder);
  return writeDjvu(bundled, work, pages) && runTool("djvmcvt -i " + quoted(bundled) + " " + quoted(folder) + " " + index);
}

// Writes the directory file of an indirect document naming `pages` as its page files, as they
// are given, whether or not they exist.
inline bool writeIndirectIndex(const std::filesystem::path& path, const std::filesystem::path& work,
                               const std::vector<std::string>& pages) {
  // The directory: sizes (3 bytes, unknown here), flags (a page each) and names, BZZ-coded.
  std::string plain(pages.size() * 3, '\0');
  plain += std::string(pages.size(), '\x01');
  for (const std::string& name : pages) plain += name + '\0';
  const auto raw = work / "dirm.raw", coded = work / "dirm.bzz";
  std::ofstream(raw, std::ios::binary) << plain;
  if (!runTool("bzz -e " + quoted(raw) + " " + quoted(coded))) return false;
  std::ifstream in(coded, std::ios::binary);
  const std::string bzz((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  auto be32 = [](size_t v) {
    return std::string{static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8), static_cast<char>(v)};
  };
  std::string dirm = std::string("\x01") + static_cast<char>(pages.size() >> 8) + static_cast<char>(pages.size()) + bzz;
  std::string form = "DJVMDIRM" + be32(dirm.size()) + dirm + (dirm.size() % 2 ? std::string(1, '\0') : std::string());
  std::ofstream(path, std::ios::binary) << "AT&TFORM" << be32(form.size()) << form;
  return true;
}

}  // namespace testsupport
