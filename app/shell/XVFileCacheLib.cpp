#include "shell/XVFileCacheLib.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QSaveFile>

#include "platform/foundation/log.h"
#include "core/XVBaseFunction.h"
#include "shell/XVFileKey.h"

namespace {
const char* const kCategory = "cache";
const QString kFormat = QStringLiteral("lectern-cache-index");

void warn(const QString& message) {
  foundation::log(foundation::LogLevel::Warning, kCategory, message.toStdString());
}
}  // namespace

QJsonObject XVFileCacheItem::encodeWithCoder() const {
  return QJsonObject{{QStringLiteral("cache_item_id"), ID_}, {QStringLiteral("cache_item_name"), name_}};
}

XVFileCacheItem XVFileCacheItem::initWithCoder(const QJsonObject& coder) {
  const QJsonValue id = coder.value(QStringLiteral("cache_item_id"));
  const QJsonValue name = coder.value(QStringLiteral("cache_item_name"));
  if (!id.isString() || !name.isString()) return XVFileCacheItem();
  XVFileCacheItem item(id.toString());
  item.setName(name.toString());
  return item;
}

std::shared_ptr<XVFileCacheLib> XVFileCacheLib::fileCacheLibWithLibPath(const QString& libPath) {
  return std::make_shared<XVFileCacheLib>(libPath);
}

XVFileCacheLib::XVFileCacheLib(const QString& libPath) { loadLibWithPath(libPath); }

XVFileCacheLib::~XVFileCacheLib() {
  if (lockFd_ >= 0) ::close(lockFd_);
}

bool XVFileCacheLib::isTemporaryName(const QString& name) {
  static const QString kIndexTemp = QStringLiteral("lib_config.");
  if (name.startsWith(kIndexTemp)) {
    const QString rest = name.mid(kIndexTemp.size());
    if (rest.size() != 6) return false;  // "lib_config.bad" is an index set aside
    for (const QChar c : rest) {
      if (!c.isLetterOrNumber() || c.unicode() > 0x7f) return false;
    }
    return true;
  }
  const QString bare = name.startsWith(QLatin1Char('.')) ? name.mid(1) : name;
  const qsizetype dot = bare.indexOf(QLatin1Char('.'));
  return dot > 0 && dot + 1 < bare.size() && XVFileKey::isWellFormedKey(bare.left(dot));
}

void XVFileCacheLib::lockFolder(const QString& libPath) {
  if (lockFd_ >= 0 && lockedPath_ == libPath) return;
  if (lockFd_ >= 0) ::close(lockFd_);
  lockFd_ = -1;
  lockedPath_ = libPath;
  XVBaseFunction::CheckDirectory(libPath);
  const QByteArray lockPath = QFile::encodeName(libPath + QStringLiteral("/lib_lock"));
  // Not inherited by the programs we start (a file manager, a mail attachment's application).
  const int fd = ::open(lockPath.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) {
    warn(QStringLiteral("cannot open %1: %2").arg(QFile::decodeName(lockPath), QString::fromLocal8Bit(std::strerror(errno))));
    return;
  }
  lockFd_ = fd;
  if (::flock(fd, LOCK_EX | LOCK_NB) == 0) sweepTemporaryFiles(libPath);
  // Shared from now on: blocks only while another process sweeps.
  while (::flock(fd, LOCK_SH) != 0 && errno == EINTR) {
  }
}

void XVFileCacheLib::sweepTemporaryFiles(const QString& libPath) {
  namespace fs = std::filesystem;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(fs::path(QFile::encodeName(libPath).toStdString()), ec)) {
    const QString name = QFile::decodeName(QByteArray::fromStdString(entry.path().filename().string()));
    if (!isTemporaryName(name)) continue;
    std::error_code e;
    if (entry.symlink_status(e).type() == fs::file_type::directory) continue;
    if (fs::remove(entry.path(), e)) {
      foundation::log(foundation::LogLevel::Info, kCategory,
                      QStringLiteral("removed %1, left by an interrupted conversion").arg(name).toStdString());
    } else if (e) {
      warn(QStringLiteral("cannot remove %1: %2").arg(name, QString::fromStdString(e.message())));
    }
  }
}

QString XVFileCacheLib::libFilePath() const { return libPath_ + QStringLiteral("/lib_config"); }

bool XVFileCacheLib::isSafeName(const QString& name) {
  // Names are always content keys; anything else could point outside the folder.
  return XVFileKey::isWellFormedKey(name);
}

void XVFileCacheLib::loadLibWithPath(const QString& libPath) {
  QHash<QString, XVFileCacheItem> items;
  {
    std::lock_guard lock(mutex_);
    libPath_ = libPath;
  }
  lockFolder(libPath);
  const QString indexPath = libFilePath();
  QFile file(indexPath);
  if (!file.exists()) {
    if (!XVBaseFunction::CheckFile(indexPath)) warn(QStringLiteral("cannot create the index %1").arg(indexPath));
  } else if (!file.open(QIODevice::ReadOnly)) {
    warn(QStringLiteral("cannot read the index %1: %2").arg(indexPath, file.errorString()));
  } else {
    const QByteArray bytes = file.readAll();
    file.close();
    if (!bytes.isEmpty()) {
      QJsonParseError error{};
      const QJsonDocument doc = QJsonDocument::fromJson(bytes, &error);
      const QJsonObject root = doc.object();
      if (error.error != QJsonParseError::NoError || !doc.isObject() ||
          root.value(QStringLiteral("format")).toString() != kFormat ||
          !root.value(QStringLiteral("items")).isObject()) {
        const QString aside = indexPath + QStringLiteral(".bad");
        QFile::remove(aside);
        const bool moved = QFile::rename(indexPath, aside);
        warn(QStringLiteral("the index %1 cannot be read; %2, the cache starts empty")
                 .arg(indexPath, moved ? QStringLiteral("set aside as ") + aside : QStringLiteral("left in place")));
      } else {
        const QJsonObject entries = root.value(QStringLiteral("items")).toObject();
        for (auto it = entries.begin(); it != entries.end(); ++it) {
          const XVFileCacheItem item = XVFileCacheItem::initWithCoder(it.value().toObject());
          if (item.isNull() || item.ID() != it.key() || !XVFileKey::isWellFormedKey(item.ID()) ||
              !isSafeName(item.name())) {
            warn(QStringLiteral("dropping a malformed index entry \"%1\"").arg(it.key()));
            continue;
          }
          items.insert(item.ID(), item);
        }
      }
    }
  }
  std::lock_guard lock(mutex_);
  itemDic_ = std::move(items);
}

bool XVFileCacheLib::saveToLocal() {
  std::lock_guard saveLock(saveMutex_);
  QJsonObject entries;
  {
    std::lock_guard lock(mutex_);
    for (auto it = itemDic_.cbegin(); it != itemDic_.cend(); ++it) entries.insert(it.key(), it->encodeWithCoder());
  }
  const QJsonObject root{{QStringLiteral("format"), kFormat}, {QStringLiteral("version"), 1},
                         {QStringLiteral("items"), entries}};
  XVBaseFunction::CheckDirectory(libPath_);
  QSaveFile out(libFilePath());
  if (!out.open(QIODevice::WriteOnly)) {
    warn(QStringLiteral("cannot write the index %1: %2").arg(libFilePath(), out.errorString()));
    return false;
  }
  const QByteArray bytes = QJsonDocument(root).toJson(QJsonDocument::Compact);
  if (out.write(bytes) != bytes.size() || !out.commit()) {
    warn(QStringLiteral("cannot write the index %1: %2").arg(libFilePath(), out.errorString()));
    return false;
  }
  return true;
}

XVFileCacheItem XVFileCacheLib::itemByID(const QString& id) const {
  if (id.isEmpty()) return XVFileCacheItem();
  std::lock_guard lock(mutex_);
  return itemDic_.value(id);
}

QString XVFileCacheLib::itemPath(const XVFileCacheItem& item) const {
  if (item.isNull() || !isSafeName(item.name())) return QString();
  return libPath_ + QLatin1Char('/') + item.name();
}

QString XVFileCacheLib::cachePathById(const QString& id) const {
  // Only content keys name cache files: anything else could name the folder itself or leave it.
  if (!XVFileKey::isWellFormedKey(id)) return QString();
  return libPath_ + QLatin1Char('/') + id;
}

QString XVFileCacheLib::cacheFilePathByID(const QString& id) const { return itemPath(itemByID(id)); }

bool XVFileCacheLib::addExistCacheFile(const QString& filePath, const QString& id) {
  if (filePath.isEmpty() || !XVFileKey::isWellFormedKey(id)) return false;
  {
    std::lock_guard lock(mutex_);
    if (itemDic_.contains(id)) return true;
    itemDic_.insert(id, XVFileCacheItem::fileCacheItemWithID(id));
  }
  return saveToLocal();
}

QString XVFileCacheLib::addCacheFileByID(const QString& id) {
  if (!XVFileKey::isWellFormedKey(id)) return QString();
  bool added = false;
  XVFileCacheItem item;
  {
    std::lock_guard lock(mutex_);
    auto it = itemDic_.find(id);
    if (it == itemDic_.end()) {
      it = itemDic_.insert(id, XVFileCacheItem::fileCacheItemWithID(id));
      added = true;
    }
    item = *it;
  }
  if (added) saveToLocal();
  return itemPath(item);
}

QString XVFileCacheLib::addCacheFileByOriginalFile(const QString& sourcePath, const QString& id) {
  if (sourcePath.isEmpty() || !XVFileKey::isWellFormedKey(id) || !QFileInfo(sourcePath).isFile()) return QString();
  const XVFileCacheItem existing = itemByID(id);
  if (!existing.isNull()) return itemPath(existing);
  const XVFileCacheItem item = XVFileCacheItem::fileCacheItemWithID(id);
  const QString target = itemPath(item);
  XVBaseFunction::CheckDirectory(libPath_);
  QFile in(sourcePath);
  QSaveFile out(target);
  if (!in.open(QIODevice::ReadOnly) || !out.open(QIODevice::WriteOnly)) {
    warn(QStringLiteral("cannot copy %1 into the cache").arg(sourcePath));
    return QString();
  }
  QByteArray chunk;
  while (!(chunk = in.read(1 << 20)).isEmpty()) {
    if (out.write(chunk) != chunk.size()) break;
  }
  if (in.error() != QFileDevice::NoError || !in.atEnd() || !out.commit()) {
    out.cancelWriting();
    warn(QStringLiteral("cannot copy %1 into the cache").arg(sourcePath));
    return QString();
  }
  std::lock_guard lock(mutex_);
  itemDic_.insert(id, item);
  return target;
}

int XVFileCacheLib::cacheFileCount() const {
  std::lock_guard lock(mutex_);
  return static_cast<int>(itemDic_.size());
}

void XVFileCacheLib::removeCacheFileByID(const QString& id) {
  XVFileCacheItem item;
  {
    std::lock_guard lock(mutex_);
    item = itemDic_.take(id);
  }
  if (item.isNull()) return;
  const QString path = itemPath(item);
  // A result may be a folder (a mail container's): it goes whole.
  if (!path.isEmpty() && !XVBaseFunction::RemovePath(path)) warn(QStringLiteral("cannot remove %1").arg(path));
  saveToLocal();
}
