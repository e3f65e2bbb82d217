#pragma once
// Shared helpers of the EMF tests: load bytes as a metafile, render SVG, inspect records.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "diagramkit/emf/devicecontext.h"
#include "diagramkit/emf/emf.h"
#include "support/temp_dir.h"

namespace emftest {

// The bytes a record writes in file layout.
inline std::string recordBytes(EMF::METARECORD* r) {
  char* buf = nullptr;
  std::size_t len = 0;
  FILE* mem = open_memstream(&buf, &len);
  r->serialize(EMF::DATASTREAM(mem));
  std::fclose(mem);
  std::string out(buf, len);
  std::free(buf);
  return out;
}

inline std::uint32_t u32At(const std::string& s, std::size_t at) {
  std::uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(s[at + static_cast<std::size_t>(i)]);
  return v;
}

inline std::vector<std::uint32_t> recordTypes(unsigned int handle) {
  std::vector<std::uint32_t> types;
  for (EMF::METARECORD* r : EMF::findContext(handle)->records) types.push_back(u32At(recordBytes(r), 0));
  return types;
}

// The SVG text outputEnhMetaFile writes for `handle`.
inline std::string svgOf(unsigned int handle) {
  char* buf = nullptr;
  std::size_t len = 0;
  FILE* mem = open_memstream(&buf, &len);
  outputEnhMetaFile(mem, handle);
  std::fclose(mem);
  std::string out(buf, len);
  std::free(buf);
  return out;
}

// A metafile loaded from `bytes`, deleted (records and context) when it goes.
class Loaded {
 public:
  explicit Loaded(const std::string& bytes) {
    const auto path = dir_.write("in.emf", bytes);
    handle = GetEnhMetaFileA(path.c_str());
  }
  ~Loaded() {
    if (handle) DeleteDC(handle);
  }
  Loaded(const Loaded&) = delete;
  Loaded& operator=(const Loaded&) = delete;

  EMF::METAFILEDEVICECONTEXT* context() const { return EMF::findContext(handle); }
  std::vector<EMF::METARECORD*>& records() const { return context()->records; }
  std::string svg() const { return svgOf(handle); }

  unsigned int handle = 0;

 private:
  testsupport::TempDir dir_;
};

inline const std::string kSvgStart =
    "<svg:svg version=\"1.1\" xmlns:svg=\"http://www.w3.org/2000/svg\" "
    "xmlns:xlink=\"http://www.w3.org/1999/xlink\" width=\"100\" height=\"100\" >\n";

}  // namespace emftest
