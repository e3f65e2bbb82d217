#include "shell/AppDelegate.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QPushButton>
#include <QScreen>
#include <QToolBar>
#include <QVBoxLayout>

#include <cmath>

#include "platform/foundation/dispatcher.h"
#include "core/ProductInfo.h"
#include "shell/XVAbout.h"
#include "core/XVBaseFunction.h"
#include "shell/XVBrowserCommands.h"
#include "shell/XVBrowserControl.h"
#include "shell/XVControls.h"
#include "core/XVNotifications.h"
#include "shell/XVRecentDocuments.h"
#include "shell/XVShellLogic.h"

namespace {

const QString kFirstRunKey = QStringLiteral("firste33");

QStringList localPaths(const QMimeData* mime) {
  QStringList paths;
  if (!mime) return paths;
  for (const QUrl& url : mime->urls())
    if (url.isLocalFile()) paths << url.toLocalFile();
  return paths;
}

QRect roundedRect(const QPointF& origin, const QSizeF& size) {
  return {static_cast<int>(std::lround(origin.x())), static_cast<int>(std::lround(origin.y())),
          static_cast<int>(std::lround(size.width())), static_cast<int>(std::lround(size.height()))};
}

}  // namespace

// --- drop target --------------------------------------------------------------------------

XVReceiveView::XVReceiveView(QWidget* window) : QObject(window), window_(window) {
  window->setAcceptDrops(true);
  qApp->installEventFilter(this);
}

bool XVReceiveView::eventFilter(QObject* watched, QEvent* event) {
  const auto type = event->type();
  if (type != QEvent::DragEnter && type != QEvent::DragMove && type != QEvent::Drop) return false;
  auto* widget = qobject_cast<QWidget*>(watched);
  if (!widget || !window_ || widget->window() != window_ || !delegate_) return false;
  auto* drop = static_cast<QDropEvent*>(event);
  if (!drop->mimeData() || !drop->mimeData()->hasUrls()) return false;  // text drags go on
  const QStringList paths = localPaths(drop->mimeData());
  if (type == QEvent::Drop) {
    delegate_->XVDropSourceTo(paths, this);
    drop->setDropAction(Qt::CopyAction);
    drop->accept();
    return true;
  }
  if (delegate_->XVDraggingUpdated(paths, this) == 1) {
    drop->setDropAction(Qt::CopyAction);
    drop->accept();
  } else {
    drop->ignore();
  }
  return true;
}

// --- animation and window -----------------------------------------------------------------

XVAnimation::XVAnimation(QObject* parent) : QVariantAnimation(parent) {
  setStartValue(0.0);
  setEndValue(1.0);
  // The delegate gets the time fraction; the curve does not shape the resize.
  setEasingCurve(QEasingCurve::Linear);
}

void XVMainWindow::closeEvent(QCloseEvent* event) {
  emit windowShouldClose();
  event->accept();
}

void XVMainWindow::changeEvent(QEvent* event) {
  QMainWindow::changeEvent(event);
  if (event->type() == QEvent::WindowStateChange) {
    auto* change = static_cast<QWindowStateChangeEvent*>(event);
    const bool was = change->oldState() & Qt::WindowFullScreen;
    const bool is = windowState() & Qt::WindowFullScreen;
    if (was != is) emit fullScreenChanged(is);
  }
}

// --- application delegate -----------------------------------------------------------------

AppDelegate::AppDelegate() : window_(std::make_unique<XVMainWindow>()) {
  window_->setWindowIcon(QIcon(XVImageNamed(QStringLiteral("app_icon"))));
  auto* content = new QWidget(window_.get());
  auto* layout = new QVBoxLayout(content);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);

  startView_ = new QWidget(content);
  startView_->setObjectName(QStringLiteral("startView"));
  auto* startLayout = new QVBoxLayout(startView_);
  startLayout->addStretch(1);
  auto* picture = new QLabel(startView_);
  picture->setPixmap(XVImageNamed(QStringLiteral("pic_start_drop")));
  picture->setAlignment(Qt::AlignCenter);
  auto* hint = new QLabel(QStringLiteral("Drop documents here to open them"), startView_);
  hint->setAlignment(Qt::AlignCenter);
  auto* open = new QPushButton(QStringLiteral("Open..."), startView_);
  connect(open, &QPushButton::clicked, this, &AppDelegate::clickOpenFile);
  startLayout->addWidget(picture);
  startLayout->addWidget(hint);
  startLayout->addSpacing(12);
  startLayout->addWidget(open, 0, Qt::AlignHCenter);
  startLayout->addStretch(1);

  browserControl_ = new XVBrowserControl(content);
  toolbar_ = browserControl_->commands().toolbar();
  layout->addWidget(startView_, 1);
  layout->addWidget(browserControl_, 1);
  window_->setCentralWidget(content);

  setupMenus();
  changeShowWindowNoAnimation(0);
  viewReceive_ = new XVReceiveView(window_.get());
  viewReceive_->setDelegate(this);

  QPointer<AppDelegate> self(this);
  observers_.push_back(foundation::NotificationCenter::defaultCenter().addObserver(
      remove_all_document_notification, [self](const foundation::Notification&) {
        foundation::Dispatcher::postMain([self] {
          if (self) self->removeAllDocumentAction();
        });
      }));
  connect(window_.get(), &XVMainWindow::windowShouldClose, qApp, &QCoreApplication::quit, Qt::QueuedConnection);
  connect(window_.get(), &XVMainWindow::fullScreenChanged, this, [this](bool full) {
    if (full) windowDidEnterFullScreen();
    else windowDidExitFullScreen();
  });
  updateWindowTitle();
}

AppDelegate::~AppDelegate() {
  observers_.clear();
  if (animation_) animation_->stop();
  qApp->removeEventFilter(viewReceive_);
}

void AppDelegate::setupMenus() {
  QMenuBar* bar = window_->menuBar();
  menuPorject_ = bar->addMenu(QString());
  menuAbout_ = menuPorject_->addAction(QString(), this, &AppDelegate::clickAbout);
  menuAbout_->setMenuRole(QAction::AboutRole);
  menuPorject_->addSeparator();
  menuHide_ = menuPorject_->addAction(QString(), window_.get(), &QWidget::showMinimized);
  menuQuit_ = menuPorject_->addAction(QString(), window_.get(), &QWidget::close);
  menuQuit_->setShortcuts(XVBrowserCommands::withStandardKeys(QKeySequence(Qt::CTRL | Qt::Key_Q), QKeySequence::Quit));
  menuQuit_->setMenuRole(QAction::QuitRole);

  const auto& A = browserControl_->commands().actions();
  QMenu* file = bar->addMenu(QStringLiteral("&File"));
  QAction* openAction = file->addAction(QStringLiteral("Open..."), this, &AppDelegate::clickOpenFile);
  openAction->setShortcuts(XVBrowserCommands::withStandardKeys(QKeySequence(Qt::CTRL | Qt::Key_O), QKeySequence::Open));
  menuOpenRecent_ = file->addMenu(QStringLiteral("Open Recent"));
  connect(menuOpenRecent_, &QMenu::aboutToShow, this, &AppDelegate::rebuildOpenRecentMenu);
  rebuildOpenRecentMenu();
  file->addSeparator();
  file->addAction(A.saveAs);
  file->addAction(A.extractImages);
  file->addSeparator();
  file->addAction(A.print);
  file->addSeparator();
  file->addAction(A.closeTab);

  QMenu* view = bar->addMenu(QStringLiteral("&View"));
  view->addAction(A.showThumbnails);
  view->addAction(A.oneOrTwoPage);
  view->addAction(A.pageContinue);
  view->addSeparator();
  view->addAction(A.zoomOriginal);
  view->addAction(A.zoomStretch);
  view->addAction(A.zoomIn);
  view->addAction(A.zoomOut);
  view->addSeparator();
  view->addAction(A.rotateLeft);
  view->addAction(A.rotateRight);
  view->addAction(A.rotateAllLeft);
  view->addAction(A.rotateAllRight);
  view->addSeparator();
  view->addAction(A.find);
  menuFullScreen_ = view->addAction(QStringLiteral("Toggle Full Screen"), this, &AppDelegate::toggleFullScreen);
  menuFullScreen_->setShortcuts(XVBrowserCommands::withStandardKeys(QKeySequence(Qt::Key_F11), QKeySequence::FullScreen));
  // Esc leaves full screen; it is free for everything else the rest of the time.
  leaveFullScreen_ = new QAction(QStringLiteral("Leave Full Screen"), window_.get());
  leaveFullScreen_->setShortcut(QKeySequence(Qt::Key_Escape));
  leaveFullScreen_->setEnabled(false);
  connect(leaveFullScreen_, &QAction::triggered, this, [this] {
    if (window_->isFullScreen()) window_->showNormal();
  });

  QMenu* go = bar->addMenu(QStringLiteral("&Go"));
  go->addAction(A.firstPage);
  go->addAction(A.previousPage);
  go->addAction(A.nextPage);
  go->addAction(A.lastPage);
  go->addSeparator();
  go->addAction(A.previousTab);
  go->addAction(A.nextTab);

  QMenu* bookmarks = bar->addMenu(QStringLiteral("&Bookmarks"));
  bookmarks->addAction(A.addBookmark);
  bookmarks->addAction(A.editBookmarks);

  QMenu* help = bar->addMenu(QStringLiteral("&Help"));
  menuHelp_ = help->addAction(QString(), this, &AppDelegate::softHelp);
  menuHelp_->setShortcut(QKeySequence::HelpContents);
  help->addAction(QStringLiteral("Support..."), this, &AppDelegate::clickMenSupport);

  // Window shortcuts need the actions on the window as well as in the menus.
  window_->addActions({A.firstPage, A.previousPage, A.nextPage, A.lastPage, A.zoomIn, A.zoomOut, A.zoomOriginal,
                       A.zoomStretch, A.rotateLeft, A.rotateRight, A.rotateAllLeft, A.rotateAllRight, A.showThumbnails,
                       A.print, A.find, A.saveAs, A.closeTab, A.previousTab, A.nextTab, openAction, menuQuit_, menuHelp_,
                       menuFullScreen_, leaveFullScreen_});
  resetMenuName();
}

void AppDelegate::rebuildOpenRecentMenu() {
  menuOpenRecent_->clear();
  const QStringList recent = XVRecentDocuments::recentDocuments();
  for (const QString& path : recent) {
    QAction* a = menuOpenRecent_->addAction(QFileInfo(path).fileName(), this, [this, path] { application_openFile(path); });
    a->setToolTip(path);
  }
  menuOpenRecent_->addSeparator();
  QAction* clear = menuOpenRecent_->addAction(QStringLiteral("Clear Menu"), [] { XVRecentDocuments::clearRecentDocuments(); });
  clear->setEnabled(!recent.isEmpty());
}

void AppDelegate::resetMenuName() {
  const QString n = ProductInfo::AppName();
  menuAbout_->setText(QStringLiteral("About %1").arg(n));
  menuPorject_->setTitle(n);
  menuHide_->setText(QStringLiteral("Hide %1").arg(n));
  menuQuit_->setText(QStringLiteral("Quit %1").arg(n));
  menuHelp_->setText(QStringLiteral("%1 Help").arg(n));
}

void AppDelegate::updateWindowTitle() { window_->setWindowTitle(ProductInfo::AppName()); }

void AppDelegate::applicationDidFinishLaunching() {
  resetMenuName();
  browserControl_->updateMenu();
  auto defaults = XVBaseFunction::userDefaults();
  if (!defaults->contains(kFirstRunKey)) {
    QDesktopServices::openUrl(ProductInfo::ProductInfoWebPageUrlString());
    defaults->setValue(kFirstRunKey, QStringLiteral("vg"));
    defaults->sync();
  }
}

// --- files in -----------------------------------------------------------------------------

void AppDelegate::openFiles(const QStringList& paths) {
  if (paths.isEmpty()) return;
  browserControl_->openFiles(paths);
  if (exitFullScrenDoAnima_) {
    // The last tab closed in full screen and the window is still leaving it: keep the browser.
    exitFullScrenDoAnima_ = false;
    applyModeViews(1);
    if (isFullScren_) toolbar_->setVisible(false);
  }
  if (windowShowType_ == 0) changeShowWindow(1);
}

bool AppDelegate::application_openFile(const QString& path) {
  if (path.isEmpty()) return false;
  if (!XVBaseFunction::xpsFileExtensionIsSupport(XVBaseFunction::extensionOfPath(path))) {
    browserControl_->reportUnopenedFiles({path});
    return false;
  }
  QMetaObject::invokeMethod(this, [this, path] { openFiles({path}); }, Qt::QueuedConnection);
  return true;
}

void AppDelegate::clickOpenFile() {
  browserControl_->setToolbarEnable(false);
  QPointer<AppDelegate> self(this);
  XVBrowserControl::showOpenPanel(window_.get(), [self](bool accepted, QStringList paths) {
    if (!self) return;
    if (accepted) {
      const QStringList supported = XVSupportedFilePaths(paths);
      QMetaObject::invokeMethod(self, [self, supported] { self->openFiles(supported); }, Qt::QueuedConnection);
      self->browserControl_->reportUnopenedFiles(XVUnsupportedFilePaths(paths));
    }
    QMetaObject::invokeMethod(self, [self] { self->browserControl_->updataToobarEableState(); }, Qt::QueuedConnection);
  });
}

int AppDelegate::XVDraggingUpdated(const QStringList& paths, QObject*) { return XVDragOperationForPaths(paths); }

bool AppDelegate::XVDropSourceTo(const QStringList& paths, QObject*) {
  const QStringList supported = XVSupportedFilePaths(paths);
  const QStringList others = XVUnsupportedFilePaths(paths);
  QMetaObject::invokeMethod(this, [this, supported, others] {
    openFiles(supported);
    browserControl_->reportUnopenedFiles(others);
  }, Qt::QueuedConnection);
  return true;
}

// --- modes --------------------------------------------------------------------------------

void AppDelegate::applyModeViews(int mode) {
  if (mode == 1) {
    startView_->hide();
    browserControl_->show();
    if (!window_->toolBarArea(toolbar_)) window_->addToolBar(Qt::TopToolBarArea, toolbar_);
    toolbar_->show();
  } else {
    browserControl_->hide();
    startView_->show();
    if (window_->toolBarArea(toolbar_)) window_->removeToolBar(toolbar_);
    toolbar_->setParent(browserControl_);
    toolbar_->hide();
  }
  menuFullScreen_->setEnabled(mode == 1);
}

void AppDelegate::changeShowWindowNoAnimation(int mode) {
  applyModeViews(mode);
  const QSize size = mode == 1 ? kBrowserSize : kStartSize;
  if (mode == 1) {
    window_->setMinimumSize(kMinimumSize);
    window_->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    window_->resize(size);
  } else {
    window_->setMinimumSize(0, 0);
    window_->setFixedSize(size);
  }
  if (QScreen* screen = window_->screen()) {
    const QRect available = screen->availableGeometry();
    window_->move(available.center() - QPoint(size.width() / 2, size.height() / 2));
  }
}

void AppDelegate::changeShowWindow(int mode) {
  windowShowType_ = mode;
  if (animation_) {
    animation_->stop();
    animation_->deleteLater();
    animation_ = nullptr;
  }
  animation_ = new XVAnimation(this);
  animation_->setDuration(kAnimationMilliseconds);
  connect(animation_, &QVariantAnimation::valueChanged, this, [this](const QVariant& v) { animationProgress(v.toDouble()); });
  XVAnimation* started = animation_;
  connect(animation_, &QAbstractAnimation::finished, this, [this, started] {
    if (animation_ != started) return;
    animationDidEnd();
  });
  animationShouldStart();
  animation_->start();
}

void AppDelegate::animationShouldStart() {
  startWindowSize_ = window_->size();
  // Free the size while it changes.
  window_->setMinimumSize(0, 0);
  window_->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
  applyModeViews(windowShowType_);
  window_->resize(startWindowSize_.toSize());
  windowMidPoint_ = getWindowMidPoint();
}

void AppDelegate::animationProgress(double p) {
  windowStandPointByWindowRect(XVInterpolateSize(startWindowSize_, targetSize(), p));
}

void AppDelegate::animationDidEnd() {
  const QSize target = targetSize();
  windowStandPointByWindowRect(target);
  if (windowShowType_ == 1) {
    window_->setMinimumSize(kMinimumSize);
  } else {
    window_->setFixedSize(target);
  }
  if (animation_) animation_->deleteLater();
  animation_ = nullptr;
}

QPointF AppDelegate::getWindowMidPoint() const {
  const QRect g = window_->geometry();
  return {g.x() + g.width() / 2.0, g.y() + g.height() / 2.0};
}

QPointF AppDelegate::windowStandPointByWindowRect(const QSizeF& size) {
  QScreen* screen = window_->screen() ? window_->screen() : QGuiApplication::primaryScreen();
  const QRectF available = screen ? QRectF(screen->availableGeometry()) : QRectF(QPointF(0, 0), size);
  // The title bar and borders stay on the screen too.
  const QRect frame = window_->frameGeometry(), client = window_->geometry();
  const QMarginsF margins(client.left() - frame.left(), client.top() - frame.top(), frame.right() - client.right(),
                          frame.bottom() - client.bottom());
  const QPointF origin = XVWindowStandPoint(size, windowMidPoint_, available, margins);
  window_->setGeometry(roundedRect(origin, size));
  return origin;
}

// --- full screen and the last tab ---------------------------------------------------------

void AppDelegate::toggleFullScreen() {
  if (window_->isFullScreen()) {
    window_->showNormal();
  } else if (windowShowType_ == 1) {
    window_->showFullScreen();
  }
}

void AppDelegate::windowDidEnterFullScreen() {
  if (window_->toolBarArea(toolbar_)) toolbar_->setVisible(false);
  isFullScren_ = true;
  leaveFullScreen_->setEnabled(true);
}

void AppDelegate::windowDidExitFullScreen() {
  if (window_->toolBarArea(toolbar_)) toolbar_->setVisible(true);
  isFullScren_ = false;
  leaveFullScreen_->setEnabled(false);
  if (exitFullScrenDoAnima_) {
    exitFullScrenDoAnima_ = false;
    updateWindowTitle();
    changeShowWindow(0);
    browserControl_->updateMenu();
  }
}

void AppDelegate::removeAllDocumentAction() {
  // A file opened since the last tab closed keeps the browser.
  if (browserControl_->xvTab()->itemCount() > 0) return;
  if (!isFullScren_) {
    updateWindowTitle();
    changeShowWindow(0);
    browserControl_->updateMenu();
    return;
  }
  browserControl_->hide();
  startView_->show();
  if (window_->toolBarArea(toolbar_)) window_->removeToolBar(toolbar_);
  toolbar_->setParent(browserControl_);
  toolbar_->hide();
  exitFullScrenDoAnima_ = true;
  window_->showNormal();
}

// --- about, help, support -----------------------------------------------------------------

void AppDelegate::clickAbout() { XVAbout::ShareAbout()->showAbout(); }

QString AppDelegate::helpDocumentName() {
  return QStringLiteral("%1 tutorial %2.pdf").arg(ProductInfo::AppName(), ProductInfo::Version());
}

void AppDelegate::softHelp() {
  XVImageNamed(QString());  // makes sure the resources are registered
  const QString source = QStringLiteral(":/help/") + helpDocumentName();
  const QString folder = XVBaseFunction::TempDirectory();
  if (folder.isEmpty()) return;
  QDir().mkpath(folder);
  const QString target = QDir(folder).filePath(helpDocumentName());
  const QFileInfo existing(target);
  if (existing.isDir()) QDir(target).removeRecursively();
  else if (existing.exists() || existing.isSymLink()) QFile::remove(target);
  if (!QFile::copy(source, target)) return;
  QFile::setPermissions(target, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther);
  QDesktopServices::openUrl(QUrl::fromLocalFile(target));
}

void AppDelegate::clickMenSupport() { QDesktopServices::openUrl(ProductInfo::ProductSupportWebPageUrlString()); }
