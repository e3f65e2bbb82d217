// The application's end while conversions of every kind still run, in child processes (the
// quit driver): whatever runs at the quit, and whether or not it ends within the quit wait, the
// process exits with its status, never by a signal, with its settings written; what was being
// written into the cache is swept at the next start.

#include <gtest/gtest.h>

#include <QSettings>

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "core/XVBaseFunction.h"
#include "gui_test_app.h"
#include "shell/XVFileCacheLib.h"
#include "support/djvu_fixture.h"
#include "support/pdf_fixture.h"
#include "support/temp_dir.h"
#include "support/wordperfect_builder.h"
#include "support/xps_builder.h"

extern char** environ;

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

const fs::path kCorpus = LECTERN_CORPUS_DIR;

struct Outcome {
  bool ran = false;
  bool exited = false;
  int status = -1;
  int signal = 0;
};

// Runs the driver with `args` and the folders of `home`; kills it after `limit`.
Outcome runDriver(const std::vector<std::string>& args, const fs::path& home, std::chrono::seconds limit) {
  std::vector<std::string> env = {"QT_QPA_PLATFORM=offscreen", "XDG_CONFIG_HOME=" + (home / "config").string(),
                                  "XDG_CACHE_HOME=" + (home / "cache").string(),
                                  "XDG_DATA_HOME=" + (home / "data").string()};
  for (char** e = environ; *e; ++e) {
    const std::string v = *e;
    if (v.rfind("XDG_", 0) != 0 && v.rfind("QT_QPA_PLATFORM=", 0) != 0) env.push_back(v);
  }
  std::vector<std::string> argv = {QUIT_DRIVER};
  argv.insert(argv.end(), args.begin(), args.end());
  std::vector<char*> cargv, cenv;
  for (auto& a : argv) cargv.push_back(a.data());
  cargv.push_back(nullptr);
  for (auto& e : env) cenv.push_back(e.data());
  cenv.push_back(nullptr);
  Outcome outcome;
  pid_t pid = -1;
  if (::posix_spawn(&pid, QUIT_DRIVER, nullptr, nullptr, cargv.data(), cenv.data()) != 0) return outcome;
  outcome.ran = true;
  const auto deadline = std::chrono::steady_clock::now() + limit;
  int wstatus = 0;
  for (;;) {
    const pid_t done = ::waitpid(pid, &wstatus, WNOHANG);
    if (done == pid) break;
    if (std::chrono::steady_clock::now() > deadline) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, &wstatus, 0);
      break;
    }
    std::this_thread::sleep_for(10ms);
  }
  outcome.exited = WIFEXITED(wstatus);
  outcome.status = outcome.exited ? WEXITSTATUS(wstatus) : -1;
  outcome.signal = WIFSIGNALED(wstatus) ? WTERMSIG(wstatus) : 0;
  return outcome;
}

class ApplicationEnd : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    testsupport::guiApp();  // QPdfWriter needs fonts
    work_ = new testsupport::TempDir();
    const fs::path& w = work_->path();
    std::vector<std::string> paragraphs;
    for (int p = 0; p < 570; ++p) {
      std::string s = "Paragraph " + std::to_string(p + 1);
      for (int k = 0; k < 60; ++k) s += " words to lay out";
      paragraphs.push_back(s + ".");
    }
    ASSERT_TRUE(testsupport::writeFile(w / "long.wp", testsupport::wp5Document(paragraphs)));
    std::vector<testsupport::DjvuPageSpec> pages(8);
    for (auto& page : pages) {
      page.colour = true;
      page.width = 1700;
      page.height = 2200;
      page.dpi = 200;
    }
    fs::create_directories(w / "djvu-work");
    ASSERT_TRUE(testsupport::writeDjvu(w / "pages.djvu", w / "djvu-work", pages));
    ASSERT_TRUE(testsupport::writeNumberedPdf(QString::fromStdString((w / "pages.pdf").string()), 40));
    files_ = {(w / "long.wp").string(),
              (w / "pages.djvu").string(),
              (w / "pages.pdf").string(),
              (kCorpus / "xps/testPPT.xps").string(),
              (kCorpus / "visio/Visio11PlanWithDimensions.vsd").string(),
              (kCorpus / "visio/testfile1.vsdx").string(),
              (kCorpus / "works/testWORKS.wps").string(),
              (kCorpus / "tnef/quick-winmail.dat").string()};
  }
  static void TearDownTestSuite() {
    delete work_;
    work_ = nullptr;
  }

  static testsupport::TempDir* work_;
  static std::vector<std::string> files_;
};

testsupport::TempDir* ApplicationEnd::work_ = nullptr;
std::vector<std::string> ApplicationEnd::files_;

TEST_F(ApplicationEnd, QuitWhileConversionsRunEndsWithItsStatus) {
  struct Case {
    const char* what;
    const char* waitMs;
  };
  // No wait: the conversions outlive the quit wait. A long wait: they are joined.
  const Case cases[] = {{"no quit wait", "0"}, {"a quit wait", "5000"}};
  constexpr int kRounds = 4;
  for (const Case& c : cases) {
    for (int round = 0; round < kRounds; ++round) {
      SCOPED_TRACE(std::string(c.what) + ", round " + std::to_string(round + 1));
      const fs::path home = work_->path() / ("home-" + std::string(c.waitMs) + "-" + std::to_string(round));
      std::vector<std::string> args = {c.waitMs};
      args.insert(args.end(), files_.begin(), files_.end());
      const Outcome outcome = runDriver(args, home, 120s);
      ASSERT_TRUE(outcome.ran);
      EXPECT_EQ(outcome.signal, 0) << "ended by signal " << outcome.signal;
      EXPECT_TRUE(outcome.exited);
      EXPECT_EQ(outcome.status, 0);
      const QSettings settings(QString::fromStdString((home / "config").string()) + QLatin1Char('/') +
                                   XVBaseFunction::applicationId() + QStringLiteral("/Lectern.ini"),
                               QSettings::IniFormat);
      EXPECT_EQ(settings.value(QStringLiteral("quitDriver/begun")).toInt(), static_cast<int>(files_.size()));
    }
  }
  // What the conversions cut short were writing into the cache goes at the next start.
  const fs::path home = work_->path() / "home-0-0";
  ASSERT_EQ(runDriver({"0"}, home, 120s).status, 0);
  for (const auto& entry : fs::recursive_directory_iterator(home / "data")) {
    if (entry.path().parent_path().filename() != "cache") continue;
    EXPECT_FALSE(XVFileCacheLib::isTemporaryName(QString::fromStdString(entry.path().filename().string())))
        << entry.path();
  }
}

}  // namespace
