#include "core/XVPreviewInfo.h"

#include <gtest/gtest.h>

#include <QCoreApplication>

#include "core/XVBaseFunction.h"
#include "support/temp_dir.h"

namespace {

QVariant stored(const QString& key) { return XVBaseFunction::userDefaults()->value(key); }

class XVPreviewInfoTest : public ::testing::Test {
 protected:
  void SetUp() override { XVBaseFunction::userDefaults()->clear(); }
};

}  // namespace

TEST_F(XVPreviewInfoTest, DefaultsAndNoKeyStoresNothing) {
  XVPreviewInfo info;
  EXPECT_TRUE(info.oneOrTwoPageIsOne());
  EXPECT_TRUE(info.pageContinue());
  EXPECT_FALSE(info.showLeft());
  EXPECT_FALSE(info.widthStretch());
  EXPECT_DOUBLE_EQ(info.zoomValue(), 1.0);
  EXPECT_FALSE(info.saveToUserDefault());
  EXPECT_EQ(XVPreviewInfo::preViewInfoDocumentKey(QString()), nullptr);
}

TEST_F(XVPreviewInfoTest, ChangeBeforeTheKeyIsNotStoredALaterOneStoresBoth) {
  XVPreviewInfo info;
  info.setZoomValue(2.0);
  info.setDocumentKey("doc-a");
  EXPECT_FALSE(stored("doc-a").isValid());
  info.setWidthStretch(true);
  ASSERT_TRUE(stored("doc-a").isValid());
  auto back = XVPreviewInfo::decode(stored("doc-a").toByteArray());
  ASSERT_TRUE(back);
  EXPECT_DOUBLE_EQ(back->zoomValue(), 2.0);
  EXPECT_TRUE(back->widthStretch());
  // The coder keys are the stored names.
  const QByteArray raw = stored("doc-a").toByteArray();
  for (const char* key : {XVPreviewInfo::kOneOrTwoPageIsOneKey, XVPreviewInfo::kPageContinueKey, XVPreviewInfo::kShowLeftKey,
                          XVPreviewInfo::kWidthStretchKey, XVPreviewInfo::kZoomValueKey})
    EXPECT_TRUE(raw.contains(key)) << key;
}

TEST_F(XVPreviewInfoTest, LoadingGivesTheStoredValuesAndNeverRewrites) {
  {
    auto info = XVPreviewInfo::preViewInfoDocumentKey("doc-b");
    info->setSearchString("needle");
    info->setOneOrTwoPageIsOne(false);
    info->setPageContinue(false);
    info->setShowLeft(true);
    info->setZoomValue(1.5);
  }
  const QVariant before = stored("doc-b");
  auto info = XVPreviewInfo::preViewInfoDocumentKey("doc-b");
  EXPECT_EQ(info->documentKey(), "doc-b");
  EXPECT_FALSE(info->oneOrTwoPageIsOne());
  EXPECT_FALSE(info->pageContinue());
  EXPECT_TRUE(info->showLeft());
  EXPECT_DOUBLE_EQ(info->zoomValue(), 1.5);
  EXPECT_TRUE(info->searchString().isEmpty());
  EXPECT_EQ(stored("doc-b"), before);
  // Changing the key or the search text writes nothing.
  info->setDocumentKey("doc-c");
  info->setSearchString("x");
  EXPECT_FALSE(stored("doc-c").isValid());
}

TEST_F(XVPreviewInfoTest, DamagedOrPartialRecords) {
  auto settings = XVBaseFunction::userDefaults();
  settings->setValue("bad", QByteArray("not json"));
  settings->setValue("partial", QByteArray(R"({"XVShowLeft_KEY":true})"));
  settings->sync();
  auto bad = XVPreviewInfo::preViewInfoDocumentKey("bad");
  EXPECT_TRUE(bad->oneOrTwoPageIsOne());  // a fresh default record
  EXPECT_DOUBLE_EQ(bad->zoomValue(), 1.0);
  auto partial = XVPreviewInfo::preViewInfoDocumentKey("partial");
  EXPECT_TRUE(partial->showLeft());
  EXPECT_FALSE(partial->oneOrTwoPageIsOne());  // missing keys read as NO and 0.0
  EXPECT_DOUBLE_EQ(partial->zoomValue(), 0.0);
}

int main(int argc, char** argv) {
  testsupport::TempDir home;
  ::setenv("XDG_CONFIG_HOME", (home / "config").c_str(), 1);
  QCoreApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
