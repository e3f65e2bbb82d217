#include "shell/XVRecentDocuments.h"

#include "core/XVBaseFunction.h"

namespace {
const QString kKey = QStringLiteral("RecentDocuments");
}  // namespace

void XVRecentDocuments::noteNewRecentDocument(const QString& path) {
  if (path.isEmpty()) return;
  QStringList list = recentDocuments();
  list.removeAll(path);
  list.prepend(path);
  while (list.size() > kMaximumCount) list.removeLast();
  auto defaults = XVBaseFunction::userDefaults();
  defaults->setValue(kKey, list);
  defaults->sync();
}

QStringList XVRecentDocuments::recentDocuments() {
  return XVBaseFunction::userDefaults()->value(kKey).toStringList();
}

void XVRecentDocuments::clearRecentDocuments() {
  auto defaults = XVBaseFunction::userDefaults();
  defaults->remove(kKey);
  defaults->sync();
}
