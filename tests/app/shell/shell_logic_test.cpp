#include "shell/XVShellLogic.h"
#include "shell/XVRecentDocuments.h"
#include "core/ProductInfo.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QFile>
#include <QMimeDatabase>
#include <QMultiHash>
#include <QXmlStreamReader>
#include <QStandardPaths>

#include "support/temp_dir.h"

#include <cmath>
#include <limits>

namespace {
std::vector<double> widths(const std::vector<XVTabSlot>& frames) {
  std::vector<double> w;
  for (const auto& s : frames) w.push_back(s.width);
  return w;
}
}  // namespace

TEST(XVTabLayout, SharesTheFreeWidthAndKeepsTheCurrentTabReadable) {
  // Equal shares, laid out edge to edge.
  auto frames = XVTabLayout(4, 1030, 30, 2);
  ASSERT_EQ(frames.size(), 4u);
  for (size_t i = 0; i < frames.size(); ++i) {
    EXPECT_DOUBLE_EQ(frames[i].width, 250);
    EXPECT_DOUBLE_EQ(frames[i].x, 250.0 * static_cast<double>(i));
  }
  // 25 tabs in 1000 with a 30 wide add button: 38.8 each would be below 50.
  frames = XVTabLayout(25, 1000, 30, 3);
  ASSERT_EQ(frames.size(), 25u);
  EXPECT_DOUBLE_EQ(frames[3].width, 50);
  EXPECT_NEAR(frames[0].width, 920.0 / 24.0, 1e-9);
  EXPECT_NEAR(frames[24].x + frames[24].width, 970, 1e-9);
  EXPECT_NEAR(frames[4].x, frames[3].x + 50, 1e-9);
  // Compressed without a current tab: nobody gets 50.
  for (double w : widths(XVTabLayout(25, 1000, 30, -1))) EXPECT_NEAR(w, 920.0 / 24.0, 1e-9);
}

TEST(XVTabLayout, DegenerateStripsNeverDivideByZeroOrGoNegative) {
  EXPECT_TRUE(XVTabLayout(0, 1000, 30, -1).empty());
  EXPECT_TRUE(XVTabLayout(0, 10, 30, 0).empty());
  // One tab narrower than 50, current or not: 50, a finite number.
  for (int current : {0, -1}) {
    auto frames = XVTabLayout(1, 60, 30, current);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_DOUBLE_EQ(frames[0].width, 50) << current;
  }
  // A strip narrower than the add button: the others get 0, never a negative width.
  auto frames = XVTabLayout(3, 20, 30, 1);
  EXPECT_EQ(widths(frames), (std::vector<double>{0, 50, 0}));
  for (const auto& s : frames) EXPECT_TRUE(std::isfinite(s.x));
}

TEST(XVTailTruncate, CutsAtTheEndAtWholeCharacters) {
  auto tenPerUnit = [](const QString& s) { return 10.0 * static_cast<double>(s.size()); };
  struct Case {
    QString text;
    double available;
    QString shown;
  } cases[] = {
      {"", 100, ""},
      {"report.pdf", 100, "report.pdf"},  // fits exactly
      {"report.pdf", 99, "report..."},    // 9 units: 6 characters kept
      {"report.pdf", 40, "r..."},
      {"report.pdf", 39, "..."},  // nothing fits: dots alone
      {"a", 9, "..."},            // one character that does not fit
      {"a", 10, "a"},
  };
  for (const auto& c : cases) EXPECT_EQ(XVTailTruncate(c.text, c.available, tenPerUnit), c.shown) << c.text.toStdString();

  // A surrogate pair and a combining sequence count as one character each: never split.
  const QString emoji = QString::fromUtf8("ab\xF0\x9F\x98\x80" "cd");  // a b U+1F600 c d
  const QString accent = QString::fromUtf8("abe\xCC\x81" "fg");        // a b e+U+0301 f g
  auto perCharacter = [](const QString& s) { return 10.0 * static_cast<double>(s.toUcs4().size()); };
  for (double available = 0; available < 80; available += 10) {
    for (const QString& text : {emoji, accent}) {
      const QString shown = XVTailTruncate(text, available, perCharacter);
      EXPECT_TRUE(shown == text || shown.endsWith("...")) << shown.toStdString();
      const QString kept = shown.endsWith("...") ? shown.chopped(3) : shown;
      EXPECT_TRUE(text.startsWith(kept));
      if (!kept.isEmpty()) {
        EXPECT_FALSE(kept.back().isHighSurrogate());
      }
      if (text == accent) {
        EXPECT_NE(kept, QString("abe"));  // the accent is not cut off its letter
      }
    }
  }
}

TEST(XVWindowStandPoint, KeepsTheWindowInsideTheAvailableArea) {
  struct Case {
    QRectF available;
    QSizeF size;
    QPointF mid;
    QPointF expected;
  } cases[] = {
      // Grows about its centre.
      {{0, 0, 1920, 1080}, {1000, 750}, {960, 540}, {460, 165}},
      // Near the right edge: pushed left.
      {{0, 0, 1920, 1080}, {1000, 750}, {1800, 540}, {920, 165}},
      // Near the left edge: pushed right.
      {{0, 0, 1920, 1080}, {1000, 750}, {100, 540}, {0, 165}},
      // Wider than the area: the left edge wins.
      {{0, 0, 900, 1080}, {1000, 750}, {450, 540}, {0, 165}},
      // Taller than the area: the top edge wins, the bottom hangs out.
      {{0, 0, 1920, 700}, {1000, 750}, {960, 350}, {460, 0}},
      // A second screen with its own origin and a top panel.
      {{1920, 30, 1280, 994}, {1000, 750}, {3100, 100}, {2200, 30}},
      {{1920, 30, 1280, 994}, {1000, 750}, {1000, 900}, {1920, 274}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(XVWindowStandPoint(c.size, c.mid, c.available), c.expected)
        << c.mid.x() << "," << c.mid.y();
  }
  // With a title bar and borders the whole frame stays inside: taller than the area, the
  // title bar is at the top, not above it; near the right edge the border stays visible.
  const QMarginsF frame(2, 30, 2, 2);
  EXPECT_EQ(XVWindowStandPoint({1000, 750}, {960, 350}, {0, 0, 1920, 700}, frame), QPointF(460, 30));
  EXPECT_EQ(XVWindowStandPoint({1000, 750}, {1800, 540}, {0, 0, 1920, 1080}, frame), QPointF(918, 165));
  EXPECT_EQ(XVWindowStandPoint({1000, 750}, {1000, 900}, {1920, 30, 1280, 994}, frame), QPointF(1922, 272));
  EXPECT_EQ(XVInterpolateSize({800, 600}, {1000, 750}, 0.0), QSizeF(800, 600));
  EXPECT_EQ(XVInterpolateSize({800, 600}, {1000, 750}, 0.5), QSizeF(900, 675));
  EXPECT_EQ(XVInterpolateSize({800, 600}, {1000, 750}, 1.0), QSizeF(1000, 750));
}

TEST(XVDropFilter, KeepsOnlySupportedFilesInOrder) {
  const QStringList mixed = {"/d/a.PDF", "/d/b.txt", "/d/winmail.dat", "/d/noext", "", "/d/c.Wq1", "/d/x.dxf"};
  EXPECT_EQ(XVSupportedFilePaths(mixed), (QStringList{"/d/a.PDF", "/d/winmail.dat", "/d/c.Wq1"}));
  EXPECT_EQ(XVUnsupportedFilePaths(mixed), (QStringList{"/d/b.txt", "/d/noext", "/d/x.dxf"}));
  EXPECT_EQ(XVDragOperationForPaths(mixed), 1);
  EXPECT_EQ(XVDragOperationForPaths({"/d/b.txt", "/d/x.dxf"}), 0);
  EXPECT_EQ(XVDragOperationForPaths({}), 0);
}

TEST(XVRecentDocuments, NewestFirstWithoutDuplicatesAndBounded) {
  testsupport::TempDir home;
  qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString((home / "config").string()));
  XVRecentDocuments::clearRecentDocuments();
  XVRecentDocuments::noteNewRecentDocument("/a.pdf");
  XVRecentDocuments::noteNewRecentDocument("/b.pdf");
  XVRecentDocuments::noteNewRecentDocument("/a.pdf");
  XVRecentDocuments::noteNewRecentDocument("");
  EXPECT_EQ(XVRecentDocuments::recentDocuments(), (QStringList{"/a.pdf", "/b.pdf"}));
  for (int i = 0; i < 15; ++i) XVRecentDocuments::noteNewRecentDocument(QString("/f%1.pdf").arg(i));
  const QStringList list = XVRecentDocuments::recentDocuments();
  EXPECT_EQ(list.size(), XVRecentDocuments::kMaximumCount);
  EXPECT_EQ(list.first(), "/f14.pdf");
  XVRecentDocuments::clearRecentDocuments();
  EXPECT_TRUE(XVRecentDocuments::recentDocuments().isEmpty());
}

TEST(DesktopEntry, ListsATypeForEverySupportedExtension) {
  QFile desktop(QStringLiteral(LECTERN_SOURCE_DIR "/resources/com.velmar.lectern.desktop"));
  ASSERT_TRUE(desktop.open(QIODevice::ReadOnly));
  QStringList listed;
  for (const QByteArray& line : desktop.readAll().split('\n'))
    if (line.startsWith("MimeType=")) listed = QString::fromUtf8(line.mid(9)).split(u';', Qt::SkipEmptyParts);
  ASSERT_FALSE(listed.isEmpty());

  // Globs of our own package, by type.
  QFile package(QStringLiteral(LECTERN_SOURCE_DIR "/resources/com.velmar.lectern.xml"));
  ASSERT_TRUE(package.open(QIODevice::ReadOnly));
  QXmlStreamReader xml(&package);
  QMultiHash<QString, QString> ownGlobs;  // pattern -> type
  QString type;
  while (!xml.atEnd()) {
    if (xml.readNext() != QXmlStreamReader::StartElement) continue;
    if (xml.name() == u"mime-type") type = xml.attributes().value("type").toString();
    if (xml.name() == u"glob") ownGlobs.insert(xml.attributes().value("pattern").toString().toLower(), type);
  }
  ASSERT_FALSE(xml.hasError());

  QMimeDatabase db;
  for (const QString& ext : ProductInfo::SupportImportFilesExtension()) {
    const QString file = ext == "dat" ? QStringLiteral("winmail.dat") : QStringLiteral("x.") + ext.toLower();
    QStringList types = ownGlobs.values(QStringLiteral("*.") + ext.toLower());
    for (const QMimeType& t : db.mimeTypesForFileName(file)) types << t.name();
    bool covered = false;
    for (const QString& t : types) covered = covered || listed.contains(t);
    EXPECT_TRUE(covered) << ext.toStdString();
  }
}
