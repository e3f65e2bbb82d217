#include "core/XVGuarded.h"

#include <exception>
#include <string>

#include "platform/foundation/log.h"

void XVLogCaughtException(const char* category, const QString& what) {
  std::string line = what.toStdString() + " failed";
  try {
    throw;
  } catch (const std::exception& e) {
    line += std::string(": ") + e.what();
  } catch (...) {
  }
  foundation::log(foundation::LogLevel::Error, category, line);
}
