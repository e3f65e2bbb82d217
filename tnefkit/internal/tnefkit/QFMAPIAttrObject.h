#pragma once
// Decoding of MAPI property blocks (message attribute 0x9003, attachment attribute 0x9005).

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tnefkit/QFAttrObject.h"
#include "tnefkit/QFModifyFlag.h"
#include "tnefkit/QFReadType.h"

// One value of a MAPI property.
class QFMAPIValue {
 public:
  // Decodes one value of `dataType` (multi-value bit removed) from the start of `buffer`.
  // Empty for a rejected or unknown type, or when `buffer` is too short for the value.
  // `consumed` receives the bytes the value occupies in the block, padding included.
  static std::optional<QFMAPIValue> initWithDataType(std::int32_t dataType, QFBytes buffer,
                                                     std::uint64_t* consumed = nullptr);

  std::int32_t dataType() const { return dataType_; }
  std::uint64_t lengthOfData() const { return lengthOfData_; }
  // The bytes of a counted value (13, 30, 258), the UTF-8 text of a type-31 value; empty for
  // the fixed types.
  const std::optional<QFData>& binaryData() const { return binaryData_; }
  QFData takeBinaryData();
  // The fixed value's words: 16- and 32-bit values in word 0, 64-bit values low word first.
  std::uint32_t dataWord(int index) const { return data_[index & 1]; }
  const std::optional<QFGUID>& guid() const { return guid_; }

  // UTF-16LE text of `length` bytes as UTF-8, up to the first NUL unit; surrogate pairs are
  // combined and lone surrogates become U+FFFD.
  static std::string stringFromUnicode(const std::uint8_t* buffer, std::uint64_t length);
  static std::string mapiDataTypeName(std::int32_t dataType);
  std::string description() const;

 private:
  std::int32_t dataType_ = 0;
  std::uint64_t lengthOfData_ = 0;
  std::uint32_t data_[2] = {};
  std::optional<QFGUID> guid_;
  std::optional<QFData> binaryData_;
};

// One MAPI property: type, id (or the numeric id of a named property), names and values.
class QFMAPIAttrObject {
 public:
  explicit QFMAPIAttrObject(std::int32_t dataType = 0, std::int32_t nameType = 1)
      : nameType_(nameType), dataType_(dataType) {}

  // The properties of `block` in order. Decoding stops, keeping what came before, at a
  // property of a rejected or unknown type and wherever the block ends early.
  static std::vector<QFMAPIAttrObject> mapiAttrObjectsFromData(QFBytes block,
                                                               const std::shared_ptr<QFModifyFlag>& modifyFlag);
  static std::uint64_t padTo4Byte(std::uint64_t n) { return (n + 3) & ~std::uint64_t(3); }

  std::int32_t nameType() const { return nameType_; }
  std::int32_t dataType() const { return dataType_; }
  const std::optional<QFGUID>& guid() const { return guid_; }
  const std::vector<QFData>& names() const { return names_; }
  const std::vector<QFMAPIValue>& values() const { return values_; }
  std::vector<QFMAPIValue>& values() { return values_; }

  void setGUID(const QFGUID& guid) { guid_ = guid; }
  void setMAPINameType(std::int32_t nameType) { nameType_ = nameType; }
  void setDataType(std::int32_t dataType) { dataType_ = dataType; }
  void addName(QFData name) { names_.push_back(std::move(name)); }
  void addValue(QFMAPIValue value) { values_.push_back(std::move(value)); }

  static std::string mapiNameTypeName(std::int32_t nameType);
  std::string description() const;

 private:
  std::int32_t nameType_;
  std::int32_t dataType_;
  std::optional<QFGUID> guid_;
  std::vector<QFData> names_;
  std::vector<QFMAPIValue> values_;
};
