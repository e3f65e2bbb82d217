// The VSDX package reader and the pre-processor: entry checks and limits, metafile companions,
// packing, and the work folder.
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
#include "diagramkit/engine/VSDXPackage.h"
#include "diagramkit/engine/VSDXRenderer.h"
#include "platform/foundation/log.h"
#include "support/emf_builder.h"
#include "support/raw_zip.h"
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
    // Inside a package a backslash is a separator where the package was made: refused there.
    EXPECT_EQ(zipEntries(out).count("visio/media/" + stem + ".svg"), stem.find('\\') == std::string::npos ? 1u : 0u);
    EXPECT_FALSE(fs::exists(out.parent_path() / marker));
  }
  EXPECT_FALSE(fs::exists(marker));
}

TEST(VSDXPackage, EntriesThatLeaveTheFolderOrLinkAreRefusedOnEveryRoad) {
  testsupport::TempDir dir;
  const std::string absolute = "/tmp/absolute-" + std::to_string(::getpid()) + ".txt";
  const std::vector<std::string> hostile = {
      "../escaped.txt", "visio/../../escaped2.txt", absolute, "visio\\..\\..\\escaped3.txt",
      "visio\\media\\back.png", "visio/link", "visio/document.xml" /* the second of that name */};
  auto entries = testsupport::storedEntries(testsupport::vsdxParts({{}}));
  for (const std::string& name : hostile) entries.push_back(testsupport::storedEntry(name, "x"));
  entries[entries.size() - 2].data = fs::path(dir / "target").string();
  entries[entries.size() - 2].unixMode = S_IFLNK | 0777;
  // A name with "." and empty components is the same part.
  entries.push_back(testsupport::storedEntry("./visio//media/dot.png", "dot"));
  const fs::path src = dir / "slip.vsdx";
  ASSERT_TRUE(testsupport::writeRawZip(src, entries));

  const auto package = diagramkit::VSDXPackage::open(src);
  ASSERT_TRUE(package);
  EXPECT_EQ(std::set<std::string>(package->refused().begin(), package->refused().end()),
            std::set<std::string>(hostile.begin(), hostile.end()));
  const fs::path into = dir / "into";
  fs::create_directories(into);
  for (const std::string& name : hostile) {
    SCOPED_TRACE(name);
    if (name == "visio/document.xml") continue;
    EXPECT_FALSE(package->read(name));
    EXPECT_TRUE(package->extract(name, into).empty());
  }
  EXPECT_EQ(package->read("visio/media/dot.png"), "dot");
  EXPECT_NE(package->read("visio/document.xml"), "x");  // the first of the name
  EXPECT_FALSE(fs::exists(dir / "escaped.txt"));
  EXPECT_FALSE(fs::exists(dir / "escaped2.txt"));
  EXPECT_FALSE(fs::exists(absolute));
  EXPECT_FALSE(fs::exists(into / "visio" / "link"));
  // An unpack never overwrites: the second of two into one folder fails and keeps the first.
  const fs::path first = package->extract("visio/document.xml", into);
  ASSERT_FALSE(first.empty());
  std::ofstream(first) << "mine";
  std::string error;
  EXPECT_TRUE(package->extract("visio/document.xml", into, &error).empty());
  EXPECT_NE(error.find("the name is taken"), std::string::npos) << error;
  EXPECT_EQ(readFile(first), "mine");
  // Through the pre-processor the package still comes out, without the refused entries.
  const auto packed = zipEntries(preProcessVSDX(src));
  EXPECT_TRUE(packed.count("visio/document.xml"));
  EXPECT_TRUE(packed.count("visio/media/dot.png"));
  for (const std::string& name : hostile) {
    if (name != "visio/document.xml") {
      EXPECT_FALSE(packed.count(name)) << name;
    }
  }
}

// Data that does not match what its entry states is never handed out, nor left on disk.
TEST(VSDXPackage, AnEntryWhoseDataDoesNotMatchItsSizeOrChecksumIsNotRead) {
  testsupport::TempDir dir;
  struct Case {
    const char* name;
    testsupport::RawZipEntry entry;
  };
  std::vector<Case> cases;
  auto shorter = testsupport::zeroEntry("visio/media/shorter.bin", 1);
  shorter.size = 1000;
  cases.push_back({"states fewer bytes than it holds", shorter});
  auto longer = testsupport::zeroEntry("visio/media/longer.bin", 1);
  longer.size += 1000;
  cases.push_back({"states more bytes than it holds", longer});
  auto crc = testsupport::storedEntry("visio/media/crc.bin", "checked bytes");
  crc.crc ^= 1;
  cases.push_back({"a checksum that does not match", crc});
  auto stored = testsupport::storedEntry("visio/media/stored.bin", "stored bytes");
  stored.size = 6;
  cases.push_back({"a stored entry stating fewer bytes", stored});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto entries = testsupport::storedEntries(testsupport::vsdxParts({{}}));
    entries.push_back(c.entry);
    const fs::path src = dir / "damaged.vsdx";
    ASSERT_TRUE(testsupport::writeRawZip(src, entries));
    const auto package = diagramkit::VSDXPackage::open(src);
    ASSERT_TRUE(package);
    EXPECT_FALSE(package->read(c.entry.name));
    const fs::path into = dir / "into";
    fs::remove_all(into);
    fs::create_directories(into);
    std::string error;
    EXPECT_TRUE(package->extract(c.entry.name, into, &error).empty());
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(fs::exists(into / c.entry.name));
    EXPECT_TRUE(package->read("visio/document.xml"));  // the rest reads
  }
}

namespace {

// Bytes this process has handed to write() so far.
std::uint64_t bytesWritten() {
  std::ifstream io("/proc/self/io");
  std::string key;
  std::uint64_t value = 0;
  while (io >> key >> value)
    if (key == "wchar:") return value;
  ADD_FAILURE() << "no /proc/self/io";
  return 0;
}

std::uintmax_t folderBytes(const fs::path& folder) {
  std::uintmax_t total = 0;
  for (const auto& e : fs::recursive_directory_iterator(folder))
    if (e.is_regular_file()) total += e.file_size();
  return total;
}

}  // namespace

// A package of a few hundred kilobytes that unpacks to 256 MiB: what is not converted goes from
// package to package as it is stored and never reaches the disk unpacked.
TEST(PreProcessVSDX, EntriesItDoesNotConvertAreCopiedNotUnpacked) {
  testsupport::TempDir dir;
  struct Case {
    const char* name;
    std::string folder;  // of the four zero entries
    bool withVsd;
  };
  const Case cases[] = {
      {"entries beside the drawing's parts", "junk/", false},
      {"entries among the drawing's parts", "visio/media/", false},
      {"in a package holding a .vsd", "docProps/", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto entries = testsupport::storedEntries(testsupport::vsdxParts({{8.5, 11.0, "zeros"}}));
    entries.push_back(testsupport::storedEntry("visio/media/image1.emf", smallEmf()));
    for (int i = 1; i <= 4; ++i) entries.push_back(testsupport::zeroEntry(c.folder + "zero" + std::to_string(i) + ".bin", 64));
    if (c.withVsd) entries.push_back(testsupport::storedEntry("visio/media/picture.vsd", "vsd bytes"));
    const fs::path src = dir / "zeros.vsdx";
    ASSERT_TRUE(testsupport::writeRawZip(src, entries));
    ASSERT_LT(fs::file_size(src), 512u * 1024);

    const std::uint64_t before = bytesWritten();
    const fs::path out = preProcessVSDX(src);
    const std::uint64_t written = bytesWritten() - before;
    ASSERT_FALSE(out.empty());
    const fs::path t = c.withVsd ? out.parent_path().parent_path().parent_path() : out.parent_path();
    EXPECT_EQ(t.parent_path(), MyTempFolder::frameFolder());
    EXPECT_LT(written, 2u << 20);
    EXPECT_LT(folderBytes(t), 2u << 20);
    if (c.withVsd) {
      EXPECT_EQ(readFile(out), "vsd bytes");
      EXPECT_FALSE(fs::exists(t / "visio" / "document.xml"));
      EXPECT_TRUE(fs::exists(t / "visio" / "media" / "image1.svg"));  // converted before the .vsd
      continue;
    }
    const auto package = diagramkit::VSDXPackage::open(out);
    ASSERT_TRUE(package);
    EXPECT_TRUE(package->read("visio/pages/page1.xml"));
    EXPECT_TRUE(package->read("visio/media/image1.svg"));
    const bool packed = c.folder.starts_with("visio/");
    for (int i = 1; i <= 4; ++i) {
      const std::string name = c.folder + "zero" + std::to_string(i) + ".bin";
      EXPECT_EQ(std::find(package->names().begin(), package->names().end(), name) != package->names().end(), packed)
          << name;
    }
  }
}

namespace {

// Packages beyond the reader's limits, and the words of the reason they are refused with.
std::vector<std::pair<std::string, std::vector<testsupport::RawZipEntry>>> overLimitPackages() {
  using diagramkit::VSDXPackage;
  const auto drawing = testsupport::storedEntries(testsupport::vsdxParts({{}}));
  std::vector<std::pair<std::string, std::vector<testsupport::RawZipEntry>>> out;
  auto many = drawing;
  while (many.size() <= VSDXPackage::kMaxEntries)
    many.push_back(testsupport::storedEntry("visio/media/n" + std::to_string(many.size()) + ".txt", ""));
  out.emplace_back("more than " + std::to_string(VSDXPackage::kMaxEntries) + " entries", many);
  auto large = drawing;
  large.push_back(testsupport::zeroEntry("visio/media/large.bin", (VSDXPackage::kMaxPartBytes >> 20) + 1));
  out.emplace_back("the entry visio/media/large.bin unpacks to more than", large);
  auto total = drawing;
  const auto part = static_cast<std::uint32_t>((VSDXPackage::kMaxPartBytes >> 20) - 36);
  for (std::uint64_t sum = 0; sum <= VSDXPackage::kMaxTotalBytes >> 20; sum += part)
    total.push_back(testsupport::zeroEntry("visio/media/part" + std::to_string(sum) + ".bin", part));
  out.emplace_back("its entries unpack to more than", total);
  auto bomb = drawing;
  bomb.push_back(testsupport::zeroEntry("visio/media/bomb.bin", 1));
  bomb.back().size = 64u << 20;  // from a kilobyte
  out.emplace_back("the entry visio/media/bomb.bin unpacks to more than 1100 times", bomb);
  return out;
}

}  // namespace

// The pre-processor and the page renderer read through the same checks.
TEST(VSDXPackage, PackagesBeyondTheLimitsFailOnBothRoadsWithTheReason) {
  testsupport::TempDir dir;
  for (const auto& [reason, entries] : overLimitPackages()) {
    SCOPED_TRACE(reason);
    const fs::path src = dir / "over.vsdx";
    ASSERT_TRUE(testsupport::writeRawZip(src, entries));
    ASSERT_LT(fs::file_size(src), 4u << 20);
    std::string error;
    EXPECT_FALSE(diagramkit::VSDXPackage::open(src, &error));
    EXPECT_NE(error.find(reason), std::string::npos) << error;
    {
      foundation::ScopedLogCapture log;
      EXPECT_TRUE(preProcessVSDX(src).empty());
      EXPECT_TRUE(log.contains("VSDX not pre-processed: " + error));
    }
    {
      foundation::ScopedLogCapture log;
      int pages = 0;
      const fs::path work = dir / "pages";
      fs::create_directories(work);
      EXPECT_EQ(diagramkit::loadVSDXFile(src, work, &pages, pages), -1);
      EXPECT_TRUE(log.contains(error));
      EXPECT_TRUE(fs::is_empty(work));
    }
  }
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
  // Only the drawing itself was unpacked.
  EXPECT_FALSE(fs::exists(out.parent_path().parent_path().parent_path() / "visio" / "document.xml"));
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
