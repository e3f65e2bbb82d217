#pragma once
// The module for Visio drawings, stencils and templates: DiagramKit's converter turns the
// drawing into the cached PDF page by page; the module follows its three notifications and
// then shows the PDF like the PDF module.
//
// Threads: the page count arrives on the import thread, the pages and the end on the main
// thread (the end on the import thread when the drawing cannot be loaded).

#include <QString>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>

#include "modules/pdf/PDFModul.h"
#include "platform/foundation/notification_center.h"

class SVG2PDF;

class VisioModul : public PDFModul, public std::enable_shared_from_this<VisioModul> {
 public:
  // States of a conversion.
  static constexpr int kStateStarted = 0;
  static constexpr int kStateLastPageDone = 3;
  static constexpr int kStatePagesMissing = 4;

  explicit VisioModul(const QString& filePath = QString());
  ~VisioModul() override;

  // Registers the module with the factory for the Visio extensions.
  static void registerModul();

  void setImportSourcePath(const QString& path) override;
  void setImportStartPage(qint64 startPage, qint64 endpage) override;
  // A running conversion cannot be stopped.
  void stopImport() override {}

  // Observes the three notifications of this module's own converter (once, however often
  // it is called).
  void registerNotifications();
  // The conversion start, on the import thread: pre-processes a ".vsdx" (any case), then
  // converts the source itself.
  void VSDTOPDF();
  void getVSDAllPageNum(const foundation::Notification& n);
  void endVSDPage(const foundation::Notification& n);
  void endVSDFile();

  int allpage() const { return allpage_.load(); }
  int currpage() const { return currpage_.load(); }
  double progress() const { return progress_.load(); }
  int state() const { return state_.load(); }
  qint64 startPage() const { return startPage_.load(); }
  qint64 endPage() const { return endPage_.load(); }
  // Whether the module still holds its converter (from the start until after its end).
  bool holdsConverter() const;
  std::weak_ptr<SVG2PDF> converter() const;
  // What its converter reports with.
  const void* visioSender() const { return tag_.get(); }
  // Tests: called with the sender when a module starts to go, before anything of it goes.
  static void setGoingHook(std::function<void(const void* sender)> hook);

 protected:
  void doStartImport() override { VSDTOPDF(); }
  std::shared_ptr<DocumentViewController> makeDocumentView() override;
  // The PDF is handed to the view controller without a refresh: the browser reloads the view.
  bool refreshesViewOnOpen() const override { return false; }

 private:
  void releaseConverter();

  // What the converter reports with: this module's own tag, kept by the keeper until the
  // converter's end, so never reused while the converter can still post.
  std::shared_ptr<const char> tag_;
  mutable std::mutex mutex_;  // guards converter_
  std::shared_ptr<SVG2PDF> converter_;
  foundation::ObserverToken allPageToken_;
  foundation::ObserverToken pageToken_;
  foundation::ObserverToken fileToken_;
  std::atomic<int> allpage_{0};
  std::atomic<int> currpage_{0};
  std::atomic<double> progress_{0};
  std::atomic<int> state_{kStateStarted};
  std::atomic<qint64> startPage_{0};
  std::atomic<qint64> endPage_{0};
};
