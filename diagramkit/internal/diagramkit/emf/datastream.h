#pragma once
// Field-by-field little-endian reading and writing of EMF structures over a FILE*.

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "diagramkit/emf/emftypes.h"

namespace EMF {

// A non-owning view of a record's point array.
struct POINTLARRAY {
  POINTL* points;
  DWORD n;
};
struct POINT16ARRAY {
  POINT16* points;
  DWORD n;
};

class DATASTREAM {
 public:
  explicit DATASTREAM(FILE* fp = nullptr) : fp(fp) {}

  static bool bigEndian() { return false; }

  // Tells the stream how long its file is, for streams fstat cannot measure.
  void setFileSize(std::int64_t size) { fileSize_ = size; }
  // Position in the file, or -1 without one.
  long tell() const;
  // Bytes of the record starting at `start` with size `nSize` that lie at or after the current
  // position: bounded by the record's size and by the end of the file.
  std::uint64_t recordBytesLeft(long start, DWORD nSize);

  DATASTREAM& operator>>(unsigned int& v);
  DATASTREAM& operator>>(int& v);
  DATASTREAM& operator>>(unsigned short& v);
  DATASTREAM& operator>>(short& v);
  DATASTREAM& operator>>(char16_t& v);
  DATASTREAM& operator>>(float& v);
  DATASTREAM& operator>>(POINTL& v);
  DATASTREAM& operator>>(SIZEL& v);
  DATASTREAM& operator>>(RECTL& v);
  DATASTREAM& operator>>(XFORM& v);
  DATASTREAM& operator>>(LOGPEN& v);
  DATASTREAM& operator>>(LOGBRUSH& v);
  DATASTREAM& operator>>(EXTLOGPEN& v);
  DATASTREAM& operator>>(LOGFONTW& v);
  DATASTREAM& operator>>(EXTLOGFONTW& v);
  DATASTREAM& operator>>(EMRTEXT& v);
  DATASTREAM& operator>>(const POINTLARRAY& v);
  DATASTREAM& operator>>(const POINT16ARRAY& v);

  DATASTREAM& operator<<(unsigned int v);
  DATASTREAM& operator<<(int v);
  DATASTREAM& operator<<(unsigned short v);
  DATASTREAM& operator<<(short v);
  DATASTREAM& operator<<(char16_t v);
  DATASTREAM& operator<<(float v);
  DATASTREAM& operator<<(const POINTL& v);
  DATASTREAM& operator<<(const SIZEL& v);
  DATASTREAM& operator<<(const RECTL& v);
  DATASTREAM& operator<<(const XFORM& v);
  DATASTREAM& operator<<(const LOGPEN& v);
  DATASTREAM& operator<<(const LOGBRUSH& v);
  DATASTREAM& operator<<(const EXTLOGPEN& v);
  DATASTREAM& operator<<(const LOGFONTW& v);
  DATASTREAM& operator<<(const EXTLOGFONTW& v);
  DATASTREAM& operator<<(const EMRTEXT& v);
  DATASTREAM& operator<<(const POINTLARRAY& v);
  DATASTREAM& operator<<(const POINT16ARRAY& v);

  // Raw bytes, as they lie. A short read zero-fills nothing and leaves the rest unchanged.
  void readBytes(void* dst, std::size_t n);
  void writeBytes(const void* src, std::size_t n);

  bool swap = false;
  FILE* fp = nullptr;

 private:
  template <typename T>
  void readScalar(T& v);
  template <typename T>
  void writeScalar(T v);
  std::int64_t fileSize_ = -1;
};

}  // namespace EMF
