#pragma once
// The browser mode of the main window: the tab strip, the document area that shows the
// current tab's view, the alerts and the open panel. The open documents and their load states
// are kept by XVOpenDocuments, the actions, their enabled rules and keys by XVBrowserCommands;
// this class puts them on screen, requests a tab's document from the loader on its first
// selection and sends every viewing command to the current tab's module. It also adds
// bookmarks and is the bookmark manager's delegate.

#include <QMessageBox>
#include <QPointer>
#include <chrono>
#include <QString>
#include <QStringList>
#include <QWidget>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "core/DocumentModul.h"
#include "platform/foundation/notification_center.h"
#include "shell/XVBookmarkControl.h"
#include "shell/XVBrowserCommands.h"
#include "shell/XVOpenDocuments.h"
#include "shell/XVTab.h"
#include "shell/XVloadDocumentProgressDelegate.h"

class LTTextFiled;
class QDialog;
class QLabel;
class QLineEdit;
class QProgressBar;
class XVChangeButton;

class XVBrowserControl : public QWidget, public XVTabDelegate, public XVBookmarkControlDelegate {
  Q_OBJECT
 public:
  // A command the browser offers but another part of the application carries out.
  using Command = std::function<void(XVBrowserControl*)>;
  enum class ExternalCommand { SaveAs, ExtractImages };

  explicit XVBrowserControl(QWidget* parent = nullptr);
  ~XVBrowserControl() override;

  void setDocumentLoader(std::shared_ptr<XVDocumentLoader> loader) { loader_ = std::move(loader); }
  // Wires a menu and toolbar command; until then it stays disabled.
  void setExternalCommand(ExternalCommand which, Command command);

  const XVOpenDocuments& openDocuments() const { return documents_; }
  XVBrowserCommands& commands() const { return *commands_; }
  XVTab* xvTab() const { return xvTab_; }
  QWidget* documentView() const { return documentView_; }
  QWidget* viewImport() const { return viewImport_; }
  QProgressBar* processImport() const { return processImport_; }
  QLabel* importMessage() const { return importMessage_; }
  LTTextFiled* searchField() const { return commands_->searchField(); }
  XVChangeButton* tbtView() const { return commands_->tbtView(); }
  QString name() const { return name_; }

  // Adds a tab for each path not yet open; selects the last one added.
  void openFiles(const QStringList& paths);
  // The path of the tab that already shows `path`, or a null string after adding a tab.
  QString addDocumentWithFilePath(const QString& path);
  QString documentByFilePath(const QString& path) const;
  void addRecentProjectPath(const QString& path);
  void selectDocumentFilePath(const QString& path);
  void startDecode(const QString& path) { ToDecode(path); }
  void ToDecode(const QString& path);
  void SwitchTable(XVTabItem* item);
  // The end of a load, on the GUI thread. Only a document that is shown enters the recent
  // documents.
  void loadDidEnd(std::shared_ptr<ImportInterface> module, const QString& path, const QString& errorInfo);

  void switchTableChangeWindowTitle(XVTabItem* item);
  void updateWindowTitle();
  void setWinmailWindowTitle();
  void setToolbarEnable(bool enable);
  bool toolbarEnabled() const { return toolbarEnabled_; }
  // Enables the toolbar exactly when the current tab shows a document.
  void updataToobarEableState();
  void updateMenu();
  // The failure alert for `path` with the failure's error information (the corrupt-file text
  // when it gives no reason).
  void showAlert(const QString& path, const QString& errorInfo = QString());
  void showErrorInfo(const QString& path);
  // Files that were not opened because they are not documents of a supported type.
  void reportUnopenedFiles(const QStringList& paths);
  // One window-modal alert at a time: a failure while it is up adds its line to it.
  void reportFailure(const QString& text);
  QMessageBox* failureAlert() const { return failureAlert_; }

  // Writes every shown document with unsaved changes (rotations) back into the conversion
  // cache, one after another while `deadline` has not passed; answers how many were left
  // unwritten. For quitting, with the tabs still open.
  int writeBackOpenDocuments(std::chrono::steady_clock::time_point deadline);

  // The tab commands.
  void closeCurrentTab();
  void selectNextTab();
  void selectPreviousTab();
  // The open panel of the add button.
  void openDocumentFromFinder();
  // Completion of an open panel: opens the supported files on a later event-loop turn, then
  // restores the toolbar.
  void openPanelDidEnd(bool accepted, const QStringList& paths);

  // Gives the keyboard focus to the current tab's shown document (its page view).
  void focusDocumentView();

  // The current tab's page document while it is shown (never a message, loading or failed tab).
  DocumentModul* currentDocumentModul() const;
  // The same, when its module has the capability.
  DocumentModul* currentDocumentWith(ImportInterface::Capability capability) const;

  // Viewing commands on the current tab's module.
  void clickChangeShowView();
  void clickFirstPage();
  void clickPerviousPage();
  void clickNextPage();
  void clickLastPage();
  void clickShowContinue();
  void clickShowOneOrTwoPage();
  void clickZoomIn();
  void clickZoomOut();
  void clickZoomOriginal();
  void clickZoomStretch();
  void clickRotateLeft();
  void clickRotateRight();
  void clickRotateAllLeft();
  void clickRotateAllRight();
  void print();
  void searchEndAction();

  // Bookmarks. Adding asks for a name in a sheet, pre-filled with the default name.
  void clickMenuAddBookmark();
  // The current tab's file name without its last extension, "_", and the one-based page.
  QString getCurDefaultBookmarkName() const;
  // Adds a bookmark named by the sheet's field at the current page; an empty name keeps the
  // sheet open.
  void clickAddBookmarkWindowAdd();
  void clickAddBookmarkWindowCancel() { closeWindowAddBookmark(); }
  void closeWindowAddBookmark();
  QDialog* windowAddBookmark() const { return windowAddBookmark_; }
  QLineEdit* txtBookmarkName() const { return txtBookmarkName_; }
  // Shows the bookmark manager with the current tab's document expanded.
  void clickMenuEditBookmarks();
  // Made on first use, with the browser as its delegate.
  XVBookmarkControl* bookmarkControl();

  // XVBookmarkControlDelegate: only the current tab's document counts as open.
  bool XVBookmarkControlDelegate_isOpen(const QString& filePath) override;
  void XVBookmarkControlDelegate_goBookmark(const std::shared_ptr<XVBookmark>& bookmark) override;

  // XVTabDelegate
  bool XVTabDelegate_selectItemFilePath(const QString& path, XVTab* tab) override;
  bool XVTabDelegate_DeleteItemFromXVTab(XVTabItem* item, XVTab* tab) override;
  void XVTabDelegate_AddItem(XVTab* tab) override;

  // Opens a file panel for the supported documents as a sheet on `parent`; `done` gets the
  // acceptance and the chosen paths.
  static void showOpenPanel(QWidget* parent, std::function<void(bool, QStringList)> done);

 signals:
  void windowTitleChanged(const QString& title);

 protected:
  // Ctrl + wheel over the document area zooms.
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // The open document of the current tab, or null.
  std::shared_ptr<XVOpenDocument> currentDocument() const;
  void runCommand(XVBrowserCommands::Command command);
  void runExternal(ExternalCommand which);
  bool hasExternal(ExternalCommand which) const { return static_cast<bool>(externalCommands_[static_cast<int>(which)]); }
  // The commands' state: the viewing commands as a group and the document commands of the
  // menus, each as far as the current document allows.
  XVBrowserCommands::State commandState(bool toolbar, bool menu) const;
  void setCommandState(bool toolbar, bool menu);
  void clearDocumentArea();
  void showImportView(const QString& path, bool failed);
  void showModuleView(const XVOpenDocument& document);
  void refreshControlsFromModule(DocumentModul* module);
  void setTitle(const QString& title);
  void setupAddBookmarkSheet();

  XVOpenDocuments documents_;
  XVBrowserCommands* commands_ = nullptr;
  XVTab* xvTab_ = nullptr;
  QWidget* documentView_ = nullptr;
  QWidget* viewImport_ = nullptr;
  QProgressBar* processImport_ = nullptr;
  QLabel* importMessage_ = nullptr;
  Command externalCommands_[2];
  QDialog* windowAddBookmark_ = nullptr;
  QLineEdit* txtBookmarkName_ = nullptr;
  QString addBookmarkPath_;  // the tab the open sheet names a bookmark for
  XVBookmarkControl* bookmarkControl_ = nullptr;
  QPointer<QMessageBox> failureAlert_;
  QStringList failureLines_;  // what failureAlert_ says, one failure a line
  int wheelZoomRest_ = 0;  // wheel turn not yet zoomed by, in eighths of a degree
  QString name_;
  bool toolbarEnabled_ = false;
  std::shared_ptr<XVDocumentLoader> loader_;
  std::shared_ptr<XVloadDocumentProgressDelegate> loadDelegate_;
  std::vector<foundation::ObserverToken> observers_;
};

// Holds the browser for the rest of the process (registered with the objects released at
// exit); it does not own it.
class XVAppEndMangerDocument {
 public:
  static std::shared_ptr<XVAppEndMangerDocument> ShareAppEndMangerDocument();
  XVBrowserControl* browserControl() const { return browserControl_; }
  void setBrowserControl(XVBrowserControl* browser) { browserControl_ = browser; }

 private:
  QPointer<XVBrowserControl> browserControl_;
};
