// The handle table, its stock objects and factory map, and how records read themselves.
#include <gtest/gtest.h>

#include "emf_test_util.h"
#include "support/emf_builder.h"

using namespace EMF;
using emftest::Loaded;
using testsupport::EmfBuilder;
using testsupport::Le;

TEST(EmfHandleTable, StockObjectsHaveTheirValuesAndMarkedHandles) {
  struct Case {
    int index;
    int type;
    UINT style;
    COLORREF color;
  };
  const Case cases[] = {
      {WHITE_BRUSH, OBJ_BRUSH, 0, 0xFFFFFF}, {LTGRAY_BRUSH, OBJ_BRUSH, 0, 0xB0B0B0}, {GRAY_BRUSH, OBJ_BRUSH, 0, 0x808080},
      {DKGRAY_BRUSH, OBJ_BRUSH, 0, 0x404040}, {BLACK_BRUSH, OBJ_BRUSH, 0, 0},         {NULL_BRUSH, OBJ_BRUSH, 1, 0},
      {WHITE_PEN, OBJ_PEN, 0, 0xFFFFFF},      {BLACK_PEN, OBJ_PEN, 0, 0},              {NULL_PEN, OBJ_PEN, 5, 0},
      {9, OBJ_PEN, 5, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.index);
    OBJECT* o = globalObjects.find(static_cast<unsigned>(c.index));
    ASSERT_NE(o, nullptr);
    EXPECT_EQ(o->handle, 0x80000000u | static_cast<unsigned>(c.index));
    EXPECT_EQ(o->getType(), c.type);
    if (auto* b = dynamic_cast<BRUSH*>(o)) {
      EXPECT_EQ(b->lb.lbStyle, c.style);
      EXPECT_EQ(b->lb.lbColor, c.color);
    } else {
      auto* p = dynamic_cast<PEN*>(o);
      ASSERT_NE(p, nullptr);
      EXPECT_EQ(p->lopn.lopnStyle, c.style);
      EXPECT_EQ(p->lopn.lopnColor, c.color);
    }
  }
  for (int i : {10, 11, 12, 13, 14, 16, 17}) {
    auto* f = dynamic_cast<FONT*>(globalObjects.find(0x80000000u | static_cast<unsigned>(i)));
    ASSERT_NE(f, nullptr) << i;
    EXPECT_EQ(f->elfw.elfPanose.bFamilyType, 1);
    EXPECT_EQ(f->elfw.elfPanose.bXHeight, 1);
    EXPECT_EQ(f->elfw.elfLogFont.lfHeight, 0);
  }
  EXPECT_EQ(globalObjects.find(15)->getType(), OBJ_PAL);
}

TEST(EmfHandleTable, FindAnswersNothingPastTheTableAndHandleZeroIsTheWhiteBrush) {
  EXPECT_EQ(globalObjects.find(0), globalObjects.find(0x80000000u));
  EXPECT_EQ(globalObjects.find(static_cast<unsigned>(globalObjects.objects.size())), nullptr);
  EXPECT_EQ(globalObjects.find(0x7FFFFFFFu), nullptr);
  EXPECT_EQ(globalObjects.find(0xFFFFFFFFu), nullptr);
  // A context is expected, the white brush is found: the call fails.
  EXPECT_EQ(DeleteEnhMetaFile(0), 0);
  EXPECT_EQ(DeleteDC(0), 0);
  EXPECT_EQ(outputEnhMetaFile(stdout, 0), 0);
}

TEST(EmfHandleTable, FreedSlotIsReusedWithoutTheStockMark) {
  const HDC first = CreateEnhMetaFileWithFILEA(0, nullptr, nullptr, nullptr);
  const HDC second = CreateEnhMetaFileWithFILEA(0, nullptr, nullptr, nullptr);
  ASSERT_NE(first, 0u);
  EXPECT_EQ(first & 0x80000000u, 0u);
  EXPECT_GE(first, 18u);
  ASSERT_EQ(DeleteDC(first), 1);
  EXPECT_EQ(globalObjects.find(first), nullptr);
  const HPEN pen = CreatePen(0, 1, 0);
  EXPECT_EQ(pen, first);
  DeleteObject(pen);
  DeleteDC(second);
}

TEST(EmfHandleTable, FactoryMapHoldsExactlyTheReadableTypes) {
  const std::vector<DWORD> expected = {2,  3,  4,  5,  6,  8,  9,  10, 11, 12, 14, 15, 17, 18, 19, 22, 24,
                                       25, 27, 28, 31, 32, 33, 34, 35, 36, 37, 38, 39, 40, 42, 43, 45, 54,
                                       55, 58, 59, 60, 61, 62, 63, 64, 82, 83, 85, 86, 87, 88, 89, 91, 95};
  std::vector<DWORD> types;
  for (const auto& [type, factory] : globalObjects.new_records) {
    types.push_back(type);
    EXPECT_NE(factory, nullptr);
  }
  EXPECT_EQ(types, expected);
  EXPECT_EQ(globalObjects.newRecord(1), nullptr);
  EXPECT_EQ(globalObjects.newRecord(49), nullptr);
  EXPECT_EQ(globalObjects.newRecord(81), nullptr);
}

// Records whose counts claim more than the record or the file holds are cut to what is there.
TEST(EmfRecords, CountsAreBoundedByTheRecordAndTheFile) {
  struct Case {
    const char* name;
    std::string record;
    std::size_t expectPoints;
  };
  auto rec = [](std::uint32_t type, const Le& body, std::uint32_t nSize) {
    return Le().u32(type).u32(nSize).raw(body.b).b;
  };
  const Case cases[] = {
      // cpts claims a billion points in a 36-byte record: two fit.
      {"polyline16", rec(87, Le().rect(0, 0, 0, 0).u32(1000000000).i16(1).i16(2).i16(3).i16(4), 36), 2},
      // nSize claims more than the file holds: only the points present are kept.
      {"polyline16 past file end", rec(87, Le().rect(0, 0, 0, 0).u32(50).i16(1).i16(2), 0x7FFFFFF0), 1},
      {"polyline 32-bit", rec(4, Le().rect(0, 0, 0, 0).u32(0xFFFFFFFF).i32(1).i32(2), 36), 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Loaded m(EmfBuilder().raw(c.record).bytes());
    ASSERT_NE(m.handle, 0u);
    ASSERT_EQ(m.records().size(), 2u);
    if (auto* r16 = dynamic_cast<POLY16RECORD*>(m.records()[1])) {
      EXPECT_EQ(r16->cpts, c.expectPoints);
      EXPECT_EQ(r16->apts.size(), c.expectPoints);
      EXPECT_EQ(r16->apts[0].x, 1);
    } else {
      auto* r32 = dynamic_cast<POLY32RECORD*>(m.records()[1]);
      ASSERT_NE(r32, nullptr);
      EXPECT_EQ(r32->cptl, c.expectPoints);
      EXPECT_EQ(r32->aptl.size(), c.expectPoints);
    }
  }
}

TEST(EmfRecords, PolyPolygonAndTextCountsAreBounded) {
  Le pp;
  pp.rect(0, 0, 0, 0).u32(0x40000000).u32(0x40000000).u32(3).i16(0).i16(0);
  Le text;
  text.rect(0, 0, 0, 0).u32(1).f32(1).f32(1);
  text.i32(5).i32(6).u32(0x7FFFFFFF).u32(76).u32(0).rect(0, 0, -1, -1).u32(80);  // EMRTEXT
  text.raw("abcd").i32(7);
  Loaded m(EmfBuilder().record(91, pp).record(83, text).eof().bytes());
  ASSERT_EQ(m.records().size(), 4u);
  auto* poly = dynamic_cast<EMRPOLYPOLYGON16*>(m.records()[1]);
  ASSERT_NE(poly, nullptr);
  EXPECT_LE(poly->aPolyCounts.size(), 2u);
  EXPECT_LE(poly->apts.size(), 1u);
  EXPECT_EQ(poly->nPolys, poly->aPolyCounts.size());
  auto* t = dynamic_cast<EMREXTTEXTOUTA*>(m.records()[2]);
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(t->emrtext.nChars, 1u);  // 8 bytes left: one character of text plus one advance
  EXPECT_EQ(t->string_a[0], 'a');
  ASSERT_EQ(t->dx.size(), 1u);
  EXPECT_EQ(t->emrtext.ptlReference.x, 5);
  EXPECT_NE(dynamic_cast<EMREOF*>(m.records()[3]), nullptr);
}

TEST(EmfRecords, ShortFontRecordStillReadsTheWholeFontAndTheNextRecordFollowsItsSize) {
  Le font;
  font.u32(1).i32(-12).zeros(92);  // ihFont, then the 92-byte LOGFONTW begins; record is 108 bytes
  ASSERT_EQ(font.b.size(), 100u);
  EmfBuilder b;
  b.record(82, font).point(27, 3, 4).eof();
  Loaded m(b.bytes());
  ASSERT_EQ(m.records().size(), 4u);
  auto* f = dynamic_cast<EMREXTCREATEFONTINDIRECTW*>(m.records()[1]);
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(f->elfw.elfLogFont.lfHeight, -12);
  EXPECT_EQ(f->nSize, 108u);
  // The full name starts 4 bytes before the record's end: its third unit is the type of the
  // MOVETOEX that follows.
  EXPECT_EQ(f->elfw.elfFullName[2], 27);
  auto* move = dynamic_cast<EMRMOVETOEX*>(m.records()[2]);
  ASSERT_NE(move, nullptr);
  EXPECT_EQ(move->ptl.x, 3);
  EXPECT_EQ(move->ptl.y, 4);
}

TEST(EmfRecords, MiterLimitIsReadAsAnInteger) {
  Loaded m(EmfBuilder().record(58, Le().i32(7)).bytes());
  auto* r = dynamic_cast<EMRSETMITERLIMIT*>(m.records().at(1));
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(r->eMiterLimit, 7.0f);
}
