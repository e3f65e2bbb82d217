#include "modules/export/ExportFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace exportfile {

namespace {

QString lastError() { return QString::fromLocal8Bit(std::strerror(errno)); }

// rename() that fails with EEXIST instead of replacing; link + unlink where the file system
// has no RENAME_NOREPLACE.
bool renameNoReplace(const QByteArray& from, const QByteArray& to) {
  if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS) return false;
  if (::link(from.constData(), to.constData()) != 0) return false;
  ::unlink(from.constData());
  return true;
}

}  // namespace

PendingFile::PendingFile(const QString& target) : target_(QFileInfo(target).absoluteFilePath()) {
  const QFileInfo info(target_);
  const QString stem = info.absoluteDir().filePath(QStringLiteral(".%1.").arg(info.fileName()));
  // Created with 0666 so the kernel applies the process's umask (and any default ACL) the way
  // it does for every new file; the umask itself is never touched, since it is shared by
  // every thread of the process.
  static const char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  for (int attempt = 0; attempt < 100; ++attempt) {
    QString suffix;
    for (int i = 0; i < 6; ++i) suffix += QLatin1Char(kLetters[QRandomGenerator::global()->bounded(62)]);
    const QByteArray name = QFile::encodeName(stem + suffix);
    const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) {
      ::close(fd);
      path_ = QFile::decodeName(name);
      return;
    }
    if (errno != EEXIST) break;
  }
  error_ = lastError();
}

PendingFile::~PendingFile() {
  if (!committed_ && !path_.isEmpty()) ::unlink(QFile::encodeName(path_).constData());
}

bool PendingFile::commit(bool replace) {
  if (path_.isEmpty()) return false;
  const QByteArray from = QFile::encodeName(path_);
  const QByteArray to = QFile::encodeName(target_);
  const int fd = ::open(from.constData(), O_RDONLY | O_CLOEXEC);
  const bool synced = fd >= 0 && ::fsync(fd) == 0;
  if (!synced) error_ = lastError();
  if (fd >= 0) ::close(fd);
  if (!synced) return false;
  // A replaced file keeps its permissions.
  struct stat old {};
  if (replace && ::stat(to.constData(), &old) == 0) ::chmod(from.constData(), old.st_mode & 07777);
  const bool moved = replace ? ::rename(from.constData(), to.constData()) == 0 : renameNoReplace(from, to);
  if (!moved) {
    error_ = lastError();
    return false;
  }
  committed_ = true;
  return true;
}

bool writeFile(const QString& target, const QByteArray& data, bool replace, QString* error) {
  PendingFile pending(target);
  QString why = pending.error();
  if (!pending.path().isEmpty()) {
    QFile file(pending.path());
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(data) != data.size() || !file.flush()) {
      why = file.errorString();
    } else {
      file.close();
      if (pending.commit(replace)) return true;
      why = pending.error();
    }
  }
  if (error) *error = why;
  return false;
}

bool sameFile(const QString& a, const QString& b) {
  if (a.isEmpty() || b.isEmpty()) return false;
  struct stat sa {}, sb {};
  if (::stat(QFile::encodeName(a).constData(), &sa) != 0) return false;
  if (::stat(QFile::encodeName(b).constData(), &sb) != 0) return false;
  return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

}  // namespace exportfile
