#include "tnefkit/QFTNEFFormat.h"

#include "tnefkit/TnefKit.h"

#include "platform/foundation/dispatcher.h"
#include "tnefkit/QFAttrObject.h"
#include "tnefkit/QFFileHandle.h"
#include "tnefkit/QFMAPIAttrObject.h"
#include "tnefkit/QFModifyFlag.h"
#include "tnefkit/QFTNEFIds.h"
#include "tnefkit/parse_budget.h"
#include "tnefkit/payload.h"
#include "tnefkit/tnef_log.h"

using tnefkit::format;

const std::int64_t QFBytesPerGUID = 16;
const std::int64_t QFNumberOfBytesForData4 = 8;
const std::int64_t QFParserFlagStart = 0;
const std::int64_t QFParserFlagProgress = 1;
const std::int64_t QFParserFlagComplete = 2;
const std::int64_t QFParserResultCodeFailed = -1;
const std::int64_t QFParserResultCodeSuccess = 0;

namespace {
constexpr std::uint64_t kOptionWord = 0x80;

// What one shared model object appended to `list` adds: the object, its control block and
// the list's growth.
template <class T>
std::uint64_t sharedObjectCost(const std::vector<std::shared_ptr<T>>& list) {
  return sizeof(T) + 2 * sizeof(void*) + tnefkit::kAllocationOverhead + tnefkit::appendCost(list);
}

// The block is shared, never copied, once the parse has it: posting cannot fail on a copy.
void post(const std::shared_ptr<const QFParserBlock>& block, std::int64_t flag, std::int64_t code) {
  if (!*block) return;
  foundation::Dispatcher::postMain([block, flag, code] { (*block)(static_cast<std::uint64_t>(flag), code); });
}
}  // namespace

std::shared_ptr<QFTNEFFormat> QFTNEFFormat::initWithURL(const std::filesystem::path& fileURL) {
  if (fileURL.empty()) {
    tnefkit::logError("MUST be a winmail file exist");
    return nullptr;
  }
  return std::make_shared<QFTNEFFormat>(Key{}, fileURL);
}

QFTNEFFormat::QFTNEFFormat(Key, std::filesystem::path fileURL) : fileURL_(std::move(fileURL)) {}

std::vector<std::shared_ptr<QFMessageBody>> QFTNEFFormat::messageBodys() const {
  std::lock_guard lock(mutex_);
  return messageBodys_;
}

std::vector<std::shared_ptr<QFAttachment>> QFTNEFFormat::attachments() const {
  std::lock_guard lock(mutex_);
  return attachments_;
}

bool QFTNEFFormat::hasValidateDataLeft(QFFileHandle& handle) {
  const std::uint64_t remaining = handle.bytesRemaining();
  if (remaining == 0) return false;
  if (remaining >= 8) return true;
  tnefkit::logError("ERROR: garbage at end of file.");
  return false;
}

bool QFTNEFFormat::startParserWithBlock(QFParserBlock block) {
  if (parsing_.exchange(true)) {
    tnefkit::logError("A parse of this file is already running.");
    return false;
  }
  std::shared_ptr<QFFileHandle> handle = QFFileHandle::fileHandleForReadingAtPath(fileURL_);
  if (!handle) {
    tnefkit::logError("Failed open winmail file.");
    parsing_ = false;
    return false;
  }
  auto flag = std::make_shared<QFModifyFlag>(kOptionWord);
  if (handle->readUint32() != markFlag()) {
    tnefkit::logError("Seems not to be a TNEF file");
    parsing_ = false;
    return false;
  }
  tnefKey_ = handle->readUint16();
  {
    std::lock_guard lock(mutex_);
    modifyflag_ = flag;
    messageBodys_.clear();
    attachments_.clear();
  }
  auto self = shared_from_this();
  auto shared = std::make_shared<const QFParserBlock>(std::move(block));
  foundation::Dispatcher::postBackground([self, handle, flag, shared] { self->parse(handle, flag, shared); });
  return true;
}

void QFTNEFFormat::parse(std::shared_ptr<QFFileHandle> handle, std::shared_ptr<QFModifyFlag> flag,
                         const SharedBlock& block) {
  std::shared_ptr<Results> results;
  std::int64_t code = QFParserResultCodeFailed;
  try {
    post(block, QFParserFlagStart, 0);
    results = std::make_shared<Results>();
    code = readRecords(*handle, flag, block, *results);
  } catch (const std::exception& e) {
    tnefkit::logError(format("Parse of %s failed: %s", fileURL_.c_str(), e.what()));
  } catch (...) {
    tnefkit::logError(format("Parse of %s failed", fileURL_.c_str()));
  }
  handle.reset();
  // Publish on the main queue, then report completion.
  auto self = shared_from_this();
  foundation::Dispatcher::postMain([self, results, block, code] {
    if (results) {
      std::lock_guard lock(self->mutex_);
      self->messageBodys_ = std::move(results->bodies);
      self->attachments_ = std::move(results->attachments);
    }
    self->parsing_ = false;
    if (*block) (*block)(static_cast<std::uint64_t>(QFParserFlagComplete), code);
  });
}

std::int64_t QFTNEFFormat::readRecords(QFFileHandle& handle, const std::shared_ptr<QFModifyFlag>& flag,
                                       const SharedBlock& block, Results& results) {
  if (!hasValidateDataLeft(handle)) return QFParserResultCodeSuccess;
  const auto size = static_cast<std::int64_t>(handle.fileSize());
  tnefkit::ParseBudget budget(tnefkit::ParseBudget::limitForFileSize(handle.fileSize()));
  tnefkit::ParseBudget::Scope scope(budget);
  std::shared_ptr<QFAttachment> current;
  std::int64_t lastPercent = -1;
  // A MAPI block is decoded as it is read from the file; its large values stay there.
  auto decodeBlock = [&](const QFRecordHeader& header, const QFMAPIAttrObject::PropertySink& sink,
                         const QFMAPIAttrObject::NameFilter& wanted = nullptr) {
    QFMAPIFileCursor in(handle, header.length);
    QFMAPIAttrObject::decodeProperties(in, flag, sink, wanted);
    if (in.finish() && QFAttrObject::readChecksum(handle, in.sum())) return true;
    tnefkit::logError("ERROR: truncated attribute record, input file may be corrupted");
    return false;
  };
  for (;;) {
    // One callback per new percentage, so that a stream of tiny records cannot flood the
    // main queue.
    const std::int64_t percent = static_cast<std::int64_t>(handle.offsetInFile()) * 100 / size;
    if (percent != lastPercent) {
      post(block, QFParserFlagProgress, percent);
      lastPercent = percent;
    }
    auto header = QFAttrObject::readHeader(handle);
    if (!header) break;
    const std::int32_t id = header->nameType;
    if (id == QFTNEFAttributeAttachmentRenderingData && budget.charge(sharedObjectCost(results.attachments))) {
      current = std::make_shared<QFAttachment>(flag);
      results.attachments.push_back(current);
    }
    if (budget.exhausted()) break;
    if (header->level == QFTNEFLevelAttachment && id == QFTNEFAttributeAttachment && current) {
      // The MAPI decoder charges its own.
      std::vector<QFMAPIAttrObject> properties;
      const bool whole = decodeBlock(*header, [&](QFMAPIAttrObject& property) {
        if (!budget.charge(tnefkit::appendCost(properties))) return false;
        properties.push_back(std::move(property));
        return true;
      });
      // A record cut short (the file shrank under the parse) adds nothing.
      if (!whole) break;
      if (!properties.empty()) current->addMAPIAttriObject(std::move(properties));
    } else if (header->level == QFTNEFLevelMessage && id == QFTNEFAttributeMAPIProperties) {
      // Each property is looked at as it is decoded; only bodies are kept, and the values of
      // the other properties are not even read.
      const auto bodyType = [](std::int32_t nameType) {
        return nameType == QFMAPINameTypeBODY_HTML ? QFMessageBodyTypeHTML
               : nameType == QFMAPINameTypeRTF_COMPRESSED ? QFMessageBodyTypeRTF
                                                          : -1;
      };
      const std::size_t bodiesBefore = results.bodies.size();
      const bool whole = decodeBlock(*header, [&](QFMAPIAttrObject& property) {
        const std::int32_t type = bodyType(property.nameType());
        if (type < 0) {
          if (flag->debugOn()) tnefkit::logDebug("Other type mapi object.");
          return true;
        }
        std::vector<tnefkit::Payload> blocks;
        for (QFMAPIValue& value : property.values()) {
          if (value.binaryData()) blocks.push_back(value.takeBinaryData());
        }
        if (!budget.charge(sharedObjectCost(results.bodies) + blocks.size() * sizeof(tnefkit::Payload))) return false;
        results.bodies.push_back(QFMessageBody::withBlocks(type, std::move(blocks), flag));
        return true;
      }, [&](std::int32_t nameType) { return bodyType(nameType) >= 0; });
      if (!whole) {
        results.bodies.resize(bodiesBefore);
        break;
      }
    } else {
      auto record = QFAttrObject::readData(*header, handle, flag);
      if (!record) break;
      if (record->objectType() == QFTNEFLevelAttachment) {
        if (current && budget.charge(record->heldSize() + tnefkit::kAllocationOverhead)) {
          current->addAttrObject(std::move(*record));
        }
      } else if (record->objectType() == QFTNEFLevelMessage) {
        if (id == QFTNEFAttributeBody) {
          if (!budget.charge(sharedObjectCost(results.bodies) + sizeof(tnefkit::Payload) + record->heldSize() +
                             2 * tnefkit::kAllocationOverhead)) {
            break;
          }
          std::vector<tnefkit::Payload> blocks;
          blocks.push_back(record->takeObjBuffer());
          results.bodies.push_back(QFMessageBody::withBlocks(QFMessageBodyTypePlainText, std::move(blocks), flag));
        } else if (id == QFTNEFAttributeOEMCodepage && record->objBuffer().size() >= 4) {
          flag->setOEMCodePage(readUint32(record->objBuffer()));
        }
      } else {
        tnefkit::logError(format("Invalid lvl type on attribute: %d\n", record->objectType()));
        return QFParserResultCodeFailed;
      }
    }
    if (budget.exhausted() || !hasValidateDataLeft(handle)) break;
  }
  return budget.exhausted() ? QFParserResultCodeFailed : QFParserResultCodeSuccess;
}

const double TnefKitVersionNumber = 1.0;
const unsigned char TnefKitVersionString[] = "@(#)PROGRAM:TnefKit  PROJECT:TnefKit-1\n";
