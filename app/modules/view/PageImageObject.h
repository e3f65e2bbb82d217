#pragma once
// A thumbnail item: one page of a document view's thumbnail list. Its title is the page
// number from 1; the page index is always read back from the title.

#include <QImage>
#include <QString>

#include <cstdint>
#include <functional>

class PageImageObject {
 public:
  virtual ~PageImageObject() = default;

  // A new identifier on every call, from a counter of the item's own class.
  virtual QString imageUID() = 0;
  QString imageTitle() const { return title_; }
  void setTitle(const QString& title) { title_ = title; }
  // Runs the render callback, then answers the image it left (null until a render is done).
  QImage imageRepresentation() {
    if (imageAction_) imageAction_(this);
    return image_;
  }
  QImage image() const { return image_; }
  void setImage(const QImage& image) { image_ = image; }
  void setImageAction(std::function<void(PageImageObject*)> action) { imageAction_ = std::move(action); }
  // The page index the title names (title - 1).
  int pageIndex() const { return title_.toInt() - 1; }
  // The rotation the image was rendered with.
  int imageRotation = -1;

 private:
  QString title_;
  QImage image_;
  std::function<void(PageImageObject*)> imageAction_;
};

// One counter per item class.
template <class Derived>
class PageImageObjectT : public PageImageObject {
 public:
  QString imageUID() override {
    const std::int32_t id = static_cast<std::int32_t>(counter_++);
    return QString::number(id);
  }

 private:
  static inline std::uint32_t counter_ = 0;
};

class PDFImageObject : public PageImageObjectT<PDFImageObject> {};
class WPSImageObject : public PageImageObjectT<WPSImageObject> {};
class WPDImageObject : public PageImageObjectT<WPDImageObject> {};
class XPSImageObject : public PageImageObjectT<XPSImageObject> {};
class DjVuImageObject : public PageImageObjectT<DjVuImageObject> {};
class VisioImageObject : public PageImageObjectT<VisioImageObject> {};
