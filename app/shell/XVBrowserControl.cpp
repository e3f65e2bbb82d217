#include "shell/XVBrowserControl.h"

#include <QAction>
#include <QDialog>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QToolBar>
#include <QToolButton>
#include <QHBoxLayout>
#include <QVBoxLayout>

#include <mutex>

#include "core/DocumentModul.h"
#include "platform/foundation/dispatcher.h"
#include "platform/foundation/log.h"
#include "platform/pdfkit/PDFDocument.h"
#include "core/ProductInfo.h"
#include "core/XVBaseFunction.h"
#include "shell/XVBookmarkLib.h"
#include "shell/XVControls.h"
#include "core/XVNotifications.h"
#include "shell/XVRecentDocuments.h"
#include "shell/XVShellLogic.h"

namespace {

std::mutex& providerMutex() {
  static std::mutex m;
  return m;
}

XVBrowserControl::PageLabelProvider& pageLabelProvider() {
  // The document's own label of the current page ("iv", "A-3"), else its number from 1.
  static XVBrowserControl::PageLabelProvider provider = [](DocumentModul* m) -> std::optional<QString> {
    const pdfkit::PDFPage* page = m->currentPage();
    if (!page) return std::nullopt;
    return page->label();
  };
  return provider;
}

std::optional<QString> currentPageLabel(DocumentModul* module) {
  XVBrowserControl::PageLabelProvider provider;
  {
    std::lock_guard lock(providerMutex());
    provider = pageLabelProvider();
  }
  return provider ? provider(module) : std::nullopt;
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

// A tab holds a message (the mail container's module) rather than pages: its module says so,
// and before it has one the factory's kind for its path does.
bool isMessageTab(const XVTabItem* item) {
  if (!item) return false;
  const auto& module = item->documentModul();
  const auto kind = module ? module->moduleKind() : DocumentModul::moduleKindForPath(item->filepath());
  return kind == ImportInterface::ModuleKind::Message;
}

XVChangeButton* makeChangeButton(QWidget* parent, const QString& tip, const char* onN, const char* onP,
                                 const char* offN, const char* offP) {
  auto* b = new XVChangeButton(parent);
  b->setToolTip(tip);
  b->setOnNormalImage(XVImageNamed(QString::fromLatin1(onN)), onP ? XVImageNamed(QString::fromLatin1(onP)) : QPixmap());
  b->setOffNormalImage(XVImageNamed(QString::fromLatin1(offN)), offP ? XVImageNamed(QString::fromLatin1(offP)) : QPixmap());
  return b;
}

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

  setupToolbar();
  setupAddBookmarkSheet();
  setToolbarEnable(false);

  connect(searchField_, &QLineEdit::editingFinished, this, &XVBrowserControl::searchEndAction);

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
      if (DocumentModul* m = self->currentDocumentModul()) self->tbtView_->setOn(m->isShow());
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

void XVBrowserControl::setPageLabelProvider(PageLabelProvider provider) {
  std::lock_guard lock(providerMutex());
  pageLabelProvider() = std::move(provider);
}

void XVBrowserControl::setExternalCommand(ExternalCommand which, Command command) {
  externalCommands_[static_cast<int>(which)] = std::move(command);
  setToolbarEnable(toolbarEnabled_);
  updateMenu();
}

void XVBrowserControl::runExternal(ExternalCommand which) {
  // Like every document command, checked again when it runs.
  if (!offersExternal(which)) return;
  if (const Command& c = externalCommands_[static_cast<int>(which)]) c(this);
}

void XVBrowserControl::setupToolbar() {
  toolbar_ = new QToolBar(QStringLiteral("Toolbar"), this);
  toolbar_->setObjectName(QStringLiteral("browserToolbar"));
  toolbar_->setMovable(false);
  toolbar_->setIconSize(QSize(28, 24));
  toolbar_->hide();

  auto action = [this](const QString& text, const char* image, QKeySequence key, void (XVBrowserControl::*slot)()) {
    auto* a = new QAction(text, this);
    if (image) a->setIcon(QIcon(XVImageNamed(QString::fromLatin1(image))));
    if (!key.isEmpty()) a->setShortcut(key);
    connect(a, &QAction::triggered, this, slot);
    viewingActions_.push_back(a);
    return a;
  };
  auto external = [this](const QString& text, const char* image, QKeySequence key, ExternalCommand which) {
    auto* a = new QAction(text, this);
    if (image) a->setIcon(QIcon(XVImageNamed(QString::fromLatin1(image))));
    if (!key.isEmpty()) a->setShortcut(key);
    connect(a, &QAction::triggered, this, [this, which] { runExternal(which); });
    return a;
  };
  Actions& A = actions_;
  A.firstPage = action("First Page", "pic_btn_first", QKeySequence::MoveToStartOfDocument, &XVBrowserControl::clickFirstPage);
  A.previousPage = action("Previous Page", "pic_btn_previous", QKeySequence::Back, &XVBrowserControl::clickPerviousPage);
  A.nextPage = action("Next Page", "pic_btn_next", QKeySequence::Forward, &XVBrowserControl::clickNextPage);
  A.lastPage = action("Last Page", "pic_btn_last", QKeySequence::MoveToEndOfDocument, &XVBrowserControl::clickLastPage);
  A.zoomIn = action("Zoom In", "pic_btn_zoom_in", QKeySequence::ZoomIn, &XVBrowserControl::clickZoomIn);
  A.zoomOut = action("Zoom Out", "pic_btn_zoom_out", QKeySequence::ZoomOut, &XVBrowserControl::clickZoomOut);
  A.rotateLeft = action("Rotate Left", "pic_btn_rotate_left", {}, &XVBrowserControl::clickRotateLeft);
  A.rotateRight = action("Rotate Right", "pic_btn_rotate_right", {}, &XVBrowserControl::clickRotateRight);
  A.rotateAllLeft = action("Rotate All Pages Left", "pic_btn_rotate_all_left", {}, &XVBrowserControl::clickRotateAllLeft);
  A.rotateAllRight = action("Rotate All Pages Right", "pic_btn_rotate_all_right", {}, &XVBrowserControl::clickRotateAllRight);
  A.print = action("Print...", "pic_btn_print", QKeySequence::Print, &XVBrowserControl::print);
  A.addBookmark = new QAction(QIcon(XVImageNamed(QStringLiteral("pic_btn_bookmark"))), QStringLiteral("Add Bookmark..."), this);
  connect(A.addBookmark, &QAction::triggered, this, &XVBrowserControl::clickMenuAddBookmark);
  A.editBookmarks = new QAction(QStringLiteral("Bookmark Manager..."), this);
  connect(A.editBookmarks, &QAction::triggered, this, &XVBrowserControl::clickMenuEditBookmarks);
  A.saveAs = external("Save As...", "pic_btn_save", QKeySequence::SaveAs, ExternalCommand::SaveAs);
  A.extractImages = external("Extract Images...", "pic_btn_extract", {}, ExternalCommand::ExtractImages);

  // Two-state buttons; their menu commands click them, so state and action stay together.
  tbtView_ = makeChangeButton(this, "Thumbnails", "pic_btn_view1_n", "pic_btn_view1_p", "pic_btn_view2_n", "pic_btn_view2_p");
  tbtPage_ = makeChangeButton(this, "Single or Two Pages", "pic_btn_page_two_n", "pic_btn_page_two_p", "pic_btn_page_one_n",
                              "pic_btn_page_one_p");
  tbtContinue_ = makeChangeButton(this, "Continuous", "pic_btn_page_continue_p", nullptr, "pic_btn_page_continue_n", nullptr);
  tbtGZoomOriginal_ =
      makeChangeButton(this, "Actual Size", "pic_btn_zoom_ original_p", nullptr, "pic_btn_zoom_ original_n", nullptr);
  tbtGStretch_ = makeChangeButton(this, "Fit Width", "btn_zoom_ stretch_width_p", nullptr, "btn_zoom_ stretch_width_n", nullptr);
  connect(tbtView_, &QToolButton::clicked, this, &XVBrowserControl::clickChangeShowView);
  connect(tbtPage_, &QToolButton::clicked, this, &XVBrowserControl::clickShowOneOrTwoPage);
  connect(tbtContinue_, &QToolButton::clicked, this, &XVBrowserControl::clickShowContinue);
  connect(tbtGZoomOriginal_, &QToolButton::clicked, this, &XVBrowserControl::clickZoomOriginal);
  connect(tbtGStretch_, &QToolButton::clicked, this, &XVBrowserControl::clickZoomStretch);
  auto clicker = [this](const QString& text, XVChangeButton* button, QKeySequence key) {
    auto* a = new QAction(text, this);
    if (!key.isEmpty()) a->setShortcut(key);
    connect(a, &QAction::triggered, button, &QAbstractButton::click);
    viewingActions_.push_back(a);
    return a;
  };
  A.showThumbnails = clicker("Show or Hide Thumbnails", tbtView_, {});
  A.oneOrTwoPage = clicker("Single or Two Pages", tbtPage_, {});
  A.pageContinue = clicker("Continuous", tbtContinue_, {});
  A.zoomOriginal = clicker("Actual Size", tbtGZoomOriginal_, QKeySequence(Qt::CTRL | Qt::Key_0));
  A.zoomStretch = clicker("Fit Width", tbtGStretch_, {});

  searchField_ = new LTTextFiled(this);
  searchField_->setPlaceholderText(QStringLiteral("Search"));
  searchField_->setClearButtonEnabled(true);
  searchField_->setFixedWidth(200);
  A.find = new QAction(QStringLiteral("Find..."), this);
  A.find->setShortcut(QKeySequence::Find);
  connect(A.find, &QAction::triggered, this, [this] {
    searchField_->setFocus(Qt::ShortcutFocusReason);
    searchField_->selectAll();
  });
  viewingActions_.push_back(A.find);

  toolbar_->addWidget(tbtView_);
  toolbar_->addSeparator();
  toolbar_->addWidget(tbtPage_);
  toolbar_->addWidget(tbtContinue_);
  toolbar_->addSeparator();
  toolbar_->addAction(A.zoomOut);
  toolbar_->addAction(A.zoomIn);
  toolbar_->addWidget(tbtGZoomOriginal_);
  toolbar_->addWidget(tbtGStretch_);
  toolbar_->addSeparator();
  toolbar_->addAction(A.firstPage);
  toolbar_->addAction(A.previousPage);
  toolbar_->addAction(A.nextPage);
  toolbar_->addAction(A.lastPage);
  toolbar_->addSeparator();
  toolbar_->addAction(A.rotateLeft);
  toolbar_->addAction(A.rotateRight);
  toolbar_->addAction(A.rotateAllLeft);
  toolbar_->addAction(A.rotateAllRight);
  toolbar_->addSeparator();
  toolbar_->addAction(A.print);
  toolbar_->addAction(A.addBookmark);
  toolbar_->addAction(A.saveAs);
  toolbar_->addAction(A.extractImages);
  auto* spacer = new QWidget(toolbar_);
  spacer->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
  toolbar_->addWidget(spacer);
  toolbar_->addWidget(searchField_);
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
  xvTab_->addItemWithItemFilePath(path);
  addRecentProjectPath(path);
  return QString();
}

QString XVBrowserControl::documentByFilePath(const QString& path) const {
  for (qsizetype i = 0; i < xvTab_->itemCount(); ++i) {
    const QString p = xvTab_->itemDataSourcePathAtIndex(i);
    if (p == path) return p;
  }
  return QString();
}

void XVBrowserControl::addRecentProjectPath(const QString& path) { XVRecentDocuments::noteNewRecentDocument(path); }

void XVBrowserControl::selectDocumentFilePath(const QString& path) {
  XVTabItem* item = xvTab_->itemByFilePath(path);
  if (!item) return;
  if (!item->getDecodSymbol()) {
    // Mark first: a loader that answers at once finds the tab loading.
    item->setDecodSymbol(true);
    item->setLoadState(XVTabItem::LoadState::Loading);
    startDecode(path);
  } else {
    SwitchTable(item);
  }
}

void XVBrowserControl::ToDecode(const QString& path) {
  clearDocumentArea();
  showImportView(path, false);
  if (isMessageTab(xvTab_->itemByFilePath(path))) setWinmailWindowTitle();
  else switchTableChangeWindowTitle(xvTab_->itemByFilePath(path));
  updataToobarEableState();
  updateMenu();
  if (loader_) {
    loader_->loadDocumentByFilePath(path, loadDelegate_);
  } else {
    foundation::log(foundation::LogLevel::Error, "browser", "no document loader for " + path.toStdString());
    loadDelegate_->XVLoad_End(nullptr, path, QStringLiteral("No document loader is available"));
  }
}

void XVBrowserControl::loadDidEnd(std::shared_ptr<ImportInterface> module, const QString& path, const QString& errorInfo) {
  // Matched by the path the end carries; a tab closed meanwhile ignores it.
  XVTabItem* item = xvTab_->itemByFilePath(path);
  if (!item || item->loadState() != XVTabItem::LoadState::Loading) return;
  item->setDocumentModul(module);
  const bool mail = isMessageTab(item);
  DocumentModul* document = module ? module->pageDocument() : nullptr;
  const bool ok = mail ? module != nullptr : (document && document->DocumentModulPDFDocument());
  const bool isCurrent = xvTab_->currentSeletedItem() == item;
  if (!ok) {
    if (!errorInfo.isEmpty()) foundation::log(foundation::LogLevel::Warning, "browser", errorInfo.toStdString());
    item->setLoadState(XVTabItem::LoadState::Failed);
    if (isCurrent) {
      clearDocumentArea();
      showImportView(path, true);
      if (mail) setWinmailWindowTitle();
      else switchTableChangeWindowTitle(item);
      updataToobarEableState();
      updateMenu();
    }
    showAlert(path);
    return;
  }
  item->setLoadState(XVTabItem::LoadState::Shown);
  const QRectF frame(documentView_->rect());
  module->ResetViewSize(frame);
  if (isCurrent) {
    if (!mail) refreshControlsFromModule(document);
    showModuleView(item);
  }
  module->reloadDocumentViewData();
  // Title and toolbar follow the current tab, whichever tab finished.
  if (XVTabItem* current = xvTab_->currentSeletedItem()) {
    if (isMessageTab(current)) setWinmailWindowTitle();
    else if (current->loadState() == XVTabItem::LoadState::Shown) updateWindowTitle();
  }
  updataToobarEableState();
  updateMenu();
  module->ResetViewSize(QRectF(documentView_->rect()));
}

void XVBrowserControl::SwitchTable(XVTabItem* item) {
  if (!item) return;
  const QString path = item->filepath();
  const bool mail = isMessageTab(item);
  clearDocumentArea();
  switch (item->loadState()) {
    case XVTabItem::LoadState::Added:
    case XVTabItem::LoadState::Loading: showImportView(path, false); break;
    case XVTabItem::LoadState::Failed: showImportView(path, true); break;
    case XVTabItem::LoadState::Shown:
      if (!mail) refreshControlsFromModule(item->documentModul()->pageDocument());
      item->documentModul()->ResetViewSize(QRectF(documentView_->rect()));
      showModuleView(item);
      break;
  }
  if (mail) setWinmailWindowTitle();
  else switchTableChangeWindowTitle(item);
  updataToobarEableState();
  updateMenu();
}

void XVBrowserControl::refreshControlsFromModule(DocumentModul* module) {
  if (!module) return;
  tbtView_->setOn(module->isShow());
  // The layout buttons are shared by all tabs: show this document's layout, so that a click
  // sends it the other one.
  tbtPage_->setOn(module->oneOrTwoPageIsOne());
  tbtContinue_->setOn(module->pageContinue());
  const QString search = module->getSearchString();
  searchField_->setText(search);
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
    importMessage_->setText(QFAlert().initAlertWithTitle(path).informativeText());
  } else {
    processImport_->show();
    importMessage_->setText(QStringLiteral("Opening %1").arg(name));
  }
  viewImport_->show();
}

void XVBrowserControl::showModuleView(XVTabItem* item) {
  QWidget* view = item->documentModul() ? item->documentModul()->documentView() : nullptr;
  clearDocumentArea();
  if (!view) return;
  view->setParent(documentView_);
  documentView_->layout()->addWidget(view);
  view->show();
}

// --- title, toolbar and menu --------------------------------------------------------------

void XVBrowserControl::setTitle(const QString& title) {
  if (window()) window()->setWindowTitle(title);
  emit windowTitleChanged(title);
}

namespace {
QString pageTitleFor(ImportInterface* module, qint64 pageWithoutCurrent) {
  DocumentModul* document = module ? module->pageDocument() : nullptr;
  qint64 page = pageWithoutCurrent;
  qint64 count = 0;
  if (document) {
    if (const auto label = currentPageLabel(document)) page = XVIntegerValue(*label);
    if (document->DocumentModulPDFDocument()) count = document->DocumentcountPage();
  } else {
    page = 0;
  }
  return XVPageWindowTitle(ProductInfo::AppName(), page, count);
}
}  // namespace

void XVBrowserControl::switchTableChangeWindowTitle(XVTabItem* item) {
  if (!item) return;
  setTitle(pageTitleFor(item->documentModul().get(), 0));
}

void XVBrowserControl::updateWindowTitle() {
  XVTabItem* current = xvTab_->currentSeletedItem();
  // A tab without a shown document keeps the title its selection gave it.
  if (!current || isMessageTab(current) || current->loadState() != XVTabItem::LoadState::Shown) return;
  setTitle(pageTitleFor(current->documentModul().get(), 1));
}

void XVBrowserControl::setWinmailWindowTitle() { setTitle(ProductInfo::AppName()); }

void XVBrowserControl::setToolbarEnable(bool enable) {
  toolbarEnabled_ = enable;
  for (QAction* a : viewingActions_) a->setEnabled(enable);
  for (QWidget* w : {static_cast<QWidget*>(tbtView_), static_cast<QWidget*>(tbtPage_), static_cast<QWidget*>(tbtContinue_),
                     static_cast<QWidget*>(tbtGZoomOriginal_), static_cast<QWidget*>(tbtGStretch_),
                     static_cast<QWidget*>(searchField_)})
    w->setEnabled(enable);
  setDocumentCommandsEnabled(enable && currentDocumentModul());
}

void XVBrowserControl::setDocumentCommandsEnabled(bool document) {
  actions_.addBookmark->setEnabled(document && currentDocumentWith(ImportInterface::Bookmarks));
  actions_.saveAs->setEnabled(document && offersExternal(ExternalCommand::SaveAs));
  actions_.extractImages->setEnabled(document && offersExternal(ExternalCommand::ExtractImages));
}

bool XVBrowserControl::offersExternal(ExternalCommand which) const {
  DocumentModul* document = currentDocumentModul();
  if (!document || !hasExternal(which)) return false;
  return which == ExternalCommand::SaveAs ? !document->SupportSaveFormats().isEmpty()
                                          : !document->SupportExtractFormats().isEmpty();
}

DocumentModul* XVBrowserControl::currentDocumentModul() const {
  XVTabItem* item = xvTab_->currentSeletedItem();
  if (!item || item->loadState() != XVTabItem::LoadState::Shown || !item->documentModul()) return nullptr;
  DocumentModul* document = item->documentModul()->pageDocument();
  return document && document->DocumentModulPDFDocument() ? document : nullptr;
}

DocumentModul* XVBrowserControl::currentDocumentWith(ImportInterface::Capability capability) const {
  DocumentModul* document = currentDocumentModul();
  return document && document->capabilities().testFlag(capability) ? document : nullptr;
}

void XVBrowserControl::updataToobarEableState() { setToolbarEnable(currentDocumentModul() != nullptr); }

void XVBrowserControl::updateMenu() { setDocumentCommandsEnabled(currentDocumentModul() != nullptr); }

// --- alerts -------------------------------------------------------------------------------

void XVBrowserControl::showAlert(const QString& path) {
  const QFAlert alert = QFAlert().initAlertWithTitle(path);
  auto* box = new QMessageBox(QMessageBox::Warning, alert.messageText(), alert.messageText(), QMessageBox::NoButton, window());
  box->setInformativeText(alert.informativeText());
  box->addButton(alert.buttons().value(0, QStringLiteral("OK")), QMessageBox::AcceptRole);
  box->setWindowModality(Qt::WindowModal);
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->setObjectName(QStringLiteral("corruptFileAlert"));
  box->open();
}

void XVBrowserControl::showErrorInfo(const QString& path) {
  XVTabItem* item = path.isEmpty() ? xvTab_->currentSeletedItem() : xvTab_->itemByFilePath(path);
  if (!item) return;
  // A page document still loading ends through its own load end, which raises the alert if it
  // fails. A message module reports its failure only this way, while its tab is loading.
  if (item->loadState() == XVTabItem::LoadState::Loading && !isMessageTab(item)) return;
  if (item->loadState() == XVTabItem::LoadState::Failed) return;  // already alerted at its end
  showAlert(item->filepath());
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
  if (auto module = item->documentModul(); module && item->loadState() == XVTabItem::LoadState::Shown) {
    if (QWidget* view = module->documentView(); view && view->parentWidget() == documentView_) {
      documentView_->layout()->removeWidget(view);
      view->hide();
      view->setParent(nullptr);
    }
    DocumentModul* document = module->pageDocument();
    if (document && document->needSave()) document->needSaveDocument();
  }
  if (tab->itemCount() <= 1) {
    // No tab is left to show a document.
    clearDocumentArea();
    setToolbarEnable(false);
    setDocumentCommandsEnabled(false);
    foundation::NotificationCenter::defaultCenter().post(remove_all_document_notification, this);
  }
  return true;
}

void XVBrowserControl::XVTabDelegate_AddItem(XVTab*) { openDocumentFromFinder(); }

// --- viewing commands ---------------------------------------------------------------------

void XVBrowserControl::clickChangeShowView() {
  if (DocumentModul* m = currentDocumentWith(ImportInterface::ThumbnailList)) m->setShowThumbnailList(tbtView_->On());
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
  if (DocumentModul* m = currentDocumentWith(ImportInterface::PageLayouts)) m->setshowPageContinue(tbtContinue_->On());
}
void XVBrowserControl::clickShowOneOrTwoPage() {
  if (DocumentModul* m = currentDocumentWith(ImportInterface::PageLayouts)) m->setshowOneOrTwoPageIsOne(tbtPage_->On());
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
  const QString text = searchField_->text();
  if (text.isEmpty()) m->searchEndState();
  m->searchContent(text);
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
