#include "modules/pdf/PDFEndFindObserver.h"

#include <gtest/gtest.h>

#include <QGuiApplication>

#include <atomic>
#include <thread>

#include "platform/pdfkit/PDFDocument.h"
#include "support/pdf_fixture.h"
#include "support/temp_dir.h"

using testsupport::pumpUntil;

namespace {

class EndFindTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* name : {"a.pdf", "b.pdf"}) {
      const QString path = QString::fromStdString((dir / name).string());
      ASSERT_TRUE(testsupport::writeNumberedPdf(path, 6, "needle", {2, 4}));
      docs.push_back(pdfkit::PDFDocument::initWithURL(path));
      ASSERT_TRUE(docs.back());
    }
  }
  testsupport::TempDir dir;
  std::vector<std::unique_ptr<pdfkit::PDFDocument>> docs;
};

}  // namespace

TEST_F(EndFindTest, OnlyTheCurrentDocumentsEndCounts) {
  int ends = 0;
  PDFEndFindObserver observer([&] { ++ends; });
  docs[0]->beginFindString("needle");
  ASSERT_TRUE(pumpUntil([&] { return !docs[0]->isFinding(); }));
  EXPECT_EQ(ends, 0);  // no document yet

  observer.setDocument(docs[0].get());
  docs[1]->beginFindString("needle");
  ASSERT_TRUE(pumpUntil([&] { return !docs[1]->isFinding(); }));
  EXPECT_EQ(ends, 0);  // another document's end
  docs[0]->beginFindString("needle");
  ASSERT_TRUE(pumpUntil([&] { return !docs[0]->isFinding(); }));
  EXPECT_EQ(ends, 1);

  // Replaced while its find runs: the former document's end no longer counts.
  docs[0]->beginFindString("page");
  observer.setDocument(docs[1].get());
  ASSERT_TRUE(pumpUntil([&] { return !docs[0]->isFinding(); }));
  EXPECT_EQ(ends, 1);

  observer.stop();
  docs[1]->beginFindString("needle");
  ASSERT_TRUE(pumpUntil([&] { return !docs[1]->isFinding(); }));
  EXPECT_EQ(ends, 1);
}

TEST_F(EndFindTest, ALoadThreadSetsTheDocumentWhileEndsArrive) {
  std::atomic<int> ends{0};
  PDFEndFindObserver observer([&] {
    ++ends;
    observer.document();  // the handler may ask again: no lock is held while it runs
  });
  observer.setDocument(docs[0].get());
  std::atomic<bool> stop{false};
  // Imports replacing the document, as the load manager's worker does.
  std::thread loads([&] {
    for (int i = 0; !stop.load(); ++i) observer.setDocument(docs[static_cast<size_t>(i % 2)].get());
  });
  for (int round = 0; round < 20; ++round) {
    docs[0]->beginFindString("needle");
    ASSERT_TRUE(pumpUntil([&] { return !docs[0]->isFinding(); }));
  }
  stop = true;
  loads.join();
  EXPECT_LE(ends.load(), 20);
  observer.setDocument(docs[0].get());
  docs[0]->beginFindString("needle");
  ASSERT_TRUE(pumpUntil([&] { return !docs[0]->isFinding(); }));
  EXPECT_GE(ends.load(), 1);
}

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
