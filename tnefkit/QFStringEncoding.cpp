#include "tnefkit/QFStringEncoding.h"

#include <unicode/locid.h>
#include <unicode/ucnv.h>
#include <unicode/unistr.h>
#include <unicode/ustring.h>

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

std::string convert(QFBytes bytes, const std::string& converter) {
  std::string out;
  for (std::size_t at = 0; at < bytes.size();) {
    // ICU lengths are 32-bit; convert in slices on the rare huge input.
    std::size_t n = std::min<std::size_t>(bytes.size() - at, 1u << 30);
    icu::UnicodeString text(reinterpret_cast<const char*>(bytes.data() + at), static_cast<int32_t>(n),
                            converter.c_str());
    text.toUTF8String(out);
    at += n;
  }
  return out;
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
  if (codePage != 0) {
    std::string name = converterNameForCodePage(codePage);
    if (!name.empty()) return convert(bytes, name);
  }
  if (isValidUtf8(bytes)) return std::string(bytes.begin(), bytes.end());
  return convert(bytes, defaultStringEncoding());
}
