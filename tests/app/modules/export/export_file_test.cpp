#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <thread>

#include "export_test_util.h"
#include "modules/export/ExportFile.h"

using namespace exporttest;

namespace {

mode_t modeOf(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return 07777;
  return st.st_mode & 07777;
}

// Sets the process's umask for one test and puts the old one back.
struct UmaskScope {
  mode_t old;
  explicit UmaskScope(mode_t mask) : old(::umask(mask)) {}
  ~UmaskScope() { ::umask(old); }
};

TEST(ExportFile, NewFilesTakeTheUmasksMode) {
  for (const mode_t mask : {mode_t(022), mode_t(077), mode_t(002), mode_t(0)}) {
    SCOPED_TRACE(mask);
    testsupport::TempDir dir;
    UmaskScope scope(mask);
    const QString target = q(dir / "out.txt");
    {
      exportfile::PendingFile pending(target);
      ASSERT_FALSE(pending.path().isEmpty()) << pending.error().toStdString();
      EXPECT_EQ(modeOf(pending.path().toStdString()), 0666 & ~mask);
    }
    ASSERT_TRUE(exportfile::writeFile(target, "text", false));
    EXPECT_EQ(modeOf(target.toStdString()), 0666 & ~mask);
  }
}

TEST(ExportFile, ExportsLeaveOtherThreadsFilesWithTheUmask) {
  testsupport::TempDir dir;
  UmaskScope scope(022);
  std::atomic<bool> done{false};
  std::atomic<int> created{0}, wrong{0};
  std::thread other([&] {
    const std::string path = (dir / "other").string();
    while (!done.load()) {
      const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
      if (fd < 0) continue;
      struct stat st {};
      if (::fstat(fd, &st) == 0 && (st.st_mode & 07777) != 0644) wrong++;
      ::close(fd);
      ::unlink(path.c_str());
      created++;
    }
  });
  const QString target = q(dir / "out.bin");
  for (int i = 0; i < 50000 && wrong.load() == 0; ++i) {
    exportfile::PendingFile pending(target);
    ASSERT_FALSE(pending.path().isEmpty());
  }
  done = true;
  other.join();
  EXPECT_GT(created.load(), 0);
  EXPECT_EQ(wrong.load(), 0) << "files created while an export ran lost the umask";
}

}  // namespace
