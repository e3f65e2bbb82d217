#pragma once
// One attribute record of a TNEF stream, and the small value types that records carry.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "tnefkit/QFDate.h"
#include "tnefkit/QFFileHandle.h"
#include "tnefkit/QFModifyFlag.h"
#include "tnefkit/QFReadType.h"
#include "tnefkit/payload.h"

// A GUID as stored: data1, data2, data3 little-endian, data4 eight bytes as they are.
class QFGUID {
 public:
  // Empty (with a log line) when `data` is shorter than 16 bytes.
  static std::optional<QFGUID> initWithData(QFBytes data);

  std::uint32_t data1() const { return data1_; }
  std::uint16_t data2() const { return data2_; }
  std::uint16_t data3() const { return data3_; }
  const std::uint8_t* data4() const { return data4_; }
  std::string description() const;

 private:
  std::uint32_t data1_ = 0;
  std::uint16_t data2_ = 0;
  std::uint16_t data3_ = 0;
  std::uint8_t data4_[8] = {};
};

// The sender triple: four 16-bit words, the display name, then the address.
class QFTriple {
 public:
  // Null when `data` is shorter than 8 bytes.
  static std::shared_ptr<QFTriple> initWithData(QFBytes data, std::shared_ptr<const QFModifyFlag> flag = nullptr);

  // Component 0 to 3; a larger index logs and answers 0.
  std::uint16_t valueAtIndex(std::size_t index) const;
  std::uint16_t trpID() const { return valueAtIndex(0); }
  std::uint16_t trpchbg() const { return valueAtIndex(1); }
  std::uint16_t trpcch() const { return valueAtIndex(2); }
  std::uint16_t trpcb() const { return valueAtIndex(3); }
  // Decoded strings; "?" when the data is too short for them.
  std::string senderDisplayName() const;
  std::string senderAddress() const;
  const QFData& tripleData() const { return data_; }
  std::string description() const;

 private:
  QFData data_;
  std::shared_ptr<const QFModifyFlag> flag_;
};

// The fixed part of an attribute record: level, attribute and data length.
struct QFRecordHeader {
  std::int32_t level = 0;
  std::int32_t dataType = 0;
  std::int32_t nameType = 0;
  std::uint64_t length = 0;
};

// One attribute record: level, TNEF value type, attribute id and data; a checksum mismatch
// is logged and the record kept (its length bounds it).
class QFAttrObject {
 public:
  // Reads one record at the handle's position: its data is held in memory up to
  // Payload::kHeldInMemory bytes, else left in the file. Empty (with a log line) on a bad
  // level or a record cut short by the end of the file.
  static std::optional<QFAttrObject> initWithFileHandle(QFFileHandle* handle, std::shared_ptr<QFModifyFlag> modifyFlag);
  // The two steps of initWithFileHandle: the fixed part, checked against what remains of the
  // file (the data and the checksum word must fit), then the data and its checksum.
  static std::optional<QFRecordHeader> readHeader(QFFileHandle& handle);
  static std::optional<QFAttrObject> readData(const QFRecordHeader& header, QFFileHandle& handle,
                                              std::shared_ptr<QFModifyFlag> modifyFlag);
  // Reads the checksum word that ends a record whose data summed to `sum`, and logs a
  // mismatch (with debugOn, checksum()'s diagnostic of `record`'s data). False when the file
  // ends first.
  static bool readChecksum(QFFileHandle& handle, std::uint16_t sum, const QFAttrObject* record = nullptr);

  // A record built from its parts, as the stream would carry it.
  QFAttrObject(std::int32_t objectType, std::int32_t dataType, std::int32_t nameType, QFData objBuffer,
               std::shared_ptr<QFModifyFlag> modifyFlag = nullptr);

  std::int32_t objectType() const { return objectType_; }
  std::int32_t dateType() const { return dataType_; }
  std::int32_t nameType() const { return nameType_; }
  // The data in memory (data left in the file is read on first use).
  const QFData& objBuffer() const { return objBuffer_.bytes(); }
  // Moves the data out of the record, as it is kept.
  tnefkit::Payload takeObjBuffer() { return std::move(objBuffer_); }
  // What the record holds in memory.
  std::uint64_t heldSize() const { return objBuffer_.isInFile() ? tnefkit::Payload::inFileCost() : objBuffer_.size(); }
  const std::shared_ptr<QFModifyFlag>& modifyFlag() const { return modifyFlag_; }

  // Whether the 16-bit byte sum of `data` equals `expected`.
  bool checksum(std::uint16_t expected, QFBytes data) const;

  static std::string tnefDataTypeName(std::int32_t type);
  static std::string tnefNameTypeName(std::int32_t nameType);
  std::string description() const;

 private:
  std::int32_t objectType_;
  std::int32_t dataType_;
  std::int32_t nameType_;
  std::shared_ptr<QFModifyFlag> modifyFlag_;
  tnefkit::Payload objBuffer_;
};
