// The exported GDI-style calls. Each one takes the library lock, finds its handles in the
// handle table and checks their types before touching anything.
#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <mutex>
#include <string>
#include <vector>

#include "diagramkit/emf/devicecontext.h"
#include "diagramkit/emf/emf.h"
#include "platform/foundation/log.h"
#include "platform/foundation/utf8.h"

using namespace EMF;

namespace {

#define EMF_LOCK std::lock_guard<std::recursive_mutex> emfLock(libraryMutex())

// A context that can still take records.
METAFILEDEVICECONTEXT* liveContext(HDC dc) {
  METAFILEDEVICECONTEXT* c = findContext(dc);
  return c && c->header ? c : nullptr;
}

GRAPHICSOBJECT* findGraphics(HGDIOBJ h) { return dynamic_cast<GRAPHICSOBJECT*>(globalObjects.find(h)); }

template <typename T>
T* stockObject(int index) {
  return dynamic_cast<T*>(globalObjects.find(ENHMETA_STOCK_OBJECT | static_cast<unsigned int>(index)));
}

// UTF-16 to UTF-8; unpaired surrogates become U+FFFD.
std::string utf8FromUtf16(const WCHAR* s) {
  std::string out;
  for (std::size_t i = 0; s[i]; ++i) {
    std::uint32_t cp = s[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (static_cast<std::uint32_t>(s[i + 1]) - 0xDC00);
      ++i;
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      cp = 0xFFFD;
    }
    foundation::appendUtf8(out, cp);
  }
  return out;
}

// An 8-bit description "app\0picture\0\0", widened unit by unit up to its third NUL.
std::vector<WCHAR> widenDescription(const char* d) {
  std::vector<WCHAR> w;
  if (!d) return w;
  for (int nuls = 0; nuls < 3; ++d) {
    w.push_back(static_cast<WCHAR>(static_cast<unsigned char>(*d)));
    if (*d == 0) ++nuls;
  }
  return w;
}

// The whole file, or false when it cannot be read.
bool readWholeFile(const char* path, std::vector<char>& bytes) {
  FILE* f = std::fopen(path, "rb");
  if (!f) return false;
  struct stat st;
  if (::fstat(::fileno(f), &st) == 0 && S_ISREG(st.st_mode)) bytes.reserve(static_cast<std::size_t>(st.st_size));
  char chunk[1 << 16];
  std::size_t n;
  while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) bytes.insert(bytes.end(), chunk, chunk + n);
  const bool ok = !std::ferror(f);
  std::fclose(f);
  return ok;
}

HENHMETAFILE readMetafile(const char* path) {
  if (!path || !*path) return 0;
  // The records are read from a copy in memory: the reader seeks twice per record, and seeks on
  // a memory stream cost no system call.
  std::vector<char> bytes;
  if (!readWholeFile(path, bytes) || bytes.size() < 8) return 0;
  FILE* fp = ::fmemopen(bytes.data(), bytes.size(), "rb");
  if (!fp) return 0;
  auto* dc = new METAFILEDEVICECONTEXT(fp, nullptr, nullptr);
  const HDC handle = dc->handle;
  DATASTREAM& ds = dc->ds;
  ds.setFileSize(static_cast<std::int64_t>(bytes.size()));
  auto fail = [&] {
    DeleteDC(handle);  // the context does not own the stream
    std::fclose(fp);
    return HENHMETAFILE{0};
  };

  DWORD iType = 0, nSize = 0;
  ds >> iType >> nSize;
  if (std::feof(fp) || std::ferror(fp) || iType != EMR_HEADER) return fail();
  std::rewind(fp);
  dc->header->unserialize(ds);
  dc->header->nBytes = dc->header->nSize;
  dc->header->nRecords = 1;
  // A memory stream refuses to seek past its end, where a file would seek and then read
  // nothing: a record that starts past the end is not there.
  long pos = static_cast<long>(dc->header->nSize);
  while (std::fseek(fp, pos, SEEK_SET) == 0) {
    iType = nSize = 0;
    ds >> iType >> nSize;
    if (std::feof(fp)) break;
    if (nSize == 0) {
      foundation::log(foundation::LogLevel::Error, "emf", "GetEnhMetaFileW error: record size == 0. cannot continue");
      return fail();
    }
    if (RecordFactory make = globalObjects.newRecord(iType)) {
      std::fseek(fp, pos, SEEK_SET);
      dc->appendRecord(make(ds));
    } else {
      foundation::log(foundation::LogLevel::Warning, "emf",
                      "GetEnhMetaFileW warning: read unknown record type " + std::to_string(iType) + " of size " +
                          std::to_string(nSize));
    }
    pos += static_cast<long>(nSize);
  }
  std::fclose(fp);
  dc->fp = nullptr;
  ds.fp = nullptr;
  return handle;
}

HDC createMetafile(FILE* fp, bool ownsFile, const RECTL* frame, const WCHAR* description) {
  auto* c = new METAFILEDEVICECONTEXT(fp, frame, description);
  c->ownsFile = ownsFile;
  return c->handle;
}

HENHMETAFILE closeMetafile(HDC dc, bool closeFile) {
  METAFILEDEVICECONTEXT* c = liveContext(dc);
  if (!c) return 0;
  c->appendRecord(new EMREOF());
  if (c->fp) {
    for (METARECORD* r : c->records) r->serialize(c->ds);
    if (closeFile || c->ownsFile)  // a file the library opened is never left open
      std::fclose(c->fp);
    else
      std::fflush(c->fp);
    c->fp = nullptr;
    c->ds.fp = nullptr;
    c->ownsFile = false;
  }
  return dc;
}

unsigned int addObject(OBJECT* o) { return globalObjects.add(o); }

LOGFONTW logfontW(INT height, INT width, INT escapement, INT orientation, INT weight, DWORD italic,
                  DWORD underline, DWORD strikeout, DWORD charset, DWORD outprecision, DWORD clipprecision,
                  DWORD quality, DWORD pitchandfamily) {
  LOGFONTW lf;
  lf.lfHeight = height;
  lf.lfWidth = width;
  lf.lfEscapement = escapement;
  lf.lfOrientation = orientation;
  lf.lfWeight = weight;
  lf.lfItalic = static_cast<BYTE>(italic);
  lf.lfUnderline = static_cast<BYTE>(underline);
  lf.lfStrikeOut = static_cast<BYTE>(strikeout);
  lf.lfCharSet = static_cast<BYTE>(charset);
  lf.lfOutPrecision = static_cast<BYTE>(outprecision);
  lf.lfClipPrecision = static_cast<BYTE>(clipprecision);
  lf.lfQuality = static_cast<BYTE>(quality);
  lf.lfPitchAndFamily = static_cast<BYTE>(pitchandfamily);
  return lf;
}

template <typename C>
void copyFace(WCHAR (&dst)[LF_FACESIZE], const C* face) {
  if (!face) return;
  for (int i = 0; i < LF_FACESIZE - 1 && face[i]; ++i)
    dst[i] = static_cast<WCHAR>(static_cast<std::make_unsigned_t<C>>(face[i]));
}

BOOL setOrigin(HDC dc, INT x, INT y, POINTL* previous, bool viewport) {
  EMF_LOCK;
  METAFILEDEVICECONTEXT* c = liveContext(dc);
  if (!c) return 0;
  POINTL& org = viewport ? c->viewport_org : c->window_org;
  if (previous) *previous = org;
  org = POINTL{x, y};
  if (viewport)
    c->appendRecord(new EMRSETVIEWPORTORGEX(x, y));
  else
    c->appendRecord(new EMRSETWINDOWORGEX(x, y));
  return 1;
}

BOOL setExtent(HDC dc, INT cx, INT cy, SIZEL* previous, bool viewport) {
  EMF_LOCK;
  METAFILEDEVICECONTEXT* c = liveContext(dc);
  if (!c) return 0;
  if (!viewport && (cx == 0 || cy == 0)) return 0;  // a zero window extent would divide by zero
  SIZEL& ext = viewport ? c->viewport_ext : c->window_ext;
  if (previous) *previous = ext;
  ext = SIZEL{cx, cy};
  if (viewport)
    c->appendRecord(new EMRSETVIEWPORTEXTEX(cx, cy));
  else
    c->appendRecord(new EMRSETWINDOWEXTEX(cx, cy));
  return 1;
}

BOOL scaleExtent(HDC dc, INT xNum, INT xDenom, INT yNum, INT yDenom, SIZEL* previous, bool viewport) {
  EMF_LOCK;
  METAFILEDEVICECONTEXT* c = liveContext(dc);
  if (!c || xDenom == 0 || yDenom == 0) return 0;
  SIZEL& ext = viewport ? c->viewport_ext : c->window_ext;
  const std::int64_t cx = std::int64_t{ext.cx} * xNum / xDenom;
  const std::int64_t cy = std::int64_t{ext.cy} * yNum / yDenom;
  constexpr std::int64_t lo = std::numeric_limits<LONG>::min(), hi = std::numeric_limits<LONG>::max();
  if (cx < lo || cx > hi || cy < lo || cy > hi) return 0;
  if (!viewport && (cx == 0 || cy == 0)) return 0;
  if (previous) *previous = ext;
  ext = SIZEL{static_cast<LONG>(cx), static_cast<LONG>(cy)};
  if (viewport)
    c->appendRecord(new EMRSCALEVIEWPORTEXTEX(xNum, xDenom, yNum, yDenom));
  else
    c->appendRecord(new EMRSCALEWINDOWEXTEX(xNum, xDenom, yNum, yDenom));
  return 1;
}

template <typename R, typename... A>
BOOL appendOnly(HDC dc, A... args) {
  EMF_LOCK;
  METAFILEDEVICECONTEXT* c = liveContext(dc);
  if (!c) return 0;
  c->appendRecord(new R(args...));
  return 1;
}

// A point list as the 16-bit record when every coordinate fits, else the 32-bit one.
template <typename R16, typename R32>
BOOL polyPoints(HDC dc, DWORD type16, DWORD type32, const POINT* points, INT count) {
  EMF_LOCK;
  METAFILEDEVICECONTEXT* c = liveContext(dc);
  if (!c) return 0;
  if (count <= 0) {
    c->appendRecord(new R16(type16, nullptr, 0));
    return 1;
  }
  if (!points) return 0;
  const auto n = static_cast<DWORD>(count);
  const bool fits = std::all_of(points, points + n, [](const POINT& p) {
    return p.x >= -32768 && p.x <= 32767 && p.y >= -32768 && p.y <= 32767;
  });
  if (fits) {
    std::vector<POINT16> small(n);
    for (DWORD i = 0; i < n; ++i) small[i] = POINT16{static_cast<SHORT>(points[i].x), static_cast<SHORT>(points[i].y)};
    c->appendRecord(new R16(type16, small.data(), n));
  } else {
    c->appendRecord(new R32(type32, points, n));
  }
  for (DWORD i = 0; i < n; ++i) c->mergePoint(points[i].x, points[i].y);
  return 1;
}

template <typename R16>
BOOL polyPoints16(HDC dc, DWORD type16, const POINT16* points, INT count) {
  EMF_LOCK;
  METAFILEDEVICECONTEXT* c = liveContext(dc);
  if (!c) return 0;
  if (count > 0 && !points) return 0;
  const DWORD n = count > 0 ? static_cast<DWORD>(count) : 0;
  c->appendRecord(new R16(type16, points, n));
  for (DWORD i = 0; i < n; ++i) c->mergePoint(points[i].x, points[i].y);
  return 1;
}

// Polygon counts as DWORDs; false when a count is negative or the total overflows.
bool polygonCounts(const INT* counts, INT polygons, std::vector<DWORD>& out, DWORD& total) {
  out.clear();
  std::uint64_t sum = 0;
  for (INT i = 0; i < polygons; ++i) {
    if (counts[i] < 0) return false;
    sum += static_cast<std::uint64_t>(counts[i]);
    out.push_back(static_cast<DWORD>(counts[i]));
  }
  if (sum > (std::numeric_limits<DWORD>::max() - 32) / 8) return false;
  total = static_cast<DWORD>(sum);
  return true;
}

void boxPoints(METAFILEDEVICECONTEXT* c, INT left, INT top, INT right, INT bottom) {
  c->mergePoint(left, top);
  c->mergePoint(right, bottom);
}

}  // namespace

// ---- metafile life

HDC CreateEnhMetaFileA(HDC, const char* path, const RECTL* frame, const char* description) {
  EMF_LOCK;
  FILE* fp = nullptr;
  if (path && !(fp = std::fopen(path, "wb"))) return 0;
  const std::vector<WCHAR> wide = widenDescription(description);
  return createMetafile(fp, fp != nullptr, frame, description ? wide.data() : nullptr);
}

HDC CreateEnhMetaFileW(HDC, const WCHAR* path, const RECTL* frame, const WCHAR* description) {
  EMF_LOCK;
  FILE* fp = nullptr;
  if (path && !(fp = std::fopen(utf8FromUtf16(path).c_str(), "wb"))) return 0;
  return createMetafile(fp, fp != nullptr, frame, description);
}

HDC CreateEnhMetaFileWithFILEA(HDC, FILE* fp, const RECTL* frame, const char* description) {
  EMF_LOCK;
  const std::vector<WCHAR> wide = widenDescription(description);
  return createMetafile(fp, false, frame, description ? wide.data() : nullptr);
}

HDC CreateEnhMetaFileWithFILEW(HDC, FILE* fp, const RECTL* frame, const WCHAR* description) {
  EMF_LOCK;
  return createMetafile(fp, false, frame, description);
}

HDC CreateMetaFileA(const char* path) { return CreateEnhMetaFileA(0, path, nullptr, nullptr); }

HENHMETAFILE CloseEnhMetaFile(HDC dc) {
  EMF_LOCK;
  return closeMetafile(dc, true);
}

HENHMETAFILE CloseEnhMetaFileWithFILE(HDC dc) {
  EMF_LOCK;
  return closeMetafile(dc, false);
}

HENHMETAFILE CloseMetaFile(HDC dc) { return CloseEnhMetaFile(dc); }

BOOL DeleteEnhMetaFile(HENHMETAFILE metafile) {
  EMF_LOCK;
  METAFILEDEVICECONTEXT* c = findContext(metafile);
  if (!c) return 0;
  c->deleteMetafile();
  return 1;
}

BOOL DeleteMetaFile(HENHMETAFILE metafile) { return DeleteEnhMetaFile(metafile); }

BOOL DeleteDC(HDC dc) {
  EMF_LOCK;
  METAFILEDEVICECONTEXT* c = findContext(dc);
  if (!c) return 0;
  // Forget the context in every object, so a later context in the same slot starts clean.
  for (OBJECT* o : globalObjects.objects)
    if (auto* g = dynamic_cast<GRAPHICSOBJECT*>(o)) g->contexts.erase(c->handle);
  globalObjects.remove(c);
  return 1;
}

HENHMETAFILE GetEnhMetaFileA(const char* path) {
  EMF_LOCK;
  return readMetafile(path);
}

HENHMETAFILE GetEnhMetaFileW(const WCHAR* path) {
  EMF_LOCK;
  if (!path || !*path) return 0;
  return readMetafile(utf8FromUtf16(path).c_str());
}

UINT GetEnhMetaFileHeader(HENHMETAFILE metafile, UINT size, void* buffer) {
  EMF_LOCK;
  METAFILEDEVICECONTEXT* c = liveContext(metafile);
  if (!c || !buffer) return 0;
  char* bytes = nullptr;
  std::size_t length = 0;
  FILE* mem = ::open_memstream(&bytes, &length);
  if (!mem) return 0;
  c->header->serialize(DATASTREAM(mem));
  std::fclose(mem);
  const UINT n = static_cast<UINT>(std::min<std::size_t>({108, size, length}));
  std::memcpy(buffer, bytes, n);
  std::free(bytes);
  return n;
}

// ---- objects

HPEN CreatePen(INT style, INT width, COLORREF color) {
  EMF_LOCK;
  return addObject(new PEN(LOGPEN{static_cast<UINT>(style), POINTL{width, 0}, color}));
}

HPEN CreatePenIndirect(const LOGPEN* pen) {
  EMF_LOCK;
  return pen ? addObject(new PEN(*pen)) : 0;
}

HPEN ExtCreatePen(DWORD style, DWORD width, const LOGBRUSH* brush, DWORD, const DWORD*) {
  EMF_LOCK;
  if (!brush) return 0;
  // Style entries are not kept: the pen record has no room for them.
  return addObject(new EXTPEN(EXTLOGPEN{style, width, brush->lbStyle, brush->lbColor, brush->lbHatch, 0}));
}

HBRUSH CreateSolidBrush(COLORREF color) {
  EMF_LOCK;
  return addObject(new BRUSH(LOGBRUSH{BS_SOLID, color, 0}));
}

HBRUSH CreateBrushIndirect(const LOGBRUSH* brush) {
  EMF_LOCK;
  return brush ? addObject(new BRUSH(*brush)) : 0;
}

HFONT CreateFontA(INT height, INT width, INT escapement, INT orientation, INT weight, DWORD italic,
                  DWORD underline, DWORD strikeout, DWORD charset, DWORD outprecision, DWORD clipprecision,
                  DWORD quality, DWORD pitchandfamily, const char* face) {
  EMF_LOCK;
  LOGFONTW lf = logfontW(height, width, escapement, orientation, weight, italic, underline, strikeout, charset,
                         outprecision, clipprecision, quality, pitchandfamily);
  copyFace(lf.lfFaceName, face);
  return addObject(new FONT(extlogfontFrom(lf)));
}

HFONT CreateFontW(INT height, INT width, INT escapement, INT orientation, INT weight, DWORD italic,
                  DWORD underline, DWORD strikeout, DWORD charset, DWORD outprecision, DWORD clipprecision,
                  DWORD quality, DWORD pitchandfamily, const WCHAR* face) {
  EMF_LOCK;
  LOGFONTW lf = logfontW(height, width, escapement, orientation, weight, italic, underline, strikeout, charset,
                         outprecision, clipprecision, quality, pitchandfamily);
  copyFace(lf.lfFaceName, face);
  return addObject(new FONT(extlogfontFrom(lf)));
}

HFONT CreateFontIndirectA(const LOGFONTA* f) {
  if (!f) return 0;
  return CreateFontA(f->lfHeight, f->lfWidth, f->lfEscapement, f->lfOrientation, f->lfWeight, f->lfItalic,
                     f->lfUnderline, f->lfStrikeOut, f->lfCharSet, f->lfOutPrecision, f->lfClipPrecision,
                     f->lfQuality, f->lfPitchAndFamily, std::string(f->lfFaceName, strnlen(f->lfFaceName, 32)).c_str());
}

HFONT CreateFontIndirectW(const LOGFONTW* f) {
  EMF_LOCK;
  if (!f) return 0;
  LOGFONTW lf = *f;
  lf.lfFaceName[LF_FACESIZE - 1] = 0;
  return addObject(new FONT(extlogfontFrom(lf)));
}

HGDIOBJ GetStockObject(INT index) {
  return index >= 0 && index <= STOCK_LAST ? ENHMETA_STOCK_OBJECT | static_cast<unsigned int>(index) : 0;
}

HGDIOBJ SelectObject(HDC dc, HGDIOBJ object) {
  EMF_LOCK;
  METAFILEDEVICECONTEXT* c = liveContext(dc);
  GRAPHICSOBJECT* o = findGraphics(object);
  if (!c || !o) return 0;
  DWORD number = o->handle;
  if (!(o->handle & ENHMETA_STOCK_OBJECT)) {
    auto it = o->contexts.find(c->handle);
    if (it != o->contexts.end()) {
      number = it->second;
    } else {
      number = c->nextHandle();
      c->appendHandle(o->newEMR(c->handle, number));
    }
  }
  c->appendRecord(new EMRSELECTOBJECT(number));
  HGDIOBJ previous = 0;
  switch (o->getType()) {
    case OBJ_PEN:
      previous = c->pen->handle;
      c->pen = static_cast<PEN*>(o);
      break;
    case OBJ_BRUSH:
      previous = c->brush->handle;
      c->brush = static_cast<BRUSH*>(o);
      break;
    case OBJ_PAL:
      previous = c->palette->handle;
      c->palette = static_cast<PALETTE*>(o);
      break;
    case OBJ_FONT:
      previous = c->font->handle;
      c->font = static_cast<FONT*>(o);
      break;
    default:
      break;
  }
  return previous;
}

BOOL DeleteObject(HGDIOBJ object) {
  EMF_LOCK;
  GRAPHICSOBJECT* o = findGraphics(object);
  if (!o || (o->handle & ENHMETA_STOCK_OBJECT)) return 0;
  for (const auto& [dcHandle, number] : o->contexts) {
    METAFILEDEVICECONTEXT* c = findContext(dcHandle);
    if (!c) continue;
    c->appendRecord(new EMRDELETEOBJECT(number));
    c->freeHandle(number);
    if (c->pen == o) c->pen = stockObject<PEN>(BLACK_PEN);
    if (c->brush == o) c->brush = stockObject<BRUSH>(BLACK_BRUSH);
    if (c->palette == o) c->palette = stockObject<PALETTE>(DEFAULT_PALETTE);
    if (c->font == o) c->font = stockObject<FONT>(DEVICE_DEFAULT_FONT);
  }
  globalObjects.remove(o);
  return 1;
}

INT GetObjectA(HGDIOBJ object, INT size, void* buffer) {
  EMF_LOCK;
  GRAPHICSOBJECT* o = findGraphics(object);
  if (!o || !buffer) return 0;
  if (auto* b = dynamic_cast<BRUSH*>(o)) {
    if (size < static_cast<INT>(sizeof(LOGBRUSH))) return 0;
    std::memcpy(buffer, &b->lb, sizeof(LOGBRUSH));
    return sizeof(LOGBRUSH);
  }
  if (auto* p = dynamic_cast<PEN*>(o)) {
    if (size < static_cast<INT>(sizeof(LOGPEN))) return 0;
    std::memcpy(buffer, &p->lopn, sizeof(LOGPEN));
    return sizeof(LOGPEN);
  }
  if (auto* f = dynamic_cast<FONT*>(o)) {
    if (size < static_cast<INT>(sizeof(LOGFONTA))) return sizeof(LOGFONTA);
    EXTLOGFONTA a;
    const LOGFONTW& w = f->elfw.elfLogFont;
    a.elfLogFont.lfHeight = w.lfHeight;
    a.elfLogFont.lfWidth = w.lfWidth;
    a.elfLogFont.lfEscapement = w.lfEscapement;
    a.elfLogFont.lfOrientation = w.lfOrientation;
    a.elfLogFont.lfWeight = w.lfWeight;
    std::memcpy(&a.elfLogFont.lfItalic, &w.lfItalic, 8);
    for (int i = 0; i < LF_FACESIZE; ++i) a.elfLogFont.lfFaceName[i] = static_cast<char>(w.lfFaceName[i]);
    for (int i = 0; i < LF_FULLFACESIZE; ++i) a.elfFullName[i] = static_cast<char>(f->elfw.elfFullName[i]);
    for (int i = 0; i < LF_FACESIZE; ++i) a.elfStyle[i] = static_cast<char>(f->elfw.elfStyle[i]);
    a.elfVersion = f->elfw.elfVersion;
    a.elfStyleSize = f->elfw.elfStyleSize;
    a.elfMatch = f->elfw.elfMatch;
    a.elfReserved = f->elfw.elfReserved;
    std::memcpy(a.elfVendorId, f->elfw.elfVendorId, 4);
    a.elfCulture = f->elfw.elfCulture;
    a.elfPanose = f->elfw.elfPanose;
    const INT n = size >= static_cast<INT>(sizeof(EXTLOGFONTA)) ? sizeof(EXTLOGFONTA) : sizeof(LOGFONTA);
    std::memcpy(buffer, &a, static_cast<std::size_t>(n));
    return n;
  }
  return 0;
}

// ---- state

BOOL SetViewportOrgEx(HDC dc, INT x, INT y, POINTL* previous) { return setOrigin(dc, x, y, previous, true); }
BOOL SetWindowOrgEx(HDC dc, INT x, INT y, POINTL* previous) { return setOrigin(dc, x, y, previous, false); }
BOOL SetViewportExtEx(HDC dc, INT cx, INT cy, SIZEL* previous) { return setExtent(dc, cx, cy, previous, true); }
BOOL SetWindowExtEx(HDC dc, INT cx, INT cy, SIZEL* previous) { return setExtent(dc, cx, cy, previous, false); }
BOOL ScaleViewportExtEx(HDC dc, INT xn, INT xd, INT yn, INT yd, SIZEL* previous) {
  return scaleExtent(dc, xn, xd, yn, yd, previous, true);
}
BOOL ScaleWindowExtEx(HDC dc, INT xn, INT xd, INT yn, INT yd, SIZEL* previous) {
  return scaleExtent(dc, xn, xd, yn, yd, previous, false);
}

#define EMF_GETTER(NAME, TYPE, MEMBER)            \
  BOOL NAME(HDC dc, TYPE* out) {                  \
    EMF_LOCK;                                     \
    METAFILEDEVICECONTEXT* c = findContext(dc);   \
    if (!c || !out) return 0;                     \
    *out = c->MEMBER;                             \
    return 1;                                     \
  }
EMF_GETTER(GetViewportOrgEx, POINTL, viewport_org)
EMF_GETTER(GetWindowOrgEx, POINTL, window_org)
EMF_GETTER(GetViewportExtEx, SIZEL, viewport_ext)
EMF_GETTER(GetWindowExtEx, SIZEL, window_ext)
#undef EMF_GETTER

BOOL ModifyWorldTransform(HDC dc, const XFORM* xform, DWORD mode) {
  if (!xform) return 0;
  return appendOnly<EMRMODIFYWORLDTRANSFORM>(dc, *xform, mode);
}

BOOL SetWorldTransform(HDC dc, const XFORM* xform) {
  if (!xform) return 0;
  return appendOnly<EMRSETWORLDTRANSFORM>(dc, *xform);
}

#define EMF_SETTER(NAME, RTYPE, RECORD, MEMBER)    \
  RTYPE NAME(HDC dc, RTYPE value) {                \
    EMF_LOCK;                                      \
    METAFILEDEVICECONTEXT* c = liveContext(dc);    \
    if (!c) return 0;                              \
    const RTYPE previous = c->MEMBER;              \
    c->MEMBER = value;                             \
    c->appendRecord(new RECORD(value));            \
    return previous;                               \
  }
EMF_SETTER(SetTextAlign, UINT, EMRSETTEXTALIGN, text_alignment)
EMF_SETTER(SetTextColor, COLORREF, EMRSETTEXTCOLOR, text_color)
EMF_SETTER(SetBkColor, COLORREF, EMRSETBKCOLOR, bk_color)
EMF_SETTER(SetBkMode, INT, EMRSETBKMODE, bk_mode)
EMF_SETTER(SetPolyFillMode, INT, EMRSETPOLYFILLMODE, polyfill_mode)
EMF_SETTER(SetMapMode, INT, EMRSETMAPMODE, map_mode)
#undef EMF_SETTER

BOOL SetMiterLimit(HDC dc, FLOAT limit, FLOAT* previous) {
  EMF_LOCK;
  METAFILEDEVICECONTEXT* c = liveContext(dc);
  if (!c) return 0;
  if (previous) *previous = c->miter_limit;
  c->miter_limit = limit;
  c->appendRecord(new EMRSETMITERLIMIT(limit));
  return 1;
}

BOOL BeginPath(HDC dc) { return appendOnly<EMRBEGINPATH>(dc); }
BOOL EndPath(HDC dc) { return appendOnly<EMRENDPATH>(dc); }
BOOL CloseFigure(HDC dc) { return appendOnly<EMRCLOSEFIGURE>(dc); }
BOOL FillPath(HDC dc) { return appendOnly<EMRFILLPATH>(dc, RECTL{}); }
BOOL StrokeAndFillPath(HDC dc) { return appendOnly<EMRSTROKEANDFILLPATH>(dc, RECTL{}); }
BOOL StrokePath(HDC dc) { return appendOnly<EMRSTROKEPATH>(dc, RECTL{}); }
INT SaveDC(HDC dc) {
  appendOnly<EMRSAVEDC>(dc);
  return 0;
}
INT SetMetaRgn(HDC dc) {
  appendOnly<EMRSETMETARGN>(dc);
  return 0;
}
BOOL RestoreDC(HDC dc, INT relative) {
  appendOnly<EMRRESTOREDC>(dc, relative);
  return 0;
}

// ---- drawing

BOOL MoveToEx(HDC dc, INT x, INT y, POINTL* previous) {
  EMF_LOCK;
  METAFILEDEVICECONTEXT* c = liveContext(dc);
  if (!c) return 0;
  c->appendRecord(new EMRMOVETOEX(x, y));
  if (previous) *previous = c->point;
  c->point = POINTL{x, y};
  c->mergePoint(x, y);
  return 1;
}

BOOL LineTo(HDC dc, INT x, INT y) {
  EMF_LOCK;
  METAFILEDEVICECONTEXT* c = liveContext(dc);
  if (!c) return 0;
  c->appendRecord(new EMRLINETO(x, y));
  c->point = POINTL{x, y};
  c->mergePoint(x, y);
  return 1;
}

#define EMF_ARC(NAME, RECORD)                                                                      \
  BOOL NAME(HDC dc, INT left, INT top, INT right, INT bottom, INT xs, INT ys, INT xe, INT ye) {    \
    EMF_LOCK;                                                                                      \
    METAFILEDEVICECONTEXT* c = liveContext(dc);                                                    \
    if (!c) return 0;                                                                              \
    c->appendRecord(new RECORD(RECTL{left, top, right, bottom}, POINTL{xs, ys}, POINTL{xe, ye}));  \
    boxPoints(c, left, top, right, bottom);                                                        \
    return 1;                                                                                      \
  }
EMF_ARC(Arc, EMRARC)
EMF_ARC(ArcTo, EMRARCTO)
#undef EMF_ARC

#define EMF_BOX(NAME, RECORD)                                      \
  BOOL NAME(HDC dc, INT left, INT top, INT right, INT bottom) {    \
    EMF_LOCK;                                                      \
    METAFILEDEVICECONTEXT* c = liveContext(dc);                    \
    if (!c) return 0;                                              \
    c->appendRecord(new RECORD(RECTL{left, top, right, bottom}));  \
    boxPoints(c, left, top, right, bottom);                        \
    return 1;                                                      \
  }
EMF_BOX(Rectangle, EMRRECTANGLE)
EMF_BOX(Ellipse, EMRELLIPSE)
#undef EMF_BOX

BOOL Polyline(HDC dc, const POINT* p, INT n) {
  return polyPoints<EMRPOLYLINE16, EMRPOLYLINE>(dc, EMR_POLYLINE16, EMR_POLYLINE, p, n);
}
BOOL Polygon(HDC dc, const POINT* p, INT n) {
  return polyPoints<EMRPOLYGON16, EMRPOLYGON>(dc, EMR_POLYGON16, EMR_POLYGON, p, n);
}
BOOL PolyBezier(HDC dc, const POINT* p, INT n) {
  return polyPoints<EMRPOLYBEZIER16, EMRPOLYBEZIER>(dc, EMR_POLYBEZIER16, EMR_POLYBEZIER, p, n);
}
BOOL PolyBezierTo(HDC dc, const POINT* p, INT n) {
  return polyPoints<EMRPOLYBEZIERTO16, EMRPOLYBEZIERTO>(dc, EMR_POLYBEZIERTO16, EMR_POLYBEZIERTO, p, n);
}
BOOL PolylineTo(HDC dc, const POINT* p, INT n) {
  return polyPoints<EMRPOLYLINETO16, EMRPOLYLINETO>(dc, EMR_POLYLINETO16, EMR_POLYLINETO, p, n);
}
BOOL Polyline16(HDC dc, const POINT16* p, INT n) { return polyPoints16<EMRPOLYLINE16>(dc, EMR_POLYLINE16, p, n); }
BOOL Polygon16(HDC dc, const POINT16* p, INT n) { return polyPoints16<EMRPOLYGON16>(dc, EMR_POLYGON16, p, n); }
BOOL PolyBezier16(HDC dc, const POINT16* p, INT n) {
  return polyPoints16<EMRPOLYBEZIER16>(dc, EMR_POLYBEZIER16, p, n);
}
BOOL PolyBezierTo16(HDC dc, const POINT16* p, INT n) {
  return polyPoints16<EMRPOLYBEZIERTO16>(dc, EMR_POLYBEZIERTO16, p, n);
}
BOOL PolylineTo16(HDC dc, const POINT16* p, INT n) {
  return polyPoints16<EMRPOLYLINETO16>(dc, EMR_POLYLINETO16, p, n);
}

BOOL PolyPolygon(HDC dc, const POINT* points, const INT* counts, INT polygons) {
  EMF_LOCK;
  METAFILEDEVICECONTEXT* c = liveContext(dc);
  if (!c) return 0;
  if (polygons <= 0) {
    c->appendRecord(new EMRPOLYPOLYGON16(nullptr, nullptr, 0));
    return 1;
  }
  std::vector<DWORD> n;
  DWORD total = 0;
  if (!counts || !polygonCounts(counts, polygons, n, total) || (total && !points)) return 0;
  const bool fits = std::all_of(points, points + total, [](const POINT& p) {
    return p.x >= -32768 && p.x <= 32767 && p.y >= -32768 && p.y <= 32767;
  });
  if (fits) {
    std::vector<POINT16> small(total);
    for (DWORD i = 0; i < total; ++i)
      small[i] = POINT16{static_cast<SHORT>(points[i].x), static_cast<SHORT>(points[i].y)};
    c->appendRecord(new EMRPOLYPOLYGON16(small.data(), n.data(), static_cast<DWORD>(n.size())));
  } else {
    c->appendRecord(new EMRPOLYPOLYGON(points, n.data(), static_cast<DWORD>(n.size())));
  }
  for (DWORD i = 0; i < total; ++i) c->mergePoint(points[i].x, points[i].y);
  return 1;
}

BOOL PolyPolygon16(HDC dc, const POINT16* points, const INT* counts, INT polygons) {
  EMF_LOCK;
  METAFILEDEVICECONTEXT* c = liveContext(dc);
  if (!c) return 0;
  std::vector<DWORD> n;
  DWORD total = 0;
  if (polygons > 0 && (!counts || !polygonCounts(counts, polygons, n, total) || (total && !points))) return 0;
  c->appendRecord(new EMRPOLYPOLYGON16(points, n.data(), static_cast<DWORD>(n.size())));
  for (DWORD i = 0; i < total; ++i) c->mergePoint(points[i].x, points[i].y);
  return 1;
}

BOOL ExtTextOutA(HDC dc, INT x, INT y, UINT options, const RECTL* clip, const char* text, UINT length,
                 const INT* dx) {
  EMF_LOCK;
  METAFILEDEVICECONTEXT* c = liveContext(dc);
  if (!c) return 0;
  c->appendRecord(new EMREXTTEXTOUTA(x, y, options, clip, text, length, dx));
  c->mergePoint(x, y);
  return 1;
}

BOOL TextOutA(HDC dc, INT x, INT y, const char* text, INT length) {
  if (length < 0) return 0;
  return ExtTextOutA(dc, x, y, 0, nullptr, text, static_cast<UINT>(length), nullptr);
}

COLORREF SetPixel(HDC dc, INT x, INT y, COLORREF color) {
  EMF_LOCK;
  METAFILEDEVICECONTEXT* c = liveContext(dc);
  if (!c) return 0;
  c->appendRecord(new EMRSETPIXELV(x, y, color));
  c->mergePoint(x, y);
  return 0;
}

// ---- queries and placeholders

UINT GetDeviceCaps(HDC dc, INT index) {
  EMF_LOCK;
  constexpr UINT none = 0xFFFFFFFF;
  METAFILEDEVICECONTEXT* c = findContext(dc);
  if (!c) return none;
  switch (index) {
    case 0:
      return 1;
    case 2:
      return 5;
    case 88:
      return static_cast<UINT>(c->resolution.cx);
    case 90:
      return static_cast<UINT>(c->resolution.cy);
    default:
      break;
  }
  if (!c->header) return none;
  switch (index) {
    case 4:
      return static_cast<UINT>(c->header->szlMillimeters.cx);
    case 6:
      return static_cast<UINT>(c->header->szlMillimeters.cy);
    case 8:
      return static_cast<UINT>(c->header->szlDevice.cx);
    case 10:
      return static_cast<UINT>(c->header->szlDevice.cy);
    default:
      return none;
  }
}

DWORD GetLastError(void) { return 0; }
INT GetTextFaceA(HDC, INT, char*) { return 0; }
BOOL SetTextJustification(HDC, INT, INT) { return 0; }
BOOL GetTextMetricsA(HDC, void*) { return 0; }
BOOL GetTextExtentPoint32A(HDC, const char*, INT, SIZEL*) { return 0; }
INT SetTextCharacterExtra(HDC, INT) { return 0; }
INT GetTextCharacterExtra(HDC) { return 0; }
unsigned int GetDesktopWindow(void) { return 0; }
HDC GetDC(unsigned int) { return 0; }
INT ReleaseDC(unsigned int, HDC) { return 1; }
INT EnumFontFamiliesA(HDC, const char*, void*, long) { return 1; }
INT EnumFontFamiliesW(HDC, const WCHAR*, void*, long) { return 1; }
INT EnumFontFamiliesExA(HDC, LOGFONTA*, void*, long, DWORD) { return 1; }
INT EnumFontFamiliesExW(HDC, LOGFONTW*, void*, long, DWORD) { return 1; }
INT EnumFontsA(HDC, const char*, void*, long) { return 1; }
INT EnumFontsW(HDC, const WCHAR*, void*, long) { return 1; }
INT StretchDIBits(HDC, INT, INT, INT, INT, INT, INT, INT, INT, const void*, const void*, UINT, DWORD) { return 1; }
INT SetDIBitsToDevice(HDC, INT, INT, DWORD, DWORD, INT, INT, UINT, UINT, const void*, const void*, UINT) {
  return 1;
}

// ---- playback, dumps and SVG

BOOL PlayEnhMetaFile(HDC target, HENHMETAFILE metafile) {
  EMF_LOCK;
  METAFILEDEVICECONTEXT* source = findContext(metafile);
  if (!source || !findContext(target)) return 0;
  source->emf_handles.clear();
  // By index: playing a metafile into itself appends to the list being played.
  const std::size_t n = source->records.size();
  for (std::size_t i = 0; i < n && i < source->records.size(); ++i) source->records[i]->execute(source, target);
  return 1;
}

BOOL EditEnhMetaFile(HENHMETAFILE metafile) {
  EMF_LOCK;
  METAFILEDEVICECONTEXT* c = findContext(metafile);
  if (!c) return 0;
  for (const METARECORD* r : c->records) r->edit();
  return 1;
}
