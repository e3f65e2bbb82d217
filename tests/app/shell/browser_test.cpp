#include "shell/XVBrowserControl.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QDialog>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QTreeView>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QTest>

#include <any>
#include <atomic>
#include <thread>

#include "app/shell/browser_fakes.h"
#include "app/shell/gui_test_app.h"
#include "platform/foundation/dispatcher.h"
#include "core/XVBaseFunction.h"
#include "shell/XVBookmarkLib.h"
#include "shell/XVControls.h"
#include "core/XVNotifications.h"
#include "modules/pdf/PDFModul.h"
#include "platform/foundation/log.h"
#include "shell/XVDocumentLoadManager.h"
#include "shell/XVRecentDocuments.h"
#include "support/pdf_fixture.h"
#include "support/stderr_capture.h"
#include "support/temp_dir.h"

using testsupport::FakeDocumentModul;
using testsupport::FakeLoader;
using testsupport::FakeMailModul;

namespace {

class Browser : public ::testing::Test {
 protected:
  void SetUp() override {
    testsupport::guiApp();
    foundation::Dispatcher::drainMain();
    browser = std::make_unique<XVBrowserControl>();
    loader = std::make_shared<FakeLoader>();
    browser->setDocumentLoader(loader);
    browser->resize(1000, 700);
    browser->show();
  }
  void TearDown() override {
    if (browser)
      for (QMessageBox* box : alerts()) delete box;
    browser.reset();
    foundation::Dispatcher::drainMain();
  }

  QList<QMessageBox*> alerts() const { return browser->findChildren<QMessageBox*>("corruptFileAlert"); }
  QStringList alertTexts() const {
    QStringList texts;
    for (QMessageBox* box : alerts()) texts << box->informativeText();
    return texts;
  }
  // Ends a load on a worker thread and lets the GUI thread take it.
  void finish(const QString& path, std::shared_ptr<ImportInterface> module, const QString& error = {}) {
    loader->finish(path, std::move(module), error);
    foundation::Dispatcher::drainMain();
  }
  QString current() const {
    auto* item = browser->xvTab()->currentSeletedItem();
    return item ? item->filepath() : QString();
  }
  bool showsModuleView(ImportInterface* module) const {
    QWidget* view = module->documentView();
    return view->parentWidget() == browser->documentView() && view->isVisibleTo(browser.get());
  }
  bool showsSpinner() const {
    return browser->viewImport()->isVisibleTo(browser.get()) && browser->processImport()->isVisibleTo(browser.get());
  }
  QString title() const { return browser->windowTitle(); }

  std::unique_ptr<XVBrowserControl> browser;
  std::shared_ptr<FakeLoader> loader;
};

}  // namespace

TEST_F(Browser, OneTabPerPathAndOnlyTheLastNewFileLoads) {
  browser->openFiles({"/d/a.pdf", "/d/b.pdf", "/d/c.pdf"});
  EXPECT_EQ(browser->xvTab()->itemCount(), 3);
  EXPECT_EQ(current(), "/d/c.pdf");
  EXPECT_EQ(browser->name(), "c.pdf");
  EXPECT_EQ(loader->requestedPaths(), QStringList{"/d/c.pdf"});
  EXPECT_TRUE(showsSpinner());
  EXPECT_FALSE(browser->toolbarEnabled());

  // Already open: nothing added, the current tab stays.
  browser->openFiles({"/d/a.pdf"});
  EXPECT_EQ(browser->xvTab()->itemCount(), 3);
  EXPECT_EQ(current(), "/d/c.pdf");
  EXPECT_EQ(browser->addDocumentWithFilePath("/d/b.pdf"), "/d/b.pdf");

  // The first tab loads when it is first selected, and only once.
  browser->xvTab()->setSelectByItemFilePath("/d/a.pdf");
  EXPECT_EQ(loader->requestedPaths(), (QStringList{"/d/c.pdf", "/d/a.pdf"}));
  browser->xvTab()->setSelectByItemFilePath("/d/c.pdf");
  browser->xvTab()->setSelectByItemFilePath("/d/a.pdf");
  EXPECT_EQ(loader->requestedPaths().size(), 2);
  EXPECT_TRUE(showsSpinner());
}

TEST_F(Browser, LoadEndFromAWorkerThreadShowsTheDocument) {
  browser->openFiles({"/d/report.pdf"});
  auto module = std::make_shared<FakeDocumentModul>(true, 12);
  module->setImportSourcePath("/cache/0123abcd");  // not the tab's path: matching is by the end's path
  module->page = 0;  // a page labelled "iv" is still the first page
  module->searchString = "";
  finish("/d/report.pdf", module);

  EXPECT_TRUE(showsModuleView(module.get()));
  EXPECT_FALSE(browser->viewImport()->isVisibleTo(browser.get()));
  EXPECT_EQ(title(), "Velmar Lectern (1/12)");
  EXPECT_TRUE(browser->toolbarEnabled());
  EXPECT_TRUE(browser->commands().actions().nextPage->isEnabled());
  EXPECT_EQ(browser->xvTab()->currentSeletedItem()->documentModul(), module);
  const auto& c = module->calls;
  EXPECT_NE(std::find(c.begin(), c.end(), "searchEndState"), c.end());
  EXPECT_NE(std::find(c.begin(), c.end(), "reloadDocumentViewData"), c.end());

  // The position of the page, 1 to the count, after a page change and after a tab switch;
  // the last page is the count, whatever its label.
  module->page = 11;
  foundation::NotificationCenter::defaultCenter().post(ChangePageForTitleNotification);
  EXPECT_EQ(title(), "Velmar Lectern (1/12)");  // not before the GUI thread takes it
  foundation::Dispatcher::drainMain();
  EXPECT_EQ(title(), "Velmar Lectern (12/12)");
  // Without a current page: the first.
  module->hasCurrentPage = false;
  browser->SwitchTable(browser->xvTab()->currentSeletedItem());
  EXPECT_EQ(title(), "Velmar Lectern (1/12)");
  module->hasCurrentPage = true;
  module->page = 6;
  std::thread([] { foundation::NotificationCenter::defaultCenter().post(ChangePageForTitleNotification); }).join();
  foundation::Dispatcher::drainMain();
  EXPECT_EQ(title(), "Velmar Lectern (7/12)");
  EXPECT_TRUE(alerts().isEmpty());
}

TEST_F(Browser, ALoadEndingBehindAnotherTabLeavesTheCurrentTabAlone) {
  browser->openFiles({"/d/a.pdf"});
  browser->openFiles({"/d/b.pdf"});
  auto b = std::make_shared<FakeDocumentModul>(true, 3);
  b->searchString = "beta";
  b->page = 1;
  finish("/d/b.pdf", b);
  ASSERT_EQ(browser->searchField()->text(), "beta");

  // Back to a (still loading), away again, then a ends while b is current.
  browser->xvTab()->setSelectByItemFilePath("/d/a.pdf");
  EXPECT_TRUE(showsSpinner());
  EXPECT_FALSE(browser->toolbarEnabled());
  browser->xvTab()->setSelectByItemFilePath("/d/b.pdf");
  EXPECT_TRUE(showsModuleView(b.get()));
  auto a = std::make_shared<FakeDocumentModul>(true, 9);
  a->searchString = "alpha";
  a->show = false;
  finish("/d/a.pdf", a);
  EXPECT_TRUE(showsModuleView(b.get()));
  EXPECT_EQ(a->existingView(), nullptr);  // never put on screen
  EXPECT_EQ(browser->searchField()->text(), "beta");
  EXPECT_TRUE(browser->tbtView()->On());
  EXPECT_EQ(title(), "Velmar Lectern (2/3)");
  EXPECT_TRUE(browser->toolbarEnabled());

  // Switching to a now shows its state.
  browser->xvTab()->setSelectByItemFilePath("/d/a.pdf");
  EXPECT_TRUE(showsModuleView(a.get()));
  EXPECT_EQ(browser->searchField()->text(), "alpha");
  EXPECT_FALSE(browser->tbtView()->On());
}

TEST_F(Browser, AFailedFileIsNamedOnceAndShowsAStoppedView) {
  int wired = 0;
  browser->setExternalCommand(XVBrowserControl::ExternalCommand::SaveAs, [&](XVBrowserControl*) { ++wired; });
  browser->setExternalCommand(XVBrowserControl::ExternalCommand::ExtractImages, [&](XVBrowserControl*) { ++wired; });
  XVRecentDocuments::clearRecentDocuments();
  browser->openFiles({"/d/broken.pdf", "/d/good.pdf"});
  finish("/d/good.pdf", std::make_shared<FakeDocumentModul>(true, 2));
  const auto& A = browser->commands().actions();
  ASSERT_TRUE(A.saveAs->isEnabled() && A.extractImages->isEnabled() && A.print->isEnabled());
  browser->xvTab()->setSelectByItemFilePath("/d/broken.pdf");
  finish("/d/broken.pdf", std::make_shared<FakeDocumentModul>(false));

  EXPECT_EQ(alertTexts(), QStringList{"broken.pdf  file is corrupted and cannot be opened."});
  ASSERT_EQ(alerts().size(), 1);
  EXPECT_EQ(alerts()[0]->text(), "Note");
  EXPECT_TRUE(browser->viewImport()->isVisibleTo(browser.get()));
  EXPECT_FALSE(browser->processImport()->isVisibleTo(browser.get()));
  EXPECT_EQ(browser->importMessage()->text(), "broken.pdf  file is corrupted and cannot be opened.");
  EXPECT_FALSE(browser->toolbarEnabled());
  // The menus offer nothing a failed tab cannot do.
  for (QAction* a : {A.print, A.saveAs, A.extractImages, A.addBookmark, A.rotateLeft}) EXPECT_FALSE(a->isEnabled()) << a->text().toStdString();
  A.saveAs->trigger();
  A.extractImages->trigger();
  EXPECT_EQ(wired, 0);
  // Only the file that opened is a recent document.
  EXPECT_EQ(XVRecentDocuments::recentDocuments(), QStringList{"/d/good.pdf"});

  // No page of no pages: the product name alone, also after a page change elsewhere.
  EXPECT_EQ(title(), "Velmar Lectern");
  std::thread([] { foundation::NotificationCenter::defaultCenter().post(ChangePageForTitleNotification); }).join();
  foundation::Dispatcher::drainMain();
  EXPECT_EQ(title(), "Velmar Lectern");

  // A later switch shows the same stopped view, never loads again, raises nothing new.
  browser->xvTab()->setSelectByItemFilePath("/d/good.pdf");
  EXPECT_TRUE(browser->toolbarEnabled());
  browser->xvTab()->setSelectByItemFilePath("/d/broken.pdf");
  EXPECT_FALSE(showsSpinner());
  EXPECT_FALSE(browser->toolbarEnabled());
  EXPECT_EQ(loader->requestedPaths(), (QStringList{"/d/good.pdf", "/d/broken.pdf"}));
  EXPECT_EQ(alerts().size(), 1);

  // No module at all fails the same way; while the alert is up, later failures join it,
  // each with its reason when it has one.
  browser->openFiles({"/d/unknown.pdf"});
  finish("/d/unknown.pdf", nullptr);
  browser->openFiles({"/d/locked.pdf"});
  finish("/d/locked.pdf", std::make_shared<FakeDocumentModul>(false), "It is protected by a password.");
  browser->openFiles({"/d/empty.pdf"});
  finish("/d/empty.pdf", std::make_shared<FakeDocumentModul>(true, 0));
  EXPECT_EQ(alertTexts(), QStringList{"broken.pdf  file is corrupted and cannot be opened.\n"
                                      "unknown.pdf  file is corrupted and cannot be opened.\n"
                                      "locked.pdf cannot be opened. It is protected by a password.\n"
                                      "empty.pdf cannot be opened. It has no pages."});
  // The failed tab says the same as its line.
  EXPECT_EQ(browser->importMessage()->text(), "empty.pdf cannot be opened. It has no pages.");
  browser->xvTab()->setSelectByItemFilePath("/d/locked.pdf");
  EXPECT_EQ(browser->importMessage()->text(), "locked.pdf cannot be opened. It is protected by a password.");
  EXPECT_EQ(title(), "Velmar Lectern");

  // Dismissed, the next failure raises an alert of its own.
  QMessageBox* first = alerts().value(0);
  ASSERT_NE(first, nullptr);
  first->buttons().value(0)->click();
  ASSERT_TRUE(QTest::qWaitFor([&] { return alerts().isEmpty(); }, 2000));
  browser->reportUnopenedFiles({"/d/notes.txt", "/d/picture.png"});
  EXPECT_EQ(alertTexts(), QStringList{"notes.txt cannot be opened. Files of this type are not supported.\n"
                                      "picture.png cannot be opened. Files of this type are not supported."});
}

TEST_F(Browser, ALongFileNameStaysInsideTheWindowAndItsAlert) {
  const QString name = QString(150, u'n') + QStringLiteral(".pdf");
  const QString said = name + QStringLiteral(" cannot be opened. It is protected by a password.");
  browser->openFiles({"/d/" + name});
  finish("/d/" + name, std::make_shared<FakeDocumentModul>(false), "It is protected by a password.");
  testsupport::pumpFor(std::chrono::milliseconds(20));
  QLabel* message = browser->importMessage();
  EXPECT_EQ(message->text().remove(QChar(0x200B)), said);
  // What the label needs, not what the layout squeezed it to.
  EXPECT_LE(message->minimumSizeHint().width(), browser->documentView()->width());
  EXPECT_LE(message->sizeHint().width(), browser->documentView()->width());
  EXPECT_GE(message->heightForWidth(message->width()), 2 * QFontMetrics(message->font()).lineSpacing()) << "wrapped";
  ASSERT_EQ(alerts().size(), 1);
  QMessageBox* alert = alerts()[0];
  EXPECT_EQ(alert->informativeText().remove(QChar(0x200B)), said);
  EXPECT_LE(alert->findChild<QLabel*>("qt_msgbox_informativelabel")->width(), XVAlertMaxWidth(alert) + 8);
  // A second failure joins the alert, once, however its line was broken.
  browser->openFiles({"/d/" + name + "2"});
  finish("/d/" + name + "2", std::make_shared<FakeDocumentModul>(false));
  browser->showAlert("/d/" + name, "It is protected by a password.");
  EXPECT_EQ(alert->informativeText().remove(QChar(0x200B)).split(u'\n').size(), 2);
}

TEST_F(Browser, ErrorNotificationNamesItsFileAndSkipsFilesStillLoading) {
  browser->openFiles({"/d/shown.pdf"});
  finish("/d/shown.pdf", std::make_shared<FakeDocumentModul>());
  browser->openFiles({"/d/loading.pdf"});

  auto post = [](const QString& path) {
    std::thread([path] {
      foundation::NotificationCenter::defaultCenter().post(Open_Filed_Error_Info, nullptr,
                                                           {{XVFilePathUserInfoKey, path}});
    }).join();
    foundation::Dispatcher::drainMain();
  };
  post("/d/loading.pdf");  // a repeated request of a file still loading
  EXPECT_TRUE(alerts().isEmpty());
  EXPECT_TRUE(showsSpinner());
  post("/d/shown.pdf");  // names that file, not the current one
  EXPECT_EQ(alertTexts(), QStringList{"shown.pdf  file is corrupted and cannot be opened."});
}

TEST_F(Browser, AMailTabHasNoToolbarAndItsOwnTitle) {
  browser->openFiles({"/d/report.pdf"});
  auto pdf = std::make_shared<FakeDocumentModul>(true, 4);
  pdf->page = 0;
  finish("/d/report.pdf", pdf);
  browser->openFiles({"/d/winmail.dat"});
  auto mail = std::make_shared<FakeMailModul>();
  finish("/d/winmail.dat", mail);

  EXPECT_TRUE(showsModuleView(mail.get()));
  EXPECT_EQ(title(), "Velmar Lectern");
  EXPECT_FALSE(browser->toolbarEnabled());
  for (QAction* a : {browser->commands().actions().nextPage, browser->commands().actions().zoomIn, browser->commands().actions().print,
                     browser->commands().actions().rotateLeft})
    EXPECT_FALSE(a->isEnabled());
  EXPECT_FALSE(browser->searchField()->isEnabled());
  EXPECT_TRUE(alerts().isEmpty());
  // Commands never reach a mail tab, and a page change keeps the mail title.
  browser->clickNextPage();
  foundation::NotificationCenter::defaultCenter().post(ChangePageForTitleNotification);
  foundation::Dispatcher::drainMain();
  EXPECT_EQ(title(), "Velmar Lectern");

  browser->xvTab()->setSelectByItemFilePath("/d/report.pdf");
  EXPECT_EQ(title(), "Velmar Lectern (1/4)");
  EXPECT_TRUE(browser->toolbarEnabled());
  EXPECT_TRUE(std::find(pdf->calls.begin(), pdf->calls.end(), "goNextPage") == pdf->calls.end());
}

TEST_F(Browser, TheModuleSaysWhetherATabHoldsAMessage) {
  // The module's kind decides, whatever the file is called.
  browser->openFiles({"/d/WINMAIL.DAT"});
  EXPECT_EQ(title(), "Velmar Lectern");  // before its module exists: the factory's kind
  auto mail = std::make_shared<FakeMailModul>();
  finish("/d/WINMAIL.DAT", mail);
  EXPECT_TRUE(showsModuleView(mail.get()));
  EXPECT_EQ(title(), "Velmar Lectern");
  EXPECT_FALSE(browser->toolbarEnabled());
  EXPECT_TRUE(alerts().isEmpty());

  browser->openFiles({"/d/scan.dat"});
  auto pages = std::make_shared<FakeDocumentModul>(true, 5);
  pages->page = 1;
  finish("/d/scan.dat", pages);
  EXPECT_TRUE(showsModuleView(pages.get()));
  EXPECT_EQ(title(), "Velmar Lectern (2/5)");
  EXPECT_TRUE(browser->toolbarEnabled());
  pages->calls.clear();
  browser->clickNextPage();
  EXPECT_EQ(pages->calls, std::vector<std::string>{"goNextPage"});
}

TEST_F(Browser, AMailContainerThatDoesNotOpenFailsItsTabWithOneAlert) {
  browser->openFiles({"/d/broken.dat"});
  // The module says so while its tab loads, then ends with nothing to show.
  std::thread([] {
    foundation::NotificationCenter::defaultCenter().post(Open_Filed_Error_Info, nullptr,
                                                         {{XVFilePathUserInfoKey, std::any(QString("/d/broken.dat"))}});
  }).join();
  foundation::Dispatcher::drainMain();
  auto mail = std::make_shared<FakeMailModul>();
  mail->opened = false;
  finish("/d/broken.dat", mail);
  EXPECT_EQ(alertTexts(), QStringList{"broken.dat  file is corrupted and cannot be opened."});
  EXPECT_EQ(browser->openDocuments().find("/d/broken.dat")->loadState(), XVOpenDocument::LoadState::Failed);
  EXPECT_FALSE(showsModuleView(mail.get()));
  EXPECT_EQ(browser->importMessage()->text(), "broken.dat  file is corrupted and cannot be opened.");
  EXPECT_EQ(title(), "Velmar Lectern");
  EXPECT_FALSE(browser->toolbarEnabled());
}

TEST_F(Browser, ClosingTabs) {
  int removeAll = 0;
  auto token = foundation::NotificationCenter::defaultCenter().addObserver(
      remove_all_document_notification, [&](const foundation::Notification& n) {
        EXPECT_EQ(n.sender, browser.get());
        ++removeAll;
      });
  browser->openFiles({"/d/a.pdf"});
  auto a = std::make_shared<FakeDocumentModul>();
  finish("/d/a.pdf", a);
  browser->openFiles({"/d/b.pdf"});
  auto b = std::make_shared<FakeDocumentModul>();
  finish("/d/b.pdf", b);
  browser->openFiles({"/d/slow.pdf"});

  // Closed while loading: its end changes nothing.
  browser->xvTab()->currentSeletedItem()->clickDeleteButton();
  EXPECT_EQ(current(), "/d/b.pdf");
  EXPECT_TRUE(showsModuleView(b.get()));
  finish("/d/slow.pdf", std::make_shared<FakeDocumentModul>(false));
  EXPECT_TRUE(alerts().isEmpty());
  EXPECT_TRUE(showsModuleView(b.get()));

  // Rotated twice, written back once, at closing.
  browser->clickRotateLeft();
  browser->clickRotateLeft();
  EXPECT_EQ(b->writes, 0);
  browser->xvTab()->currentSeletedItem()->clickDeleteButton();
  EXPECT_EQ(b->writes, 1);
  EXPECT_EQ(b->existingView()->parentWidget(), nullptr);
  EXPECT_EQ(current(), "/d/a.pdf");
  EXPECT_TRUE(showsModuleView(a.get()));
  EXPECT_EQ(removeAll, 0);

  // The last tab: one notification, unchanged documents are not written.
  browser->xvTab()->currentSeletedItem()->clickDeleteButton();
  EXPECT_EQ(removeAll, 1);
  EXPECT_EQ(a->writes, 0);
  EXPECT_EQ(browser->xvTab()->itemCount(), 0);
  EXPECT_EQ(browser->xvTab()->currentSeletedItem(), nullptr);
}

TEST_F(Browser, ViewingCommandsReachTheCurrentModule) {
  browser->openFiles({"/d/a.pdf"});
  auto m = std::make_shared<FakeDocumentModul>();
  finish("/d/a.pdf", m);
  struct Case {
    std::function<void()> command;
    std::vector<std::string> calls;
  } cases[] = {
      {[&] { browser->commands().actions().firstPage->trigger(); }, {"goFirstPage"}},
      {[&] { browser->commands().actions().previousPage->trigger(); }, {"goPreviousPage"}},
      {[&] { browser->commands().actions().nextPage->trigger(); }, {"goNextPage"}},
      {[&] { browser->commands().actions().lastPage->trigger(); }, {"goLastPage"}},
      {[&] { browser->commands().actions().zoomIn->trigger(); }, {"setZoomIn"}},
      {[&] { browser->commands().actions().zoomOut->trigger(); }, {"setZoomOut"}},
      {[&] { browser->commands().actions().zoomOriginal->trigger(); }, {"setScale:1.000000"}},
      {[&] { browser->commands().actions().zoomStretch->trigger(); }, {"setAutoResize:1"}},
      {[&] { browser->commands().actions().rotateLeft->trigger(); }, {"setNeedSave:1", "rotateCurPageleft"}},
      {[&] { browser->commands().actions().rotateRight->trigger(); }, {"rotateCurPage:90", "setNeedSave:1"}},
      {[&] { browser->commands().actions().rotateAllLeft->trigger(); }, {"rotateAllPageleft", "setNeedSave:1"}},
      {[&] { browser->commands().actions().rotateAllRight->trigger(); }, {"rotateAllPage:90", "setNeedSave:1"}},
      {[&] { browser->commands().actions().print->trigger(); }, {"print"}},
      // Two-state buttons: the module gets the state after the click.
      {[&] { browser->commands().actions().showThumbnails->trigger(); }, {"setShowThumbnailList:0"}},
      {[&] { QTest::mouseClick(browser->tbtView(), Qt::LeftButton); }, {"setShowThumbnailList:1"}},
      {[&] { browser->commands().actions().oneOrTwoPage->trigger(); }, {"setshowOneOrTwoPageIsOne:0"}},
      {[&] { browser->commands().actions().pageContinue->trigger(); }, {"setshowPageContinue:0"}},
      {[&] { browser->commands().actions().pageContinue->trigger(); }, {"setshowPageContinue:1"}},
      // Search: an empty string hides the results and is still searched for.
      {[&] {
         browser->searchField()->setText("needle");
         browser->searchEndAction();
       },
       {"searchContent:needle"}},
      {[&] {
         browser->searchField()->clear();
         browser->searchEndAction();
       },
       {"searchEndState", "searchContent:"}},
  };
  for (auto& c : cases) {
    m->calls.clear();
    c.command();
    EXPECT_EQ(m->calls, c.calls) << (c.calls.empty() ? "" : c.calls[0]);
  }

  // The module's search end sets the thumbnail toggle to its state, on the GUI thread.
  m->show = false;
  std::thread([] { foundation::NotificationCenter::defaultCenter().post(SearchForThunbnailNotification); }).join();
  EXPECT_TRUE(browser->tbtView()->On());
  foundation::Dispatcher::drainMain();
  EXPECT_FALSE(browser->tbtView()->On());

  // Nothing reaches a tab that is still loading.
  browser->openFiles({"/d/b.pdf"});
  m->calls.clear();
  browser->clickNextPage();
  browser->clickRotateLeft();
  browser->searchEndAction();
  EXPECT_TRUE(m->calls.empty());
}

TEST_F(Browser, CommandsCarriedOutElsewhereStayDisabledUntilWired) {
  browser->openFiles({"/d/a.pdf"});
  finish("/d/a.pdf", std::make_shared<FakeDocumentModul>());
  EXPECT_FALSE(browser->commands().actions().saveAs->isEnabled());
  int saved = 0;
  browser->setExternalCommand(XVBrowserControl::ExternalCommand::SaveAs, [&](XVBrowserControl*) { ++saved; });
  EXPECT_TRUE(browser->commands().actions().saveAs->isEnabled());
  browser->commands().actions().saveAs->trigger();
  EXPECT_EQ(saved, 1);
  browser->openFiles({"/d/winmail.dat"});
  finish("/d/winmail.dat", std::make_shared<FakeMailModul>());
  EXPECT_FALSE(browser->commands().actions().saveAs->isEnabled());
}

TEST_F(Browser, CommandsFollowTheModulesCapabilities) {
  int external = 0;
  browser->setExternalCommand(XVBrowserControl::ExternalCommand::SaveAs, [&](XVBrowserControl*) { ++external; });
  browser->setExternalCommand(XVBrowserControl::ExternalCommand::ExtractImages, [&](XVBrowserControl*) { ++external; });
  browser->openFiles({"/d/a.pdf"});
  auto m = std::make_shared<FakeDocumentModul>();
  m->caps = ImportInterface::PageNavigation | ImportInterface::Zoom;
  m->extractFormats.clear();
  finish("/d/a.pdf", m);

  const auto& A = browser->commands().actions();
  for (QAction* a : {A.firstPage, A.nextPage, A.zoomIn, A.zoomOriginal, A.saveAs, A.editBookmarks})
    EXPECT_TRUE(a->isEnabled()) << a->text().toStdString();
  for (QAction* a : {A.rotateLeft, A.rotateAllRight, A.print, A.find, A.showThumbnails, A.oneOrTwoPage, A.pageContinue,
                     A.addBookmark, A.extractImages})
    EXPECT_FALSE(a->isEnabled()) << a->text().toStdString();
  EXPECT_FALSE(browser->searchField()->isEnabled());
  EXPECT_FALSE(browser->tbtView()->isEnabled());
  EXPECT_TRUE(browser->commands().tbtGZoomOriginal()->isEnabled());

  // Forced to run, what the module cannot do still does not reach it.
  m->calls.clear();
  for (QAction* a : {A.rotateLeft, A.print, A.pageContinue, A.addBookmark, A.extractImages}) {
    a->setEnabled(true);
    a->trigger();
  }
  browser->searchField()->setText("needle");
  browser->searchEndAction();
  EXPECT_TRUE(m->calls.empty());
  EXPECT_EQ(external, 0);
  EXPECT_FALSE(browser->windowAddBookmark()->isVisible());
  A.saveAs->trigger();
  EXPECT_EQ(external, 1);
}

TEST(XVBrowserCommands, EnabledRules) {
  using C = XVBrowserCommands::Command;
  XVBrowserCommands::State all;
  all.toolbar = all.menu = true;
  all.capabilities = FakeDocumentModul().caps;  // every page operation
  all.saveFormats = all.extractFormats = all.saveAsWired = all.extractImagesWired = true;
  all.tabs = 2;
  for (int i = 0; i < XVBrowserCommands::kCommandCount; ++i)
    EXPECT_TRUE(XVBrowserCommands::isEnabled(static_cast<C>(i), all)) << i;

  auto with = [&](auto change) {
    XVBrowserCommands::State s = all;
    change(s);
    return s;
  };
  struct Case {
    XVBrowserCommands::State state;
    std::vector<C> on, off;
  } cases[] = {
      // An open panel is up: the toolbar is off, the document menus stay as they were.
      {with([](auto& s) { s.toolbar = false; }), {C::AddBookmark, C::SaveAs, C::EditBookmarks}, {C::NextPage, C::Find, C::Print}},
      {with([](auto& s) { s.menu = false; }), {C::NextPage, C::Print, C::EditBookmarks}, {C::AddBookmark, C::SaveAs, C::ExtractImages}},
      {with([](auto& s) { s.saveAsWired = false; s.extractFormats = false; }), {C::AddBookmark}, {C::SaveAs, C::ExtractImages}},
      {with([](auto& s) { s.capabilities = ImportInterface::Search; }), {C::Find, C::SaveAs}, {C::ZoomIn, C::RotateLeft, C::AddBookmark}},
      // No document at all: only the bookmark manager.
      {XVBrowserCommands::State(), {C::EditBookmarks}, {C::FirstPage, C::ShowThumbnails, C::AddBookmark, C::SaveAs, C::CloseTab}},
      // The tab commands look at the strip alone: a loading or failed tab closes, one tab has
      // no other to switch to.
      {with([](auto& s) { s = XVBrowserCommands::State(); s.tabs = 1; }), {C::CloseTab}, {C::NextTab, C::PreviousTab, C::Print}},
  };
  for (const auto& c : cases) {
    for (C on : c.on) EXPECT_TRUE(XVBrowserCommands::isEnabled(on, c.state)) << static_cast<int>(on);
    for (C off : c.off) EXPECT_FALSE(XVBrowserCommands::isEnabled(off, c.state)) << static_cast<int>(off);
  }
}

TEST_F(Browser, WithoutALoaderEachFileFailsOnItsOwn) {
  browser->setDocumentLoader(nullptr);
  browser->openFiles({"/d/a.pdf", "/d/b.pdf"});
  foundation::Dispatcher::drainMain();
  EXPECT_EQ(alertTexts(), QStringList{"b.pdf cannot be opened. No document loader is available."});
  EXPECT_FALSE(showsSpinner());
  browser->xvTab()->setSelectByItemFilePath("/d/a.pdf");
  foundation::Dispatcher::drainMain();
  EXPECT_EQ(alertTexts(), QStringList{"b.pdf cannot be opened. No document loader is available.\n"
                                      "a.pdf cannot be opened. No document loader is available."});
}

TEST_F(Browser, OpenPanelOpensOnlySupportedFilesOnALaterTurn) {
  browser->openFiles({"/d/a.pdf"});
  finish("/d/a.pdf", std::make_shared<FakeDocumentModul>());
  browser->setToolbarEnable(false);  // as while the panel is up
  browser->openPanelDidEnd(true, {"/d/notes.txt", "/d/b.wps", "/d/c.xps"});
  EXPECT_EQ(browser->xvTab()->itemCount(), 1);
  QCoreApplication::processEvents();
  QStringList paths;
  for (auto* item : browser->xvTab()->TableItemArray()) paths << item->filepath();
  EXPECT_EQ(paths, (QStringList{"/d/a.pdf", "/d/b.wps", "/d/c.xps"}));
  EXPECT_EQ(current(), "/d/c.xps");
  EXPECT_FALSE(browser->toolbarEnabled());  // the new current tab is loading

  // Cancelled: nothing opens; the toolbar follows the current tab again.
  browser->xvTab()->setSelectByItemFilePath("/d/a.pdf");
  browser->setToolbarEnable(false);
  browser->openPanelDidEnd(false, {"/d/d.pdf"});
  QCoreApplication::processEvents();
  EXPECT_EQ(browser->xvTab()->itemCount(), 3);
  EXPECT_TRUE(browser->toolbarEnabled());
}

TEST_F(Browser, TheTitleFollowsTheCurrentTabWhileItLoads) {
  browser->openFiles({"/d/a.pdf"});
  auto a = std::make_shared<FakeDocumentModul>(true, 8);
  a->page = 2;
  finish("/d/a.pdf", a);
  EXPECT_EQ(title(), "Velmar Lectern (3/8)");
  browser->openFiles({"/d/b.pdf"});
  EXPECT_EQ(title(), "Velmar Lectern");  // not a's page any more, and no pages to count yet
}

TEST_F(Browser, QuittingWritesBackEveryChangedOpenDocumentWhileTimeIsLeft) {
  std::vector<std::shared_ptr<FakeDocumentModul>> modules;
  for (const char* path : {"/d/a.pdf", "/d/b.pdf", "/d/c.pdf"}) {
    browser->openFiles({path});
    modules.push_back(std::make_shared<FakeDocumentModul>(true, 4));
    finish(path, modules.back());
  }
  browser->openFiles({"/d/loading.pdf"});
  modules[0]->needSave_ = modules[2]->needSave_ = true;  // a and c were rotated, b not
  const auto now = std::chrono::steady_clock::now();
  EXPECT_EQ(browser->writeBackOpenDocuments(now + std::chrono::seconds(5)), 0);
  EXPECT_EQ(modules[0]->writes, 1);
  EXPECT_EQ(modules[1]->writes, 0);
  EXPECT_EQ(modules[2]->writes, 1);
  // Past the deadline nothing more is written; what is left is counted.
  modules[1]->needSave_ = true;
  EXPECT_EQ(browser->writeBackOpenDocuments(now - std::chrono::milliseconds(1)), 1);
  EXPECT_EQ(modules[1]->writes, 0);
}

TEST_F(Browser, ALoadEndingAfterTheBrowserWentIsDropped) {
  browser->openFiles({"/d/a.pdf"});
  auto module = std::make_shared<FakeDocumentModul>();
  std::weak_ptr<FakeDocumentModul> weak = module;
  browser.reset();
  finish("/d/a.pdf", std::move(module));
  EXPECT_TRUE(weak.expired());  // handed back, not kept
}

namespace {
// The shared bookmark library, empty and with nothing stored.
std::shared_ptr<XVBookmarkLib> emptyBookmarkLib() {
  XVBaseFunction::releaseAppEndObjects();
  XVBaseFunction::userDefaults()->clear();
  return XVBookmarkLib::ShareBookmarkLib();
}
}  // namespace

TEST_F(Browser, AddBookmarkNamesTheCurrentPageAndNeedsAName) {
  auto lib = emptyBookmarkLib();
  const QString path = "/d/Report.final.pdf";
  browser->openFiles({path});
  auto m = std::make_shared<FakeDocumentModul>();
  m->page = 4;
  finish(path, m);
  QDialog* sheet = browser->windowAddBookmark();

  browser->commands().actions().addBookmark->trigger();
  ASSERT_TRUE(sheet->isVisible());
  EXPECT_EQ(browser->txtBookmarkName()->text(), "Report.final_5");

  // An empty name adds nothing and keeps the sheet open.
  browser->txtBookmarkName()->clear();
  browser->clickAddBookmarkWindowAdd();
  EXPECT_TRUE(sheet->isVisible());
  EXPECT_FALSE(lib->gropByFilePath(path));

  // The page is the one shown when Add is pressed.
  m->page = 6;
  browser->txtBookmarkName()->setText("Summary");
  browser->clickAddBookmarkWindowAdd();
  EXPECT_FALSE(sheet->isVisible());
  auto grop = lib->gropByFilePath(path);
  ASSERT_TRUE(grop);
  ASSERT_EQ(grop->bookmarkCount(), 1);
  auto mark = lib->bookmarkByID(grop->bookmarkIDByIndex(0));
  ASSERT_TRUE(mark);
  EXPECT_EQ(mark->name(), "Summary");
  EXPECT_EQ(mark->pageIndex(), 6);
  EXPECT_EQ(mark->filePath(), path);

  // Cancel adds nothing.
  browser->commands().actions().addBookmark->trigger();
  ASSERT_TRUE(sheet->isVisible());
  browser->clickAddBookmarkWindowCancel();
  EXPECT_FALSE(sheet->isVisible());

  // Another tab became current while the sheet was up (a file from a later launch): the name
  // was for the other document, so nothing is added.
  browser->commands().actions().addBookmark->trigger();
  browser->openFiles({"/d/other.pdf"});
  finish("/d/other.pdf", std::make_shared<FakeDocumentModul>());
  browser->txtBookmarkName()->setText("Stale");
  browser->clickAddBookmarkWindowAdd();
  EXPECT_FALSE(sheet->isVisible());
  EXPECT_EQ(grop->bookmarkCount(), 1);
  EXPECT_FALSE(lib->gropByFilePath("/d/other.pdf"));

  // Stored: a new run finds the bookmark.
  lib.reset();
  XVBaseFunction::releaseAppEndObjects();
  auto reloaded = XVBookmarkLib::ShareBookmarkLib()->gropByFilePath(path);
  ASSERT_TRUE(reloaded);
  EXPECT_EQ(XVBookmarkLib::ShareBookmarkLib()->bookmarkByID(reloaded->bookmarkIDByIndex(0))->name(), "Summary");
}

TEST_F(Browser, DocumentCommandsFollowTheCurrentTabAndCheckItThemselves) {
  emptyBookmarkLib();
  int exported = 0;
  browser->setExternalCommand(XVBrowserControl::ExternalCommand::SaveAs, [&](XVBrowserControl*) { ++exported; });
  browser->setExternalCommand(XVBrowserControl::ExternalCommand::ExtractImages, [&](XVBrowserControl*) { ++exported; });
  const auto& A = browser->commands().actions();
  // Whether the three commands are offered; when not, each one forced to run does nothing.
  auto offered = [&](const char* step) -> bool {
    const bool add = A.addBookmark->isEnabled();
    EXPECT_EQ(A.saveAs->isEnabled(), add) << step;
    EXPECT_EQ(A.extractImages->isEnabled(), add) << step;
    if (!add) {
      const int before = exported;
      for (QAction* a : {A.addBookmark, A.saveAs, A.extractImages}) {
        a->setEnabled(true);
        a->trigger();
      }
      EXPECT_EQ(exported, before) << step;
      EXPECT_FALSE(browser->windowAddBookmark()->isVisible()) << step;
      browser->updateMenu();
    }
    EXPECT_TRUE(A.editBookmarks->isEnabled()) << step;
    return add;
  };

  EXPECT_FALSE(offered("no tab"));
  browser->openFiles({"/d/a.pdf"});
  EXPECT_FALSE(offered("loading"));
  finish("/d/a.pdf", std::make_shared<FakeDocumentModul>());
  EXPECT_TRUE(offered("load end"));
  browser->openFiles({"/d/winmail.dat"});
  EXPECT_FALSE(offered("switch to a loading mail tab"));
  finish("/d/winmail.dat", std::make_shared<FakeMailModul>());
  EXPECT_FALSE(offered("mail tab loaded"));
  browser->xvTab()->setSelectByItemFilePath("/d/a.pdf");
  EXPECT_TRUE(offered("switch back"));
  browser->openFiles({"/d/bad.pdf"});
  finish("/d/bad.pdf", std::make_shared<FakeDocumentModul>(false));
  EXPECT_FALSE(offered("failed load"));
  browser->xvTab()->currentSeletedItem()->clickDeleteButton();  // bad.pdf; winmail.dat is next
  EXPECT_FALSE(offered("removal to the mail tab"));
  browser->xvTab()->currentSeletedItem()->clickDeleteButton();
  EXPECT_TRUE(offered("removal to a.pdf"));
  browser->xvTab()->currentSeletedItem()->clickDeleteButton();
  EXPECT_FALSE(offered("last tab removed"));
  EXPECT_FALSE(browser->toolbarEnabled());
  EXPECT_EQ(exported, 0);
}

TEST_F(Browser, BookmarkManagerGoesOnlyToBookmarksOfTheCurrentTab) {
  auto lib = emptyBookmarkLib();
  auto inA = lib->addBookmarkNamed("in a", "/d/a.pdf", 3);
  auto inB = lib->addBookmarkNamed("in b", "/d/b.pdf", 7);
  browser->openFiles({"/d/a.pdf"});
  auto a = std::make_shared<FakeDocumentModul>();
  finish("/d/a.pdf", a);
  browser->openFiles({"/d/b.pdf"});
  auto b = std::make_shared<FakeDocumentModul>();
  finish("/d/b.pdf", b);
  a->calls.clear();
  b->calls.clear();

  // Open in another tab is not open: only the current tab counts.
  EXPECT_TRUE(browser->XVBookmarkControlDelegate_isOpen("/d/b.pdf"));
  EXPECT_FALSE(browser->XVBookmarkControlDelegate_isOpen("/d/a.pdf"));

  // Made on first use, kept, with the browser as delegate and the current document selected.
  browser->commands().actions().editBookmarks->trigger();
  XVBookmarkControl* control = browser->bookmarkControl();
  ASSERT_TRUE(control);
  EXPECT_EQ(control->delegate(), browser.get());
  EXPECT_TRUE(control->isShown());
  EXPECT_EQ(control->selectedItem().grop, lib->gropByFilePath("/d/b.pdf"));
  browser->clickMenuEditBookmarks();
  EXPECT_EQ(browser->bookmarkControl(), control);

  // Open, from the manager, reaches the current module at the bookmark's page.
  control->outlineView()->selectionModel()->setCurrentIndex(control->indexOfItem({nullptr, inB}),
                                                            QItemSelectionModel::ClearAndSelect);
  control->clickOpenBookmark();
  EXPECT_EQ(b->calls, std::vector<std::string>{"goPageAtIndex:7"});

  // The current tab changed behind the manager's back: nothing goes anywhere.
  b->calls.clear();
  browser->xvTab()->setSelectByItemFilePath("/d/a.pdf");
  a->calls.clear();
  control->clickOpenBookmark();
  browser->XVBookmarkControlDelegate_goBookmark(inB);
  EXPECT_TRUE(a->calls.empty());
  EXPECT_TRUE(b->calls.empty());

  // A bookmark without a file or with a negative page goes nowhere.
  auto noFile = XVBookmark::bookmark();
  noFile->setPageIndex(1);
  auto negative = XVBookmark::bookmark();
  negative->setFilePath("/d/a.pdf");
  negative->setPageIndex(-1);
  browser->XVBookmarkControlDelegate_goBookmark(noFile);
  browser->XVBookmarkControlDelegate_goBookmark(negative);
  EXPECT_TRUE(a->calls.empty());
  browser->XVBookmarkControlDelegate_goBookmark(inA);
  EXPECT_EQ(a->calls, std::vector<std::string>{"goPageAtIndex:3"});

  // The browser takes its manager with it.
  QPointer<XVBookmarkControl> watch(control);
  browser.reset();
  EXPECT_TRUE(watch.isNull());
}

TEST_F(Browser, LayoutButtonsShowTheCurrentDocumentsLayout) {
  browser->openFiles({"/d/a.pdf"});
  auto a = std::make_shared<FakeDocumentModul>();
  finish("/d/a.pdf", a);
  browser->commands().actions().oneOrTwoPage->trigger();  // a: two pages
  browser->commands().actions().pageContinue->trigger();  // a: not continuous
  browser->openFiles({"/d/b.pdf"});
  auto b = std::make_shared<FakeDocumentModul>();
  finish("/d/b.pdf", b);
  EXPECT_TRUE(browser->commands().tbtPage()->On());
  EXPECT_TRUE(browser->commands().tbtContinue()->On());

  // A click always changes the current document's layout.
  b->calls.clear();
  browser->commands().actions().pageContinue->trigger();
  EXPECT_EQ(b->calls, std::vector<std::string>{"setshowPageContinue:0"});
  browser->xvTab()->setSelectByItemFilePath("/d/a.pdf");
  EXPECT_FALSE(browser->commands().tbtPage()->On());
  EXPECT_FALSE(browser->commands().tbtContinue()->On());
  a->calls.clear();
  browser->commands().actions().oneOrTwoPage->trigger();
  EXPECT_EQ(a->calls, std::vector<std::string>{"setshowOneOrTwoPageIsOne:1"});
}

TEST(BrowserLog, AReleaseBuildPrintsNoDebugLinesAndEachFailureOnceWithItsFile) {
  if (foundation::printsDebugLines()) GTEST_SKIP() << "a debug build prints its debug lines";
  testsupport::guiApp();
  PDFModul::registerModul();
  testsupport::TempDir dir;
  const QString document = QString::fromStdString((dir / "doc.pdf").string());
  ASSERT_TRUE(testsupport::writeNumberedPdf(document, 3, "needle", {0, 2}));
  const QString junk = QString::fromStdString((dir / "junk.pdf").string());
  dir.write("junk.pdf", "%PDF-1.4 not a document");
  const QString locked = QStringLiteral(LECTERN_CORPUS_DIR "/pdf/libreoffice-writer-password.pdf");
  if (!QFile::exists(locked)) GTEST_SKIP() << "corpus not present";
  std::atomic<int> searches{0};
  const foundation::ObserverToken searched = foundation::NotificationCenter::defaultCenter().addObserver(
      SearchForThunbnailNotification, [&searches](const foundation::Notification&) { ++searches; });

  std::string printed;
  {
    auto manager = XVDocumentLoadManager::initWithCacheLibPath(QString::fromStdString((dir / "cache").string()));
    XVBrowserControl browser;
    browser.setDocumentLoader(manager);
    browser.resize(1000, 700);
    browser.show();
    testsupport::StderrCapture err;
    browser.openFiles({locked});
    ASSERT_TRUE(testsupport::pumpUntil([&] { return browser.failureAlert() != nullptr; }));
    browser.openFiles({junk});
    ASSERT_TRUE(testsupport::pumpUntil([&] { return browser.failureAlert()->informativeText().contains("junk.pdf"); }));
    browser.openFiles({document});
    ASSERT_TRUE(testsupport::pumpUntil([&] { return browser.toolbarEnabled(); }));
    browser.searchField()->setText("needle");
    browser.searchEndAction();
    ASSERT_TRUE(testsupport::pumpUntil([&] { return searches > 0; }));
    EXPECT_TRUE(manager->stopLoading(std::chrono::seconds(10)));
    printed = err.text();
    delete browser.failureAlert();
  }
  EXPECT_EQ(printed.find("[debug]"), std::string::npos) << printed;
  const QStringList lines = QString::fromStdString(printed).split(u'\n');
  EXPECT_EQ(lines.filter(QStringLiteral("password"), Qt::CaseInsensitive).size(), 1) << printed;
  // A failure's line names its file.
  EXPECT_EQ(lines.filter(junk + QStringLiteral(": ")).size(), 1) << printed;
}
