#include "tnefkit/QFMessageBody.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <mutex>

#include "tnefkit/QFModifyFlag.h"
#include "tnefkit/QFRTFParser.h"
#include "tnefkit/QFStringEncoding.h"
#include "tnefkit/file_writer.h"
#include "tnefkit/payload.h"
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

struct QFMessageBody::Blocks {
  std::vector<tnefkit::Payload> payloads;
  std::once_flag once;
  std::vector<QFData> loaded;
};

QFMessageBody::QFMessageBody(std::int32_t type, std::vector<QFData> datas, std::shared_ptr<const QFModifyFlag> flag)
    : type_(type), blocks_(std::make_shared<Blocks>()), flag_(std::move(flag)) {
  blocks_->payloads.reserve(datas.size());
  for (QFData& block : datas) blocks_->payloads.emplace_back(std::move(block));
}

std::shared_ptr<QFMessageBody> QFMessageBody::withBlocks(std::int32_t type, std::vector<tnefkit::Payload> blocks,
                                                         std::shared_ptr<const QFModifyFlag> flag) {
  auto body = std::make_shared<QFMessageBody>(type, std::vector<QFData>(), std::move(flag));
  body->blocks_->payloads = std::move(blocks);
  return body;
}

const std::vector<QFData>& QFMessageBody::datas() const {
  std::call_once(blocks_->once, [this] {
    for (const tnefkit::Payload& block : blocks_->payloads) blocks_->loaded.push_back(block.copy());
  });
  return blocks_->loaded;
}

namespace {

using tnefkit::Payload;
using tnefkit::SliceSink;

std::string lowered(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// Passes slices on without the NUL bytes at the very end of the text: a run of NULs is held
// back until something follows it.
class WithoutTrailingNuls {
 public:
  template <class Next>
  void add(QFBytes slice, Next&& next) {
    std::size_t end = slice.size();
    while (end > 0 && slice[end - 1] == 0) --end;
    if (end == 0) {
      held_ += slice.size();
      return;
    }
    static constexpr std::uint8_t kZeros[4096] = {};
    for (; held_ > 0; held_ -= std::min<std::uint64_t>(held_, sizeof kZeros)) {
      next(QFBytes(kZeros, static_cast<std::size_t>(std::min<std::uint64_t>(held_, sizeof kZeros))));
    }
    next(slice.first(end));
    held_ = slice.size() - end;
  }

 private:
  std::uint64_t held_ = 0;
};

// A plain-text block as UTF-8, without its trailing NULs, decoded with the container's code
// page, else as UTF-8 when it is valid UTF-8, else with the locale's encoding; handed to
// `out` in slices.
bool writeText(const Payload& block, std::uint32_t codePage, const SliceSink& out, std::string* why) {
  QFTextDecoder decoder(codePage);
  if (decoder.needsCheck()) {
    WithoutTrailingNuls text;
    const bool read = block.read(
        [&](QFBytes slice) {
          text.add(slice, [&](QFBytes part) { decoder.check(part); });
          return true;
        },
        why);
    if (!read) return false;
    decoder.endCheck();
  }
  WithoutTrailingNuls text;
  std::string utf8;
  auto flush = [&] {
    const bool ok = utf8.empty() || out(QFBytes(reinterpret_cast<const std::uint8_t*>(utf8.data()), utf8.size()));
    utf8.clear();
    return ok;
  };
  const bool read = block.read(
      [&](QFBytes slice) {
        text.add(slice, [&](QFBytes part) { decoder.add(part, utf8); });
        return utf8.size() < Payload::kSlice || flush();
      },
      why);
  if (!read) return false;
  decoder.finish(utf8);
  return flush();
}

// A compressed-RTF block decoded, handed to `out` in slices; a block that is not such a
// stream, or that fails its checks, adds nothing. The block is read twice: for its header
// and CRC, then for its tokens.
bool writeRtf(const Payload& block, const SliceSink& out, std::string* why) {
  const std::uint64_t size = block.size();
  std::uint8_t header[16] = {};
  std::size_t have = 0;
  std::uint32_t crc = 0;
  const bool read = block.read(
      [&](QFBytes slice) {
        const std::size_t n = std::min(sizeof header - have, slice.size());
        std::memcpy(header + have, slice.data(), n);
        have += n;
        crc = QFRTFParser::generateCRC(slice.data() + n, slice.size() - n, crc);
        return true;
      },
      why);
  if (!read) return false;
  if (!QFRTFParser::isRTFData(header, size)) return true;
  const auto stream = QFRTFParser::checkHeader(header, size, crc);
  if (!stream) return true;
  // The bytes after the header, slice by slice.
  std::uint64_t headerLeft = sizeof header;
  auto tokensOf = [&](QFBytes slice) {
    const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(headerLeft, slice.size()));
    headerLeft -= n;
    return slice.subspan(n);
  };
  if (stream->compressed) {
    QFRTFDecompressor decoder(size - 16, stream->rawSize);
    QFData decoded;
    const bool ok = block.read(
        [&](QFBytes slice) {
          decoder.add(tokensOf(slice), decoded);
          const bool written = decoded.empty() || out(decoded);
          decoded.clear();
          return written;
        },
        why);
    if (ok) decoder.finish();
    return ok;
  }
  std::uint64_t left = std::min({stream->rawSize, size - 16, QFRTFParser::kMaxDecodedSize});
  return block.read(
      [&](QFBytes slice) {
        const QFBytes tokens = tokensOf(slice);
        const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(left, tokens.size()));
        left -= n;
        return n == 0 || out(tokens.first(n));
      },
      why);
}

}  // namespace

std::optional<std::string> QFMessageBody::textBody() const {
  if (type_ != QFMessageBodyTypePlainText || blocks_->payloads.empty()) return std::nullopt;
  std::string text;
  const bool read = writeText(blocks_->payloads.front(), flag_ ? flag_->oemCodePage() : 0, [&](QFBytes slice) {
    text.append(slice.begin(), slice.end());
    return true;
  }, nullptr);
  if (!read) return std::nullopt;
  return text;
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
  const std::vector<Payload>& blocks = blocks_->payloads;
  if (type_ == QFMessageBodyTypeRTF && blocks.empty()) tnefkit::logError("No data for RTF parser.");

  const std::uint32_t codePage = flag_ ? flag_->oemCodePage() : 0;
  auto produce = [&](const SliceSink& sink) {
    std::uint64_t total = 0;
    const SliceSink out = [&](QFBytes slice) {
      total += slice.size();
      return sink(slice);
    };
    std::string why;
    for (const Payload& block : blocks) {
      const bool ok = type_ == QFMessageBodyTypeRTF         ? writeRtf(block, out, &why)
                      : type_ == QFMessageBodyTypePlainText ? writeText(block, codePage, out, &why)
                                                            : block.read(out, &why);
      if (!ok) {
        if (!why.empty()) tnefkit::logError(format("Could not write file(%s): %s", target.c_str(), why.c_str()));
        return false;
      }
    }
    if (total == 0) {
      tnefkit::logError("Message body is empty.");
      return false;
    }
    return true;
  };
  auto written = tnefkit::writeNewFile(path, produce, tnefkit::OnExisting::Fail);
  if (written && writtenPath) *writtenPath = *written;
  return written.has_value();
}

std::string QFMessageBody::description() const {
  std::string s = format("Message body format type: %s\n", messageBodyTypeInfo().description().c_str());
  s += format("message content block size: %ld\n", static_cast<long>(blocks_->payloads.size()));
  for (const Payload& block : blocks_->payloads) s += format("<%lu bytes>\n", static_cast<unsigned long>(block.size()));
  return s;
}
