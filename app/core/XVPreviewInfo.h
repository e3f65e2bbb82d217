#pragma once
// How one document is viewed. A record with a documentKey rewrites itself in the user
// defaults, as JSON under its coder keys, on every change of one of its five view properties.

#include <QString>

#include <memory>
#include <mutex>

class XVPreviewInfo {
 public:
  static constexpr const char* kOneOrTwoPageIsOneKey = "XVOneOrTwoPageIsOne_KEY";
  static constexpr const char* kPageContinueKey = "XVpageContinue_KEY";
  static constexpr const char* kShowLeftKey = "XVShowLeft_KEY";
  static constexpr const char* kWidthStretchKey = "XVWidthStretch_KEY";
  static constexpr const char* kZoomValueKey = "XVZoomValue_KEY";

  XVPreviewInfo() = default;

  // nullptr for an empty key; the stored record for the key, or a new default record.
  static std::shared_ptr<XVPreviewInfo> preViewInfoDocumentKey(const QString& documentKey);

  bool oneOrTwoPageIsOne() const { return oneOrTwoPageIsOne_; }
  bool pageContinue() const { return pageContinue_; }
  bool showLeft() const { return showLeft_; }
  bool widthStretch() const { return widthStretch_; }
  double zoomValue() const { return zoomValue_; }
  void setOneOrTwoPageIsOne(bool v);
  void setPageContinue(bool v);
  void setShowLeft(bool v);
  void setWidthStretch(bool v);
  void setZoomValue(double v);

  QString documentKey() const;
  void setDocumentKey(const QString& key);
  QString searchString() const;
  void setSearchString(const QString& s);

  // The archived form (the five coder keys) and back; missing keys read as NO and 0.0.
  QByteArray encode() const;
  // nullptr when the data are not a record.
  static std::shared_ptr<XVPreviewInfo> decode(const QByteArray& data);

  // Writes the record under documentKey; nothing without a key. Answers whether it wrote.
  bool saveToUserDefault() const;

 private:
  bool oneOrTwoPageIsOne_ = true;
  bool pageContinue_ = true;
  bool showLeft_ = false;
  bool widthStretch_ = false;
  double zoomValue_ = 1.0;
  mutable std::mutex mutex_;  // guards the two strings
  QString documentKey_;
  QString searchString_;
};
