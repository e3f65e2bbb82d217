#include "tnefkit/QFMAPIAttrObject.h"

#include <algorithm>
#include <cstring>

#include "platform/foundation/utf8.h"
#include "tnefkit/QFTNEFIds.h"
#include "tnefkit/parse_budget.h"
#include "tnefkit/tnef_log.h"

using tnefkit::format;

namespace {

enum : std::int32_t {
  kUnspecified = 0, kNull = 1, kShort = 2, kLong = 3, kFloat = 4, kDouble = 5, kCurrency = 6, kAppTime = 7,
  kError = 10, kBoolean = 11, kObject = 13, kInt64 = 20, kString8 = 30, kUnicode = 31, kSysTime = 64,
  kClsid = 72, kBinary = 258,
};

// Bytes a fixed value occupies in a block; 0 for the counted and the rejected types.
std::uint64_t fixedSlot(std::int32_t type) {
  switch (type) {
    case kShort: case kLong: case kFloat: case kBoolean: return 4;
    case kDouble: case kCurrency: case kAppTime: case kInt64: case kSysTime: return 8;
    case kClsid: return 16;
    default: return 0;
  }
}

bool isCounted(std::int32_t type) { return type == kObject || type == kString8 || type == kUnicode || type == kBinary; }

// UTF-16LE text to UTF-8, fed slice by slice: up to the first NUL unit, surrogate pairs
// combined, lone surrogates as U+FFFD, an odd last byte ignored.
class Utf16ToUtf8 {
 public:
  explicit Utf16ToUtf8(std::string& out) : out_(out) {}
  void add(QFBytes bytes) {
    for (std::uint8_t b : bytes) {
      if (ended_) return;
      if (!haveLow_) {
        low_ = b;
        haveLow_ = true;
        continue;
      }
      haveLow_ = false;
      unit(std::uint32_t(low_) | std::uint32_t(b) << 8);
    }
  }
  void finish() {
    if (high_) foundation::appendUtf8(out_, 0xFFFD);
    high_ = 0;
  }

 private:
  void unit(std::uint32_t u) {
    if (high_) {
      const std::uint32_t high = high_;
      high_ = 0;
      if (u >= 0xDC00 && u <= 0xDFFF) {
        foundation::appendUtf8(out_, 0x10000 + ((high - 0xD800) << 10) + (u - 0xDC00));
        return;
      }
      foundation::appendUtf8(out_, 0xFFFD);
    }
    if (u == 0) {
      ended_ = true;
    } else if (u >= 0xD800 && u <= 0xDBFF) {
      high_ = u;
    } else {
      foundation::appendUtf8(out_, (u >= 0xDC00 && u <= 0xDFFF) ? 0xFFFD : u);
    }
  }

  std::string& out_;
  std::uint8_t low_ = 0;
  bool haveLow_ = false;
  std::uint32_t high_ = 0;
  bool ended_ = false;
};

}  // namespace

// ---- cursors

std::uint32_t QFMAPICursor::readUint32() {
  std::uint8_t b[4];
  read(b, 4);
  return uint32Value(b);
}

std::uint16_t QFMAPICursor::readUint16() {
  std::uint8_t b[2];
  read(b, 2);
  return uint16Value(b);
}

void QFMAPICursor::skip(std::uint64_t n) {
  consume(n, [](QFBytes) {});
}

void QFMAPIMemoryCursor::read(void* out, std::size_t n) {
  std::memcpy(out, block_.data() + pos_, n);
  pos_ += n;
}

void QFMAPIMemoryCursor::consume(std::uint64_t n, const std::function<void(QFBytes)>& sink) {
  sink(block_.subspan(static_cast<std::size_t>(pos_), static_cast<std::size_t>(n)));
  pos_ += n;
}

tnefkit::Payload QFMAPIMemoryCursor::take(std::uint64_t n) {
  const std::uint8_t* p = block_.data() + pos_;
  pos_ += n;
  return QFData(p, p + n);
}

void QFMAPIFileCursor::read(void* out, std::size_t n) {
  const std::size_t got = failed_ ? 0 : handle_.readBytes(out, n);
  sum_ = tnefkit::byteSum(QFBytes(static_cast<const std::uint8_t*>(out), got), sum_);
  if (got < n) {
    std::memset(static_cast<std::uint8_t*>(out) + got, 0, n - got);
    failed_ = true;
    left_ = 0;
    return;
  }
  left_ -= n;
}

void QFMAPIFileCursor::consume(std::uint64_t n, const std::function<void(QFBytes)>& sink) {
  const std::uint64_t got = failed_ ? 0 : handle_.consume(n, [&](QFBytes slice) {
    sum_ = tnefkit::byteSum(slice, sum_);
    sink(slice);
  });
  if (got < n) {
    failed_ = true;
    left_ = 0;
    return;
  }
  left_ -= n;
}

tnefkit::Payload QFMAPIFileCursor::take(std::uint64_t n) {
  if (n <= tnefkit::Payload::kHeldInMemory) {
    QFData bytes(static_cast<std::size_t>(n));
    read(bytes.data(), bytes.size());
    return bytes;
  }
  const std::uint64_t offset = handle_.offsetInFile();
  tnefkit::Digest digest;
  consume(n, [&](QFBytes slice) { digest.add(slice); });
  if (failed_) return QFData();
  return tnefkit::Payload::inFile(handle_.file(), offset, n, digest.value());
}

std::uint64_t QFMAPIFileCursor::heldSize(std::uint64_t n) const {
  return n <= tnefkit::Payload::kHeldInMemory ? n : tnefkit::Payload::inFileCost();
}

bool QFMAPIFileCursor::finish() {
  skip(left_);
  return !failed_;
}

// ---- QFMAPIValue

std::optional<QFMAPIValue> QFMAPIValue::initWithDataType(std::int32_t dataType, QFBytes buffer,
                                                         std::uint64_t* consumed) {
  QFMAPIMemoryCursor in(buffer);
  auto value = initWithDataType(dataType, in);
  if (value && consumed) *consumed = in.position();
  return value;
}

std::optional<QFMAPIValue> QFMAPIValue::initWithDataType(std::int32_t dataType, QFMAPICursor& in) {
  if (dataType == kUnspecified || dataType == kNull || dataType == kError) {
    tnefkit::logError("Invalid attribute, input file may be corrupted");
    return std::nullopt;
  }
  QFMAPIValue v;
  v.dataType_ = dataType;
  if (std::uint64_t slot = fixedSlot(dataType)) {
    if (!in.has(slot)) return std::nullopt;
    std::uint8_t bytes[16];
    in.read(bytes, static_cast<std::size_t>(slot));
    if (dataType == kClsid) {
      v.guid_ = QFGUID::initWithData(QFBytes(bytes, 16));
      v.lengthOfData_ = 16;
    } else if (dataType == kShort) {
      v.data_[0] = uint16Value(bytes);
      v.lengthOfData_ = 2;
    } else {
      v.data_[0] = uint32Value(bytes);
      if (slot == 8) v.data_[1] = uint32Value(bytes + 4);
      v.lengthOfData_ = slot;
    }
    return v;
  }
  if (!isCounted(dataType)) {
    tnefkit::logError("Undefined attribute, input file may be corrupted\n");
    return std::nullopt;
  }
  if (!in.has(4)) return std::nullopt;
  const std::uint64_t length = in.readUint32();
  if (!in.has(length)) return std::nullopt;
  return readCounted(dataType, length, in);
}

QFMAPIValue QFMAPIValue::readCounted(std::int32_t dataType, std::uint64_t length, QFMAPICursor& in) {
  QFMAPIValue v;
  v.dataType_ = dataType;
  v.lengthOfData_ = length;
  if (dataType == kUnicode) {
    std::string text;
    Utf16ToUtf8 converter(text);
    in.consume(length, [&](QFBytes slice) { converter.add(slice); });
    converter.finish();
    v.binaryData_ = tnefkit::Payload(QFData(text.begin(), text.end()));
  } else {
    v.binaryData_ = in.take(length);
  }
  // The padding after the last value of a block may be missing.
  in.skip(std::min(QFMAPIAttrObject::padTo4Byte(length) - length, in.remaining()));
  return v;
}

tnefkit::Payload QFMAPIValue::takeBinaryData() {
  tnefkit::Payload out = binaryData_ ? std::move(*binaryData_) : tnefkit::Payload();
  binaryData_.reset();
  return out;
}

std::string QFMAPIValue::stringFromUnicode(const std::uint8_t* buffer, std::uint64_t length) {
  std::string out;
  if (length < 2) return out;
  out.reserve(static_cast<std::size_t>(length / 2 * 3));
  Utf16ToUtf8 converter(out);
  converter.add(QFBytes(buffer, static_cast<std::size_t>(length)));
  converter.finish();
  return out;
}

std::string QFMAPIValue::mapiDataTypeName(std::int32_t dataType) {
  switch (dataType) {
    case kUnspecified: return "MAPI Unspecified";
    case kNull: return "MAPI null property";
    case kShort: return "MAPI short (signed 16 bits)";
    case kLong: return "MAPI integer (signed 32 bits)";
    case kFloat: return "MAPI float (4 bytes)";
    case kDouble: return "MAPI double";
    case kCurrency: return "MAPI currency (64 bits)";
    case kAppTime: return "MAPI application time";
    case kError: return "MAPI error (32 bits)";
    case kBoolean: return "MAPI boolean (16 bits)";
    case kObject: return "MAPI embedded object";
    case kInt64: return "MAPI 8 byte signed int";
    case kString8: return "MAPI string";
    case kUnicode: return "MAPI unicode-string (null terminated)";
    case kSysTime: return "MAPI time (64 bits)";
    case kClsid: return "MAPI OLE GUID";
    case kBinary: return "MAPI binary";
    default: return "Unknown MAPI data type";
  }
}

std::string QFMAPIValue::description() const {
  std::string s = format("data [type = %s ] length: %lu  ", mapiDataTypeName(dataType_).c_str(),
                         static_cast<unsigned long>(lengthOfData_));
  float f = 0;
  std::memcpy(&f, &data_[0], sizeof f);
  switch (dataType_) {
    case kNull: return s + "data content: NULL";
    case kShort: return s + format("data content: %hu", static_cast<unsigned short>(data_[0]));
    case kLong: return s + format("data content: %d", static_cast<std::int32_t>(data_[0]));
    case kFloat:
    case kDouble: return s + format("data content: %f", static_cast<double>(f));
    case kCurrency:
    case kAppTime:
    case kInt64:
    case kSysTime: return s + format("data content: 0x%08x 0x%08x", data_[0], data_[1]);
    case kError: return s + format("data content: %u", data_[0]);
    case kBoolean: return s + "data content: " + (data_[0] ? "true" : "false");
    case kObject:
    case kBinary:
      if (!binaryData_) return s + "data content: NULL";
      return s + format("data content: <%lu bytes>", static_cast<unsigned long>(binaryData_->size()));
    case kString8:
    case kUnicode:
      if (!binaryData_) return s + "data content: NULL";
      return s + "data content: " + std::string(binaryData_->bytes().begin(), binaryData_->bytes().end());
    case kClsid: return s + "data content: " + (guid_ ? guid_->description() : "NULL");
    default: return s + "<unknown type>";
  }
}

// ---- QFMAPIAttrObject

std::vector<QFMAPIAttrObject> QFMAPIAttrObject::mapiAttrObjectsFromData(QFBytes block,
                                                                        const std::shared_ptr<QFModifyFlag>& flag) {
  QFMAPIMemoryCursor in(block);
  return mapiAttrObjectsFromCursor(in, flag);
}

std::vector<QFMAPIAttrObject> QFMAPIAttrObject::mapiAttrObjectsFromCursor(QFMAPICursor& block,
                                                                          const std::shared_ptr<QFModifyFlag>& flag) {
  std::vector<QFMAPIAttrObject> list;
  // The count is only a claim: reserve for a usual block, and let the list grow with what
  // is actually decoded.
  list.reserve(static_cast<std::size_t>(std::min<std::uint64_t>(block.remaining() / 8, 256)));
  decodeProperties(block, flag, [&](QFMAPIAttrObject& property) {
    if (!tnefkit::chargeModel(tnefkit::appendCost(list))) return false;
    list.push_back(std::move(property));
    return true;
  });
  return list;
}

void QFMAPIAttrObject::decodeProperties(QFMAPICursor& in, const std::shared_ptr<QFModifyFlag>& flag,
                                        const PropertySink& sink, const NameFilter& wanted) {
  if (!in.has(4)) return;
  const std::uint64_t count = in.readUint32();
  const bool debug = flag && flag->debugOn();
  auto truncated = [&] { tnefkit::logError("MAPI property block ends early, input file may be corrupted"); };

  // Stops the block, keeping what came before, once the parse's budget is spent.
  bool spent = false;
  auto afford = [&](std::uint64_t bytes) {
    spent = !tnefkit::chargeModel(bytes);
    return !spent;
  };

  for (std::uint64_t index = 0; index < count; ++index) {
    if (!in.has(4)) { truncated(); break; }
    std::int32_t type = in.readUint16();
    const std::int32_t id = in.readUint16();
    const bool multi = (type & QFMAPIMultiValueFlag) != 0;
    if (multi) {
      type -= QFMAPIMultiValueFlag;
      if (debug) tnefkit::logDebug(format("!!MULTI_VALUE_FLAG seen (0x%02x 0x%02x)\n", id, type));
    }
    QFMAPIAttrObject property(type, id);
    if (id & QFMAPINamedPropertyFlag) {
      if (!in.has(20)) { truncated(); break; }
      std::uint8_t guid[16];
      in.read(guid, 16);
      property.setGUID(*QFGUID::initWithData(QFBytes(guid, 16)));
      const std::uint64_t nameCount = in.readUint32();
      bool ok = true;
      if (nameCount == 0) {
        if (!in.has(4)) ok = false;
        else property.setMAPINameType(static_cast<std::int32_t>(in.readUint32()));
      }
      for (std::uint64_t n = 0; ok && n < nameCount; ++n) {
        if (!in.has(4)) { ok = false; break; }
        const std::uint64_t length = in.readUint32();
        if (!in.has(length)) { ok = false; break; }
        if (!afford(tnefkit::appendCost(property.names()) + length + tnefkit::kAllocationOverhead)) break;
        // One byte per UTF-16 unit, zero-filled to the stored length.
        QFData name(static_cast<std::size_t>(length), 0);
        std::size_t at = 0;
        in.consume(length, [&](QFBytes slice) {
          for (std::uint8_t b : slice) {
            if (at % 2 == 0 && at + 1 < length) name[at / 2] = b;
            ++at;
          }
        });
        property.addName(std::move(name));
        in.skip(std::min(padTo4Byte(length) - length, in.remaining()));
      }
      if (spent) break;
      if (!ok) { truncated(); break; }
    }

    bool ok = true;
    if (type == kUnspecified || type == kNull || type == kError) {
      tnefkit::logError("Invalid attribute, input file may be corrupted");
      break;
    } else if (type == kLong || type == kSysTime) {
      std::uint64_t values = 1;
      if (multi) {
        if (!in.has(4)) { truncated(); break; }
        values = in.readUint32();
      }
      for (std::uint64_t v = 0; ok && v < values; ++v) {
        if (!afford(tnefkit::appendCost(property.values()))) break;
        auto value = QFMAPIValue::initWithDataType(type, in);
        if (!value) { ok = false; break; }
        property.addValue(std::move(*value));
      }
    } else if (std::uint64_t slot = fixedSlot(type)) {
      if (multi) {
        // Multi-valued forms of these types are not decoded; their values are stepped over.
        tnefkit::logError(format("Error MAPI data for type: %s", QFMAPIValue::mapiDataTypeName(type).c_str()));
        if (!in.has(4)) { truncated(); break; }
        const std::uint64_t values = in.readUint32();
        if (values > in.remaining() / slot) ok = false;
        else in.skip(values * slot);
      } else if (afford(tnefkit::appendCost(property.values()))) {
        auto value = QFMAPIValue::initWithDataType(type, in);
        if (!value) ok = false;
        else property.addValue(std::move(*value));
      }
    } else if (isCounted(type)) {
      if (!in.has(4)) { truncated(); break; }
      const std::uint64_t values = in.readUint32();
      const bool read = debug || !wanted || wanted(property.nameType());
      for (std::uint64_t v = 0; ok && v < values; ++v) {
        if (!in.has(4)) { ok = false; break; }
        const std::uint64_t length = in.readUint32();
        if (!in.has(length)) { ok = false; break; }
        if (!read) {
          in.skip(std::min(padTo4Byte(length), in.remaining()));
          continue;
        }
        const std::uint64_t held = type == kUnicode ? length / 2 * 3 : in.heldSize(length);
        if (!afford(tnefkit::appendCost(property.values()) + held + tnefkit::kAllocationOverhead)) break;
        property.addValue(QFMAPIValue::readCounted(type, length, in));
      }
    } else {
      tnefkit::logError("Undefined attribute, input file may be corrupted");
      break;
    }
    if (spent) break;
    if (!ok) { truncated(); break; }
    if (debug) tnefkit::logDebug(property.description());
    if (!sink(property)) break;
  }
}

std::string QFMAPIAttrObject::description() const {
  std::string s = format("(MAPI) %s [type: %s] [num_values = %lu] = \n", mapiNameTypeName(nameType_).c_str(),
                         QFMAPIValue::mapiDataTypeName(dataType_).c_str(), static_cast<unsigned long>(values_.size()));
  if (guid_) s += "\tGUID: " + guid_->description() + "\n";
  for (const QFData& name : names_) {
    std::size_t n = 0;
    while (n < name.size() && name[n] != 0) ++n;
    s += "\tName: " + std::string(name.begin(), name.begin() + static_cast<std::ptrdiff_t>(n)) + "\n";
  }
  for (std::size_t i = 0; i < values_.size(); ++i) {
    s += format("\tValue at pos: %d [len: %lu] = \n", static_cast<int>(i),
                static_cast<unsigned long>(values_[i].lengthOfData()));
    s += "\t\t" + values_[i].description();
  }
  return s;
}
