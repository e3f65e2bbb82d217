// Building metafiles through the GDI-style calls, writing them, reading them back and playing
// them into another context.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>

#include "emf_test_util.h"

using namespace EMF;
using emftest::recordBytes;
using emftest::recordTypes;
using emftest::u32At;

namespace {

// An in-memory metafile context, deleted at the end of the test.
struct Context {
  Context() : dc(CreateEnhMetaFileWithFILEA(0, nullptr, nullptr, nullptr)) {}
  ~Context() { DeleteDC(dc); }
  METAFILEDEVICECONTEXT* operator->() const { return findContext(dc); }
  std::string lastRecord() const { return recordBytes(findContext(dc)->records.back()); }
  HDC dc;
};

std::string fileBytesOf(unsigned int handle) {
  std::string all;
  for (METARECORD* r : findContext(handle)->records) all += recordBytes(r);
  return all;
}

// Draws one of everything the calls can record.
void drawSample(HDC dc) {
  const HPEN pen = CreatePen(PS_DASH, 3, 0x112233);
  const HBRUSH brush = CreateSolidBrush(0x445566);
  const LOGBRUSH lb{BS_SOLID, 0x778899, 0};
  const HPEN ext = ExtCreatePen(0x10000, 2, &lb, 0, nullptr);
  const HFONT font = CreateFontA(-12, 0, 0, 0, 400, 0, 0, 0, 0, 0, 0, 0, 0, "Sans");
  SelectObject(dc, pen);
  SelectObject(dc, brush);
  SelectObject(dc, ext);
  SelectObject(dc, font);
  SelectObject(dc, GetStockObject(NULL_BRUSH));
  SetMapMode(dc, 8);
  SetWindowOrgEx(dc, 1, 2, nullptr);
  SetWindowExtEx(dc, 100, 200, nullptr);
  SetViewportOrgEx(dc, 3, 4, nullptr);
  SetViewportExtEx(dc, 50, 60, nullptr);
  ScaleViewportExtEx(dc, 2, 1, 3, 1, nullptr);
  ScaleWindowExtEx(dc, 1, 2, 1, 2, nullptr);
  const XFORM x{1, 0, 0, 1, 5, 6};
  SetWorldTransform(dc, &x);
  ModifyWorldTransform(dc, &x, MWT_LEFTMULTIPLY);
  SetTextAlign(dc, 6);
  SetTextColor(dc, 0xFF);
  SetBkColor(dc, 0xFF00);
  SetBkMode(dc, 1);
  SetPolyFillMode(dc, 2);
  SetMiterLimit(dc, 4, nullptr);
  SaveDC(dc);
  RestoreDC(dc, -1);
  SetMetaRgn(dc);
  MoveToEx(dc, 1, 1, nullptr);
  LineTo(dc, 20, 30);
  Arc(dc, 0, 0, 10, 10, 1, 1, 9, 9);
  ArcTo(dc, 0, 0, 10, 10, 1, 1, 9, 9);
  Rectangle(dc, 1, 2, 3, 4);
  Ellipse(dc, 5, 6, 7, 8);
  const POINT small[] = {{0, 0}, {10, 0}, {10, 10}, {0, 10}};
  const POINT big[] = {{0, 0}, {40000, 5}, {-70000, 9}, {1, 1}};
  Polyline(dc, small, 4);
  Polygon(dc, big, 4);
  PolyBezier(dc, small, 4);
  PolyBezierTo(dc, big, 3);
  PolylineTo(dc, small, 2);
  const INT counts[] = {2, 2};
  PolyPolygon(dc, small, counts, 2);
  PolyPolygon(dc, big, counts, 2);
  BeginPath(dc);
  CloseFigure(dc);
  EndPath(dc);
  FillPath(dc);
  StrokeAndFillPath(dc);
  StrokePath(dc);
  const INT dx[] = {5, 6, 7};
  ExtTextOutA(dc, 4, 5, 0, nullptr, "abc", 3, dx);
  TextOutA(dc, 6, 7, "hello", 5);
  SetPixel(dc, 2, 2, 0xABCDEF);
  DeleteObject(pen);
  DeleteObject(brush);
}

}  // namespace

TEST(EmfGdi, StockObjectsAreSelectedWithoutCreationRecords) {
  EXPECT_EQ(GetStockObject(18), 0u);
  EXPECT_EQ(GetStockObject(-1), 0u);
  EXPECT_EQ(GetStockObject(4), 0x80000004u);
  Context c;
  const HGDIOBJ previous = SelectObject(c.dc, GetStockObject(WHITE_BRUSH));
  EXPECT_EQ(previous, 0x80000004u);  // the default black brush
  EXPECT_EQ(recordTypes(c.dc), (std::vector<std::uint32_t>{1, 37}));
  EXPECT_EQ(u32At(c.lastRecord(), 8), 0x80000000u);
  EXPECT_EQ(DeleteObject(GetStockObject(BLACK_PEN)), 0);
}

TEST(EmfGdi, ObjectsGetOneNumberPerContext) {
  Context a, b;
  const HPEN pen = CreatePen(PS_SOLID, 1, 0);
  SelectObject(a.dc, pen);
  const std::string firstSelect = a.lastRecord();
  EXPECT_EQ(SelectObject(a.dc, pen), pen);
  EXPECT_EQ(recordTypes(a.dc), (std::vector<std::uint32_t>{1, 38, 37, 37}));
  EXPECT_EQ(a.lastRecord(), firstSelect);
  EXPECT_EQ(u32At(firstSelect, 8), 1u);
  EXPECT_EQ(a->header->nHandles, 2);
  SelectObject(b.dc, pen);
  EXPECT_EQ(recordTypes(b.dc), (std::vector<std::uint32_t>{1, 38, 37}));
  EXPECT_EQ(dynamic_cast<PEN*>(globalObjects.find(pen))->contexts.size(), 2u);
  DeleteObject(pen);
}

TEST(EmfGdi, DeletingASelectedObjectRestoresTheStockDefaultAndFreesItsNumber) {
  Context c;
  const HBRUSH brush = CreateSolidBrush(0xFF);
  SelectObject(c.dc, brush);
  ASSERT_EQ(DeleteObject(brush), 1);
  EXPECT_EQ(c->brush->handle, 0x80000004u);
  EXPECT_EQ(recordTypes(c.dc), (std::vector<std::uint32_t>{1, 39, 37, 40}));
  EXPECT_EQ(u32At(c.lastRecord(), 8), 1u);
  const HBRUSH next = CreateSolidBrush(0xFF00);
  SelectObject(c.dc, next);
  auto* created = dynamic_cast<EMRCREATEBRUSHINDIRECT*>(c->records.at(4));
  ASSERT_NE(created, nullptr);
  EXPECT_EQ(created->ihBrush, 1u);
  DeleteObject(next);
}

TEST(EmfGdi, DeleteDcForgetsTheContextInEveryObject) {
  const HPEN pen = CreatePen(PS_SOLID, 1, 0);
  const HDC first = CreateEnhMetaFileWithFILEA(0, nullptr, nullptr, nullptr);
  SelectObject(first, pen);
  ASSERT_EQ(DeleteDC(first), 1);
  EXPECT_TRUE(dynamic_cast<PEN*>(globalObjects.find(pen))->contexts.empty());
  Context reused;
  ASSERT_EQ(reused.dc, first);  // same slot, same handle
  SelectObject(reused.dc, pen);
  // The pen is new to this context: it is created here, with the context's own number.
  EXPECT_EQ(recordTypes(reused.dc), (std::vector<std::uint32_t>{1, 38, 37}));
  DeleteObject(pen);
  EXPECT_EQ(recordTypes(reused.dc), (std::vector<std::uint32_t>{1, 38, 37, 40}));
}

TEST(EmfGdi, PolylinesChooseTheirPointWidth) {
  Context c;
  const POINT inRange[] = {{-32768, 32767}, {5, 6}};
  const POINT outOfRange[] = {{0, 0}, {40000, 0}};
  Polyline(c.dc, inRange, 2);
  Polyline(c.dc, outOfRange, 2);
  Polyline(c.dc, outOfRange, 0);
  EXPECT_EQ(recordTypes(c.dc), (std::vector<std::uint32_t>{1, 87, 4, 87}));
  EXPECT_EQ(c->records[1]->size(), 28 + 8);
  EXPECT_EQ(c->records[2]->size(), 28 + 16);
  EXPECT_EQ(c->records[3]->size(), 28);
  EXPECT_EQ(Polyline(c.dc, nullptr, 3), 0);
  const INT negative[] = {2, -1};
  EXPECT_EQ(PolyPolygon(c.dc, inRange, negative, 2), 0);
}

TEST(EmfGdi, BoundsAndFrameFollowDrawing) {
  Context c;
  EXPECT_EQ(c->header->rclBounds.left, -10);
  LineTo(c.dc, 100, 50);
  const RECTL b = c->header->rclBounds;
  EXPECT_EQ(b.left, -10);
  EXPECT_EQ(b.top, -10);
  EXPECT_EQ(b.right, 110);
  EXPECT_EQ(b.bottom, 60);
  EXPECT_EQ(c->header->rclFrame.right, 3438);  // ceil(110 * 32000 / 1024)
  EXPECT_EQ(c->header->rclFrame.left, -313);   // floor(-10 * 32000 / 1024)

  const RECTL frame{0, 0, 32000, 24000};
  const HDC framed = CreateEnhMetaFileWithFILEA(0, nullptr, &frame, nullptr);
  LineTo(framed, 5000, 5000);
  const RECTL fb = findContext(framed)->header->rclBounds;
  EXPECT_EQ(fb.right, 1024);
  EXPECT_EQ(fb.bottom, 768);
  DeleteDC(framed);
}

TEST(EmfGdi, ScalingRefusesZeroDenominatorsAndZeroWindowExtents) {
  Context c;
  SIZEL ext;
  ASSERT_EQ(SetViewportExtEx(c.dc, 100000, 100000, nullptr), 1);
  // 100000 * 100000 overflows 32 bits on the way.
  ASSERT_EQ(ScaleViewportExtEx(c.dc, 100000, 100000, 3, 1, nullptr), 1);
  GetViewportExtEx(c.dc, &ext);
  EXPECT_EQ(ext.cx, 100000);
  EXPECT_EQ(ext.cy, 300000);
  const std::size_t records = c->records.size();
  struct Case {
    const char* name;
    BOOL (*call)(HDC);
  };
  const Case refused[] = {
      {"viewport x denominator 0", [](HDC dc) { return ScaleViewportExtEx(dc, 1, 0, 1, 1, nullptr); }},
      {"window y denominator 0", [](HDC dc) { return ScaleWindowExtEx(dc, 1, 1, 1, 0, nullptr); }},
      {"window scaled to 0", [](HDC dc) { return ScaleWindowExtEx(dc, 0, 1, 1, 1, nullptr); }},
      {"viewport past 32 bits", [](HDC dc) { return ScaleViewportExtEx(dc, 100000, 1, 1, 1, nullptr); }},
      {"window extent 0", [](HDC dc) { return SetWindowExtEx(dc, 0, 5, nullptr); }},
  };
  for (const Case& r : refused) {
    SCOPED_TRACE(r.name);
    EXPECT_EQ(r.call(c.dc), 0);
  }
  EXPECT_EQ(c->records.size(), records);
  GetWindowExtEx(c.dc, &ext);
  EXPECT_EQ(ext.cx, 1);
  EXPECT_EQ(ext.cy, 1);
  LineTo(c.dc, 3, 3);  // still maps through a usable window
}

TEST(EmfGdi, StateCallsAnswerPreviousValues) {
  Context c;
  EXPECT_EQ(SetTextColor(c.dc, 0xFF), 0u);
  EXPECT_EQ(SetTextColor(c.dc, 0xFF00), 0xFFu);
  EXPECT_EQ(SetBkColor(c.dc, 0), 0xFFFFFFu);
  EXPECT_EQ(SetTextAlign(c.dc, 0), 24u);
  EXPECT_EQ(SetBkMode(c.dc, 1), 2);
  EXPECT_EQ(SetPolyFillMode(c.dc, 2), 1);
  EXPECT_EQ(SetMapMode(c.dc, 8), 1);
  FLOAT limit = 0;
  EXPECT_EQ(SetMiterLimit(c.dc, 3, &limit), 1);
  EXPECT_EQ(limit, 10.0f);
  POINTL org;
  SetWindowOrgEx(c.dc, 7, 8, nullptr);
  EXPECT_EQ(SetWindowOrgEx(c.dc, 1, 1, &org), 1);
  EXPECT_EQ(org.x, 7);
  EXPECT_EQ(GetWindowOrgEx(c.dc, nullptr), 0);
  EXPECT_EQ(SetTextColor(0, 5), 0u);
}

TEST(EmfGdi, QueriesAndObjectCopies) {
  Context c;
  struct Cap {
    INT index;
    UINT value;
  };
  for (const Cap& cap : {Cap{0, 1}, Cap{2, 5}, Cap{4, 320}, Cap{6, 240}, Cap{8, 1024}, Cap{10, 768}, Cap{88, 96},
                         Cap{90, 96}, Cap{12, 0xFFFFFFFF}}) {
    EXPECT_EQ(GetDeviceCaps(c.dc, cap.index), cap.value) << cap.index;
  }
  EXPECT_EQ(GetDeviceCaps(0, 0), 0xFFFFFFFFu);

  unsigned char buf[200] = {};
  const HBRUSH brush = CreateSolidBrush(0x123456);
  EXPECT_EQ(GetObjectA(brush, 11, buf), 0);
  EXPECT_EQ(GetObjectA(brush, 12, buf), 12);
  EXPECT_EQ(u32At(std::string(reinterpret_cast<char*>(buf), 12), 4), 0x123456u);
  const HPEN pen = CreatePen(PS_DASH, 4, 0);
  EXPECT_EQ(GetObjectA(pen, 16, buf), 16);
  EXPECT_EQ(buf[0], PS_DASH);
  EXPECT_EQ(buf[4], 4);
  const HFONT font = CreateFontA(-12, 0, 0, 0, 700, 1, 0, 0, 0, 0, 0, 0, 0, "Serif");
  EXPECT_EQ(GetObjectA(font, 59, buf), 60);
  EXPECT_EQ(GetObjectA(font, 60, buf), 60);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buf) + 28), "Serif");
  EXPECT_EQ(GetObjectA(font, 200, buf), 192);
  EXPECT_EQ(buf[190 - 1], 1);  // the last PANOSE byte
  DeleteObject(brush);
  DeleteObject(pen);
  DeleteObject(font);

  char header[108];
  EXPECT_EQ(GetEnhMetaFileHeader(c.dc, sizeof header, header), 108u);
  EXPECT_EQ(GetEnhMetaFileHeader(c.dc, 8, header), 8u);
  EXPECT_EQ(GetEnhMetaFileHeader(c.dc, 8, nullptr), 0u);
  EXPECT_EQ(u32At(std::string(header, 8), 4), 108u);
}

TEST(EmfGdi, WrittenMetafileReadsBackRecordForRecord) {
  testsupport::TempDir dir;
  const auto path = dir / "out.emf";
  const RECTL frame{0, 0, 2000, 1000};
  const HDC dc = CreateEnhMetaFileA(0, path.c_str(), &frame, "app\0pic\0\0");
  ASSERT_NE(dc, 0u);
  EXPECT_EQ(findContext(dc)->header->nDescription, 9u);
  EXPECT_EQ(findContext(dc)->header->nSize, 128u);
  drawSample(dc);
  ASSERT_EQ(CloseEnhMetaFile(dc), dc);
  const std::string written = testsupport::readFile(path);
  ASSERT_EQ(written, fileBytesOf(dc));
  EXPECT_EQ(u32At(written, 48), written.size());  // nBytes
  EXPECT_EQ(u32At(written, 52), findContext(dc)->records.size());

  const HENHMETAFILE read = GetEnhMetaFileA(path.c_str());
  ASSERT_NE(read, 0u);
  EXPECT_EQ(recordTypes(read), recordTypes(dc));
  EXPECT_EQ(fileBytesOf(read), written);

  // Playing the metafile into a new context makes the same records.
  const auto copyPath = dir / "copy.emf";
  const HDC copy = CreateEnhMetaFileA(0, copyPath.c_str(), &frame, "app\0pic\0\0");
  ASSERT_EQ(PlayEnhMetaFile(copy, read), 1);
  CloseEnhMetaFile(copy);
  const std::string copied = testsupport::readFile(copyPath);
  // The copy has one EOF more: the one it played and the one its close appended.
  EXPECT_EQ(copied.substr(128, written.size() - 128 - 20), written.substr(128, written.size() - 128 - 20));

  // A closed metafile still converts and deletes.
  std::FILE* devnull = std::fopen("/dev/null", "w");
  EXPECT_EQ(outputEnhMetaFile(devnull, dc), 1);
  std::fclose(devnull);
  EXPECT_EQ(DeleteEnhMetaFile(dc), 1);
  for (HDC h : {dc, read, copy}) EXPECT_EQ(DeleteDC(h), 1);
}

// A file the library opened is the library's to close, whichever close call ends the metafile;
// a file the caller gave stays open after CloseEnhMetaFileWithFILE.
TEST(EmfGdi, ClosingWritesTheFileAndClosesOnlyTheLibrarysOwn) {
  auto openFiles = [] {
    std::size_t n = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator("/proc/self/fd")) ++n;
    return n;
  };
  testsupport::TempDir dir;
  for (bool withFile : {false, true}) {
    SCOPED_TRACE(withFile ? "CloseEnhMetaFileWithFILE" : "CloseEnhMetaFile");
    const auto path = dir / "m.emf";
    const std::size_t before = openFiles();
    const HDC dc = CreateEnhMetaFileA(0, path.c_str(), nullptr, nullptr);
    ASSERT_NE(dc, 0u);
    LineTo(dc, 3, 4);
    ASSERT_EQ(withFile ? CloseEnhMetaFileWithFILE(dc) : CloseEnhMetaFile(dc), dc);
    EXPECT_EQ(openFiles(), before);
    EXPECT_EQ(testsupport::readFile(path), fileBytesOf(dc));
    DeleteDC(dc);
  }
  std::FILE* own = std::tmpfile();
  ASSERT_NE(own, nullptr);
  const HDC dc = CreateEnhMetaFileWithFILEA(0, own, nullptr, nullptr);
  ASSERT_EQ(CloseEnhMetaFileWithFILE(dc), dc);
  EXPECT_EQ(std::ftell(own), 108 + 20);  // header and EOF, and the file still usable
  EXPECT_EQ(std::fclose(own), 0);
  DeleteDC(dc);
}

TEST(EmfGdi, PlayingIntoItselfCopiesOnce) {
  Context c;
  LineTo(c.dc, 1, 1);
  ASSERT_EQ(PlayEnhMetaFile(c.dc, c.dc), 1);
  EXPECT_EQ(recordTypes(c.dc), (std::vector<std::uint32_t>{1, 54, 54}));
  EXPECT_EQ(PlayEnhMetaFile(0, c.dc), 0);
}

TEST(EmfGdi, EditDumpsEveryRecord) {
  Context c;
  drawSample(c.dc);
  testing::internal::CaptureStdout();
  ASSERT_EQ(EditEnhMetaFile(c.dc), 1);
  const std::string dump = testing::internal::GetCapturedStdout();
  for (const char* line : {"*HEADER*", "*POLYLINE16*", "*POLYGON*", "*EXTTEXTOUTA*", "*EXTCREATEPEN*",
                           "\trclBox\t: (1, 2) - (3, 4)\n", "\tlopnStyle\t: PS_DASH\n", "*DELETEOBJECT*"})
    EXPECT_NE(dump.find(line), std::string::npos) << line;
}
