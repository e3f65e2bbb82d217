#include "shell/XVFileCacheLib.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <thread>
#include <vector>

#include "platform/foundation/log.h"
#include "support/temp_dir.h"

namespace {
QString q(const std::filesystem::path& p) { return QString::fromStdString(p.string()); }
QString key(int n) { return QString("0123456789abcdef0123456789abcdef%1").arg(n); }
ino_t inode(const QString& path) {
  struct stat st {};
  return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_ino : 0;
}
}  // namespace

TEST(XVFileCacheLib, MissingIndexIsCreatedWithItsFolders) {
  testsupport::TempDir dir;
  const QString lib = q(dir / "deep/cache");
  XVFileCacheLib cache(lib);
  EXPECT_TRUE(QFileInfo(lib + "/lib_config").isFile());
  EXPECT_EQ(cache.cacheFileCount(), 0);
  EXPECT_EQ(cache.libFilePath(), lib + "/lib_config");
}

TEST(XVFileCacheLib, AddedEntriesSurviveARestart) {
  testsupport::TempDir dir;
  const QString lib = q(dir / "cache");
  {
    XVFileCacheLib cache(lib);
    const QString out = cache.cachePathById(key(1));
    EXPECT_EQ(out, lib + "/" + key(1));
    EXPECT_TRUE(cache.cacheFilePathByID(key(1)).isNull());  // path answered even without an entry
    dir.write("cache/" + key(1).toStdString(), "%PDF");
    EXPECT_TRUE(cache.addExistCacheFile(out, key(1)));
    const ino_t first = inode(cache.libFilePath());
    EXPECT_TRUE(cache.addExistCacheFile(out, key(1)));
    EXPECT_EQ(inode(cache.libFilePath()), first) << "second addition rewrote the index";
    EXPECT_EQ(cache.cacheFileCount(), 1);
    EXPECT_FALSE(cache.addExistCacheFile(QString(), key(2)));
    EXPECT_FALSE(cache.addExistCacheFile(out, QString()));
  }
  XVFileCacheLib again(lib);
  EXPECT_EQ(again.cacheFileCount(), 1);
  EXPECT_EQ(again.cacheFilePathByID(key(1)), lib + "/" + key(1));
  EXPECT_EQ(again.itemByID(key(1)).name(), key(1));
  EXPECT_TRUE(again.itemByID(key(9)).isNull());
}

TEST(XVFileCacheLib, CorruptIndexIsSetAsideAndMalformedEntriesDropped) {
  testsupport::TempDir dir;
  const QString lib = q(dir / "cache");
  const std::string corrupt("\x00\x01 not json", 11);
  dir.write("cache/lib_config", corrupt);
  {
    foundation::ScopedLogCapture log;
    XVFileCacheLib cache(lib);
    EXPECT_EQ(cache.cacheFileCount(), 0);
    EXPECT_TRUE(log.contains("cannot be read"));
  }
  EXPECT_EQ(testsupport::readFile(dir / "cache/lib_config.bad"), corrupt);

  const std::string good = key(1).toStdString();
  const std::string json =
      R"({"format":"lectern-cache-index","version":1,"items":{)"
      R"(")" + good + R"(":{"cache_item_id":")" + good + R"(","cache_item_name":")" + good + R"("},)"
      R"("../../etc":{"cache_item_id":"../../etc","cache_item_name":"../../etc"},)"
      R"(")" + key(2).toStdString() + R"(":{"cache_item_id":")" + key(2).toStdString() + R"(","cache_item_name":"../x"},)"
      R"(")" + key(3).toStdString() + R"(":{"cache_item_id":")" + key(4).toStdString() + R"(","cache_item_name":"x"}}})";
  dir.write("cache/lib_config", json);
  foundation::ScopedLogCapture log;
  XVFileCacheLib cache(lib);
  EXPECT_EQ(cache.cacheFileCount(), 1);
  EXPECT_FALSE(cache.itemByID(key(1)).isNull());
  EXPECT_TRUE(log.contains("malformed"));
  EXPECT_TRUE(cache.cachePathById("../../etc").isNull());
  EXPECT_TRUE(cache.cachePathById(QString()).isNull());
}

TEST(XVFileCacheLib, EmptyIndexStartsEmpty) {
  testsupport::TempDir dir;
  dir.write("cache/lib_config", "");
  XVFileCacheLib cache(q(dir / "cache"));
  EXPECT_EQ(cache.cacheFileCount(), 0);
  EXPECT_FALSE(QFileInfo::exists(q(dir / "cache/lib_config.bad")));
}

TEST(XVFileCacheLib, FailedIndexWriteIsReported) {
  testsupport::TempDir dir;
  const QString lib = q(dir / "cache");
  XVFileCacheLib cache(lib);
  // A folder where the index should be makes the rename fail.
  QFile::remove(cache.libFilePath());
  std::filesystem::create_directories(dir / "cache/lib_config/inner");
  foundation::ScopedLogCapture log;
  EXPECT_FALSE(cache.addExistCacheFile(cache.cachePathById(key(1)), key(1)));
  EXPECT_TRUE(log.contains("cannot write the index"));
}

TEST(XVFileCacheLib, CopyAddAndRemove) {
  testsupport::TempDir dir;
  const QString lib = q(dir / "cache");
  XVFileCacheLib cache(lib);
  const QString src = q(dir.write("src.pdf", "%PDF-1.4 body"));
  const QString stored = cache.addCacheFileByOriginalFile(src, key(5));
  EXPECT_EQ(stored, lib + "/" + key(5));
  EXPECT_EQ(testsupport::readFile(stored.toStdString()), "%PDF-1.4 body");
  EXPECT_TRUE(cache.addCacheFileByOriginalFile(q(dir / "missing"), key(6)).isNull());
  EXPECT_EQ(cache.addCacheFileByID(key(7)), lib + "/" + key(7));
  EXPECT_TRUE(cache.addCacheFileByID("bad").isNull());
  EXPECT_EQ(cache.cacheFileCount(), 2);
  cache.removeCacheFileByID(key(5));
  EXPECT_FALSE(QFileInfo::exists(stored));
  EXPECT_EQ(cache.cacheFileCount(), 1);
  EXPECT_EQ(XVFileCacheLib(lib).cacheFileCount(), 1);
}

TEST(XVFileCacheLib, RemovingAFolderEntryRemovesTheFolderButNotWhatItsLinksPointAt) {
  testsupport::TempDir dir;
  const QString lib = q(dir / "cache");
  XVFileCacheLib cache(lib);
  const QString folder = cache.cachePathById(key(3));
  ASSERT_TRUE(QDir().mkpath(folder + "/MessagePath"));
  const QString outside = q(dir / "outside");
  ASSERT_TRUE(QDir().mkpath(outside));
  QFile keep(outside + "/keep.txt");
  ASSERT_TRUE(keep.open(QIODevice::WriteOnly));
  keep.write("kept");
  keep.close();
  ASSERT_TRUE(QFile::link(outside, folder + "/MessagePath/link"));
  QFile body(folder + "/MessagePath/message body 1.txt");
  ASSERT_TRUE(body.open(QIODevice::WriteOnly));
  body.close();
  ASSERT_TRUE(cache.addExistCacheFile(folder, key(3)));

  cache.removeCacheFileByID(key(3));
  EXPECT_FALSE(QFileInfo::exists(folder));
  EXPECT_TRUE(QFileInfo::exists(outside + "/keep.txt"));
  EXPECT_EQ(XVFileCacheLib(lib).cacheFileCount(), 0);
}

TEST(XVFileCacheLib, ConcurrentAdditionsAllReachTheIndex) {
  testsupport::TempDir dir;
  const QString lib = q(dir / "cache");
  auto cache = XVFileCacheLib::fileCacheLibWithLibPath(lib);
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 25; ++i) {
        const QString id = key(t * 100 + i);
        EXPECT_TRUE(cache->addExistCacheFile(cache->cachePathById(id), id));
        EXPECT_FALSE(cache->cacheFilePathByID(id).isNull());
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(cache->cacheFileCount(), 200);
  EXPECT_EQ(XVFileCacheLib(lib).cacheFileCount(), 200);
}

TEST(XVFileCacheLib, OpeningTheFolderAloneSweepsTheTemporaryFilesOfInterruptedWriters) {
  testsupport::TempDir dir;
  const std::string k = key(7).toStdString();
  struct Case {
    std::string name;
    bool swept;
  };
  const Case cases[] = {
      {k + ".part-Ab12Cd", true},     // a kit's PDF being written
      {k + ".part", true},            // a PDF being copied in
      {k + ".Xy34Zw", true},          // a result being saved
      {"." + k + ".Qr56St", true},    // a drawing's PDF being written
      {"lib_config.Mn78Op", true},    // the index being saved
      {k, false},                     // a result
      {"lib_config.bad", false},      // an index set aside
      {"notes.part-Ab12Cd", false},   // not ours
      {"0123.part-Ab12Cd", false},    // not a content key
  };
  for (const Case& c : cases) dir.write("cache/" + c.name, "bytes");
  dir.write("cache/" + key(8).toStdString() + ".part-dir/inside", "bytes");  // folders are left alone
  XVFileCacheLib cache(q(dir / "cache"));
  for (const Case& c : cases) EXPECT_EQ(!std::filesystem::exists(dir / "cache" / c.name), c.swept) << c.name;
  EXPECT_TRUE(std::filesystem::exists(dir / "cache" / (key(8).toStdString() + ".part-dir/inside")));
}

TEST(XVFileCacheLib, TemporaryFilesStayWhileAnotherUserHoldsTheFolderAndGoOnceItEnds) {
  testsupport::TempDir dir;
  const QString lib = q(dir / "cache");
  const auto part = dir / "cache" / (key(1).toStdString() + ".part-Ab12Cd");
  {
    // Another cache object in this process, converting into the folder.
    XVFileCacheLib first(lib);
    dir.write("cache/" + part.filename().string(), "being written");
    XVFileCacheLib second(lib);
    EXPECT_TRUE(std::filesystem::exists(part));
  }
  // Another process (a second launch, a tool) holding the folder, then killed. The child only
  // takes the lock, says so and waits: nothing it does needs more than a forked thread can do.
  dir.write("cache/" + part.filename().string(), "being written");
  const std::string lockPath = (dir / "cache/lib_lock").string();
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  const pid_t holder = ::fork();
  ASSERT_GE(holder, 0);
  if (holder == 0) {
    ::close(ready[0]);
    const int fd = ::open(lockPath.c_str(), O_RDWR);
    const char held = fd >= 0 && ::flock(fd, LOCK_SH) == 0 ? 'y' : 'n';
    if (::write(ready[1], &held, 1) != 1) ::_exit(1);
    for (;;) ::pause();
  }
  ::close(ready[1]);
  char held = 0;
  const bool told = ::read(ready[0], &held, 1) == 1;
  ::close(ready[0]);
  const auto killHolder = [holder] {
    ::kill(holder, SIGKILL);
    int status = 0;
    ::waitpid(holder, &status, 0);
  };
  if (!told || held != 'y') killHolder();
  ASSERT_TRUE(told);
  ASSERT_EQ(held, 'y');
  XVFileCacheLib(lib).cacheFileCount();
  EXPECT_TRUE(std::filesystem::exists(part));
  killHolder();
  XVFileCacheLib(lib).cacheFileCount();
  EXPECT_FALSE(std::filesystem::exists(part));
}
