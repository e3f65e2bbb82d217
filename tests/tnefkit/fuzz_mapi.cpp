// Fuzz target: one MAPI property block, decoded with diagnostics on and handed to an attachment;
// decoded again as it is read from a file, which must give the same properties.
#include <cstdint>
#include <memory>

#include "platform/foundation/log.h"
#include "tnefkit/QFMAPIAttrObject.h"
#include "tnefkit/QFModifyFlag.h"
#include "tnefkit/TnefKit.h"
#include "tnefkit/fuzz_split.h"
#include "support/fuzz_input.h"

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
  const auto path = testsupport::writeFuzzInput("block", block.data(), block.size());
  auto handle = QFFileHandle::fileHandleForReadingAtPath(path);
  if (!handle) __builtin_trap();
  QFMAPIFileCursor in(*handle, size);
  const auto fromFile = QFMAPIAttrObject::mapiAttrObjectsFromCursor(in, flag);
  if (!in.finish() || fromFile.size() != list.size()) __builtin_trap();
  for (std::size_t p = 0; p < list.size(); ++p) {
    if (fromFile[p].description() != list[p].description() || fromFile[p].names() != list[p].names() ||
        fromFile[p].values().size() != list[p].values().size()) {
      __builtin_trap();
    }
    for (std::size_t v = 0; v < list[p].values().size(); ++v) {
      const auto& a = fromFile[p].values()[v].binaryData();
      const auto& b = list[p].values()[v].binaryData();
      if (a.has_value() != b.has_value() || (a && a->bytes() != b->bytes())) __builtin_trap();
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
