#pragma once
// Splits a TNEF stream into its attribute records' data, so that the decoder fuzz targets
// also reach their inputs when run over whole containers.

#include <cstdint>
#include <vector>

#include "tnefkit/QFReadType.h"

namespace tneffuzz {

struct RecordData {
  std::uint16_t id;
  QFBytes data;
};

// The records of `stream` when it starts with the TNEF signature; empty otherwise.
inline std::vector<RecordData> splitRecords(QFBytes stream) {
  std::vector<RecordData> out;
  if (stream.size() < 6 || readUint32(stream) != 0x223E9F78) return out;
  std::size_t pos = 6;
  while (stream.size() - pos >= 11) {
    const std::uint16_t id = readUint16(stream.subspan(pos + 1));
    const std::uint64_t length = readUint32(stream.subspan(pos + 5));
    if (length > stream.size() - pos - 11) break;
    out.push_back({id, stream.subspan(pos + 9, static_cast<std::size_t>(length))});
    pos += 11 + static_cast<std::size_t>(length);
  }
  return out;
}

}  // namespace tneffuzz
