#include "modules/winmail/WinmailModul.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QTextEdit>

#include <mutex>
#include <set>

#include "core/XVNotifications.h"
#include "modules/winmail/WinmailDocumentView.h"
#include "shell/XVDocumentLoadManager.h"
#include "shell/XVFileCacheLib.h"
#include "platform/foundation/log.h"
#include "platform/foundation/notification_center.h"
#include "support/pdf_fixture.h"
#include "support/sha256.h"
#include "support/temp_dir.h"
#include "support/tnef_writer.h"

using namespace testsupport;

namespace {

QString q(const std::filesystem::path& p) { return QString::fromStdString(p.string()); }

struct Recorder : ImportProgressDelegate {
  int ends = 0;
  bool success = false;
  void ImportProgressDelegate_start(ImportInterface*) override {}
  void ImportProgressDelegate_Progress(double, ImportInterface*) override {}
  void ImportProgressDelegate_end(bool ok, ImportInterface*, const QString&) override {
    ++ends;
    success = ok;
  }
};

// A rendering record, then the title (8-bit, NUL-ended) and the data of one attachment.
TnefWriter& attach(TnefWriter& w, const std::string& title, const std::string& data) {
  return w.attachment(0x9002, std::string(14, '\0')).attachment(0x8010, title + '\0', 1).attachment(0x800F, data);
}

QStringList entries(const QString& folder) { return QDir(folder).entryList(QDir::Files | QDir::NoDotAndDotDot, QDir::Name); }

class WinmailModulTest : public ::testing::Test {
 protected:
  void SetUp() override { WinmailModul::registerModul(); }

  // Imports `source` into dir/out; answers the module once it has ended.
  std::shared_ptr<WinmailModul> import(const QString& source) {
    auto module = std::dynamic_pointer_cast<WinmailModul>(DocumentModul::documentModulFilePath(source));
    if (!module) return nullptr;
    recorder = std::make_shared<Recorder>();
    module->setDelegate(recorder);
    module->setImportSourcePath(source);
    module->setImportOutPath(out());
    module->startImport();
    EXPECT_TRUE(pumpUntil([&] { return recorder->ends > 0; })) << source.toStdString();
    EXPECT_EQ(recorder->ends, 1);
    return module;
  }
  QString out() const { return q(dir / "cache" / "KEY"); }
  QString write(const std::string& name, const std::string& bytes) const { return q(dir.write(name, bytes)); }

  TempDir dir;
  std::shared_ptr<Recorder> recorder;
};

}  // namespace

TEST_F(WinmailModulTest, BodiesAndAttachmentsLandInTheirFoldersAndTheLastBodyIsShown) {
  TnefWriter w;
  w.message(0x800C, "plain words", 2).message(0x9003, MapiBlock().binary(0x1013, "<p>html words</p>").bytes());
  attach(w, "a.pdf", "%PDF-a");
  attach(w, "b.png", "PNG-b");
  auto module = import(write("winmail.dat", w.bytes()));
  ASSERT_TRUE(module);
  EXPECT_TRUE(recorder->success);
  EXPECT_TRUE(module->hasOpenResult());
  EXPECT_EQ(module->messageBodySavePath(), out() + "/MessagePath");
  EXPECT_EQ(module->attachmentSavePath(), out() + "/AttachmentPath");
  EXPECT_EQ(entries(module->messageBodySavePath()), (QStringList{"message body 1.txt", "message body 2.html"}));
  EXPECT_EQ(readFile(dir / "cache/KEY/MessagePath/message body 1.txt"), "plain words");
  EXPECT_EQ(readFile(dir / "cache/KEY/MessagePath/message body 2.html"), "<p>html words</p>");
  EXPECT_EQ(entries(module->attachmentSavePath()), (QStringList{"a.pdf", "b.png"}));
  EXPECT_EQ(readFile(dir / "cache/KEY/AttachmentPath/a.pdf"), "%PDF-a");
  EXPECT_EQ(readFile(dir / "cache/KEY/AttachmentPath/b.png"), "PNG-b");
  EXPECT_EQ(module->messagetype(), "html");
  EXPECT_EQ(module->bodyType(), 1);
  EXPECT_EQ(module->documentBodyPath(), out() + "/MessagePath/message body 2.html");
  EXPECT_EQ(module->attachments(), (QList<QUrl>{QUrl::fromLocalFile(out() + "/AttachmentPath/a.pdf"),
                                                QUrl::fromLocalFile(out() + "/AttachmentPath/b.png")}));
  EXPECT_EQ(module->moduleKind(), ImportInterface::ModuleKind::Message);
  EXPECT_EQ(module->capabilities(), ImportInterface::Capabilities());
}

TEST_F(WinmailModulTest, HostileAndRepeatedNamesStayInsideAndAreAllWritten) {
  TnefWriter w;
  attach(w, "../../evil.txt", "one");
  attach(w, "/etc/passwd", "two");
  attach(w, "..", "three");
  attach(w, "same.txt", "first");
  attach(w, "same.txt", "second");
  attach(w, "", "nameless");
  attach(w, "", "nameless too");
  auto module = import(write("hostile.dat", w.bytes()));
  ASSERT_TRUE(module && recorder->success);
  const QString folder = module->attachmentSavePath();
  // Nothing anywhere but the two folders of the output.
  QStringList everything;
  QDirIterator it(q(dir.path()), QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden, QDirIterator::Subdirectories);
  while (it.hasNext()) everything << QDir(q(dir.path())).relativeFilePath(it.next());
  for (const QString& path : everything) {
    EXPECT_TRUE(path == "hostile.dat" || path == "cache" || path == "cache/KEY" || path.startsWith("cache/KEY/MessagePath") ||
                path == "cache/KEY/AttachmentPath" ||
                QFileInfo(q(dir.path()) + "/" + path).absolutePath() == folder)
        << path.toStdString();
  }
  const QList<QUrl> listed = module->attachments();
  ASSERT_EQ(listed.size(), 7);
  std::multiset<std::string> contents;
  std::set<QString> names;
  for (const QUrl& url : listed) {
    EXPECT_EQ(QFileInfo(url.toLocalFile()).absolutePath(), folder);
    contents.insert(readFile(url.toLocalFile().toStdString()));
    names.insert(url.toLocalFile());
  }
  EXPECT_EQ(names.size(), 7u);  // every attachment a file of its own
  EXPECT_EQ(contents, (std::multiset<std::string>{"one", "two", "three", "first", "second", "nameless", "nameless too"}));
  EXPECT_EQ(entries(folder).size(), 7);
}

TEST_F(WinmailModulTest, ACachedFolderReopensWithTheSameBodyWhateverTheListingOrder) {
  TnefWriter w;
  w.message(0x800C, "plain", 2).message(0x9003, MapiBlock().binary(0x1009, lzfuLiterals("{\\rtf1 rich}")).bytes());
  attach(w, "x.txt", "x");
  auto first = import(write("mail.dat", w.bytes()));
  ASSERT_TRUE(first && recorder->success);
  EXPECT_EQ(first->documentBodyPath(), out() + "/MessagePath/message body 2.rtf");
  EXPECT_EQ(first->messagetype(), "rtf");

  // More bodies than one digit can count: the counter decides, not the names' order.
  write("cache/KEY/MessagePath/message body 10.txt", "ten");
  auto again = std::make_shared<WinmailModul>(q(dir / "mail.dat"));
  ASSERT_TRUE(again->importWithResultPath(out()));
  EXPECT_TRUE(again->hasOpenResult());
  EXPECT_EQ(again->documentBodyPath(), out() + "/MessagePath/message body 10.txt");
  EXPECT_EQ(again->attachmentSavePath(), out() + "/AttachmentPath");
  std::filesystem::remove(dir / "cache/KEY/MessagePath/message body 10.txt");
  auto third = std::make_shared<WinmailModul>(q(dir / "mail.dat"));
  ASSERT_TRUE(third->importWithResultPath(out()));
  EXPECT_EQ(third->documentBodyPath(), first->documentBodyPath());

  // Both views show the same body.
  auto* a = static_cast<WinmailDocumentView*>(first->documentView());
  auto* b = static_cast<WinmailDocumentView*>(third->documentView());
  a->reloadViewData();
  b->reloadViewData();
  EXPECT_EQ(a->textView()->toPlainText(), "rich");
  EXPECT_EQ(b->textView()->toPlainText(), "rich");
  EXPECT_EQ(b->attachmentModel()->rowCount(), 1);

  // A folder that is not a message does not open.
  std::filesystem::create_directories(dir / "other");
  auto foreign = std::make_shared<WinmailModul>(q(dir / "mail.dat"));
  EXPECT_FALSE(foreign->importWithResultPath(q(dir / "other")));
  EXPECT_FALSE(foreign->hasOpenResult());
}

TEST_F(WinmailModulTest, AContainerWithoutBodyStillShowsItsAttachments) {
  TnefWriter w;
  attach(w, "only.txt", "only");
  auto module = import(write("nobody.dat", w.bytes()));
  ASSERT_TRUE(module && recorder->success);
  EXPECT_TRUE(module->documentBodyPath().isEmpty());
  EXPECT_EQ(module->bodyType(), -1);
  auto* view = static_cast<WinmailDocumentView*>(module->documentView());
  view->reloadViewData();
  ASSERT_EQ(view->attachmentModel()->rowCount(), 1);
  EXPECT_EQ(view->attachmentModel()->filePath(0), out() + "/AttachmentPath/only.txt");
}

TEST_F(WinmailModulTest, AFileThatIsNotTnefOrCannotBeReadFailsAndSaysWhich) {
  std::vector<QString> notified;
  auto token = foundation::NotificationCenter::defaultCenter().addObserver(
      Open_Filed_Error_Info, [&](const foundation::Notification& n) {
        const QString* path = n.value<QString>(XVFilePathUserInfoKey);
        notified.push_back(path ? *path : QString());
      });
  const QString notTnef = write("notes.dat", "just some text, not a container");
  const QString missing = q(dir / "missing.dat");
  for (const QString& source : {notTnef, missing}) {
    notified.clear();
    auto module = import(source);
    ASSERT_TRUE(module);
    EXPECT_FALSE(recorder->success) << source.toStdString();
    EXPECT_FALSE(module->hasOpenResult());
    EXPECT_EQ(notified, std::vector<QString>{source});
    // A second import of the same file starts anew and fails the same way.
    notified.clear();
    module->startImport();
    EXPECT_EQ(recorder->ends, 2);
    EXPECT_EQ(notified.size(), 1u);
  }
}

TEST_F(WinmailModulTest, AMiddleRecordWithABadChecksumLosesNothing) {
  TnefWriter w;
  attach(w, "before.txt", "before");
  w.record(2, 6, 0x800F, "corrupted but bounded", std::uint16_t{0x0BAD});
  attach(w, "after.txt", "after");
  foundation::ScopedLogCapture log;
  auto module = import(write("sum.dat", w.bytes()));
  ASSERT_TRUE(module && recorder->success);
  EXPECT_EQ(entries(module->attachmentSavePath()), (QStringList{"after.txt", "before.txt"}));
  EXPECT_EQ(readFile(dir / "cache/KEY/AttachmentPath/before.txt"), "corrupted but bounded");
  EXPECT_EQ(readFile(dir / "cache/KEY/AttachmentPath/after.txt"), "after");
  EXPECT_TRUE(log.contains("invalid checksum"));
}

TEST_F(WinmailModulTest, TheCorpusQuickContainerUnpacksItsRtfBodyAndFiveFiles) {
  const QString corpus = QStringLiteral(LECTERN_CORPUS_DIR "/tnef");
  auto module = import(corpus + "/quick-winmail.dat");
  ASSERT_TRUE(module && recorder->success);
  EXPECT_EQ(module->messagetype(), "rtf");
  EXPECT_EQ(readFile(module->documentBodyPath().toStdString()), readFile((corpus + "/quick-contents/message.rtf").toStdString()));
  const QStringList files = entries(module->attachmentSavePath());
  EXPECT_EQ(files, (QStringList{"quick.doc", "quick.html", "quick.pdf", "quick.txt", "quick.xml"}));
  for (const QString& f : files) {
    EXPECT_EQ(readFile((module->attachmentSavePath() + "/" + f).toStdString()),
              readFile((corpus + "/quick-contents/" + f).toStdString()))
        << f.toStdString();
  }
  auto* view = static_cast<WinmailDocumentView*>(module->documentView());
  view->reloadViewData();
  EXPECT_TRUE(view->textView()->isVisibleTo(view));
  EXPECT_TRUE(view->textView()->toPlainText().startsWith("These are five files."));
  EXPECT_EQ(view->attachmentModel()->rowCount(), 5);
}

TEST_F(WinmailModulTest, EveryCorpusContainerOpensOrFailsWithTheNotification) {
  int notified = 0;
  auto token = foundation::NotificationCenter::defaultCenter().addObserver(
      Open_Filed_Error_Info, [&](const foundation::Notification&) { ++notified; });
  const QDir corpus(QStringLiteral(LECTERN_CORPUS_DIR "/tnef"));
  const QStringList files = corpus.entryList({"*.tnef", "*.dat"}, QDir::Files, QDir::Name);
  ASSERT_FALSE(files.isEmpty());
  for (const QString& name : files) {
    // The factory goes by the extension: each container under a ".dat" name.
    std::filesystem::remove_all(dir / "cache");
    const QString source = write(QString(name).replace(".tnef", ".dat").toStdString(),
                                 readFile(corpus.filePath(name).toStdString()));
    const int before = notified;
    auto module = import(source);
    ASSERT_TRUE(module) << name.toStdString();
    EXPECT_EQ(recorder->success, module->hasOpenResult()) << name.toStdString();
    EXPECT_EQ(notified - before, recorder->success ? 0 : 1) << name.toStdString();
    if (!recorder->success) continue;
    // What the reference unpacker extracts, by content.
    QFile expected(corpus.filePath("expected/" + name + ".attachments"));
    if (!expected.open(QIODevice::ReadOnly)) continue;
    std::multiset<std::string> want, got;
    for (const QByteArray& line : expected.readAll().split('\n')) {
      if (!line.trimmed().isEmpty() && !line.startsWith('#')) want.insert(line.split('\t').value(0).toStdString());
    }
    for (const QUrl& url : module->attachments()) got.insert(sha256Hex(readFile(url.toLocalFile().toStdString())));
    for (const std::string& sum : want) EXPECT_TRUE(got.count(sum) > 0) << name.toStdString() << " lacks " << sum;
  }
}

namespace {

class EndRecorder : public XVloadDocumentProgressDelegate {
 public:
  void XVLoad_End(std::shared_ptr<ImportInterface> import, const QString&, const QString&) override {
    std::lock_guard lock(mutex);
    ends.push_back(std::move(import));
  }
  std::size_t count() {
    std::lock_guard lock(mutex);
    return ends.size();
  }
  std::shared_ptr<ImportInterface> last() {
    std::lock_guard lock(mutex);
    return ends.back();
  }
  std::mutex mutex;
  std::vector<std::shared_ptr<ImportInterface>> ends;
};

}  // namespace

TEST_F(WinmailModulTest, ThroughTheLoadManagerAConvertedMailReopensFromTheCacheAndAFailedOneLeavesNothing) {
  auto manager = XVDocumentLoadManager::initWithCacheLibPath(q(dir / "lib"));
  ASSERT_TRUE(manager);
  TnefWriter w;
  w.message(0x800C, "plain", 2).message(0x9003, MapiBlock().binary(0x1013, "<p>page</p>").bytes());
  attach(w, "a.txt", "a");
  const QString source = write("mail.dat", w.bytes());
  QString firstBody;
  for (int round = 0; round < 2; ++round) {
    auto requester = std::make_shared<EndRecorder>();
    manager->loadDocumentByFilePath(source, requester);
    ASSERT_TRUE(pumpUntil([&] { return requester->count() == 1 && manager->waitUntilIdle(std::chrono::milliseconds(0)); }));
    auto module = std::dynamic_pointer_cast<WinmailModul>(requester->last());
    ASSERT_TRUE(module) << round;
    EXPECT_TRUE(module->hasOpenResult());
    EXPECT_EQ(module->messagetype(), "html");
    if (round == 0) firstBody = module->documentBodyPath();
    else EXPECT_EQ(module->documentBodyPath(), firstBody);  // from the cache: the same body
  }
  EXPECT_EQ(manager->cacheLib()->cacheFileCount(), 1);

  const QString broken = write("broken.dat", "not a container");
  auto requester = std::make_shared<EndRecorder>();
  manager->loadDocumentByFilePath(broken, requester);
  ASSERT_TRUE(pumpUntil([&] { return requester->count() == 1 && manager->waitUntilIdle(std::chrono::milliseconds(0)); }));
  auto failed = requester->last();
  EXPECT_TRUE(failed == nullptr || !failed->hasOpenResult());
  EXPECT_EQ(manager->cacheLib()->cacheFileCount(), 1);
  EXPECT_EQ(QDir(q(dir / "lib")).entryList(QDir::Dirs | QDir::NoDotAndDotDot).size(), 1);  // the good entry only
}
