// Reading and writing of the records in file layout.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "diagramkit/emf/devicecontext.h"
#include "diagramkit/emf/records.h"

namespace EMF {

namespace {

// At most as many elements as `bytes` holds.
DWORD bounded(DWORD count, std::uint64_t bytes, std::size_t element) {
  return static_cast<DWORD>(std::min<std::uint64_t>(count, bytes / element));
}

std::uint64_t roundUp4(std::uint64_t n) { return (n + 3) & ~std::uint64_t{3}; }

template <typename P>
RECTL extentOf(const P* points, DWORD n) {
  RECTL r;
  if (n == 0) return r;
  r.left = r.right = points[0].x;
  r.top = r.bottom = points[0].y;
  for (DWORD i = 1; i < n; ++i) {
    r.left = std::min<LONG>(r.left, points[i].x);
    r.right = std::max<LONG>(r.right, points[i].x);
    r.top = std::min<LONG>(r.top, points[i].y);
    r.bottom = std::max<LONG>(r.bottom, points[i].y);
  }
  return r;
}

}  // namespace

void METARECORD::execute(METAFILEDEVICECONTEXT*, unsigned int) const {}
void METARECORD::output(METAFILEDEVICECONTEXT*, FILE*) const {}

// ---- header

ENHMETAHEADER::ENHMETAHEADER(const WCHAR* desc) {
  if (!desc) return;
  DWORD n = 0;
  for (int nuls = 0; nuls < 3; ++n)
    if (desc[n] == 0) ++nuls;
  nSize = nBytes = static_cast<DWORD>(roundUp4(108 + 2ull * n));
  nDescription = n;
  offDescription = 108;
  description.assign((nSize - 108) / 2, 0);
  std::copy(desc, desc + n, description.begin());
}

bool ENHMETAHEADER::unserialize(DATASTREAM ds) {
  if (!ds.fp) return false;
  const long start = ds.tell();
  ds >> iType >> nSize >> rclBounds >> rclFrame >> dSignature >> nVersion >> nBytes >> nRecords >> nHandles >>
      sReserved >> nDescription >> offDescription >> nPalEntries >> szlDevice >> szlMillimeters;
  if (offDescription >= 100) ds >> cbPixelFormat >> offPixelFormat >> bOpenGL;
  if (offDescription >= 108) ds >> szlMicrometers;
  // The description runs from its offset (clamped to the header) to the end of the header, and
  // never past the bytes the header and the file really hold.
  const DWORD units = (nSize - std::min(offDescription, nSize)) / 2;
  description.assign(bounded(units, ds.recordBytesLeft(start, nSize), 2), 0);
  for (auto& c : description) ds >> c;
  return true;
}

bool ENHMETAHEADER::serialize(DATASTREAM ds) {
  ds << iType << nSize << rclBounds << rclFrame << dSignature << nVersion << nBytes << nRecords << nHandles
     << sReserved << nDescription << offDescription << nPalEntries << szlDevice << szlMillimeters
     << cbPixelFormat << offPixelFormat << bOpenGL << szlMicrometers;
  for (auto c : description) ds << c;
  return true;
}

// ---- point lists

POLY32RECORD::POLY32RECORD(DATASTREAM& ds) {
  const long start = ds.tell();
  ds >> iType >> nSize >> rclBounds >> cptl;
  cptl = bounded(cptl, ds.recordBytesLeft(start, nSize), sizeof(POINTL));
  aptl.resize(cptl);
  ds >> POINTLARRAY{aptl.data(), cptl};
}

POLY32RECORD::POLY32RECORD(DWORD type, const POINTL* points, DWORD count)
    : iType(type), nSize(28 + 8 * count), rclBounds(extentOf(points, count)), cptl(count),
      aptl(points, points + count) {}

bool POLY32RECORD::serialize(DATASTREAM ds) {
  ds << iType << nSize << rclBounds << cptl << POINTLARRAY{aptl.data(), cptl};
  return true;
}

POLY16RECORD::POLY16RECORD(DATASTREAM& ds) {
  const long start = ds.tell();
  ds >> iType >> nSize >> rclBounds >> cpts;
  cpts = bounded(cpts, ds.recordBytesLeft(start, nSize), sizeof(POINT16));
  apts.resize(cpts);
  ds >> POINT16ARRAY{apts.data(), cpts};
}

POLY16RECORD::POLY16RECORD(DWORD type, const POINT16* points, DWORD count)
    : iType(type), nSize(28 + 4 * count), rclBounds(extentOf(points, count)), cpts(count),
      apts(points, points + count) {}

bool POLY16RECORD::serialize(DATASTREAM ds) {
  ds << iType << nSize << rclBounds << cpts << POINT16ARRAY{apts.data(), cpts};
  return true;
}

EMRPOLYPOLYGON::EMRPOLYPOLYGON(DATASTREAM& ds) {
  const long start = ds.tell();
  ds >> iType >> nSize >> rclBounds >> nPolys >> cptl;
  nPolys = bounded(nPolys, ds.recordBytesLeft(start, nSize), sizeof(DWORD));
  aPolyCounts.resize(nPolys);
  for (auto& c : aPolyCounts) ds >> c;
  cptl = bounded(cptl, ds.recordBytesLeft(start, nSize), sizeof(POINTL));
  aptl.resize(cptl);
  ds >> POINTLARRAY{aptl.data(), cptl};
}

EMRPOLYPOLYGON::EMRPOLYPOLYGON(const POINTL* points, const DWORD* counts, DWORD polygons)
    : nPolys(polygons), aPolyCounts(counts, counts + polygons) {
  for (DWORD c : aPolyCounts) cptl += c;
  aptl.assign(points, points + cptl);
  rclBounds = extentOf(points, cptl);
  nSize = 32 + 4 * nPolys + 8 * cptl;
}

bool EMRPOLYPOLYGON::serialize(DATASTREAM ds) {
  ds << iType << nSize << rclBounds << nPolys << cptl;
  for (auto c : aPolyCounts) ds << c;
  ds << POINTLARRAY{aptl.data(), cptl};
  return true;
}

EMRPOLYPOLYGON16::EMRPOLYPOLYGON16(DATASTREAM& ds) {
  const long start = ds.tell();
  ds >> iType >> nSize >> rclBounds >> nPolys >> cpts;
  nPolys = bounded(nPolys, ds.recordBytesLeft(start, nSize), sizeof(DWORD));
  aPolyCounts.resize(nPolys);
  for (auto& c : aPolyCounts) ds >> c;
  cpts = bounded(cpts, ds.recordBytesLeft(start, nSize), sizeof(POINT16));
  apts.resize(cpts);
  ds >> POINT16ARRAY{apts.data(), cpts};
}

EMRPOLYPOLYGON16::EMRPOLYPOLYGON16(const POINT16* points, const DWORD* counts, DWORD polygons)
    : nPolys(polygons), aPolyCounts(counts, counts + polygons) {
  for (DWORD c : aPolyCounts) cpts += c;
  apts.assign(points, points + cpts);
  rclBounds = extentOf(points, cpts);
  nSize = 32 + 4 * nPolys + 4 * cpts;
}

bool EMRPOLYPOLYGON16::serialize(DATASTREAM ds) {
  ds << iType << nSize << rclBounds << nPolys << cpts;
  for (auto c : aPolyCounts) ds << c;
  ds << POINT16ARRAY{apts.data(), cpts};
  return true;
}

// ---- small records

#define EMF_IO(NAME, READ, WRITE)                         \
  NAME::NAME(DATASTREAM& ds) { ds >> iType >> nSize READ; } \
  bool NAME::serialize(DATASTREAM ds) {                   \
    ds << iType << nSize WRITE;                           \
    return true;                                          \
  }

EMF_IO(EMRSETWINDOWEXTEX, >> szlExtent, << szlExtent)
EMF_IO(EMRSETVIEWPORTEXTEX, >> szlExtent, << szlExtent)
EMRSETWINDOWEXTEX::EMRSETWINDOWEXTEX(LONG cx, LONG cy) : szlExtent{cx, cy} {}
EMRSETVIEWPORTEXTEX::EMRSETVIEWPORTEXTEX(LONG cx, LONG cy) : szlExtent{cx, cy} {}

EMF_IO(EMRSETWINDOWORGEX, >> ptlOrigin, << ptlOrigin)
EMF_IO(EMRSETVIEWPORTORGEX, >> ptlOrigin, << ptlOrigin)
EMF_IO(EMRMOVETOEX, >> ptl, << ptl)
EMF_IO(EMRLINETO, >> ptl, << ptl)
EMRSETWINDOWORGEX::EMRSETWINDOWORGEX(LONG x, LONG y) : ptlOrigin{x, y} {}
EMRSETVIEWPORTORGEX::EMRSETVIEWPORTORGEX(LONG x, LONG y) : ptlOrigin{x, y} {}
EMRMOVETOEX::EMRMOVETOEX(LONG x, LONG y) : ptl{x, y} {}
EMRLINETO::EMRLINETO(LONG x, LONG y) : ptl{x, y} {}

EMF_IO(EMREOF, >> nPalEntries >> offPalEntries >> nSizeLast, << nPalEntries << offPalEntries << nSizeLast)
EMREOF::EMREOF() : offPalEntries(16) {}

EMF_IO(EMRSETPIXELV, >> ptlPixel >> crColor, << ptlPixel << crColor)
EMRSETPIXELV::EMRSETPIXELV(LONG x, LONG y, COLORREF color) : ptlPixel{x, y}, crColor(color) {}

#define EMF_VALUE_IO(NAME, VTYPE, FIELD) \
  EMF_IO(NAME, >> FIELD, << FIELD)       \
  NAME::NAME(VTYPE value) : FIELD(value) {}
EMF_VALUE_IO(EMRSETMAPMODE, DWORD, iMode)
EMF_VALUE_IO(EMRSETBKMODE, DWORD, iMode)
EMF_VALUE_IO(EMRSETPOLYFILLMODE, DWORD, iMode)
EMF_VALUE_IO(EMRSETTEXTALIGN, DWORD, iMode)
EMF_VALUE_IO(EMRSETTEXTCOLOR, COLORREF, crColor)
EMF_VALUE_IO(EMRSETBKCOLOR, COLORREF, crColor)
EMF_VALUE_IO(EMRRESTOREDC, LONG, iRelative)
EMF_VALUE_IO(EMRSELECTOBJECT, DWORD, ihObject)
EMF_VALUE_IO(EMRDELETEOBJECT, DWORD, ihObject)

EMF_IO(EMRSETMETARGN, , )
EMF_IO(EMRSAVEDC, , )
EMF_IO(EMRBEGINPATH, , )
EMF_IO(EMRENDPATH, , )
EMF_IO(EMRCLOSEFIGURE, , )

EMF_IO(EMRSCALEVIEWPORTEXTEX, >> xNum >> xDenom >> yNum >> yDenom, << xNum << xDenom << yNum << yDenom)
EMF_IO(EMRSCALEWINDOWEXTEX, >> xNum >> xDenom >> yNum >> yDenom, << xNum << xDenom << yNum << yDenom)
EMRSCALEVIEWPORTEXTEX::EMRSCALEVIEWPORTEXTEX(LONG xn, LONG xd, LONG yn, LONG yd)
    : xNum(xn), xDenom(xd), yNum(yn), yDenom(yd) {}
EMRSCALEWINDOWEXTEX::EMRSCALEWINDOWEXTEX(LONG xn, LONG xd, LONG yn, LONG yd)
    : xNum(xn), xDenom(xd), yNum(yn), yDenom(yd) {}

EMF_IO(EMRSETWORLDTRANSFORM, >> xform, << xform)
EMRSETWORLDTRANSFORM::EMRSETWORLDTRANSFORM(const XFORM& x) : xform(x) {}
EMF_IO(EMRMODIFYWORLDTRANSFORM, >> xform >> iMode, << xform << iMode)
EMRMODIFYWORLDTRANSFORM::EMRMODIFYWORLDTRANSFORM(const XFORM& x, DWORD mode) : xform(x), iMode(mode) {}

EMF_IO(EMRCREATEPEN, >> ihPen >> lopn, << ihPen << lopn)
EMRCREATEPEN::EMRCREATEPEN(DWORD handle, const LOGPEN& pen) : ihPen(handle), lopn(pen) {}
EMF_IO(EMRCREATEBRUSHINDIRECT, >> ihBrush >> lb, << ihBrush << lb)
EMRCREATEBRUSHINDIRECT::EMRCREATEBRUSHINDIRECT(DWORD handle, const LOGBRUSH& brush) : ihBrush(handle), lb(brush) {}

EMF_IO(EMRELLIPSE, >> rclBox, << rclBox)
EMF_IO(EMRRECTANGLE, >> rclBox, << rclBox)
EMRELLIPSE::EMRELLIPSE(const RECTL& box) : rclBox(box) {}
EMRRECTANGLE::EMRRECTANGLE(const RECTL& box) : rclBox(box) {}

EMF_IO(EMRARC, >> rclBox >> ptlStart >> ptlEnd, << rclBox << ptlStart << ptlEnd)
EMF_IO(EMRARCTO, >> rclBox >> ptlStart >> ptlEnd, << rclBox << ptlStart << ptlEnd)
EMRARC::EMRARC(const RECTL& box, const POINTL& s, const POINTL& e) : rclBox(box), ptlStart(s), ptlEnd(e) {}
EMRARCTO::EMRARCTO(const RECTL& box, const POINTL& s, const POINTL& e) : rclBox(box), ptlStart(s), ptlEnd(e) {}

EMRCREATEPALETTE::EMRCREATEPALETTE(DWORD handle, const LOGPALETTE& palette) : ihPal(handle), lgpl(palette) {}
bool EMRCREATEPALETTE::serialize(DATASTREAM ds) {
  ds << iType << nSize << ihPal << lgpl.palVersion << lgpl.palNumEntries;
  ds.writeBytes(&lgpl.palPalEntry[0], 4);
  return true;
}

EMRSETMITERLIMIT::EMRSETMITERLIMIT(DATASTREAM& ds) {
  LONG limit = 0;
  ds >> iType >> nSize >> limit;
  eMiterLimit = static_cast<FLOAT>(limit);
}
EMRSETMITERLIMIT::EMRSETMITERLIMIT(FLOAT limit) : eMiterLimit(limit) {}
bool EMRSETMITERLIMIT::serialize(DATASTREAM ds) {
  LONG limit = 0;
  if (std::isfinite(eMiterLimit))
    limit = static_cast<LONG>(std::clamp<double>(eMiterLimit, std::numeric_limits<LONG>::min(),
                                                 std::numeric_limits<LONG>::max()));
  ds << iType << nSize << limit;
  return true;
}

EMF_IO(EMRFILLPATH, >> rclBounds, << rclBounds)
EMF_IO(EMRSTROKEANDFILLPATH, >> rclBounds, << rclBounds)
EMF_IO(EMRSTROKEPATH, >> rclBounds, << rclBounds)
EMRFILLPATH::EMRFILLPATH(const RECTL& b) : rclBounds(b) {}
EMRSTROKEANDFILLPATH::EMRSTROKEANDFILLPATH(const RECTL& b) : rclBounds(b) {}
EMRSTROKEPATH::EMRSTROKEPATH(const RECTL& b) : rclBounds(b) {}

// The whole EXTLOGFONTW is read whatever nSize says; the reader seeks past the record anyway.
EMF_IO(EMREXTCREATEFONTINDIRECTW, >> ihFont >> elfw, << ihFont << elfw)
EMREXTCREATEFONTINDIRECTW::EMREXTCREATEFONTINDIRECTW(DWORD handle, const EXTLOGFONTW& font)
    : ihFont(handle), elfw(font) {}

EMF_IO(EMREXTCREATEPEN, >> ihPen >> offBmi >> cbBmi >> offBits >> cbBits >> elp,
       << ihPen << offBmi << cbBmi << offBits << cbBits << elp)
EMREXTCREATEPEN::EMREXTCREATEPEN(DWORD handle, const EXTLOGPEN& pen) : ihPen(handle), elp(pen) {}

// ---- text

EMREXTTEXTOUTA::EMREXTTEXTOUTA(DATASTREAM& ds) {
  const long start = ds.tell();
  ds >> iType >> nSize >> rclBounds >> iGraphicsMode >> exScale >> eyScale >> emrtext;
  // Text and advances are read from the current position; their count must fit the record.
  const std::uint64_t left = ds.recordBytesLeft(start, nSize);
  const std::size_t perChar = (emrtext.offString ? 1 : 0) + (emrtext.offDx ? 4 : 0);
  if (perChar == 0) return;
  emrtext.nChars = bounded(emrtext.nChars, left, perChar);
  if (emrtext.offString) {
    string_a.assign(roundUp4(emrtext.nChars), 0);
    ds.readBytes(string_a.data(), std::min<std::uint64_t>(string_a.size(), ds.recordBytesLeft(start, nSize)));
  }
  if (emrtext.offDx) {
    dx.assign(emrtext.nChars, 0);
    for (auto& d : dx) ds >> d;
  }
}

EMREXTTEXTOUTA::EMREXTTEXTOUTA(LONG x, LONG y, DWORD options, const RECTL* clip, const char* text, DWORD length,
                               const INT* advances) {
  if (!text) length = 0;
  rclBounds = clip ? *clip : RECTL{0, 0, -1, -1};
  emrtext.ptlReference = POINTL{x, y};
  emrtext.nChars = length;
  emrtext.offString = 76;
  emrtext.fOptions = options;
  emrtext.rcl = RECTL{0, 0, -1, -1};
  string_a.assign(roundUp4(length), 0);
  if (length) std::memcpy(string_a.data(), text, length);
  nSize = static_cast<DWORD>(76 + string_a.size());
  if (advances) {
    emrtext.offDx = nSize;
    dx.assign(advances, advances + length);
    nSize += 4 * length;
  }
}

bool EMREXTTEXTOUTA::serialize(DATASTREAM ds) {
  ds << iType << nSize << rclBounds << iGraphicsMode << exScale << eyScale << emrtext;
  ds.writeBytes(string_a.data(), string_a.size());
  for (auto d : dx) ds << d;
  return true;
}

}  // namespace EMF
