#include "tnefkit/QFMessageBody.h"

#include <cctype>

#include "tnefkit/QFModifyFlag.h"
#include "tnefkit/QFRTFParser.h"
#include "tnefkit/QFStringEncoding.h"
#include "tnefkit/file_writer.h"
#include "tnefkit/tnef_log.h"

using tnefkit::format;

std::string QFMessageBodyTypeInfo::extension() const {
  switch (type_) {
    case 0: return "txt";
    case 1: return "html";
    case 2: return "rtf";
    default: return "unknown";
  }
}

std::string QFMessageBodyTypeInfo::description() const {
  switch (type_) {
    case 0: return "text/plain";
    case 1: return "text/html";
    case 2: return "text/rtf";
    default: return "text/unknown";
  }
}

char QFMessageBodyTypeInfo::markFlag() const {
  switch (type_) {
    case 0: return 't';
    case 1: return 'h';
    case 2: return 'r';
    default: return 'u';
  }
}

QFMessageBody::QFMessageBody(std::int32_t type, std::vector<QFData> datas, std::shared_ptr<const QFModifyFlag> flag)
    : type_(type), datas_(std::move(datas)), flag_(std::move(flag)) {}

namespace {
std::string decodeText(const QFData& block, const std::shared_ptr<const QFModifyFlag>& flag) {
  QFBytes bytes(block);
  while (!bytes.empty() && bytes.back() == 0) bytes = bytes.first(bytes.size() - 1);
  return QFStringEncoding::decode(bytes, flag ? flag->oemCodePage() : 0);
}

std::string lowered(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}
}  // namespace

std::optional<std::string> QFMessageBody::textBody() const {
  if (type_ != QFMessageBodyTypePlainText || datas_.empty()) return std::nullopt;
  return decodeText(datas_.front(), flag_);
}

bool QFMessageBody::writeToFile(const std::filesystem::path& url, std::filesystem::path* writtenPath) const {
  std::filesystem::path path = url;
  const std::string wanted = messageBodyTypeInfo().extension();
  const std::string current = std::string(tnefkit::pathExtension(path.filename().string()));
  if (lowered(current) != wanted) {
    tnefkit::logWarning(format("Warning file extension not match message body type. Would change .%s to .%s",
                               current.c_str(), wanted.c_str()));
    path.replace_extension(wanted);
  }

  std::error_code ec;
  const auto target = path.parent_path() / tnefkit::safeFileName(path.filename().string());
  if (std::filesystem::exists(std::filesystem::symlink_status(target, ec))) {
    tnefkit::logError(format("Could not create file(%s): file exists\n", target.c_str()));
    return false;
  }

  std::vector<QFData> decoded;
  const std::vector<QFData>* blocks = &datas_;
  if (type_ == QFMessageBodyTypeRTF) {
    auto parser = QFRTFParser::initWithValues(datas_);
    if (parser) decoded = parser->rtfDatas();
    blocks = &decoded;
  } else if (type_ == QFMessageBodyTypePlainText) {
    for (const QFData& block : datas_) {
      std::string text = decodeText(block, flag_);
      decoded.emplace_back(text.begin(), text.end());
    }
    blocks = &decoded;
  }
  std::vector<QFBytes> chunks;
  std::uint64_t total = 0;
  for (const QFData& block : *blocks) {
    chunks.emplace_back(block);
    total += block.size();
  }
  if (total == 0) {
    tnefkit::logError("Message body is empty.");
    return false;
  }
  auto written = tnefkit::writeNewFile(path, chunks, tnefkit::OnExisting::Fail);
  if (written && writtenPath) *writtenPath = *written;
  return written.has_value();
}

std::string QFMessageBody::description() const {
  std::string s = format("Message body format type: %s\n", messageBodyTypeInfo().description().c_str());
  s += format("message content block size: %ld\n", static_cast<long>(datas_.size()));
  for (const QFData& block : datas_) s += format("<%lu bytes>\n", static_cast<unsigned long>(block.size()));
  return s;
}
