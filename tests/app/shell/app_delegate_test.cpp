#include "shell/AppDelegate.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QDesktopServices>
#include <QFile>
#include <QMenu>
#include <QMimeData>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QToolBar>

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
  void drop(const QList<QUrl>& urls) {
    QStringList paths;
    for (const QUrl& u : urls) paths << u.toLocalFile();
    lastAccepted = delegate->XVDropSourceTo(paths, nullptr);
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

  drop({txt});
  QCoreApplication::processEvents();
  EXPECT_TRUE(tabs().isEmpty());
  EXPECT_EQ(delegate->windowShowType(), 0);

  drop({pdf, txt, djvu});
  EXPECT_TRUE(lastAccepted);
  EXPECT_TRUE(tabs().isEmpty());  // opened on a later turn
  ASSERT_TRUE(QTest::qWaitFor([&] { return !tabs().isEmpty(); }, 2000));
  EXPECT_EQ(tabs(), (QStringList{"/d/a.pdf", "/d/b.DJVU"}));
  EXPECT_EQ(delegate->windowShowType(), 1);
  ASSERT_TRUE(settle());

  // Over the browser, a file drag over the search field is the window's too.
  dragEnter({pdf}, delegate->browserControl()->searchField());
  EXPECT_TRUE(lastAccepted);
  // The same files again: still one tab each.
  drop({pdf, djvu});
  QTest::qWait(20);
  EXPECT_EQ(tabs().size(), 2);
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
  delegate->windowDidEnterFullScreen();
  EXPECT_TRUE(delegate->isFullScren());
  EXPECT_FALSE(delegate->toolbar()->isVisible());
  delegate->windowDidExitFullScreen();
  EXPECT_TRUE(delegate->toolbar()->isVisible());
  EXPECT_EQ(delegate->windowShowType(), 1);
  EXPECT_FALSE(delegate->isAnimating());

  // The last tab closes in full screen: start view at once, the resize after leaving.
  delegate->windowDidEnterFullScreen();
  delegate->browserControl()->xvTab()->currentSeletedItem()->clickDeleteButton();
  foundation::Dispatcher::drainMain();
  EXPECT_TRUE(delegate->startView()->isVisible());
  EXPECT_FALSE(toolbarAttached());
  EXPECT_EQ(delegate->windowShowType(), 1);
  delegate->windowDidExitFullScreen();
  EXPECT_EQ(delegate->windowShowType(), 0);
  ASSERT_TRUE(settle());
  EXPECT_EQ(size(), AppDelegate::kStartSize);
}

TEST_F(MainWindow, AFileOpenedWhileLeavingFullScreenKeepsTheBrowser) {
  delegate->openFiles({"/d/a.pdf"});
  ASSERT_TRUE(settle());
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
