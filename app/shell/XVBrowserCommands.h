#pragma once
// The browser's command set: the actions of the menus and the toolbar, the two-state toolbar
// buttons and the search field, the rules that enable them, and their keys. It carries out
// nothing itself: a triggered command goes to the browser, which sends it to the current
// tab's module.

#include <QKeySequence>
#include <QList>
#include <QObject>

#include <array>

#include "core/DocumentModul.h"

class LTTextFiled;
class QAction;
class QToolBar;
class QWidget;
class XVChangeButton;

class XVBrowserCommands : public QObject {
  Q_OBJECT
 public:
  enum class Command {
    FirstPage,
    PreviousPage,
    NextPage,
    LastPage,
    ZoomIn,
    ZoomOut,
    ZoomOriginal,
    ZoomStretch,
    RotateLeft,
    RotateRight,
    RotateAllLeft,
    RotateAllRight,
    ShowThumbnails,
    OneOrTwoPage,
    PageContinue,
    Find,
    Print,
    AddBookmark,
    EditBookmarks,
    SaveAs,
    ExtractImages,
    CloseTab,
    PreviousTab,
    NextTab,
  };
  static constexpr int kCommandCount = static_cast<int>(Command::NextTab) + 1;

  // What the enabled rules look at.
  struct State {
    // The viewing commands as a group: off while an open panel is up, for a message and
    // while the current tab shows no document.
    bool toolbar = false;
    // The document commands of the menus (bookmark, Save As, Extract Images): on while the
    // current tab shows a page document.
    bool menu = false;
    // What the current tab's module answers.
    ImportInterface::Capabilities capabilities;
    bool saveFormats = false;
    bool extractFormats = false;
    // Save As and Extract Images are carried out by another part of the application, once it
    // is wired.
    bool saveAsWired = false;
    bool extractImagesWired = false;
    // The tabs of the strip, whatever they show.
    qsizetype tabs = 0;
  };
  static bool isEnabled(Command command, const State& state);
  // What a command needs of the module; nothing for the commands that need no module.
  static ImportInterface::Capabilities capabilityFor(Command command);
  // The command's key, the same on every platform; empty for a command without one.
  static QKeySequence keyFor(Command command);
  // keyFor's key first, then the platform's standard keys for the command, if it has any.
  static QList<QKeySequence> shortcutsFor(Command command);
  // `key` (when not empty), then the platform's keys for `standard` that are not `key`.
  static QList<QKeySequence> withStandardKeys(const QKeySequence& key, QKeySequence::StandardKey standard);

  // The menu and toolbar actions by name.
  struct Actions {
    QAction* firstPage = nullptr;
    QAction* previousPage = nullptr;
    QAction* nextPage = nullptr;
    QAction* lastPage = nullptr;
    QAction* zoomIn = nullptr;
    QAction* zoomOut = nullptr;
    QAction* zoomOriginal = nullptr;
    QAction* zoomStretch = nullptr;
    QAction* rotateLeft = nullptr;
    QAction* rotateRight = nullptr;
    QAction* rotateAllLeft = nullptr;
    QAction* rotateAllRight = nullptr;
    QAction* showThumbnails = nullptr;
    QAction* oneOrTwoPage = nullptr;
    QAction* pageContinue = nullptr;
    QAction* find = nullptr;
    QAction* print = nullptr;
    QAction* addBookmark = nullptr;
    QAction* editBookmarks = nullptr;
    QAction* saveAs = nullptr;
    QAction* extractImages = nullptr;
    QAction* closeTab = nullptr;
    QAction* previousTab = nullptr;
    QAction* nextTab = nullptr;
  };

  // Makes the actions, with `owner` as their parent so that their keys work in its window,
  // and the toolbar (hidden; the main window places it). Everything but the bookmark manager
  // starts disabled. The menu commands of the two-state buttons carry the button's state as
  // their check mark: thumbnails shown, two pages, continuous.
  explicit XVBrowserCommands(QWidget* owner);

  QAction* action(Command command) const { return byCommand_[static_cast<size_t>(command)]; }
  const Actions& actions() const { return actions_; }
  QToolBar* toolbar() const { return toolbar_; }
  LTTextFiled* searchField() const { return searchField_; }
  XVChangeButton* tbtView() const { return tbtView_; }
  XVChangeButton* tbtPage() const { return tbtPage_; }
  XVChangeButton* tbtContinue() const { return tbtContinue_; }
  XVChangeButton* tbtGZoomOriginal() const { return tbtGZoomOriginal_; }
  XVChangeButton* tbtGStretch() const { return tbtGStretch_; }

  // Enables every action and control by the rules.
  void setState(const State& state);
  const State& state() const { return state_; }

 signals:
  // A command to carry out; a two-state button has already taken its new state. Find is
  // carried out here (it focuses the search field) and not signalled.
  void commandTriggered(XVBrowserCommands::Command command);

 private:
  void buildToolbar(QWidget* owner);

  std::array<QAction*, kCommandCount> byCommand_{};
  Actions actions_;
  QToolBar* toolbar_ = nullptr;
  LTTextFiled* searchField_ = nullptr;
  XVChangeButton* tbtView_ = nullptr;
  XVChangeButton* tbtPage_ = nullptr;
  XVChangeButton* tbtContinue_ = nullptr;
  XVChangeButton* tbtGZoomOriginal_ = nullptr;
  XVChangeButton* tbtGStretch_ = nullptr;
  State state_;
};
