#include "modules/visio/VisioRetired.h"

#include <deque>
#include <map>
#include <mutex>

#include "diagramkit/engine/SVG2PDF.h"
#include "platform/foundation/dispatcher.h"
#include "platform/foundation/notification_center.h"

namespace {

struct Kept {
  std::shared_ptr<const char> tag;
  std::deque<std::shared_ptr<void>> conversions;  // one per conversion not yet ended
  foundation::ObserverToken endToken;
};

std::mutex& keptMutex() {
  static auto* m = new std::mutex();
  return *m;
}

std::map<const void*, std::shared_ptr<Kept>>& keptByTag() {
  static auto* byTag = new std::map<const void*, std::shared_ptr<Kept>>();
  return *byTag;
}

// Lets one conversion of `key` go; the tag goes with the last.
void release(const void* key) {
  std::shared_ptr<void> conversion;
  std::shared_ptr<Kept> gone;
  {
    std::lock_guard lock(keptMutex());
    auto it = keptByTag().find(key);
    if (it == keptByTag().end() || it->second->conversions.empty()) return;
    conversion = std::move(it->second->conversions.front());
    it->second->conversions.pop_front();
    if (it->second->conversions.empty()) {
      gone = std::move(it->second);
      keptByTag().erase(it);
    }
  }
  // Released here, outside the lock.
}

}  // namespace

void keepUntilVisioEnd(std::shared_ptr<const char> tag, std::shared_ptr<void> keepAlive) {
  const void* key = tag.get();
  std::lock_guard lock(keptMutex());
  std::shared_ptr<Kept>& kept = keptByTag()[key];
  if (!kept) {
    kept = std::make_shared<Kept>();
    kept->tag = std::move(tag);
    kept->endToken = foundation::NotificationCenter::defaultCenter().addObserver(
        END_VSD_FILE_NOTI, key, [key](const foundation::Notification&) {
          // Released outside the notification: the converter is still posting it.
          foundation::Dispatcher::postMain([key] { release(key); });
        });
  }
  kept->conversions.push_back(std::move(keepAlive));
}
