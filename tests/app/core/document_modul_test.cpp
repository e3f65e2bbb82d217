#include "core/DocumentModul.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <thread>
#include <vector>

#include "core/XVGuarded.h"
#include "platform/foundation/log.h"
#include "platform/foundation/plugin.h"

namespace {

class FakeModule : public DocumentModul {
 public:
  explicit FakeModule(DocumentModul::Kind k) : kind(k) {}
  DocumentModul::Kind kind;
  std::function<void(FakeModule&)> run;
  bool opens = true;
  bool throws = false;
  QString opened;

  bool importWithResultPath(const QString& path) override {
    opened = path;
    if (throws) throw std::runtime_error("cannot open");
    return opens;
  }
  QWidget* documentView() override { return nullptr; }
  using ImportInterface::sendEnd;
  using ImportInterface::sendProgress;
  using ImportInterface::sendStart;
  using ImportInterface::finishImport;

 protected:
  void doStartImport() override { run(*this); }
};

struct Recorder : ImportProgressDelegate {
  std::vector<std::string> events;
  void ImportProgressDelegate_start(ImportInterface*) override { events.push_back("start"); }
  void ImportProgressDelegate_Progress(double p, ImportInterface*) override {
    events.push_back("progress " + std::to_string(static_cast<int>(p)));
  }
  void ImportProgressDelegate_end(bool ok, ImportInterface*, const QString& error) override {
    events.push_back(std::string(ok ? "end yes" : "end no") + (error.isEmpty() ? "" : " " + error.toStdString()));
  }
};

class Factory : public ::testing::Test {
 protected:
  void SetUp() override {
    for (auto k : {DocumentModul::Kind::XPS, DocumentModul::Kind::Works, DocumentModul::Kind::Winmail,
                   DocumentModul::Kind::PDF, DocumentModul::Kind::DjVu, DocumentModul::Kind::Visio,
                   DocumentModul::Kind::DXF, DocumentModul::Kind::WordPerfect}) {
      DocumentModul::registerModuleClass(k, [k](const QString&) { return std::make_shared<FakeModule>(k); });
    }
  }
  void TearDown() override {
    for (int k = 0; k < 8; ++k) DocumentModul::registerModuleClass(static_cast<DocumentModul::Kind>(k), nullptr);
  }
};

}  // namespace

TEST_F(Factory, PicksTheFirstListThatHoldsTheExtension) {
  using K = DocumentModul::Kind;
  struct Case {
    const char* path;
    bool module;
    K kind;
  } cases[] = {{"/d/a.vsx", true, K::XPS},         {"/d/a.oxps", true, K::XPS},
               {"/d/a.Wq1", true, K::Works},       {"/d/a.wq1", true, K::Works},
               {"/d/winmail.dat", true, K::Winmail}, {"/d/WINMAIL.DAT", true, K::Winmail},
               {"/d/REPORT.PDF", true, K::PDF},    {"/d/a.djvu", true, K::DjVu},
               {"/d/a.vsdx", true, K::Visio},      {"/d/a.wp5", true, K::WordPerfect},
               {"/d/a.dxf", false, K::DXF},        {"/d/noextension", false, K::PDF},
               {"/d/a.txt", false, K::PDF},        {"/d.pdf/noext", false, K::PDF}};
  for (const auto& c : cases) {
    auto m = DocumentModul::documentModulFilePath(c.path);
    ASSERT_EQ(m != nullptr, c.module) << c.path;
    if (m) {
      EXPECT_EQ(static_cast<FakeModule*>(m.get())->kind, c.kind) << c.path;
    }
  }
}

TEST_F(Factory, KnowsTheKindOfModuleBeforeMakingIt) {
  using MK = ImportInterface::ModuleKind;
  for (const char* path : {"/d/winmail.dat", "/d/WINMAIL.DAT"})
    EXPECT_EQ(DocumentModul::moduleKindForPath(path), MK::Message) << path;
  for (const char* path : {"/d/a.pdf", "/d/a.vsdx", "/d/a.dxf", "/d/a.txt", "/d/dat", "/d.dat/noext"})
    EXPECT_EQ(DocumentModul::moduleKindForPath(path), MK::PageDocument) << path;

  // Every PDF-based module is a page document that answers every page operation.
  FakeModule m(DocumentModul::Kind::PDF);
  ImportInterface& module = m;
  EXPECT_EQ(module.moduleKind(), MK::PageDocument);
  EXPECT_EQ(module.pageDocument(), &m);
  for (auto c : {ImportInterface::PageNavigation, ImportInterface::Zoom, ImportInterface::Rotation,
                 ImportInterface::PageLayouts, ImportInterface::ThumbnailList, ImportInterface::Search,
                 ImportInterface::Print, ImportInterface::Bookmarks})
    EXPECT_TRUE(module.capabilities().testFlag(c)) << c;
}

TEST_F(Factory, UnregisteredSlotGivesNoModule) {
  DocumentModul::registerModuleClass(DocumentModul::Kind::PDF, nullptr);
  EXPECT_EQ(DocumentModul::documentModulFilePath("/d/a.pdf"), nullptr);
  EXPECT_FALSE(DocumentModul::fileExtension("pdf", {}));
}

namespace {

// What the test plugin's entry registers, and how often it ran.
std::atomic<int> pluginEntries{0};
std::function<void()> pluginRegisters;

}  // namespace

extern "C" __attribute__((visibility("default"))) void lectern_test_modul_plugin_entered() {
  ++pluginEntries;
  if (pluginRegisters) pluginRegisters();
}

class PluginFactory : public Factory {
 protected:
  void SetUp() override {
    Factory::SetUp();
    pluginEntries = 0;
    pluginRegisters = [] {
      DocumentModul::registerModuleClass(DocumentModul::Kind::XPS, [](const QString&) {
        return std::make_shared<FakeModule>(DocumentModul::Kind::XPS);
      });
    };
    DocumentModul::registerModulePlugin(DocumentModul::Kind::XPS, "lectern-test-modul");
  }
  void TearDown() override {
    pluginRegisters = nullptr;
    Factory::TearDown();
  }
};

TEST_F(PluginFactory, ThePluginLoadsWithTheFirstFileOfItsSlot) {
  using K = DocumentModul::Kind;
  for (const char* path : {"/d/a.pdf", "/d/a.wq1", "/d/a.djvu", "/d/a.txt", "/d/a.dxf"})
    DocumentModul::documentModulFilePath(path);
  EXPECT_EQ(pluginEntries, 0);

  auto m = DocumentModul::documentModulFilePath("/d/a.oxps");
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(static_cast<FakeModule*>(m.get())->kind, K::XPS);
  EXPECT_TRUE(foundation::pluginLoaded("lectern-test-modul"));
  // The plugin's creator serves from now on: the entry does not run again.
  ASSERT_NE(DocumentModul::documentModulFilePath("/d/b.xps"), nullptr);
  EXPECT_EQ(pluginEntries, 1);
}

TEST_F(PluginFactory, APluginsDecliningCreatorLeavesTheFileToTheNextSlot) {
  using K = DocumentModul::Kind;
  pluginRegisters = [] {
    DocumentModul::registerModuleClass(K::XPS, [](const QString& path) -> DocumentModul::Creator::result_type {
      if (path.endsWith(".vsx")) return nullptr;
      return std::make_shared<FakeModule>(K::XPS);
    });
  };
  struct Case {
    const char* path;
    K kind;
  } cases[] = {{"/d/a.vsx", K::Visio}, {"/d/a.xps", K::XPS}, {"/d/b.vsx", K::Visio}};
  for (const auto& c : cases) {
    auto m = DocumentModul::documentModulFilePath(c.path);
    ASSERT_NE(m, nullptr) << c.path;
    EXPECT_EQ(static_cast<FakeModule*>(m.get())->kind, c.kind) << c.path;
  }
}

TEST_F(PluginFactory, ASlotWithoutItsModuleGivesNoneAndSaysWhy) {
  using K = DocumentModul::Kind;
  struct Case {
    const char* plugin;
    std::function<void()> registers;
    const char* logged;
  } cases[] = {
      {"lectern-no-such-plugin", nullptr, "cannot load"},
      {"lectern-test-modul", [] {}, "registers no module"},
      // A plugin that fills another slot only.
      {"lectern-test-modul",
       [] { DocumentModul::registerModuleClass(K::DjVu, [](const QString&) { return std::make_shared<FakeModule>(K::DjVu); }); },
       "registers no module"},
  };
  for (const auto& c : cases) {
    pluginRegisters = c.registers;
    DocumentModul::registerModulePlugin(K::Works, c.plugin);
    foundation::ScopedLogCapture capture;
    EXPECT_EQ(DocumentModul::documentModulFilePath("/d/a.wq1"), nullptr) << c.plugin;
    EXPECT_TRUE(capture.contains(c.logged)) << c.plugin;
    // Asked again, the slot tries again.
    pluginRegisters = [] {
      DocumentModul::registerModuleClass(K::Works, [](const QString&) { return std::make_shared<FakeModule>(K::Works); });
    };
    if (std::string(c.plugin) == "lectern-test-modul") {
      EXPECT_NE(DocumentModul::documentModulFilePath("/d/a.wq1"), nullptr);
    }
  }
}

TEST_F(PluginFactory, ThreadsAskingAtOnceAllGetAModule) {
  constexpr int kThreads = 8;
  std::vector<std::thread> threads;
  std::atomic<int> served{0};
  for (int i = 0; i < kThreads; ++i)
    threads.emplace_back([&served] {
      if (DocumentModul::documentModulFilePath("/d/a.xps")) ++served;
    });
  for (auto& t : threads) t.join();
  EXPECT_EQ(served, kThreads);
}

TEST(ImportInterface, ExactlyOneEndPerStart) {
  auto rec = std::make_shared<Recorder>();
  FakeModule m(DocumentModul::Kind::PDF);
  m.setDelegate(rec);
  m.run = [](FakeModule& self) {
    self.sendStart();
    self.sendProgress(50);
    EXPECT_TRUE(self.sendEnd(true, QString()));
    EXPECT_FALSE(self.sendEnd(false, "late"));
    self.sendProgress(99);  // after the end: dropped
  };
  m.startImport();
  EXPECT_EQ(rec->events, (std::vector<std::string>{"start", "progress 50", "end yes"}));
  EXPECT_TRUE(m.importEnded());

  rec->events.clear();
  m.run = [](FakeModule&) { throw std::runtime_error("converter broke"); };
  m.startImport();
  EXPECT_EQ(rec->events, (std::vector<std::string>{"end no An unknown error"}));
}

TEST(ImportInterface, UnopenableResultEndsWithNo) {
  auto rec = std::make_shared<Recorder>();
  FakeModule m(DocumentModul::Kind::PDF);
  m.setDelegate(rec);
  m.setImportOutPath("/cache/key");
  m.opens = false;
  m.run = [](FakeModule& self) { self.finishImport(self.outPath(), "Unknown error!"); };
  m.startImport();
  EXPECT_EQ(m.opened, "/cache/key");
  EXPECT_EQ(rec->events, (std::vector<std::string>{"end no Unknown error!"}));

  // An open that throws is a result that does not open, also on the module's own thread.
  rec->events.clear();
  m.throws = true;
  m.run = [](FakeModule& self) {
    std::thread([&self] { self.finishImport(self.outPath(), "Unknown error!"); }).join();
  };
  m.startImport();
  EXPECT_EQ(rec->events, (std::vector<std::string>{"end no Unknown error!"}));

  // A delegate that has gone away is simply not called.
  rec.reset();
  m.throws = false;
  m.opens = true;
  m.startImport();
  EXPECT_TRUE(m.importEnded());
}

TEST(XVGuarded, AThrowBecomesOneErrorLineAndTheFallback) {
  foundation::ScopedLogCapture log;
  EXPECT_EQ(XVGuardedCall("load", "opening /c/k", [] { return 7; }, 0), 7);
  EXPECT_TRUE(XVGuardedRun("load", "loading /d/a.pdf", [] {}));
  EXPECT_TRUE(log.records().empty());

  EXPECT_EQ(XVGuardedCall("load", "opening /c/k", []() -> int { throw std::runtime_error("bad xref"); }, -1), -1);
  EXPECT_FALSE(XVGuardedRun("module", "the import of /d/a.pdf", [] { throw 42; }));
  const auto records = log.records();
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].level, foundation::LogLevel::Error);
  EXPECT_EQ(records[0].category, "load");
  EXPECT_EQ(records[0].message, "opening /c/k failed: bad xref");
  EXPECT_EQ(records[1].category, "module");
  EXPECT_EQ(records[1].message, "the import of /d/a.pdf failed");
}

TEST(Format, FixedRecords) {
  const Format plain = Format::format();
  EXPECT_TRUE(plain.hasProgress());
  EXPECT_TRUE(plain.canRangePage());
  EXPECT_TRUE(plain.isNull());
  const Format rtfd = Format::formatNamed("RTFD");
  EXPECT_EQ(rtfd.extension(), "rtfd");
  EXPECT_FALSE(rtfd.hasProgress());
  EXPECT_FALSE(rtfd.canRangePage());
  EXPECT_EQ(Format::formatNamed("JPEG").extension(), "jpg");
  EXPECT_EQ(Format::formatNamed("TIFF").formatThumbnail(), ":/icons/pic_icon_tiff.svg");
  EXPECT_TRUE(Format::formatNamed("pdf").isNull());  // names compare exactly
  EXPECT_EQ(Format::allFormats().size(), 8);
}
