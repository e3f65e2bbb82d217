#include "shell/AppDelegate.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QDesktopServices>
#include <QFile>
#include <QMenu>
#include <QMimeData>
#include <QRegularExpression>
#include <QWheelEvent>
#include <QMessageBox>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QToolBar>

#include <functional>
#include <map>
#include <thread>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include "app/shell/browser_fakes.h"
#include "app/shell/gui_test_app.h"
#include "support/temp_dir.h"
#include "platform/foundation/dispatcher.h"
#include "shell/MainQueueBridge.h"
#include "core/ProductInfo.h"
#include "core/XVBaseFunction.h"
#include "shell/XVBrowserControl.h"
#include "shell/XVControls.h"
#include "shell/XVRecentDocuments.h"
#include "shell/XVSingleInstance.h"
#include "shell/XVTab.h"

using testsupport::FakeDocumentModul;
using testsupport::FakeLoader;

class UrlRecorder : public QObject {
  Q_OBJECT
 public:
  QList<QUrl> urls;
 public slots:
  void record(const QUrl& url) { urls << url; }
};

namespace {

class MainWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    testsupport::guiApp();
    MainQueueBridge::install();
    delegate = std::make_unique<AppDelegate>();
    loader = std::make_shared<FakeLoader>();
    delegate->browserControl()->setDocumentLoader(loader);
    delegate->window()->show();
  }
  void TearDown() override {
    delegate.reset();
    MainQueueBridge::uninstall();
  }

  bool settle() {
    return QTest::qWaitFor([&] { return !delegate->isAnimating(); }, 5000);
  }
  QSize size() const { return delegate->window()->size(); }
  bool toolbarAttached() const { return delegate->window()->toolBarArea(delegate->toolbar()) != Qt::NoToolBarArea; }
  QStringList tabs() const {
    QStringList out;
    for (auto* item : delegate->browserControl()->xvTab()->TableItemArray()) out << item->filepath();
    return out;
  }
  // A file drag entering the window (a widget that accepts drops, or a field beneath).
  void dragEnter(const QList<QUrl>& urls, QWidget* target) {
    QMimeData mime;
    mime.setUrls(urls);
    QDragEnterEvent event(QPoint(10, 10), Qt::CopyAction | Qt::MoveAction, &mime, Qt::LeftButton, {});
    event.ignore();
    QCoreApplication::sendEvent(target, &event);
    lastAccepted = event.isAccepted();
    lastAction = event.dropAction();
  }
  // A file drag entering a widget of the window and dropped, as the platform delivers it: the
  // drop goes to whoever took the drag.
  void drop(const QList<QUrl>& urls, QWidget* target = nullptr) {
    QMimeData mime;
    mime.setUrls(urls);
    dragEnter(urls, target ? target : delegate->window());
    if (!lastAccepted) return;  // a refused drag is never dropped
    QDropEvent event(QPointF(10, 10), Qt::CopyAction | Qt::MoveAction, &mime, Qt::LeftButton, {});
    event.ignore();
    QCoreApplication::sendEvent(target ? target : delegate->window(), &event);
    lastAccepted = event.isAccepted();
  }
  QStringList alertLines() const {
    QMessageBox* box = delegate->browserControl()->failureAlert();
    return box ? box->informativeText().split('\n') : QStringList();
  }
  bool fullScreen(bool on) {
    if (on) delegate->window()->showFullScreen();
    else delegate->window()->showNormal();
    return QTest::qWaitFor([&] { return delegate->isFullScren() == on; }, 2000);
  }

  std::unique_ptr<AppDelegate> delegate;
  std::shared_ptr<FakeLoader> loader;
  bool lastAccepted = false;
  Qt::DropAction lastAction = Qt::IgnoreAction;
};

}  // namespace

TEST_F(MainWindow, StartsSmallAndSwitchesToBrowserAndBackExactly) {
  EXPECT_EQ(delegate->windowShowType(), 0);
  EXPECT_EQ(size(), AppDelegate::kStartSize);
  EXPECT_TRUE(delegate->startView()->isVisible());
  EXPECT_FALSE(delegate->browserControl()->isVisible());
  EXPECT_FALSE(toolbarAttached());
  EXPECT_EQ(delegate->window()->windowTitle(), "Velmar Lectern");

  std::vector<QSize> seen;
  delegate->openFiles({"/d/report.pdf"});
  ASSERT_TRUE(delegate->isAnimating());
  EXPECT_EQ(delegate->windowShowType(), 1);
  while (delegate->isAnimating()) {
    seen.push_back(size());
    QTest::qWait(20);
  }
  EXPECT_EQ(size(), AppDelegate::kBrowserSize);
  for (const QSize& s : seen) {
    EXPECT_GE(s.width(), 800);
    EXPECT_LE(s.width(), 1000);
  }
  // It resizes over time from where it was, not at once (however few frames a busy machine
  // gets to see).
  ASSERT_FALSE(seen.empty());
  EXPECT_EQ(seen.front(), AppDelegate::kStartSize);
  EXPECT_TRUE(delegate->browserControl()->isVisible());
  EXPECT_FALSE(delegate->startView()->isVisible());
  EXPECT_TRUE(toolbarAttached());
  EXPECT_EQ(delegate->window()->minimumSize(), AppDelegate::kMinimumSize);

  auto module = std::make_shared<FakeDocumentModul>(true, 5);
  loader->finish("/d/report.pdf", module);
  ASSERT_TRUE(QTest::qWaitFor([&] { return delegate->window()->windowTitle() == "Velmar Lectern (1/5)"; }, 2000));

  // Closing the last tab goes back to the start view.
  delegate->browserControl()->xvTab()->currentSeletedItem()->clickDeleteButton();
  ASSERT_TRUE(QTest::qWaitFor([&] { return delegate->windowShowType() == 0; }, 2000));
  ASSERT_TRUE(settle());
  EXPECT_EQ(size(), AppDelegate::kStartSize);
  EXPECT_TRUE(delegate->startView()->isVisible());
  EXPECT_FALSE(toolbarAttached());
  EXPECT_EQ(delegate->window()->windowTitle(), "Velmar Lectern");
  EXPECT_EQ(delegate->window()->maximumSize(), AppDelegate::kStartSize);  // not resizable
}

TEST_F(MainWindow, ASecondSwitchDuringTheAnimationWins) {
  delegate->changeShowWindow(1);
  QTest::qWait(60);
  delegate->changeShowWindow(0);
  ASSERT_TRUE(settle());
  QTest::qWait(50);
  EXPECT_EQ(size(), AppDelegate::kStartSize);
  EXPECT_EQ(delegate->windowShowType(), 0);
}

TEST_F(MainWindow, DropsOpenOnlySupportedFiles) {
  const QUrl pdf = QUrl::fromLocalFile("/d/a.pdf"), txt = QUrl::fromLocalFile("/d/notes.txt"),
             djvu = QUrl::fromLocalFile("/d/b.DJVU");
  dragEnter({txt}, delegate->window());
  EXPECT_FALSE(lastAccepted);
  dragEnter({txt, pdf}, delegate->window());
  EXPECT_TRUE(lastAccepted);
  EXPECT_EQ(lastAction, Qt::CopyAction);
  // A text drag is none of the drop target's business.
  QMimeData text;
  text.setText("hello");
  QDragEnterEvent textDrag(QPoint(10, 10), Qt::CopyAction, &text, Qt::LeftButton, {});
  textDrag.ignore();
  QCoreApplication::sendEvent(delegate->window(), &textDrag);
  EXPECT_FALSE(textDrag.isAccepted());

  // Nothing to open: the drag is refused, so there is no drop.
  drop({txt});
  QCoreApplication::processEvents();
  EXPECT_FALSE(lastAccepted);
  EXPECT_TRUE(tabs().isEmpty());
  EXPECT_EQ(delegate->windowShowType(), 0);
  EXPECT_TRUE(alertLines().isEmpty());

  const QUrl png = QUrl::fromLocalFile("/d/picture.png");
  drop({pdf, txt, djvu, png});
  EXPECT_TRUE(lastAccepted);
  EXPECT_TRUE(tabs().isEmpty());  // opened on a later turn
  ASSERT_TRUE(QTest::qWaitFor([&] { return !tabs().isEmpty(); }, 2000));
  EXPECT_EQ(tabs(), (QStringList{"/d/a.pdf", "/d/b.DJVU"}));
  EXPECT_EQ(delegate->windowShowType(), 1);
  ASSERT_TRUE(settle());
  // The files that were not opened are named with why, in one alert.
  EXPECT_EQ(delegate->window()->findChildren<QMessageBox*>().size(), 1);
  EXPECT_EQ(alertLines(), (QStringList{"notes.txt cannot be opened. Files of this type are not supported.",
                                       "picture.png cannot be opened. Files of this type are not supported."}));

  // The alert is window-modal: the window takes drops again once it is answered.
  delegate->browserControl()->failureAlert()->buttons().value(0)->click();
  ASSERT_TRUE(QTest::qWaitFor([&] { return !delegate->browserControl()->failureAlert(); }, 2000));
  // Over the browser, a file drag and a drop on the search field are the window's too.
  dragEnter({pdf}, delegate->browserControl()->searchField());
  EXPECT_TRUE(lastAccepted);
  const QUrl xps = QUrl::fromLocalFile("/d/c.xps");
  drop({pdf, djvu, xps}, delegate->browserControl()->searchField());
  EXPECT_TRUE(lastAccepted);
  ASSERT_TRUE(QTest::qWaitFor([&] { return tabs().size() == 3; }, 2000));
  // The same files again: still one tab each, and the field's text is untouched.
  EXPECT_EQ(tabs(), (QStringList{"/d/a.pdf", "/d/b.DJVU", "/d/c.xps"}));
  EXPECT_TRUE(delegate->browserControl()->searchField()->text().isEmpty());
}

TEST_F(MainWindow, OpenFileAnswersForSupportedPathsOnly) {
  EXPECT_FALSE(delegate->application_openFile(""));
  EXPECT_FALSE(delegate->application_openFile("/d/notes.txt"));
  EXPECT_FALSE(delegate->application_openFile("/d/drawing.dxf"));
  EXPECT_TRUE(delegate->application_openFile("/d/c.PDF"));
  EXPECT_TRUE(tabs().isEmpty());
  ASSERT_TRUE(QTest::qWaitFor([&] { return !tabs().isEmpty(); }, 2000));
  EXPECT_EQ(tabs(), QStringList{"/d/c.PDF"});
  EXPECT_EQ(loader->requestedPaths(), QStringList{"/d/c.PDF"});
}

TEST_F(MainWindow, OpenRecentListsAndReopensFiles) {
  XVRecentDocuments::clearRecentDocuments();
  XVRecentDocuments::noteNewRecentDocument("/d/old.pdf");
  XVRecentDocuments::noteNewRecentDocument("/d/new.djvu");
  QMetaObject::invokeMethod(delegate->menuOpenRecent(), "aboutToShow");
  QStringList texts;
  QAction* old = nullptr;
  for (QAction* a : delegate->menuOpenRecent()->actions()) {
    if (a->isSeparator()) continue;
    texts << a->text();
    if (a->text() == "old.pdf") old = a;
  }
  EXPECT_EQ(texts, (QStringList{"new.djvu", "old.pdf", "Clear Menu"}));
  ASSERT_NE(old, nullptr);
  old->trigger();
  ASSERT_TRUE(QTest::qWaitFor([&] { return !tabs().isEmpty(); }, 2000));
  EXPECT_EQ(tabs(), QStringList{"/d/old.pdf"});
  EXPECT_EQ(delegate->windowShowType(), 1);
  // It becomes the newest once it opened again.
  EXPECT_EQ(XVRecentDocuments::recentDocuments().first(), "/d/new.djvu");
  loader->finish("/d/old.pdf", std::make_shared<FakeDocumentModul>(true, 2));
  ASSERT_TRUE(QTest::qWaitFor([&] { return XVRecentDocuments::recentDocuments().first() == "/d/old.pdf"; }, 2000));
}

TEST_F(MainWindow, MenusCarryTheProductName) {
  EXPECT_EQ(delegate->menuAbout()->text(), "About Velmar Lectern");
  EXPECT_EQ(delegate->menuPorject()->title(), "Velmar Lectern");
  EXPECT_EQ(delegate->menuHide()->text(), "Hide Velmar Lectern");
  EXPECT_EQ(delegate->menuQuit()->text(), "Quit Velmar Lectern");
  EXPECT_EQ(delegate->menuHelp()->text(), "Velmar Lectern Help");
  // Nothing in the menus toggles the mode by hand.
  for (QAction* a : delegate->window()->findChildren<QAction*>())
    EXPECT_FALSE(a->text().contains("Test", Qt::CaseInsensitive)) << a->text().toStdString();
}

TEST_F(MainWindow, FirstRunPageOpensOnceAndHelpIsOurOwnDocument) {
  UrlRecorder recorder;
  QDesktopServices::setUrlHandler("https", &recorder, "record");
  QDesktopServices::setUrlHandler("file", &recorder, "record");
  XVBaseFunction::userDefaults()->remove("firste33");

  delegate->applicationDidFinishLaunching();
  ASSERT_EQ(recorder.urls.size(), 1);
  EXPECT_EQ(recorder.urls[0], ProductInfo::ProductInfoWebPageUrlString());
  EXPECT_EQ(XVBaseFunction::userDefaults()->value("firste33").toString(), "vg");
  delegate->applicationDidFinishLaunching();
  EXPECT_EQ(recorder.urls.size(), 1);

  delegate->clickMenSupport();
  ASSERT_EQ(recorder.urls.size(), 2);
  EXPECT_EQ(recorder.urls[1], ProductInfo::ProductSupportWebPageUrlString());

  // Help: a copy of the built-in document in the temporary folder, replacing what was there.
  const QString target = XVBaseFunction::TempDirectory() + "/" + AppDelegate::helpDocumentName();
  QDir().mkpath(target);  // a folder in the way
  delegate->softHelp();
  ASSERT_EQ(recorder.urls.size(), 3);
  EXPECT_EQ(recorder.urls[2], QUrl::fromLocalFile(target));
  QFile help(target);
  ASSERT_TRUE(help.open(QIODevice::ReadOnly));
  EXPECT_TRUE(help.read(5) == "%PDF-");
  QDesktopServices::unsetUrlHandler("https");
  QDesktopServices::unsetUrlHandler("file");
}

TEST_F(MainWindow, FullScreenReturnsToStartOnlyAfterTheLastTab) {
  delegate->openFiles({"/d/a.pdf"});
  ASSERT_TRUE(settle());
  // Leaving full screen with documents open keeps browser mode.
  ASSERT_TRUE(fullScreen(true));
  EXPECT_TRUE(delegate->window()->isFullScreen());
  EXPECT_FALSE(delegate->toolbar()->isVisible());
  ASSERT_TRUE(fullScreen(false));
  EXPECT_TRUE(delegate->toolbar()->isVisible());
  EXPECT_EQ(delegate->windowShowType(), 1);
  EXPECT_FALSE(delegate->isAnimating());

  // The last tab closes in full screen: start view at once, the resize after leaving (which
  // the close itself asks the window for).
  ASSERT_TRUE(fullScreen(true));
  delegate->browserControl()->xvTab()->currentSeletedItem()->clickDeleteButton();
  foundation::Dispatcher::drainMain();
  EXPECT_TRUE(delegate->startView()->isVisible());
  EXPECT_FALSE(toolbarAttached());
  ASSERT_TRUE(QTest::qWaitFor([&] { return !delegate->isFullScren(); }, 2000));
  EXPECT_FALSE(delegate->window()->isFullScreen());
  EXPECT_EQ(delegate->windowShowType(), 0);
  ASSERT_TRUE(settle());
  EXPECT_EQ(size(), AppDelegate::kStartSize);
}

TEST_F(MainWindow, AFileOpenedWhileLeavingFullScreenKeepsTheBrowser) {
  delegate->openFiles({"/d/a.pdf"});
  ASSERT_TRUE(settle());
  // The window manager's answers come late here: the delegate hears of them by hand.
  delegate->windowDidEnterFullScreen();
  delegate->browserControl()->xvTab()->currentSeletedItem()->clickDeleteButton();
  foundation::Dispatcher::drainMain();
  ASSERT_TRUE(delegate->startView()->isVisible());
  // A later launch hands a file over before the window has left full screen.
  delegate->openFiles({"/d/b.pdf"});
  delegate->windowDidExitFullScreen();
  ASSERT_TRUE(settle());
  EXPECT_EQ(delegate->windowShowType(), 1);
  EXPECT_TRUE(delegate->browserControl()->isVisible());
  EXPECT_FALSE(delegate->startView()->isVisible());
  EXPECT_TRUE(toolbarAttached());
  EXPECT_TRUE(delegate->toolbar()->isVisible());
  EXPECT_EQ(size(), AppDelegate::kBrowserSize);
}

TEST_F(MainWindow, TheDesktopsUsualKeysReachTheirCommands) {
  QWidget* w = delegate->window();
  ASSERT_TRUE(QTest::qWaitForWindowActive(w));
  delegate->openFiles({"/d/a.pdf", "/d/b.pdf", "/d/c.pdf"});
  ASSERT_TRUE(settle());
  auto c = std::make_shared<FakeDocumentModul>(true, 4);
  loader->finish("/d/c.pdf", c);
  ASSERT_TRUE(QTest::qWaitFor([&] { return delegate->browserControl()->toolbarEnabled(); }, 2000));
  auto current = [&] { return delegate->browserControl()->xvTab()->currentSeletedItem()->filepath(); };
  auto key = [&](Qt::Key k, Qt::KeyboardModifiers m = Qt::NoModifier) {
    QTest::keyClick(w, k, m);
    QCoreApplication::processEvents();
  };
  auto called = [&](const std::string& call) { return std::count(c->calls.begin(), c->calls.end(), call); };

  // Viewing commands on the current document.
  key(Qt::Key_Left, Qt::ControlModifier);
  key(Qt::Key_Right, Qt::ControlModifier);
  key(Qt::Key_Left, Qt::ControlModifier | Qt::ShiftModifier);
  key(Qt::Key_Right, Qt::ControlModifier | Qt::ShiftModifier);
  key(Qt::Key_W);
  EXPECT_EQ(called("rotateCurPageleft"), 1);
  EXPECT_EQ(called("rotateCurPage:90"), 1);
  EXPECT_EQ(called("rotateAllPageleft"), 1);
  EXPECT_EQ(called("rotateAllPage:90"), 1);
  EXPECT_EQ(called("setAutoResize:1"), 1);

  // Toggles show their state as check marks, whichever way they change.
  const auto& A = delegate->browserControl()->commands().actions();
  const bool thumbnails = A.showThumbnails->isChecked();
  EXPECT_EQ(thumbnails, !delegate->browserControl()->tbtView()->On());
  key(Qt::Key_F9);
  EXPECT_EQ(A.showThumbnails->isChecked(), !thumbnails);
  EXPECT_EQ(called(std::string("setShowThumbnailList:") + (thumbnails ? "1" : "0")), 1);
  EXPECT_FALSE(A.oneOrTwoPage->isChecked());  // one page
  A.oneOrTwoPage->trigger();
  EXPECT_TRUE(A.oneOrTwoPage->isChecked());
  EXPECT_FALSE(c->onePage);
  EXPECT_TRUE(A.pageContinue->isChecked());
  delegate->browserControl()->commands().tbtContinue()->click();
  EXPECT_FALSE(A.pageContinue->isChecked());
  EXPECT_FALSE(c->continuous);

  // Ctrl + wheel over the page zooms; the wheel alone does not.
  QWidget* page = c->documentView();
  auto wheel = [&](int delta, Qt::KeyboardModifiers m) {
    QWheelEvent e(QPointF(5, 5), QPointF(w->mapToGlobal(QPoint(5, 5))), QPoint(), QPoint(0, delta), Qt::NoButton, m,
                  Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(page, &e);
  };
  wheel(120, Qt::ControlModifier);
  wheel(60, Qt::ControlModifier);
  wheel(60, Qt::ControlModifier);  // two half notches make one
  wheel(-120, Qt::ControlModifier);
  wheel(120, Qt::NoModifier);
  EXPECT_EQ(called("setZoomIn"), 2);
  EXPECT_EQ(called("setZoomOut"), 1);
  // Zoom in by the plus key with or without Shift.
  key(Qt::Key_Plus, Qt::ControlModifier);
  key(Qt::Key_Equal, Qt::ControlModifier);
  EXPECT_EQ(called("setZoomIn"), 4);

  // Tabs: Ctrl+PgUp and Ctrl+PgDn go round, Ctrl+W and a middle click close.
  key(Qt::Key_PageDown, Qt::ControlModifier);
  EXPECT_EQ(current(), "/d/a.pdf");
  key(Qt::Key_PageUp, Qt::ControlModifier);
  EXPECT_EQ(current(), "/d/c.pdf");
  key(Qt::Key_PageUp, Qt::ControlModifier);
  EXPECT_EQ(current(), "/d/b.pdf");
  key(Qt::Key_W, Qt::ControlModifier);
  EXPECT_EQ(tabs(), (QStringList{"/d/a.pdf", "/d/c.pdf"}));
  XVTabItem* a = delegate->browserControl()->xvTab()->itemByFilePath("/d/a.pdf");
  QTest::mouseClick(a, Qt::MiddleButton, {}, QPoint(a->width() / 2, a->height() / 2));
  EXPECT_EQ(tabs(), QStringList{"/d/c.pdf"});
  QCoreApplication::processEvents();
  EXPECT_FALSE(A.nextTab->isEnabled());

  // F11 toggles full screen, Esc leaves it and is nobody's key otherwise.
  key(Qt::Key_F11);
  ASSERT_TRUE(QTest::qWaitFor([&] { return delegate->isFullScren(); }, 2000));
  EXPECT_TRUE(w->isFullScreen());
  key(Qt::Key_Escape);
  ASSERT_TRUE(QTest::qWaitFor([&] { return !delegate->isFullScren(); }, 2000));
  key(Qt::Key_Escape);
  EXPECT_FALSE(w->isFullScreen());
  key(Qt::Key_F11);
  ASSERT_TRUE(QTest::qWaitFor([&] { return delegate->isFullScren(); }, 2000));
  key(Qt::Key_F11);
  ASSERT_TRUE(QTest::qWaitFor([&] { return !delegate->isFullScren(); }, 2000));

  // The last tab goes with Ctrl+W too, and the key then has nothing to close.
  key(Qt::Key_W, Qt::ControlModifier);
  EXPECT_TRUE(tabs().isEmpty());
  QCoreApplication::processEvents();
  EXPECT_FALSE(A.closeTab->isEnabled());
}

// For gtest's messages.
void PrintTo(const QKeySequence& key, std::ostream* os) { *os << key.toString(QKeySequence::PortableText).toStdString(); }

namespace {

// The rows of the README's keys table: the keys cell and the command cell.
std::vector<std::pair<QString, QString>> readmeKeyRows() {
  std::vector<std::pair<QString, QString>> rows;
  QFile readme(QStringLiteral(LECTERN_SOURCE_DIR "/README.md"));
  if (!readme.open(QIODevice::ReadOnly | QIODevice::Text)) return rows;
  bool inKeys = false;
  for (const QString& line : QString::fromUtf8(readme.readAll()).split(u'\n')) {
    if (line.startsWith(QLatin1String("## "))) inKeys = line == QLatin1String("## Keys");
    if (!inKeys || !line.startsWith(QLatin1String("| ")) || line.startsWith(QLatin1String("| key |"))) continue;
    const QStringList cells = line.split(u'|');
    if (cells.size() >= 3) rows.emplace_back(cells[1].trimmed(), cells[2].trimmed());
  }
  return rows;
}

// The keys of a keys cell in order ("Ctrl+W, middle click on a tab" gives Ctrl+W); mouse
// gestures and notes in brackets ("Esc (bookmark manager)") are not keys.
QList<QKeySequence> keysOfCell(QString cell) {
  cell.remove(QRegularExpression(QStringLiteral(R"( \(.*\))")));
  QList<QKeySequence> keys;
  for (const QString& group : cell.split(QLatin1String(", "))) {
    for (QString item : group.split(QLatin1String(" / "))) {
      if (item.contains(QLatin1String("click")) || item.contains(QLatin1String("wheel"))) continue;
      item.replace(QLatin1String("PgDn"), QLatin1String("PgDown"));
      keys << QKeySequence::fromString(item.trimmed(), QKeySequence::PortableText);
    }
  }
  return keys;
}

}  // namespace

TEST_F(MainWindow, EveryKeyOfTheReadmeIsSetWithoutADesktopTheme) {
  using Command = XVBrowserCommands::Command;
  XVBrowserControl* browser = delegate->browserControl();
  auto actionNamed = [this](const QString& text) -> QAction* {
    for (QAction* a : delegate->window()->findChildren<QAction*>())
      if (a->text() == text) return a;
    return nullptr;
  };
  using Check = std::function<void(const QKeySequence&)>;
  auto command = [browser](Command c) -> Check {
    return [browser, c](const QKeySequence& key) {
      EXPECT_EQ(XVBrowserCommands::keyFor(c), key);
      EXPECT_TRUE(browser->commands().action(c)->shortcuts().contains(key));
    };
  };
  auto action = [](QAction* a) -> Check {
    return [a](const QKeySequence& key) {
      ASSERT_TRUE(a);
      EXPECT_TRUE(a->shortcuts().contains(key)) << a->text().toStdString();
    };
  };
  // The manager is a window of its own: the key closes it.
  const Check closesManager = [browser](const QKeySequence& key) {
    browser->clickMenuEditBookmarks();
    QWidget* manager = browser->bookmarkControl();
    ASSERT_TRUE(QTest::qWaitForWindowActive(manager));
    QTest::keyClick(manager, key[0].key(), key[0].keyboardModifiers());
    EXPECT_FALSE(manager->isVisible());
  };
  const std::map<QString, std::vector<Check>> checks = {
      {"open documents", {action(actionNamed("Open..."))}},
      {"close the tab", {command(Command::CloseTab)}},
      {"previous / next tab", {command(Command::PreviousTab), command(Command::NextTab)}},
      {"previous / next page", {command(Command::PreviousPage), command(Command::NextPage)}},
      {"first / last page", {command(Command::FirstPage), command(Command::LastPage)}},
      {"zoom in / out / actual size, zoom",
       {command(Command::ZoomIn), command(Command::ZoomOut), command(Command::ZoomOriginal)}},
      {"fit width", {command(Command::ZoomStretch)}},
      {"rotate the page left / right", {command(Command::RotateLeft), command(Command::RotateRight)}},
      {"rotate all pages left / right", {command(Command::RotateAllLeft), command(Command::RotateAllRight)}},
      {"show or hide the thumbnails", {command(Command::ShowThumbnails)}},
      {"full screen, leave full screen", {action(delegate->menuFullScreen()), action(actionNamed("Leave Full Screen"))}},
      {"find", {command(Command::Find)}},
      {"print", {command(Command::Print)}},
      {"save as", {command(Command::SaveAs)}},
      {"close the manager", {closesManager}},
      {"quit", {action(delegate->menuQuit())}},
  };
  const auto rows = readmeKeyRows();
  ASSERT_FALSE(rows.empty());
  for (const auto& [keys, what] : rows) {
    SCOPED_TRACE(keys.toStdString());
    const auto found = checks.find(what);
    ASSERT_NE(found, checks.end()) << "no check for the README's row " << what.toStdString();
    const QList<QKeySequence> sequences = keysOfCell(keys);
    ASSERT_EQ(static_cast<size_t>(sequences.size()), found->second.size());
    for (qsizetype i = 0; i < sequences.size(); ++i) {
      ASSERT_EQ(sequences[i].count(), 1);
      ASSERT_NE(sequences[i][0].key(), Qt::Key_unknown);
      found->second[static_cast<size_t>(i)](sequences[i]);
    }
  }

  // Save As by its key, on a shown document.
  QWidget* w = delegate->window();
  w->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(w));
  int saves = 0;
  browser->setExternalCommand(XVBrowserControl::ExternalCommand::SaveAs, [&saves](XVBrowserControl*) { ++saves; });
  delegate->openFiles({"/d/a.pdf"});
  ASSERT_TRUE(settle());
  loader->finish("/d/a.pdf", std::make_shared<FakeDocumentModul>(true, 4));
  ASSERT_TRUE(QTest::qWaitFor([&] { return browser->toolbarEnabled(); }, 2000));
  QTest::keyClick(w, Qt::Key_S, Qt::ControlModifier | Qt::ShiftModifier);
  EXPECT_EQ(saves, 1);
}

TEST_F(MainWindow, WindowKeysReachThePageWhereverTheFocusIs) {
  QWidget* w = delegate->window();
  ASSERT_TRUE(QTest::qWaitForWindowActive(w));
  XVBrowserControl* browser = delegate->browserControl();
  delegate->openFiles({"/d/a.pdf", "/d/b.pdf"});
  ASSERT_TRUE(settle());
  auto a = std::make_shared<FakeDocumentModul>(true, 4);
  auto b = std::make_shared<FakeDocumentModul>(true, 4);
  loader->finish("/d/b.pdf", b);
  ASSERT_TRUE(QTest::qWaitFor([&] { return browser->toolbarEnabled(); }, 2000));
  auto clickTab = [&](const QString& path) {
    XVTabItem* item = browser->xvTab()->itemByFilePath(path);
    QTest::mouseClick(item, Qt::LeftButton, {}, QPoint(item->width() / 2, item->height() / 2));
    QCoreApplication::processEvents();
  };
  // As in a session, the focus is in the search field when the other tab is clicked.
  browser->searchField()->setFocus();
  clickTab("/d/a.pdf");
  loader->finish("/d/a.pdf", a);
  ASSERT_TRUE(QTest::qWaitFor([&] { return browser->toolbarEnabled(); }, 2000));
  // A real key press, to whatever has the focus (the window when nothing has).
  auto press = [&](Qt::Key k, Qt::KeyboardModifiers m) {
    QWidget* focus = QApplication::focusWidget();
    QTest::keyClick(focus ? focus : w, k, m);
    QCoreApplication::processEvents();
  };
  struct Case {
    const char* where;
    std::function<void()> focus;
    Qt::Key key;
    Qt::KeyboardModifiers modifiers;
    std::shared_ptr<FakeDocumentModul> module;
    std::string call;
  } cases[] = {
      {"a load that ended on the current tab", [] {}, Qt::Key_W, Qt::NoModifier, a, "setAutoResize:1"},
      {"a click on a shown tab",
       [&] {
         browser->searchField()->setFocus();
         clickTab("/d/b.pdf");
       },
       Qt::Key_W, Qt::NoModifier, b, "setAutoResize:1"},
      {"a click on the other tab",
       [&] {
         browser->searchField()->setFocus();
         clickTab("/d/a.pdf");
       },
       Qt::Key_Left, Qt::ControlModifier, a, "rotateCurPageleft"},
      {"a click on the current tab", [&] { clickTab("/d/a.pdf"); }, Qt::Key_Home, Qt::ControlModifier, a, "goFirstPage"},
      {"the search field", [&] { browser->searchField()->setFocus(); }, Qt::Key_Home, Qt::ControlModifier, a, "goFirstPage"},
      {"Esc in the search field",
       [&] {
         browser->searchField()->setFocus();
         press(Qt::Key_Escape, Qt::NoModifier);
       },
       Qt::Key_W, Qt::NoModifier, a, "setAutoResize:1"},
  };
  for (const Case& c : cases) {
    c.focus();
    a->calls.clear();
    b->calls.clear();
    press(c.key, c.modifiers);
    EXPECT_EQ(std::count(c.module->calls.begin(), c.module->calls.end(), c.call), 1) << c.where;
  }
  // Typing in the search field stays typing.
  browser->searchField()->setFocus();
  browser->searchField()->clear();
  a->calls.clear();
  press(Qt::Key_W, Qt::NoModifier);
  EXPECT_EQ(browser->searchField()->text(), "w");
  EXPECT_EQ(std::count(a->calls.begin(), a->calls.end(), "setAutoResize:1"), 0);
}

TEST_F(MainWindow, AFileOpenedRightAfterTheLastTabClosedKeepsTheBrowser) {
  delegate->openFiles({"/d/a.pdf"});
  ASSERT_TRUE(settle());
  delegate->browserControl()->xvTab()->currentSeletedItem()->clickDeleteButton();
  delegate->openFiles({"/d/b.pdf"});  // before the close reaches the delegate
  foundation::Dispatcher::drainMain();
  EXPECT_EQ(delegate->windowShowType(), 1);
  EXPECT_FALSE(delegate->isAnimating());
  EXPECT_TRUE(delegate->browserControl()->isVisible());
}

TEST_F(MainWindow, ClosingTheWindowQuits) {
  // The application's event loop ends with 0 when the window closes; 7 means it did not.
  // As in the program, closing the last window alone does not quit.
  QApplication::setQuitOnLastWindowClosed(false);
  QTimer fallback;
  fallback.setSingleShot(true);
  QObject::connect(&fallback, &QTimer::timeout, [] { QCoreApplication::exit(7); });
  fallback.start(3000);
  QTimer::singleShot(0, delegate->window(), [this] { delegate->window()->close(); });
  EXPECT_EQ(QApplication::exec(), 0);
  fallback.stop();
  QApplication::setQuitOnLastWindowClosed(true);
}

TEST(SingleInstance, ALaterLaunchHandsItsPathsOver) {
  testsupport::guiApp();
  const QString name = QString("lectern-test-%1").arg(QCoreApplication::applicationPid());
  XVSingleInstance running(name);
  XVSingleInstance later(name);
  EXPECT_FALSE(later.sendToRunningInstance({"/d/a.pdf"}, 200));  // nobody runs yet
  ASSERT_TRUE(running.listen());
  QSignalSpy received(&running, &XVSingleInstance::pathsReceived);
  bool sent = false;
  std::thread client([&] { sent = later.sendToRunningInstance({"/d/a.pdf", "/d/with space/b.djvu"}, 3000); });
  ASSERT_TRUE(QTest::qWaitFor([&] { return received.count() == 1; }, 3000));
  // Let the answer go out before the client gives up.
  QTest::qWait(50);
  client.join();
  EXPECT_TRUE(sent);
  EXPECT_EQ(received[0][0].toStringList(), (QStringList{"/d/a.pdf", "/d/with space/b.djvu"}));
}

namespace {
// Sends `paths` from another thread while this one serves; answers whether `server` got them.
bool handsOver(const XVSingleInstance& sender, XVSingleInstance& server, const QStringList& paths) {
  QSignalSpy received(&server, &XVSingleInstance::pathsReceived);
  bool sent = false;
  std::thread client([&] { sent = sender.sendToRunningInstance(paths, 3000); });
  const bool got = QTest::qWaitFor([&] { return received.count() == 1; }, 3000);
  QTest::qWait(50);
  client.join();
  return sent && got && received[0][0].toStringList() == paths;
}

// A socket file nobody listens on, as an instance that crashed leaves it.
void makeStaleSocket(const std::string& path) {
  const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_GE(fd, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  ASSERT_LT(path.size(), sizeof(address.sun_path));
  path.copy(address.sun_path, path.size());
  ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
  ::close(fd);
}
}  // namespace

TEST(SingleInstance, ALiveInstanceKeepsTheNameAndAStaleSocketIsReplaced) {
  testsupport::guiApp();
  testsupport::TempDir dir;
  const QString name = QString::fromStdString((dir / "instance").string());
  XVSingleInstance later(name);

  // A crashed instance's socket neither takes the paths nor blocks the next start.
  makeStaleSocket(name.toStdString());
  EXPECT_FALSE(later.sendToRunningInstance({"/d/a.pdf"}, 200));
  XVSingleInstance running(name);
  ASSERT_TRUE(running.listen());
  EXPECT_TRUE(handsOver(later, running, {"/d/a.pdf"}));

  // A second launch that lost the race to the name does not take it from the live instance,
  // which still gets every later launch's paths.
  XVSingleInstance racing(name);
  EXPECT_FALSE(racing.listen());
  EXPECT_TRUE(handsOver(later, running, {"/d/b.pdf"}));
  EXPECT_TRUE(handsOver(racing, running, {"/d/c.pdf"}));
}

#include "app_delegate_test.moc"
