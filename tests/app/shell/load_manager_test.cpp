#include "shell/XVDocumentLoadManager.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <atomic>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <condition_variable>
#include <mutex>
#include <set>
#include <stdexcept>
#include <thread>
#include <vector>

#include "platform/foundation/notification_center.h"
#include "core/XVBaseFunction.h"
#include "shell/XVFileCacheLib.h"
#include "shell/XVFileKey.h"
#include "core/XVNotifications.h"
#include "support/temp_dir.h"

using namespace std::chrono_literals;

namespace {

QString q(const std::filesystem::path& p) { return QString::fromStdString(p.string()); }

bool waitFor(const std::function<bool()>& done, std::chrono::milliseconds timeout = 10s) {
  const auto until = std::chrono::steady_clock::now() + timeout;
  while (!done()) {
    if (std::chrono::steady_clock::now() > until) return false;
    std::this_thread::sleep_for(1ms);
  }
  return true;
}

// The fakes call back into the manager from every call the manager makes to them, so a lock
// held across such a call deadlocks the test.
std::atomic<XVDocumentLoadManager*> reentry{nullptr};
void reenterManager() {
  if (auto* m = reentry.load()) (void)m->loadArray();
}

// How a fake module converts, chosen by the file's extension.
enum class Mode {
  Sync,      // pdf: converts and ends inside startImport
  Async,     // xps: ends later from its own thread, once the gate is open
  FailLater, // djvu: writes a partial output, fails later from its own thread
  Garbage,   // vsd: writes a result that cannot be opened
  Throw,     // wpd: writes a partial output and throws
  Hang,      // wps: runs until stopImport, then fails
};

struct Lab {
  std::mutex mutex;
  std::condition_variable changed;
  bool gateOpen = true;
  int conversions = 0;
  int running = 0;     // conversions (not PDF copies) started and not yet ended
  int maxRunning = 0;  // the most of them at one time
  int modulesMade = 0;
  int stops = 0;
  std::vector<bool> leftoverAtStart;
  std::vector<std::thread> threads;

  void setGate(bool open) {
    std::lock_guard lock(mutex);
    gateOpen = open;
    changed.notify_all();
  }
  int count(int Lab::*field) {
    std::lock_guard lock(mutex);
    return this->*field;
  }
  void joinAll() {
    setGate(true);
    std::vector<std::thread> all;
    {
      std::lock_guard lock(mutex);
      all.swap(threads);
    }
    for (auto& t : all) t.join();
  }
};

const QByteArray kResult = "RESULT:";

class FakeModule : public DocumentModul, public std::enable_shared_from_this<FakeModule> {
 public:
  FakeModule(Lab& lab, Mode mode) : lab_(lab), mode_(mode) {}

  bool importWithResultPath(const QString& path) override {
    reenterManager();
    if (sourcePath().contains("throws")) throw std::runtime_error("cannot open the result");
    QFile f(path);
    const bool ok = f.open(QIODevice::ReadOnly) && f.readAll().startsWith(kResult);
    std::lock_guard lock(mutex_);
    opened_ = ok ? path : QString();
    return ok;
  }
  QWidget* documentView() override { return nullptr; }
  void stopImport() override {
    reenterManager();
    std::lock_guard lock(lab_.mutex);
    ++lab_.stops;
    stopRequested_ = true;
    lab_.changed.notify_all();
  }
  QString opened() const {
    std::lock_guard lock(mutex_);
    return opened_;
  }

 protected:
  void doStartImport() override {
    reenterManager();
    {
      std::lock_guard lock(lab_.mutex);
      ++lab_.conversions;
      if (mode_ != Mode::Sync) lab_.maxRunning = std::max(lab_.maxRunning, ++lab_.running);
      lab_.leftoverAtStart.push_back(QFileInfo::exists(outPath()));
    }
    switch (mode_) {
      case Mode::Sync:
        write(kResult);
        finishImport(outPath(), "An unknown error");
        return;
      case Mode::Garbage:
        write("garbage");
        ended();
        finishImport(outPath(), "An unknown error");
        return;
      case Mode::Throw:
        write("partial");
        ended();
        throw std::runtime_error("converter broke");
      case Mode::Async:
      case Mode::FailLater:
      case Mode::Hang:
        break;
    }
    std::lock_guard lock(lab_.mutex);
    lab_.threads.emplace_back([self = shared_from_this()] { self->runLater(); });
  }

 private:
  void write(const QByteArray& bytes) {
    QFile src(sourcePath());
    QByteArray content = bytes;
    if (src.open(QIODevice::ReadOnly)) content += src.readAll();
    QFile out(outPath());
    if (out.open(QIODevice::WriteOnly)) out.write(content);
  }
  void runLater() {
    {
      std::unique_lock lock(lab_.mutex);
      lab_.changed.wait(lock, [&] { return mode_ == Mode::Hang ? stopRequested_ : lab_.gateOpen; });
    }
    if (mode_ == Mode::Async) {
      sendStart();
      sendProgress(50);
      write(kResult);
      ended();
      finishImport(outPath(), "An unknown error");
    } else {
      write("partial");
      ended();
      sendEnd(false, "An unknown error");
    }
  }
  void ended() {
    std::lock_guard lock(lab_.mutex);
    --lab_.running;
  }

  Lab& lab_;
  const Mode mode_;
  bool stopRequested_ = false;  // guarded by lab_.mutex
  mutable std::mutex mutex_;
  QString opened_;
};

struct Event {
  enum Kind { Start, Progress, End } kind;
  QString path;
  std::shared_ptr<ImportInterface> module;
  QString error;
  std::thread::id thread;
};

class Requester : public XVloadDocumentProgressDelegate {
 public:
  explicit Requester(unsigned answered = AnswersAll) : answered_(answered) {}
  unsigned answeredMessages() const override { return answered_; }

  void XVLoad_Start(const QString& filePath) override { add({Event::Start, filePath, nullptr, {}, {}}); }
  void XVLoad_progress(double, const QString& filePath) override { add({Event::Progress, filePath, nullptr, {}, {}}); }
  void XVLoad_End(std::shared_ptr<ImportInterface> import, const QString& filePath, const QString& errorInfo) override {
    add({Event::End, filePath, import, errorInfo, {}});
    std::function<void()> hook;
    {
      std::lock_guard lock(mutex_);
      hook = std::exchange(onFirstEnd, nullptr);
    }
    if (hook) hook();
  }

  std::vector<Event> events() const {
    std::lock_guard lock(mutex_);
    return events_;
  }
  std::vector<Event> ends() const {
    std::vector<Event> out;
    for (const auto& e : events()) {
      if (e.kind == Event::End) out.push_back(e);
    }
    return out;
  }
  std::vector<Event::Kind> kinds(const QString& path) const {
    std::vector<Event::Kind> out;
    for (const auto& e : events()) {
      if (e.path == path) out.push_back(e.kind);
    }
    return out;
  }
  void clear() {
    std::lock_guard lock(mutex_);
    events_.clear();
  }

  std::function<void()> onFirstEnd;  // set before loading

 private:
  void add(Event e) {
    reenterManager();
    e.thread = std::this_thread::get_id();
    std::lock_guard lock(mutex_);
    events_.push_back(std::move(e));
  }
  const unsigned answered_;
  mutable std::mutex mutex_;
  std::vector<Event> events_;
};

FakeModule* fake(const std::shared_ptr<ImportInterface>& m) { return dynamic_cast<FakeModule*>(m.get()); }

class LoadManager : public ::testing::Test {
 protected:
  void SetUp() override {
    using K = DocumentModul::Kind;
    const std::pair<K, Mode> kinds[] = {{K::PDF, Mode::Sync},     {K::XPS, Mode::Async},   {K::DjVu, Mode::FailLater},
                                        {K::Visio, Mode::Garbage}, {K::WordPerfect, Mode::Throw}, {K::Works, Mode::Hang}};
    for (const auto& [kind, mode] : kinds) {
      DocumentModul::registerModuleClass(kind, [this, mode = mode](const QString& path) {
        if (path.contains("factory-fails")) throw std::runtime_error("no module today");
        {
          std::lock_guard lock(lab.mutex);
          ++lab.modulesMade;
        }
        return std::make_shared<FakeModule>(lab, mode);
      });
    }
    DocumentModul::registerModuleClass(K::Winmail, nullptr);  // a factory slot with no module
    cacheDir = q(dir / "cache");
    manager = XVDocumentLoadManager::initWithCacheLibPath(cacheDir);
    manager->setConversionLimit(64);  // whatever the machine; the tests of the limit set their own
    reentry = manager.get();
    errorToken = foundation::NotificationCenter::defaultCenter().addObserver(
        Open_Filed_Error_Info, [this](const foundation::Notification& n) {
          const QString* path = n.value<QString>(XVFilePathUserInfoKey);
          std::lock_guard lock(lab.mutex);
          errorPaths.push_back(path ? *path : QStringLiteral("<none>"));
        });
  }
  void TearDown() override {
    lab.setGate(true);
    EXPECT_TRUE(manager->stopLoading(10s));
    lab.joinAll();
    reentry = nullptr;
    errorToken.reset();
    manager.reset();
    for (int k = 0; k < 8; ++k) DocumentModul::registerModuleClass(static_cast<DocumentModul::Kind>(k), nullptr);
  }

  QString file(const std::string& name, const std::string& bytes) { return q(dir.write("docs/" + name, bytes)); }
  QString keyOf(const QString& path) { return XVFileKey::FileKeyByFilePath(path); }
  QString outputOf(const QString& path) { return cacheDir + "/" + keyOf(path); }
  bool idle() { return manager->waitUntilIdle(10s); }
  std::vector<QString> notifiedPaths() {
    std::lock_guard lock(lab.mutex);
    return errorPaths;
  }

  testsupport::TempDir dir;
  Lab lab;
  QString cacheDir;
  std::shared_ptr<XVDocumentLoadManager> manager;
  foundation::ObserverToken errorToken;
  std::vector<QString> errorPaths;  // guarded by lab.mutex
};

using K = Event::Kind;

TEST_F(LoadManager, ConvertsOnceThenServesFromTheCacheOnTheRequestThread) {
  const QString a = file("a.pdf", "%PDF-1.4 one");
  auto req = std::make_shared<Requester>();
  manager->loadDocumentByFilePath(a, req);
  ASSERT_TRUE(idle());
  auto ends = req->ends();
  ASSERT_EQ(ends.size(), 1u);
  EXPECT_TRUE(ends[0].error.isNull());
  ASSERT_NE(fake(ends[0].module), nullptr);
  EXPECT_EQ(ends[0].module->outPath(), outputOf(a));
  EXPECT_EQ(manager->cacheLib()->cacheFilePathByID(keyOf(a)), outputOf(a));
  EXPECT_TRUE(manager->loadArray().isEmpty());
  const auto converted = ends[0].module;

  req->clear();
  manager->loadDocumentByFilePath(a, req);
  ASSERT_TRUE(idle());
  EXPECT_EQ(req->kinds(a), (std::vector<K>{K::Start, K::End}));  // no progress from the cache
  ends = req->ends();
  ASSERT_EQ(ends.size(), 1u);
  EXPECT_NE(ends[0].module, converted);
  EXPECT_EQ(fake(ends[0].module)->opened(), outputOf(a));
  EXPECT_EQ(ends[0].module->sourcePath(), a);
  EXPECT_NE(ends[0].thread, std::this_thread::get_id());
  EXPECT_EQ(req->events()[0].thread, ends[0].thread);
  EXPECT_EQ(lab.count(&Lab::conversions), 1);

  // A requester that does not take the end gets nothing imported from the cache.
  const int made = lab.count(&Lab::modulesMade);
  auto startOnly = std::make_shared<Requester>(XVloadDocumentProgressDelegate::AnswersStart);
  manager->loadDocumentByFilePath(a, startOnly);
  ASSERT_TRUE(idle());
  EXPECT_EQ(startOnly->kinds(a), (std::vector<K>{K::Start}));
  EXPECT_EQ(lab.count(&Lab::modulesMade), made);
}

TEST_F(LoadManager, WaitersOnOneConversionEachGetTheirOwnModule) {
  lab.setGate(false);
  const QString a = file("a.xps", "same bytes");
  const QString b = file("copy/b.xps", "same bytes");
  auto req = std::make_shared<Requester>();
  auto other = std::make_shared<Requester>();
  manager->loadDocumentByFilePath(a, req);
  ASSERT_TRUE(waitFor([&] { return lab.count(&Lab::conversions) == 1; }));
  manager->loadDocumentByFilePath(b, req);    // same content, other path: joins
  manager->loadDocumentByFilePath(a, other);  // same path, other requester: joins
  ASSERT_TRUE(waitFor([&] { return manager->loadArray().size() == 3; }));
  manager->loadDocumentByFilePath(a, req);  // same path, same requester: refused
  manager->loadDocumentByFilePath(b, req);  // also for a request that joined
  ASSERT_TRUE(waitFor([&] { return notifiedPaths().size() == 2; }));
  const auto notified = notifiedPaths();
  EXPECT_EQ(std::set<QString>(notified.begin(), notified.end()), (std::set<QString>{a, b}));
  EXPECT_EQ(manager->itemArrayByImport(manager->firstItemByFileKey(keyOf(a))->import().get()).size(), 3);

  lab.setGate(true);
  ASSERT_TRUE(idle());
  EXPECT_EQ(lab.count(&Lab::conversions), 1);
  EXPECT_EQ(manager->cacheLib()->cacheFileCount(), 1);
  EXPECT_EQ(req->kinds(a), (std::vector<K>{K::Start, K::Progress, K::End}));
  EXPECT_EQ(req->kinds(b), (std::vector<K>{K::Start, K::Progress, K::End}));
  EXPECT_EQ(other->kinds(a), (std::vector<K>{K::Start, K::Progress, K::End}));

  std::set<ImportInterface*> modules;
  for (const auto& e : req->ends()) modules.insert(e.module.get());
  for (const auto& e : other->ends()) modules.insert(e.module.get());
  EXPECT_EQ(modules.size(), 3u) << "a module was handed to two requests";
  EXPECT_EQ(modules.count(nullptr), 0u);
  for (const auto& e : other->ends()) EXPECT_EQ(fake(e.module)->opened(), outputOf(a));
  for (const auto& e : req->ends()) {
    if (e.path == b) {
      EXPECT_EQ(e.module->sourcePath(), b);
    }
  }
}

TEST_F(LoadManager, FailedConversionRemovesOnlyItsOwnOutput) {
  struct Case {
    const char* name;
    bool joiner;
  } cases[] = {{"a.djvu", true}, {"a.vsd", false}, {"a.wpd", false}};
  const QString keep = q(dir.write("cache/0123456789abcdef0123456789abcdef7", "RESULT:other"));
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    lab.setGate(false);
    const QString src = file(c.name, std::string("content of ") + c.name);
    dir.write("cache/" + keyOf(src).toStdString(), "left by a crash");
    auto req = std::make_shared<Requester>();
    auto joiner = std::make_shared<Requester>();
    manager->loadDocumentByFilePath(src, req);
    if (c.joiner) {
      ASSERT_TRUE(waitFor([&] { return manager->loadArray().size() == 1; }));
      manager->loadDocumentByFilePath(src, joiner);
      ASSERT_TRUE(waitFor([&] { return manager->loadArray().size() == 2; }));
    }
    lab.setGate(true);
    ASSERT_TRUE(idle());
    {
      std::lock_guard lock(lab.mutex);
      EXPECT_FALSE(lab.leftoverAtStart.back()) << "the leftover output was not removed before the start";
    }
    const auto ends = req->ends();
    ASSERT_EQ(ends.size(), 1u);
    EXPECT_NE(ends[0].module, nullptr);  // the converting request keeps its module
    EXPECT_EQ(ends[0].error, "An unknown error");
    if (c.joiner) {
      const auto j = joiner->ends();
      ASSERT_EQ(j.size(), 1u);
      EXPECT_EQ(j[0].module, nullptr);
      EXPECT_EQ(j[0].error, "An unknown error");
    }
    EXPECT_FALSE(QFileInfo::exists(outputOf(src)));
    EXPECT_TRUE(manager->cacheLib()->cacheFilePathByID(keyOf(src)).isNull());
  }
  EXPECT_TRUE(QFileInfo::exists(keep));
  EXPECT_TRUE(QFileInfo::exists(cacheDir + "/lib_config"));
}

TEST_F(LoadManager, StaleCacheEntryIsConvertedAgain) {
  const QString a = file("a.pdf", "%PDF stale");
  auto req = std::make_shared<Requester>();
  const std::function<void()> spoil[] = {[&] { QFile::remove(outputOf(a)); },
                                         [&] { dir.write("cache/" + keyOf(a).toStdString(), "not a result"); }};
  manager->loadDocumentByFilePath(a, req);
  ASSERT_TRUE(idle());
  for (const auto& s : spoil) {
    s();
    req->clear();
    manager->loadDocumentByFilePath(a, req);
    ASSERT_TRUE(idle());
    const auto ends = req->ends();
    ASSERT_EQ(ends.size(), 1u);
    EXPECT_NE(ends[0].module, nullptr);
    EXPECT_TRUE(ends[0].error.isNull());
    EXPECT_EQ(manager->cacheLib()->cacheFilePathByID(keyOf(a)), outputOf(a));
  }
  EXPECT_EQ(lab.count(&Lab::conversions), 3);
  // The index on disk agrees.
  EXPECT_EQ(XVFileCacheLib(cacheDir).cacheFilePathByID(keyOf(a)), outputOf(a));

  // The whole cache folder removed while running: a new document still converts into it.
  ASSERT_TRUE(QDir(cacheDir).removeRecursively());
  const QString b = file("b.pdf", "%PDF fresh");
  req->clear();
  manager->loadDocumentByFilePath(b, req);
  ASSERT_TRUE(idle());
  const auto ends = req->ends();
  ASSERT_EQ(ends.size(), 1u);
  EXPECT_TRUE(ends[0].error.isNull());
  EXPECT_TRUE(QFileInfo::exists(outputOf(b)));
}

TEST_F(LoadManager, RequestsWithoutKeyOrModuleEndWithAnError) {
  const QString keep = q(dir.write("cache/0123456789abcdef0123456789abcdef7", "RESULT:other"));
  QDir().mkpath(q(dir / "docs/folder.pdf"));
  // A file that cannot be read says why; one without a module has no reason of its own.
  const std::pair<QString, QString> cases[] = {{q(dir / "docs/missing.pdf"), "The file does not exist."},
                                               {q(dir / "docs/folder.pdf"), "It is not a regular file."},
                                               {file("a.dxf", "dxf"), "Unknown error!"},
                                               {file("winmail.dat", "tnef"), "Unknown error!"},
                                               {file("notes.txt", "text"), "Unknown error!"}};
  for (const auto& [path, reason] : cases) {
    SCOPED_TRACE(path.toStdString());
    auto req = std::make_shared<Requester>();
    manager->loadDocumentByFilePath(path, req);
    ASSERT_TRUE(idle());
    const auto ends = req->ends();
    ASSERT_EQ(ends.size(), 1u);
    EXPECT_EQ(ends[0].module, nullptr);
    EXPECT_EQ(ends[0].path, path);
    EXPECT_EQ(ends[0].error, reason);
  }
  EXPECT_EQ(lab.count(&Lab::conversions), 0);
  EXPECT_TRUE(QFileInfo::exists(keep));
  EXPECT_EQ(manager->cacheLib()->cacheFileCount(), 0);
  EXPECT_TRUE(manager->loadArray().isEmpty());
}

TEST_F(LoadManager, FifoNamedLikeADocumentEndsAtOnceAndQuitDoesNotWait) {
  const QString fifo = q(dir / "docs/pipe.pdf");
  QDir().mkpath(q(dir / "docs"));
  ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
  auto req = std::make_shared<Requester>();
  manager->loadDocumentByFilePath(fifo, req);
  const bool ended = waitFor([&] { return req->ends().size() == 1; }, 3s);
  const bool stopped = manager->stopLoading(1s);
  if (!ended || !stopped) {
    // A reader stuck in open() is freed by a writer, so the suite ends instead of hanging.
    const int w = ::open(QFile::encodeName(fifo).constData(), O_WRONLY | O_NONBLOCK);
    if (w >= 0) ::close(w);
  }
  EXPECT_TRUE(ended) << "the load of a FIFO blocked";
  EXPECT_TRUE(stopped) << "the quit waited for a blocked load";
  ASSERT_TRUE(waitFor([&] { return !req->ends().empty(); }));
  EXPECT_EQ(req->ends()[0].module, nullptr);
  EXPECT_FALSE(req->ends()[0].error.isEmpty());
  EXPECT_EQ(lab.count(&Lab::conversions), 0);
}

TEST_F(LoadManager, ThrowingModulesStillEndEveryRequestOnce) {
  // The factory throws: the request ends at once.
  const QString broken = file("factory-fails.pdf", "no module");
  auto req = std::make_shared<Requester>();
  manager->loadDocumentByFilePath(broken, req);
  ASSERT_TRUE(waitFor([&] { return req->ends().size() == 1; }));
  EXPECT_EQ(req->ends()[0].module, nullptr);
  EXPECT_EQ(req->ends()[0].error, "Unknown error!");

  // A waiter whose own module throws while opening the shared result.
  lab.setGate(false);
  const QString a = file("a.xps", "shared");
  const QString b = file("b-throws.xps", "shared");
  auto owner = std::make_shared<Requester>();
  auto joiner = std::make_shared<Requester>();
  manager->loadDocumentByFilePath(a, owner);
  ASSERT_TRUE(waitFor([&] { return manager->loadArray().size() == 1; }));
  manager->loadDocumentByFilePath(b, joiner);
  ASSERT_TRUE(waitFor([&] { return manager->loadArray().size() == 2; }));
  lab.setGate(true);
  ASSERT_TRUE(idle()) << "the key stayed busy";
  ASSERT_EQ(owner->ends().size(), 1u);
  EXPECT_NE(owner->ends()[0].module, nullptr);
  EXPECT_TRUE(owner->ends()[0].error.isNull());
  ASSERT_EQ(joiner->ends().size(), 1u);
  EXPECT_EQ(joiner->ends()[0].module, nullptr);
  EXPECT_EQ(joiner->ends()[0].error, "Unknown error!");
  EXPECT_EQ(manager->cacheLib()->cacheFilePathByID(keyOf(a)), outputOf(a));

  // From the cache the throwing module cannot open the result either: one end with an error,
  // and the content is not left busy.
  joiner->clear();
  manager->loadDocumentByFilePath(b, joiner);
  ASSERT_TRUE(waitFor([&] { return joiner->ends().size() == 1; }));
  ASSERT_TRUE(idle());
  EXPECT_FALSE(joiner->ends()[0].error.isEmpty());
  owner->clear();
  manager->loadDocumentByFilePath(a, owner);
  ASSERT_TRUE(idle());
  ASSERT_EQ(owner->ends().size(), 1u);
  EXPECT_NE(owner->ends()[0].module, nullptr);
  EXPECT_TRUE(owner->ends()[0].error.isNull());
  EXPECT_EQ(joiner->ends().size(), 1u);
}

TEST_F(LoadManager, RequestArrivingWhileAConversionEndsStillGetsItsEnd) {
  for (const char* name : {"a.pdf", "a.xps"}) {
    SCOPED_TRACE(name);
    const QString src = file(name, std::string("ending ") + name);
    auto first = std::make_shared<Requester>();
    auto late = std::make_shared<Requester>();
    const int before = lab.count(&Lab::conversions);
    first->onFirstEnd = [&] {
      manager->loadDocumentByFilePath(src, late);
      // Give the late request time to reach the manager mid-relay (a second conversion ends
      // the wait early).
      waitFor([&] { return lab.count(&Lab::conversions) > before + 1; }, 200ms);
    };
    manager->loadDocumentByFilePath(src, first);
    ASSERT_TRUE(waitFor([&] { return late->ends().size() == 1; }));
    ASSERT_TRUE(idle());
    EXPECT_EQ(lab.count(&Lab::conversions), before + 1);
    EXPECT_EQ(first->ends().size(), 1u);
    const auto end = late->ends()[0];
    EXPECT_NE(end.module, nullptr);
    EXPECT_NE(end.module, first->ends()[0].module);
    EXPECT_TRUE(end.error.isNull());
  }
}

TEST_F(LoadManager, ConcurrentRequestsConvertEachContentOnce) {
  struct Case {
    int contents;
    int requestsEach;
  } cases[] = {{1, 32}, {8, 6}};
  int round = 0;
  for (const auto& c : cases) {
    ++round;
    std::vector<QString> paths;
    for (int i = 0; i < c.contents; ++i) {
      const char* ext = i % 2 ? "xps" : "pdf";
      paths.push_back(file("r" + std::to_string(round) + "/f" + std::to_string(i) + "." + ext,
                           "content " + std::to_string(round) + "/" + std::to_string(i)));
    }
    const int before = lab.count(&Lab::conversions);
    std::vector<std::shared_ptr<Requester>> reqs;
    std::vector<std::thread> callers;
    for (int i = 0; i < c.contents * c.requestsEach; ++i) reqs.push_back(std::make_shared<Requester>());
    for (int i = 0; i < c.contents * c.requestsEach; ++i) {
      callers.emplace_back([&, i] { manager->loadDocumentByFilePath(paths[i % c.contents], reqs[i]); });
    }
    for (auto& t : callers) t.join();
    ASSERT_TRUE(idle());
    EXPECT_EQ(lab.count(&Lab::conversions) - before, c.contents);
    std::set<ImportInterface*> modules;
    for (const auto& r : reqs) {
      const auto ends = r->ends();
      ASSERT_EQ(ends.size(), 1u);
      EXPECT_TRUE(ends[0].error.isNull());
      modules.insert(ends[0].module.get());
    }
    EXPECT_EQ(modules.size(), reqs.size());
    EXPECT_EQ(modules.count(nullptr), 0u);
    for (const QString& p : paths) EXPECT_EQ(manager->cacheLib()->cacheFilePathByID(keyOf(p)), outputOf(p));
  }
  EXPECT_TRUE(notifiedPaths().empty());
}

TEST_F(LoadManager, ConcurrentRequestsForAStaleEntryConvertItOnce) {
  // Every request finds the entry, some find it stale: the content is converted once and no
  // late reader removes the fresh result.
  for (int round = 0; round < 8; ++round) {
    SCOPED_TRACE(round);
    const QString a = file("stale" + std::to_string(round) + ".pdf", "stale content " + std::to_string(round));
    manager->loadDocumentByFilePath(a, std::make_shared<Requester>());
    ASSERT_TRUE(idle());
    dir.write("cache/" + keyOf(a).toStdString(), "not a result");
    const int before = lab.count(&Lab::conversions);
    std::vector<std::shared_ptr<Requester>> reqs;
    for (int i = 0; i < 16; ++i) reqs.push_back(std::make_shared<Requester>());
    std::vector<std::thread> callers;
    for (const auto& r : reqs) callers.emplace_back([&, r] { manager->loadDocumentByFilePath(a, r); });
    for (auto& t : callers) t.join();
    ASSERT_TRUE(idle());
    EXPECT_EQ(lab.count(&Lab::conversions) - before, 1);
    for (const auto& r : reqs) {
      const auto ends = r->ends();
      ASSERT_EQ(ends.size(), 1u);
      EXPECT_NE(ends[0].module, nullptr);
      EXPECT_TRUE(ends[0].error.isNull());
    }
    EXPECT_EQ(manager->cacheLib()->cacheFilePathByID(keyOf(a)), outputOf(a));
    EXPECT_TRUE(QFileInfo::exists(outputOf(a)));
  }
}

TEST_F(LoadManager, QuitStopsModulesAndWaitsABoundedTime) {
  // A module that ignores the stop: the wait gives up, and the request still ends later.
  lab.setGate(false);
  const QString slow = file("slow.xps", "slow");
  auto req = std::make_shared<Requester>();
  manager->loadDocumentByFilePath(slow, req);
  ASSERT_TRUE(waitFor([&] { return lab.count(&Lab::conversions) == 1; }));

  const QString hang = file("hang.wps", "hang");
  manager->loadDocumentByFilePath(hang, req);
  ASSERT_TRUE(waitFor([&] { return lab.count(&Lab::conversions) == 2; }));

  EXPECT_FALSE(manager->stopLoading(100ms));
  EXPECT_GE(lab.count(&Lab::stops), 2);  // a module may hear the stop twice when it races its start
  ASSERT_TRUE(waitFor([&] { return req->ends().size() == 1; }));
  EXPECT_EQ(req->ends()[0].path, hang);
  EXPECT_EQ(req->ends()[0].error, "An unknown error");
  EXPECT_FALSE(QFileInfo::exists(outputOf(hang)));

  lab.setGate(true);
  EXPECT_TRUE(manager->stopLoading(10s));
  EXPECT_EQ(req->ends().size(), 2u);

  // No new requests after the quit.
  manager->loadDocumentByFilePath(slow, req);
  EXPECT_TRUE(idle());
  EXPECT_EQ(req->ends().size(), 2u);
}

TEST_F(LoadManager, ConversionsBeyondTheLimitWaitAndStillEndOnceEach) {
  manager->setConversionLimit(2);
  lab.setGate(false);
  auto req = std::make_shared<Requester>();
  std::vector<QString> files;
  for (int i = 0; i < 6; ++i) files.push_back(file("batch" + std::to_string(i) + ".xps", "document " + std::to_string(i)));
  for (int i = 0; i < 2; ++i) manager->loadDocumentByFilePath(files[i], req);
  ASSERT_TRUE(waitFor([&] { return lab.count(&Lab::conversions) == 2; }));
  for (int i = 2; i < 6; ++i) manager->loadDocumentByFilePath(files[i], req);
  ASSERT_TRUE(waitFor([&] { return manager->waitingConversions() == 4; }));
  // Every waiting load has begun for its requester.
  for (int i = 2; i < 6; ++i) {
    ASSERT_TRUE(waitFor([&] { return req->kinds(files[i]) == std::vector<K>{K::Start, K::Progress}; }));
  }
  std::this_thread::sleep_for(50ms);
  EXPECT_EQ(lab.count(&Lab::conversions), 2);

  // Cache hits and PDF copies do not wait.
  const QString pdf = file("copy.pdf", "%PDF copy");
  manager->loadDocumentByFilePath(pdf, req);
  ASSERT_TRUE(waitFor([&] { return req->kinds(pdf).size() == 1; }));
  EXPECT_EQ(req->ends().back().path, pdf);
  EXPECT_TRUE(req->ends().back().error.isNull());
  manager->loadDocumentByFilePath(pdf, req);
  ASSERT_TRUE(waitFor([&] { return req->kinds(pdf).size() == 3; }));

  // Same content under another path joins the conversion, running or waiting.
  const std::vector<QString> twins = {file("twin/batch0.xps", "document 0"), file("twin/batch5.xps", "document 5")};
  for (const QString& twin : twins) manager->loadDocumentByFilePath(twin, req);
  ASSERT_TRUE(waitFor([&] { return manager->loadArray().size() == 8; }));
  EXPECT_EQ(manager->waitingConversions(), 4);

  lab.setGate(true);
  ASSERT_TRUE(idle());
  EXPECT_EQ(lab.count(&Lab::maxRunning), 2);
  EXPECT_EQ(lab.count(&Lab::conversions), 6 + 1);  // the PDF's copy too
  for (const QString& f : files) {
    SCOPED_TRACE(f.toStdString());
    const auto kinds = req->kinds(f);
    EXPECT_EQ(std::count(kinds.begin(), kinds.end(), K::End), 1);
    EXPECT_EQ(std::count(kinds.begin(), kinds.end(), K::Start), 1);
    ASSERT_FALSE(kinds.empty());
    EXPECT_EQ(kinds.front(), K::Start);
    EXPECT_EQ(kinds.back(), K::End);
    EXPECT_EQ(manager->cacheLib()->cacheFilePathByID(keyOf(f)), outputOf(f));
  }
  for (const QString& twin : twins) {
    const auto kinds = req->kinds(twin);
    EXPECT_EQ(std::count(kinds.begin(), kinds.end(), K::End), 1) << twin.toStdString();
  }
  for (const auto& e : req->ends()) {
    EXPECT_NE(e.module, nullptr) << e.path.toStdString();
    EXPECT_TRUE(e.error.isNull()) << e.path.toStdString();
  }
}

TEST_F(LoadManager, QuitEndsWaitingConversionsOnceWithoutStartingThem) {
  manager->setConversionLimit(1);
  lab.setGate(false);
  auto req = std::make_shared<Requester>();
  const QString running = file("running.xps", "running");
  const QString waiting = file("waiting.xps", "waiting");
  const QString hanging = file("hanging.wps", "hanging");
  manager->loadDocumentByFilePath(running, req);
  ASSERT_TRUE(waitFor([&] { return lab.count(&Lab::conversions) == 1; }));
  for (const QString& f : {waiting, hanging}) manager->loadDocumentByFilePath(f, req);
  ASSERT_TRUE(waitFor([&] { return manager->waitingConversions() == 2; }));

  EXPECT_FALSE(manager->stopLoading(50ms));  // the running one ignores the stop
  const auto ends = req->ends();
  for (const QString& f : {waiting, hanging}) {
    ASSERT_EQ(req->kinds(f), (std::vector<K>{K::Start, K::Progress, K::End})) << f.toStdString();
    const auto end = std::find_if(ends.begin(), ends.end(), [&](const Event& e) { return e.path == f; });
    ASSERT_NE(end, ends.end());
    EXPECT_EQ(end->error, "Unknown error!");
    EXPECT_FALSE(QFileInfo::exists(outputOf(f)));
  }
  lab.setGate(true);
  EXPECT_TRUE(manager->stopLoading(10s));
  EXPECT_EQ(lab.count(&Lab::conversions), 1);
  EXPECT_EQ(req->ends().size(), 3u);
}

TEST(LoadManagerSingleton, RegisteredUntilTheApplicationEnds) {
  testsupport::TempDir home;
  const QByteArray saved = qgetenv("XDG_DATA_HOME");
  qputenv("XDG_DATA_HOME", QFile::encodeName(q(home.path())));
  auto m = XVDocumentLoadManager::ShareDocumentLoadManager();
  EXPECT_EQ(XVDocumentLoadManager::ShareDocumentLoadManager(), m);
  EXPECT_EQ(XVBaseFunction::appEndReleaseObject<XVDocumentLoadManager>("XVDocumentLoadManager"), m);
  EXPECT_EQ(m->cacheLib()->libPath(), XVBaseFunction::CacheLibSupportDirector());
  EXPECT_TRUE(m->cacheLib()->libPath().startsWith(q(home.path())));
  EXPECT_TRUE(XVDocumentLoadManager::StopSharedDocumentLoadManager(1s));
  auto req = std::make_shared<Requester>();
  m->loadDocumentByFilePath(q(home / "missing.pdf"), req);  // refused once stopped
  EXPECT_TRUE(m->waitUntilIdle(10s));
  EXPECT_TRUE(req->events().empty());
  XVBaseFunction::releaseAppEndObjects();
  EXPECT_EQ(XVBaseFunction::appEndReleaseObjectForKey("XVDocumentLoadManager"), nullptr);
  EXPECT_TRUE(XVDocumentLoadManager::StopSharedDocumentLoadManager(1s));  // none registered
  qputenv("XDG_DATA_HOME", saved);
}

}  // namespace
