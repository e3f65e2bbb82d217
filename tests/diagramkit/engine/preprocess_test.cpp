// The VSDX pre-processor: unpacking, metafile companions, packing, and its work folder.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zip.h>

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <set>

#include "diagramkit/engine/Metafiles.h"
#include "diagramkit/engine/MyTempFolder.h"
#include "diagramkit/engine/PreProcessVSDX.h"
#include "diagramkit/engine/ZipFolder.h"
#include "support/emf_builder.h"
#include "support/temp_dir.h"
#include "support/visio_builder.h"

namespace fs = std::filesystem;

namespace {

std::string readFile(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// name -> content of every file entry of a zip.
std::map<std::string, std::string> zipEntries(const fs::path& path) {
  std::map<std::string, std::string> out;
  int err = 0;
  zip_t* z = zip_open(path.c_str(), ZIP_RDONLY, &err);
  if (z == nullptr) return out;
  for (zip_int64_t i = 0; i < zip_get_num_entries(z, 0); ++i) {
    const std::string name = zip_get_name(z, static_cast<zip_uint64_t>(i), 0);
    if (name.ends_with('/')) continue;
    zip_stat_t st;
    zip_stat_index(z, static_cast<zip_uint64_t>(i), 0, &st);
    std::string content(st.size, '\0');
    zip_file_t* f = zip_fopen_index(z, static_cast<zip_uint64_t>(i), 0);
    zip_fread(f, content.data(), st.size);
    zip_fclose(f);
    out[name] = content;
  }
  zip_discard(z);
  return out;
}

std::string smallEmf() {
  return testsupport::EmfBuilder().brush(1, 0, 0x0000FF).select(1).poly16(86, {{0, 0}, {50, 0}, {50, 50}}).eof().bytes();
}

// The process's data folder, set before anything asks for the work folder, with an old
// folder no process holds and one that another open file of this process holds locked.
struct WorkFolderSetup : testing::Environment {
  testsupport::TempDir data;
  fs::path stale;
  fs::path held;
  int heldFd = -1;

  void SetUp() override {
    ::setenv("XDG_DATA_HOME", data.path().c_str(), 1);
    const fs::path root = data / "VSD2PDF";
    stale = root / "run-old";
    held = root / "run-held";
    fs::create_directories(stale / "x.vsdx123");
    fs::create_directories(held);
    std::ofstream(held / ".lock") << "";
    std::ofstream(stale / ".lock") << "";
    std::ofstream(root / "loose-file") << "left by an earlier layout";
    heldFd = ::open((held / ".lock").c_str(), O_RDWR);
    ::flock(heldFd, LOCK_EX);
  }
  void TearDown() override {
    if (heldFd >= 0) ::close(heldFd);
  }
};

WorkFolderSetup* setup = static_cast<WorkFolderSetup*>(testing::AddGlobalTestEnvironment(new WorkFolderSetup));

}  // namespace

// Runs first (death tests do), in a child, before this process has made its work folder.
TEST(PreProcessDeathTest, NoDataFolderFailsTheCallAndTheProcessGoesOn) {
  testsupport::TempDir dir;
  const fs::path src = dir / "a.vsdx";
  ASSERT_TRUE(testsupport::writeVsdx(src, {{}}));
  EXPECT_EXIT(
      {
        ::unsetenv("XDG_DATA_HOME");
        ::unsetenv("HOME");
        std::_Exit(preProcessVSDX(src).empty() && MyTempFolder::frameFolder().empty() ? 7 : 1);
      },
      testing::ExitedWithCode(7), "");
}

TEST(PreProcessVSDX, FirstUseClearsOnlyWhatNoProcessHolds) {
  const fs::path mine = MyTempFolder::frameFolder();
  ASSERT_FALSE(mine.empty());
  EXPECT_EQ(mine.parent_path(), setup->data / "VSD2PDF");
  EXPECT_FALSE(fs::exists(setup->stale));
  EXPECT_FALSE(fs::exists(setup->data / "VSD2PDF" / "loose-file"));
  EXPECT_TRUE(fs::exists(setup->held / ".lock"));
  // Our own folder is held: another process's first use would keep it.
  const int fd = ::open((mine / ".lock").c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  EXPECT_NE(::flock(fd, LOCK_EX | LOCK_NB), 0);
  ::close(fd);
  // Later calls do not clear again.
  fs::create_directories(setup->data / "VSD2PDF" / "run-later");
  EXPECT_EQ(MyTempFolder::frameFolder(), mine);
  EXPECT_TRUE(fs::exists(setup->data / "VSD2PDF" / "run-later"));
}

TEST(PreProcessVSDX, MetafilesGainCompanionsAndThePackageKeepsItsParts) {
  testsupport::TempDir dir;
  auto parts = testsupport::vsdxParts({{8.5, 11.0, "Plan"}});
  const std::string wmf = readFile(fs::path(LECTERN_CORPUS_DIR) / "wmf" / "Visio5PlanWithDimensions.wmf");
  ASSERT_FALSE(wmf.empty());
  parts.emplace_back("visio/media/image1.wmf", wmf);
  parts.emplace_back("visio/media/image2.EMF", smallEmf());
  parts.emplace_back("docProps/thumbnail.emf", smallEmf());
  parts.emplace_back("visio/media/image1.png", "a picture of the package's own");
  const fs::path src = dir / "Plan.VSDX";
  ASSERT_TRUE(testsupport::writeZip(src, parts));

  const fs::path out = preProcessVSDX(src);
  ASSERT_FALSE(out.empty());
  EXPECT_EQ(out.filename(), "Plan.vsdx");
  EXPECT_EQ(out.parent_path().parent_path(), MyTempFolder::frameFolder());
  const auto entries = zipEntries(out);
  for (const auto& [name, content] : parts) {
    ASSERT_TRUE(entries.count(name)) << name;
    EXPECT_EQ(entries.at(name), content) << name << " changed";
  }
  ASSERT_TRUE(entries.count("visio/media/image1.eps"));
  EXPECT_TRUE(entries.at("visio/media/image1.eps").starts_with("%!PS-Adobe"));
  ASSERT_TRUE(entries.count("visio/media/image2.svg"));
  EXPECT_NE(entries.at("visio/media/image2.svg").find("<svg:path"), std::string::npos);
  ASSERT_TRUE(entries.count("docProps/thumbnail.svg"));
  EXPECT_TRUE(entries.at("docProps/thumbnail.svg").ends_with("</svg:svg>"));
  // The packed items left the folder: only the new package stays.
  std::set<std::string> left;
  for (const auto& e : fs::directory_iterator(out.parent_path())) left.insert(e.path().filename().string());
  EXPECT_EQ(left, std::set<std::string>{"Plan.vsdx"});
}

TEST(PreProcessVSDX, AWmfWithoutAPictureOfTheSameNameGetsAPng) {
  testsupport::TempDir dir;
  auto parts = testsupport::vsdxParts({{}});
  parts.emplace_back("visio/media/image1.wmf", readFile(fs::path(LECTERN_CORPUS_DIR) / "wmf" / "testWMF.wmf"));
  parts.emplace_back("visio/media/broken.wmf", "not a metafile");
  parts.emplace_back("visio/media/broken.emf", "not a metafile either");
  const fs::path src = dir / "d.vsdx";
  ASSERT_TRUE(testsupport::writeZip(src, parts));
  const auto entries = zipEntries(preProcessVSDX(src));
  ASSERT_TRUE(entries.count("visio/media/image1.png"));
  EXPECT_TRUE(entries.at("visio/media/image1.png").starts_with("\x89PNG"));
  EXPECT_FALSE(entries.count("visio/media/broken.eps"));
  EXPECT_FALSE(entries.count("visio/media/broken.png"));
  ASSERT_TRUE(entries.count("visio/media/broken.svg"));
  EXPECT_EQ(entries.at("visio/media/broken.svg"), "");
}

TEST(PreProcessVSDX, HostileFileNamesWorkAndRunNothing) {
  testsupport::TempDir dir;
  // A shell would run these in the current folder (or where it was sent with cd).
  const std::string marker = "lectern-hostile-ran";
  const std::string hostile[] = {
      "-rf \"quoted\" name",
      "$(touch " + marker + ")",
      "`touch " + marker + "`",
      "two\nlines; touch " + marker,
      "back\\slash & 'single' | touch " + marker,
  };
  for (const std::string& stem : hostile) {
    SCOPED_TRACE(stem);
    const fs::path src = dir / (stem + ".vsdx");
    auto parts = testsupport::vsdxParts({{}});
    parts.emplace_back("visio/media/" + stem + ".emf", smallEmf());
    ASSERT_TRUE(testsupport::writeZip(src, parts));
    const fs::path out = preProcessVSDX(src);
    ASSERT_FALSE(out.empty());
    EXPECT_EQ(out.filename(), stem + ".vsdx");
    EXPECT_TRUE(zipEntries(out).count("visio/media/" + stem + ".svg"));
    EXPECT_FALSE(fs::exists(out.parent_path() / marker));
  }
  EXPECT_FALSE(fs::exists(marker));
}

TEST(PreProcessVSDX, EntriesThatLeaveTheFolderOrLinkAreRefused) {
  testsupport::TempDir dir;
  const fs::path src = dir / "slip.vsdx";
  {
    auto parts = testsupport::vsdxParts({{}});
    parts.emplace_back("../escaped.txt", "x");
    parts.emplace_back("visio/../../escaped2.txt", "x");
    parts.emplace_back("/tmp/absolute-" + std::to_string(::getpid()) + ".txt", "x");
    parts.emplace_back("visio\\..\\..\\escaped3.txt", "x");
    parts.emplace_back("visio/link", fs::path(dir / "target").string());
    ASSERT_TRUE(testsupport::writeZip(src, parts));
    int err = 0;
    zip_t* z = zip_open(src.c_str(), 0, &err);
    const zip_int64_t link = zip_name_locate(z, "visio/link", 0);
    zip_file_set_external_attributes(z, static_cast<zip_uint64_t>(link), 0, ZIP_OPSYS_UNIX, (S_IFLNK | 0777u) << 16);
    ASSERT_EQ(zip_close(z), 0);
  }
  const fs::path into = dir / "into";
  fs::create_directories(into);
  std::vector<std::string> refused;
  ASSERT_TRUE(diagramkit::unzipInto(src, into, nullptr, &refused));
  EXPECT_EQ(std::set<std::string>(refused.begin(), refused.end()),
            (std::set<std::string>{"../escaped.txt", "visio/../../escaped2.txt",
                                   "/tmp/absolute-" + std::to_string(::getpid()) + ".txt",
                                   "visio\\..\\..\\escaped3.txt", "visio/link"}));
  EXPECT_FALSE(fs::exists(dir / "escaped.txt"));
  EXPECT_FALSE(fs::exists(dir / "escaped2.txt"));
  EXPECT_FALSE(fs::exists("/tmp/absolute-" + std::to_string(::getpid()) + ".txt"));
  EXPECT_FALSE(fs::exists(into / "visio" / "link"));
  EXPECT_TRUE(fs::exists(into / "visio" / "document.xml"));
  // A second unpack into the same folder overwrites nothing.
  std::ofstream(into / "visio" / "document.xml") << "mine";
  refused.clear();
  ASSERT_TRUE(diagramkit::unzipInto(src, into, nullptr, &refused));
  EXPECT_EQ(readFile(into / "visio" / "document.xml"), "mine");
  EXPECT_NE(std::find(refused.begin(), refused.end(), "visio/document.xml"), refused.end());
  // Through the pre-processor the package still comes out, without the refused entries.
  const auto entries = zipEntries(preProcessVSDX(src));
  EXPECT_TRUE(entries.count("visio/document.xml"));
  EXPECT_FALSE(entries.count("visio/link"));
}

TEST(PreProcessVSDX, AnEmbeddedVsdIsReturnedAndNothingIsPacked) {
  testsupport::TempDir dir;
  auto parts = testsupport::vsdxParts({{}});
  parts.emplace_back("visio/embeddings/inner.VSD", "vsd bytes");
  const fs::path src = dir / "outer.vsdx";
  ASSERT_TRUE(testsupport::writeZip(src, parts));
  const fs::path out = preProcessVSDX(src);
  EXPECT_EQ(out.filename(), "inner.VSD");
  EXPECT_EQ(readFile(out), "vsd bytes");
  EXPECT_FALSE(fs::exists(out.parent_path().parent_path().parent_path() / "outer.vsdx"));
  EXPECT_TRUE(fs::exists(out.parent_path().parent_path().parent_path() / "visio" / "document.xml"));
}

TEST(PreProcessVSDX, NotAPackageFails) {
  testsupport::TempDir dir;
  EXPECT_TRUE(preProcessVSDX(dir.write("junk.vsdx", "not a zip")).empty());
  EXPECT_TRUE(preProcessVSDX(dir / "missing.vsdx").empty());
  // A zip with none of a drawing's parts: nothing to pack, so no package is answered.
  ASSERT_TRUE(testsupport::writeZip(dir / "other.vsdx", {{"notes/readme.txt", "hello"}}));
  const fs::path out = preProcessVSDX(dir / "other.vsdx");
  EXPECT_TRUE(out.empty()) << out;
}

TEST(Metafiles, Emf2jpgWritesThePdfAndABitmap) {
  testsupport::TempDir dir;
  const fs::path emf = dir.write("p.emf", smallEmf());
  ASSERT_TRUE(emf2jpg(emf, dir / "p.pdf", dir / "p.bmp"));
  EXPECT_TRUE(readFile(dir / "p.pdf").starts_with("%PDF"));
  EXPECT_TRUE(fs::exists(dir / "p.svg"));
  const std::string bmp = readFile(dir / "p.bmp");
  ASSERT_GT(bmp.size(), 54u);
  EXPECT_TRUE(bmp.starts_with("BM"));
  // 100 x 100 at 24 bits: the triangle's red is there, so is the white around it.
  EXPECT_EQ(bmp.size(), 54u + 100u * 300u);
  EXPECT_NE(bmp.find("\x00\x00\xff", 54, 3), std::string::npos);
  EXPECT_NE(bmp.find("\xff\xff\xff", 54, 3), std::string::npos);
  // A metafile that cannot be read gives no PDF and no image.
  const fs::path bad = dir.write("bad.emf", "junk");
  EXPECT_FALSE(emf2jpg(bad, dir / "bad.pdf", dir / "bad.bmp"));
  EXPECT_FALSE(fs::exists(dir / "bad.bmp"));
}
