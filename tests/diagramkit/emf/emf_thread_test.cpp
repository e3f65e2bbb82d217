// Two conversions on two threads give the same text as one after the other.
#include <gtest/gtest.h>

#include <thread>

#include "emf_test_util.h"
#include "support/emf_builder.h"

using testsupport::EmfBuilder;

namespace {

std::string convert(const std::string& path) {
  const HENHMETAFILE h = GetEnhMetaFileA(path.c_str());
  if (!h) return "load failed";
  const std::string svg = emftest::svgOf(h);
  DeleteEnhMetaFile(h);
  DeleteDC(h);
  return svg;
}

}  // namespace

TEST(EmfThreads, ConcurrentConversionsDoNotInterleave) {
  testsupport::TempDir dir;
  EmfBuilder a;
  EmfBuilder b;
  for (int i = 0; i < 200; ++i) {
    a.modifyWorldTransform(1.01f, 0, 0, 1.01f, 1, 0, 2).extPen(1, 0x10000, 2, 0xFF).poly16(87, {{1, 2}, {3, 4}});
    b.brush(1, 0, 0x00FF00).empty(59).poly16(86, {{5, 6}, {7, 8}, {9, 9}}).empty(60);
  }
  const std::string pa = dir.write("a.emf", a.eof().bytes()).string();
  const std::string pb = dir.write("b.emf", b.eof().bytes()).string();
  const std::string expectA = convert(pa);
  const std::string expectB = convert(pb);
  ASSERT_NE(expectA, expectB);
  int mismatchesA = 0, mismatchesB = 0;
  std::thread ta([&] {
    for (int i = 0; i < 20; ++i) mismatchesA += convert(pa) != expectA;
  });
  std::thread tb([&] {
    for (int i = 0; i < 20; ++i) mismatchesB += convert(pb) != expectB;
  });
  ta.join();
  tb.join();
  EXPECT_EQ(mismatchesA, 0);
  EXPECT_EQ(mismatchesB, 0);
}
