// Fuzz target: a compressed-RTF stream, and the same bytes as bare tokens, decoded whole and in
// slices.
#include <algorithm>
#include <cstdint>

#include "platform/foundation/log.h"
#include "tnefkit/QFMAPIAttrObject.h"
#include "tnefkit/QFRTFParser.h"
#include "tnefkit/TnefKit.h"
#include "tnefkit/fuzz_split.h"

namespace {
void decodeStream(const std::uint8_t* data, std::size_t size) {
  auto parser = QFRTFParser::initWithValues({QFData(data, data + size)});
  if (parser) {
    for (const auto& block : parser->rtfDatas()) {
      if (block.size() > QFRTFParser::kMaxDecodedSize) __builtin_trap();
    }
  }
  const std::uint64_t raw = size >= 4 ? readUint32(QFBytes(data, size)) : 0;
  auto out = QFRTFParser::decompressRTFData(data, size, raw);
  // Every byte out needs input: at most 136 bytes per 17 bytes in.
  if (out.size() > raw || out.size() > (size / 17 + 1) * 136) __builtin_trap();
  // Fed in slices, as a body is written from its file, the tokens decode the same.
  const std::size_t step = size > 0 ? data[0] % 23 + 1 : 1;
  QFRTFDecompressor sliced(size, raw);
  QFData pieces;
  for (std::size_t at = 0; at < size; at += step) sliced.add(QFBytes(data + at, std::min(step, size - at)), pieces);
  sliced.finish();
  if (pieces != out) __builtin_trap();
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static bool quiet = (foundation::setLogSink([](const foundation::LogRecord&) {}), true);
  (void)quiet;
  decodeStream(data, size);
  // Over whole containers: the compressed-RTF values of the message properties.
  for (const auto& record : tneffuzz::splitRecords(QFBytes(data, size))) {
    if (record.id != 0x9003) continue;
    for (auto& property : QFMAPIAttrObject::mapiAttrObjectsFromData(record.data, nullptr)) {
      if (property.nameType() != 0x1009) continue;
      for (const auto& value : property.values()) {
        if (!value.binaryData()) continue;
        const QFData& stream = value.binaryData()->bytes();
        decodeStream(stream.data(), stream.size());
      }
    }
  }
  return 0;
}
