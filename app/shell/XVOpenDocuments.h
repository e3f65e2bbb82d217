#pragma once
// The browser's open documents, in the order they were opened, and where each one is on its
// load road. No widgets: the tab strip and the document area show what this model holds.
//
// GUI thread only: the browser moves the loader's reports there before it hands them on.

#include <QString>
#include <QStringList>

#include <memory>
#include <vector>

#include "core/DocumentModul.h"

class XVOpenDocuments;

// One open document: its path (its identity), its load state and, once loaded, its module.
class XVOpenDocument {
 public:
  // Added: not yet selected. Loading: a load was requested and has not ended. Shown: its
  // module has something to show. Failed: the load ended without a module, or a page
  // document ended without a PDF or with a PDF of no pages. Loading never comes back, so a
  // file fails once.
  enum class LoadState { Added, Loading, Shown, Failed };

  explicit XVOpenDocument(QString filePath) : filePath_(std::move(filePath)) {}

  const QString& filePath() const { return filePath_; }
  LoadState loadState() const { return loadState_; }
  // Yes once a load was requested; never cleared.
  bool loadRequested() const { return loadState_ != LoadState::Added; }
  // The module the load ended with; none before the end, or when it ended without one.
  const std::shared_ptr<ImportInterface>& module() const { return module_; }
  // What a failed load said of its failure (see XVErrorText::cannotBeOpened); empty otherwise.
  const QString& failureInfo() const { return failureInfo_; }

  // What the document is: its module's kind once there is a module, before that the kind the
  // factory makes for the path.
  ImportInterface::ModuleKind kind() const;
  bool isMessage() const { return kind() == ImportInterface::ModuleKind::Message; }
  // The page document operations, while the document is shown as one.
  DocumentModul* shownPageDocument() const;
  // The viewer operations its module answers while it is shown; none otherwise.
  ImportInterface::Capabilities capabilities() const;

 private:
  friend class XVOpenDocuments;
  QString filePath_;
  LoadState loadState_ = LoadState::Added;
  std::shared_ptr<ImportInterface> module_;
  QString failureInfo_;
};

class XVOpenDocuments {
 public:
  // Adds a document for `path` at the end; false (nothing added) when one is open already.
  bool add(const QString& path);
  // Forgets the document of `path`; a load still running for it ends unheard.
  void remove(const QString& path);

  // The document of `path` (string equality), or null.
  std::shared_ptr<XVOpenDocument> find(const QString& path) const;
  bool contains(const QString& path) const { return find(path) != nullptr; }
  qsizetype count() const { return static_cast<qsizetype>(documents_.size()); }
  // In the order they were opened.
  QStringList paths() const;

  // Added -> Loading. False (nothing changes) when a load was requested before or the path is
  // not open: a document is loaded at most once.
  bool requestLoad(const QString& path);
  // The end of the load of `path` with `module` (none when no module could be made or
  // opened) and the load's error information: stores the module and moves the document to
  // Shown or Failed. A module without an open result fails: a page document without a PDF (or
  // whose PDF has no pages), a message whose container did not open. Null, changing nothing,
  // when no document of that path is loading.
  std::shared_ptr<XVOpenDocument> endLoad(const QString& path, std::shared_ptr<ImportInterface> module,
                                          const QString& errorInfo = QString());

 private:
  std::vector<std::shared_ptr<XVOpenDocument>> documents_;
};
