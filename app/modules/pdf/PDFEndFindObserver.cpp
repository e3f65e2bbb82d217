#include "modules/pdf/PDFEndFindObserver.h"

#include "platform/pdfkit/PDFDocument.h"

PDFEndFindObserver::PDFEndFindObserver(std::function<void()> onEnd) : onEnd_(std::move(onEnd)) {
  token_ = foundation::NotificationCenter::defaultCenter().addObserver(
      pdfkit::PDFDocumentDidEndFindNotification, nullptr, [this](const foundation::Notification& n) {
        {
          std::lock_guard lock(mutex_);
          if (!document_ || n.sender != document_) return;
        }
        if (onEnd_) onEnd_();
      });
}

PDFEndFindObserver::~PDFEndFindObserver() { stop(); }

void PDFEndFindObserver::setDocument(const pdfkit::PDFDocument* document) {
  std::lock_guard lock(mutex_);
  document_ = document;
}

const pdfkit::PDFDocument* PDFEndFindObserver::document() const {
  std::lock_guard lock(mutex_);
  return document_;
}

void PDFEndFindObserver::stop() { token_.reset(); }
