#pragma once
// Save As RTFD of a Works or WordPerfect document: the source file is converted again by its
// rich text kit, and the text is written as the package "%1/%2.rtfd" (TXT.rtf and one file per
// picture). The page range is not used: the package holds the whole document. The end says
// YES only when the conversion succeeded and the package was written.
//
// WPVConverter drives WpsKit (Works), WVConverter WpdKit (WordPerfect). Reports come on the
// kit's thread.

#include <QList>
#include <QString>
#include <QUrl>

#include <condition_variable>
#include <memory>
#include <mutex>

#include "core/Format.h"
#include "modules/export/ConverterInterface.h"

class QTextDocument;
class QFConverterRun;
class QFExportObject;

class RTFDConverter : public ConverterInterface {
 public:
  void setDelegate(std::weak_ptr<ConverterProgressDelegate> delegate) override { delegate_ = std::move(delegate); }
  void setConvertDocument(pdfkit::PDFDocument* document) override { document_ = document; }
  void setOutDirector(const QString& folder) override { outDirector_ = folder; }
  void setOutFileName(const QString& name) override { outFileName_ = name; }
  void setOutFilePath(const QString& path) override { outFilePath_ = path; }
  void setConvertStartPage(qint64, qint64) override {}
  void setReplaceExisting(bool replace) override { replaceExisting_ = replace; }
  QStringList existingOutputFiles() const override;
  void startConvert() override;
  void stopConvert() override;
  bool waitUntilEnded(std::chrono::milliseconds timeout) const override;
  QString errorInfo() const override;

  QString packagePath() const;
  QList<QUrl> urlArray() const;

  // Writes `text` as the package `path` (a folder ending in ".rtfd", with the mode the umask
  // gives a new folder), through a folder beside it that takes the name only when complete.
  // An existing package is replaced only with `replace`. Answers whether it was written;
  // `why` says why not.
  static bool saveRtfdFile(const QTextDocument& text, const QString& path, bool replace, QString* why);

  // How a folder takes its name: renameat2(2) between two paths with the given flags. Tests
  // replace it (a file system without RENAME_NOREPLACE); nullptr restores the system's.
  using RenameFunction = int (*)(const char* from, const char* to, unsigned int flags);
  static void setRenameForTesting(RenameFunction rename);

  // Whether a run is going: set at its start, cleared once its end report has returned.
  struct EndState {
    std::mutex mutex;
    std::condition_variable cv;
    bool running = false;
    void finish();
  };
  // The kit's reports, on its thread.
  void kitStarted();
  void kitEnded(int32_t code, const std::shared_ptr<QFExportObject>& exportObject);

 protected:
  RTFDConverter() = default;
  // Makes the kit's converter for the source, with a relay of the run as its delegate.
  virtual std::shared_ptr<QFConverterRun> makeConverter(const QString& source, std::shared_ptr<EndState> state) = 0;

 private:
  void refuse(const QString& why);

  std::weak_ptr<ConverterProgressDelegate> delegate_;
  pdfkit::PDFDocument* document_ = nullptr;  // kept, not used
  QString outDirector_;
  QString outFileName_;
  QString outFilePath_;
  bool replaceExisting_ = false;
  std::shared_ptr<QFConverterRun> converter_;
  std::shared_ptr<EndState> ended_ = std::make_shared<EndState>();

  mutable std::mutex mutex_;  // guards the fields below
  QList<QUrl> urlArray_;
  QString errorInfo_;
};

class WPVConverter : public RTFDConverter, public std::enable_shared_from_this<WPVConverter> {
 public:
  static std::shared_ptr<WPVConverter> converterWithFormat(const Format& format);

 protected:
  std::shared_ptr<QFConverterRun> makeConverter(const QString& source, std::shared_ptr<EndState> state) override;

 private:
  WPVConverter() = default;
};

class WVConverter : public RTFDConverter, public std::enable_shared_from_this<WVConverter> {
 public:
  static std::shared_ptr<WVConverter> converterWithFormat(const Format& format);

 protected:
  std::shared_ptr<QFConverterRun> makeConverter(const QString& source, std::shared_ptr<EndState> state) override;

 private:
  WVConverter() = default;
};
