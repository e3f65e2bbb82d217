#include "tnefkit/QFAttachment.h"

#include <cctype>

#include "tnefkit/QFAttrObject.h"
#include "tnefkit/QFFileHandle.h"
#include "tnefkit/QFMAPIAttrObject.h"
#include "tnefkit/QFModifyFlag.h"
#include "tnefkit/QFStringEncoding.h"
#include "tnefkit/QFTNEFIds.h"
#include "tnefkit/file_writer.h"
#include "tnefkit/mime_table.h"
#include "tnefkit/tnef_log.h"

using tnefkit::format;

namespace {
constexpr std::int32_t kUnicodeType = 31;
constexpr std::int32_t kSysTimeType = 64;

// A FILETIME (100 ns ticks since 1601-01-01 UTC) as a time point; empty for 0 and for ticks
// the clock cannot hold (it counts nanoseconds in 64 bits: about 292 years either side of 1970).
std::optional<std::chrono::system_clock::time_point> fromFileTime(std::uint64_t ticks) {
  using namespace std::chrono;
  constexpr std::uint64_t kTicksPerSecond = 10'000'000;
  constexpr std::int64_t kSecondsFrom1601To1970 = 11'644'473'600;
  constexpr std::int64_t kReach = std::int64_t{1} << 33;  // about 272 years
  if (ticks == 0) return std::nullopt;
  const std::int64_t secs = static_cast<std::int64_t>(ticks / kTicksPerSecond) - kSecondsFrom1601To1970;
  if (secs < -kReach || secs > kReach) return std::nullopt;
  const auto rest = nanoseconds(static_cast<std::int64_t>(ticks % kTicksPerSecond) * 100);
  return system_clock::time_point(duration_cast<system_clock::duration>(seconds(secs) + rest));
}

// Record text: without one terminating NUL byte.
QFData withoutTerminator(QFData bytes) {
  if (!bytes.empty() && bytes.back() == 0) bytes.pop_back();
  return bytes;
}

std::string lowered(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}
}  // namespace

QFAttachment::QFAttachment(std::shared_ptr<QFModifyFlag> modifyFlag) : flag_(std::move(modifyFlag)) {}

void QFAttachment::addAttrObject(QFAttrObject record) {
  switch (record.nameType()) {
    case QFTNEFAttributeAttachmentData:
      fileData_ = record.takeObjBuffer();
      hasFileData_ = true;
      break;
    case QFTNEFAttributeAttachmentFileName:
      fileTitle_ = Text{withoutTerminator(record.takeObjBuffer()), false};
      break;
    case QFTNEFAttributeAttachmentModificationDate:
      modifyDate_ = QFDate::initWithData(record.objBuffer());
      break;
    case QFTNEFAttributeAttachmentCreationDate:
      createDate_ = QFDate::initWithData(record.objBuffer());
      break;
    case QFTNEFAttributeAttachment: {
      auto list = QFMAPIAttrObject::mapiAttrObjectsFromData(record.objBuffer(), flag_);
      if (!list.empty()) addMAPIAttriObject(std::move(list));
      break;
    }
    case QFTNEFAttributeOEMCodepage:
      if (flag_ && flag_->debugOn()) tnefkit::logDebug(record.description());
      if (flag_ && record.objBuffer().size() >= 4) flag_->setOEMCodePage(readUint32(record.objBuffer()));
      break;
    default:
      break;
  }
}

void QFAttachment::addMAPIAttriObject(std::vector<QFMAPIAttrObject> properties) {
  for (QFMAPIAttrObject& property : properties) {
    if (property.values().empty()) continue;
    QFMAPIValue& first = property.values().front();
    if (first.dataType() == kSysTimeType) {
      const std::uint64_t ticks = first.dataWord(0) | std::uint64_t{first.dataWord(1)} << 32;
      if (property.nameType() == QFMAPINameTypeCREATION_TIME) creationTime_ = fromFileTime(ticks);
      if (property.nameType() == QFMAPINameTypeLAST_MODIFICATION_TIME) lastModificationTime_ = fromFileTime(ticks);
      continue;
    }
    if (!first.binaryData()) continue;
    const bool unicode = first.dataType() == kUnicodeType;
    switch (property.nameType()) {
      case QFMAPINameTypeATTACH_DATA_OBJ: {
        fileData_ = first.takeBinaryData();
        hasFileData_ = true;
        break;
      }
      case QFMAPINameTypeATTACH_LONG_FILENAME:
        fileInternalName_ = Text{withoutTerminator(first.takeBinaryData()), unicode};
        break;
      case QFMAPINameTypeATTACH_MIME_TAG:
        mimeType_ = Text{withoutTerminator(first.takeBinaryData()), unicode};
        break;
      case QFMAPINameTypeATTACH_CONTENT_ID:
        contentID_ = Text{withoutTerminator(first.takeBinaryData()), unicode};
        break;
      default:
        break;
    }
  }
}

std::optional<std::string> QFAttachment::decoded(const std::optional<Text>& text) const {
  if (!text) return std::nullopt;
  if (text->unicode) return std::string(text->bytes.begin(), text->bytes.end());
  return QFStringEncoding::decode(text->bytes, flag_ ? flag_->oemCodePage() : 0);
}

std::optional<std::string> QFAttachment::mimeType() const { return decoded(mimeType_); }
std::optional<std::string> QFAttachment::contentID() const { return decoded(contentID_); }
std::optional<std::string> QFAttachment::fileTitle() const { return decoded(fileTitle_); }
std::optional<std::string> QFAttachment::fileInternalName() const { return decoded(fileInternalName_); }

std::optional<std::string> QFAttachment::bestName() const {
  for (const auto* text : {&fileInternalName_, &fileTitle_}) {
    auto name = decoded(*text);
    if (name && !name->empty()) return tnefkit::safeFileName(*name);
  }
  return std::nullopt;
}

std::string QFAttachment::filename() const {
  auto name = bestName();
  if (!name) return "Untitled";
  std::string stem(tnefkit::deletingPathExtension(*name));
  return stem.empty() ? "Untitled" : stem;
}

std::optional<std::string> QFAttachment::extension() const {
  if (auto name = bestName()) {
    std::string_view ext = tnefkit::pathExtension(*name);
    if (!ext.empty()) return std::string(ext);
  }
  if (auto mime = mimeType(); mime && !mime->empty()) {
    if (auto ext = tnefkit::extensionForMimeType(*mime)) return tnefkit::safeFileName(*ext);
  }
  return std::nullopt;
}

bool QFAttachment::writeToFile(const std::filesystem::path& url, std::filesystem::path* writtenPath) const {
  std::filesystem::path path = url;
  const auto ext = extension();
  const std::string current(tnefkit::pathExtension(path.filename().string()));
  if (ext && *ext != lowered(current)) {
    tnefkit::logWarning(format("Warning: file extension(%s) not match (%s)", current.c_str(), ext->c_str()));
    path.replace_extension(*ext);
  }
  if (fileData_.empty()) tnefkit::logError(format("File data size is zero for attachment: %s", filename().c_str()));
  const QFBytes chunk(fileData_);
  auto written = tnefkit::writeNewFile(path, std::span<const QFBytes>(&chunk, fileData_.empty() ? 0 : 1),
                                       tnefkit::OnExisting::Number);
  if (written && writtenPath) *writtenPath = *written;
  return written.has_value() && !fileData_.empty();
}

std::string QFAttachment::description() const {
  std::string s = "Attachment title: " + filename() + "\n";
  if (auto m = mimeType()) s += "Attachment mime type: " + *m + "\n";
  if (auto c = contentID()) s += "Attachment content ID: " + *c + "\n";
  if (modifyDate_) s += "Attachment modify date: " + modifyDate_->description() + "\n";
  if (hasFileData_) s += format("Attachment content data: <%lu bytes>\n", static_cast<unsigned long>(fileData_.size()));
  return s;
}
