#include "core/XVBaseFunction.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include <cstdlib>
#include <set>

#include "support/temp_dir.h"

namespace {
QString q(const std::filesystem::path& p) { return QString::fromStdString(p.string()); }
}  // namespace

TEST(XVBaseFunction, StringInArrayAndExtensions) {
  EXPECT_TRUE(XVBaseFunction::stringInArray("PDF", {"pdf"}));
  EXPECT_FALSE(XVBaseFunction::stringInArray("pdf", {}));
  EXPECT_FALSE(XVBaseFunction::stringInArray("pdfx", {"pdf"}));
  struct Case {
    const char* path;
    const char* ext;
  } cases[] = {{"/a/REPORT.PDF", "PDF"}, {"/a/b.c/winmail.dat", "dat"}, {"/a/noext", ""},
               {"/a/.hidden", ""},       {"/a/archive.tar.gz", "gz"},  {"name.", ""}};
  for (const auto& c : cases) EXPECT_EQ(XVBaseFunction::extensionOfPath(c.path), c.ext) << c.path;
}

TEST(XVBaseFunction, CheckFileAndDirectory) {
  testsupport::TempDir dir;
  const QString file = q(dir / "x/y/z/file.bin");
  EXPECT_TRUE(XVBaseFunction::CheckFile(file));
  EXPECT_TRUE(QFileInfo(file).isFile());
  EXPECT_EQ(QFileInfo(file).size(), 0);
  // A plain file where a folder is asked for: yes, nothing created.
  EXPECT_TRUE(XVBaseFunction::CheckDirectory(file));
  EXPECT_TRUE(QFileInfo(file).isFile());
  EXPECT_TRUE(XVBaseFunction::CheckDirectory(q(dir / "a/b")));
  EXPECT_TRUE(QFileInfo(q(dir / "a/b")).isDir());
  // A file standing where a parent folder should be.
  EXPECT_FALSE(XVBaseFunction::CheckFile(file + "/inner"));
  EXPECT_FALSE(XVBaseFunction::CheckFile(QString()));
  EXPECT_FALSE(XVBaseFunction::CheckDirectory(QString()));
}

TEST(XVBaseFunction, SandboxStrip) {
  const QString p = "/Users/u/Library/Containers/sw.Tarnbrook/Data/Library/Application Support";
  ::unsetenv("APP_SANDBOX_CONTAINER_ID");
  EXPECT_FALSE(XVBaseFunction::isUseSandbox());
  EXPECT_EQ(XVBaseFunction::_PathDeleteSandboxMidPath(p), p);
  ::setenv("APP_SANDBOX_CONTAINER_ID", "", 1);
  EXPECT_TRUE(XVBaseFunction::isUseSandbox());
  EXPECT_EQ(XVBaseFunction::_PathDeleteSandboxMidPath(p), "/Users/u/Library/Application Support");
  EXPECT_EQ(XVBaseFunction::_PathDeleteSandboxMidPath("/x/Library/Containers/other/Data"),
            "/x/Library/Containers/other/Data");
  ::unsetenv("APP_SANDBOX_CONTAINER_ID");
  EXPECT_TRUE(XVBaseFunction::_PathDeleteSandboxMidPath(QString()).isNull());
}

TEST(XVBaseFunction, FoldersUseTheApplicationId) {
  const QString support = XVBaseFunction::CacheLibSupportDirector();
  EXPECT_TRUE(support.endsWith("/" + XVBaseFunction::applicationId() + "/cache")) << support.toStdString();
  EXPECT_TRUE(support.startsWith(QStandardPaths::standardLocations(QStandardPaths::GenericDataLocation).first()));
  const QString temp = XVBaseFunction::TempDirectory();
  EXPECT_TRUE(QFileInfo(temp).isDir());
  EXPECT_EQ(XVBaseFunction::GetUserSupportHomeDirectory(), QDir::homePath());
}

class CurId : public ::testing::Test {
 protected:
  void SetUp() override {
    XVBaseFunction::setClockForTesting([this] { return now; });
  }
  void TearDown() override { XVBaseFunction::setClockForTesting(nullptr); }
  QDateTime now = QDateTime(QDate(2016, 12, 31), QTime(12, 59, 59));
};

TEST_F(CurId, SequenceRestartsEachSecond) {
  EXPECT_EQ(XVBaseFunction::GetCurTimeString(), "20161231125959");
  EXPECT_EQ(XVBaseFunction::GetCurID(), "201612311259590000");
  EXPECT_EQ(XVBaseFunction::GetCurID(), "201612311259590001");
  now = now.addSecs(1);
  EXPECT_EQ(XVBaseFunction::GetCurID(), "201612311300000000");
}

TEST_F(CurId, StaysIncreasingPastTenThousandAndWhenTheClockGoesBack) {
  QString last;
  std::set<QString> seen;
  for (int i = 0; i < 10005; ++i) {
    const QString id = XVBaseFunction::GetCurID();
    ASSERT_EQ(id.size(), 18);
    ASSERT_GT(id, last);
    last = id;
    seen.insert(id);
  }
  EXPECT_EQ(seen.size(), 10005u);
  EXPECT_EQ(last, "201612311300000004");
  now = now.addSecs(-3600);
  const QString afterBack = XVBaseFunction::GetCurID();
  EXPECT_GT(afterBack, last);
}

TEST(XVBaseFunction, RegistryReleasesInReverseOrderAndReplaces) {
  std::vector<int> released;
  struct Probe {
    std::vector<int>* out;
    int id;
    ~Probe() { out->push_back(id); }
  };
  XVBaseFunction::addAppEndReleaseObject(std::make_shared<Probe>(Probe{&released, 1}), "one");
  XVBaseFunction::addAppEndReleaseObject(std::make_shared<Probe>(Probe{&released, 2}), "two");
  released.clear();  // the temporaries above
  XVBaseFunction::addAppEndReleaseObject(std::make_shared<Probe>(Probe{&released, 3}), "one");
  ASSERT_EQ(released, std::vector<int>({1, 3}));  // replaced object 1 released; temporary 3
  released.clear();
  EXPECT_EQ(XVBaseFunction::appEndReleaseObject<Probe>("one")->id, 3);
  EXPECT_EQ(XVBaseFunction::appEndReleaseObjectForKey("absent"), nullptr);
  int made = 0;
  auto a = XVBaseFunction::sharedObject<int>("shared", [&] { ++made; return std::make_shared<int>(5); });
  auto b = XVBaseFunction::sharedObject<int>("shared", [&] { ++made; return std::make_shared<int>(6); });
  EXPECT_EQ(a, b);
  EXPECT_EQ(made, 1);
  a.reset();
  b.reset();
  XVBaseFunction::releaseAppEndObjects();
  EXPECT_EQ(released, std::vector<int>({3, 2}));
  EXPECT_EQ(XVBaseFunction::appEndReleaseObjectForKey("two"), nullptr);
}

TEST(QFAlert, NamesTheFileWithTwoBlanks) {
  QFAlert alert;
  alert.initAlertWithTitle("/some/where/Broken File.wps");
  EXPECT_EQ(alert.messageText(), "Note");
  EXPECT_EQ(alert.buttons(), QStringList{"OK"});
  EXPECT_EQ(alert.informativeText(), "Broken File.wps  file is corrupted and cannot be opened.");
}
