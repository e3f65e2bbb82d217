#include "shell/XVFileKey.h"

#include <QCryptographicHash>
#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>

QString XVFileKey::FileKeyByFilePath(const QString& filePath) {
  if (filePath.isEmpty()) return QString();
  const QByteArray native = QFile::encodeName(filePath);
  // Refuse FIFOs, devices and sockets before opening: a blocking open of a FIFO waits for a
  // writer for good. O_NONBLOCK covers a swap between the stat and the open.
  struct stat st {};
  if (::stat(native.constData(), &st) != 0 || !S_ISREG(st.st_mode)) return QString();
  const int fd = ::open(native.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) return QString();
  struct Closer {
    int fd;
    ~Closer() { ::close(fd); }
  } closer{fd};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return QString();
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) return QString();
#ifdef POSIX_FADV_SEQUENTIAL
  ::posix_fadvise(fd, 0, kHeadBytes, POSIX_FADV_SEQUENTIAL);
#endif
  QCryptographicHash md5(QCryptographicHash::Md5);
  constexpr qint64 kChunk = 1 << 20;
  auto buffer = std::make_unique<char[]>(kChunk);
  qint64 total = 0;
  while (total < kHeadBytes) {
    const ssize_t n = ::read(fd, buffer.get(), static_cast<size_t>(std::min(kChunk, kHeadBytes - total)));
    if (n < 0) {
      if (errno == EINTR) continue;
      return QString();
    }
    if (n == 0) break;
    md5.addData(QByteArrayView(buffer.get(), n));
    total += n;
  }
  const off_t end = ::lseek(fd, 0, SEEK_END);
  if (end < 0) return QString();
  return QString::fromLatin1(md5.result().toHex()) + QString::number(static_cast<qint64>(end));
}

bool XVFileKey::isWellFormedKey(const QString& key) {
  if (key.size() < 33 || key.size() > 32 + 19) return false;
  for (qsizetype i = 0; i < key.size(); ++i) {
    const QChar c = key[i];
    const bool digit = c >= QLatin1Char('0') && c <= QLatin1Char('9');
    if (i < 32) {
      if (!digit && !(c >= QLatin1Char('a') && c <= QLatin1Char('f'))) return false;
    } else if (!digit) {
      return false;
    }
  }
  return true;
}

QString XVHash::HashValueByData(const QByteArray& data) {
  if (data.isNull()) return QString();
  return QString::fromLatin1(QCryptographicHash::hash(data, QCryptographicHash::Md5).toHex());
}

QString XVFilePathKey::FilePathKeyByFilePath(const QString& filePath) {
  if (filePath.isEmpty()) return QString();
  const QString key = XVFileKey::FileKeyByFilePath(filePath);
  if (key.isNull()) return QString();
  return key + filePath;
}
