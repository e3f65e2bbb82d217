// Fuzz target: one MAPI property block, decoded with diagnostics on and handed to an attachment.
#include <cstdint>
#include <memory>

#include "platform/foundation/log.h"
#include "tnefkit/QFMAPIAttrObject.h"
#include "tnefkit/QFModifyFlag.h"
#include "tnefkit/TnefKit.h"
#include "tnefkit/fuzz_split.h"

namespace {
void decodeBlock(QFBytes block) {
  const std::size_t size = block.size();
  auto flag = std::make_shared<QFModifyFlag>(0x02);
  auto list = QFMAPIAttrObject::mapiAttrObjectsFromData(block, flag);
  for (const auto& property : list) {
    for (const auto& value : property.values()) {
      // A value lies inside the block; its UTF-8 form takes at most 3 bytes per UTF-16 unit.
      if (value.lengthOfData() > size) __builtin_trap();
      const std::uint64_t most = value.dataType() == 31 ? value.lengthOfData() / 2 * 3 : value.lengthOfData();
      if (value.binaryData() && value.binaryData()->size() > most) __builtin_trap();
    }
  }
  QFAttachment attachment(flag);
  attachment.addMAPIAttriObject(std::move(list));
  (void)attachment.filename();
  (void)attachment.extension();
  (void)attachment.description();
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static bool quiet = (foundation::setLogSink([](const foundation::LogRecord&) {}), true);
  (void)quiet;
  decodeBlock(QFBytes(data, size));
  for (const auto& record : tneffuzz::splitRecords(QFBytes(data, size))) {
    if (record.id == 0x9003 || record.id == 0x9005) decodeBlock(record.data);
  }
  return 0;
}
