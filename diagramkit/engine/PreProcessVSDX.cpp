#include "diagramkit/engine/PreProcessVSDX.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <map>
#include <mutex>
#include <random>
#include <system_error>
#include <vector>

#include "diagramkit/engine/Metafiles.h"
#include "diagramkit/engine/MyTempFolder.h"
#include "diagramkit/engine/VSDXPackage.h"
#include "platform/foundation/log.h"

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kLog = "diagramkit";
constexpr const char* kLockName = ".lock";
// A folder without a lock file is left alone this long: its process may be making it.
constexpr auto kUnlockedGrace = std::chrono::minutes(1);

void logLine(foundation::LogLevel level, const std::string& text) { foundation::log(level, kLog, text); }

void setError(std::string* error, const std::string& text) {
  if (error) *error = text;
}

std::string lower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

// Whether a running process holds the folder (its lock file is locked).
bool heldByAProcess(const fs::path& folder) {
  const fs::path lock = folder / kLockName;
  const int fd = ::open(lock.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) {
    // No lock file yet: a process may be between making the folder and locking it.
    std::error_code ec;
    const auto written = fs::last_write_time(folder, ec);
    return !ec && fs::file_time_type::clock::now() - written < kUnlockedGrace;
  }
  const bool held = ::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
  ::close(fd);
  return held;
}

void clearUnheld(const fs::path& root) {
  std::error_code ec;
  std::vector<fs::path> entries;
  for (const auto& entry : fs::directory_iterator(root, ec)) entries.push_back(entry.path());
  for (const fs::path& entry : entries) {
    const fs::file_status st = fs::symlink_status(entry, ec);
    if (fs::is_directory(st) && heldByAProcess(entry)) continue;
    fs::remove_all(entry, ec);
    if (ec) logLine(foundation::LogLevel::Warning, "cannot remove " + entry.string() + ": " + ec.message());
  }
}

struct ProcessFolder {
  std::mutex mutex;
  fs::path path;
  int lockFd = -1;  // held open, and locked, for the process's life
};

ProcessFolder& processFolder() {
  static auto* f = new ProcessFolder();
  return *f;
}

// Source names are one file-name component; keep the folder name within the system's limit.
std::string packageName(const fs::path& source) {
  std::string stem = source.stem().string();
  constexpr std::size_t kMaxStem = 180;
  if (stem.size() > kMaxStem) {
    std::size_t cut = kMaxStem;
    while (cut > 0 && (static_cast<unsigned char>(stem[cut]) & 0xC0) == 0x80) --cut;  // whole UTF-8 characters
    stem.resize(cut);
  }
  if (stem.empty()) stem = "_";
  return stem + ".vsdx";
}

// A new folder work/<n><r>, r at least three digits.
fs::path makeCallFolder(const fs::path& work, const std::string& n) {
  static std::mutex m;
  static std::minstd_rand random(static_cast<unsigned>(::getpid()));
  for (int attempt = 0; attempt < 100; ++attempt) {
    unsigned r = 0;
    {
      std::lock_guard lock(m);
      r = static_cast<unsigned>(random() % 1000000);
    }
    char digits[16];
    std::snprintf(digits, sizeof digits, "%03u", r);
    const fs::path t = work / (n + digits);
    if (::mkdir(t.c_str(), 0700) == 0) return t;
    if (errno != EEXIST) return {};
  }
  return {};
}

// The items of a package that make the drawing: only they are packed again, and only their
// metafiles are converted (the companions of any other could not travel with the package).
const std::vector<std::string>& drawingItems() {
  static const std::vector<std::string> items = {"_rels", "[Content_Types].xml", "docProps", "visio"};
  return items;
}

bool inDrawingItems(const std::string& name) {
  const std::vector<std::string>& items = drawingItems();
  return std::find(items.begin(), items.end(), name.substr(0, name.find('/'))) != items.end();
}

}  // namespace

fs::path MyTempFolder::workRoot() {
  const char* xdg = std::getenv("XDG_DATA_HOME");
  if (xdg != nullptr && xdg[0] == '/') return fs::path(xdg) / "VSD2PDF";
  const char* home = std::getenv("HOME");
  if (home != nullptr && home[0] == '/') return fs::path(home) / ".local" / "share" / "VSD2PDF";
  return {};
}

fs::path MyTempFolder::frameFolder(std::string* error) {
  ProcessFolder& f = processFolder();
  std::lock_guard lock(f.mutex);
  if (!f.path.empty()) return f.path;
  const fs::path root = workRoot();
  if (root.empty()) {
    setError(error, "no data folder (neither XDG_DATA_HOME nor HOME is set)");
    return {};
  }
  std::error_code ec;
  fs::create_directories(root, ec);
  if (ec || !fs::is_directory(root)) {
    setError(error, "cannot create " + root.string() + (ec ? ": " + ec.message() : ""));
    return {};
  }
  clearUnheld(root);
  std::string tmpl = (root / "run-XXXXXX").string();
  if (::mkdtemp(tmpl.data()) == nullptr) {
    setError(error, "cannot create a folder in " + root.string() + ": " + std::generic_category().message(errno));
    return {};
  }
  const fs::path mine = tmpl;
  const fs::path lockPath = mine / kLockName;
  const int fd = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0 || ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    setError(error, "cannot lock " + lockPath.string() + ": " + std::generic_category().message(errno));
    if (fd >= 0) ::close(fd);
    fs::remove_all(mine, ec);
    return {};
  }
  f.lockFd = fd;
  f.path = mine;
  return f.path;
}

fs::path preProcessVSDX(const fs::path& source) {
  try {
    std::string error;
    const fs::path work = MyTempFolder::frameFolder(&error);
    if (work.empty()) {
      logLine(foundation::LogLevel::Error, "VSDX not pre-processed: " + error);
      return {};
    }
    const auto package = diagramkit::VSDXPackage::open(source, &error);
    if (!package) {
      logLine(foundation::LogLevel::Error, "VSDX not pre-processed: " + error);
      return {};
    }
    const std::string n = packageName(source);
    const fs::path t = makeCallFolder(work, n);
    if (t.empty()) {
      logLine(foundation::LogLevel::Error, "VSDX not pre-processed: no folder for " + source.string());
      return {};
    }
    const std::vector<std::string>& names = package->names();
    auto extension = [](const std::string& name) { return lower(fs::path(name).extension().string()); };
    // A package that holds a ".vsd" drawing: its metafiles are converted in path order until
    // the first ".vsd", whose path is the answer; nothing is packed.
    const bool holdsDrawing =
        std::any_of(names.begin(), names.end(), [&](const std::string& name) { return extension(name) == ".vsd"; });
    // Only what is converted (and the ".vsd") is unpacked; the new package copies the other
    // entries as they are stored.
    std::map<std::string, fs::path> added;
    auto addCompanion = [&](const std::string& name, const fs::path& file) {
      std::error_code ec;
      if (holdsDrawing || !fs::exists(file, ec)) return;
      // A picture of the package's own keeps its name and its bytes.
      if (std::binary_search(names.begin(), names.end(), name, [](const std::string& a, const std::string& b) {
            return fs::path(a) < fs::path(b);
          })) {
        fs::remove(file, ec);
        return;
      }
      added[name] = file;
    };
    for (const std::string& name : names) {
      const std::string ext = extension(name);
      const bool drawing = holdsDrawing && ext == ".vsd";
      if (!drawing && ((ext != ".wmf" && ext != ".emf") || !inDrawingItems(name))) continue;
      const fs::path f = package->extract(name, t, &error);
      if (f.empty()) {
        logLine(foundation::LogLevel::Warning, "not unpacked: " + error);
        continue;
      }
      if (drawing) return f;
      const std::string base = fs::path(name).replace_extension().string();
      fs::path b = f;
      b.replace_extension();
      if (ext == ".wmf") {
        wmf2jpg(f, b.string() + ".eps", b.string() + ".png");
        addCompanion(base + ".eps", b.string() + ".eps");
        addCompanion(base + ".png", b.string() + ".png");
      } else {
        emf2svg(f.c_str(), (b.string() + ".svg").c_str());
        addCompanion(base + ".svg", b.string() + ".svg");
      }
    }
    if (holdsDrawing) {
      logLine(foundation::LogLevel::Error, "VSDX not pre-processed: its drawing cannot be unpacked");
      return {};
    }
    const fs::path o = t / n;
    if (!package->packInto(o, drawingItems(), added, &error)) {
      logLine(foundation::LogLevel::Error, "VSDX not packed: " + error);
      return {};
    }
    // Moved into the package: nothing of its items stays beside it.
    std::error_code ec;
    for (const std::string& item : drawingItems()) fs::remove_all(t / item, ec);
    return o;
  } catch (const std::exception& e) {
    logLine(foundation::LogLevel::Error, std::string("VSDX not pre-processed: ") + e.what());
    return {};
  }
}
