#pragma once
// The load manager: turns a request to show a file into a ready document module, from the
// conversion cache or through a conversion, and relays the module's reports to every request
// that waits on it.
//
// - A content key is converted by at most one module at a time; later requests for it join.
//   On success the first request keeps the converting module and every other one gets a
//   module of its own opened on the stored result (one view never sits in two tabs); on
//   failure the others get no module. The ends are relayed first, then the result is added
//   to the index or the output removed; requests for the key wait until that is done.
// - A stored result that is gone or cannot be opened drops its index entry and is converted
//   again. Whatever lies at an output path is removed before its conversion starts.
// - A file without a content key ends with an error and never touches the cache folder.
// - At most conversionLimit() conversions run at once (bound by the cores and the memory);
//   later ones wait in arrival order, their requesters told of the start (and progress 0)
//   at once. Cache hits and PDF copies never wait. A waiting conversion that the quit stops
//   ends once, without starting.
//
// Threads: loadDocumentByFilePath() returns at once; each request runs on a thread of its own.
// Requesters hear XVLoad_* on that thread or on the thread the module reports from. One mutex
// guards the waiting list and the per-key bookkeeping; it is held only while deciding what a
// request does, never while calling a module or a requester or touching files.

#include <QHash>
#include <QList>
#include <QSet>
#include <QString>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>

#include "core/DocumentModul.h"
#include "shell/XVloadDocumentProgressDelegate.h"

class XVFileCacheLib;

// One load request.
class XVLoadItem {
 public:
  QString fileKey() const { return fileKey_; }
  void setFileKey(const QString& v) { fileKey_ = v; }
  QString filePath() const { return filePath_; }
  void setFilePath(const QString& v) { filePath_ = v; }
  // The conversion output: the cache folder, "/" and the key.
  QString savePath() const { return savePath_; }
  void setSavePath(const QString& v) { savePath_ = v; }
  std::shared_ptr<XVloadDocumentProgressDelegate> delegate() const { return delegate_; }
  void setDelegate(std::shared_ptr<XVloadDocumentProgressDelegate> v) { delegate_ = std::move(v); }
  // The module producing the result, shared by every item waiting on the same conversion.
  std::shared_ptr<ImportInterface> import() const { return import_; }
  void setImport(std::shared_ptr<ImportInterface> v) { import_ = std::move(v); }

 private:
  friend class XVDocumentLoadManager;
  QString fileKey_;
  QString filePath_;
  QString savePath_;
  std::shared_ptr<XVloadDocumentProgressDelegate> delegate_;
  std::shared_ptr<ImportInterface> import_;
  bool startSent_ = false;  // guarded by the manager's mutex
};

class XVDocumentLoadManager : public XVDocumentLoader,
                              public ImportProgressDelegate,
                              public std::enable_shared_from_this<XVDocumentLoadManager> {
 public:
  // The application's manager over the cache folder, kept in the registry of singletons under
  // "XVDocumentLoadManager" until the application ends. Main thread.
  static std::shared_ptr<XVDocumentLoadManager> ShareDocumentLoadManager();
  // Quit hook for the registered manager, if there is one: see stopLoading().
  static bool StopSharedDocumentLoadManager(std::chrono::milliseconds timeout);

  static std::shared_ptr<XVDocumentLoadManager> initWithCacheLibPath(const QString& cacheLibPath);
  // Null for a null cache.
  static std::shared_ptr<XVDocumentLoadManager> initWithCacheLib(std::shared_ptr<XVFileCacheLib> cacheLib);
  ~XVDocumentLoadManager() override;

  std::shared_ptr<XVFileCacheLib> cacheLib() const { return cacheLib_; }
  // Snapshot of the requests waiting on running conversions, in arrival order.
  QList<std::shared_ptr<XVLoadItem>> loadArray() const;
  // Items of loadArray() whose module is `import` (identity), in order.
  QList<std::shared_ptr<XVLoadItem>> itemArrayByImport(const ImportInterface* import) const;
  // The first item of loadArray() with that key; null for an empty key.
  std::shared_ptr<XVLoadItem> firstItemByFileKey(const QString& fileKey) const;

  // Every accepted request ends with exactly one XVLoad_End, except a second request of the
  // same path by the same requester while the first still converts: that one is dropped and
  // "Open_Filed_Error_Info" is posted with the path. Ignored after stopLoading(); a request
  // accepted before it that would start a conversion ends with "Unknown error!" instead.
  void loadDocumentByFilePath(const QString& filePath,
                              std::shared_ptr<XVloadDocumentProgressDelegate> delegate) override;

  // Quit: takes no new requests, ends the waiting conversions, asks running modules to stop and
  // waits up to `timeout` for the request threads and the running conversions. Answers whether
  // all of them ended.
  bool stopLoading(std::chrono::milliseconds timeout);

  // How many conversions may run at once: half the cores (a conversion keeps about two busy:
  // its own thread and its decoder's or renderer's, and the tabs keep theirs), fewer when the
  // memory available holds fewer conversions of kConversionMemory each; at least one.
  static int defaultConversionLimit();
  static constexpr qint64 kConversionMemory = qint64(256) << 20;
  int conversionLimit() const;
  // Takes effect for the conversions that start from now on (at least one runs).
  void setConversionLimit(int limit);
  // Conversions running, and waiting for one to end.
  int runningConversions() const;
  int waitingConversions() const;
  // Waits up to `timeout` until no request thread and no conversion is running.
  bool waitUntilIdle(std::chrono::milliseconds timeout);

  void ImportProgressDelegate_start(ImportInterface* import) override;
  void ImportProgressDelegate_Progress(double percent, ImportInterface* import) override;
  void ImportProgressDelegate_end(bool success, ImportInterface* import, const QString& errorInfo) override;

 private:
  explicit XVDocumentLoadManager(std::shared_ptr<XVFileCacheLib> cacheLib);

  enum class Road { Duplicate, Cache, Join, Convert, Refused };

  void loadThreed(const QString& filePath, const std::shared_ptr<XVloadDocumentProgressDelegate>& delegate);
  // Serves from the cache; answers false when the stored result was stale and its entry has
  // been dropped. Called with the item counted as a reader of its key.
  bool loadCacheFile(const std::shared_ptr<XVLoadItem>& item);
  void loadConverterFile(const std::shared_ptr<XVLoadItem>& item, const std::shared_ptr<ImportInterface>& module);
  // Starts the conversion now, or queues it when the running ones fill the limit.
  void startOrQueue(const std::shared_ptr<XVLoadItem>& item, const std::shared_ptr<ImportInterface>& module);
  // Under the mutex: takes the waiting conversions that fit the limit now; each is counted as
  // running and as a load thread, to be started by startAdmitted().
  struct Waiting {
    std::shared_ptr<XVLoadItem> item;
    std::shared_ptr<ImportInterface> module;
    bool announced = false;  // its requester has heard of the start
  };
  QList<Waiting> admitLocked();
  void startAdmitted(const QList<Waiting>& admitted);
  void releaseCacheReader(const QString& key);
  void workerDone();

  // Under the mutex: what the request does now. Waits while the key's end is being recorded,
  // or while its stored result is being opened and a conversion would be needed. With
  // `newModule`, a Convert answer has put the item into the waiting list with that module.
  Road decideLocked(std::unique_lock<std::mutex>& lock, const std::shared_ptr<XVLoadItem>& item,
                    const std::shared_ptr<ImportInterface>& newModule);
  QList<std::shared_ptr<XVLoadItem>> itemArrayByImportLocked(const ImportInterface* import) const;
  std::shared_ptr<XVLoadItem> firstItemByFileKeyLocked(const QString& fileKey) const;
  bool idleLocked() const;

  // A module of its own for `item`, opened on the stored result; null when none opens it.
  std::shared_ptr<ImportInterface> openStoredResult(const XVLoadItem& item, const QString& storedPath);
  void sendStart(const std::shared_ptr<XVLoadItem>& item);
  static void sendEnd(const XVLoadItem& item, std::shared_ptr<ImportInterface> import, const QString& errorInfo);

  const std::shared_ptr<XVFileCacheLib> cacheLib_;

  mutable std::mutex mutex_;
  std::condition_variable changed_;
  QList<std::shared_ptr<XVLoadItem>> loadArray_;
  QSet<QString> settling_;           // keys whose end is being relayed and recorded
  QHash<QString, int> cacheReaders_;  // keys whose stored result is being opened
  int workers_ = 0;                   // request threads alive
  bool stopping_ = false;
  int conversionLimit_;
  QSet<const ImportInterface*> converting_;  // conversions that hold a place in the limit
  QList<Waiting> waiting_;                   // conversions waiting for a place, in arrival order
};
