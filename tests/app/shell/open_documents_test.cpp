#include "shell/XVOpenDocuments.h"

#include <gtest/gtest.h>

namespace {

using LoadState = XVOpenDocument::LoadState;
using ModuleKind = ImportInterface::ModuleKind;

class PageModule : public DocumentModul {
 public:
  explicit PageModule(bool hasPDF) : hasPDF_(hasPDF) {}
  bool importWithResultPath(const QString&) override { return hasPDF_; }
  // Only compared with null by the model.
  pdfkit::PDFDocument* DocumentModulPDFDocument() override {
    return hasPDF_ ? reinterpret_cast<pdfkit::PDFDocument*>(this) : nullptr;
  }
  QWidget* documentView() override { return nullptr; }
  qint64 DocumentcountPage() override { return pages; }
  qint64 pages = 3;

 protected:
  void doStartImport() override {}

 private:
  bool hasPDF_;
};

std::shared_ptr<PageModule> emptyPDF() {
  auto m = std::make_shared<PageModule>(true);
  m->pages = 0;
  return m;
}

class MessageModule : public ImportInterface {
 public:
  explicit MessageModule(bool opened = true) : opened_(opened) {}
  ModuleKind moduleKind() const override { return ModuleKind::Message; }
  bool importWithResultPath(const QString&) override { return true; }
  bool hasOpenResult() override { return opened_; }
  QWidget* documentView() override { return nullptr; }

 protected:
  void doStartImport() override {}

 private:
  bool opened_;
};

}  // namespace

TEST(XVOpenDocuments, OneDocumentPerPathLoadedAtMostOnce) {
  XVOpenDocuments docs;
  EXPECT_TRUE(docs.add("/d/a.pdf"));
  EXPECT_TRUE(docs.add("/d/b.pdf"));
  EXPECT_FALSE(docs.add("/d/a.pdf"));
  EXPECT_TRUE(docs.add("/d/A.pdf"));  // another path string, another document
  EXPECT_EQ(docs.paths(), (QStringList{"/d/a.pdf", "/d/b.pdf", "/d/A.pdf"}));

  auto a = docs.find("/d/a.pdf");
  ASSERT_TRUE(a);
  EXPECT_EQ(a->loadState(), LoadState::Added);
  EXPECT_FALSE(a->loadRequested());
  // An end that nobody asked for changes nothing.
  EXPECT_FALSE(docs.endLoad("/d/a.pdf", std::make_shared<PageModule>(true)));
  EXPECT_EQ(a->module(), nullptr);

  EXPECT_TRUE(docs.requestLoad("/d/a.pdf"));
  EXPECT_FALSE(docs.requestLoad("/d/a.pdf"));
  EXPECT_FALSE(docs.requestLoad("/d/none.pdf"));
  EXPECT_EQ(a->loadState(), LoadState::Loading);
  auto module = std::make_shared<PageModule>(true);
  EXPECT_EQ(docs.endLoad("/d/a.pdf", module), a);
  EXPECT_EQ(a->loadState(), LoadState::Shown);
  // Ends once; a later end for the same path is not this load's.
  EXPECT_FALSE(docs.endLoad("/d/a.pdf", std::make_shared<PageModule>(true)));
  EXPECT_EQ(a->module(), module);
  EXPECT_FALSE(docs.requestLoad("/d/a.pdf"));

  // Closed while loading: its end goes nowhere, and the same path opens anew.
  ASSERT_TRUE(docs.requestLoad("/d/b.pdf"));
  docs.remove("/d/b.pdf");
  EXPECT_FALSE(docs.contains("/d/b.pdf"));
  EXPECT_FALSE(docs.endLoad("/d/b.pdf", std::make_shared<PageModule>(true)));
  EXPECT_TRUE(docs.add("/d/b.pdf"));
  EXPECT_EQ(docs.find("/d/b.pdf")->loadState(), LoadState::Added);
  EXPECT_EQ(docs.paths(), (QStringList{"/d/a.pdf", "/d/A.pdf", "/d/b.pdf"}));
}

TEST(XVOpenDocuments, TheLoadEndDecidesShownOrFailedByTheModule) {
  struct Case {
    const char* path;
    std::shared_ptr<ImportInterface> module;
    LoadState state;
    ModuleKind kind;
    bool pages;  // offers page operations
    const char* errorInfo;
    const char* failureInfo;  // what the failed document keeps
  } cases[] = {
      {"/d/a.pdf", std::make_shared<PageModule>(true), LoadState::Shown, ModuleKind::PageDocument, true, "", ""},
      {"/d/b.pdf", std::make_shared<PageModule>(false), LoadState::Failed, ModuleKind::PageDocument, false,
       "It is protected by a password.", "It is protected by a password."},
      {"/d/c.pdf", nullptr, LoadState::Failed, ModuleKind::PageDocument, false, "Unknown error!", "Unknown error!"},
      // A PDF without pages has nothing to show.
      {"/d/empty.pdf", emptyPDF(), LoadState::Failed, ModuleKind::PageDocument, false, "", "It has no pages."},
      {"/d/winmail.dat", std::make_shared<MessageModule>(), LoadState::Shown, ModuleKind::Message, false, "", ""},
      {"/d/WINMAIL.DAT", nullptr, LoadState::Failed, ModuleKind::Message, false, "", ""},
      {"/d/broken.dat", std::make_shared<MessageModule>(false), LoadState::Failed, ModuleKind::Message, false, "", ""},
      // The module's word wins over the name of the file.
      {"/d/scan.dat", std::make_shared<PageModule>(true), LoadState::Shown, ModuleKind::PageDocument, true, "", ""},
      {"/d/mail.pdf", std::make_shared<MessageModule>(), LoadState::Shown, ModuleKind::Message, false, "", ""},
  };
  XVOpenDocuments docs;
  for (const auto& c : cases) {
    ASSERT_TRUE(docs.add(c.path));
    ASSERT_TRUE(docs.requestLoad(c.path));
    const auto d = docs.find(c.path);
    EXPECT_EQ(d->capabilities(), ImportInterface::Capabilities()) << c.path;  // nothing while loading
    EXPECT_EQ(docs.endLoad(c.path, c.module, QString::fromUtf8(c.errorInfo)), d) << c.path;
    EXPECT_EQ(d->loadState(), c.state) << c.path;
    EXPECT_EQ(d->failureInfo(), QString::fromUtf8(c.failureInfo)) << c.path;
    EXPECT_EQ(d->kind(), c.kind) << c.path;
    EXPECT_EQ(d->shownPageDocument() != nullptr, c.pages) << c.path;
    EXPECT_EQ(d->capabilities() != ImportInterface::Capabilities(), c.pages) << c.path;
  }
  // Before its load ends, a document is what the factory makes for its path.
  docs.add("/d/other.DAT");
  EXPECT_TRUE(docs.find("/d/other.DAT")->isMessage());
  docs.add("/d/other.vsd");
  EXPECT_FALSE(docs.find("/d/other.vsd")->isMessage());
}
