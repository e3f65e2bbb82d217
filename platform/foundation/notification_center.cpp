#include "platform/foundation/notification_center.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace foundation {

struct ObserverEntry {
  std::string name;
  const void* sender = nullptr;
  NotificationCenter::Handler handler;

  std::mutex mutex;
  std::condition_variable idle;
  bool alive = true;
  int active = 0;  // calls in progress, on any thread

  std::function<void(ObserverEntry*)> unregister;
};

namespace {
// Entries whose handler runs on this thread right now (innermost last).
thread_local std::vector<const ObserverEntry*> tlsRunning;

void retire(const std::shared_ptr<ObserverEntry>& entry) {
  if (entry->unregister) entry->unregister(entry.get());
  std::unique_lock lock(entry->mutex);
  entry->alive = false;
  const int mine = static_cast<int>(std::count(tlsRunning.begin(), tlsRunning.end(), entry.get()));
  entry->idle.wait(lock, [&] { return entry->active <= mine; });
}
}  // namespace

ObserverToken::ObserverToken(std::shared_ptr<ObserverEntry> entry) : entry_(std::move(entry)) {}
ObserverToken::ObserverToken(ObserverToken&& other) noexcept : entry_(std::move(other.entry_)) {}
ObserverToken& ObserverToken::operator=(ObserverToken&& other) noexcept {
  if (this != &other) {
    reset();
    entry_ = std::move(other.entry_);
  }
  return *this;
}
ObserverToken::~ObserverToken() { reset(); }

void ObserverToken::reset() {
  if (!entry_) return;
  auto entry = std::move(entry_);
  entry_.reset();
  retire(entry);
}

struct NotificationCenter::Impl {
  std::mutex mutex;
  std::vector<std::shared_ptr<ObserverEntry>> entries;
};

NotificationCenter& NotificationCenter::defaultCenter() {
  // Never destroyed: observers in other singletons may be removed during process exit.
  static auto* center = new NotificationCenter();
  return *center;
}

NotificationCenter::NotificationCenter() : impl_(std::make_shared<Impl>()) {}

NotificationCenter::~NotificationCenter() = default;

ObserverToken NotificationCenter::addObserver(std::string name, const void* sender, Handler handler) {
  auto entry = std::make_shared<ObserverEntry>();
  entry->name = std::move(name);
  entry->sender = sender;
  entry->handler = std::move(handler);
  std::weak_ptr<Impl> owner = impl_;
  entry->unregister = [owner](ObserverEntry* e) {
    auto impl = owner.lock();
    if (!impl) return;
    std::lock_guard lock(impl->mutex);
    auto& v = impl->entries;
    v.erase(std::remove_if(v.begin(), v.end(), [e](const auto& p) { return p.get() == e; }), v.end());
  };
  {
    std::lock_guard lock(impl_->mutex);
    impl_->entries.push_back(entry);
  }
  return ObserverToken(std::move(entry));
}

void NotificationCenter::post(std::string name, const void* sender, UserInfo userInfo) {
  post(Notification{std::move(name), sender, std::move(userInfo)});
}

void NotificationCenter::post(const Notification& n) {
  std::vector<std::shared_ptr<ObserverEntry>> targets;
  {
    std::lock_guard lock(impl_->mutex);
    for (const auto& e : impl_->entries) {
      if ((e->name.empty() || e->name == n.name) && (!e->sender || e->sender == n.sender)) {
        targets.push_back(e);
      }
    }
  }
  for (const auto& e : targets) {
    {
      std::lock_guard lock(e->mutex);
      if (!e->alive) continue;
      ++e->active;
    }
    tlsRunning.push_back(e.get());
    struct Leave {
      ObserverEntry* e;
      ~Leave() {
        tlsRunning.pop_back();
        std::lock_guard lock(e->mutex);
        --e->active;
        e->idle.notify_all();
      }
    } leave{e.get()};
    e->handler(n);
  }
}

}  // namespace foundation
