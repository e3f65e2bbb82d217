#include "diagramkit/emf/datastream.h"

#include <sys/stat.h>

#include <algorithm>
#include <bit>
#include <cstring>
#include <type_traits>

namespace EMF {

namespace {

template <typename U>
U fromLittle(const unsigned char* b) {
  U v = 0;
  for (std::size_t i = 0; i < sizeof(U); ++i) v |= static_cast<U>(static_cast<U>(b[i]) << (8 * i));
  return v;
}

template <typename U>
void toLittle(U v, unsigned char* b) {
  for (std::size_t i = 0; i < sizeof(U); ++i) b[i] = static_cast<unsigned char>(v >> (8 * i));
}

template <typename T>
struct Unsigned {
  using type = std::conditional_t<sizeof(T) == 2, std::uint16_t, std::uint32_t>;
};

}  // namespace

long DATASTREAM::tell() const { return fp ? std::ftell(fp) : -1; }

std::uint64_t DATASTREAM::recordBytesLeft(long start, DWORD nSize) {
  if (!fp || start < 0) return 0;
  if (fileSize_ < 0) {
    struct stat st;
    fileSize_ = (::fstat(::fileno(fp), &st) == 0 && S_ISREG(st.st_mode)) ? st.st_size : 0;
  }
  const long here = std::ftell(fp);
  if (here < 0) return 0;
  const std::uint64_t end =
      std::min<std::uint64_t>(static_cast<std::uint64_t>(start) + nSize, static_cast<std::uint64_t>(fileSize_));
  const auto pos = static_cast<std::uint64_t>(here);
  return pos < end ? end - pos : 0;
}

void DATASTREAM::readBytes(void* dst, std::size_t n) {
  if (fp && n) (void)std::fread(dst, 1, n, fp);
}

void DATASTREAM::writeBytes(const void* src, std::size_t n) {
  if (fp && n) (void)std::fwrite(src, 1, n, fp);
}

template <typename T>
void DATASTREAM::readScalar(T& v) {
  using U = typename Unsigned<T>::type;
  unsigned char b[sizeof(T)];
  if (!fp || std::fread(b, sizeof b, 1, fp) != 1) return;  // short read: target unchanged
  if (swap) std::reverse(b, b + sizeof b);
  v = std::bit_cast<T>(fromLittle<U>(b));
}

template <typename T>
void DATASTREAM::writeScalar(T v) {
  using U = typename Unsigned<T>::type;
  unsigned char b[sizeof(T)];
  toLittle<U>(std::bit_cast<U>(v), b);
  if (swap) std::reverse(b, b + sizeof b);
  writeBytes(b, sizeof b);
}

DATASTREAM& DATASTREAM::operator>>(unsigned int& v) { readScalar(v); return *this; }
DATASTREAM& DATASTREAM::operator>>(int& v) { readScalar(v); return *this; }
DATASTREAM& DATASTREAM::operator>>(unsigned short& v) { readScalar(v); return *this; }
DATASTREAM& DATASTREAM::operator>>(short& v) { readScalar(v); return *this; }
DATASTREAM& DATASTREAM::operator>>(char16_t& v) { readScalar(v); return *this; }
DATASTREAM& DATASTREAM::operator>>(float& v) { readScalar(v); return *this; }
DATASTREAM& DATASTREAM::operator>>(POINTL& v) { return *this >> v.x >> v.y; }
DATASTREAM& DATASTREAM::operator>>(SIZEL& v) { return *this >> v.cx >> v.cy; }
DATASTREAM& DATASTREAM::operator>>(RECTL& v) { return *this >> v.left >> v.top >> v.right >> v.bottom; }
DATASTREAM& DATASTREAM::operator>>(XFORM& v) {
  return *this >> v.eM11 >> v.eM12 >> v.eM21 >> v.eM22 >> v.eDx >> v.eDy;
}
DATASTREAM& DATASTREAM::operator>>(LOGPEN& v) { return *this >> v.lopnStyle >> v.lopnWidth >> v.lopnColor; }
DATASTREAM& DATASTREAM::operator>>(LOGBRUSH& v) { return *this >> v.lbStyle >> v.lbColor >> v.lbHatch; }
DATASTREAM& DATASTREAM::operator>>(EXTLOGPEN& v) {
  return *this >> v.elpPenStyle >> v.elpWidth >> v.elpBrushStyle >> v.elpColor >> v.elpHatch >> v.elpNumEntries;
}
DATASTREAM& DATASTREAM::operator>>(LOGFONTW& v) {
  *this >> v.lfHeight >> v.lfWidth >> v.lfEscapement >> v.lfOrientation >> v.lfWeight;
  readBytes(&v.lfItalic, 8);
  for (auto& c : v.lfFaceName) *this >> c;
  return *this;
}
DATASTREAM& DATASTREAM::operator>>(EXTLOGFONTW& v) {
  *this >> v.elfLogFont;
  for (auto& c : v.elfFullName) *this >> c;
  for (auto& c : v.elfStyle) *this >> c;
  *this >> v.elfVersion >> v.elfStyleSize >> v.elfMatch >> v.elfReserved;
  readBytes(v.elfVendorId, 4);
  *this >> v.elfCulture;
  readBytes(&v.elfPanose, 10);
  unsigned char pad[2];
  readBytes(pad, 2);
  return *this;
}
DATASTREAM& DATASTREAM::operator>>(EMRTEXT& v) {
  return *this >> v.ptlReference >> v.nChars >> v.offString >> v.fOptions >> v.rcl >> v.offDx;
}
DATASTREAM& DATASTREAM::operator>>(const POINTLARRAY& v) {
  for (DWORD i = 0; i < v.n; ++i) *this >> v.points[i];
  return *this;
}
DATASTREAM& DATASTREAM::operator>>(const POINT16ARRAY& v) {
  if (!fp || v.n == 0) return *this;
  // One read for the whole array; only the points actually read are decoded.
  unsigned char buf[4096];
  DWORD done = 0;
  while (done < v.n) {
    const DWORD chunk = std::min<DWORD>(v.n - done, sizeof buf / 4);
    const std::size_t got = std::fread(buf, 4, chunk, fp);
    for (std::size_t i = 0; i < got; ++i) {
      unsigned char* b = buf + 4 * i;
      if (swap) {
        std::swap(b[0], b[1]);
        std::swap(b[2], b[3]);
      }
      v.points[done + i].x = std::bit_cast<SHORT>(fromLittle<std::uint16_t>(b));
      v.points[done + i].y = std::bit_cast<SHORT>(fromLittle<std::uint16_t>(b + 2));
    }
    if (got < chunk) break;
    done += chunk;
  }
  return *this;
}

DATASTREAM& DATASTREAM::operator<<(unsigned int v) { writeScalar(v); return *this; }
DATASTREAM& DATASTREAM::operator<<(int v) { writeScalar(v); return *this; }
DATASTREAM& DATASTREAM::operator<<(unsigned short v) { writeScalar(v); return *this; }
DATASTREAM& DATASTREAM::operator<<(short v) { writeScalar(v); return *this; }
DATASTREAM& DATASTREAM::operator<<(char16_t v) { writeScalar(v); return *this; }
DATASTREAM& DATASTREAM::operator<<(float v) { writeScalar(v); return *this; }
DATASTREAM& DATASTREAM::operator<<(const POINTL& v) { return *this << v.x << v.y; }
DATASTREAM& DATASTREAM::operator<<(const SIZEL& v) { return *this << v.cx << v.cy; }
DATASTREAM& DATASTREAM::operator<<(const RECTL& v) { return *this << v.left << v.top << v.right << v.bottom; }
DATASTREAM& DATASTREAM::operator<<(const XFORM& v) {
  return *this << v.eM11 << v.eM12 << v.eM21 << v.eM22 << v.eDx << v.eDy;
}
DATASTREAM& DATASTREAM::operator<<(const LOGPEN& v) { return *this << v.lopnStyle << v.lopnWidth << v.lopnColor; }
DATASTREAM& DATASTREAM::operator<<(const LOGBRUSH& v) { return *this << v.lbStyle << v.lbColor << v.lbHatch; }
DATASTREAM& DATASTREAM::operator<<(const EXTLOGPEN& v) {
  return *this << v.elpPenStyle << v.elpWidth << v.elpBrushStyle << v.elpColor << v.elpHatch << v.elpNumEntries;
}
DATASTREAM& DATASTREAM::operator<<(const LOGFONTW& v) {
  *this << v.lfHeight << v.lfWidth << v.lfEscapement << v.lfOrientation << v.lfWeight;
  writeBytes(&v.lfItalic, 8);
  for (auto c : v.lfFaceName) *this << c;
  return *this;
}
DATASTREAM& DATASTREAM::operator<<(const EXTLOGFONTW& v) {
  *this << v.elfLogFont;
  for (auto c : v.elfFullName) *this << c;
  for (auto c : v.elfStyle) *this << c;
  *this << v.elfVersion << v.elfStyleSize << v.elfMatch << v.elfReserved;
  writeBytes(v.elfVendorId, 4);
  *this << v.elfCulture;
  writeBytes(&v.elfPanose, 10);
  const unsigned char pad[2] = {0, 0};
  writeBytes(pad, 2);
  return *this;
}
DATASTREAM& DATASTREAM::operator<<(const EMRTEXT& v) {
  return *this << v.ptlReference << v.nChars << v.offString << v.fOptions << v.rcl << v.offDx;
}
DATASTREAM& DATASTREAM::operator<<(const POINTLARRAY& v) {
  for (DWORD i = 0; i < v.n; ++i) *this << v.points[i];
  return *this;
}
DATASTREAM& DATASTREAM::operator<<(const POINT16ARRAY& v) {
  for (DWORD i = 0; i < v.n; ++i) *this << v.points[i].x << v.points[i].y;
  return *this;
}

}  // namespace EMF
