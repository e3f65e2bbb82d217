#include "core/DocumentModul.h"

#include <QStringList>

#include <array>

#include "core/ProductInfo.h"
#include "core/XVBaseFunction.h"
#include "core/XVErrorTexts.h"
#include "core/XVGuarded.h"
#include "platform/foundation/log.h"
#include "platform/foundation/plugin.h"

namespace {

struct Factory {
  std::mutex mutex;
  std::array<DocumentModul::Creator, 8> creators;
  std::array<std::string, 8> plugins;  // the plugin that registers a slot's creator, if any
};

Factory& factory() {
  static auto* f = new Factory();
  return *f;
}

QStringList listFor(DocumentModul::Kind kind) {
  using K = DocumentModul::Kind;
  switch (kind) {
    case K::XPS: return ProductInfo::XPSSupportImportFilesExtension();
    case K::Works: return ProductInfo::WPSSupportImportFilesExtension();
    case K::Winmail: return ProductInfo::WinmailSupportImportFilesExtension();
    case K::PDF: return ProductInfo::PDFSupportImportFilesExtension();
    case K::DjVu: return ProductInfo::DjvuSupportImportFilesExtension();
    case K::Visio: return ProductInfo::VisioSupportImportFilesExtension();
    case K::DXF: return ProductInfo::DXFSupportImportFilesExtension();
    case K::WordPerfect: return ProductInfo::WPDSupportImportFilesExtension();
  }
  return {};
}

// The slot's creator; for a plugin's slot, after loading the plugin when it has not registered
// one yet. Loading happens outside the factory's lock: the plugin's entry registers.
DocumentModul::Creator creatorFor(DocumentModul::Kind kind) {
  auto& f = factory();
  std::string plugin;
  {
    std::lock_guard lock(f.mutex);
    const auto& creator = f.creators[static_cast<size_t>(kind)];
    if (creator || f.plugins[static_cast<size_t>(kind)].empty()) return creator;
    plugin = f.plugins[static_cast<size_t>(kind)];
  }
  std::string why;
  using Entry = void (*)();
  if (auto entry = reinterpret_cast<Entry>(foundation::pluginSymbol(plugin, "lectern_register_moduls", &why))) entry();
  std::lock_guard lock(f.mutex);
  const auto& creator = f.creators[static_cast<size_t>(kind)];
  if (!creator && why.empty())
    foundation::log(foundation::LogLevel::Error, "module", "the plugin " + plugin + " registers no module for its slot");
  return creator;
}

constexpr std::array<DocumentModul::Kind, 8> kOrder = {
    DocumentModul::Kind::XPS,  DocumentModul::Kind::Works, DocumentModul::Kind::Winmail,
    DocumentModul::Kind::PDF,  DocumentModul::Kind::DjVu,  DocumentModul::Kind::Visio,
    DocumentModul::Kind::DXF,  DocumentModul::Kind::WordPerfect};

}  // namespace

void ImportInterface::setDelegate(std::weak_ptr<ImportProgressDelegate> delegate) {
  std::lock_guard lock(mutex_);
  delegate_ = std::move(delegate);
}

void ImportInterface::setImportSourcePath(const QString& path) {
  std::lock_guard lock(mutex_);
  sourcePath_ = path;
}

void ImportInterface::setImportOutPath(const QString& path) {
  std::lock_guard lock(mutex_);
  outPath_ = path;
}

void ImportInterface::setImportStartPage(qint64, qint64) {}

void ImportInterface::ResetViewSize(const QRectF& frame) {
  std::lock_guard lock(mutex_);
  viewFrame_ = frame;
}

QRectF ImportInterface::viewFrame() const {
  std::lock_guard lock(mutex_);
  return viewFrame_;
}

QString ImportInterface::sourcePath() const {
  std::lock_guard lock(mutex_);
  return sourcePath_;
}

QString ImportInterface::outPath() const {
  std::lock_guard lock(mutex_);
  return outPath_;
}

std::shared_ptr<ImportProgressDelegate> ImportInterface::delegate() const {
  std::lock_guard lock(mutex_);
  return delegate_.lock();
}

void ImportInterface::startImport() {
  QString refusal;
  if (!acceptsStart(&refusal)) {
    if (auto d = delegate()) d->ImportProgressDelegate_end(false, this, refusal);
    return;
  }
  ended_ = false;
  if (!XVGuardedRun("module", QStringLiteral("the import of %1").arg(sourcePath()), [this] { doStartImport(); }))
    sendEnd(false, XVErrorText::conversionFailed());
}

void ImportInterface::sendStart() {
  if (ended_) return;
  if (auto d = delegate()) d->ImportProgressDelegate_start(this);
}

void ImportInterface::sendProgress(double percent) {
  if (ended_) return;
  if (auto d = delegate()) d->ImportProgressDelegate_Progress(percent, this);
}

bool ImportInterface::sendEnd(bool success, const QString& errorInfo) {
  if (ended_.exchange(true)) return false;
  if (auto d = delegate()) d->ImportProgressDelegate_end(success, this, success ? QString() : errorInfo);
  return true;
}

bool ImportInterface::finishImport(const QString& resultPath, const QString& errorInfo) {
  setOpenFailureReason(QString());
  const bool opened = XVGuardedCall("module", QStringLiteral("opening the result %1").arg(resultPath),
                                    [&] { return importWithResultPath(resultPath); }, false);
  const QString reason = opened ? QString() : openFailureReason();
  sendEnd(opened, reason.isEmpty() ? errorInfo : reason);
  return opened;
}

void ImportInterface::setOpenFailureReason(const QString& reason) {
  std::lock_guard lock(mutex_);
  openFailureReason_ = reason;
}

QString ImportInterface::openFailureReason() const {
  std::lock_guard lock(mutex_);
  return openFailureReason_;
}

bool DocumentModul::fileExtension(const QString& extension, const QStringList& list) {
  return XVBaseFunction::stringInArray(extension, list);
}

bool DocumentModul::kindForExtension(const QString& extension, Kind* kind) {
  if (extension.isEmpty()) return false;
  for (Kind k : kOrder) {
    if (fileExtension(extension, listFor(k))) {
      if (kind) *kind = k;
      return true;
    }
  }
  return false;
}

void DocumentModul::registerModuleClass(Kind kind, Creator creator) {
  if (kind == Kind::DXF) return;
  auto& f = factory();
  std::lock_guard lock(f.mutex);
  if (!creator) f.plugins[static_cast<size_t>(kind)].clear();
  f.creators[static_cast<size_t>(kind)] = std::move(creator);
}

void DocumentModul::registerModulePlugin(Kind kind, const std::string& plugin) {
  if (kind == Kind::DXF) return;
  auto& f = factory();
  std::lock_guard lock(f.mutex);
  f.creators[static_cast<size_t>(kind)] = nullptr;
  f.plugins[static_cast<size_t>(kind)] = plugin;
}

ImportInterface::ModuleKind DocumentModul::moduleKindForPath(const QString& path) {
  Kind kind{};
  if (kindForExtension(XVBaseFunction::extensionOfPath(path), &kind) && kind == Kind::Winmail) return ModuleKind::Message;
  return ModuleKind::PageDocument;
}

ImportInterface::Capabilities DocumentModul::capabilities() const {
  return PageNavigation | Zoom | Rotation | PageLayouts | ThumbnailList | Search | Print | Bookmarks;
}

std::shared_ptr<ImportInterface> DocumentModul::documentModulFilePath(const QString& path) {
  const QString extension = XVBaseFunction::extensionOfPath(path);
  if (extension.isEmpty()) return nullptr;
  // The first slot that holds the extension decides, unless its creator declines the file;
  // a later slot that also holds the extension may then take it.
  for (Kind kind : kOrder) {
    if (!fileExtension(extension, listFor(kind))) continue;
    if (kind == Kind::DXF) return nullptr;
    Creator creator = creatorFor(kind);
    if (!creator) return nullptr;
    if (auto module = creator(path)) return module;
  }
  return nullptr;
}
