#include "tnefkit/QFAttrObject.h"

#include <algorithm>
#include <cstring>

#include "tnefkit/QFStringEncoding.h"
#include "tnefkit/QFTNEFIds.h"
#include "tnefkit/tnef_log.h"

using tnefkit::format;

const char* const QFMonday = "Monday";
const char* const QFTuesday = "Tuesday";
const char* const QFWednessday = "Wednessday";
const char* const QFThursday = "Thursday";
const char* const QFFriday = "Friday";
const char* const QFSaturday = "Saturday";
const char* const QFSunday = "Sunday";

// ---- QFGUID

std::optional<QFGUID> QFGUID::initWithData(QFBytes data) {
  if (data.size() < 16) {
    tnefkit::logError("Error GUID data.");
    return std::nullopt;
  }
  QFGUID g;
  g.data1_ = uint32Value(data.data());
  g.data2_ = uint16Value(data.data() + 4);
  g.data3_ = uint16Value(data.data() + 6);
  std::memcpy(g.data4_, data.data() + 8, 8);
  return g;
}

std::string QFGUID::description() const {
  std::string s = format("{ 0x%04x 0x%02x 0x%02x { ", data1_, data2_, data3_);
  for (std::uint8_t b : data4_) s += format("0x%02x ", b);
  return s + "}}";
}

// ---- QFDate

std::shared_ptr<QFDate> QFDate::initWithData(QFBytes data) {
  if (data.size() < 14) {
    tnefkit::logError("Error data for parser date.");
    return nullptr;
  }
  auto d = std::make_shared<QFDate>();
  for (int i = 0; i < 7; ++i) d->fields_[i] = static_cast<std::int16_t>(uint16Value(data.data() + 2 * i));
  return d;
}

std::int16_t QFDate::valueAtIndex(std::size_t index) const {
  if (index >= 7) {
    tnefkit::logError(format("Error date component index(%lu>=%lu)", static_cast<unsigned long>(index), 7ul));
    return 0;
  }
  return fields_[index];
}

std::string QFDate::weekday() const {
  static const char* const names[] = {QFMonday, QFTuesday, QFWednessday, QFThursday, QFFriday, QFSaturday, QFSunday};
  int w = fields_[6];
  return (w >= 0 && w < 7) ? names[w] : "";
}

std::string QFDate::description() const {
  return format("%s %04d-%02d-%02d %02d:%02d:%02d", weekday().c_str(), year(), month(), day(), hour(), minute(),
                second());
}

std::optional<std::chrono::system_clock::time_point> QFDate::toNSDate() const {
  using namespace std::chrono;
  year_month_day ymd{std::chrono::year(year()), std::chrono::month(static_cast<unsigned>(month())),
                     std::chrono::day(static_cast<unsigned>(day()))};
  if (month() < 1 || day() < 1 || !ymd.ok() || hour() < 0 || hour() > 23 || minute() < 0 || minute() > 59 ||
      second() < 0 || second() > 60) {
    return std::nullopt;
  }
  return sys_days(ymd) + hours(hour()) + minutes(minute()) + seconds(second());
}

// ---- QFTriple

std::shared_ptr<QFTriple> QFTriple::initWithData(QFBytes data, std::shared_ptr<const QFModifyFlag> flag) {
  if (data.size() < 8) return nullptr;
  auto t = std::make_shared<QFTriple>();
  t->data_.assign(data.begin(), data.end());
  t->flag_ = std::move(flag);
  return t;
}

std::uint16_t QFTriple::valueAtIndex(std::size_t index) const {
  if (index >= 4) {
    tnefkit::logError(format("Error triple component index(%lu>%lu)", static_cast<unsigned long>(index), 4ul));
    return 0;
  }
  return uint16Value(data_.data() + 2 * index);
}

std::string QFTriple::senderDisplayName() const {
  std::size_t n = trpcch();
  if (data_.size() < n + 8) {
    tnefkit::logError("Error triple data for sender display name");
    return "?";
  }
  return QFStringEncoding::decode(QFBytes(data_).subspan(8, n), flag_ ? flag_->oemCodePage() : 0);
}

std::string QFTriple::senderAddress() const {
  std::size_t start = std::size_t(trpcch()) + 8;
  if (data_.size() < start) {
    tnefkit::logError("Error triple data for sender address");
    return "?";
  }
  return QFStringEncoding::decode(QFBytes(data_).subspan(start), flag_ ? flag_->oemCodePage() : 0);
}

std::string QFTriple::description() const {
  return format("trpID: %d\ntrpchbgtrp: %d\ntrpcch: %d\ntrpcb: %d\nsender display name: %s\nsender address: %s",
                trpID(), trpchbg(), trpcch(), trpcb(), senderDisplayName().c_str(), senderAddress().c_str());
}

// ---- QFAttrObject

QFAttrObject::QFAttrObject(std::int32_t objectType, std::int32_t dataType, std::int32_t nameType, QFData objBuffer,
                           std::shared_ptr<QFModifyFlag> modifyFlag)
    : objectType_(objectType),
      dataType_(dataType),
      nameType_(nameType),
      modifyFlag_(std::move(modifyFlag)),
      objBuffer_(std::move(objBuffer)) {}

std::optional<QFAttrObject> QFAttrObject::initWithFileHandle(QFFileHandle* handle,
                                                             std::shared_ptr<QFModifyFlag> modifyFlag) {
  if (handle == nullptr) {
    tnefkit::logError("Must be a filehandle for parser");
    return std::nullopt;
  }
  auto header = readHeader(*handle);
  if (!header) return std::nullopt;
  return readData(*header, *handle, std::move(modifyFlag));
}

std::optional<QFRecordHeader> QFAttrObject::readHeader(QFFileHandle& handle) {
  std::uint8_t level = 0;
  handle.readBytes(&level, 1);
  if (level != QFTNEFLevelMessage && level != QFTNEFLevelAttachment) {
    tnefkit::logError("Error object type or can't find tnef object.");
    return std::nullopt;
  }
  std::uint8_t head[8];
  if (handle.readBytes(head, 8) != 8) {
    tnefkit::logError("ERROR: truncated attribute record, input file may be corrupted");
    return std::nullopt;
  }
  const std::uint32_t attribute = uint32Value(head);
  QFRecordHeader header{level, static_cast<std::int32_t>(attribute >> 16), static_cast<std::int32_t>(attribute & 0xFFFF),
                        uint32Value(head + 4)};
  // The data and the checksum word must both fit in what remains.
  if (header.length + 2 > handle.bytesRemaining()) {
    tnefkit::logError("ERROR: truncated attribute record, input file may be corrupted");
    return std::nullopt;
  }
  return header;
}

std::optional<QFAttrObject> QFAttrObject::readData(const QFRecordHeader& header, QFFileHandle& handle,
                                                   std::shared_ptr<QFModifyFlag> modifyFlag) {
  auto truncated = [] {
    tnefkit::logError("ERROR: truncated attribute record, input file may be corrupted");
    return std::nullopt;
  };
  tnefkit::Payload data;
  std::uint16_t sum = 0;
  if (header.length <= tnefkit::Payload::kHeldInMemory) {
    QFData bytes = handle.readDataOfLength(header.length);
    if (bytes.size() != header.length) return truncated();
    sum = tnefkit::byteSum(bytes);
    data = std::move(bytes);
  } else {
    // Larger data stays in the file: read once here for its checksum and digest.
    const std::uint64_t offset = handle.offsetInFile();
    tnefkit::Digest digest;
    const std::uint64_t read = handle.consume(header.length, [&](QFBytes slice) {
      sum = tnefkit::byteSum(slice, sum);
      digest.add(slice);
    });
    if (read != header.length) return truncated();
    data = tnefkit::Payload::inFile(handle.file(), offset, header.length, digest.value());
  }
  QFAttrObject record(header.level, header.dataType, header.nameType, QFData(), std::move(modifyFlag));
  record.objBuffer_ = std::move(data);
  if (!readChecksum(handle, sum, &record)) return truncated();
  if (record.modifyFlag_ && record.modifyFlag_->debugOn()) tnefkit::logDebug(record.description());
  return record;
}

bool QFAttrObject::readChecksum(QFFileHandle& handle, std::uint16_t sum, const QFAttrObject* record) {
  std::uint8_t word[2];
  if (handle.readBytes(word, 2) != 2) return false;
  // The length already bounds the record, so a wrong checksum costs only trust in its data:
  // keep the record and let the parse go on.
  const std::uint16_t expected = uint16Value(word);
  if (expected != sum) {
    if (record && record->modifyFlag_ && record->modifyFlag_->debugOn()) record->checksum(expected, record->objBuffer());
    tnefkit::logError("ERROR: invalid checksum, input file may be corrupted");
  }
  return true;
}

bool QFAttrObject::checksum(std::uint16_t expected, QFBytes data) const {
  std::uint32_t total = 0;
  for (std::uint8_t b : data) total += b;
  const auto sum = static_cast<std::uint16_t>(total);
  if (sum != expected && modifyFlag_ && modifyFlag_->debugOn()) {
    long match = -1;
    std::uint16_t running = 0;
    for (std::size_t i = 0; i < data.size(); ++i) {
      running = static_cast<std::uint16_t>(running + data[i]);
      if (running == expected) match = static_cast<long>(i);
    }
    tnefkit::logDebug(format("!!checksum error: length=%lu sum=%04x checksum=%04x match=%d\n",
                             static_cast<unsigned long>(data.size()), sum, expected, static_cast<int>(match)));
  }
  return sum == expected;
}

std::string QFAttrObject::tnefDataTypeName(std::int32_t type) {
  static const char* const names[] = {"triples", "string", "text", "date", "short",
                                      "long",    "byte",   "word", "dword", "max"};
  return (type >= 0 && type <= 9) ? names[type] : "";
}

std::string QFAttrObject::tnefNameTypeName(std::int32_t nameType) {
  switch (nameType) {
    case QFTNEFAttributeOwner: return "Owner";
    case QFTNEFAttributeSentFor: return "Sent For";
    case QFTNEFAttributeDelegate: return "Delegate";
    case QFTNEFAttributeDateStart: return "Date Start";
    case QFTNEFAttributeDateEnd: return "Date End";
    case QFTNEFAttributeOwnerAppointmentID: return "Owner Appointment ID";
    case QFTNEFAttributeResponseRequested: return "Response Requested.";
    case QFTNEFAttributeFrom: return "From";
    case QFTNEFAttributeSubject: return "Subject";
    case QFTNEFAttributeDateSent: return "Date Sent";
    case QFTNEFAttributeDateReceived: return "Date Received";
    case QFTNEFAttributeMessageStatus: return "Message Status";
    case QFTNEFAttributeMessageClass: return "Message Class";
    case QFTNEFAttributeMessageID: return "Message ID";
    case QFTNEFAttributeParentID: return "Parent ID";
    case QFTNEFAttributeConversationID: return "Conversation ID";
    case QFTNEFAttributeBody: return "Body";
    case QFTNEFAttributePriority: return "Priority";
    case QFTNEFAttributeAttachmentData: return "Attachment Data";
    case QFTNEFAttributeAttachmentFileName: return "Attachment File Name";
    case QFTNEFAttributeAttachmentMetaFile: return "Attachment Meta File";
    case QFTNEFAttributeAttachmentCreationDate: return "Attachment Creation Date";
    case QFTNEFAttributeAttachmentModificationDate: return "Attachment Modification Date";
    case QFTNEFAttributeDateModified: return "Date Modified";
    case QFTNEFAttributeAttachmentTransportFilename: return "Attachment Transport Filename";
    case QFTNEFAttributeAttachmentRenderingData: return "Attachment Rendering Data";
    case QFTNEFAttributeMAPIProperties: return "MAPI Properties";
    case QFTNEFAttributeRecipients: return "Recipients";
    case QFTNEFAttributeAttachment: return "Attachment";
    case QFTNEFAttributeTNEFVersion: return "TNEF Version";
    case QFTNEFAttributeOEMCodepage: return "OEM Codepage";
    case QFTNEFAttributeOriginalMessageClass: return "Original Message Class";
    default: return " ";
  }
}

namespace {
// Descriptions show at most this many bytes of a record's data, so that a large record
// costs no more to describe than a small one.
constexpr std::size_t kDescribedBytes = 256;

// `total`: the size of the data of which `shown` bytes were described.
std::string elided(std::uint64_t total, std::size_t shown) {
  return shown < total ? format(" ... (%lu bytes)", static_cast<unsigned long>(total)) : "";
}

std::string hexBytes(QFBytes data, std::uint64_t total) {
  static const char digits[] = "0123456789abcdef";
  const std::size_t n = std::min(data.size(), kDescribedBytes);
  std::string s = "<";
  for (std::size_t i = 0; i < n; ++i) {
    if (i && i % 4 == 0) s += ' ';
    s += digits[data[i] >> 4];
    s += digits[data[i] & 0xF];
  }
  return s + elided(total, n) + ">";
}
}  // namespace

std::string QFAttrObject::description() const {
  std::string s = format("(%s) %s [type: %s] [length: %lu] =\n\t", objectType_ == 2 ? "Attachment" : "Message",
                         tnefNameTypeName(nameType_).c_str(), tnefDataTypeName(dataType_).c_str(),
                         static_cast<unsigned long>(objBuffer_.size()));
  // Data left in the file is described by its first bytes, as large data is in memory.
  const QFData prefix = objBuffer_.isInFile() ? objBuffer_.prefix(kDescribedBytes + 4) : QFData();
  const QFBytes data = objBuffer_.isInFile() ? QFBytes(prefix) : QFBytes(objBuffer_.bytes());
  const std::uint64_t total = objBuffer_.size();
  switch (dataType_) {
    case 0: {
      auto t = QFTriple::initWithData(data.first(std::min(data.size(), kDescribedBytes)), modifyFlag_);
      return s + (t ? t->description() : "Error triple data.");
    }
    case 1:
    case 2: {
      const std::size_t limit = std::min(data.size(), kDescribedBytes);
      std::size_t n = 0;
      while (n < limit && data[n] != 0) ++n;
      s.append(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(n));
      return n == limit ? s + elided(total, n) : s;
    }
    case 3: {
      auto d = QFDate::initWithData(data);
      return s + (d ? d->description() : "Error date data.");
    }
    case 4:
      if (data.size() < 2) return s + "Not enough data for data type short.";
      s += format("%d\n", static_cast<std::int16_t>(uint16Value(data.data())));
      if (data.size() > 2) s += "[extra data: " + hexBytes(data.subspan(2), total - 2) + "]";
      return s;
    case 5:
      if (data.size() < 4) return s + "Not enough data for data type long.";
      s += format("%d\n", static_cast<std::int32_t>(uint32Value(data.data())));
      if (data.size() > 4) s += "[extra data: " + hexBytes(data.subspan(4), total - 4) + "]";
      return s;
    case 6:
      return s + hexBytes(data, total);
    case 7:
    case 8: {
      std::size_t width = dataType_ == 7 ? 2 : 4;
      const std::size_t limit = std::min(data.size(), kDescribedBytes);
      for (std::size_t i = 0; i + width <= limit; i += width) {
        long v = width == 2 ? static_cast<std::int16_t>(uint16Value(data.data() + i))
                            : static_cast<std::int32_t>(uint32Value(data.data() + i));
        bool twentieth = (i / width + 1) % 20 == 0;
        s += format(twentieth ? "%ld\t\n" : "%ld\t", v);
      }
      return s + elided(total, limit);
    }
    default:
      return s + "<unknown type>";
  }
}
