#pragma once
// The application delegate: the one main window with its start view and browser mode, the
// animated switch between them, the menus, and every road by which files arrive (command line
// and later launches, the open panel, Open Recent, drag and drop onto the window).

#include <QMainWindow>
#include <QObject>
#include <QPointF>
#include <QPointer>
#include <QSizeF>
#include <QStringList>
#include <QVariantAnimation>

#include <memory>
#include <vector>

#include "platform/foundation/notification_center.h"

class QAction;
class QMenu;
class QToolBar;
class XVBrowserControl;

// Told of file drags over the window.
class XVReceiveViewDelegate {
 public:
  virtual ~XVReceiveViewDelegate() = default;
  // 1 (copy) or 0 (none) for a drag of these paths.
  virtual int XVDraggingUpdated(const QStringList& paths, QObject* receiveView) = 0;
  virtual bool XVDropSourceTo(const QStringList& paths, QObject* receiveView) = 0;
};

// The drop target over the whole window. It watches the window's drag events (file drags
// only), so ordinary mouse events and text drags still reach the widgets beneath.
class XVReceiveView : public QObject {
  Q_OBJECT
 public:
  explicit XVReceiveView(QWidget* window);
  void setDelegate(XVReceiveViewDelegate* delegate) { delegate_ = delegate; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QPointer<QWidget> window_;
  XVReceiveViewDelegate* delegate_ = nullptr;
};

// Reports every progress change (the time fraction, 0 to 1) to its delegate.
class XVAnimation : public QVariantAnimation {
  Q_OBJECT
 public:
  explicit XVAnimation(QObject* parent = nullptr);
};

class XVMainWindow : public QMainWindow {
  Q_OBJECT
 public:
  using QMainWindow::QMainWindow;
 signals:
  void windowShouldClose();
  void fullScreenChanged(bool fullScreen);

 protected:
  void closeEvent(QCloseEvent* event) override;
  void changeEvent(QEvent* event) override;
};

class AppDelegate : public QObject, public XVReceiveViewDelegate {
  Q_OBJECT
 public:
  static constexpr QSize kStartSize{800, 600};
  static constexpr QSize kBrowserSize{1000, 750};
  static constexpr QSize kMinimumSize{1000, 300};
  static constexpr int kAnimationMilliseconds = 300;

  AppDelegate();
  ~AppDelegate() override;

  XVMainWindow* window() const { return window_.get(); }
  QWidget* startView() const { return startView_; }
  XVBrowserControl* browserControl() const { return browserControl_; }
  QToolBar* toolbar() const { return toolbar_; }
  int windowShowType() const { return windowShowType_; }
  bool isAnimating() const { return animation_ != nullptr; }
  bool isFullScren() const { return isFullScren_; }
  QMenu* menuPorject() const { return menuPorject_; }
  QAction* menuAbout() const { return menuAbout_; }
  QAction* menuHide() const { return menuHide_; }
  QAction* menuQuit() const { return menuQuit_; }
  QAction* menuHelp() const { return menuHelp_; }
  QMenu* menuOpenRecent() const { return menuOpenRecent_; }
  QAction* menuFullScreen() const { return menuFullScreen_; }

  // Menu titles, menu state and the first-run page.
  void applicationDidFinishLaunching();
  void openFiles(const QStringList& paths);
  // Finder, later launches and Open Recent: NO for an unsupported path.
  bool application_openFile(const QString& path);
  void clickOpenFile();
  void changeShowWindow(int mode);
  void changeShowWindowNoAnimation(int mode);
  void removeAllDocumentAction();
  void windowDidEnterFullScreen();
  void windowDidExitFullScreen();
  void toggleFullScreen();
  void clickAbout();
  void softHelp();
  void clickMenSupport();
  void updateWindowTitle();
  void resetMenuName();
  QPointF getWindowMidPoint() const;
  QPointF windowStandPointByWindowRect(const QSizeF& size);

  int XVDraggingUpdated(const QStringList& paths, QObject* receiveView) override;
  bool XVDropSourceTo(const QStringList& paths, QObject* receiveView) override;

  // The help document's name in the resources and in the temporary folder.
  static QString helpDocumentName();

 private:
  void setupMenus();
  void rebuildOpenRecentMenu();
  void animationShouldStart();
  void animationProgress(double p);
  void animationDidEnd();
  void applyModeViews(int mode);
  QSize targetSize() const { return windowShowType_ == 1 ? kBrowserSize : kStartSize; }

  std::unique_ptr<XVMainWindow> window_;
  QWidget* startView_ = nullptr;
  XVBrowserControl* browserControl_ = nullptr;
  QToolBar* toolbar_ = nullptr;
  XVReceiveView* viewReceive_ = nullptr;
  QMenu* menuPorject_ = nullptr;
  QAction* menuAbout_ = nullptr;
  QAction* menuHide_ = nullptr;
  QAction* menuQuit_ = nullptr;
  QAction* menuHelp_ = nullptr;
  QAction* menuFullScreen_ = nullptr;
  QAction* leaveFullScreen_ = nullptr;
  QMenu* menuOpenRecent_ = nullptr;
  int windowShowType_ = 0;
  XVAnimation* animation_ = nullptr;
  QSizeF startWindowSize_;
  QPointF windowMidPoint_;
  bool isFullScren_ = false;
  bool exitFullScrenDoAnima_ = false;
  std::vector<foundation::ObserverToken> observers_;
};
