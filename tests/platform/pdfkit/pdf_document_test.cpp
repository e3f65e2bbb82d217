#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QPainter>
#include <QPdfWriter>

#include <algorithm>
#include <atomic>
#include <set>

#include "platform/foundation/log.h"
#include "platform/foundation/notification_center.h"
#include "platform/pdfkit/PDFDocument.h"
#include "platform/pdfkit/PageRenderQueue.h"
#include "support/pdf_fixture.h"
#include "support/stderr_capture.h"
#include "support/temp_dir.h"

using namespace pdfkit;
using testsupport::pumpUntil;

namespace {

QString q(const std::filesystem::path& p) { return QString::fromStdString(p.string()); }

class PDFDocumentTest : public ::testing::Test {
 protected:
  testsupport::TempDir dir;
  QString path(const char* name) const { return q(dir / name); }
};

struct MatchCollector : PDFDocumentDelegate {
  QList<PDFSelection> matches;
  void didMatchString(const PDFSelection& s) override { matches.append(s); }
};

}  // namespace

TEST(PDFRotation, NormalisedToQuarterTurns) {
  const std::pair<int, int> cases[] = {{0, 0},     {90, 90},   {360, 0},   {450, 90},  {-90, 270},
                                       {-450, 270}, {720, 0},  {100, 90},  {44, 0},    {-180, 180}};
  for (auto [in, out] : cases) EXPECT_EQ(normalizedRotation(in), out) << in;
}

TEST_F(PDFDocumentTest, OpensPagesLabelsSizesAndText) {
  ASSERT_TRUE(testsupport::writePdf(path("a.pdf"), {{{"Hello alpha"}, false}, {{"Second beta"}, true}}));
  auto doc = PDFDocument::initWithURL(path("a.pdf"));
  ASSERT_TRUE(doc);
  EXPECT_EQ(doc->pageCount(), 2);
  PDFPage* p0 = doc->pageAtIndex(0);
  PDFPage* p1 = doc->pageAtIndex(1);
  ASSERT_TRUE(p0 && p1);
  EXPECT_EQ(doc->pageAtIndex(2), nullptr);
  EXPECT_EQ(doc->pageAtIndex(-1), nullptr);
  EXPECT_EQ(doc->indexForPage(p1), 1);
  EXPECT_EQ(p0->label(), "1");
  EXPECT_EQ(p1->label(), "2");
  EXPECT_NEAR(p0->size().width(), 595, 1);
  EXPECT_NEAR(p0->size().height(), 842, 1);
  EXPECT_GT(p1->size().width(), p1->size().height());
  EXPECT_TRUE(p0->string().contains("Hello alpha"));
  EXPECT_FALSE(p0->string().contains("beta"));
  // Text of a rectangle: the top band holds the line, the bottom half holds nothing.
  EXPECT_TRUE(p0->selectionForRect(QRectF(0, 30, 595, 50)).string().contains("alpha"));
  EXPECT_TRUE(p0->selectionForRect(QRectF(0, 500, 595, 300)).string().trimmed().isEmpty());

  auto other = PDFDocument::initWithURL(path("a.pdf"));
  EXPECT_EQ(doc->indexForPage(other->pageAtIndex(0)), -1);
}

TEST_F(PDFDocumentTest, UnreadableFilesGiveNoDocumentAndEmptyDocumentHasNoPages) {
  testsupport::TempDir& d = dir;
  d.write("junk.pdf", "%PDF-1.4 this is not a pdf");
  d.write("empty.pdf", "");
  EXPECT_FALSE(PDFDocument::initWithURL(path("junk.pdf")));
  EXPECT_FALSE(PDFDocument::initWithURL(path("empty.pdf")));
  EXPECT_FALSE(PDFDocument::initWithURL(path("missing.pdf")));
  EXPECT_FALSE(PDFDocument::initWithURL(QString()));
  PDFDocument none;
  EXPECT_EQ(none.pageCount(), 0);
  EXPECT_EQ(none.pageAtIndex(0), nullptr);
  EXPECT_TRUE(none.findString("x").isEmpty());
}

namespace {
QStringList qtMessages;
void keepQtMessage(QtMsgType, const QMessageLogContext&, const QString& message) { qtMessages << message; }
}  // namespace

TEST_F(PDFDocumentTest, ALockedFileSaysSoAndPopplersMessagesGoToTheLogOnce) {
  const QString locked = QStringLiteral(LECTERN_CORPUS_DIR "/pdf/libreoffice-writer-password.pdf");
  if (!QFile::exists(locked)) GTEST_SKIP() << "corpus not present";
  dir.write("junk.pdf", "%PDF-1.4 this is not a pdf");
  const struct {
    QString path;
    PDFDocument::OpenFailure why;
  } cases[] = {{locked, PDFDocument::OpenFailure::Locked}, {path("junk.pdf"), PDFDocument::OpenFailure::Unreadable}};
  for (const auto& c : cases) {
    qtMessages.clear();
    const QtMessageHandler previous = qInstallMessageHandler(&keepQtMessage);
    foundation::ScopedLogCapture log;
    PDFDocument::OpenFailure why = PDFDocument::OpenFailure::None;
    EXPECT_FALSE(PDFDocument::initWithURL(c.path, &why));
    qInstallMessageHandler(previous);
    EXPECT_EQ(why, c.why) << c.path.toStdString();
    EXPECT_TRUE(qtMessages.isEmpty()) << qtMessages.join(u'\n').toStdString();
    if (c.why == PDFDocument::OpenFailure::Locked) {
      const auto records = log.records();
      const auto said = std::count_if(records.begin(), records.end(), [](const foundation::LogRecord& r) {
        return r.category == "poppler" && r.message.find("Incorrect password") != std::string::npos;
      });
      // The file is read once.
      EXPECT_EQ(said, 1);
    }
  }
}

TEST_F(PDFDocumentTest, RenderFollowsScaleAndRotation) {
  ASSERT_TRUE(testsupport::writePdf(path("a.pdf"), {{{"Hello"}, false}}));
  auto doc = PDFDocument::initWithURL(path("a.pdf"));
  PDFPage* page = doc->pageAtIndex(0);
  QImage img = page->render(96.0 / 72.0);
  EXPECT_NEAR(img.width(), 794, 2);
  EXPECT_NEAR(img.height(), 1123, 2);
  page->setRotation(90);
  EXPECT_EQ(page->rotation(), 90);
  EXPECT_EQ(page->displaySize(), page->size().transposed());
  img = page->render(0.5);
  EXPECT_GT(img.width(), img.height());
}

TEST_F(PDFDocumentTest, PagePainterDrawsThePageAsShown) {
  ASSERT_TRUE(testsupport::writePdf(path("p.pdf"), {{{"TOP LEFT MARK", "second line"}, false}}));
  auto doc = PDFDocument::initWithURL(path("p.pdf"));
  PDFPage* page = doc->pageAtIndex(0);
  PDFPagePainter painter(*doc);
  ASSERT_TRUE(painter.isValid());
  for (const int rotation : {0, 90, 270}) {
    page->setRotation(rotation);
    const QImage expected = page->render(0.5).convertToFormat(QImage::Format_RGB32);
    QImage drawn(expected.size(), QImage::Format_RGB32);
    drawn.fill(Qt::white);
    {
      QPainter p(&drawn);
      ASSERT_TRUE(painter.drawPage(0, p, QRectF(QPointF(0, 0), QSizeF(drawn.size()))));
    }
    // The ink lands where the raster render puts it.
    int inkBoth = 0, inkExpected = 0;
    for (int y = 0; y < drawn.height(); ++y)
      for (int x = 0; x < drawn.width(); ++x) {
        const bool e = qGray(expected.pixel(x, y)) < 160;
        inkExpected += e;
        inkBoth += e && qGray(drawn.pixel(x, y)) < 200;
      }
    EXPECT_GT(inkExpected, 20) << rotation;
    EXPECT_GT(inkBoth, inkExpected * 6 / 10) << rotation;
  }
  QImage small(10, 10, QImage::Format_RGB32);
  QPainter onSmall(&small);
  EXPECT_FALSE(painter.drawPage(3, onSmall, QRectF(0, 0, 10, 10)));
}

TEST_F(PDFDocumentTest, WriteToFileKeepsRotationsAndIsAtomic) {
  ASSERT_TRUE(testsupport::writeNumberedPdf(path("src.pdf"), 3));
  auto doc = PDFDocument::initWithURL(path("src.pdf"));
  doc->pageAtIndex(0)->setRotation(90);
  doc->pageAtIndex(2)->setRotation(-90);
  ASSERT_TRUE(doc->writeToFile(path("out.pdf")));

  auto back = PDFDocument::initWithURL(path("out.pdf"));
  ASSERT_TRUE(back);
  EXPECT_EQ(back->pageAtIndex(0)->rotation(), 90);
  EXPECT_EQ(back->pageAtIndex(0)->fileRotation(), 90);
  EXPECT_EQ(back->pageAtIndex(1)->rotation(), 0);
  EXPECT_EQ(back->pageAtIndex(2)->rotation(), 270);
  // The file's own rotation plus a user turn, written over the file it was read from.
  back->pageAtIndex(0)->setRotation(back->pageAtIndex(0)->rotation() + 90);
  ASSERT_TRUE(back->writeToFile(path("out.pdf")));
  EXPECT_EQ(PDFDocument::initWithURL(path("out.pdf"))->pageAtIndex(0)->rotation(), 180);
  // No temporary file is left beside the result.
  EXPECT_EQ(QDir(q(dir.path())).entryList(QDir::Files | QDir::Hidden).size(), 2);
  // A replaced file keeps its permissions.
  const auto mode = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup | QFileDevice::ReadOther;
  ASSERT_TRUE(QFile::setPermissions(path("out.pdf"), mode));
  const QFileDevice::Permissions before = QFile::permissions(path("out.pdf"));
  ASSERT_TRUE(back->writeToFile(path("out.pdf")));
  EXPECT_EQ(QFile::permissions(path("out.pdf")), before);
}

TEST_F(PDFDocumentTest, WritingBackChangesKeepsOtherPagesAsTheFileHasThem) {
  ASSERT_TRUE(testsupport::writeNumberedPdf(path("src.pdf"), 3));
  ASSERT_TRUE(QFile::copy(path("src.pdf"), path("out.pdf")));
  auto a = PDFDocument::initWithURL(path("src.pdf"));
  auto b = PDFDocument::initWithURL(path("src.pdf"));
  auto onDisk = [&] {
    std::vector<int> r;
    auto doc = PDFDocument::initWithURL(path("out.pdf"));
    for (int i = 0; doc && i < doc->pageCount(); ++i) r.push_back(doc->pageAtIndex(i)->rotation());
    return r;
  };
  const struct {
    const char* step;
    PDFDocument* doc;
    int page, rotation;
    std::vector<int> written;
  } steps[] = {
      {"a turns its first page", a.get(), 0, 90, {90, 0, 0}},
      {"b turns its second page, a's turn stays", b.get(), 1, 180, {90, 180, 0}},
      {"a turns its first page back", a.get(), 0, 0, {0, 180, 0}},
      {"b turns the page a turned: the last writer's", b.get(), 0, 270, {270, 180, 0}},
  };
  for (const auto& s : steps) {
    SCOPED_TRACE(s.step);
    s.doc->pageAtIndex(s.page)->setRotation(s.rotation);
    ASSERT_TRUE(s.doc->writeRotationChangesToFile(path("out.pdf")));
    EXPECT_EQ(onDisk(), s.written);
  }
  // Nothing changed since a's last write: the file is not written again.
  const std::string before = testsupport::readFile(dir / "out.pdf");
  ASSERT_TRUE(a->writeRotationChangesToFile(path("out.pdf")));
  EXPECT_EQ(testsupport::readFile(dir / "out.pdf"), before);
  // No file to write onto: the whole document as a shows it.
  ASSERT_TRUE(QFile::remove(path("out.pdf")));
  ASSERT_TRUE(a->writeRotationChangesToFile(path("out.pdf")));
  EXPECT_EQ(onDisk(), (std::vector<int>{0, 0, 0}));
}

TEST_F(PDFDocumentTest, FailedWriteKeepsTheOldFile) {
  ASSERT_TRUE(testsupport::writeNumberedPdf(path("src.pdf"), 2));
  auto doc = PDFDocument::initWithURL(path("src.pdf"));
  doc->pageAtIndex(0)->setRotation(90);
  QString error;
  EXPECT_FALSE(doc->writeToFile(path("no/such/folder/out.pdf"), &error));
  EXPECT_FALSE(error.isEmpty());

  // The source changed under the document (fewer pages): refused, the old target untouched.
  ASSERT_TRUE(QFile::copy(path("src.pdf"), path("out.pdf")));
  const std::string before = testsupport::readFile(dir / "out.pdf");
  ASSERT_TRUE(testsupport::writeNumberedPdf(path("src.pdf"), 1));
  EXPECT_FALSE(doc->writeToFile(path("out.pdf")));
  EXPECT_EQ(testsupport::readFile(dir / "out.pdf"), before);

  // A target that cannot be replaced (a folder) stays, and no temporary file is left.
  auto again = PDFDocument::initWithURL(path("src.pdf"));
  std::filesystem::create_directory(dir / "taken.pdf");
  EXPECT_FALSE(again->writeToFile(path("taken.pdf")));
  EXPECT_TRUE(std::filesystem::is_directory(dir / "taken.pdf"));
  EXPECT_EQ(QDir(q(dir.path())).entryList(QDir::Files | QDir::Hidden).size(), 2);
}

TEST_F(PDFDocumentTest, DamagedPagesAreNotWrittenWithoutTheirRotation) {
  // Pages Poppler shows but a write-back cannot keep turned: refused, the file left as it was.
  const std::string head =
      "%PDF-1.4\n"
      "1 0 obj\n<< /Type /Pages /Count 1 /Kids [3 0 R] /MediaBox [0 0 200 100] >>\nendobj\n"
      "2 0 obj\n<< /Type /Catalog /Pages 1 0 R >>\nendobj\n";
  const std::string tail = "trailer\n<< /Root 2 0 R >>\n%%EOF\n";
  const struct {
    const char* name;
    std::string page;
  } cases[] = {
      // qpdf reads the broken object as null and would write an empty page.
      {"unreadable page object",
       "3 0 obj\n<< /Type /Page /Parent 1 0 R /Annots [<< /Rect [1 2 3 4] /InkList [[1 2 3 5"
       "\x9d\x09\x11" "C\xa6\x82\xf3n2\x88g\xe2\x80\xcd\xef\xcc" "3\nendstream\nendobj\n"},
      // qpdf mends the broken reference into "/Contents 5", a page Poppler no longer opens.
      {"page qpdf mends into one Poppler does not open",
       "3 0 obj\n<< /Type /Page /Parent 1 0 R /MediaBox [0 0 1 2.<3\xcd" "4] /Contents 5 0 . /Resource\xff\xffs 6 0 R "
       "/Rotate 0 >>\nendobj\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string damaged = head + c.page + tail;
    dir.write("damaged.pdf", damaged);
    auto doc = PDFDocument::initWithURL(path("damaged.pdf"));
    ASSERT_NE(doc, nullptr);
    ASSERT_EQ(doc->pageCount(), 1);
    ASSERT_TRUE(doc->pageAtIndex(0)->size().isValid());
    doc->pageAtIndex(0)->setRotation(90);
    QString error;
    EXPECT_FALSE(doc->writeToFile(path("damaged.pdf"), &error));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_EQ(testsupport::readFile(dir / "damaged.pdf"), damaged);
    EXPECT_EQ(QDir(q(dir.path())).entryList(QDir::Files | QDir::Hidden).size(), 1);
  }
}

TEST_F(PDFDocumentTest, QpdfWarningsOnADamagedFileGoToTheLogNotToStderr) {
  // A file without its cross-reference table: qpdf rebuilds it (with warnings) and writes it.
  ASSERT_TRUE(testsupport::writeNumberedPdf(path("whole.pdf"), 2));
  std::string damaged = testsupport::readFile(dir / "whole.pdf");
  const size_t xref = damaged.rfind("\nxref\n"), trailer = damaged.rfind("trailer");
  ASSERT_TRUE(xref != std::string::npos && trailer != std::string::npos && xref < trailer);
  damaged.erase(xref + 1, trailer - xref - 1);
  const struct {
    const char* road;
    std::function<bool(PDFDocument&)> write;
  } roads[] = {
      {"write-back", [&](PDFDocument& d) { return d.writeToFile(path("damaged.pdf")); }},
      {"print", [&](PDFDocument& d) {
         return d.writePrintToFile(path("print.pdf"), {0, 1}, QSizeF(595, 842), QRectF(18, 18, 559, 806), true);
       }},
  };
  for (const auto& r : roads) {
    SCOPED_TRACE(r.road);
    dir.write("damaged.pdf", damaged);
    auto doc = PDFDocument::initWithURL(path("damaged.pdf"));
    ASSERT_TRUE(doc);
    ASSERT_EQ(doc->pageCount(), 2);
    doc->pageAtIndex(1)->setRotation(90);
    foundation::ScopedLogCapture log;
    bool written = false;
    std::string stderrText;
    {
      testsupport::StderrCapture err;
      ASSERT_TRUE(err.active());
      written = r.write(*doc);
      stderrText = err.text();
    }
    EXPECT_TRUE(written);
    EXPECT_EQ(stderrText, "");
    const auto records = log.records();
    EXPECT_TRUE(std::any_of(records.begin(), records.end(), [](const foundation::LogRecord& l) {
      return l.category == "qpdf" && l.level == foundation::LogLevel::Warning && l.message.find("damaged") != std::string::npos;
    }));
  }
}

TEST_F(PDFDocumentTest, FindIsCaseInsensitiveAndReportsPagesAndBounds) {
  ASSERT_TRUE(testsupport::writeNumberedPdf(path("a.pdf"), 5, "Needle", {1, 3}));
  auto doc = PDFDocument::initWithURL(path("a.pdf"));
  const QList<PDFSelection> found = doc->findString("nEEDLE");
  ASSERT_EQ(found.size(), 2);
  EXPECT_EQ(found[0].page()->index(), 1);
  EXPECT_EQ(found[1].page()->index(), 3);
  EXPECT_TRUE(found[0].page()->selectionForRect(found[0].bounds().adjusted(-2, -2, 2, 2)).string().contains("Needle"));
  EXPECT_EQ(found[0].boundsForPage(doc->pageAtIndex(0)), QRectF());
  // The match in the document's spelling, with the words around it on its line.
  EXPECT_EQ(found[0].string(), "Needle");
  EXPECT_TRUE(found[0].contextBefore().endsWith("the ")) << found[0].contextBefore().toStdString();
  EXPECT_TRUE(found[0].contextAfter().startsWith(" is here")) << found[0].contextAfter().toStdString();
  EXPECT_FALSE(found[0].contextBefore().contains('\n'));
  EXPECT_TRUE(doc->findString("needle", 0).isEmpty());  // case-sensitive option
  EXPECT_TRUE(doc->findString("").isEmpty());
  // A match never runs from the end of one line into the next.
  EXPECT_TRUE(doc->findString("2the").isEmpty());
  EXPECT_TRUE(doc->findString("2 the").isEmpty());
}

TEST_F(PDFDocumentTest, FindFindsLigaturesAndEveryColumn) {
  // A later column's match that sits higher on the page than an earlier match.
  QPdfWriter writer(path("cols.pdf"));
  writer.setResolution(72);
  {
    QPainter painter(&writer);
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(12);
    painter.setFont(font);
    for (int y = 60; y < 600; y += 20) {
      painter.drawText(40, y, y == 400 ? QStringLiteral("left with the needle") : QStringLiteral("left filler line"));
      painter.drawText(320, y, y == 100 ? QStringLiteral("right with the needle") : QStringLiteral("right filler line"));
    }
    painter.drawText(40, 700, QString::fromUtf8("\xEF\xAC\x81nd the \xEF\xAC\x81le"));  // U+FB01 ligatures
  }
  auto doc = PDFDocument::initWithURL(path("cols.pdf"));
  ASSERT_TRUE(doc);
  EXPECT_EQ(doc->findString("needle").size(), 2);
  EXPECT_EQ(doc->findString("find").size(), 1);
  EXPECT_EQ(doc->findString("the file").size(), 1);
}

namespace {
// A PDF of Helvetica lines, one page per entry, with /Rotate per page and page labels.
QByteArray labelledPdf(const std::vector<std::pair<int, QByteArray>>& pages, const QByteArray& labels) {
  QByteArray out = "%PDF-1.4\n";
  QList<qsizetype> offsets;
  auto object = [&](const QByteArray& body) {
    offsets.append(out.size());
    out += QByteArray::number(offsets.size()) + " 0 obj\n" + body + "\nendobj\n";
  };
  const int n = static_cast<int>(pages.size());
  QByteArray kids;
  for (int i = 0; i < n; ++i) kids += QByteArray::number(4 + 2 * i) + " 0 R ";
  object("<< /Type /Catalog /Pages 2 0 R /PageLabels << /Nums [" + labels + "] >> >>");
  object("<< /Type /Pages /Count " + QByteArray::number(n) + " /Kids [" + kids + "] >>");
  object("<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>");
  for (int i = 0; i < n; ++i) {
    object("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Rotate " + QByteArray::number(pages[i].first) +
           " /Resources << /Font << /F1 3 0 R >> >> /Contents " + QByteArray::number(5 + 2 * i) + " 0 R >>");
    const QByteArray text = "BT /F1 14 Tf 72 700 Td (" + pages[i].second + ") Tj ET";
    object("<< /Length " + QByteArray::number(text.size()) + " >>\nstream\n" + text + "\nendstream");
  }
  const qsizetype xref = out.size();
  out += "xref\n0 " + QByteArray::number(offsets.size() + 1) + "\n0000000000 65535 f \n";
  for (const qsizetype o : offsets) out += QByteArray::number(o).rightJustified(10, '0') + " 00000 n \n";
  out += "trailer\n<< /Size " + QByteArray::number(offsets.size() + 1) + " /Root 1 0 R >>\nstartxref\n" +
         QByteArray::number(xref) + "\n%%EOF\n";
  return out;
}
}  // namespace

TEST_F(PDFDocumentTest, LabelledAndTurnedPagesAreFoundWithTheirText) {
  QFile file(path("labels.pdf"));
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write(labelledPdf({{0, "front matter with a needle"}, {90, "turned page with a needle"},
                          {270, "body page with a needle and a needle"}, {180, "last page with a needle"}},
                         "0 << /S /r >> 2 << /S /D >>"));
  file.close();
  auto doc = PDFDocument::initWithURL(path("labels.pdf"));
  ASSERT_TRUE(doc);
  ASSERT_EQ(doc->pageCount(), 4);
  const QStringList labels = {"i", "ii", "1", "2"};
  const QList<PDFSelection> found = doc->findString("needle");
  ASSERT_EQ(found.size(), 5);
  const int pageOf[] = {0, 1, 2, 2, 3};
  for (int k = 0; k < 5; ++k) {
    PDFPage* page = found[k].page();
    EXPECT_EQ(page->index(), pageOf[k]) << k;
    EXPECT_EQ(page->label(), labels[pageOf[k]]);
    EXPECT_TRUE(page->string().contains("needle")) << "page " << page->index() << " turned " << page->rotation();
    EXPECT_TRUE(QRectF(QPointF(0, 0), page->size()).contains(found[k].bounds())) << k;
    EXPECT_EQ(found[k].contextBefore().right(2), "a ") << k;
  }
  EXPECT_EQ(found[3].contextBefore(), "body page with a needle and a ");
  EXPECT_EQ(found[1].contextAfter(), "");
}

TEST_F(PDFDocumentTest, TextAndFindAgreeOnTurnedAndRealPages) {
  // Each page of this file is turned by another /Rotate; its text is a Latin word beside an Arabic one.
  const QString turned = QStringLiteral(LECTERN_CORPUS_DIR "/pdf/habibi-rotated.pdf");
  if (!QFile::exists(turned)) GTEST_SKIP() << "corpus not present";
  auto doc = PDFDocument::initWithURL(turned);
  ASSERT_TRUE(doc);
  const QList<PDFSelection> found = doc->findString("habibi");
  ASSERT_EQ(found.size(), doc->pageCount());
  for (int i = 0; i < doc->pageCount(); ++i) {
    PDFPage* page = doc->pageAtIndex(i);
    EXPECT_TRUE(page->string().contains("habibi")) << "page " << i << " rotation " << page->rotation();
    EXPECT_EQ(found[i].page(), page);
    const QRectF whole(QPointF(0, 0), page->size());
    EXPECT_TRUE(whole.contains(found[i].bounds())) << "page " << i;
    EXPECT_TRUE(page->selectionForRect(found[i].bounds().adjusted(-1, -1, 1, 1)).string().contains("habibi")) << i;
    // The context carries the neighbouring Arabic word, whichever way the page is turned.
    EXPECT_FALSE((found[i].contextBefore() + found[i].contextAfter()).trimmed().isEmpty()) << "page " << i;
  }
  // On real pages every occurrence in a page's text is found, and only those.
  struct Case {
    const char* file;
    const char* word;
  };
  for (const Case& c : {Case{"pdflatex-4-pages.pdf", "text"}, Case{"pdflatex-4-pages.pdf", "information"},
                        Case{"pdflatex-outline.pdf", "the"}, Case{"crazyones-pdfa.pdf", "the"}}) {
    auto real = PDFDocument::initWithURL(QStringLiteral(LECTERN_CORPUS_DIR "/pdf/") + QLatin1String(c.file));
    ASSERT_TRUE(real) << c.file;
    const QList<PDFSelection> all = real->findString(QLatin1String(c.word));
    int total = 0;
    for (int i = 0; i < real->pageCount(); ++i) {
      const QString text = real->pageAtIndex(i)->string();
      const int inText = static_cast<int>(text.count(QLatin1String(c.word), Qt::CaseInsensitive));
      const auto onPage = std::count_if(all.begin(), all.end(), [&](const PDFSelection& s) { return s.page()->index() == i; });
      EXPECT_EQ(onPage, inText) << c.file << " page " << i << " " << c.word;
      total += inText;
    }
    EXPECT_GT(total, 0) << c.file;
  }
}

TEST_F(PDFDocumentTest, AsyncFindDeliversMatchesThenOneEnd) {
  ASSERT_TRUE(testsupport::writeNumberedPdf(path("a.pdf"), 30, "needle", {0, 9, 19, 29}));
  auto doc = PDFDocument::initWithURL(path("a.pdf"));
  MatchCollector collector;
  doc->setDelegate(&collector);
  int ends = 0;
  auto token = foundation::NotificationCenter::defaultCenter().addObserver(
      PDFDocumentDidEndFindNotification, doc.get(), [&](const foundation::Notification&) {
        ++ends;
        EXPECT_EQ(collector.matches.size(), 4);  // every match arrives before the end
      });
  doc->beginFindString("NEEDLE", CaseInsensitiveSearch);
  EXPECT_TRUE(doc->isFinding());
  ASSERT_TRUE(pumpUntil([&] { return ends > 0; }));
  testsupport::pumpFor(std::chrono::milliseconds(50));
  EXPECT_EQ(ends, 1);
  EXPECT_FALSE(doc->isFinding());
  std::set<int> pages;
  for (const auto& m : collector.matches) pages.insert(m.page()->index());
  EXPECT_EQ(pages, (std::set<int>{0, 9, 19, 29}));
}

TEST_F(PDFDocumentTest, FindsRunningAtOnceReportWhatTheSynchronousFindDoesInPageOrder) {
  // Pages of unequal weight, so that later pages are searched before earlier ones.
  std::vector<testsupport::PdfPageContent> pages(48);
  for (int i = 0; i < 48; ++i) {
    const int lines = i % 12 == 0 ? 38 : 2;
    for (int l = 0; l < lines; ++l)
      pages[static_cast<size_t>(i)].lines
          << QStringLiteral("line %1 on page %2 holds a needle, then NEEDLES and a haystack").arg(l + 1).arg(i + 1);
  }
  ASSERT_TRUE(testsupport::writePdf(path("a.pdf"), pages));
  std::vector<std::unique_ptr<PDFDocument>> docs;
  for (int d = 0; d < 3; ++d) docs.push_back(PDFDocument::initWithURL(path("a.pdf")));
  const QList<PDFSelection> expected = docs[0]->findString("needle");
  ASSERT_EQ(expected.size(), 2 * (4 * 38 + 44 * 2));
  for (int round = 0; round < 3; ++round) {
    SCOPED_TRACE(round);
    std::vector<MatchCollector> collectors(docs.size());
    int ends = 0;
    auto token = foundation::NotificationCenter::defaultCenter().addObserver(
        PDFDocumentDidEndFindNotification, [&](const foundation::Notification&) { ++ends; });
    for (size_t d = 0; d < docs.size(); ++d) {
      docs[d]->setDelegate(&collectors[d]);
      docs[d]->beginFindString("needle");
    }
    ASSERT_TRUE(pumpUntil([&] { return ends == static_cast<int>(docs.size()); }));
    for (size_t d = 0; d < docs.size(); ++d) {
      const QList<PDFSelection>& got = collectors[d].matches;
      ASSERT_EQ(got.size(), expected.size()) << "document " << d;
      for (qsizetype k = 0; k < got.size(); ++k) {
        ASSERT_EQ(got[k].page()->index(), expected[k].page()->index()) << "document " << d << " match " << k;
        EXPECT_EQ(got[k].page()->document(), docs[d].get());
        EXPECT_EQ(got[k].bounds(), expected[k].bounds());
        EXPECT_EQ(got[k].string(), expected[k].string());
        EXPECT_EQ(got[k].contextBefore(), expected[k].contextBefore());
        EXPECT_EQ(got[k].contextAfter(), expected[k].contextAfter());
      }
    }
  }
}

TEST_F(PDFDocumentTest, CancelledFindDropsLateResultsAndPostsNoEnd) {
  ASSERT_TRUE(testsupport::writeNumberedPdf(path("a.pdf"), 40, "needle", {0, 39}));
  auto doc = PDFDocument::initWithURL(path("a.pdf"));
  MatchCollector collector;
  doc->setDelegate(&collector);
  int ends = 0;
  auto token = foundation::NotificationCenter::defaultCenter().addObserver(
      PDFDocumentDidEndFindNotification, doc.get(), [&](const foundation::Notification&) { ++ends; });
  doc->beginFindString("needle");
  // Let the worker finish without draining: its results wait on the main queue.
  QThread::msleep(300);
  doc->cancelFindString();
  EXPECT_FALSE(doc->isFinding());
  testsupport::pumpFor(std::chrono::milliseconds(100));
  EXPECT_TRUE(collector.matches.isEmpty());
  EXPECT_EQ(ends, 0);

  // A new find replaces a running one; only the new one's results and end arrive.
  doc->beginFindString("needle");
  doc->beginFindString("page 2");
  ASSERT_TRUE(pumpUntil([&] { return ends > 0; }));
  testsupport::pumpFor(std::chrono::milliseconds(50));
  EXPECT_EQ(ends, 1);
  for (const auto& m : collector.matches) EXPECT_EQ(m.string().toLower(), "page 2");
  EXPECT_GE(collector.matches.size(), 1);  // "Page 2", "Page 20".."Page 29"
}

TEST_F(PDFDocumentTest, DestroyedDocumentDropsPendingResults) {
  ASSERT_TRUE(testsupport::writeNumberedPdf(path("a.pdf"), 10, "needle", {2}));
  MatchCollector collector;
  int ends = 0;
  auto token = foundation::NotificationCenter::defaultCenter().addObserver(
      PDFDocumentDidEndFindNotification, [&](const foundation::Notification&) { ++ends; });
  {
    auto doc = PDFDocument::initWithURL(path("a.pdf"));
    doc->setDelegate(&collector);
    doc->beginFindString("needle");
    QThread::msleep(200);
  }
  testsupport::pumpFor(std::chrono::milliseconds(100));
  EXPECT_TRUE(collector.matches.isEmpty());
  EXPECT_EQ(ends, 0);
}

TEST_F(PDFDocumentTest, TwoDocumentsFindAtOnceAndEachHearsOnlyItsOwnEnd) {
  ASSERT_TRUE(testsupport::writeNumberedPdf(path("a.pdf"), 12, "apple", {3}));
  ASSERT_TRUE(testsupport::writeNumberedPdf(path("b.pdf"), 12, "apple", {5, 7}));
  auto a = PDFDocument::initWithURL(path("a.pdf"));
  auto b = PDFDocument::initWithURL(path("b.pdf"));
  MatchCollector ca, cb;
  a->setDelegate(&ca);
  b->setDelegate(&cb);
  std::vector<const void*> enders;
  auto token = foundation::NotificationCenter::defaultCenter().addObserver(
      PDFDocumentDidEndFindNotification, [&](const foundation::Notification& n) { enders.push_back(n.sender); });
  a->beginFindString("apple");
  b->beginFindString("apple");
  ASSERT_TRUE(pumpUntil([&] { return enders.size() == 2; }));
  EXPECT_EQ(std::set<const void*>(enders.begin(), enders.end()), (std::set<const void*>{a.get(), b.get()}));
  ASSERT_EQ(ca.matches.size(), 1);
  ASSERT_EQ(cb.matches.size(), 2);
  EXPECT_EQ(ca.matches[0].page()->document(), a.get());
  EXPECT_EQ(cb.matches[1].page()->index(), 7);
}

TEST_F(PDFDocumentTest, WorkersReadTheOpenedContentAfterTheFileIsReplacedOrRemoved) {
  const std::function<void()> changes[] = {
      [&] {  // another document renamed over it, as a write-back does
        ASSERT_TRUE(testsupport::writeNumberedPdf(path("other.pdf"), 3));
        ASSERT_EQ(std::rename(path("other.pdf").toLocal8Bit().constData(), path("a.pdf").toLocal8Bit().constData()), 0);
      },
      [&] { ASSERT_TRUE(QFile::remove(path("a.pdf"))); },
  };
  for (const auto& change : changes) {
    ASSERT_TRUE(testsupport::writeNumberedPdf(path("a.pdf"), 12, "needle", {4, 10}));
    auto doc = PDFDocument::initWithURL(path("a.pdf"));
    ASSERT_TRUE(doc);
    change();
    MatchCollector collector;
    doc->setDelegate(&collector);
    bool ended = false;
    auto token = foundation::NotificationCenter::defaultCenter().addObserver(
        PDFDocumentDidEndFindNotification, doc.get(), [&](const foundation::Notification&) { ended = true; });
    doc->beginFindString("needle");
    ASSERT_TRUE(pumpUntil([&] { return ended; }));
    EXPECT_EQ(collector.matches.size(), 2);

    std::atomic<bool> rendered{false};
    {
      PageRenderQueue queue(doc->contentPath());
      queue.request(11, 0.2, 0, [&](QImage image) { rendered = !image.isNull(); });
      for (int i = 0; i < 500 && !rendered; ++i) QThread::msleep(10);
    }
    EXPECT_TRUE(rendered);

    doc->pageAtIndex(4)->setRotation(90);
    ASSERT_TRUE(doc->writeToFile(path("copy.pdf")));
    auto copy = PDFDocument::initWithURL(path("copy.pdf"));
    ASSERT_TRUE(copy);
    EXPECT_EQ(copy->pageCount(), 12);
    EXPECT_EQ(copy->pageAtIndex(4)->rotation(), 90);
  }
}

TEST_F(PDFDocumentTest, RenderQueueRendersOffThreadAndDropsQueuedWork) {
  ASSERT_TRUE(testsupport::writeNumberedPdf(path("a.pdf"), 4));
  PageRenderQueue queue(path("a.pdf"));
  std::mutex m;
  std::vector<QImage> images;
  std::atomic<int> done{0};
  queue.request(1, 0.5, 0, [&](QImage img) {
    std::lock_guard lock(m);
    images.push_back(img);
    ++done;
  });
  queue.request(2, 0, 90, [&](QImage img) {
    std::lock_guard lock(m);
    images.push_back(img);
    ++done;
  }, 100);
  queue.request(99, 1.0, 0, [&](QImage img) {
    EXPECT_TRUE(img.isNull());
    ++done;
  });
  for (int i = 0; i < 500 && done < 3; ++i) QThread::msleep(10);
  ASSERT_EQ(done.load(), 3);
  std::lock_guard lock(m);
  ASSERT_EQ(images.size(), 2u);
  for (const QImage& img : images) {
    if (img.width() == 100) {
      EXPECT_LT(img.height(), img.width());  // turned a quarter: landscape
    } else {
      EXPECT_NEAR(img.width(), 298, 2);
    }
  }
  for (int i = 0; i < 20; ++i) queue.request(0, 1.0, 0, [](QImage) {});
  queue.clear();
  EXPECT_EQ(queue.pending(), 0u);
}

TEST_F(PDFDocumentTest, DestroyingTheRenderQueueAbortsTheRenderInProgress) {
  // One page of many thousand strokes: slow to render.
  {
    QPdfWriter writer(path("heavy.pdf"));
    writer.setResolution(72);
    QPainter painter(&writer);
    for (int i = 0; i < 20000; ++i) painter.drawLine(i % 590, (i * 7) % 830, (i * 13) % 590, (i * 3) % 830);
  }
  std::atomic<int> delivered{0};
  auto queue = std::make_unique<PageRenderQueue>(path("heavy.pdf"));
  queue->request(0, 4.0, 0, [&](QImage) { ++delivered; });
  while (queue->pending() > 0) QThread::yieldCurrentThread();
  queue.reset();
  // The render was cut short: its result never reaches the requester.
  EXPECT_EQ(delivered.load(), 0);
  // A render left to finish still delivers.
  PageRenderQueue whole(path("heavy.pdf"));
  whole.request(0, 0.2, 0, [&](QImage image) { delivered += image.isNull() ? 100 : 1; });
  for (int i = 0; i < 3000 && delivered.load() == 0; ++i) QThread::msleep(10);
  EXPECT_EQ(delivered.load(), 1);
}

TEST_F(PDFDocumentTest, RealFileOpensRendersAndKeepsARotation) {
  const QString real = QStringLiteral(LECTERN_CORPUS_DIR "/tnef/quick-contents/quick.pdf");
  if (!QFile::exists(real)) GTEST_SKIP() << "corpus not present";
  auto doc = PDFDocument::initWithURL(real);
  ASSERT_TRUE(doc);
  ASSERT_GT(doc->pageCount(), 0);
  EXPECT_FALSE(doc->pageAtIndex(0)->render(0.5).isNull());
  const int before = doc->pageAtIndex(0)->rotation();
  doc->pageAtIndex(0)->setRotation(before + 270);
  ASSERT_TRUE(doc->writeToFile(path("copy.pdf")));
  auto back = PDFDocument::initWithURL(path("copy.pdf"));
  ASSERT_TRUE(back);
  EXPECT_EQ(back->pageCount(), doc->pageCount());
  EXPECT_EQ(back->pageAtIndex(0)->rotation(), normalizedRotation(before + 270));
  EXPECT_EQ(back->string(), doc->string());
}

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
