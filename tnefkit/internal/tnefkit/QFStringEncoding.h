#pragma once
// Decoding of the container's 8-bit strings.

#include <cstdint>
#include <memory>
#include <string>

#include "tnefkit/QFReadType.h"

class QFStringEncoding {
 public:
  // The ICU converter name used for 8-bit text that carries no code page and is not UTF-8,
  // chosen from the default locale's language and country.
  static std::string defaultStringEncoding();

  // `bytes` as UTF-8: with the container's code page when `codePage` is non-zero and known,
  // else as they are when they are valid UTF-8, else with defaultStringEncoding().
  // Unconvertible bytes become U+FFFD; never fails.
  static std::string decode(QFBytes bytes, std::uint32_t codePage = 0);

  // The ICU converter name for a Windows code page number, or "" when ICU has none.
  static std::string converterNameForCodePage(std::uint32_t codePage);
};

// The same decoding, slice by slice, for text too large to hold: first every slice through
// check(), then through add(), which appends the UTF-8 text to `out`.
class QFTextDecoder {
 public:
  explicit QFTextDecoder(std::uint32_t codePage = 0);
  ~QFTextDecoder();
  QFTextDecoder(const QFTextDecoder&) = delete;
  QFTextDecoder& operator=(const QFTextDecoder&) = delete;

  // Whether the text needs the first pass: it has no known code page, so whether it is valid
  // UTF-8 decides how it is read.
  bool needsCheck() const { return mode_ == Mode::Undecided; }
  void check(QFBytes slice);
  void endCheck();

  void add(QFBytes slice, std::string& out);
  void finish(std::string& out);

 private:
  enum class Mode { Undecided, Copy, Convert };
  struct Converter;
  void convert(QFBytes slice, bool flush, std::string& out);

  Mode mode_ = Mode::Undecided;
  std::string converterName_;
  bool valid_ = true;
  std::string carry_;  // an incomplete UTF-8 sequence at the end of the last slice checked
  std::unique_ptr<Converter> converter_;
};
