#pragma once
// Decoding of MAPI property blocks (message attribute 0x9003, attachment attribute 0x9005).

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tnefkit/QFAttrObject.h"
#include "tnefkit/QFFileHandle.h"
#include "tnefkit/QFModifyFlag.h"
#include "tnefkit/QFReadType.h"
#include "tnefkit/payload.h"

// A forward reader over the bytes of one MAPI property block.
class QFMAPICursor {
 public:
  virtual ~QFMAPICursor() = default;
  virtual std::uint64_t remaining() const = 0;
  // Copies the next `n` bytes (n <= remaining()) into `out`.
  virtual void read(void* out, std::size_t n) = 0;
  // Hands the next `n` bytes (n <= remaining()) to `sink`, slice by slice.
  virtual void consume(std::uint64_t n, const std::function<void(QFBytes)>& sink) = 0;
  // The next `n` bytes (n <= remaining()) as the model keeps them.
  virtual tnefkit::Payload take(std::uint64_t n) = 0;
  // What take(n) holds in memory.
  virtual std::uint64_t heldSize(std::uint64_t n) const = 0;

  bool has(std::uint64_t n) const { return n <= remaining(); }
  std::uint32_t readUint32();
  std::uint16_t readUint16();
  void skip(std::uint64_t n);
};

// A block in memory; every value is copied out of it.
class QFMAPIMemoryCursor final : public QFMAPICursor {
 public:
  explicit QFMAPIMemoryCursor(QFBytes block) : block_(block) {}
  std::uint64_t position() const { return pos_; }

  std::uint64_t remaining() const override { return block_.size() - pos_; }
  void read(void* out, std::size_t n) override;
  void consume(std::uint64_t n, const std::function<void(QFBytes)>& sink) override;
  tnefkit::Payload take(std::uint64_t n) override;
  std::uint64_t heldSize(std::uint64_t n) const override { return n; }

 private:
  QFBytes block_;
  std::uint64_t pos_ = 0;
};

// The data of a record, read from its file as it is decoded: every byte is summed for the
// record's checksum as it passes, and values larger than Payload::kHeldInMemory stay in the
// file. Should the file end early, the block reads as ending there.
class QFMAPIFileCursor final : public QFMAPICursor {
 public:
  QFMAPIFileCursor(QFFileHandle& handle, std::uint64_t length) : handle_(handle), left_(length) {}
  // Steps over what the decoder left of the block. False when the file ended before the
  // block did.
  bool finish();
  std::uint16_t sum() const { return sum_; }

  std::uint64_t remaining() const override { return left_; }
  void read(void* out, std::size_t n) override;
  void consume(std::uint64_t n, const std::function<void(QFBytes)>& sink) override;
  tnefkit::Payload take(std::uint64_t n) override;
  std::uint64_t heldSize(std::uint64_t n) const override;

 private:
  QFFileHandle& handle_;
  std::uint64_t left_;
  std::uint16_t sum_ = 0;
  bool failed_ = false;
};

// One value of a MAPI property.
class QFMAPIValue {
 public:
  // Decodes one value of `dataType` (multi-value bit removed) from the start of `buffer`.
  // Empty for a rejected or unknown type, or when `buffer` is too short for the value.
  // `consumed` receives the bytes the value occupies in the block, padding included.
  static std::optional<QFMAPIValue> initWithDataType(std::int32_t dataType, QFBytes buffer,
                                                     std::uint64_t* consumed = nullptr);
  // The same at a cursor.
  static std::optional<QFMAPIValue> initWithDataType(std::int32_t dataType, QFMAPICursor& in);
  // A value of a counted type whose length word has been read: its `length` bytes
  // (length <= in.remaining()) and what there is of their padding.
  static QFMAPIValue readCounted(std::int32_t dataType, std::uint64_t length, QFMAPICursor& in);

  std::int32_t dataType() const { return dataType_; }
  std::uint64_t lengthOfData() const { return lengthOfData_; }
  // The bytes of a counted value (13, 30, 258), the UTF-8 text of a type-31 value; empty for
  // the fixed types. Only type-31 text is always in memory.
  const std::optional<tnefkit::Payload>& binaryData() const { return binaryData_; }
  tnefkit::Payload takeBinaryData();
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
  std::optional<tnefkit::Payload> binaryData_;
};

// One MAPI property: type, id (or the numeric id of a named property), names and values.
class QFMAPIAttrObject {
 public:
  explicit QFMAPIAttrObject(std::int32_t dataType = 0, std::int32_t nameType = 1)
      : nameType_(nameType), dataType_(dataType) {}

  // The properties of `block` in order. Decoding stops, keeping what came before, at a
  // property of a rejected or unknown type, wherever the block ends early, and once the
  // budget of the parse running on this thread is spent.
  static std::vector<QFMAPIAttrObject> mapiAttrObjectsFromData(QFBytes block,
                                                               const std::shared_ptr<QFModifyFlag>& modifyFlag);
  static std::vector<QFMAPIAttrObject> mapiAttrObjectsFromCursor(QFMAPICursor& block,
                                                                 const std::shared_ptr<QFModifyFlag>& modifyFlag);
  // The same, handing each property to `sink` as it is decoded instead of keeping a list;
  // `sink` answering false stops the decoding. Given `wanted`, the counted values of a
  // property whose name type it refuses are stepped over unread (unless diagnostics are on),
  // so that a large text nobody keeps is never converted.
  using PropertySink = std::function<bool(QFMAPIAttrObject& property)>;
  using NameFilter = std::function<bool(std::int32_t nameType)>;
  static void decodeProperties(QFMAPICursor& block, const std::shared_ptr<QFModifyFlag>& modifyFlag,
                               const PropertySink& sink, const NameFilter& wanted = nullptr);
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
