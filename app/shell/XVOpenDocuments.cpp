#include "shell/XVOpenDocuments.h"

#include <algorithm>

#include "core/XVErrorTexts.h"

ImportInterface::ModuleKind XVOpenDocument::kind() const {
  return module_ ? module_->moduleKind() : DocumentModul::moduleKindForPath(filePath_);
}

DocumentModul* XVOpenDocument::shownPageDocument() const {
  if (loadState_ != LoadState::Shown || !module_) return nullptr;
  DocumentModul* document = module_->pageDocument();
  return document && document->DocumentModulPDFDocument() ? document : nullptr;
}

ImportInterface::Capabilities XVOpenDocument::capabilities() const {
  return loadState_ == LoadState::Shown && module_ ? module_->capabilities() : ImportInterface::Capabilities();
}

bool XVOpenDocuments::add(const QString& path) {
  if (contains(path)) return false;
  documents_.push_back(std::make_shared<XVOpenDocument>(path));
  return true;
}

void XVOpenDocuments::remove(const QString& path) {
  std::erase_if(documents_, [&](const auto& d) { return d->filePath_ == path; });
}

std::shared_ptr<XVOpenDocument> XVOpenDocuments::find(const QString& path) const {
  const auto it = std::find_if(documents_.begin(), documents_.end(), [&](const auto& d) { return d->filePath_ == path; });
  return it == documents_.end() ? nullptr : *it;
}

QStringList XVOpenDocuments::paths() const {
  QStringList out;
  for (const auto& d : documents_) out << d->filePath_;
  return out;
}

bool XVOpenDocuments::requestLoad(const QString& path) {
  const auto document = find(path);
  if (!document || document->loadState_ != XVOpenDocument::LoadState::Added) return false;
  document->loadState_ = XVOpenDocument::LoadState::Loading;
  return true;
}

std::shared_ptr<XVOpenDocument> XVOpenDocuments::endLoad(const QString& path, std::shared_ptr<ImportInterface> module,
                                                         const QString& errorInfo) {
  const auto document = find(path);
  if (!document || document->loadState_ != XVOpenDocument::LoadState::Loading) return nullptr;
  document->module_ = std::move(module);
  ImportInterface* m = document->module_.get();
  bool shows = false;
  QString failure = errorInfo;
  if (m && m->moduleKind() == ImportInterface::ModuleKind::Message) {
    shows = m->hasOpenResult();
  } else if (m && m->hasOpenResult()) {
    DocumentModul* pages = m->pageDocument();
    shows = pages && pages->DocumentcountPage() > 0;
    if (!shows && XVErrorText::isUnexplained(failure)) failure = XVErrorText::noPages();
  }
  document->loadState_ = shows ? XVOpenDocument::LoadState::Shown : XVOpenDocument::LoadState::Failed;
  document->failureInfo_ = shows ? QString() : failure;
  return document;
}
