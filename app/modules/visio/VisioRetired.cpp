#include "modules/visio/VisioRetired.h"

#include <map>
#include <mutex>

#include "diagramkit/engine/SVG2PDF.h"
#include "platform/foundation/dispatcher.h"
#include "platform/foundation/notification_center.h"

namespace {

struct Retired {
  std::shared_ptr<const char> tag;
  std::shared_ptr<void> keepAlive;
  foundation::ObserverToken endToken;
};

std::mutex& retiredMutex() {
  static auto* m = new std::mutex();
  return *m;
}

std::map<const void*, std::shared_ptr<Retired>>& retiredByTag() {
  static auto* byTag = new std::map<const void*, std::shared_ptr<Retired>>();
  return *byTag;
}

}  // namespace

void keepUntilVisioEnd(std::shared_ptr<const char> tag, std::shared_ptr<void> keepAlive) {
  auto entry = std::make_shared<Retired>();
  const void* key = tag.get();
  entry->tag = std::move(tag);
  entry->keepAlive = std::move(keepAlive);
  std::lock_guard lock(retiredMutex());
  entry->endToken = foundation::NotificationCenter::defaultCenter().addObserver(
      END_VSD_FILE_NOTI, key, [key](const foundation::Notification&) {
        // Released outside the notification: the converter is still posting it.
        foundation::Dispatcher::postMain([key] {
          std::shared_ptr<Retired> gone;
          {
            std::lock_guard lock(retiredMutex());
            auto it = retiredByTag().find(key);
            if (it == retiredByTag().end()) return;
            gone = std::move(it->second);
            retiredByTag().erase(it);
          }
        });
      });
  retiredByTag()[key] = std::move(entry);
}
