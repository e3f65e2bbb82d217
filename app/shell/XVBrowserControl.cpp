#include "shell/XVBrowserControl.h"

#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>
#include <QWheelEvent>

#include <algorithm>

#include "core/ProductInfo.h"
#include "core/XVBaseFunction.h"
#include "core/XVErrorTexts.h"
#include "core/XVNotifications.h"
#include "platform/foundation/dispatcher.h"
#include "platform/foundation/log.h"
#include "platform/pdfkit/PDFDocument.h"
#include "platform/pdfkit/PDFView.h"
#include "shell/XVBookmarkLib.h"
#include "shell/XVControls.h"
#include "shell/XVRecentDocuments.h"
#include "shell/XVShellLogic.h"

namespace {

using LoadState = XVOpenDocument::LoadState;

// "%@ (%ld/%ld)" for a page document that is shown: the current page's position, 1 to the
// page count (1 without a current page). The product name alone for any other state.
QString pageTitleFor(const XVOpenDocument& document) {
  DocumentModul* pages = document.shownPageDocument();
  const qint64 count = pages ? pages->DocumentcountPage() : 0;
  if (count <= 0) return ProductInfo::AppName();
  const qint64 position = pages->currentPage() ? pages->currentNumberPage() + 1 : 1;
  return XVPageWindowTitle(ProductInfo::AppName(), std::clamp<qint64>(position, 1, count), count);
}

// Hands the loader's reports to the GUI thread; only the end matters. The loader may report
// from any thread at any time, so the browser is read only on the GUI thread.
class BrowserLoadDelegate : public XVloadDocumentProgressDelegate,
                            public std::enable_shared_from_this<BrowserLoadDelegate> {
 public:
  explicit BrowserLoadDelegate(XVBrowserControl* browser) : browser_(browser) {}
  unsigned answeredMessages() const override { return AnswersEnd; }
  void XVLoad_End(std::shared_ptr<ImportInterface> import, const QString& filePath, const QString& errorInfo) override {
    foundation::Dispatcher::postMain([self = shared_from_this(), import = std::move(import), filePath, errorInfo]() mutable {
      if (self->browser_) self->browser_->loadDidEnd(std::move(import), filePath, errorInfo);
    });
  }
  // GUI thread, when the browser goes.
  void detach() { browser_ = nullptr; }

 private:
  XVBrowserControl* browser_;  // GUI thread only
};

}  // namespace

XVBrowserControl::XVBrowserControl(QWidget* parent) : QWidget(parent) {
  XVAppEndMangerDocument::ShareAppEndMangerDocument()->setBrowserControl(this);
  loadDelegate_ = std::make_shared<BrowserLoadDelegate>(this);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  xvTab_ = new XVTab(this);
  xvTab_->setDelegate(this);
  documentView_ = new QWidget(this);
  documentView_->setObjectName(QStringLiteral("documentView"));
  auto* areaLayout = new QVBoxLayout(documentView_);
  areaLayout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(xvTab_);
  layout->addWidget(documentView_, 1);

  viewImport_ = new QWidget(documentView_);
  auto* importLayout = new QVBoxLayout(viewImport_);
  importLayout->addStretch(1);
  processImport_ = new QProgressBar(viewImport_);
  processImport_->setRange(0, 0);
  processImport_->setTextVisible(false);
  processImport_->setFixedWidth(220);
  importMessage_ = new QLabel(viewImport_);
  importMessage_->setAlignment(Qt::AlignCenter);
  importLayout->addWidget(processImport_, 0, Qt::AlignHCenter);
  importLayout->addWidget(importMessage_, 0, Qt::AlignHCenter);
  importLayout->addStretch(1);
  viewImport_->hide();

  commands_ = new XVBrowserCommands(this);
  connect(commands_, &XVBrowserCommands::commandTriggered, this, &XVBrowserControl::runCommand);
  connect(commands_->searchField(), &QLineEdit::editingFinished, this, &XVBrowserControl::searchEndAction);
  connect(commands_->searchField(), &LTTextFiled::escapePressed, this, &XVBrowserControl::focusDocumentView);
  setupAddBookmarkSheet();
  setToolbarEnable(false);
  qApp->installEventFilter(this);

  // Notifications arrive on the posting thread: move to the GUI thread before any widget.
  QPointer<XVBrowserControl> self(this);
  auto& center = foundation::NotificationCenter::defaultCenter();
  observers_.push_back(center.addObserver(ChangePageForTitleNotification, [self](const foundation::Notification&) {
    foundation::Dispatcher::postMain([self] {
      if (!self) return;
      self->updateWindowTitle();
      self->updateMenu();
    });
  }));
  observers_.push_back(center.addObserver(SearchForThunbnailNotification, [self](const foundation::Notification&) {
    foundation::Dispatcher::postMain([self] {
      if (!self) return;
      if (DocumentModul* m = self->currentDocumentModul()) self->tbtView()->setOn(m->isShow());
    });
  }));
  observers_.push_back(center.addObserver(Open_Filed_Error_Info, [self](const foundation::Notification& n) {
    const QString* path = n.value<QString>(XVFilePathUserInfoKey);
    foundation::Dispatcher::postMain([self, p = path ? *path : QString()] {
      if (self) self->showErrorInfo(p);
    });
  }));
}

XVBrowserControl::~XVBrowserControl() {
  qApp->removeEventFilter(this);
  observers_.clear();
  if (bookmarkControl_) {
    bookmarkControl_->setDelegate(nullptr);
    delete bookmarkControl_;
  }
  static_cast<BrowserLoadDelegate*>(loadDelegate_.get())->detach();
  // Module views belong to their modules, not to the document area.
  clearDocumentArea();
  xvTab_->setDelegate(nullptr);
}

void XVBrowserControl::setExternalCommand(ExternalCommand which, Command command) {
  externalCommands_[static_cast<int>(which)] = std::move(command);
  setToolbarEnable(toolbarEnabled_);
  updateMenu();
}

void XVBrowserControl::runCommand(XVBrowserCommands::Command command) {
  using C = XVBrowserCommands::Command;
  switch (command) {
    case C::FirstPage: clickFirstPage(); break;
    case C::PreviousPage: clickPerviousPage(); break;
    case C::NextPage: clickNextPage(); break;
    case C::LastPage: clickLastPage(); break;
    case C::ZoomIn: clickZoomIn(); break;
    case C::ZoomOut: clickZoomOut(); break;
    case C::ZoomOriginal: clickZoomOriginal(); break;
    case C::ZoomStretch: clickZoomStretch(); break;
    case C::RotateLeft: clickRotateLeft(); break;
    case C::RotateRight: clickRotateRight(); break;
    case C::RotateAllLeft: clickRotateAllLeft(); break;
    case C::RotateAllRight: clickRotateAllRight(); break;
    case C::ShowThumbnails: clickChangeShowView(); break;
    case C::OneOrTwoPage: clickShowOneOrTwoPage(); break;
    case C::PageContinue: clickShowContinue(); break;
    case C::Find: break;  // the command set focuses the search field itself
    case C::Print: print(); break;
    case C::AddBookmark: clickMenuAddBookmark(); break;
    case C::EditBookmarks: clickMenuEditBookmarks(); break;
    case C::SaveAs: runExternal(ExternalCommand::SaveAs); break;
    case C::ExtractImages: runExternal(ExternalCommand::ExtractImages); break;
    case C::CloseTab: closeCurrentTab(); break;
    case C::PreviousTab: selectPreviousTab(); break;
    case C::NextTab: selectNextTab(); break;
  }
}

void XVBrowserControl::runExternal(ExternalCommand which) {
  // Like every document command, checked again when it runs.
  const auto command = which == ExternalCommand::SaveAs ? XVBrowserCommands::Command::SaveAs
                                                        : XVBrowserCommands::Command::ExtractImages;
  if (!XVBrowserCommands::isEnabled(command, commandState(true, true))) return;
  if (const Command& c = externalCommands_[static_cast<int>(which)]) c(this);
}

// --- opening files ------------------------------------------------------------------------

void XVBrowserControl::openFiles(const QStringList& paths) {
  QString last;
  for (const QString& path : paths) {
    if (path.isEmpty()) continue;
    if (addDocumentWithFilePath(path).isNull()) last = path;
  }
  if (last.isNull()) return;
  xvTab_->setSelectByItemFilePath(last);
  name_ = QFileInfo(last).fileName();
}

QString XVBrowserControl::addDocumentWithFilePath(const QString& path) {
  const QString existing = documentByFilePath(path);
  if (!existing.isNull()) return existing;
  documents_.add(path);
  xvTab_->addItemWithItemFilePath(path)->setOpenDocument(documents_.find(path));
  return QString();
}

QString XVBrowserControl::documentByFilePath(const QString& path) const {
  const auto document = documents_.find(path);
  return document ? document->filePath() : QString();
}

void XVBrowserControl::addRecentProjectPath(const QString& path) { XVRecentDocuments::noteNewRecentDocument(path); }

void XVBrowserControl::selectDocumentFilePath(const QString& path) {
  const auto document = documents_.find(path);
  if (!document) return;
  // Marked loading first: a loader that answers at once finds the document loading.
  if (documents_.requestLoad(path)) startDecode(path);
  else SwitchTable(xvTab_->itemByFilePath(path));
}

void XVBrowserControl::ToDecode(const QString& path) {
  clearDocumentArea();
  showImportView(path, false);
  if (const auto document = documents_.find(path)) setTitle(pageTitleFor(*document));
  updataToobarEableState();
  updateMenu();
  if (loader_) {
    loader_->loadDocumentByFilePath(path, loadDelegate_);
  } else {
    foundation::log(foundation::LogLevel::Error, "browser", "no document loader for " + path.toStdString());
    loadDelegate_->XVLoad_End(nullptr, path, XVErrorText::noDocumentLoader());
  }
}

void XVBrowserControl::loadDidEnd(std::shared_ptr<ImportInterface> module, const QString& path, const QString& errorInfo) {
  // Matched by the path the end carries; a document closed meanwhile ignores it.
  const auto document = documents_.endLoad(path, std::move(module), errorInfo);
  if (!document) return;
  const bool isCurrent = currentDocument() == document;
  if (document->loadState() == LoadState::Failed) {
    if (!errorInfo.isEmpty())
      foundation::log(foundation::LogLevel::Warning, "browser", path.toStdString() + ": " + errorInfo.toStdString());
    if (isCurrent) {
      clearDocumentArea();
      showImportView(path, true);
      setTitle(pageTitleFor(*document));
      updataToobarEableState();
      updateMenu();
    }
    showAlert(path, document->failureInfo());
    return;
  }
  addRecentProjectPath(path);
  ImportInterface& shown = *document->module();
  shown.ResetViewSize(QRectF(documentView_->rect()));
  if (isCurrent) {
    refreshControlsFromModule(document->shownPageDocument());
    showModuleView(*document);
  }
  shown.reloadDocumentViewData();
  // Title and toolbar follow the current tab, whichever tab finished.
  if (const auto current = currentDocument()) {
    if (current->isMessage()) setWinmailWindowTitle();
    else if (current->loadState() == LoadState::Shown) updateWindowTitle();
  }
  updataToobarEableState();
  updateMenu();
  shown.ResetViewSize(QRectF(documentView_->rect()));
}

void XVBrowserControl::SwitchTable(XVTabItem* item) {
  const auto document = item ? documents_.find(item->filepath()) : nullptr;
  if (!document) return;
  const QString& path = document->filePath();
  clearDocumentArea();
  switch (document->loadState()) {
    case LoadState::Added:
    case LoadState::Loading: showImportView(path, false); break;
    case LoadState::Failed: showImportView(path, true); break;
    case LoadState::Shown:
      refreshControlsFromModule(document->shownPageDocument());
      document->module()->ResetViewSize(QRectF(documentView_->rect()));
      showModuleView(*document);
      break;
  }
  switchTableChangeWindowTitle(item);
  updataToobarEableState();
  updateMenu();
}

std::shared_ptr<XVOpenDocument> XVBrowserControl::currentDocument() const {
  XVTabItem* item = xvTab_->currentSeletedItem();
  return item ? documents_.find(item->filepath()) : nullptr;
}

void XVBrowserControl::refreshControlsFromModule(DocumentModul* module) {
  if (!module) return;
  tbtView()->setOn(module->isShow());
  // The layout buttons are shared by all tabs: show this document's layout, so that a click
  // sends it the other one.
  commands_->tbtPage()->setOn(module->oneOrTwoPageIsOne());
  commands_->tbtContinue()->setOn(module->pageContinue());
  const QString search = module->getSearchString();
  searchField()->setText(search);
  if (search.isEmpty()) module->searchEndState();
}

void XVBrowserControl::clearDocumentArea() {
  const auto children = documentView_->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly);
  for (QWidget* child : children) {
    documentView_->layout()->removeWidget(child);
    child->hide();
    if (child != viewImport_) child->setParent(nullptr);
  }
  processImport_->hide();
}

void XVBrowserControl::showImportView(const QString& path, bool failed) {
  documentView_->layout()->addWidget(viewImport_);
  const QString name = QFileInfo(path).fileName();
  if (failed) {
    processImport_->hide();
    const auto document = documents_.find(path);
    XVSetWrappedText(importMessage_,
                     QFAlert().initAlertWithTitle(path, document ? document->failureInfo() : QString()).informativeText(),
                     XVAlertMaxWidth(this));
  } else {
    processImport_->show();
    XVSetWrappedText(importMessage_, QStringLiteral("Opening %1").arg(name), XVAlertMaxWidth(this));
  }
  viewImport_->show();
}

void XVBrowserControl::showModuleView(const XVOpenDocument& document) {
  QWidget* view = document.module() ? document.module()->documentView() : nullptr;
  clearDocumentArea();
  if (!view) return;
  view->setParent(documentView_);
  documentView_->layout()->addWidget(view);
  view->show();
  // The shown document takes the keys (arrows, Page Down), not whatever the focus fell to
  // when the last view went: the search field or nothing.
  focusDocumentView();
}

void XVBrowserControl::focusDocumentView() {
  const auto document = currentDocument();
  QWidget* view = document && document->loadState() == LoadState::Shown ? document->module()->documentView() : nullptr;
  if (!view || view->parentWidget() != documentView_) return;
  QWidget* target = view->findChild<pdfkit::PDFView*>();
  if (!target && (view->focusPolicy() & Qt::ClickFocus)) target = view;
  if (!target) {
    for (QWidget* w : view->findChildren<QWidget*>()) {
      if ((w->focusPolicy() & Qt::ClickFocus) && w->isVisibleTo(view)) {
        target = w;
        break;
      }
    }
  }
  if (target) target->setFocus(Qt::OtherFocusReason);
}

// --- title, toolbar and menu --------------------------------------------------------------

void XVBrowserControl::setTitle(const QString& title) {
  if (window()) window()->setWindowTitle(title);
  emit windowTitleChanged(title);
}

void XVBrowserControl::switchTableChangeWindowTitle(XVTabItem* item) {
  if (const auto document = item ? documents_.find(item->filepath()) : nullptr) setTitle(pageTitleFor(*document));
}

void XVBrowserControl::updateWindowTitle() {
  const auto current = currentDocument();
  // A tab without a shown page document keeps the title its selection gave it.
  if (!current || current->isMessage() || current->loadState() != LoadState::Shown) return;
  setTitle(pageTitleFor(*current));
}

void XVBrowserControl::setWinmailWindowTitle() { setTitle(ProductInfo::AppName()); }

void XVBrowserControl::setToolbarEnable(bool enable) {
  toolbarEnabled_ = enable;
  setCommandState(enable, enable);
}

XVBrowserCommands::State XVBrowserControl::commandState(bool toolbar, bool menu) const {
  XVBrowserCommands::State state;
  DocumentModul* document = currentDocumentModul();
  state.toolbar = toolbar;
  state.menu = menu && document;
  if (document) {
    state.capabilities = document->capabilities();
    state.saveFormats = !document->SupportSaveFormats().isEmpty();
    state.extractFormats = !document->SupportExtractFormats().isEmpty();
  }
  state.tabs = xvTab_->itemCount();
  state.saveAsWired = hasExternal(ExternalCommand::SaveAs);
  state.extractImagesWired = hasExternal(ExternalCommand::ExtractImages);
  return state;
}

void XVBrowserControl::setCommandState(bool toolbar, bool menu) { commands_->setState(commandState(toolbar, menu)); }

DocumentModul* XVBrowserControl::currentDocumentModul() const {
  const auto current = currentDocument();
  return current ? current->shownPageDocument() : nullptr;
}

DocumentModul* XVBrowserControl::currentDocumentWith(ImportInterface::Capability capability) const {
  DocumentModul* document = currentDocumentModul();
  return document && document->capabilities().testFlag(capability) ? document : nullptr;
}

void XVBrowserControl::updataToobarEableState() { setToolbarEnable(currentDocumentModul() != nullptr); }

void XVBrowserControl::updateMenu() { setCommandState(toolbarEnabled_, true); }

// --- alerts -------------------------------------------------------------------------------

void XVBrowserControl::showAlert(const QString& path, const QString& errorInfo) {
  reportFailure(QFAlert().initAlertWithTitle(path, errorInfo).informativeText());
}

void XVBrowserControl::reportFailure(const QString& text) {
  if (failureAlert_) {
    if (!failureLines_.contains(text)) {
      failureLines_ << text;
      failureAlert_->setInformativeText(failureLines_.join(u'\n'));
      XVFitAlertToText(failureAlert_);
    }
    return;
  }
  const QFAlert alert = QFAlert().initAlertWithTitle(QString());
  auto* box = new QMessageBox(QMessageBox::Warning, alert.messageText(), alert.messageText(), QMessageBox::NoButton, window());
  failureLines_ = QStringList{text};
  box->setInformativeText(text);
  box->addButton(alert.buttons().value(0, XVErrorText::corruptFileButton()), QMessageBox::AcceptRole);
  box->setWindowModality(Qt::WindowModal);
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->setObjectName(QStringLiteral("corruptFileAlert"));
  XVFitAlertToText(box);
  failureAlert_ = box;
  // Gone from the screen, it takes no more lines.
  connect(box, &QDialog::finished, this, [this, box] {
    if (failureAlert_ == box) failureAlert_ = nullptr;
  });
  box->open();
}

void XVBrowserControl::reportUnopenedFiles(const QStringList& paths) {
  for (const QString& path : paths) {
    if (path.isEmpty()) continue;
    reportFailure(XVErrorText::cannotBeOpened(QFileInfo(path).fileName(), XVErrorText::notADocument()));
  }
}

void XVBrowserControl::showErrorInfo(const QString& path) {
  const auto document = path.isEmpty() ? currentDocument() : documents_.find(path);
  if (!document) return;
  // A document still loading ends through its own load end, which raises the alert if it
  // fails (a module posts this before it ends with nothing to show).
  if (document->loadState() == LoadState::Loading) return;
  if (document->loadState() == LoadState::Failed) return;  // already alerted at its end
  showAlert(document->filePath());
}

// --- open panel ---------------------------------------------------------------------------

void XVBrowserControl::showOpenPanel(QWidget* parent, std::function<void(bool, QStringList)> done) {
  QStringList patterns;
  for (const QString& ext : ProductInfo::SupportImportFilesExtension()) {
    for (const QString& e : {ext.toLower(), ext.toUpper(), ext}) {
      const QString p = QStringLiteral("*.") + e;
      if (!patterns.contains(p)) patterns << p;
    }
  }
  auto* panel = new QFileDialog(parent, QStringLiteral("Open"));
  panel->setFileMode(QFileDialog::ExistingFiles);
  panel->setNameFilter(QStringLiteral("Documents (%1)").arg(patterns.join(u' ')));
  panel->setWindowModality(parent ? Qt::WindowModal : Qt::ApplicationModal);
  panel->setAttribute(Qt::WA_DeleteOnClose);
  QObject::connect(panel, &QFileDialog::finished, panel, [panel, done = std::move(done)](int result) {
    done(result == QDialog::Accepted, panel->selectedFiles());
  });
  panel->open();
}

void XVBrowserControl::openDocumentFromFinder() {
  setToolbarEnable(false);
  QPointer<XVBrowserControl> self(this);
  showOpenPanel(window(), [self](bool accepted, QStringList paths) {
    if (self) self->openPanelDidEnd(accepted, paths);
  });
}

void XVBrowserControl::openPanelDidEnd(bool accepted, const QStringList& paths) {
  if (accepted) {
    const QStringList supported = XVSupportedFilePaths(paths);
    QMetaObject::invokeMethod(this, [this, supported] { openFiles(supported); }, Qt::QueuedConnection);
    if (supported.size() != paths.size()) reportUnopenedFiles(XVUnsupportedFilePaths(paths));
  }
  QMetaObject::invokeMethod(this, [this] { updataToobarEableState(); }, Qt::QueuedConnection);
}

// --- tab strip delegate -------------------------------------------------------------------

bool XVBrowserControl::XVTabDelegate_selectItemFilePath(const QString& path, XVTab* tab) {
  // Select first, so the road below sees the tab it shows as the current one.
  if (XVTabItem* item = tab->itemByFilePath(path)) tab->setSelectByItem(item);
  selectDocumentFilePath(path);
  return true;
}

bool XVBrowserControl::XVTabDelegate_DeleteItemFromXVTab(XVTabItem* item, XVTab* tab) {
  if (const auto document = documents_.find(item->filepath()); document && document->loadState() == LoadState::Shown) {
    if (QWidget* view = document->module()->documentView(); view && view->parentWidget() == documentView_) {
      documentView_->layout()->removeWidget(view);
      view->hide();
      view->setParent(nullptr);
    }
    // Rotations go back into the cached PDF; a message has nothing to write back.
    if (DocumentModul* pages = document->shownPageDocument(); pages && pages->needSave()) pages->needSaveDocument();
  }
  documents_.remove(item->filepath());
  // The strip removes the item after this answer: the tab commands follow on a later turn.
  QMetaObject::invokeMethod(this, [self = QPointer<XVBrowserControl>(this)] {
    if (self) self->updateMenu();
  }, Qt::QueuedConnection);
  if (tab->itemCount() <= 1) {
    // No tab is left to show a document.
    clearDocumentArea();
    setToolbarEnable(false);
    foundation::NotificationCenter::defaultCenter().post(remove_all_document_notification, this);
  }
  return true;
}

void XVBrowserControl::XVTabDelegate_AddItem(XVTab*) { openDocumentFromFinder(); }

// --- viewing commands ---------------------------------------------------------------------

void XVBrowserControl::clickChangeShowView() {
  if (DocumentModul* m = currentDocumentWith(ImportInterface::ThumbnailList)) m->setShowThumbnailList(tbtView()->On());
}
void XVBrowserControl::clickFirstPage() {
  if (DocumentModul* m = currentDocumentWith(ImportInterface::PageNavigation)) m->goFirstPage();
}
void XVBrowserControl::clickPerviousPage() {
  if (DocumentModul* m = currentDocumentWith(ImportInterface::PageNavigation)) m->goPreviousPage();
}
void XVBrowserControl::clickNextPage() {
  if (DocumentModul* m = currentDocumentWith(ImportInterface::PageNavigation)) m->goNextPage();
}
void XVBrowserControl::clickLastPage() {
  if (DocumentModul* m = currentDocumentWith(ImportInterface::PageNavigation)) m->goLastPage();
}
void XVBrowserControl::clickShowContinue() {
  if (DocumentModul* m = currentDocumentWith(ImportInterface::PageLayouts)) m->setshowPageContinue(commands_->tbtContinue()->On());
}
void XVBrowserControl::clickShowOneOrTwoPage() {
  if (DocumentModul* m = currentDocumentWith(ImportInterface::PageLayouts)) m->setshowOneOrTwoPageIsOne(commands_->tbtPage()->On());
}
void XVBrowserControl::clickZoomIn() {
  if (DocumentModul* m = currentDocumentWith(ImportInterface::Zoom)) m->setZoomIn();
}
void XVBrowserControl::clickZoomOut() {
  if (DocumentModul* m = currentDocumentWith(ImportInterface::Zoom)) m->setZoomOut();
}
void XVBrowserControl::clickZoomOriginal() {
  if (DocumentModul* m = currentDocumentWith(ImportInterface::Zoom)) m->setScale(1.0);
}
void XVBrowserControl::clickZoomStretch() {
  if (DocumentModul* m = currentDocumentWith(ImportInterface::Zoom)) m->setAutoResize(true);
}
void XVBrowserControl::clickRotateLeft() {
  if (DocumentModul* m = currentDocumentWith(ImportInterface::Rotation)) {
    m->setNeedSave(true);
    m->rotateCurPageleft();
  }
}
void XVBrowserControl::clickRotateRight() {
  if (DocumentModul* m = currentDocumentWith(ImportInterface::Rotation)) {
    m->rotateCurPage(90);
    m->setNeedSave(true);
  }
}
void XVBrowserControl::clickRotateAllLeft() {
  if (DocumentModul* m = currentDocumentWith(ImportInterface::Rotation)) {
    m->rotateAllPageleft();
    m->setNeedSave(true);
  }
}
void XVBrowserControl::clickRotateAllRight() {
  if (DocumentModul* m = currentDocumentWith(ImportInterface::Rotation)) {
    m->rotateAllPage(90);
    m->setNeedSave(true);
  }
}
void XVBrowserControl::print() {
  if (DocumentModul* m = currentDocumentWith(ImportInterface::Print)) m->print();
}

void XVBrowserControl::searchEndAction() {
  DocumentModul* m = currentDocumentWith(ImportInterface::Search);
  if (!m) return;
  const QString text = searchField()->text();
  if (text.isEmpty()) m->searchEndState();
  m->searchContent(text);
}

// --- tabs and quitting --------------------------------------------------------------------

void XVBrowserControl::closeCurrentTab() {
  if (XVTabItem* item = xvTab_->currentSeletedItem()) item->clickDeleteButton();
}

void XVBrowserControl::selectNextTab() {
  XVTabItem* current = xvTab_->currentSeletedItem();
  const auto& items = xvTab_->TableItemArray();
  if (!current || items.size() < 2) return;
  const qsizetype i = items.indexOf(current);
  xvTab_->setSelectByItemFilePath(items.at((i + 1) % items.size())->filepath());
}

void XVBrowserControl::selectPreviousTab() {
  XVTabItem* current = xvTab_->currentSeletedItem();
  const auto& items = xvTab_->TableItemArray();
  if (!current || items.size() < 2) return;
  const qsizetype i = items.indexOf(current);
  xvTab_->setSelectByItemFilePath(items.at((i + items.size() - 1) % items.size())->filepath());
}

int XVBrowserControl::writeBackOpenDocuments(std::chrono::steady_clock::time_point deadline) {
  int left = 0;
  for (const QString& path : documents_.paths()) {
    const auto document = documents_.find(path);
    DocumentModul* pages = document ? document->shownPageDocument() : nullptr;
    if (!pages || !pages->needSave()) continue;
    if (std::chrono::steady_clock::now() >= deadline) {
      foundation::log(foundation::LogLevel::Warning, "browser", "no time left to write back " + path.toStdString());
      ++left;
      continue;
    }
    if (!pages->needSaveDocument()) {
      foundation::log(foundation::LogLevel::Warning, "browser", "cannot write back " + path.toStdString());
      ++left;
    }
  }
  return left;
}

bool XVBrowserControl::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() != QEvent::Wheel) return false;
  auto* wheel = static_cast<QWheelEvent*>(event);
  auto* widget = qobject_cast<QWidget*>(watched);
  if (!(wheel->modifiers() & Qt::ControlModifier) || !widget || !documentView_->isAncestorOf(widget)) return false;
  DocumentModul* m = currentDocumentWith(ImportInterface::Zoom);
  if (!m || !toolbarEnabled_) return false;
  // One step per notch; finer wheels add up to notches.
  wheelZoomRest_ += wheel->angleDelta().y();
  for (; wheelZoomRest_ >= 120; wheelZoomRest_ -= 120) m->setZoomIn();
  for (; wheelZoomRest_ <= -120; wheelZoomRest_ += 120) m->setZoomOut();
  wheel->accept();
  return true;
}

// --- bookmarks ----------------------------------------------------------------------------

void XVBrowserControl::setupAddBookmarkSheet() {
  windowAddBookmark_ = new QDialog(this);
  windowAddBookmark_->setObjectName(QStringLiteral("windowAddBookmark"));
  windowAddBookmark_->setWindowTitle(QStringLiteral("Add Bookmark"));
  windowAddBookmark_->setWindowModality(Qt::WindowModal);
  txtBookmarkName_ = new QLineEdit(windowAddBookmark_);
  txtBookmarkName_->setMinimumWidth(280);
  auto* add = new QPushButton(QStringLiteral("Add"), windowAddBookmark_);
  auto* cancel = new QPushButton(QStringLiteral("Cancel"), windowAddBookmark_);
  add->setDefault(true);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(cancel);
  buttons->addWidget(add);
  auto* layout = new QVBoxLayout(windowAddBookmark_);
  layout->addWidget(new QLabel(QStringLiteral("Bookmark name:"), windowAddBookmark_));
  layout->addWidget(txtBookmarkName_);
  layout->addLayout(buttons);
  connect(add, &QPushButton::clicked, this, &XVBrowserControl::clickAddBookmarkWindowAdd);
  connect(cancel, &QPushButton::clicked, this, &XVBrowserControl::clickAddBookmarkWindowCancel);
  connect(windowAddBookmark_, &QDialog::rejected, this, [this] { addBookmarkPath_.clear(); });
}

QString XVBrowserControl::getCurDefaultBookmarkName() const {
  DocumentModul* m = currentDocumentModul();
  if (!m) return QString();
  return XVBookmarkDefaultName(xvTab_->currentSeletedItem()->filepath(), m->currentNumberPage());
}

void XVBrowserControl::clickMenuAddBookmark() {
  if (!currentDocumentWith(ImportInterface::Bookmarks) || windowAddBookmark_->isVisible()) return;
  addBookmarkPath_ = xvTab_->currentSeletedItem()->filepath();
  txtBookmarkName_->setText(getCurDefaultBookmarkName());
  txtBookmarkName_->selectAll();
  txtBookmarkName_->setFocus();
  windowAddBookmark_->open();
}

void XVBrowserControl::clickAddBookmarkWindowAdd() {
  const QString name = txtBookmarkName_->text();
  if (name.isEmpty()) return;
  // The name was offered for the tab current when the sheet opened: add only while that tab is
  // still current and shows its document.
  DocumentModul* m = currentDocumentWith(ImportInterface::Bookmarks);
  if (m && xvTab_->currentSeletedItem()->filepath() == addBookmarkPath_)
    XVBookmarkLib::ShareBookmarkLib()->addBookmarkNamed(name, addBookmarkPath_, m->currentNumberPage());
  closeWindowAddBookmark();
}

void XVBrowserControl::closeWindowAddBookmark() {
  addBookmarkPath_.clear();
  windowAddBookmark_->hide();
}

XVBookmarkControl* XVBrowserControl::bookmarkControl() {
  if (!bookmarkControl_) {
    bookmarkControl_ = new XVBookmarkControl(this);
    bookmarkControl_->setDelegate(this);
  }
  return bookmarkControl_;
}

void XVBrowserControl::clickMenuEditBookmarks() {
  XVTabItem* current = xvTab_->currentSeletedItem();
  bookmarkControl()->showBookmarksWindow(window(), current ? current->filepath() : QString());
}

bool XVBrowserControl::XVBookmarkControlDelegate_isOpen(const QString& filePath) {
  XVTabItem* current = xvTab_->currentSeletedItem();
  return xvTab_->itemCount() > 0 && current && !filePath.isEmpty() && current->filepath() == filePath;
}

void XVBrowserControl::XVBookmarkControlDelegate_goBookmark(const std::shared_ptr<XVBookmark>& bookmark) {
  if (!bookmark || bookmark->filePath().isEmpty() || bookmark->pageIndex() < 0) return;
  // Asked again now: the current tab may have changed since the manager showed the bookmark.
  if (!XVBookmarkControlDelegate_isOpen(bookmark->filePath())) return;
  DocumentModul* m = currentDocumentWith(ImportInterface::PageNavigation);
  if (!m) return;
  m->goPageAtIndex(bookmark->pageIndex());
  window()->raise();
  window()->activateWindow();
}

// --- process-wide holder ------------------------------------------------------------------

std::shared_ptr<XVAppEndMangerDocument> XVAppEndMangerDocument::ShareAppEndMangerDocument() {
  return XVBaseFunction::sharedObject<XVAppEndMangerDocument>(
      QStringLiteral("XVAppEndMangerDocument"), [] { return std::make_shared<XVAppEndMangerDocument>(); });
}
