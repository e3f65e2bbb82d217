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

// The payload a value decoded from the start of `buffer` adds to the model.
std::uint64_t payloadCost(std::int32_t type, QFBytes buffer) {
  std::uint64_t cost = 0;
  if (isCounted(type) && buffer.size() >= 4) {
    const std::uint64_t length = std::min<std::uint64_t>(uint32Value(buffer.data()), buffer.size() - 4);
    cost += (type == kUnicode ? length / 2 * 3 : length) + tnefkit::kAllocationOverhead;
  }
  return cost;
}

}  // namespace

// ---- QFMAPIValue

std::optional<QFMAPIValue> QFMAPIValue::initWithDataType(std::int32_t dataType, QFBytes buffer,
                                                         std::uint64_t* consumed) {
  if (dataType == kUnspecified || dataType == kNull || dataType == kError) {
    tnefkit::logError("Invalid attribute, input file may be corrupted");
    return std::nullopt;
  }
  QFMAPIValue v;
  v.dataType_ = dataType;
  if (std::uint64_t slot = fixedSlot(dataType)) {
    if (buffer.size() < slot) return std::nullopt;
    if (dataType == kClsid) {
      v.guid_ = QFGUID::initWithData(buffer);
      v.lengthOfData_ = 16;
    } else if (dataType == kShort) {
      v.data_[0] = uint16Value(buffer.data());
      v.lengthOfData_ = 2;
    } else {
      v.data_[0] = uint32Value(buffer.data());
      if (slot == 8) v.data_[1] = uint32Value(buffer.data() + 4);
      v.lengthOfData_ = slot;
    }
    if (consumed) *consumed = slot;
    return v;
  }
  if (!isCounted(dataType)) {
    tnefkit::logError("Undefined attribute, input file may be corrupted\n");
    return std::nullopt;
  }
  if (buffer.size() < 4) return std::nullopt;
  const std::uint64_t length = uint32Value(buffer.data());
  if (length > buffer.size() - 4) return std::nullopt;
  const std::uint8_t* bytes = buffer.data() + 4;
  v.lengthOfData_ = length;
  if (dataType == kUnicode) {
    std::string text = stringFromUnicode(bytes, length);
    v.binaryData_ = QFData(text.begin(), text.end());
  } else {
    v.binaryData_ = QFData(bytes, bytes + length);
  }
  // The padding after the last value of a block may be missing.
  if (consumed) *consumed = std::min<std::uint64_t>(4 + QFMAPIAttrObject::padTo4Byte(length), buffer.size());
  return v;
}

QFData QFMAPIValue::takeBinaryData() {
  QFData out = binaryData_ ? std::move(*binaryData_) : QFData();
  binaryData_.reset();
  return out;
}

std::string QFMAPIValue::stringFromUnicode(const std::uint8_t* buffer, std::uint64_t length) {
  std::string out;
  if (length < 2) return out;
  out.reserve(static_cast<std::size_t>(length / 2 * 3));
  for (std::uint64_t i = 0; i + 1 < length; i += 2) {
    std::uint32_t unit = uint16Value(buffer + i);
    if (unit == 0) break;
    if (unit >= 0xD800 && unit <= 0xDBFF && i + 3 < length) {
      std::uint32_t low = uint16Value(buffer + i + 2);
      if (low >= 0xDC00 && low <= 0xDFFF) {
        foundation::appendUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
        i += 2;
        continue;
      }
    }
    foundation::appendUtf8(out, (unit >= 0xD800 && unit <= 0xDFFF) ? 0xFFFD : unit);
  }
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
      return s + "data content: " + std::string(binaryData_->begin(), binaryData_->end());
    case kClsid: return s + "data content: " + (guid_ ? guid_->description() : "NULL");
    default: return s + "<unknown type>";
  }
}

// ---- QFMAPIAttrObject

std::vector<QFMAPIAttrObject> QFMAPIAttrObject::mapiAttrObjectsFromData(QFBytes block,
                                                                        const std::shared_ptr<QFModifyFlag>& flag) {
  std::vector<QFMAPIAttrObject> list;
  const std::uint64_t size = block.size();
  const std::uint64_t count = readUint32(block);
  // The count is only a claim: reserve for a usual block, and let the list grow with what
  // is actually decoded.
  list.reserve(static_cast<std::size_t>(std::min<std::uint64_t>({count, size / 4, 256})));
  std::uint64_t pos = 4;
  const bool debug = flag && flag->debugOn();
  auto has = [&](std::uint64_t n) { return pos <= size && n <= size - pos; };
  auto at = [&]() { return block.subspan(static_cast<std::size_t>(std::min(pos, size))); };
  auto truncated = [&] { tnefkit::logError("MAPI property block ends early, input file may be corrupted"); };

  // Stops the block, keeping what came before, once the parse's budget is spent.
  bool spent = false;
  auto afford = [&](std::uint64_t bytes) {
    spent = !tnefkit::chargeModel(bytes);
    return !spent;
  };

  for (std::uint64_t index = 0; index < count; ++index) {
    if (!has(4)) { truncated(); break; }
    if (!afford(tnefkit::appendCost(list))) break;
    std::int32_t type = uint16Value(block.data() + pos);
    const std::int32_t id = uint16Value(block.data() + pos + 2);
    pos += 4;
    const bool multi = (type & QFMAPIMultiValueFlag) != 0;
    if (multi) {
      type -= QFMAPIMultiValueFlag;
      if (debug) tnefkit::logDebug(format("!!MULTI_VALUE_FLAG seen (0x%02x 0x%02x)\n", id, type));
    }
    QFMAPIAttrObject property(type, id);
    if (id & QFMAPINamedPropertyFlag) {
      if (!has(20)) { truncated(); break; }
      property.setGUID(*QFGUID::initWithData(at()));
      pos += 16;
      const std::uint64_t nameCount = uint32Value(block.data() + pos);
      pos += 4;
      bool ok = true;
      if (nameCount == 0) {
        if (!has(4)) ok = false;
        else {
          property.setMAPINameType(static_cast<std::int32_t>(uint32Value(block.data() + pos)));
          pos += 4;
        }
      }
      for (std::uint64_t n = 0; ok && n < nameCount; ++n) {
        if (!has(4)) { ok = false; break; }
        const std::uint64_t length = uint32Value(block.data() + pos);
        pos += 4;
        if (!has(length)) { ok = false; break; }
        if (!afford(tnefkit::appendCost(property.names()) + length + tnefkit::kAllocationOverhead)) break;
        // One byte per UTF-16 unit, zero-filled to the stored length.
        QFData name(static_cast<std::size_t>(length), 0);
        for (std::uint64_t u = 0; u < length / 2; ++u) name[u] = block[pos + 2 * u];
        property.addName(std::move(name));
        pos += std::min(padTo4Byte(length), size - pos);
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
        if (!has(4)) { truncated(); break; }
        values = uint32Value(block.data() + pos);
        pos += 4;
      }
      for (std::uint64_t v = 0; ok && v < values; ++v) {
        if (!afford(tnefkit::appendCost(property.values()))) break;
        std::uint64_t used = 0;
        auto value = QFMAPIValue::initWithDataType(type, at(), &used);
        if (!value || !has(used)) { ok = false; break; }
        property.addValue(std::move(*value));
        pos += used;
      }
    } else if (std::uint64_t slot = fixedSlot(type)) {
      if (multi) {
        // Multi-valued forms of these types are not decoded; their values are stepped over.
        tnefkit::logError(format("Error MAPI data for type: %s", QFMAPIValue::mapiDataTypeName(type).c_str()));
        if (!has(4)) { truncated(); break; }
        const std::uint64_t values = uint32Value(block.data() + pos);
        pos += 4;
        if (values > (size - pos) / slot) ok = false;
        else pos += values * slot;
      } else if (afford(tnefkit::appendCost(property.values()))) {
        std::uint64_t used = 0;
        auto value = QFMAPIValue::initWithDataType(type, at(), &used);
        if (!value) ok = false;
        else {
          property.addValue(std::move(*value));
          pos += used;
        }
      }
    } else if (isCounted(type)) {
      if (!has(4)) { truncated(); break; }
      const std::uint64_t values = uint32Value(block.data() + pos);
      pos += 4;
      for (std::uint64_t v = 0; ok && v < values; ++v) {
        if (!afford(tnefkit::appendCost(property.values()) + payloadCost(type, at()))) break;
        std::uint64_t used = 0;
        auto value = QFMAPIValue::initWithDataType(type, at(), &used);
        if (!value) { ok = false; break; }
        property.addValue(std::move(*value));
        pos += used;
      }
    } else {
      tnefkit::logError("Undefined attribute, input file may be corrupted");
      break;
    }
    if (spent) break;
    if (!ok) { truncated(); break; }
    if (debug) tnefkit::logDebug(property.description());
    list.push_back(std::move(property));
  }
  return list;
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
