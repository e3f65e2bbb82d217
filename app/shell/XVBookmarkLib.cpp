#include "shell/XVBookmarkLib.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QSet>
#include <QSettings>

#include "platform/foundation/log.h"
#include "core/XVBaseFunction.h"

namespace {

const QString kLibKey = QStringLiteral("BOOK_MARK_LIB_KEY");
// Stored data that could not be read is kept here rather than overwritten by the next save.
const QString kUnreadableLibKey = QStringLiteral("BOOK_MARK_LIB_KEY_unreadable");

const QString kMarkIDKey = QStringLiteral("BOOKMARK_ID_KEY");
const QString kMarkFilePathKey = QStringLiteral("BOOKMARK_FILE_PATH_KEY");
const QString kMarkNameKey = QStringLiteral("BOOKMARK_NAME_KEY");
const QString kMarkPageIndexKey = QStringLiteral("BOOKMARK_PAGE_INDEX_KEY");

const QString kGropFilePathKey = QStringLiteral("GROP_FILE_PATH_KEY");
const QString kGropNameKey = QStringLiteral("GROP_NAME_KEY");
const QString kGropMarkArrayKey = QStringLiteral("GROP_MARK_ARRAY_KEY");
const QString kGropRecentPageIndexKey = QStringLiteral("GROP_RENCT_PAGEINDEX_KEY");

const QString kLibMarkDicKey = QStringLiteral("BOOK_MARK_LIB_MARK_DIC_KEY");
const QString kLibGropArrayKey = QStringLiteral("BOOK_MARK_LIB_GROP_ARRAY_KEY");

void logWarning(const QString& message) {
  foundation::log(foundation::LogLevel::Warning, "bookmarks", message.toStdString());
}

void postSave() { foundation::NotificationCenter::defaultCenter().post(XV_BOOK_MARK_LIB_SAVE_NOTIFICATION); }

QString lastPathComponent(const QString& path) {
  QString p = path;
  while (p.size() > 1 && p.endsWith(QLatin1Char('/'))) p.chop(1);
  return p.section(QLatin1Char('/'), -1);
}

// Reads what is stored under "BOOK_MARK_LIB_KEY"; null when nothing readable is there (what
// is there but unreadable is set aside first).
std::shared_ptr<XVBookmarkLib> loadFromUserDefaults() {
  auto settings = XVBaseFunction::userDefaults();
  const QVariant stored = settings->value(kLibKey);
  if (!stored.isValid()) return nullptr;
  const QByteArray bytes = stored.typeId() == QMetaType::QByteArray ? stored.toByteArray()
                                                                     : stored.toString().toUtf8();
  QJsonParseError error{};
  const QJsonDocument doc = QJsonDocument::fromJson(bytes, &error);
  std::shared_ptr<XVBookmarkLib> lib;
  if (error.error == QJsonParseError::NoError && doc.isObject()) lib = XVBookmarkLib::initWithCoder(doc.object());
  if (!lib) {
    logWarning(QStringLiteral("the stored bookmark library cannot be read; it is kept under %1 and an empty "
                              "library is used")
                   .arg(kUnreadableLibKey));
    settings->setValue(kUnreadableLibKey, stored);
    settings->remove(kLibKey);
  }
  return lib;
}

}  // namespace

// XVBookmark

XVBookmark::XVBookmark() : ID_(newID()) {}

std::shared_ptr<XVBookmark> XVBookmark::bookmark() { return std::make_shared<XVBookmark>(); }

QString XVBookmark::newID() {
  return QStringLiteral("%1_%2").arg(QStringLiteral("bookmark"), XVBaseFunction::GetCurID());
}

void XVBookmark::setName(const QString& name) {
  name_ = name;
  postSave();
}

QJsonObject XVBookmark::encodeWithCoder() const {
  return QJsonObject{{kMarkIDKey, ID_},
                     {kMarkFilePathKey, filePath_},
                     {kMarkNameKey, name_},
                     {kMarkPageIndexKey, pageIndex_}};
}

std::shared_ptr<XVBookmark> XVBookmark::initWithCoder(const QJsonObject& coder) {
  const QString id = coder.value(kMarkIDKey).toString();
  if (id.isEmpty()) return nullptr;
  auto mark = std::shared_ptr<XVBookmark>(new XVBookmark(Decoded{}));
  mark->ID_ = id;
  mark->filePath_ = coder.value(kMarkFilePathKey).toString();
  // Set directly: decoding is not a change to save.
  mark->name_ = coder.value(kMarkNameKey).toString();
  mark->pageIndex_ = coder.value(kMarkPageIndexKey).toInteger();
  return mark;
}

// XVBookmarkGrop

XVBookmarkGrop::XVBookmarkGrop(const QString& path) : filePath_(path) {
  if (!path.isEmpty()) name_ = lastPathComponent(path);
}

void XVBookmarkGrop::setRecentPageIndex(qint64 recentPageIndex) {
  recentPageIndex_ = recentPageIndex;
  postSave();
}

void XVBookmarkGrop::addBookmarkID(const QString& ID) {
  if (ID.isEmpty()) return;
  marks_.prepend(ID);
}

void XVBookmarkGrop::removeBookmarkID(const QString& ID) { marks_.removeAll(ID); }

void XVBookmarkGrop::removeBookmarkIDByIndex(qsizetype index) {
  if (index < 0 || index >= marks_.size()) return;
  marks_.removeAt(index);
}

QString XVBookmarkGrop::bookmarkIDByIndex(qsizetype index) const {
  if (index < 0 || index >= marks_.size()) return QString();
  return marks_.at(index);
}

QJsonObject XVBookmarkGrop::encodeWithCoder() const {
  return QJsonObject{{kGropFilePathKey, filePath_},
                     {kGropNameKey, name_},
                     {kGropMarkArrayKey, QJsonArray::fromStringList(marks_)},
                     {kGropRecentPageIndexKey, recentPageIndex_}};
}

std::shared_ptr<XVBookmarkGrop> XVBookmarkGrop::initWithCoder(const QJsonObject& coder) {
  auto grop = std::make_shared<XVBookmarkGrop>(QString());
  grop->filePath_ = coder.value(kGropFilePathKey).toString();
  grop->name_ = coder.value(kGropNameKey).toString();
  for (const QJsonValue& v : coder.value(kGropMarkArrayKey).toArray()) {
    if (v.isString() && !v.toString().isEmpty()) grop->marks_.append(v.toString());
  }
  grop->recentPageIndex_ = coder.value(kGropRecentPageIndexKey).toInteger();
  return grop;
}

// XVBookmarkLib

std::shared_ptr<XVBookmarkLib> XVBookmarkLib::ShareBookmarkLib() {
  return XVBaseFunction::sharedObject<XVBookmarkLib>(QStringLiteral("XVBookmarkLib"), [] {
    std::shared_ptr<XVBookmarkLib> lib = loadFromUserDefaults();
    if (!lib) lib = std::make_shared<XVBookmarkLib>();
    XVBookmarkLib* raw = lib.get();
    lib->saveObserver_ = foundation::NotificationCenter::defaultCenter().addObserver(
        XV_BOOK_MARK_LIB_SAVE_NOTIFICATION, [raw](const foundation::Notification&) { raw->saveNotification(); });
    return lib;
  });
}

XVBookmarkLib::~XVBookmarkLib() {
  saveObserver_.reset();
  XVBaseFunction::userDefaults()->sync();
}

void XVBookmarkLib::saveToUserDefault() {
  const QByteArray json = QJsonDocument(encodeWithCoder()).toJson(QJsonDocument::Compact);
  auto settings = XVBaseFunction::userDefaults();
  settings->setValue(kLibKey, QString::fromUtf8(json));
  settings->sync();
  if (settings->status() != QSettings::NoError) {
    logWarning(QStringLiteral("the bookmark library could not be written to %1").arg(settings->fileName()));
  }
}

std::shared_ptr<XVBookmarkGrop> XVBookmarkLib::addGrop(const QString& path) {
  if (path.isEmpty()) return nullptr;
  auto grop = XVBookmarkGrop::initWithPath(path);
  grops_.append(grop);
  saveToUserDefault();
  return grop;
}

std::shared_ptr<XVBookmarkGrop> XVBookmarkLib::gropAtIndex(qsizetype index) const {
  if (index < 0 || index >= grops_.size()) return nullptr;
  return grops_.at(index);
}

std::shared_ptr<XVBookmarkGrop> XVBookmarkLib::gropByFilePath(const QString& path) const {
  if (path.isEmpty()) return nullptr;
  for (const auto& grop : grops_) {
    if (grop->filePath() == path) return grop;
  }
  return nullptr;
}

void XVBookmarkLib::removeGropByIndex(qsizetype index) {
  if (index < 0 || index >= grops_.size()) return;
  grops_.removeAt(index);
  saveToUserDefault();
}

void XVBookmarkLib::removeGropByFilePath(const QString& path) {
  const auto grop = gropByFilePath(path);
  if (!grop) return;
  // A copy: removing a bookmark edits the group's own list.
  const QStringList ids = grop->bookmarkIDArray();
  for (const QString& id : ids) {
    grop->removeBookmarkID(id);
    marks_.remove(id);
  }
  grops_.removeOne(grop);
  saveToUserDefault();
}

void XVBookmarkLib::addBookmark(const std::shared_ptr<XVBookmark>& bookmark, const QString& path) {
  if (!bookmark) return;
  // Identifiers are unique within one run only; never let a new bookmark replace a stored one.
  for (auto held = marks_.constFind(bookmark->ID_); held != marks_.constEnd() && held.value() != bookmark;
       held = marks_.constFind(bookmark->ID_)) {
    bookmark->ID_ = XVBookmark::newID();
  }
  auto grop = gropByFilePath(path);
  if (!grop) grop = addGrop(path);
  if (grop) {
    grop->removeBookmarkID(bookmark->ID_);  // adding again moves it to the front
    grop->addBookmarkID(bookmark->ID_);
  }
  marks_.insert(bookmark->ID_, bookmark);
  saveToUserDefault();
}

void XVBookmarkLib::removeBookmark(const std::shared_ptr<XVBookmark>& bookmark) {
  if (!bookmark) return;
  if (const auto grop = gropByFilePath(bookmark->filePath())) grop->removeBookmarkID(bookmark->ID());
  marks_.remove(bookmark->ID());
  saveToUserDefault();
}

void XVBookmarkLib::clearBookmarkByGrop(const std::shared_ptr<XVBookmarkGrop>& grop) {
  if (!grop) return;
  for (const QString& id : grop->bookmarkIDArray()) marks_.remove(id);
  grop->clearBookmarks();
  saveToUserDefault();
}

std::shared_ptr<XVBookmark> XVBookmarkLib::bookmarkByID(const QString& ID) const {
  if (ID.isEmpty()) return nullptr;
  return marks_.value(ID);
}

qsizetype XVBookmarkLib::gropNonEmptyCount() const {
  qsizetype n = 0;
  for (const auto& grop : grops_) {
    if (grop->bookmarkCount() > 0) ++n;
  }
  return n;
}

std::shared_ptr<XVBookmarkGrop> XVBookmarkLib::gropNonEmptyAtIndex(qsizetype index) const {
  if (index < 0) return nullptr;
  for (const auto& grop : grops_) {
    if (grop->bookmarkCount() > 0 && index-- == 0) return grop;
  }
  return nullptr;
}

QJsonObject XVBookmarkLib::encodeWithCoder() const {
  QJsonObject marks;
  for (auto it = marks_.constBegin(); it != marks_.constEnd(); ++it) marks.insert(it.key(), it.value()->encodeWithCoder());
  QJsonArray grops;
  for (const auto& grop : grops_) grops.append(grop->encodeWithCoder());
  return QJsonObject{{kLibMarkDicKey, marks}, {kLibGropArrayKey, grops}};
}

std::shared_ptr<XVBookmarkLib> XVBookmarkLib::initWithCoder(const QJsonObject& coder) {
  const QJsonValue marksValue = coder.value(kLibMarkDicKey);
  const QJsonValue gropsValue = coder.value(kLibGropArrayKey);
  if (!marksValue.isObject() || !gropsValue.isArray()) return nullptr;

  auto lib = std::make_shared<XVBookmarkLib>();
  const QJsonObject marks = marksValue.toObject();
  for (auto it = marks.constBegin(); it != marks.constEnd(); ++it) {
    auto mark = it.value().isObject() ? XVBookmark::initWithCoder(it.value().toObject()) : nullptr;
    if (!mark) {
      logWarning(QStringLiteral("a stored bookmark under %1 cannot be read and is left out").arg(it.key()));
      continue;
    }
    lib->marks_.insert(mark->ID(), mark);  // keyed by the bookmark's own identifier
  }
  for (const QJsonValue& v : gropsValue.toArray()) {
    if (!v.isObject()) continue;
    auto grop = XVBookmarkGrop::initWithCoder(v.toObject());
    // Keep only identifiers of stored bookmarks, each once.
    QSet<QString> seen;
    QStringList kept;
    for (const QString& id : grop->marks_) {
      if (lib->marks_.contains(id) && !seen.contains(id)) {
        seen.insert(id);
        kept.append(id);
      }
    }
    grop->marks_ = kept;
    lib->grops_.append(grop);
  }
  return lib;
}

std::shared_ptr<XVBookmark> XVBookmarkLib::addBookmarkNamed(const QString& name, const QString& filePath,
                                                              qint64 pageIndex) {
  if (name.isEmpty() || filePath.isEmpty()) return nullptr;
  auto mark = XVBookmark::bookmark();
  mark->name_ = name;  // saved by addBookmark below
  mark->pageIndex_ = pageIndex;
  mark->filePath_ = filePath;
  addBookmark(mark, filePath);
  return mark;
}

QString XVBookmarkDefaultName(const QString& filePath, qint64 currentNumberPage) {
  QString name = lastPathComponent(filePath);
  const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
  if (dot > 0) name.truncate(dot);
  return QStringLiteral("%1_%2").arg(name).arg(currentNumberPage + 1);
}
