#pragma once
// The persistent conversion cache: one stored result per content key in the cache folder,
// and the index "lib_config" (JSON under the item's coder keys), rewritten atomically after
// every change. Safe to use from any thread.
//
// Every cache object holds a shared lock on "lib_lock" in the folder for its life, so a process
// knows whether any other (a second launch, a tool, a test) uses the folder. Only one that is
// alone with it when it opens the folder removes the temporary files that writers interrupted
// by a crash left there: with nobody else holding the lock, no conversion can be writing them.

#include <QHash>
#include <QJsonObject>
#include <QString>

#include <memory>
#include <mutex>

class XVFileCacheItem {
 public:
  XVFileCacheItem() = default;
  explicit XVFileCacheItem(const QString& id) : ID_(id), name_(id) {}
  static XVFileCacheItem fileCacheItemWithID(const QString& id) { return XVFileCacheItem(id); }

  QString ID() const { return ID_; }
  void setID(const QString& id) { ID_ = id; }
  QString name() const { return name_; }
  void setName(const QString& name) { name_ = name; }

  QJsonObject encodeWithCoder() const;
  // Null item (empty ID) when the object lacks either key.
  static XVFileCacheItem initWithCoder(const QJsonObject& coder);

  bool isNull() const { return ID_.isEmpty(); }

 private:
  QString ID_;
  QString name_;
};

class XVFileCacheLib {
 public:
  static std::shared_ptr<XVFileCacheLib> fileCacheLibWithLibPath(const QString& libPath);
  explicit XVFileCacheLib(const QString& libPath);
  ~XVFileCacheLib();
  XVFileCacheLib(const XVFileCacheLib&) = delete;
  XVFileCacheLib& operator=(const XVFileCacheLib&) = delete;

  QString libPath() const { return libPath_; }
  QString libFilePath() const;

  // Reloads the index from disk. An unreadable index is renamed to "lib_config.bad" and the
  // cache starts empty; entries that are not well-formed content keys are dropped. Taking a
  // new folder, it sweeps the folder's stale temporary files when no one else uses it.
  void loadLibWithPath(const QString& libPath);
  // Yes for the name of a temporary file that a writer of the cache folder makes beside its
  // result or the index: "<key>.<anything>", ".<key>.<anything>", "lib_config.XXXXXX".
  static bool isTemporaryName(const QString& name);
  // Writes the index atomically; answers whether it reached the disk.
  bool saveToLocal();

  XVFileCacheItem itemByID(const QString& id) const;
  QString itemPath(const XVFileCacheItem& item) const;
  QString cachePathById(const QString& id) const;
  QString cacheFilePathByID(const QString& id) const;

  // Adds an entry for a result that already lies at cachePathById(id); answers whether the
  // entry is now in the index on disk (yes, without a write, when it already was).
  bool addExistCacheFile(const QString& filePath, const QString& id);
  QString addCacheFileByID(const QString& id);
  // Copies `sourcePath` into the cache under `id` (atomically); null on failure.
  QString addCacheFileByOriginalFile(const QString& sourcePath, const QString& id);
  int cacheFileCount() const;
  // Deletes the entry's file or folder (links not followed) and the entry, and rewrites the
  // index.
  void removeCacheFileByID(const QString& id);

 private:
  static bool isSafeName(const QString& name);
  // Locks the folder (shared) and, when no other holder has it, sweeps it first.
  void lockFolder(const QString& libPath);
  void sweepTemporaryFiles(const QString& libPath);

  QString libPath_;
  int lockFd_ = -1;
  QString lockedPath_;
  mutable std::mutex mutex_;  // guards itemDic_
  QHash<QString, XVFileCacheItem> itemDic_;
  std::mutex saveMutex_;  // serialises index writes
};
