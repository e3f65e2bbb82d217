#include <gtest/gtest.h>

#include <QFile>
#include <QTextDocument>
#include <QTextTable>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/foundation/dispatcher.h"
#include "platform/revengekit/ConversionThreads.h"
#include "platform/wpdkit/QFWpdConverter.h"
#include "platform/wpskit/QFWpsConverter.h"
#include "support/temp_dir.h"
#include "support/wordperfect_builder.h"

namespace {

using namespace std::chrono_literals;

// Records every callback of one conversion, with the thread it came on.
struct Recorder {
  std::mutex mutex;
  std::condition_variable cv;
  std::vector<std::string> events;
  std::vector<double> progress;
  std::vector<std::thread::id> threads;
  int ends = 0;
  int32_t code = -1;
  std::shared_ptr<QFExportObject> exportObject;

  void add(const std::string& what) {
    std::lock_guard lock(mutex);
    events.push_back(what);
    threads.push_back(std::this_thread::get_id());
  }
  void end(int32_t c, std::shared_ptr<QFExportObject> e) {
    std::lock_guard lock(mutex);
    events.push_back("end");
    threads.push_back(std::this_thread::get_id());
    ++ends;
    code = c;
    exportObject = std::move(e);
    cv.notify_all();
  }
  bool waitEnd() {
    std::unique_lock lock(mutex);
    return cv.wait_for(lock, 20s, [&] { return ends > 0; });
  }
};

class WpsDelegate : public QFWpsConverterDelegate {
 public:
  Recorder r;
  bool cancelOnProgress = false;
  void QFWpsConverterDelegate_converterStart(QFWpsConverter*) override { r.add("start"); }
  void QFWpsConverterDelegate_converterProcess(double p, QFWpsConverter* c) override {
    r.add("progress");
    std::lock_guard lock(r.mutex);
    r.progress.push_back(p);
    if (cancelOnProgress) c->cancel();
  }
  void QFWpsConverterDelegate_converterEnd(int32_t code, std::shared_ptr<QFExportObject> e, QFWpsConverter*) override {
    r.end(code, std::move(e));
  }
};

class WpdDelegate : public QFWpdConverterDelegate {
 public:
  Recorder r;
  bool answers = false;
  std::vector<std::optional<std::string>> passwords;  // handed out in turn
  bool askOnMainQueue = false;
  std::thread::id promptThread;
  int asked = 0, starts = 0, stops = 0;
  bool cancelOnProgress = false;

  void QFWpdConverterDelegate_converterStart(QFWpdConverter*) override { r.add("start"); }
  void QFWpdConverterDelegate_converterProcess(double p, QFWpdConverter* c) override {
    r.add("progress");
    std::lock_guard lock(r.mutex);
    r.progress.push_back(p);
    if (cancelOnProgress) c->cancel();
  }
  void QFWpdConverterDelegate_converterEnd(int32_t code, std::shared_ptr<QFExportObject> e, QFWpdConverter*) override {
    r.end(code, std::move(e));
  }
  bool QFWpdConverterDelegate_answersPassword() const override { return answers; }
  void QFWpdConverterDelegate_passwordStart(QFWpdConverter*) override { ++starts; }
  void QFWpdConverterDelegate_passwordStop(QFWpdConverter*) override { ++stops; }
  std::optional<std::string> QFWpdConverterDelegate_password(QFWpdConverter* c) override {
    const int turn = asked++;
    auto answer = [this, turn]() -> std::optional<std::string> {
      promptThread = std::this_thread::get_id();
      return turn < static_cast<int>(passwords.size()) ? passwords[turn] : std::nullopt;
    };
    return askOnMainQueue ? c->passwordFromMainQueue(answer) : answer();
  }
};

template <typename Converter, typename Delegate>
std::shared_ptr<Delegate> convert(const std::string& path, std::shared_ptr<Delegate> delegate = std::make_shared<Delegate>()) {
  auto converter = Converter::converterWithType(QFConverterFormat::formatWithType(1, QString::fromStdString(path)));
  converter->setDelegate(delegate);
  EXPECT_TRUE(converter->start());
  EXPECT_FALSE(converter->start());  // one conversion per converter
  converter.reset();                 // the conversion keeps itself alive
  EXPECT_TRUE(delegate->r.waitEnd());
  EXPECT_TRUE(revengekit::waitConversionThreadsIdle(10s));
  return delegate;
}

// The first table of a converted document: rows and columns.
std::pair<int, int> firstTableSize(const Recorder& r) {
  if (!r.exportObject) return {0, 0};
  for (QTextFrame* f : r.exportObject->storage()->rootFrame()->childFrames())
    if (auto* t = qobject_cast<QTextTable*>(f)) return {t->rows(), t->columns()};
  return {0, 0};
}

QString plainText(const Recorder& r) { return r.exportObject ? r.exportObject->storage()->toPlainText() : QString(); }

// start first, then growing progress, exactly one end last, all on one thread other than ours.
void expectContract(const Recorder& r) {
  ASSERT_GE(r.events.size(), 2u);
  EXPECT_EQ(r.events.front(), "start");
  EXPECT_EQ(r.events.back(), "end");
  EXPECT_EQ(r.ends, 1);
  for (size_t i = 1; i < r.progress.size(); ++i) EXPECT_GT(r.progress[i], r.progress[i - 1]);
  for (double p : r.progress) {
    EXPECT_GE(p, 0.0);
    EXPECT_LE(p, 100.0);
  }
  for (auto id : r.threads) {
    EXPECT_EQ(id, r.threads.front());
    EXPECT_NE(id, std::this_thread::get_id());
  }
}

}  // namespace

TEST(ConverterContract, WordPerfectConvertsOnItsOwnThreadWithOneEnd) {
  testsupport::TempDir dir;
  const auto path = dir.write("letter.wp", testsupport::wp5Document({"Dear reader,", "the kit converts this letter."}));
  auto d = convert<QFWpdConverter, WpdDelegate>(path.string());
  expectContract(d->r);
  EXPECT_EQ(d->r.code, QFConverterEndSucceeded);
  ASSERT_TRUE(d->r.exportObject);
  EXPECT_TRUE(plainText(d->r).contains(QStringLiteral("the kit converts this letter.")));
  EXPECT_DOUBLE_EQ(d->r.progress.back(), 100.0);
  const QVariantMap dic = d->r.exportObject->myDic();
  EXPECT_TRUE(dic.value(QLatin1String(NSPaperSizeDocumentAttribute)).toSizeF().isValid());
  EXPECT_TRUE(dic.contains(QLatin1String(NSLeftMarginDocumentAttribute)));
  EXPECT_TRUE(dic.contains(QLatin1String(NSTopMarginDocumentAttribute)));
  EXPECT_TRUE(dic.contains(QLatin1String(NSBottomMarginDocumentAttribute)));
}

TEST(ConverterContract, FilesThatAreNotDocumentsEndWithTheirCode) {
  testsupport::TempDir dir;
  struct Case {
    std::string name;
    std::string bytes;
    int32_t code;
  };
  const std::vector<Case> cases = {
      {"noise.wpd", std::string(300, '\x07'), QFConverterEndUnsupported},
      {"empty.wpd", std::string(), QFConverterEndUnsupported},
      {"missing.wpd", std::string(), QFConverterEndFailed},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = c.code == QFConverterEndFailed ? (dir / c.name).string() : dir.write(c.name, c.bytes).string();
    auto d = convert<QFWpdConverter, WpdDelegate>(path);
    expectContract(d->r);
    EXPECT_EQ(d->r.code, c.code);
    EXPECT_FALSE(d->r.exportObject);
    auto w = convert<QFWpsConverter, WpsDelegate>(path);
    expectContract(w->r);
    EXPECT_EQ(w->r.code, c.code);
    EXPECT_FALSE(w->r.exportObject);
  }
}

TEST(ConverterContract, CancelEndsOnceWithoutAnExportObject) {
  testsupport::TempDir dir;
  std::vector<std::string> paragraphs(4000, std::string(60, 'x'));
  const auto path = dir.write("long.wp", testsupport::wp5Document(paragraphs));
  auto delegate = std::make_shared<WpdDelegate>();
  delegate->cancelOnProgress = true;
  auto d = convert<QFWpdConverter, WpdDelegate>(path.string(), delegate);
  expectContract(d->r);
  EXPECT_EQ(d->r.code, QFConverterEndCancelled);
  EXPECT_FALSE(d->r.exportObject);
  EXPECT_EQ(d->r.progress.size(), 1u);  // nothing more is read after the cancel
}

TEST(ConverterContract, ProtectedWordPerfectNeedsItsPassword) {
  testsupport::TempDir dir;
  const auto path = dir.write("secret.wp", testsupport::wp5Document({"Only for the right reader."}, "sesame"));
  struct Case {
    const char* what;
    bool answers;
    std::vector<std::optional<std::string>> passwords;
    int32_t code;
    int asked;
  };
  const std::vector<Case> cases = {
      {"no password callbacks", false, {}, QFConverterEndPasswordRequired, 0},
      {"the right password", true, {std::string("sesame")}, QFConverterEndSucceeded, 1},
      {"right after a wrong one", true, {std::string("wrong"), std::string("SESAME")}, QFConverterEndSucceeded, 2},
      {"the user gives up", true, {std::nullopt}, QFConverterEndPasswordRequired, 1},
      {"wrong every time", true, {std::string("a"), std::string("b"), std::string("c"), std::string("sesame")},
       QFConverterEndPasswordRequired, QFWpdConverter::kPasswordAttempts},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto delegate = std::make_shared<WpdDelegate>();
    delegate->answers = c.answers;
    delegate->passwords = c.passwords;
    auto d = convert<QFWpdConverter, WpdDelegate>(path.string(), delegate);
    expectContract(d->r);
    EXPECT_EQ(d->r.code, c.code);
    EXPECT_EQ(d->asked, c.asked);
    EXPECT_EQ(d->starts, c.answers ? 1 : 0);
    EXPECT_EQ(d->stops, d->starts);
    if (c.code == QFConverterEndSucceeded) EXPECT_TRUE(plainText(d->r).contains(QStringLiteral("Only for the right reader.")));
    else EXPECT_FALSE(d->r.exportObject);
  }
}

TEST(ConverterContract, PasswordPromptRunsOnTheMainQueueWhileTheConversionWaits) {
  testsupport::TempDir dir;
  const auto path = dir.write("secret.wp", testsupport::wp5Document({"Behind the prompt."}, "open"));
  foundation::Dispatcher::drainMain();  // this thread is the main thread
  auto delegate = std::make_shared<WpdDelegate>();
  delegate->answers = true;
  delegate->askOnMainQueue = true;
  delegate->passwords = {std::string("open")};
  auto converter = QFWpdConverter::converterWithType(QFConverterFormat::formatWithType(1, QString::fromStdString(path.string())));
  converter->setDelegate(delegate);
  ASSERT_TRUE(converter->start());
  auto ended = [&] {
    std::lock_guard lock(delegate->r.mutex);
    return delegate->r.ends > 0;
  };
  const auto deadline = std::chrono::steady_clock::now() + 20s;
  while (!foundation::Dispatcher::runMainUntil(ended, 20ms) && std::chrono::steady_clock::now() < deadline) {
  }
  ASSERT_TRUE(ended());
  EXPECT_TRUE(revengekit::waitConversionThreadsIdle(10s));
  EXPECT_EQ(delegate->promptThread, std::this_thread::get_id());
  EXPECT_EQ(delegate->r.code, QFConverterEndSucceeded);
  EXPECT_TRUE(plainText(delegate->r).contains(QStringLiteral("Behind the prompt.")));
}

TEST(ConverterContract, WorksCorpusDocumentConverts) {
  auto d = convert<QFWpsConverter, WpsDelegate>(LECTERN_CORPUS_DIR "/works/testWORKS.wps");
  expectContract(d->r);
  EXPECT_EQ(d->r.code, QFConverterEndSucceeded);
  EXPECT_FALSE(plainText(d->r).trimmed().isEmpty());
}

TEST(ConverterContract, WorksSpreadsheetOfAnUnreadVersionIsUnsupported) {
  auto d = convert<QFWpsConverter, WpsDelegate>(LECTERN_CORPUS_DIR "/works/testWORKSSpreadsheet7.0.xlr");
  expectContract(d->r);
  EXPECT_EQ(d->r.code, QFConverterEndUnsupported);
}

TEST(ConverterContract, AFarCellOfASheetAddsNoColumns) {
  // The corpus Quattro sheet (14 columns, 86 rows) with its first cell-format record moved to a
  // far column: a cell there shows nothing, or lies beyond what a sheet holds.
  QFile source(QStringLiteral(LECTERN_CORPUS_DIR "/works/testQuattro.wq1"));
  ASSERT_TRUE(source.open(QIODevice::ReadOnly));
  const QByteArray original = source.readAll();
  int record = -1;
  for (int at = 0; at + 4 <= original.size();) {
    const int type = static_cast<unsigned char>(original[at]) | static_cast<unsigned char>(original[at + 1]) << 8;
    const int size = static_cast<unsigned char>(original[at + 2]) | static_cast<unsigned char>(original[at + 3]) << 8;
    if (type == 0x9d && size == 7) {
      record = at;
      break;
    }
    at += 4 + size;
  }
  ASSERT_GE(record, 0);
  testsupport::TempDir dir;
  auto plain = convert<QFWpsConverter, WpsDelegate>(dir.write("plain.wq1", original.toStdString()).string());
  ASSERT_EQ(plain->r.code, QFConverterEndSucceeded);
  const auto expected = firstTableSize(plain->r);
  ASSERT_EQ(expected.second, 14);
  for (int column : {100, 255, 300, 5000, 0x7fff}) {
    SCOPED_TRACE(column);
    QByteArray bytes = original;
    bytes[record + 5] = static_cast<char>(column & 0xff);  // after type, size and format
    bytes[record + 6] = static_cast<char>(column >> 8);
    auto d = convert<QFWpsConverter, WpsDelegate>(dir.write("far.wq1", bytes.toStdString()).string());
    ASSERT_EQ(d->r.code, QFConverterEndSucceeded);
    EXPECT_EQ(firstTableSize(d->r), expected);
    EXPECT_TRUE(plainText(d->r) == plainText(plain->r));
  }
}
