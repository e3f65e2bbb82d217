#pragma once
// The generic importer: converts any supported source into a PDF at outPath() with the
// converter its lower-case extension names, and reports to its delegate. It has no view and
// never opens its result. Only ProductInfo::ImportInterface() makes one.
//
// Threads: the converters call back on their own threads, the Visio converter's notifications
// come on the poster's thread; every report is sent from there. A password question of the
// WordPerfect converter is asked on the GUI thread while the converter's thread waits.

#include <QString>

#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "core/DocumentModul.h"
#include "modules/import/PasswordWindow.h"
#include "platform/djvukit/DjvuKit.h"
#include "platform/foundation/notification_center.h"
#include "platform/wpdkit/QFWpdConverter.h"
#include "platform/wpskit/QFWpsConverter.h"
#include "platform/xpskit/XpsKit.h"

class ProductInfo;

class DVImport : public ImportInterface,
                 public xpskit::QFXpsConverterDelegate,
                 public djvukit::DjvuKitDelegate,
                 public QFWpsConverterDelegate,
                 public QFWpdConverterDelegate,
                 public PasswordWindowDelegate,
                 public std::enable_shared_from_this<DVImport> {
 public:
  // The converter a source goes to.
  enum class Road { XPS, Works, WordPerfect, PDF, DjVu, Visio };
  static Road roadForPath(const QString& path);

  // States of a page-counting conversion (DjVu, Visio).
  static constexpr int kStateLastPageDone = 3;
  static constexpr int kStatePagesMissing = 4;

  ~DVImport() override;

  ModuleKind moduleKind() const override { return ModuleKind::PageDocument; }
  // Observes the Visio converter's notifications (once), then stores the path.
  void setImportSourcePath(const QString& path) override;
  void setImportStartPage(qint64 startPage, qint64 endpage) override;
  // Cancels a running XPS conversion and a waiting password question.
  void stopImport() override;
  // The importer only writes its PDF: there is nothing of its own to open or show.
  bool importWithResultPath(const QString& path) override;
  QWidget* documentView() override { return nullptr; }

  void QFXpsConverterDelegate_converterStart(xpskit::QFXpsConverter* converter) override;
  void QFXpsConverterDelegate_converterProcess(double percent, xpskit::QFXpsConverter* converter) override;
  void QFXpsConverterDelegate_converterEnd(int32_t code, const void* exportObject,
                                           xpskit::QFXpsConverter* converter) override;

  void QFWpsConverterDelegate_converterStart(QFWpsConverter* converter) override;
  void QFWpsConverterDelegate_converterProcess(double progress, QFWpsConverter* converter) override;
  void QFWpsConverterDelegate_converterEnd(int32_t code, std::shared_ptr<QFExportObject> exportObject,
                                           QFWpsConverter* converter) override;
  void QFWpdConverterDelegate_converterStart(QFWpdConverter* converter) override;
  void QFWpdConverterDelegate_converterProcess(double progress, QFWpdConverter* converter) override;
  void QFWpdConverterDelegate_converterEnd(int32_t code, std::shared_ptr<QFExportObject> exportObject,
                                           QFWpdConverter* converter) override;
  // A protected WordPerfect document: each password is asked of the user.
  bool QFWpdConverterDelegate_answersPassword() const override { return true; }
  std::optional<std::string> QFWpdConverterDelegate_password(QFWpdConverter* converter) override;

  // DjvuKit's callbacks; the Visio notifications arrive here too.
  void getAllPageNum(int32_t count) override;
  void getCurrentPageNum(int32_t page) override;
  void endDjVuPageNoti() override;
  void sendErrorInfo(const std::string& reason) override;

  // The prompt's answer, kept for the converter.
  void PasswordWindowDelegate_password(const QString& password, PasswordWindow* window) override;
  // Asks the user for a password on the GUI thread and waits; none when the question was
  // cancelled (by the user or stopImport()).
  std::optional<std::string> askPassword();

  int32_t allpage() const { return allpage_.load(); }
  int32_t currpage() const { return currpage_.load(); }
  double progress() const { return progress_.load(); }
  int32_t state() const { return state_.load(); }
  qint64 startPage() const { return startPage_.load(); }
  qint64 endPage() const { return endPage_.load(); }
  // Whether the Visio notifications are observed.
  bool observesVisio() const;
  // What the Visio converter reports with.
  const void* visioSender() const { return tag_.get(); }

 protected:
  void doStartImport() override;

 private:
  friend class ProductInfo;
  static std::shared_ptr<DVImport> import();
  DVImport();

  void registerNotifications();
  void startXps();
  void copyPdf();
  void startDjvu();
  void startRichText(bool wordPerfect);
  // Prints a rich text conversion's result into outPath() and ends.
  void endRichText(int32_t code, const std::shared_ptr<QFExportObject>& exportObject);
  void startVisio();
  void resetPages();

  // What the Visio converter reports with: this importer's own tag, kept by the keeper until
  // that converter's end, so no later importer hears it.
  std::shared_ptr<const char> tag_;
  mutable std::mutex mutex_;  // guards the tokens, the converters and the password
  foundation::ObserverToken allPageToken_;
  foundation::ObserverToken pageToken_;
  foundation::ObserverToken fileToken_;
  std::shared_ptr<xpskit::QFXpsConverter> converter_;
  std::shared_ptr<djvukit::DjvuKit> djvuConverter_;
  std::shared_ptr<PasswordPrompt> prompt_ = std::make_shared<PasswordPrompt>();
  QString passwordString_;
  std::atomic<int32_t> allpage_{0};
  std::atomic<int32_t> currpage_{0};
  std::atomic<double> progress_{0};
  std::atomic<int32_t> state_{0};
  std::atomic<qint64> startPage_{0};
  std::atomic<qint64> endPage_{0};
};
