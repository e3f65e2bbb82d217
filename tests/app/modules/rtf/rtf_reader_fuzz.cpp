// Fuzz target: any bytes through the RTF reader, as they are and behind an RTF header.
#include <cstddef>
#include <cstdint>

#include <QByteArray>

#include "modules/rtf/RTFReader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
  for (const QByteArray& input : {bytes, QByteArray("{\\rtf1 ") + bytes}) {
    const auto content = rtf::RTFReader::read(input);
    if (!content) continue;
    // Text never outgrows its input by more than a few units per byte.
    if (content->plainText().size() > 4 * input.size() + 4) __builtin_trap();
  }
  return 0;
}
