#pragma once
// Fake modules and a fake loader for the browser and main-window tests.

#include <QWidget>

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "core/DocumentModul.h"
#include "platform/foundation/dispatcher.h"
#include "shell/XVloadDocumentProgressDelegate.h"

namespace testsupport {

// A PDF-based module that records the viewer operations it receives.
class FakeDocumentModul : public DocumentModul {
 public:
  explicit FakeDocumentModul(bool hasDocument = true, qint64 pages = 12) : hasDocument_(hasDocument), pages_(pages) {}

  std::vector<std::string> calls;
  bool hasCurrentPage = true;
  bool show = true;
  QString searchString;
  bool needSave_ = false;
  int writes = 0;
  qint64 page = 0;  // the index of the page shown
  bool continuous = true;
  bool onePage = true;

  bool importWithResultPath(const QString&) override { return hasDocument_; }
  // Only compared with null by its callers.
  pdfkit::PDFDocument* DocumentModulPDFDocument() override {
    return hasDocument_ ? reinterpret_cast<pdfkit::PDFDocument*>(this) : nullptr;
  }
  QWidget* documentView() override {
    if (!view_) {
      view_ = std::make_unique<QWidget>();
      view_->setObjectName("moduleView");
      view_->setFocusPolicy(Qt::StrongFocus);  // as a page view takes the keys
    }
    return view_.get();
  }
  QWidget* existingView() const { return view_.get(); }
  void ResetViewSize(const QRectF& frame) override {
    calls.push_back("ResetViewSize");
    ImportInterface::ResetViewSize(frame);
  }
  void reloadDocumentViewData() override { calls.push_back("reloadDocumentViewData"); }
  qint64 DocumentcountPage() override { return pages_; }
  void goFirstPage() override { calls.push_back("goFirstPage"); }
  void goPreviousPage() override { calls.push_back("goPreviousPage"); }
  void goNextPage() override { calls.push_back("goNextPage"); }
  void goLastPage() override { calls.push_back("goLastPage"); }
  void goPageAtIndex(qint64 index) override { calls.push_back("goPageAtIndex:" + std::to_string(index)); }
  qint64 currentNumberPage() override { return page; }
  // Only compared with null by its callers.
  pdfkit::PDFPage* currentPage() override { return hasCurrentPage ? reinterpret_cast<pdfkit::PDFPage*>(this) : nullptr; }
  void setShowThumbnailList(bool hideSideList) override {
    calls.push_back(std::string("setShowThumbnailList:") + (hideSideList ? "1" : "0"));
  }
  bool isShow() const override { return show; }
  void setshowPageContinue(bool on) override {
    calls.push_back(std::string("setshowPageContinue:") + (on ? "1" : "0"));
    continuous = on;
  }
  void setshowOneOrTwoPageIsOne(bool one) override {
    calls.push_back(std::string("setshowOneOrTwoPageIsOne:") + (one ? "1" : "0"));
    onePage = one;
  }
  bool pageContinue() const override { return continuous; }
  bool oneOrTwoPageIsOne() const override { return onePage; }
  void setZoomIn() override { calls.push_back("setZoomIn"); }
  void setZoomOut() override { calls.push_back("setZoomOut"); }
  void setScale(double scale) override { calls.push_back("setScale:" + std::to_string(scale)); }
  void setAutoResize(bool on) override { calls.push_back(std::string("setAutoResize:") + (on ? "1" : "0")); }
  void rotateCurPageleft() override { calls.push_back("rotateCurPageleft"); }
  void rotateCurPage(qint64 d) override { calls.push_back("rotateCurPage:" + std::to_string(d)); }
  void rotateAllPageleft() override { calls.push_back("rotateAllPageleft"); }
  void rotateAllPage(qint64 d) override { calls.push_back("rotateAllPage:" + std::to_string(d)); }
  void setNeedSave(bool v) override {
    calls.push_back(std::string("setNeedSave:") + (v ? "1" : "0"));
    needSave_ = v;
  }
  bool needSave() const override { return needSave_; }
  bool needSaveDocument() override {
    ++writes;
    needSave_ = false;
    return true;
  }
  void print() override { calls.push_back("print"); }
  void searchContent(const QString& text) override { calls.push_back("searchContent:" + text.toStdString()); }
  void searchEndState() override { calls.push_back("searchEndState"); }
  QString getSearchString() const override { return searchString; }
  Capabilities capabilities() const override { return caps; }
  Capabilities caps = DocumentModul::capabilities();
  QList<Format> SupportSaveFormats() const override { return saveFormats; }
  QList<Format> SupportExtractFormats() const override { return extractFormats; }
  QList<Format> saveFormats = {Format::formatNamed("PDF"), Format::formatNamed("PNG")};
  QList<Format> extractFormats = {Format::formatNamed("PNG")};

 protected:
  void doStartImport() override {}

 private:
  bool hasDocument_;
  qint64 pages_;
  std::unique_ptr<QWidget> view_;
};

// The mail container's module: an ImportInterface only, which says it shows a message.
class FakeMailModul : public ImportInterface {
 public:
  ModuleKind moduleKind() const override { return ModuleKind::Message; }
  bool importWithResultPath(const QString&) override { return true; }
  bool hasOpenResult() override { return opened; }
  QWidget* documentView() override {
    if (!view_) view_ = std::make_unique<QWidget>();
    return view_.get();
  }

 protected:
  void doStartImport() override {}

 public:
  bool opened = true;  // a container that did not open leaves nothing to show

 private:
  std::unique_ptr<QWidget> view_;
};

// Records requests; the test ends them from a worker thread, as the real loader does.
class FakeLoader : public XVDocumentLoader {
 public:
  struct Request {
    QString path;
    std::shared_ptr<XVloadDocumentProgressDelegate> delegate;
  };
  void loadDocumentByFilePath(const QString& path, std::shared_ptr<XVloadDocumentProgressDelegate> delegate) override {
    std::lock_guard lock(mutex);
    history << path;
    requests.push_back({path, std::move(delegate)});
  }
  // Every path requested so far, in order.
  QStringList requestedPaths() {
    std::lock_guard lock(mutex);
    return history;
  }
  // Ends the first open request for `path` on another thread; the GUI sees it after a drain.
  void finish(const QString& path, std::shared_ptr<ImportInterface> module, const QString& error = {}) {
    std::shared_ptr<XVloadDocumentProgressDelegate> delegate;
    {
      std::lock_guard lock(mutex);
      for (auto it = requests.begin(); it != requests.end(); ++it) {
        if (it->path == path) {
          delegate = it->delegate;
          requests.erase(it);
          break;
        }
      }
    }
    if (!delegate) return;
    std::thread([&] { delegate->XVLoad_End(module, path, error); }).join();
  }

  std::mutex mutex;
  std::vector<Request> requests;
  QStringList history;
};

}  // namespace testsupport
