#pragma once
// Hears the end of the finds of one document: the module's current one, which a load thread
// may replace while a find of the former one ends on the main queue.

#include <functional>
#include <mutex>

#include "platform/foundation/notification_center.h"

namespace pdfkit {
class PDFDocument;
}

class PDFEndFindObserver {
 public:
  // `onEnd` runs on the thread that posts the end, with no lock held.
  explicit PDFEndFindObserver(std::function<void()> onEnd);
  ~PDFEndFindObserver();
  PDFEndFindObserver(const PDFEndFindObserver&) = delete;
  PDFEndFindObserver& operator=(const PDFEndFindObserver&) = delete;

  // Any thread: the document whose ends count from now on (nullptr: none).
  void setDocument(const pdfkit::PDFDocument* document);
  const pdfkit::PDFDocument* document() const;
  // Stops listening; returns once no end is being handled on another thread.
  void stop();

 private:
  mutable std::mutex mutex_;
  const pdfkit::PDFDocument* document_ = nullptr;
  std::function<void()> onEnd_;
  foundation::ObserverToken token_;
};
