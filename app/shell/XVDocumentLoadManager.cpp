#include "shell/XVDocumentLoadManager.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <filesystem>
#include <thread>

#include "platform/foundation/log.h"
#include "platform/foundation/notification_center.h"
#include "platform/foundation/worker_threads.h"
#include "core/XVBaseFunction.h"
#include "core/XVErrorTexts.h"
#include "core/XVGuarded.h"
#include "core/XVNotifications.h"
#include "shell/XVFileCacheLib.h"
#include "shell/XVFileKey.h"

namespace {

// Why a file has no content key, as far as its metadata tells (read without opening it).
QString unreadableReason(const QString& filePath) {
  const QFileInfo info(filePath);
  if (!info.exists()) return XVErrorText::fileMissing();  // a dangling link too
  if (!info.isFile()) return XVErrorText::notARegularFile();
  return XVErrorText::fileUnreadable();
}

const char* const kCategory = "load";
const QString kRegistryKey = QStringLiteral("XVDocumentLoadManager");

void logLine(foundation::LogLevel level, const QString& message) {
  foundation::log(level, kCategory, message.toStdString());
}

std::filesystem::path fsPath(const QString& path) { return std::filesystem::path(QFile::encodeName(path).toStdString()); }

// Removes a file or folder (a link itself, never its target); errors are logged.
void removeOutput(const QString& path) {
  if (path.isEmpty()) return;
  std::error_code ec;
  std::filesystem::remove_all(fsPath(path), ec);
  if (ec) logLine(foundation::LogLevel::Warning, QStringLiteral("cannot remove %1: %2").arg(path, QString::fromStdString(ec.message())));
}

bool outputExists(const QString& path) {
  std::error_code ec;
  return std::filesystem::exists(std::filesystem::symlink_status(fsPath(path), ec));
}

// The factory and a module's open may throw; either counts as no module, or as a result that
// does not open, so that every request still ends.
std::shared_ptr<ImportInterface> newModule(const QString& path) {
  return XVGuardedCall(kCategory, QStringLiteral("making a module for %1").arg(path),
                       [&] { return DocumentModul::documentModulFilePath(path); }, std::shared_ptr<ImportInterface>());
}

bool openResult(ImportInterface& module, const QString& resultPath) {
  return XVGuardedCall(kCategory, QStringLiteral("opening %1").arg(resultPath),
                       [&] { return module.importWithResultPath(resultPath); }, false);
}

bool answers(const std::shared_ptr<XVloadDocumentProgressDelegate>& d, unsigned message) {
  return d && (d->answeredMessages() & message) != 0;
}

// MemAvailable of /proc/meminfo in bytes; -1 when it cannot be read.
qint64 availableMemory() {
  QFile meminfo(QStringLiteral("/proc/meminfo"));
  if (!meminfo.open(QIODevice::ReadOnly)) return -1;
  for (const QByteArray& line : meminfo.readAll().split('\n')) {
    if (!line.startsWith("MemAvailable:")) continue;
    bool ok = false;
    const qint64 kb = line.mid(13).trimmed().split(' ').value(0).toLongLong(&ok);
    return ok ? kb * 1024 : -1;
  }
  return -1;
}

// A PDF is copied into the cache, not converted: it never waits for a place.
bool takesAPlace(const QString& path) {
  DocumentModul::Kind kind{};
  return !(DocumentModul::kindForExtension(XVBaseFunction::extensionOfPath(path), &kind) &&
           kind == DocumentModul::Kind::PDF);
}

}  // namespace

std::shared_ptr<XVDocumentLoadManager> XVDocumentLoadManager::ShareDocumentLoadManager() {
  return XVBaseFunction::sharedObject<XVDocumentLoadManager>(kRegistryKey, [] {
    return initWithCacheLibPath(XVBaseFunction::CacheLibSupportDirector());
  });
}

bool XVDocumentLoadManager::StopSharedDocumentLoadManager(std::chrono::milliseconds timeout) {
  auto manager = XVBaseFunction::appEndReleaseObject<XVDocumentLoadManager>(kRegistryKey);
  return manager ? manager->stopLoading(timeout) : true;
}

std::shared_ptr<XVDocumentLoadManager> XVDocumentLoadManager::initWithCacheLibPath(const QString& cacheLibPath) {
  return initWithCacheLib(XVFileCacheLib::fileCacheLibWithLibPath(cacheLibPath));
}

std::shared_ptr<XVDocumentLoadManager> XVDocumentLoadManager::initWithCacheLib(std::shared_ptr<XVFileCacheLib> cacheLib) {
  if (!cacheLib) return nullptr;
  return std::shared_ptr<XVDocumentLoadManager>(new XVDocumentLoadManager(std::move(cacheLib)));
}

XVDocumentLoadManager::XVDocumentLoadManager(std::shared_ptr<XVFileCacheLib> cacheLib)
    : cacheLib_(std::move(cacheLib)), conversionLimit_(defaultConversionLimit()) {}

int XVDocumentLoadManager::defaultConversionLimit() {
  const int places = std::max(1, static_cast<int>(std::thread::hardware_concurrency()) / 2);
  const qint64 available = availableMemory();
  if (available < 0) return places;
  return static_cast<int>(std::clamp<qint64>(available / kConversionMemory, 1, places));
}

int XVDocumentLoadManager::conversionLimit() const {
  std::lock_guard lock(mutex_);
  return conversionLimit_;
}

void XVDocumentLoadManager::setConversionLimit(int limit) {
  QList<Waiting> admitted;
  {
    std::lock_guard lock(mutex_);
    conversionLimit_ = std::max(1, limit);
    admitted = admitLocked();
  }
  startAdmitted(admitted);
}

int XVDocumentLoadManager::runningConversions() const {
  std::lock_guard lock(mutex_);
  return static_cast<int>(converting_.size());
}

int XVDocumentLoadManager::waitingConversions() const {
  std::lock_guard lock(mutex_);
  return static_cast<int>(waiting_.size());
}

XVDocumentLoadManager::~XVDocumentLoadManager() = default;

QList<std::shared_ptr<XVLoadItem>> XVDocumentLoadManager::loadArray() const {
  std::lock_guard lock(mutex_);
  return loadArray_;
}

QList<std::shared_ptr<XVLoadItem>> XVDocumentLoadManager::itemArrayByImport(const ImportInterface* import) const {
  std::lock_guard lock(mutex_);
  return itemArrayByImportLocked(import);
}

std::shared_ptr<XVLoadItem> XVDocumentLoadManager::firstItemByFileKey(const QString& fileKey) const {
  std::lock_guard lock(mutex_);
  return firstItemByFileKeyLocked(fileKey);
}

QList<std::shared_ptr<XVLoadItem>> XVDocumentLoadManager::itemArrayByImportLocked(const ImportInterface* import) const {
  QList<std::shared_ptr<XVLoadItem>> items;
  if (!import) return items;
  for (const auto& item : loadArray_) {
    if (item->import_.get() == import) items.append(item);
  }
  return items;
}

std::shared_ptr<XVLoadItem> XVDocumentLoadManager::firstItemByFileKeyLocked(const QString& fileKey) const {
  if (fileKey.isEmpty()) return nullptr;
  for (const auto& item : loadArray_) {
    if (item->fileKey_ == fileKey) return item;
  }
  return nullptr;
}

bool XVDocumentLoadManager::idleLocked() const { return workers_ == 0 && loadArray_.isEmpty() && settling_.isEmpty(); }

void XVDocumentLoadManager::loadDocumentByFilePath(const QString& filePath,
                                                   std::shared_ptr<XVloadDocumentProgressDelegate> delegate) {
  {
    std::lock_guard lock(mutex_);
    if (stopping_) {
      logLine(foundation::LogLevel::Info, QStringLiteral("quitting: not loading %1").arg(filePath));
      return;
    }
    ++workers_;
  }
  const bool started = foundation::WorkerThreads::start("load", [self = shared_from_this(), filePath, delegate] {
    XVGuardedRun(kCategory, QStringLiteral("loading %1").arg(filePath), [&] { self->loadThreed(filePath, delegate); });
    self->workerDone();
  }) != nullptr;
  if (!started) {
    workerDone();
    XVLoadItem item;
    item.setFilePath(filePath);
    item.setDelegate(std::move(delegate));
    sendEnd(item, nullptr, XVErrorText::loadFailed());
  }
}

void XVDocumentLoadManager::workerDone() {
  std::lock_guard lock(mutex_);
  --workers_;
  changed_.notify_all();
}

void XVDocumentLoadManager::loadThreed(const QString& filePath,
                                       const std::shared_ptr<XVloadDocumentProgressDelegate>& delegate) {
  auto item = std::make_shared<XVLoadItem>();
  item->setFilePath(filePath);
  item->setDelegate(delegate);
  const QString key = XVFileKey::FileKeyByFilePath(filePath);
  const QString savePath = key.isEmpty() ? QString() : cacheLib_->cachePathById(key);
  if (savePath.isEmpty()) {
    // No content key: nothing under the cache folder may be used for it.
    logLine(foundation::LogLevel::Warning, QStringLiteral("cannot read %1").arg(filePath));
    sendEnd(*item, nullptr, unreadableReason(filePath));
    return;
  }
  item->setFileKey(key);
  item->setSavePath(savePath);

  std::shared_ptr<ImportInterface> module;  // made outside the lock once a conversion is due
  for (;;) {
    Road road;
    {
      std::unique_lock lock(mutex_);
      road = decideLocked(lock, item, module);
    }
    switch (road) {
      case Road::Duplicate:
        foundation::NotificationCenter::defaultCenter().post(Open_Filed_Error_Info, nullptr,
                                                             {{XVFilePathUserInfoKey, std::any(filePath)}});
        return;
      case Road::Join:
        return;
      case Road::Refused:
        sendEnd(*item, nullptr, XVErrorText::loadFailed());
        return;
      case Road::Cache:
        if (loadCacheFile(item)) return;
        continue;  // the stale entry is gone: decide again
      case Road::Convert:
        if (module) {
          startOrQueue(item, module);
          return;
        }
        module = newModule(filePath);
        if (!module) {
          logLine(foundation::LogLevel::Warning, QStringLiteral("no module opens %1").arg(filePath));
          sendEnd(*item, nullptr, XVErrorText::loadFailed());
          return;
        }
        continue;  // decide again with the module in hand
    }
  }
}

XVDocumentLoadManager::Road XVDocumentLoadManager::decideLocked(std::unique_lock<std::mutex>& lock,
                                                                const std::shared_ptr<XVLoadItem>& item,
                                                                const std::shared_ptr<ImportInterface>& newModule) {
  const QString& key = item->fileKey_;
  for (;;) {
    if (auto running = firstItemByFileKeyLocked(key)) {
      // The same requester already waits for this very path.
      for (const auto& waiting : loadArray_) {
        if (item->delegate_ && waiting->fileKey_ == key && waiting->delegate_ == item->delegate_ &&
            waiting->filePath_ == item->filePath_) {
          return Road::Duplicate;
        }
      }
      item->import_ = running->import_;
      loadArray_.append(item);
      return Road::Join;
    }
    if (settling_.contains(key)) {
      changed_.wait(lock);
      continue;
    }
    if (!cacheLib_->cacheFilePathByID(key).isEmpty()) {
      ++cacheReaders_[key];
      return Road::Cache;
    }
    if (cacheReaders_.value(key) > 0) {
      changed_.wait(lock);
      continue;
    }
    if (stopping_) return Road::Refused;
    if (newModule) {
      item->import_ = newModule;
      loadArray_.append(item);
    }
    return Road::Convert;
  }
}

void XVDocumentLoadManager::releaseCacheReader(const QString& key) {
  std::lock_guard lock(mutex_);
  auto it = cacheReaders_.find(key);
  if (it != cacheReaders_.end() && --it.value() <= 0) cacheReaders_.erase(it);
  changed_.notify_all();
}

bool XVDocumentLoadManager::loadCacheFile(const std::shared_ptr<XVLoadItem>& item) {
  struct Reader {
    XVDocumentLoadManager* self;
    QString key;
    bool held = true;
    void release() {
      if (held) self->releaseCacheReader(key);
      held = false;
    }
    ~Reader() { release(); }
  } reader{this, item->fileKey()};

  const auto delegate = item->delegate();
  if (!delegate) return true;
  if (answers(delegate, XVloadDocumentProgressDelegate::AnswersStart)) sendStart(item);
  if (!answers(delegate, XVloadDocumentProgressDelegate::AnswersEnd)) return true;

  const QString storedPath = cacheLib_->cacheFilePathByID(item->fileKey());
  auto module = newModule(item->filePath());
  if (!module) {
    reader.release();
    sendEnd(*item, nullptr, XVErrorText::loadFailed());
    return true;
  }
  item->setImport(module);
  module->setDelegate(weak_from_this());
  module->setImportSourcePath(item->filePath());
  module->setImportOutPath(item->savePath());
  if (storedPath.isEmpty() || !QFileInfo::exists(storedPath) || !openResult(*module, storedPath)) {
    // No conversion of the key runs while it has readers, so the stale entry can go safely.
    logLine(foundation::LogLevel::Warning,
            QStringLiteral("the stored result of %1 is gone or unreadable; converting again").arg(item->filePath()));
    item->setImport(nullptr);
    cacheLib_->removeCacheFileByID(item->fileKey());
    return false;
  }
  reader.release();
  sendEnd(*item, module, QString());
  return true;
}

void XVDocumentLoadManager::loadConverterFile(const std::shared_ptr<XVLoadItem>& item,
                                              const std::shared_ptr<ImportInterface>& module) {
  // The key is running now: nothing else writes or reads its output until the module ends.
  if (outputExists(item->savePath())) {
    logLine(foundation::LogLevel::Info, QStringLiteral("removing a leftover output at %1").arg(item->savePath()));
    removeOutput(item->savePath());
  }
  // The cache folder may have been removed while the application runs.
  XVBaseFunction::CheckDirectory(QFileInfo(item->savePath()).absolutePath());
  module->setDelegate(weak_from_this());
  module->setImportSourcePath(item->filePath());
  module->setImportOutPath(item->savePath());
  module->startImport();
  bool stopping;
  {
    std::lock_guard lock(mutex_);
    stopping = stopping_;
  }
  if (stopping) module->stopImport();  // the quit's stop may have come before the start
}

void XVDocumentLoadManager::startOrQueue(const std::shared_ptr<XVLoadItem>& item,
                                         const std::shared_ptr<ImportInterface>& module) {
  bool waits = false;
  if (takesAPlace(item->filePath())) {
    std::lock_guard lock(mutex_);
    if (converting_.size() < conversionLimit_) {
      converting_.insert(module.get());
    } else {
      waiting_.append(Waiting{item, module, false});
      waits = true;
    }
  }
  if (!waits) {
    loadConverterFile(item, module);
    return;
  }
  logLine(foundation::LogLevel::Info, QStringLiteral("%1 waits for a conversion to end").arg(item->filePath()));
  // The requester hears that its load has begun; the conversion may start only afterwards, so
  // that its own reports come later.
  sendStart(item);
  if (answers(item->delegate(), XVloadDocumentProgressDelegate::AnswersProgress)) {
    const auto d = item->delegate();
    XVGuardedRun(kCategory, QStringLiteral("telling a requester of the progress of %1").arg(item->filePath()),
                 [&] { d->XVLoad_progress(0.0, item->filePath()); });
  }
  QList<Waiting> admitted;
  {
    std::lock_guard lock(mutex_);
    for (Waiting& w : waiting_) {
      if (w.item == item) w.announced = true;
    }
    admitted = admitLocked();
  }
  startAdmitted(admitted);
}

QList<XVDocumentLoadManager::Waiting> XVDocumentLoadManager::admitLocked() {
  QList<Waiting> admitted;
  if (stopping_) return admitted;
  // In arrival order: one not yet announced to its requester holds back those after it.
  while (!waiting_.isEmpty() && waiting_.first().announced && converting_.size() < conversionLimit_) {
    Waiting w = waiting_.takeFirst();
    converting_.insert(w.module.get());
    ++workers_;
    admitted.append(std::move(w));
  }
  return admitted;
}

void XVDocumentLoadManager::startAdmitted(const QList<Waiting>& admitted) {
  for (const Waiting& w : admitted) {
    const bool started = foundation::WorkerThreads::start("load", [self = shared_from_this(), w] {
      XVGuardedRun(kCategory, QStringLiteral("converting %1").arg(w.item->filePath()),
                   [&] { self->loadConverterFile(w.item, w.module); });
      self->workerDone();
    }) != nullptr;
    if (started) continue;
    workerDone();
    ImportProgressDelegate_end(false, w.module.get(), XVErrorText::loadFailed());
  }
}

std::shared_ptr<ImportInterface> XVDocumentLoadManager::openStoredResult(const XVLoadItem& item,
                                                                         const QString& storedPath) {
  auto module = newModule(item.filePath());
  if (!module) return nullptr;
  module->setDelegate(weak_from_this());
  module->setImportSourcePath(item.filePath());
  module->setImportOutPath(item.savePath());
  return openResult(*module, storedPath) ? module : nullptr;
}

void XVDocumentLoadManager::sendStart(const std::shared_ptr<XVLoadItem>& item) {
  {
    std::lock_guard lock(mutex_);
    if (item->startSent_) return;
    item->startSent_ = true;
  }
  const auto d = item->delegate();
  if (!answers(d, XVloadDocumentProgressDelegate::AnswersStart)) return;
  XVGuardedRun(kCategory, QStringLiteral("telling a requester of the start of %1").arg(item->filePath()),
               [&] { d->XVLoad_Start(item->filePath()); });
}

void XVDocumentLoadManager::sendEnd(const XVLoadItem& item, std::shared_ptr<ImportInterface> import,
                                    const QString& errorInfo) {
  const auto d = item.delegate();
  if (!answers(d, XVloadDocumentProgressDelegate::AnswersEnd)) return;
  XVGuardedRun(kCategory, QStringLiteral("telling a requester of the end of %1").arg(item.filePath()),
               [&] { d->XVLoad_End(std::move(import), item.filePath(), errorInfo); });
}

void XVDocumentLoadManager::ImportProgressDelegate_start(ImportInterface* import) {
  QList<std::shared_ptr<XVLoadItem>> items;
  {
    std::lock_guard lock(mutex_);
    items = itemArrayByImportLocked(import);
  }
  for (const auto& item : items) sendStart(item);
}

void XVDocumentLoadManager::ImportProgressDelegate_Progress(double percent, ImportInterface* import) {
  for (const auto& item : itemArrayByImport(import)) {
    const auto d = item->delegate();
    if (!answers(d, XVloadDocumentProgressDelegate::AnswersProgress)) continue;
    XVGuardedRun(kCategory, QStringLiteral("telling a requester of the progress of %1").arg(item->filePath()),
                 [&] { d->XVLoad_progress(percent, item->filePath()); });
  }
}

void XVDocumentLoadManager::ImportProgressDelegate_end(bool success, ImportInterface* import, const QString& errorInfo) {
  QList<std::shared_ptr<XVLoadItem>> items;
  QList<Waiting> admitted;
  {
    std::lock_guard lock(mutex_);
    // Its place goes to the next waiting conversion at once.
    if (converting_.remove(import)) admitted = admitLocked();
    items = itemArrayByImportLocked(import);
    if (!items.isEmpty()) {
      loadArray_.removeIf([import](const std::shared_ptr<XVLoadItem>& i) { return i->import_.get() == import; });
      // Until the result is recorded or removed, requests for the key wait rather than join or
      // start a second conversion.
      settling_.insert(items.first()->fileKey_);
    }
  }
  startAdmitted(admitted);
  if (items.isEmpty()) return;
  const auto owner = items.first();
  const QString key = owner->fileKey();
  const QString savePath = owner->savePath();

  // The first request keeps the converting module; every other one gets a module of its own,
  // so that one view never sits in two tabs.
  sendEnd(*owner, owner->import(), success ? QString() : errorInfo);
  for (qsizetype i = 1; i < items.size(); ++i) {
    const XVLoadItem& item = *items[i];
    if (!success) {
      sendEnd(item, nullptr, errorInfo);
    } else if (answers(item.delegate(), XVloadDocumentProgressDelegate::AnswersEnd)) {
      auto own = openStoredResult(item, savePath);
      sendEnd(item, own, own ? QString() : XVErrorText::loadFailed());
    }
  }

  if (success && outputExists(savePath)) {
    if (!cacheLib_->addExistCacheFile(savePath, key)) {
      logLine(foundation::LogLevel::Warning, QStringLiteral("cannot record %1 in the cache index").arg(savePath));
    }
  } else {
    if (success) logLine(foundation::LogLevel::Warning, QStringLiteral("a conversion reported success without output at %1").arg(savePath));
    removeOutput(savePath);
  }

  std::lock_guard lock(mutex_);
  settling_.remove(key);
  changed_.notify_all();
}

bool XVDocumentLoadManager::stopLoading(std::chrono::milliseconds timeout) {
  QList<std::shared_ptr<ImportInterface>> running;
  QList<Waiting> waiting;
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
    waiting.swap(waiting_);
    for (const auto& item : loadArray_) {
      const bool waits = std::any_of(waiting.begin(), waiting.end(), [&](const Waiting& w) { return w.module == item->import_; });
      if (item->import_ && !waits && !running.contains(item->import_)) running.append(item->import_);
    }
  }
  // A waiting conversion never starts: its requests end here, once.
  for (const Waiting& w : waiting) ImportProgressDelegate_end(false, w.module.get(), XVErrorText::loadFailed());
  for (const auto& module : running) module->stopImport();
  const bool done = waitUntilIdle(timeout);
  if (!done) logLine(foundation::LogLevel::Warning, QStringLiteral("quitting with loads still running"));
  return done;
}

bool XVDocumentLoadManager::waitUntilIdle(std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, timeout, [this] { return idleLocked(); });
}
