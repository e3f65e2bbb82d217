#pragma once
// Calls that let no exception out. The load road ends every request even when a module, a
// converter or a requester throws: the exception becomes an error line in the log and the
// call's fallback answer.

#include <QString>

#include <type_traits>

// Logs the exception being handled as "<what> failed: <reason>" under `category`. Only inside
// a catch block.
void XVLogCaughtException(const char* category, const QString& what);

// Answers `f()`, or `fallback` when it throws.
template <class F, class R = std::invoke_result_t<F&>>
R XVGuardedCall(const char* category, const QString& what, F&& f, R fallback) {
  try {
    return f();
  } catch (...) {
    XVLogCaughtException(category, what);
    return fallback;
  }
}

// Runs `f`; answers whether it returned without throwing.
template <class F>
bool XVGuardedRun(const char* category, const QString& what, F&& f) {
  try {
    f();
    return true;
  } catch (...) {
    XVLogCaughtException(category, what);
    return false;
  }
}
