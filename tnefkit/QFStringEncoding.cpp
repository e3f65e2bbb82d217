#include "tnefkit/QFStringEncoding.h"

#include <unicode/locid.h>
#include <unicode/ucnv.h>
#include <unicode/ustring.h>

#include <iterator>
#include <map>
#include <mutex>
#include <string_view>

namespace {

bool isValidUtf8(QFBytes bytes) {
  UErrorCode status = U_ZERO_ERROR;
  int32_t length = 0;
  if (bytes.size() > INT32_MAX) return false;
  u_strFromUTF8(nullptr, 0, &length, reinterpret_cast<const char*>(bytes.data()),
                static_cast<int32_t>(bytes.size()), &status);
  return status == U_BUFFER_OVERFLOW_ERROR || U_SUCCESS(status);
}

bool converterExists(const std::string& name) {
  UErrorCode status = U_ZERO_ERROR;
  UConverter* c = ucnv_open(name.c_str(), &status);
  if (c) ucnv_close(c);
  return c != nullptr && U_SUCCESS(status);
}

// The bytes at the end of `bytes` that begin a UTF-8 sequence they do not complete.
std::size_t incompleteTail(QFBytes bytes) {
  const std::size_t n = bytes.size();
  for (std::size_t back = 1; back <= std::min<std::size_t>(3, n); ++back) {
    const std::uint8_t b = bytes[n - back];
    if ((b & 0xC0) == 0x80) continue;
    const std::size_t need = b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : b >= 0xC0 ? 2 : 1;
    return need > back ? back : 0;
  }
  return 0;
}

void appendUtf8(const UChar* units, int32_t count, std::string& out) {
  if (count <= 0) return;
  const std::size_t at = out.size();
  out.resize(at + 3 * static_cast<std::size_t>(count));
  UErrorCode status = U_ZERO_ERROR;
  int32_t length = 0;
  u_strToUTF8WithSub(out.data() + at, static_cast<int32_t>(out.size() - at), &length, units, count, 0xFFFD, nullptr,
                     &status);
  out.resize(U_SUCCESS(status) ? at + static_cast<std::size_t>(length) : at);
}

}  // namespace

std::string QFStringEncoding::converterNameForCodePage(std::uint32_t codePage) {
  static std::mutex mutex;
  static std::map<std::uint32_t, std::string> cache;
  std::lock_guard lock(mutex);
  auto it = cache.find(codePage);
  if (it != cache.end()) return it->second;
  std::string found;
  if (codePage == 65001) {
    found = "UTF-8";
  } else if (codePage == 20127) {
    found = "US-ASCII";
  } else if (codePage >= 28591 && codePage <= 28605 &&
             converterExists("ISO-8859-" + std::to_string(codePage - 28590))) {
    found = "ISO-8859-" + std::to_string(codePage - 28590);
  } else if (codePage != 0) {
    for (const char* prefix : {"windows-", "cp", "ibm-"}) {
      std::string name = prefix + std::to_string(codePage);
      if (converterExists(name)) {
        found = name;
        break;
      }
    }
  }
  cache.emplace(codePage, found);
  return found;
}

std::string QFStringEncoding::defaultStringEncoding() {
  const icu::Locale& locale = icu::Locale::getDefault();
  std::string_view lang = locale.getLanguage();
  std::string_view country = locale.getCountry();
  if (lang == "zh") {
    return (country == "TW" || country == "HK" || country == "MO") ? "windows-950" : "GB18030";
  }
  if (lang == "ja") return "windows-932";
  if (lang == "ko") return "windows-949";
  if (lang == "th") return "windows-874";
  if (lang == "vi") return "windows-1258";
  if (lang == "el") return "windows-1253";
  if (lang == "tr" || lang == "az") return "windows-1254";
  if (lang == "he" || lang == "iw" || lang == "yi") return "windows-1255";
  if (lang == "ar" || lang == "fa" || lang == "ur") return "windows-1256";
  if (lang == "et" || lang == "lv" || lang == "lt") return "windows-1257";
  for (std::string_view l : {"ru", "uk", "be", "bg", "mk", "sr", "kk", "ky", "tg", "mn"}) {
    if (lang == l) return "windows-1251";
  }
  for (std::string_view l : {"pl", "cs", "sk", "hu", "ro", "hr", "sl", "bs", "sq"}) {
    if (lang == l) return "windows-1250";
  }
  // English, French, German, Dutch and the other Western European languages.
  return "windows-1252";
}

std::string QFStringEncoding::decode(QFBytes bytes, std::uint32_t codePage) {
  if (bytes.empty()) return {};
  QFTextDecoder decoder(codePage);
  if (decoder.needsCheck()) {
    decoder.check(bytes);
    decoder.endCheck();
  }
  std::string out;
  decoder.add(bytes, out);
  decoder.finish(out);
  return out;
}

// ---- QFTextDecoder

struct QFTextDecoder::Converter {
  UConverter* converter = nullptr;
  UChar pendingLead = 0;  // a lead surrogate whose trail may come with the next slice
  ~Converter() {
    if (converter) ucnv_close(converter);
  }
};

QFTextDecoder::QFTextDecoder(std::uint32_t codePage) {
  if (codePage != 0) converterName_ = QFStringEncoding::converterNameForCodePage(codePage);
  if (!converterName_.empty()) mode_ = Mode::Convert;
}

QFTextDecoder::~QFTextDecoder() = default;

void QFTextDecoder::check(QFBytes slice) {
  if (!valid_ || mode_ != Mode::Undecided) return;
  std::string joined;
  if (!carry_.empty()) {
    joined = carry_;
    joined.append(slice.begin(), slice.end());
    slice = QFBytes(reinterpret_cast<const std::uint8_t*>(joined.data()), joined.size());
  }
  const std::size_t keep = incompleteTail(slice);
  valid_ = isValidUtf8(slice.first(slice.size() - keep));
  carry_.assign(slice.end() - static_cast<std::ptrdiff_t>(keep), slice.end());
}

void QFTextDecoder::endCheck() {
  if (mode_ != Mode::Undecided) return;
  if (valid_ && !carry_.empty()) {
    valid_ = isValidUtf8(QFBytes(reinterpret_cast<const std::uint8_t*>(carry_.data()), carry_.size()));
  }
  carry_.clear();
  if (valid_) {
    mode_ = Mode::Copy;
  } else {
    mode_ = Mode::Convert;
    converterName_ = QFStringEncoding::defaultStringEncoding();
  }
}

void QFTextDecoder::add(QFBytes slice, std::string& out) {
  if (mode_ == Mode::Undecided) endCheck();
  if (mode_ == Mode::Copy) out.append(slice.begin(), slice.end());
  else convert(slice, false, out);
}

void QFTextDecoder::finish(std::string& out) {
  if (mode_ == Mode::Convert) convert(QFBytes(), true, out);
}

void QFTextDecoder::convert(QFBytes slice, bool flush, std::string& out) {
  if (!converter_) {
    converter_ = std::make_unique<Converter>();
    UErrorCode status = U_ZERO_ERROR;
    converter_->converter = ucnv_open(converterName_.c_str(), &status);
    if (U_FAILURE(status) && converter_->converter) {
      ucnv_close(converter_->converter);
      converter_->converter = nullptr;
    }
  }
  if (!converter_->converter) return;  // decodes to nothing, as ICU does for an unknown converter
  UChar units[4096];
  const char* source = reinterpret_cast<const char*>(slice.data());
  const char* sourceEnd = source + slice.size();
  UErrorCode status;
  do {
    UChar* target = units;
    if (converter_->pendingLead) *target++ = converter_->pendingLead;
    status = U_ZERO_ERROR;
    ucnv_toUnicode(converter_->converter, &target, units + std::size(units), &source, sourceEnd, nullptr, flush,
                   &status);
    auto count = static_cast<int32_t>(target - units);
    const bool last = flush && status != U_BUFFER_OVERFLOW_ERROR;
    converter_->pendingLead = 0;
    if (!last && count > 0 && U16_IS_LEAD(units[count - 1])) converter_->pendingLead = units[--count];
    appendUtf8(units, count, out);
  } while (status == U_BUFFER_OVERFLOW_ERROR);
}
