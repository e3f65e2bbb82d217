#include "modules/winmail/WinmailModul.h"

#include <gtest/gtest.h>

#include <QFontMetrics>
#include <QLabel>
#include <QApplication>
#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QAbstractButton>
#include <QMessageBox>
#include <QPointer>
#include <QRegularExpression>
#include <QTableView>
#include <QTextEdit>
#include <QTimeZone>

#include <mutex>
#include <set>

#include "core/XVErrorTexts.h"
#include "core/XVNotifications.h"
#include "core/XVPreviewInfo.h"
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
  QString errorInfo;
  std::vector<std::pair<bool, QString>> all;  // every end, in order
  void ImportProgressDelegate_start(ImportInterface*) override {}
  void ImportProgressDelegate_Progress(double, ImportInterface*) override {}
  void ImportProgressDelegate_end(bool ok, ImportInterface*, const QString& info) override {
    ++ends;
    success = ok;
    errorInfo = info;
    all.emplace_back(ok, info);
  }
};

// A date record: year, month, day, hour, minute, second, weekday.
std::string dateRecord(int y, int mo, int d, int h, int mi, int s) {
  return le16(y) + le16(mo) + le16(d) + le16(h) + le16(mi) + le16(s) + le16(0);
}
// A MAPI time property (FILETIME ticks) in an attachment's property block.
std::string mapiTime(std::uint16_t id, std::uint64_t ticks) {
  return MapiBlock().property(0x0040, id).raw(le32(std::uint32_t(ticks)) + le32(std::uint32_t(ticks >> 32))).bytes();
}
std::uint64_t fileTime(std::int64_t unixSeconds) { return std::uint64_t(unixSeconds + 11644473600LL) * 10000000ULL; }

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

TEST_F(WinmailModulTest, EveryCorpusContainerOpensOrFailsAsItShould) {
  // Which container opens, with which body and how many attachments; the two that fail hold
  // message properties alone (the reference unpacker finds nothing in them either).
  struct Row {
    const char* file;
    bool opens;
    const char* body;  // the kind of the body shown
    int attachments;
  };
  const Row rows[] = {
      {"MAPI_ATTACH_DATA_OBJ.tnef", true, "rtf", 3},  {"MAPI_OBJECT.tnef", true, "rtf", 1},
      {"body.tnef", true, "html", 0},                 {"bug52400-winmail-simple.dat", true, "html", 0},
      {"data-before-name.tnef", true, "rtf", 3},      {"garbage-at-end.tnef", false, "", 0},
      {"long-filename.tnef", true, "rtf", 1},         {"missing-filenames.tnef", true, "rtf", 4},
      {"multi-name-property.tnef", false, "", 0},     {"multi-value-attribute.tnef", true, "rtf", 1},
      {"one-file.tnef", true, "", 1},                 {"quick-winmail.dat", true, "rtf", 5},
      {"rtf.tnef", true, "rtf", 0},                   {"triples.tnef", true, "rtf", 0},
      {"two-files.tnef", true, "", 2},                {"unicode-mapi-attr-name.tnef", true, "html", 4},
      {"unicode-mapi-attr.tnef", true, "html", 1},
  };
  int notified = 0;
  auto token = foundation::NotificationCenter::defaultCenter().addObserver(
      Open_Filed_Error_Info, [&](const foundation::Notification&) { ++notified; });
  const QDir corpus(QStringLiteral(LECTERN_CORPUS_DIR "/tnef"));
  QStringList listed;
  for (const Row& row : rows) listed << row.file;
  EXPECT_EQ(corpus.entryList({"*.tnef", "*.dat"}, QDir::Files, QDir::Name), listed) << "the table names every container";
  for (const Row& row : rows) {
    const QString name = row.file;
    // The factory goes by the extension: each container under a ".dat" name.
    std::filesystem::remove_all(dir / "cache");
    const QString source = write(QString(name).replace(".tnef", ".dat").toStdString(),
                                 readFile(corpus.filePath(name).toStdString()));
    const int before = notified;
    auto module = import(source);
    ASSERT_TRUE(module) << row.file;
    EXPECT_EQ(recorder->success, row.opens) << row.file;
    EXPECT_EQ(module->hasOpenResult(), row.opens) << row.file;
    EXPECT_EQ(notified - before, row.opens ? 0 : 1) << row.file;
    EXPECT_EQ(module->messagetype(), row.body) << row.file;
    // What the reference unpacker extracts, by content.
    QFile expected(corpus.filePath("expected/" + name + ".attachments"));
    ASSERT_TRUE(expected.open(QIODevice::ReadOnly)) << row.file;
    std::multiset<std::string> want, got;
    for (const QByteArray& line : expected.readAll().split('\n')) {
      if (!line.trimmed().isEmpty() && !line.startsWith('#')) want.insert(line.split('\t').value(0).toStdString());
    }
    for (const QUrl& url : module->attachments()) got.insert(sha256Hex(readFile(url.toLocalFile().toStdString())));
    EXPECT_EQ(static_cast<int>(want.size()), row.attachments) << row.file << ": the table against the oracle";
    EXPECT_EQ(got, want) << row.file;
  }
}

namespace {

class EndRecorder : public XVloadDocumentProgressDelegate {
 public:
  void XVLoad_End(std::shared_ptr<ImportInterface> import, const QString&, const QString& info) override {
    std::lock_guard lock(mutex);
    ends.push_back(std::move(import));
    errorInfo = info;
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
  QString errorInfo;
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

TEST_F(WinmailModulTest, AContainerThatYieldsNothingFailsWithItsReasonAndLeavesNothingInTheCache) {
  struct Case {
    const char* what;
    std::string bytes;
  } cases[] = {
      // A property block that ends early, in a record whose checksum is wrong.
      {"damaged", TnefWriter()
                      .record(1, 6, 0x9003, MapiBlock().binary(0x1013, "<p>lost</p>").bytesWithCount(4).substr(0, 20),
                              std::uint16_t{0x0BAD})
                      .bytes()},
      {"message properties only", TnefWriter().message(0x8008, std::string("IPM.Note") + '\0', 1).bytes()},
      {"a body that holds nothing", TnefWriter().message(0x9003, MapiBlock().binary(0x1013, "").bytes()).bytes()},
  };
  std::vector<QString> notified;
  auto token = foundation::NotificationCenter::defaultCenter().addObserver(
      Open_Filed_Error_Info, [&](const foundation::Notification& n) {
        const QString* path = n.value<QString>(XVFilePathUserInfoKey);
        notified.push_back(path ? *path : QString());
      });
  for (const Case& c : cases) {
    std::filesystem::remove_all(dir / "cache");
    notified.clear();
    foundation::ScopedLogCapture log;
    const QString source = write("empty.dat", c.bytes);
    auto module = import(source);
    ASSERT_TRUE(module) << c.what;
    EXPECT_FALSE(recorder->success) << c.what;
    EXPECT_EQ(recorder->errorInfo, XVErrorText::nothingReadable()) << c.what;
    EXPECT_FALSE(module->hasOpenResult()) << c.what;
    EXPECT_EQ(notified, std::vector<QString>{source}) << c.what;
    if (c.what == std::string("damaged")) {
      EXPECT_TRUE(log.contains("invalid checksum"));
      EXPECT_TRUE(log.contains("MAPI property block ends early"));
    }
  }

  // Through the load manager the tab fails with the reason, and the cache keeps nothing.
  auto manager = XVDocumentLoadManager::initWithCacheLibPath(q(dir / "lib"));
  ASSERT_TRUE(manager);
  auto requester = std::make_shared<EndRecorder>();
  manager->loadDocumentByFilePath(write("damaged.dat", cases[0].bytes), requester);
  ASSERT_TRUE(pumpUntil([&] { return requester->count() == 1 && manager->waitUntilIdle(std::chrono::milliseconds(0)); }));
  EXPECT_TRUE(requester->last() == nullptr || !requester->last()->hasOpenResult());
  EXPECT_EQ(requester->errorInfo, XVErrorText::nothingReadable());
  EXPECT_EQ(manager->cacheLib()->cacheFileCount(), 0);
  EXPECT_TRUE(QDir(q(dir / "lib")).entryList(QDir::Dirs | QDir::NoDotAndDotDot).isEmpty());
}

TEST_F(WinmailModulTest, ASecondStartWhileTheParseRunsIsRefusedAndTheParseKeepsItsOwnResults) {
  TnefWriter first, second;
  attach(first, "first.txt", "one");
  attach(second, "second.txt", "two");
  const QString a = write("a.dat", first.bytes());
  const QString b = write("b.dat", second.bytes());
  auto module = std::make_shared<WinmailModul>(a);
  auto rec = std::make_shared<Recorder>();
  module->setDelegate(rec);
  module->setImportOutPath(out());
  module->startImport();
  // The first parse cannot complete before the main queue runs: the second start meets it.
  module->setImportSourcePath(b);
  module->startImport();
  ASSERT_EQ(rec->all, (std::vector<std::pair<bool, QString>>{{false, XVErrorText::alreadyOpening()}}));
  ASSERT_TRUE(pumpUntil([&] { return rec->ends == 2; }));
  pumpFor(std::chrono::milliseconds(50));
  EXPECT_EQ(rec->all, (std::vector<std::pair<bool, QString>>{{false, XVErrorText::alreadyOpening()}, {true, QString()}}));
  EXPECT_EQ(entries(module->attachmentSavePath()), QStringList{"first.txt"});
  EXPECT_EQ(module->attachments(), QList<QUrl>{QUrl::fromLocalFile(out() + "/AttachmentPath/first.txt")});

  // Once it has ended, the module takes the next start.
  module->setImportOutPath(q(dir / "cache" / "OTHER"));
  module->startImport();
  ASSERT_TRUE(pumpUntil([&] { return rec->ends == 3; }));
  EXPECT_TRUE(rec->success);
  EXPECT_EQ(entries(module->attachmentSavePath()), QStringList{"second.txt"});
}

TEST_F(WinmailModulTest, TheDateColumnShowsTheDateTheContainerCarries) {
  const auto local = [](std::int64_t utcSeconds) {
    return QDateTime::fromSecsSinceEpoch(utcSeconds, QTimeZone::utc()).toLocalTime().toString("yyyy-MM-dd HH:mm:ss");
  };
  struct Case {
    const char* name;
    std::vector<std::pair<std::uint16_t, std::string>> records;  // attachment records after the title
    QString date;                                                // empty: the time the file was written
  } cases[] = {
      {"a-modified.txt", {{0x8013, dateRecord(2020, 1, 2, 3, 4, 5)}}, "2020-01-02 03:04:05"},
      {"b-created.txt", {{0x8012, dateRecord(1999, 10, 13, 22, 49, 46)}}, "1999-10-13 22:49:46"},
      {"c-modified-over-created.txt",
       {{0x8012, dateRecord(1999, 10, 13, 22, 49, 46)}, {0x8013, dateRecord(2001, 2, 3, 4, 5, 6)}},
       "2001-02-03 04:05:06"},
      {"d-mapi-over-record.txt",
       {{0x8013, dateRecord(2001, 2, 3, 4, 5, 6)}, {0x9005, mapiTime(0x3008, fileTime(1403260022))}},
       local(1403260022)},
      {"e-mapi-created.txt", {{0x9005, mapiTime(0x3007, fileTime(1030000000))}}, local(1030000000)},
      {"f-no-date.txt", {}, ""},
      {"g-no-such-day.txt", {{0x8013, dateRecord(2020, 13, 40, 3, 4, 5)}}, ""},
  };
  TnefWriter w;
  for (const Case& c : cases) {
    w.attachment(0x9002, std::string(14, '\0')).attachment(0x8010, std::string(c.name) + '\0', 1);
    for (const auto& [id, data] : c.records) w.attachment(id, data, id == 0x9005 ? 6 : 3);
    w.attachment(0x800F, c.name);
  }
  const QDateTime before = QDateTime::currentDateTime().addSecs(-2);
  auto module = import(write("dated.dat", w.bytes()));
  ASSERT_TRUE(module && recorder->success);
  auto* view = static_cast<WinmailDocumentView*>(module->documentView());
  view->reloadViewData();
  WinmailAttachmentModel* model = view->attachmentModel();
  ASSERT_EQ(model->rowCount(), static_cast<int>(std::size(cases)));
  for (int row = 0; row < model->rowCount(); ++row) {
    const Case& c = cases[row];
    ASSERT_EQ(model->data(model->index(row, WinmailAttachmentModel::Name), Qt::DisplayRole).toString(), c.name);
    const QString shown = model->data(model->index(row, WinmailAttachmentModel::Date), Qt::DisplayRole).toString();
    if (!c.date.isEmpty()) {
      EXPECT_EQ(shown, c.date) << c.name;
    } else {
      const QDateTime written = QDateTime::fromString(shown, "yyyy-MM-dd HH:mm:ss");
      EXPECT_TRUE(written >= before && written <= QDateTime::currentDateTime().addSecs(2)) << c.name << " " << shown.toStdString();
    }
  }
  // The dates stay with the files: a reopened folder shows them again.
  auto again = std::make_shared<WinmailModul>(q(dir / "dated.dat"));
  ASSERT_TRUE(again->importWithResultPath(out()));
  auto* other = static_cast<WinmailDocumentView*>(again->documentView());
  other->reloadViewData();
  EXPECT_EQ(other->attachmentModel()->data(other->attachmentModel()->index(0, WinmailAttachmentModel::Date), Qt::DisplayRole),
            "2020-01-02 03:04:05");
}

TEST(WinmailModulFunctions, TimeStrings) {
  struct Case {
    QDateTime when;
    const char* text;
  } cases[] = {
      {QDateTime(QDate(2024, 3, 5), QTime(14, 7, 9), QTimeZone::utc()), "2024-03-05 14-07-09UTC"},
      {QDateTime(QDate(2009, 1, 2), QTime(3, 4, 5), QTimeZone::utc()), "2009-01-02 03-04-05UTC"},
      {QDateTime(QDate(2024, 3, 5), QTime(23, 59, 59), Qt::OffsetFromUTC, 3600), "2024-03-05 23-59-59UTC+01:00"},
  };
  for (const Case& c : cases) EXPECT_EQ(WinmailModul::getTimeString(c.when), c.text) << c.text;
  EXPECT_TRUE(QRegularExpression("^\\d{4}-\\d\\d-\\d\\d \\d\\d-\\d\\d-\\d\\d\\S+$").match(WinmailModul::getTimeString()).hasMatch())
      << WinmailModul::getTimeString().toStdString();
}

TEST_F(WinmailModulTest, PathFileFileNameAndPreviewInfo) {
  const QUrl url = QUrl::fromLocalFile(q(dir / "some.dat"));
  auto byUrl = WinmailModul::initFilePath(url);
  EXPECT_EQ(byUrl->pathfile(), url);
  EXPECT_TRUE(byUrl->sourcePath().isEmpty());
  TnefWriter w;
  attach(w, "a.txt", "a");
  auto module = import(write("named.dat", w.bytes()));
  ASSERT_TRUE(module && recorder->success);
  // An import sets none of them.
  EXPECT_TRUE(module->pathfile().isEmpty());
  EXPECT_TRUE(module->fileName().isEmpty());
  EXPECT_EQ(module->previewInfo(), nullptr);
  auto info = std::make_shared<XVPreviewInfo>();
  module->setPreviewInfo(info);
  EXPECT_EQ(module->previewInfo(), info);
}

TEST_F(WinmailModulTest, AnAlertShownByTheModuleEndsWithItsButtonsCode) {
  TnefWriter w;
  attach(w, "a.txt", "a");
  auto module = import(write("alert.dat", w.bytes()));
  ASSERT_TRUE(module && recorder->success);
  QWidget window;
  auto* holder = new QWidget(&window);
  module->documentView()->setParent(holder);
  window.show();
  std::vector<bool> enabled;
  auto token = foundation::NotificationCenter::defaultCenter().addObserver(
      XV_DOCUMENT_NEEDTOOLENABLE_NOTIFICATION, [&](const foundation::Notification& n) {
        const bool* on = n.value<bool>("enable");
        enabled.push_back(on && *on);
      });
  struct Case {
    QStringList buttons;
    int click;  // -1: closed without a button
    int code;
  } cases[] = {{{"OK"}, 0, 1000}, {{"OK", "Cancel"}, 1, 1001}, {{"OK", "Cancel"}, -1, 0}};
  for (const Case& c : cases) {
    enabled.clear();
    const QString text = "The attachment cannot be written to the folder it was asked for.";
    auto* alert = new QMessageBox(QMessageBox::Warning, "Warning", text, QMessageBox::NoButton);
    for (int i = 0; i < c.buttons.size(); ++i) alert->addButton(c.buttons[i], i == 0 ? QMessageBox::AcceptRole : QMessageBox::RejectRole);
    module->showAlert(alert);
    EXPECT_EQ(alert->parentWidget(), &window);
    EXPECT_EQ(alert->windowModality(), Qt::WindowModal);
    EXPECT_TRUE(alert->isVisible());
    // Sized to its text: the one line stays whole.
    const auto* label = alert->findChild<QLabel*>("qt_msgbox_label");
    ASSERT_TRUE(label);
    EXPECT_GE(label->minimumWidth(), QFontMetrics(label->font()).horizontalAdvance(text));
    QPointer<QMessageBox> watch(alert);
    if (c.click >= 0) {
      alert->buttons().value(c.click)->click();
      EXPECT_EQ(WinmailModul::alertReturnCode(*alert), c.code);
    } else {
      alert->done(QDialog::Rejected);
    }
    EXPECT_EQ(enabled, c.code == 1000 ? std::vector<bool>{true} : std::vector<bool>{}) << c.code;
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(watch.isNull()) << c.code;
  }
  // Without a window to hold it, the alert is the application's.
  module->documentView()->setParent(nullptr);
  auto* alone = new QMessageBox(QMessageBox::Warning, "Warning", "text");
  module->showAlert(alone);
  EXPECT_EQ(alone->windowModality(), Qt::ApplicationModal);
  alone->done(QDialog::Rejected);
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}
