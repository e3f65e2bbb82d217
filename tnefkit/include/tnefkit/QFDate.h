#pragma once
// A TNEF date, as the message bodies and attachments hand it out, and the weekday names.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "tnefkit/QFReadType.h"
#include "tnefkit/export.h"

TNEFKIT_EXPORT extern const char* const QFMonday;
TNEFKIT_EXPORT extern const char* const QFTuesday;
TNEFKIT_EXPORT extern const char* const QFWednessday;
TNEFKIT_EXPORT extern const char* const QFThursday;
TNEFKIT_EXPORT extern const char* const QFFriday;
TNEFKIT_EXPORT extern const char* const QFSaturday;
TNEFKIT_EXPORT extern const char* const QFSunday;

// Seven signed 16-bit fields: year, month, day, hour, minute, second, weekday.
class QFDate {
 public:
  // Null (with a log line) when `data` is shorter than 14 bytes.
  TNEFKIT_EXPORT static std::shared_ptr<QFDate> initWithData(QFBytes data);

  // Field 0 to 6; a larger index logs and answers 0.
  TNEFKIT_EXPORT std::int16_t valueAtIndex(std::size_t index) const;
  std::int16_t year() const { return fields_[0]; }
  std::int16_t month() const { return fields_[1]; }
  std::int16_t day() const { return fields_[2]; }
  std::int16_t hour() const { return fields_[3]; }
  std::int16_t minute() const { return fields_[4]; }
  std::int16_t second() const { return fields_[5]; }
  // "Monday" for 0 to "Sunday" for 6; "" for any other number.
  TNEFKIT_EXPORT std::string weekday() const;
  TNEFKIT_EXPORT std::string description() const;
  // The fields as a UTC time point; empty when they do not form a valid date.
  TNEFKIT_EXPORT std::optional<std::chrono::system_clock::time_point> toNSDate() const;

 private:
  std::int16_t fields_[7] = {};
};
