#include "core/XVBaseFunction.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <filesystem>
#include <mutex>
#include <system_error>
#include <utility>
#include <vector>

#include "core/LecternConfig.h"
#include "core/ProductInfo.h"
#include "core/XVErrorTexts.h"

namespace {

struct Registry {
  std::mutex mutex;
  std::vector<std::pair<QString, std::shared_ptr<void>>> objects;  // registration order
};

Registry& registry() {
  static auto* r = new Registry();  // released explicitly, never by a static destructor
  return *r;
}

struct IdState {
  std::mutex mutex;
  QString last;
  std::function<QDateTime()> clock;
};

IdState& idState() {
  static auto* s = new IdState();
  return *s;
}

QDateTime now() {
  auto& s = idState();
  std::function<QDateTime()> clock;
  {
    std::lock_guard lock(s.mutex);
    clock = s.clock;
  }
  return clock ? clock() : QDateTime::currentDateTime();
}

QString timeString(const QDateTime& t) { return t.toString(QStringLiteral("yyyyMMddHHmmss")); }

QString firstStandard(QStandardPaths::StandardLocation loc) {
  const QStringList l = QStandardPaths::standardLocations(loc);
  return l.isEmpty() ? QString() : l.first();
}

QString join(const QString& a, const QString& b) {
  if (a.isEmpty()) return QString();
  return a + QLatin1Char('/') + b;
}

}  // namespace

QString XVBaseFunction::applicationId() { return QStringLiteral(LECTERN_APPLICATION_ID); }

void XVBaseFunction::addAppEndReleaseObject(std::shared_ptr<void> object, const QString& key) {
  std::shared_ptr<void> old;
  {
    auto& r = registry();
    std::lock_guard lock(r.mutex);
    for (auto it = r.objects.begin(); it != r.objects.end(); ++it) {
      if (it->first == key) {
        old = std::move(it->second);
        r.objects.erase(it);
        break;
      }
    }
    if (object) r.objects.emplace_back(key, std::move(object));
  }
  // `old` is released here, outside the lock.
}

std::shared_ptr<void> XVBaseFunction::appEndReleaseObjectForKey(const QString& key) {
  auto& r = registry();
  std::lock_guard lock(r.mutex);
  for (const auto& [k, o] : r.objects) {
    if (k == key) return o;
  }
  return nullptr;
}

std::shared_ptr<void> XVBaseFunction::sharedObjectImpl(const QString& key,
                                                       const std::function<std::shared_ptr<void>()>& make) {
  auto& r = registry();
  std::lock_guard lock(r.mutex);
  for (const auto& [k, o] : r.objects) {
    if (k == key) return o;
  }
  auto object = make();
  if (object) r.objects.emplace_back(key, object);
  return object;
}

void XVBaseFunction::releaseAppEndObjects() {
  std::vector<std::pair<QString, std::shared_ptr<void>>> objects;
  {
    auto& r = registry();
    std::lock_guard lock(r.mutex);
    objects.swap(r.objects);
  }
  while (!objects.empty()) objects.pop_back();  // reverse order of registration
}

std::unique_ptr<QSettings> XVBaseFunction::userDefaults() {
  return std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope, applicationId(),
                                     QStringLiteral("Lectern"));
}

bool XVBaseFunction::isUseSandbox() { return qEnvironmentVariableIsSet("APP_SANDBOX_CONTAINER_ID"); }

QString XVBaseFunction::_PathDeleteSandboxMidPath(const QString& path) {
  if (path.isNull()) return QString();
  if (!isUseSandbox()) return path;
  QString p = path;
  return p.replace(QStringLiteral("/Library/Containers/sw.Tarnbrook/Data"), QString());
}

bool XVBaseFunction::extensionEquals(const QString& a, const QString& b) {
  return a.compare(b, Qt::CaseInsensitive) == 0;
}

QString XVBaseFunction::extensionOfPath(const QString& path) {
  const QString name = path.section(QLatin1Char('/'), -1);
  const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
  if (dot <= 0) return QStringLiteral("");  // no dot, or only a hidden file's leading dot
  return name.mid(dot + 1);
}

bool XVBaseFunction::stringInArray(const QString& string, const QStringList& array) {
  for (const QString& s : array) {
    if (extensionEquals(s, string)) return true;
  }
  return false;
}

bool XVBaseFunction::xpsFileExtensionIsSupport(const QString& extension) {
  if (extension.isNull()) return false;
  return stringInArray(extension, ProductInfo::SupportImportFilesExtension());
}

bool XVBaseFunction::CheckDirectory(const QString& path) {
  if (path.isEmpty()) return false;
  if (QFileInfo::exists(path)) return true;
  return QDir().mkpath(path);
}

bool XVBaseFunction::CheckFile(const QString& path) {
  if (path.isEmpty()) return false;
  if (QFileInfo::exists(path)) return true;
  if (!CheckDirectory(QFileInfo(path).absolutePath())) return false;
  QFile f(path);
  if (!f.open(QIODevice::WriteOnly | QIODevice::NewOnly)) return QFileInfo::exists(path);
  f.close();
  return true;
}

bool XVBaseFunction::RemovePath(const QString& path) {
  if (path.isEmpty()) return false;
  const std::filesystem::path target(QFile::encodeName(path).toStdString());
  std::error_code ec;
  std::filesystem::remove_all(target, ec);
  return !std::filesystem::exists(std::filesystem::symlink_status(target, ec));
}

QString XVBaseFunction::GetUserSupportAppSupportDirectory() { return firstStandard(QStandardPaths::GenericDataLocation); }
QString XVBaseFunction::GetUserSupportHomeDirectory() { return QDir::homePath(); }
QString XVBaseFunction::GetUserSupportMoviesPath() { return firstStandard(QStandardPaths::MoviesLocation); }
QString XVBaseFunction::GetUserSupportMusicPath() { return firstStandard(QStandardPaths::MusicLocation); }
QString XVBaseFunction::GetUserSupportPicturesPath() { return firstStandard(QStandardPaths::PicturesLocation); }
QString XVBaseFunction::GetUserAppSupportDirectory() { return _PathDeleteSandboxMidPath(GetUserSupportAppSupportDirectory()); }
QString XVBaseFunction::GetUserHomeDirectory() { return _PathDeleteSandboxMidPath(GetUserSupportHomeDirectory()); }
QString XVBaseFunction::GetUserMoviesPath() { return _PathDeleteSandboxMidPath(GetUserSupportMoviesPath()); }
QString XVBaseFunction::GetUsertMusicPath() { return _PathDeleteSandboxMidPath(GetUserSupportMusicPath()); }
QString XVBaseFunction::GetUserPicturesPath() { return _PathDeleteSandboxMidPath(GetUserSupportPicturesPath()); }
QString XVBaseFunction::CurSupportUserAppSupportDirectory() { return join(GetUserSupportAppSupportDirectory(), applicationId()); }
QString XVBaseFunction::CurAppSupportDirectory() { return join(GetUserAppSupportDirectory(), applicationId()); }
QString XVBaseFunction::CacheLibSupportDirector() { return join(CurSupportUserAppSupportDirectory(), QStringLiteral("cache")); }
QString XVBaseFunction::CacheLibDirector() { return join(CurAppSupportDirectory(), QStringLiteral("cache")); }

QString XVBaseFunction::TempDirectory() {
  const QString dir = join(firstStandard(QStandardPaths::GenericCacheLocation), applicationId());
  if (!dir.isEmpty()) CheckDirectory(dir);
  return dir;
}

QString XVBaseFunction::GetCurTimeString() { return timeString(now()); }

QString XVBaseFunction::GetCurID() {
  const QDateTime t = now();
  auto& s = idState();
  std::lock_guard lock(s.mutex);
  QString time = timeString(t);
  int seq = 0;
  if (!s.last.isEmpty()) {
    const QString lastTime = s.last.left(14);
    if (time <= lastTime) {
      // Same second, or the clock went back: count on from the last identifier.
      time = lastTime;
      seq = s.last.mid(14).toInt() + 1;
      if (seq > 9999) {
        // Borrow the next second rather than grow past four digits.
        time = timeString(QDateTime::fromString(lastTime, QStringLiteral("yyyyMMddHHmmss")).addSecs(1));
        seq = 0;
      }
    }
  }
  s.last = time + QStringLiteral("%1").arg(seq, 4, 10, QLatin1Char('0'));
  return s.last;
}

void XVBaseFunction::setClockForTesting(std::function<QDateTime()> clock) {
  auto& s = idState();
  std::lock_guard lock(s.mutex);
  s.clock = std::move(clock);
  s.last.clear();
}

QFAlert& QFAlert::initAlertWithTitle(const QString& filePath) { return initAlertWithTitle(filePath, QString()); }

QFAlert& QFAlert::initAlertWithTitle(const QString& filePath, const QString& errorInfo) {
  messageText_ = XVErrorText::corruptFileMessage();
  buttons_ = {XVErrorText::corruptFileButton()};
  informativeText_ = XVErrorText::cannotBeOpened(QFileInfo(filePath).fileName(), errorInfo);
  return *this;
}
