#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QTextDocument>

#include <chrono>

#include "core/XVErrorTexts.h"
#include "modules/works/RichTextModuls.h"
#include "modules/works/WPDModul.h"
#include "modules/works/WPSModul.h"
#include "platform/revengekit/ConversionThreads.h"
#include "platform/revengekit/RichTextGenerator.h"
#include "support/import_recorder.h"
#include "support/password_answerer.h"
#include "support/pdf_fixture.h"
#include "support/pdf_text.h"
#include "support/temp_dir.h"
#include "support/wordperfect_builder.h"

namespace {

using namespace std::chrono_literals;

using RecordingDelegate = testsupport::ImportRecorder;

struct Import {
  std::shared_ptr<ImportInterface> module;
  std::shared_ptr<RecordingDelegate> delegate = std::make_shared<RecordingDelegate>();
};

Import importFile(const QString& source, const QString& out) {
  Import run;
  run.module = DocumentModul::documentModulFilePath(source);
  if (!run.module) return run;
  run.module->setDelegate(run.delegate);
  run.module->setImportSourcePath(source);
  run.module->setImportOutPath(out);
  run.module->startImport();
  EXPECT_TRUE(run.delegate->waitEnd());
  EXPECT_TRUE(revengekit::waitConversionThreadsIdle(10s));
  EXPECT_EQ(run.delegate->ends, 1);
  return run;
}

// What the librevenge peer tool prints for the file.
QString referenceText(const QString& path) {
  const QString ext = QFileInfo(path).suffix().toLower();
  const QString tool = ext == QLatin1String("wps")                           ? QStringLiteral("wps2text")
                       : ext == QLatin1String("wpd") || ext == QLatin1String("wp") ? QStringLiteral("wpd2text")
                                                                                     : QStringLiteral("wks2csv");
  int code = -1;
  const QString text = testsupport::runTool(tool, {path}, &code);
  EXPECT_EQ(code, 0) << tool.toStdString() << " " << path.toStdString();
  return text;
}

class RichTextModulTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { registerRichTextModuls(); }
  testsupport::TempDir dir;
  QString out() const { return QString::fromStdString((dir / "out.pdf").string()); }
};

}  // namespace

TEST_F(RichTextModulTest, FactoryGivesTheWorksAndWordPerfectModules) {
  EXPECT_TRUE(std::dynamic_pointer_cast<WPSModul>(DocumentModul::documentModulFilePath(QStringLiteral("/a/b.Wq1"))));
  EXPECT_TRUE(std::dynamic_pointer_cast<WPSModul>(DocumentModul::documentModulFilePath(QStringLiteral("/a/b.xlr"))));
  EXPECT_TRUE(std::dynamic_pointer_cast<WPDModul>(DocumentModul::documentModulFilePath(QStringLiteral("/a/b.wp5"))));
  EXPECT_TRUE(std::dynamic_pointer_cast<WPDModul>(DocumentModul::documentModulFilePath(QStringLiteral("/a/b.wpd"))));
}

TEST_F(RichTextModulTest, EveryCorpusFileConvertsWithItsTextOrSaysItCannotBeRead) {
  QStringList files;
  for (const char* folder : {"works", "wordperfect"}) {
    QDir d(QStringLiteral(LECTERN_CORPUS_DIR "/") + QLatin1String(folder));
    for (const QString& name : d.entryList(QDir::Files, QDir::Name)) files << d.filePath(name);
  }
  ASSERT_GE(files.size(), 8);
  for (const QString& file : files) {
    SCOPED_TRACE(file.toStdString());
    QFile::remove(out());
    Import run = importFile(file, out());
    ASSERT_TRUE(run.module);
    if (file.endsWith(QLatin1String(".xlr"))) {
      // libwps does not read this version: a clear error, and no output left behind.
      EXPECT_FALSE(run.delegate->success);
      EXPECT_EQ(run.delegate->error, XVErrorText::formatVersionNotSupported());
      EXPECT_EQ(XVErrorText::cannotBeOpened(QFileInfo(file).fileName(), run.delegate->error),
                QStringLiteral("testWORKSSpreadsheet7.0.xlr cannot be opened. This version of the file format is not supported."));
      EXPECT_FALSE(QFileInfo::exists(out()));
      continue;
    }
    ASSERT_TRUE(run.delegate->success) << run.delegate->error.toStdString();
    EXPECT_EQ(run.delegate->starts, 1);
    ASSERT_NE(run.module->DocumentModulPDFDocument(), nullptr);
    const QStringList pdfWords = testsupport::wordsOf(testsupport::pdfText(out()));
    const QSet<QString> found(pdfWords.begin(), pdfWords.end());
    const QStringList expected = testsupport::wordsOf(referenceText(file));
    ASSERT_FALSE(expected.isEmpty());
    QStringList missing;
    for (const QString& w : expected)
      // wks2csv adds a header of its own (Col1, Col2, ...) and prints a cell without a number
      // as nan, where the module shows #N/A.
      if (!found.contains(w) && !w.startsWith(QLatin1String("Col")) && w != QLatin1String("nan")) missing << w;
    EXPECT_TRUE(missing.isEmpty()) << missing.mid(0, 20).join(QLatin1Char(' ')).toStdString();
  }
}

TEST_F(RichTextModulTest, ProtectedWordPerfectAsksForItsPasswordOrEndsSayingSo) {
  const auto path = dir.write("locked.wp", testsupport::wp5Document({"hidden text"}, "key"));
  struct Case {
    const char* name;
    QStringList answers;
    bool success;
    int prompts;
  };
  const Case cases[] = {
      {"the password", {QStringLiteral("key")}, true, 1},
      {"wrong three times", {QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")}, false, 3},
      {"cancelled", {}, false, 1},
  };
  for (const Case& c : cases) {
    QFile::remove(out());
    auto delegate = std::make_shared<RecordingDelegate>();
    auto module = DocumentModul::documentModulFilePath(QString::fromStdString(path.string()));
    ASSERT_TRUE(std::dynamic_pointer_cast<WPDModul>(module));
    module->setDelegate(delegate);
    module->setImportSourcePath(QString::fromStdString(path.string()));
    module->setImportOutPath(out());
    // The prompt runs on this (the GUI) thread: its events run while the import waits.
    testsupport::PasswordAnswerer answerer(c.answers);
    module->startImport();
    EXPECT_TRUE(testsupport::pumpUntil([&] {
      std::lock_guard lock(delegate->mutex);
      return delegate->ends > 0;
    }, 60s)) << c.name;
    EXPECT_TRUE(revengekit::waitConversionThreadsIdle(10s));
    EXPECT_EQ(answerer.prompts.load(), c.prompts) << c.name;
    EXPECT_TRUE(answerer.onGuiThread.load()) << c.name;
    EXPECT_EQ(delegate->success, c.success) << c.name;
    if (c.success) {
      EXPECT_TRUE(testsupport::pdfText(out()).contains(QStringLiteral("hidden text"))) << c.name;
    } else {
      EXPECT_EQ(delegate->error, XVErrorText::passwordProtected()) << c.name;
    }
  }
}

namespace {

// A module whose converter is played by the test.
class ScriptedModul : public RichTextModul {
 public:
  std::function<void(ScriptedModul&)> script;
  void start() { converterStarted(); }
  void progress(double p) { converterProgress(p); }
  void end(int32_t code, std::shared_ptr<QFExportObject> e) { converterEnded(code, e); }

 protected:
  void startConverter() override { script(*this); }
  void cancelConverter() override {}
};

std::shared_ptr<QFExportObject> exportOf(const std::vector<std::string>& paragraphs, const revengekit::PageSetup& page) {
  revengekit::RichTextGenerator g;
  librevenge::RVNGPropertyList span;
  span.insert("fo:page-width", page.paper.width() / 72.0);
  span.insert("fo:page-height", page.paper.height() / 72.0);
  span.insert("fo:margin-left", page.margins.left() / 72.0);
  span.insert("fo:margin-top", page.margins.top() / 72.0);
  span.insert("fo:margin-right", page.margins.right() / 72.0);
  span.insert("fo:margin-bottom", page.margins.bottom() / 72.0);
  g.openPageSpan(span);
  for (const std::string& p : paragraphs) {
    g.openParagraph({});
    g.insertText(librevenge::RVNGString(p.c_str()));
    g.closeParagraph();
  }
  const auto setup = g.pageSetup();
  return std::make_shared<QFExportObject>(g.takeDocument(), setup);
}

}  // namespace

TEST_F(RichTextModulTest, EndCodeExportObjectAndPrintDecideTheEnd) {
  struct Case {
    const char* what;
    int32_t code;
    bool withExport;
    bool writableOut;
    bool success;
    QString error;
  };
  const QString unknown = XVErrorText::conversionFailed();
  const std::vector<Case> cases = {
      {"success", QFConverterEndSucceeded, true, true, true, QString()},
      {"success without an export object", QFConverterEndSucceeded, false, true, false, unknown},
      {"a print that fails", QFConverterEndSucceeded, true, false, false, unknown},
      {"a failed conversion", QFConverterEndFailed, false, true, false, unknown},
      {"a cancelled conversion", QFConverterEndCancelled, false, true, false, unknown},
      {"an unread version", QFConverterEndUnsupported, false, true, false, XVErrorText::formatVersionNotSupported()},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto module = std::make_shared<ScriptedModul>();
    auto delegate = std::make_shared<RecordingDelegate>();
    module->script = [&](ScriptedModul& m) {
      m.start();
      m.progress(37.5);
      m.end(c.code, c.withExport ? exportOf({"scripted text"}, {}) : nullptr);
    };
    const QString target = c.writableOut ? out() : QString::fromStdString((dir / "no-such-folder" / "out.pdf").string());
    QFile::remove(target);
    module->setDelegate(delegate);
    module->setImportSourcePath(QStringLiteral("/docs/doc.wps"));
    module->setImportOutPath(target);
    module->startImport();
    ASSERT_EQ(delegate->ends, 1);
    EXPECT_EQ(delegate->starts, 1);
    EXPECT_EQ(delegate->progress, std::vector<double>{37.5});
    EXPECT_EQ(delegate->success, c.success);
    EXPECT_EQ(delegate->error, c.error);
    EXPECT_EQ(module->type(), 1);
    ASSERT_TRUE(module->format());
    EXPECT_EQ(module->format()->filePath(), QStringLiteral("/docs/doc.wps"));
    EXPECT_EQ(module->DocumentModulPDFDocument() != nullptr, c.success);
    if (c.success) {
      EXPECT_TRUE(testsupport::pdfText(target).contains(QStringLiteral("scripted text")));
    }
  }
}

TEST_F(RichTextModulTest, LetterPageWithInchMarginsKeepsTheTextInsideThem) {
  // The right margin the document asks for is narrower: the left one stands on both sides.
  revengekit::PageSetup page;
  page.paper = QSizeF(612, 792);
  page.margins = QMarginsF(72, 72, 20, 72);
  std::vector<std::string> paragraphs;
  std::string long_line;
  for (int i = 0; i < 80; ++i) long_line += "margin" + std::to_string(i) + " ";
  for (int i = 0; i < 30; ++i) paragraphs.push_back(long_line);
  auto module = std::make_shared<ScriptedModul>();
  auto delegate = std::make_shared<RecordingDelegate>();
  module->script = [&](ScriptedModul& m) { m.end(QFConverterEndSucceeded, exportOf(paragraphs, page)); };
  module->setDelegate(delegate);
  module->setImportOutPath(out());
  module->startImport();
  ASSERT_TRUE(delegate->success);
  const auto layout = testsupport::pdfLayout(out());
  ASSERT_GE(layout.pages.size(), 2u);
  for (const QSizeF& p : layout.pages) EXPECT_EQ(p.toSize(), QSize(612, 792));
  double left = 1e9, right = 0, top = 1e9, bottom = 0;
  for (const auto& w : layout.words) {
    left = std::min(left, w.box.left());
    right = std::max(right, w.box.right());
    top = std::min(top, w.box.top());
    bottom = std::max(bottom, w.box.bottom());
  }
  EXPECT_NEAR(left, 72.0, 1.0);
  EXPECT_LE(right, 540.5);
  EXPECT_GT(right, 500.0);
  EXPECT_GE(top, 70.0);
  EXPECT_LE(bottom, 722.0);
  EXPECT_GT(bottom, 680.0);
}
