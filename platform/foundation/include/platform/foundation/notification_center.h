#pragma once
// Process-wide named notifications: post by name with a sender and user info from any
// thread; observers filter by name (and optionally sender) and are delivered on the posting
// thread. No lock is held while an observer runs.

#include <any>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "platform/foundation/export.h"

namespace foundation {

using UserInfo = std::map<std::string, std::any>;

struct FOUNDATION_EXPORT Notification {
  std::string name;
  const void* sender = nullptr;
  UserInfo userInfo;

  // The value under `key` when it holds a T, else nullptr.
  template <class T>
  const T* value(const std::string& key) const {
    auto it = userInfo.find(key);
    return it == userInfo.end() ? nullptr : std::any_cast<T>(&it->second);
  }
};

struct ObserverEntry;

// Keeps an observer registered for as long as it lives. Resetting (or destroying) it returns
// only once no other thread is still inside the observer; from inside the observer itself it
// returns at once and the observer is not called again.
class FOUNDATION_EXPORT ObserverToken {
 public:
  ObserverToken() = default;
  explicit ObserverToken(std::shared_ptr<ObserverEntry> entry);
  ObserverToken(ObserverToken&&) noexcept;
  ObserverToken& operator=(ObserverToken&&) noexcept;
  ObserverToken(const ObserverToken&) = delete;
  ObserverToken& operator=(const ObserverToken&) = delete;
  ~ObserverToken();

  void reset();
  explicit operator bool() const { return entry_ != nullptr; }

 private:
  std::shared_ptr<ObserverEntry> entry_;
};

class FOUNDATION_EXPORT NotificationCenter {
 public:
  using Handler = std::function<void(const Notification&)>;

  static NotificationCenter& defaultCenter();

  NotificationCenter();
  ~NotificationCenter();
  NotificationCenter(const NotificationCenter&) = delete;
  NotificationCenter& operator=(const NotificationCenter&) = delete;

  // An empty `name` observes every name; a null `sender` observes every sender.
  [[nodiscard]] ObserverToken addObserver(std::string name, const void* sender, Handler handler);
  [[nodiscard]] ObserverToken addObserver(std::string name, Handler handler) {
    return addObserver(std::move(name), nullptr, std::move(handler));
  }

  void post(const Notification& notification);
  void post(std::string name, const void* sender = nullptr, UserInfo userInfo = {});

 private:
  struct Impl;
  std::shared_ptr<Impl> impl_;
};

}  // namespace foundation
