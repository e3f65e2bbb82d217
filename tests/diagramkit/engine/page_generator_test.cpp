#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "diagramkit/engine/PageGenerator.h"

namespace {

using diagramkit::TextBreaks;

TEST(PageGenerator, ListedSpansStartNewLinesAndBlanksLeaveTheirSpans) {
  struct Case {
    const char* name;
    std::string svg;
    std::vector<TextBreaks> texts;
    std::string lines;
    std::vector<double> lifts = {};
  };
  const std::string a = "<svg:tspan font-size=\"10\" >\na</svg:tspan>\n";
  const std::vector<Case> cases = {
      {"no span", "<svg:path d=\"M0,0\"/>", {{{1, 1}}}, "<svg:path d=\"M0,0\"/>"},
      {"a break at the text's x, one line per break", "<svg:text x=\"5.5\" y=\"9\">\n" + a + a + a + "</svg:text>",
       {{{1, 1}, {2, 2}}},
       "<svg:text x=\"5.5\" y=\"9\">\n<svg:tspan font-size=\"10\" >a</svg:tspan>\n"
       "<svg:tspan x=\"5.5\" dy=\"12.0000\" font-size=\"10\" >a</svg:tspan>\n"
       "<svg:tspan x=\"5.5\" dy=\"24.0000\" font-size=\"10\" >a</svg:tspan>\n</svg:text>"},
      {"without a font size or an x", "<svg:text y=\"9\"><svg:tspan >a</svg:tspan><svg:tspan >b</svg:tspan></svg:text>",
       {{{1, 1}}},
       "<svg:text y=\"9\"><svg:tspan >a</svg:tspan><svg:tspan x=\"0\" dy=\"14.4000\" >b</svg:tspan></svg:text>"},
      {"breaks belong to their own text",
       "<svg:text x=\"1\">" + a + a + "</svg:text><svg:text x=\"2\">" + a + a + "</svg:text>", {{}, {{1, 1}}},
       "<svg:text x=\"1\"><svg:tspan font-size=\"10\" >a</svg:tspan>\n<svg:tspan font-size=\"10\" >a</svg:tspan>\n"
       "</svg:text><svg:text x=\"2\"><svg:tspan font-size=\"10\" >a</svg:tspan>\n"
       "<svg:tspan x=\"2\" dy=\"12.0000\" font-size=\"10\" >a</svg:tspan>\n</svg:text>"},
      {"blanks at a span's ends go outside it",
       "<svg:text x=\"1\"><svg:tspan >\nplain </svg:tspan>\n<svg:tspan >bold</svg:tspan><svg:tspan >\n\t tail\n"
       "</svg:tspan><svg:tspan > </svg:tspan></svg:text>",
       {},
       "<svg:text x=\"1\"><svg:tspan >plain</svg:tspan> \n<svg:tspan >bold</svg:tspan> <svg:tspan >tail</svg:tspan>"
       " <svg:tspan ></svg:tspan></svg:text>"},
      {"a centred text moves up by half the lines added, one on its bottom by all of them",
       "<svg:text x=\"1\" y=\"50\">" + a + a + a + "</svg:text><svg:text x=\"2\" y=\"50.5\">" + a + a +
           "</svg:text><svg:text x=\"3\" y=\"7\">" + a + a + "</svg:text>",
       {{{1, 1}, {2, 1}}, {{1, 1}}, {{1, 1}}},
       "<svg:text x=\"1\" y=\"38.0000\"><svg:tspan font-size=\"10\" >a</svg:tspan>\n"
       "<svg:tspan x=\"1\" dy=\"12.0000\" font-size=\"10\" >a</svg:tspan>\n"
       "<svg:tspan x=\"1\" dy=\"12.0000\" font-size=\"10\" >a</svg:tspan>\n</svg:text>"
       "<svg:text x=\"2\" y=\"38.5000\"><svg:tspan font-size=\"10\" >a</svg:tspan>\n"
       "<svg:tspan x=\"2\" dy=\"12.0000\" font-size=\"10\" >a</svg:tspan>\n</svg:text>"
       "<svg:text x=\"3\" y=\"7\"><svg:tspan font-size=\"10\" >a</svg:tspan>\n"
       "<svg:tspan x=\"3\" dy=\"12.0000\" font-size=\"10\" >a</svg:tspan>\n</svg:text>",
       {0.5, 1, 0}},
      {"an empty last line is not lifted for",
       "<svg:text x=\"1\" y=\"50\">" + a + "<svg:tspan font-size=\"10\" ></svg:tspan></svg:text>", {{{1, 1}}},
       "<svg:text x=\"1\" y=\"50\"><svg:tspan font-size=\"10\" >a</svg:tspan>\n"
       "<svg:tspan x=\"1\" dy=\"12.0000\" font-size=\"10\" ></svg:tspan></svg:text>",
       {0.5}},
      {"a text without added lines or without a y stays",
       "<svg:text x=\"1\" y=\"50\">" + a + "</svg:text><svg:text x=\"2\">" + a + a + "</svg:text>",
       {{}, {{1, 1}}},
       "<svg:text x=\"1\" y=\"50\"><svg:tspan font-size=\"10\" >a</svg:tspan>\n</svg:text>"
       "<svg:text x=\"2\"><svg:tspan font-size=\"10\" >a</svg:tspan>\n"
       "<svg:tspan x=\"2\" dy=\"12.0000\" font-size=\"10\" >a</svg:tspan>\n</svg:text>",
       {1, 1}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(diagramkit::breakTextLines(c.svg, "svg:", c.texts, c.lifts), c.lines);
  }
}

}  // namespace
