#include "shell/XVFileKey.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <future>
#include <string>

#include "support/temp_dir.h"

namespace {
QString q(const std::filesystem::path& p) { return QString::fromStdString(p.string()); }
constexpr size_t kHead = 10485760;
}  // namespace

TEST(XVFileKey, EmptyAndSmallFiles) {
  testsupport::TempDir dir;
  EXPECT_EQ(XVFileKey::FileKeyByFilePath(q(dir.write("empty", ""))), "d41d8cd98f00b204e9800998ecf8427e0");
  const std::string bytes(1234, 'a');
  const QString key = XVFileKey::FileKeyByFilePath(q(dir.write("small", bytes)));
  EXPECT_EQ(key, XVHash::HashValueByData(QByteArray::fromStdString(bytes)) + "1234");
  EXPECT_TRUE(XVFileKey::isWellFormedKey(key));
}

TEST(XVFileKey, OnlyTheFirstTenMiBAndTheSizeCount) {
  testsupport::TempDir dir;
  std::string a(kHead + 100, 'x');
  std::string b = a;
  b[kHead + 50] = 'y';  // differs after the head only
  std::string c = a + "z";  // same head, other size
  const QString ka = XVFileKey::FileKeyByFilePath(q(dir.write("a", a)));
  EXPECT_EQ(ka, XVFileKey::FileKeyByFilePath(q(dir.write("b", b))));
  const QString kc = XVFileKey::FileKeyByFilePath(q(dir.write("c", c)));
  EXPECT_NE(ka, kc);
  EXPECT_EQ(ka.left(32), kc.left(32));
  EXPECT_TRUE(ka.endsWith(QString::number(kHead + 100)));
}

TEST(XVFileKey, SparseLargeFileReadsOnlyTheHead) {
  testsupport::TempDir dir;
  const auto p = dir / "sparse";
  const int fd = ::open(p.c_str(), O_CREAT | O_WRONLY, 0644);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::ftruncate(fd, 2LL * 1024 * 1024 * 1024), 0);
  ::close(fd);
  const QString key = XVFileKey::FileKeyByFilePath(q(p));
  EXPECT_EQ(key, XVHash::HashValueByData(QByteArray(kHead, '\0')) + "2147483648");
}

TEST(XVFileKey, NoKeyForFoldersMissingOrUnreadableFiles) {
  testsupport::TempDir dir;
  EXPECT_TRUE(XVFileKey::FileKeyByFilePath(q(dir.path())).isNull());
  EXPECT_TRUE(XVFileKey::FileKeyByFilePath(q(dir / "missing")).isNull());
  EXPECT_TRUE(XVFileKey::FileKeyByFilePath(QString()).isNull());
  if (::geteuid() != 0) {  // root reads everything
    const auto p = dir.write("locked", "data");
    std::filesystem::permissions(p, std::filesystem::perms::none);
    EXPECT_TRUE(XVFileKey::FileKeyByFilePath(q(p)).isNull());
  }
}

TEST(XVFileKey, NoKeyForAFifoAndNoWaitForAWriter) {
  testsupport::TempDir dir;
  const auto p = dir / "pipe.pdf";
  ASSERT_EQ(::mkfifo(p.c_str(), 0600), 0);
  auto key = std::async(std::launch::async, [&] { return XVFileKey::FileKeyByFilePath(q(p)); });
  const bool quick = key.wait_for(std::chrono::seconds(3)) == std::future_status::ready;
  if (!quick) {  // free the blocked reader so the suite ends
    const int w = ::open(p.c_str(), O_WRONLY | O_NONBLOCK);
    if (w >= 0) ::close(w);
  }
  EXPECT_TRUE(quick) << "the key blocked on a FIFO";
  EXPECT_TRUE(key.get().isNull());
  EXPECT_TRUE(XVFileKey::FileKeyByFilePath("/dev/null").isNull());
}

TEST(XVFileKey, WellFormedKeys) {
  const QString hex = "0123456789abcdef0123456789abcdef";
  struct Case {
    QString key;
    bool ok;
  } cases[] = {{hex + "0", true},  {hex + "1234", true},        {hex, false},
               {"", false},        {hex.toUpper() + "1", false}, {hex + "12a", false},
               {"../" + hex, false}, {hex + "/1", false},        {hex + QString(20, '1'), false}};
  for (const auto& c : cases) EXPECT_EQ(XVFileKey::isWellFormedKey(c.key), c.ok) << c.key.toStdString();
}

TEST(XVHashAndPathKey, Values) {
  EXPECT_TRUE(XVHash::HashValueByData(QByteArray()).isNull());
  EXPECT_EQ(XVHash::HashValueByData(QByteArray("")), "d41d8cd98f00b204e9800998ecf8427e");
  EXPECT_EQ(XVHash::HashValueByData("abc"), "900150983cd24fb0d6963f7d28e17f72");
  testsupport::TempDir dir;
  const QString path = q(dir.write("f", "abc"));
  EXPECT_EQ(XVFilePathKey::FilePathKeyByFilePath(path), "900150983cd24fb0d6963f7d28e17f723" + path);
  EXPECT_TRUE(XVFilePathKey::FilePathKeyByFilePath(QString()).isNull());
}
