#include "modules/export/RTFDConverter.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QRandomGenerator>
#include <QTextDocument>
#include <QThread>

#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

#include "core/XVErrorTexts.h"
#include "modules/rtf/RTFWriter.h"
#include "platform/wpdkit/QFWpdConverter.h"
#include "platform/wpskit/QFConverterFormat.h"
#include "platform/wpskit/QFExportObject.h"
#include "platform/wpskit/QFWpsConverter.h"

namespace {

QString lastError() { return QString::fromLocal8Bit(std::strerror(errno)); }

// A new empty folder beside `target`, named after it, made with the mode the umask leaves of
// 0777; empty on failure.
QString siblingFolder(const QString& target, const char* tag) {
  const QFileInfo info(target);
  const QString stem = info.absoluteDir().filePath(QStringLiteral(".%1.%2.").arg(info.fileName(), QLatin1String(tag)));
  for (int attempt = 0; attempt < 100; ++attempt) {
    const QString name = stem + QString::number(QRandomGenerator::global()->generate64(), 36);
    if (::mkdir(QFile::encodeName(name).constData(), 0777) == 0) return name;
    if (errno != EEXIST) return QString();
  }
  return QString();
}

int systemRename(const char* from, const char* to, unsigned int flags) {
  return ::renameat2(AT_FDCWD, from, AT_FDCWD, to, flags);
}

std::atomic<RTFDConverter::RenameFunction> renameFunction{&systemRename};

int renameFolder(const QByteArray& from, const QByteArray& to, unsigned int flags) {
  return renameFunction.load()(from.constData(), to.constData(), flags);
}

// Gives the folder `from` the name `to` unless something has that name (errno EEXIST then).
// Where the file system has no RENAME_NOREPLACE, an empty folder claims the name first and
// the rename replaces it: a name taken in the meantime is never replaced.
bool renameNoReplace(const QByteArray& from, const QByteArray& to) {
  if (renameFolder(from, to, RENAME_NOREPLACE) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS) return false;
  if (::mkdir(to.constData(), 0700) != 0) return false;
  if (renameFolder(from, to, 0) == 0) return true;
  const int error = errno;
  ::rmdir(to.constData());
  errno = error;
  return false;
}

// Puts what the folder holds, and the folder itself, on disk, so a package that takes its name
// is never one of empty files after a crash.
bool syncFolder(const QString& folder) {
  QDir dir(folder);
  QStringList paths;
  for (const QString& name : dir.entryList(QDir::Files | QDir::Hidden | QDir::NoSymLinks)) paths << dir.filePath(name);
  paths << folder;
  for (const QString& path : paths) {
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) return false;
    const bool synced = ::fsync(fd) == 0;
    const int saved = errno;
    ::close(fd);
    if (!synced) {
      errno = saved;
      return false;
    }
  }
  return true;
}

QString endReason(int32_t code) {
  switch (code) {
    case QFConverterEndUnsupported: return XVErrorText::formatVersionNotSupported();
    case QFConverterEndPasswordRequired:
    case QFConverterEndEncryptionUnsupported: return XVErrorText::passwordProtected();
    default: return XVErrorText::conversionFailed();
  }
}

// Hears a kit's converter for one exporter. The kit holds the relay until its end; the
// exporter is held only while a report runs, and the run counts as ended once the end report
// has returned, so the exporter's owner lets go of it on its own thread.
struct WpsRelay : QFWpsConverterDelegate {
  std::weak_ptr<RTFDConverter> exporter;
  std::shared_ptr<RTFDConverter::EndState> state;
  void QFWpsConverterDelegate_converterStart(QFWpsConverter*) override {
    if (auto e = exporter.lock()) e->kitStarted();
  }
  void QFWpsConverterDelegate_converterEnd(int32_t code, std::shared_ptr<QFExportObject> exportObject, QFWpsConverter*) override {
    if (auto e = exporter.lock()) e->kitEnded(code, exportObject);
    state->finish();
  }
};

struct WpdRelay : QFWpdConverterDelegate {
  std::weak_ptr<RTFDConverter> exporter;
  std::shared_ptr<RTFDConverter::EndState> state;
  void QFWpdConverterDelegate_converterStart(QFWpdConverter*) override {
    if (auto e = exporter.lock()) e->kitStarted();
  }
  void QFWpdConverterDelegate_converterEnd(int32_t code, std::shared_ptr<QFExportObject> exportObject, QFWpdConverter*) override {
    if (auto e = exporter.lock()) e->kitEnded(code, exportObject);
    state->finish();
  }
};

}  // namespace

void RTFDConverter::EndState::finish() {
  std::lock_guard lock(mutex);
  running = false;
  cv.notify_all();
}

QString RTFDConverter::packagePath() const { return QStringLiteral("%1/%2.rtfd").arg(outDirector_, outFileName_); }

QStringList RTFDConverter::existingOutputFiles() const {
  return QFileInfo::exists(packagePath()) ? QStringList{packagePath()} : QStringList();
}

QList<QUrl> RTFDConverter::urlArray() const {
  std::lock_guard lock(mutex_);
  return urlArray_;
}

QString RTFDConverter::errorInfo() const {
  std::lock_guard lock(mutex_);
  return errorInfo_;
}

bool RTFDConverter::waitUntilEnded(std::chrono::milliseconds timeout) const {
  std::unique_lock lock(ended_->mutex);
  return ended_->cv.wait_for(lock, timeout, [this] { return !ended_->running; });
}

void RTFDConverter::refuse(const QString& why) {
  {
    std::lock_guard lock(mutex_);
    errorInfo_ = why;
  }
  auto d = delegate_.lock();
  if (d) d->ConverterProgressDelegate_start();
  if (d) d->ConverterProgressDelegate_end(false, {});
  ended_->finish();
}

void RTFDConverter::startConvert() {
  {
    std::lock_guard lock(ended_->mutex);
    if (ended_->running) return;
    ended_->running = true;
  }
  {
    std::lock_guard lock(mutex_);
    urlArray_.clear();
    errorInfo_.clear();
  }
  if (outFileName_.isEmpty() || outFileName_.contains(QLatin1Char('/')) || outFileName_ == QLatin1String(".") ||
      outFileName_ == QLatin1String(".."))
    return refuse(XVErrorText::exportWriteFailed(outFileName_, QStringLiteral("not a file name")));
  if (!QFileInfo(outDirector_).isDir()) return refuse(XVErrorText::exportWriteFailed(outDirector_, QStringLiteral("no such folder")));
  if (!replaceExisting_ && QFileInfo::exists(packagePath()))
    return refuse(XVErrorText::exportFileExists(QFileInfo(packagePath()).fileName()));
  converter_ = makeConverter(outFilePath_, ended_);
  // A converter that does not start sends no end: this run ends here.
  if (!converter_ || !converter_->start()) return refuse(XVErrorText::conversionFailed());
}

void RTFDConverter::stopConvert() {
  if (converter_) converter_->cancel();
}

void RTFDConverter::kitStarted() {
  if (auto d = delegate_.lock()) d->ConverterProgressDelegate_start();
}

void RTFDConverter::kitEnded(int32_t code, const std::shared_ptr<QFExportObject>& exportObject) {
  bool ok = false;
  QString why;
  if (code == QFConverterEndSucceeded && exportObject && exportObject->storage()) {
    QTextDocument* text = exportObject->storage();
    if (!text->thread()) text->moveToThread(QThread::currentThread());
    ok = saveRtfdFile(*text, packagePath(), replaceExisting_, &why);
    if (!ok) why = XVErrorText::exportWriteFailed(QFileInfo(packagePath()).fileName(), why);
  } else if (code != QFConverterEndCancelled) {
    why = endReason(code);
  }
  QList<QUrl> urls;
  {
    std::lock_guard lock(mutex_);
    if (ok) urlArray_.append(QUrl::fromLocalFile(packagePath()));
    errorInfo_ = why;
    urls = urlArray_;
  }
  if (auto d = delegate_.lock()) d->ConverterProgressDelegate_end(ok, urls);
}

bool RTFDConverter::saveRtfdFile(const QTextDocument& text, const QString& path, bool replace, QString* why) {
  auto fail = [why](const QString& reason) {
    if (why) *why = reason;
    return false;
  };
  const QString fresh = siblingFolder(path, "new");
  if (fresh.isEmpty()) return fail(lastError());
  QDir dir(fresh);
  int pictures = 0;
  bool picturesOk = true;
  const QByteArray rtf = rtf::RTFWriter::write(text, [&](const QImage& image) {
    const QString name = QStringLiteral("image%1.png").arg(++pictures);
    if (image.save(dir.filePath(name), "PNG")) return name;
    picturesOk = false;
    return QString();
  });
  QFile file(dir.filePath(QStringLiteral("TXT.rtf")));
  if (!picturesOk || !file.open(QIODevice::WriteOnly) || file.write(rtf) != rtf.size() || !file.flush()) {
    const QString reason = picturesOk ? file.errorString() : QStringLiteral("a picture cannot be written");
    file.close();
    dir.removeRecursively();
    return fail(reason);
  }
  file.close();
  if (!syncFolder(fresh)) {
    const QString reason = lastError();
    dir.removeRecursively();
    return fail(reason);
  }
  const QByteArray from = QFile::encodeName(fresh);
  const QByteArray to = QFile::encodeName(QFileInfo(path).absoluteFilePath());
  if (renameNoReplace(from, to)) return true;
  if (errno != EEXIST || !replace) {
    const QString reason = errno == EEXIST ? QStringLiteral("it already exists") : lastError();
    dir.removeRecursively();
    return fail(reason);
  }
  // Replacing: the old package steps aside, the new one takes its name, then the old one goes.
  const QString old = siblingFolder(path, "old");
  const QByteArray oldName = QFile::encodeName(old);
  if (old.isEmpty() || renameFolder(to, oldName, 0) != 0) {
    const QString reason = lastError();
    if (!old.isEmpty()) QDir(old).removeRecursively();
    dir.removeRecursively();
    return fail(reason);
  }
  if (renameFolder(from, to, 0) != 0) {
    const QString reason = lastError();
    renameFolder(oldName, to, 0);
    dir.removeRecursively();
    return fail(reason);
  }
  QFileInfo(old).isDir() ? (void)QDir(old).removeRecursively() : (void)QFile::remove(old);
  return true;
}

void RTFDConverter::setRenameForTesting(RenameFunction rename) { renameFunction = rename ? rename : &systemRename; }

std::shared_ptr<WPVConverter> WPVConverter::converterWithFormat(const Format&) {
  return std::shared_ptr<WPVConverter>(new WPVConverter());
}

std::shared_ptr<QFConverterRun> WPVConverter::makeConverter(const QString& source, std::shared_ptr<EndState> state) {
  auto converter = QFWpsConverter::converterWithType(QFConverterFormat::formatWithType(1, source));
  auto relay = std::make_shared<WpsRelay>();
  relay->exporter = std::static_pointer_cast<RTFDConverter>(shared_from_this());
  relay->state = std::move(state);
  converter->setDelegate(relay);
  return converter;
}

std::shared_ptr<WVConverter> WVConverter::converterWithFormat(const Format&) {
  return std::shared_ptr<WVConverter>(new WVConverter());
}

std::shared_ptr<QFConverterRun> WVConverter::makeConverter(const QString& source, std::shared_ptr<EndState> state) {
  auto converter = QFWpdConverter::converterWithType(QFConverterFormat::formatWithType(1, source));
  auto relay = std::make_shared<WpdRelay>();
  relay->exporter = std::static_pointer_cast<RTFDConverter>(shared_from_this());
  relay->state = std::move(state);
  converter->setDelegate(relay);
  return converter;
}
