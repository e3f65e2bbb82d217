#pragma once
// The module for DjVu files: DjvuKit writes the PDF at outPath() and reports the page count
// and each page written; the module turns them into progress and the end, then shows the PDF
// as the PDF module does.

#include <memory>

#include "modules/pdf/PDFModul.h"
#include "platform/djvukit/DjvuKit.h"

class DjVuModul : public PDFModul, public djvukit::DjvuKitDelegate, public std::enable_shared_from_this<DjVuModul> {
 public:
  explicit DjVuModul(const QString& filePath = QString());
  ~DjVuModul() override;

  // Registers the module with the factory for the DjVu extensions.
  static void registerModul();

  void setImportStartPage(qint64 startPage, qint64 endpage) override;
  qint64 DocumentcountPage() override;
  QList<Format> SupportSaveFormats() const override;

  // DjvuKit's callbacks, on its thread.
  void getAllPageNum(int32_t count) override;
  void getCurrentPageNum(int32_t page) override;
  void endDjVuPageNoti() override;
  void sendErrorInfo(const std::string& reason) override;

  int32_t allpage() const { return allpage_; }
  int32_t currpage() const { return currpage_; }
  double progress() const { return progress_; }
  int32_t state() const { return state_; }
  qint64 startPage() const { return startPage_; }
  qint64 endPage() const { return endPage_; }

 protected:
  void doStartImport() override;
  std::shared_ptr<DocumentViewController> makeDocumentView() override;

 private:
  // Written by the callbacks of the one conversion only.
  int32_t allpage_ = 0;
  int32_t currpage_ = 0;
  double progress_ = 0;
  int32_t state_ = 0;  // 3: the last page is written; 4: pages remain
  qint64 startPage_ = 0;
  qint64 endPage_ = 0;
  // Kept until the module goes, so it is never released from inside its own callback.
  std::shared_ptr<djvukit::DjvuKit> converter_;
};
