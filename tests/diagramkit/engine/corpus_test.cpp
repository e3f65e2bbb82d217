#include <gtest/gtest.h>

#include <libvisio/libvisio.h>
#include <librevenge-stream/librevenge-stream.h>
#include <librevenge/librevenge.h>

#include <regex>
#include <set>
#include <sstream>

#include "diagramkit/engine/PageFile.h"
#include "engine_test_support.h"
#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;

struct Expected {
  std::vector<std::optional<std::pair<double, double>>> sizes;  // per SVG page, points
  std::vector<std::string> words;                               // per SVG page, "" for none
};

// What libvisio itself gives for the file: the pages, their sizes and a word of each.
Expected fromLibvisio(const fs::path& path) {
  librevenge::RVNGStringVector svg;
  {
    librevenge::RVNGFileStream stream(path.c_str());
    librevenge::RVNGSVGDrawingGenerator gen(svg, "svg");
    libvisio::VisioDocument::parse(&stream, &gen);
  }
  if (svg.empty()) {
    librevenge::RVNGFileStream stream(path.c_str());
    librevenge::RVNGSVGDrawingGenerator gen(svg, "svg");
    libvisio::VisioDocument::parseStencils(&stream, &gen);
  }
  Expected e;
  const std::regex size(R"re(<svg:svg[^>]*width="([0-9.]+)in" height="([0-9.]+)in")re");
  const std::regex tspan(R"re(<svg:tspan[^>]*>\s*([^<]*))re");
  const std::regex word(R"re(\b[A-Za-z]{4,}\b)re");
  for (unsigned i = 0; i < svg.size(); ++i) {
    const std::string page = svg[i].cstr();
    std::smatch m;
    if (std::regex_search(page, m, size) && std::stod(m[1]) > 0 && std::stod(m[2]) > 0) {
      e.sizes.emplace_back(std::make_pair(std::stod(m[1]) * 72, std::stod(m[2]) * 72));
    } else {
      e.sizes.emplace_back(std::nullopt);
    }
    std::string found;
    for (auto it = std::sregex_iterator(page.begin(), page.end(), tspan); it != std::sregex_iterator() && found.empty();
         ++it) {
      const std::string text = (*it)[1];
      std::smatch w;
      if (std::regex_search(text, w, word)) found = w[0];
    }
    e.words.push_back(found);
  }
  return e;
}

TEST(Corpus, EveryDrawingConverts) {
  const fs::path corpus = fs::path(LECTERN_CORPUS_DIR) / "visio";
  if (!fs::is_directory(corpus)) GTEST_SKIP() << "no corpus at " << corpus;
  std::vector<fs::path> files;
  for (const auto& entry : fs::directory_iterator(corpus)) {
    if (entry.is_regular_file()) files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  ASSERT_FALSE(files.empty());
  int wordsChecked = 0;
  for (const fs::path& file : files) {
    SCOPED_TRACE(file.filename().string());
    const Expected expected = fromLibvisio(file);
    ASSERT_FALSE(expected.sizes.empty());
    EXPECT_EQ(getVSDFilePageNum(file), static_cast<int>(expected.sizes.size()));
    testsupport::TempDir dir;
    const auto conv = enginetest::convert(file, dir / "out.pdf");
    ASSERT_FALSE(conv.events.empty());
    EXPECT_EQ(conv.events.back().name, END_VSD_FILE_NOTI);
    ASSERT_GE(conv.events.size(), 2u);
    EXPECT_EQ(conv.events[conv.events.size() - 2].number, static_cast<int>(expected.sizes.size()));
    auto pages = enginetest::readPdf(dir / "out.pdf");
    ASSERT_TRUE(pages.has_value());
    ASSERT_EQ(pages->size(), expected.sizes.size());
    std::pair<double, double> paper{612, 792};
    bool wordFound = false;
    bool anyWord = false;
    for (std::size_t i = 0; i < pages->size(); ++i) {
      if (expected.sizes[i]) paper = *expected.sizes[i];
      EXPECT_NEAR((*pages)[i].width, paper.first, 0.05) << "page " << i;
      EXPECT_NEAR((*pages)[i].height, paper.second, 0.05) << "page " << i;
      if (!expected.words[i].empty()) {
        anyWord = true;
        wordFound = wordFound || (*pages)[i].text.find(expected.words[i]) != std::string::npos;
      }
    }
    if (anyWord) {
      EXPECT_TRUE(wordFound) << "none of the drawing's words found";
      ++wordsChecked;
    }
  }
  EXPECT_GT(wordsChecked, 0);
}

// The words the text tool of libvisio prints for each drawing, split at blanks and at line and
// paragraph separators.
std::vector<std::string> textToolWords(const fs::path& file) {
  std::string text = enginetest::commandOutput("vsd2text " + enginetest::shellQuoted(file) + " 2>/dev/null");
  for (const char* separator : {"\xE2\x80\xA8", "\xE2\x80\xA9"}) {
    for (std::size_t at; (at = text.find(separator)) != std::string::npos;) text.replace(at, 3, " ");
  }
  std::vector<std::string> words;
  std::istringstream in(text);
  for (std::string w; in >> w;) words.push_back(w);
  return words;
}

TEST(Corpus, EveryWordOfADrawingIsAWordOfItsPdf) {
  const fs::path corpus = fs::path(LECTERN_CORPUS_DIR) / "visio";
  if (!fs::is_directory(corpus)) GTEST_SKIP() << "no corpus at " << corpus;
  std::size_t checked = 0;
  for (const auto& entry : fs::directory_iterator(corpus)) {
    if (!entry.is_regular_file()) continue;
    SCOPED_TRACE(entry.path().filename().string());
    const std::vector<std::string> words = textToolWords(entry.path());
    if (words.empty()) continue;
    testsupport::TempDir dir;
    enginetest::convert(entry.path(), dir / "out.pdf");
    const std::vector<std::string> found = enginetest::pdfWords(dir / "out.pdf");
    const std::set<std::string> ours(found.begin(), found.end());
    std::string missing;
    for (const std::string& w : words) {
      if (!ours.contains(w)) missing += " [" + w + "]";
    }
    EXPECT_EQ(missing, "");
    checked += words.size();
  }
  EXPECT_GT(checked, 0u);
}

}  // namespace
