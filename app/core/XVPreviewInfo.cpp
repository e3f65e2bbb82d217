#include "core/XVPreviewInfo.h"

#include <QJsonDocument>
#include <QJsonObject>

#include "core/XVBaseFunction.h"

std::shared_ptr<XVPreviewInfo> XVPreviewInfo::preViewInfoDocumentKey(const QString& documentKey) {
  if (documentKey.isEmpty()) return nullptr;
  std::shared_ptr<XVPreviewInfo> info;
  const QVariant stored = XVBaseFunction::userDefaults()->value(documentKey);
  if (stored.isValid()) info = decode(stored.toByteArray());
  if (!info) info = std::make_shared<XVPreviewInfo>();
  info->setDocumentKey(documentKey);
  return info;
}

void XVPreviewInfo::setOneOrTwoPageIsOne(bool v) { oneOrTwoPageIsOne_ = v; saveToUserDefault(); }
void XVPreviewInfo::setPageContinue(bool v) { pageContinue_ = v; saveToUserDefault(); }
void XVPreviewInfo::setShowLeft(bool v) { showLeft_ = v; saveToUserDefault(); }
void XVPreviewInfo::setWidthStretch(bool v) { widthStretch_ = v; saveToUserDefault(); }
void XVPreviewInfo::setZoomValue(double v) { zoomValue_ = v; saveToUserDefault(); }

QString XVPreviewInfo::documentKey() const {
  std::lock_guard lock(mutex_);
  return documentKey_;
}

void XVPreviewInfo::setDocumentKey(const QString& key) {
  std::lock_guard lock(mutex_);
  documentKey_ = key;
}

QString XVPreviewInfo::searchString() const {
  std::lock_guard lock(mutex_);
  return searchString_;
}

void XVPreviewInfo::setSearchString(const QString& s) {
  std::lock_guard lock(mutex_);
  searchString_ = s;
}

QByteArray XVPreviewInfo::encode() const {
  QJsonObject o;
  o.insert(QLatin1String(kOneOrTwoPageIsOneKey), oneOrTwoPageIsOne_);
  o.insert(QLatin1String(kPageContinueKey), pageContinue_);
  o.insert(QLatin1String(kShowLeftKey), showLeft_);
  o.insert(QLatin1String(kWidthStretchKey), widthStretch_);
  o.insert(QLatin1String(kZoomValueKey), zoomValue_);
  return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

std::shared_ptr<XVPreviewInfo> XVPreviewInfo::decode(const QByteArray& data) {
  QJsonParseError error{};
  const QJsonDocument doc = QJsonDocument::fromJson(data, &error);
  if (error.error != QJsonParseError::NoError || !doc.isObject()) return nullptr;
  const QJsonObject o = doc.object();
  auto info = std::make_shared<XVPreviewInfo>();
  info->oneOrTwoPageIsOne_ = o.value(QLatin1String(kOneOrTwoPageIsOneKey)).toBool(false);
  info->pageContinue_ = o.value(QLatin1String(kPageContinueKey)).toBool(false);
  info->showLeft_ = o.value(QLatin1String(kShowLeftKey)).toBool(false);
  info->widthStretch_ = o.value(QLatin1String(kWidthStretchKey)).toBool(false);
  info->zoomValue_ = o.value(QLatin1String(kZoomValueKey)).toDouble(0.0);
  return info;
}

bool XVPreviewInfo::saveToUserDefault() const {
  const QString key = documentKey();
  if (key.isEmpty()) return false;
  auto defaults = XVBaseFunction::userDefaults();
  defaults->setValue(key, encode());
  defaults->sync();
  return defaults->status() == QSettings::NoError;
}
