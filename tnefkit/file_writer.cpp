#include "tnefkit/file_writer.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <map>
#include <mutex>

#include "tnefkit/tnef_log.h"

namespace tnefkit {
namespace {

constexpr std::size_t kMaxName = 255;

// Cuts `s` to at most `max` bytes without splitting a UTF-8 sequence.
std::string_view cutUtf8(std::string_view s, std::size_t max) {
  if (s.size() <= max) return s;
  std::size_t n = max;
  while (n > 0 && (static_cast<unsigned char>(s[n]) & 0xC0) == 0x80) --n;
  return s.substr(0, n);
}

std::string fitName(std::string_view stem, std::string_view ext, std::string_view suffix = {}) {
  // The extension is kept whole when it is reasonably short.
  if (ext.size() > 64) ext = {};
  std::size_t room = kMaxName - suffix.size() - (ext.empty() ? 0 : ext.size() + 1);
  std::string out(cutUtf8(stem, room));
  // A cut can leave a dot or blank in front of the extension's dot.
  while (!out.empty() && (out.back() == '.' || out.back() == ' ')) out.pop_back();
  if (out.empty()) out = "Untitled";
  out += suffix;
  if (!ext.empty()) {
    out += '.';
    out += ext;
  }
  return out;
}

struct Fd {
  int fd = -1;
  ~Fd() {
    if (fd >= 0) ::close(fd);
  }
};

bool writeAll(int fd, QFBytes bytes) {
  const std::uint8_t* p = bytes.data();
  std::size_t left = bytes.size();
  while (left > 0) {
    ssize_t n = ::write(fd, p, std::min<std::size_t>(left, 1u << 30));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    left -= static_cast<std::size_t>(n);
  }
  return true;
}

// Moves `from` to `to` inside `dir` unless `to` exists. Answers 0 or an errno.
int moveNoReplace(int dir, const std::string& from, const std::string& to) {
  if (::renameat2(dir, from.c_str(), dir, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS) return errno;
  // File systems without the flag: a hard link never replaces either.
  if (::linkat(dir, from.c_str(), dir, to.c_str(), 0) != 0) return errno;
  ::unlinkat(dir, from.c_str(), 0);
  return 0;
}

// The last number given to each name, so that writing many files of one name does not
// test every taken number again each time. Only a hint: it is used while that file exists.
std::mutex numbersMutex;
std::map<std::filesystem::path, std::uint64_t> lastNumbers;

template <typename Numbered>
std::uint64_t numberAfterLastWritten(int dir, const std::filesystem::path& key, const Numbered& numbered) {
  std::uint64_t last = 0;
  {
    std::lock_guard lock(numbersMutex);
    auto it = lastNumbers.find(key);
    if (it != lastNumbers.end()) last = it->second;
  }
  struct stat st {};
  if (last >= 2 && ::fstatat(dir, numbered(last).c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) return last + 1;
  return 2;
}

void rememberNumber(const std::filesystem::path& key, std::uint64_t n) {
  std::lock_guard lock(numbersMutex);
  if (lastNumbers.size() >= 4096 && !lastNumbers.count(key)) lastNumbers.clear();  // a hint may be forgotten
  lastNumbers[key] = n;
}

}  // namespace

std::string_view pathExtension(std::string_view name) {
  auto dot = name.rfind('.');
  if (dot == std::string_view::npos || dot == 0) return {};
  return name.substr(dot + 1);
}

std::string_view deletingPathExtension(std::string_view name) {
  auto dot = name.rfind('.');
  if (dot == std::string_view::npos || dot == 0) return name;
  return name.substr(0, dot);
}

std::string safeFileName(std::string_view name) {
  auto slash = name.find_last_of("/\\");
  if (slash != std::string_view::npos) name = name.substr(slash + 1);
  std::string clean;
  clean.reserve(name.size());
  for (char c : name) {
    auto u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7F) continue;
    if (c == '.' && !clean.empty() && clean.back() == '.') continue;  // no ".."
    clean += c;
  }
  // No leading or trailing blanks; no trailing dot.
  auto first = clean.find_first_not_of(' ');
  if (first == std::string::npos) return "Untitled";
  clean.erase(0, first);
  while (!clean.empty() && (clean.back() == ' ' || clean.back() == '.')) clean.pop_back();
  if (clean.empty() || clean == ".") return "Untitled";
  if (clean.size() > kMaxName) clean = fitName(deletingPathExtension(clean), pathExtension(clean));
  return clean;
}

std::optional<std::filesystem::path> writeNewFile(const std::filesystem::path& path, std::span<const QFBytes> chunks,
                                                  OnExisting onExisting) {
  return writeNewFile(
      path,
      [chunks](const SliceSink& sink) {
        for (QFBytes chunk : chunks) {
          if (!sink(chunk)) return false;
        }
        return true;
      },
      onExisting);
}

std::optional<std::filesystem::path> writeNewFile(const std::filesystem::path& path, const Producer& produce,
                                                  OnExisting onExisting) {
  const std::filesystem::path folder = path.has_parent_path() ? path.parent_path() : std::filesystem::path(".");
  const std::string name = safeFileName(path.filename().string());
  Fd dir;
  dir.fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir.fd < 0) {
    logError(format("Could not open folder(%s): %s", folder.c_str(), std::strerror(errno)));
    return std::nullopt;
  }
  struct stat st {};
  if (onExisting == OnExisting::Fail && ::fstatat(dir.fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
    logError(format("Could not create file(%s): file exists\n", (folder / name).c_str()));
    return std::nullopt;
  }

  // The data goes to a hidden temporary file first, which then takes the final name.
  static std::atomic<unsigned> counter{0};
  std::string temp;
  Fd file;
  for (int attempt = 0; attempt < 100 && file.fd < 0; ++attempt) {
    temp = format(".tnefkit-%d-%u-%llx.part", static_cast<int>(::getpid()), counter++,
                  static_cast<unsigned long long>(std::chrono::steady_clock::now().time_since_epoch().count()));
    file.fd = ::openat(dir.fd, temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (file.fd < 0 && errno != EEXIST) break;
  }
  if (file.fd < 0) {
    logError(format("Could not create file(%s): %s", (folder / name).c_str(), std::strerror(errno)));
    return std::nullopt;
  }
  int writeErrno = ::fchmod(file.fd, 0644) == 0 ? 0 : errno;
  const bool produced = writeErrno == 0 && produce([&](QFBytes slice) {
    if (writeAll(file.fd, slice)) return true;
    writeErrno = errno ? errno : EIO;
    return false;
  });
  if (::close(file.fd) != 0 && writeErrno == 0) writeErrno = errno;
  file.fd = -1;
  if (!produced || writeErrno != 0) {
    ::unlinkat(dir.fd, temp.c_str(), 0);
    if (writeErrno != 0) logError(format("Could not write file(%s): %s", (folder / name).c_str(), std::strerror(writeErrno)));
    return std::nullopt;
  }

  const std::string stem(deletingPathExtension(name));
  const std::string ext(pathExtension(name));
  auto numbered = [&](std::uint64_t n) {
    return fitName(stem, ext, format(" (%llu)", static_cast<unsigned long long>(n)));
  };
  for (std::uint64_t n = 1;; ++n) {
    if (n == 2) n = numberAfterLastWritten(dir.fd, folder / name, numbered);
    std::string candidate = n == 1 ? name : numbered(n);
    int err = moveNoReplace(dir.fd, temp, candidate);
    if (err == 0) {
      if (n > 1) rememberNumber(folder / name, n);
      return folder / candidate;
    }
    if (err != EEXIST || onExisting == OnExisting::Fail) {
      ::unlinkat(dir.fd, temp.c_str(), 0);
      if (err == EEXIST) logError(format("Could not create file(%s): file exists\n", (folder / name).c_str()));
      else logError(format("Could not create file(%s): %s", (folder / candidate).c_str(), std::strerror(err)));
      return std::nullopt;
    }
  }
}

}  // namespace tnefkit
