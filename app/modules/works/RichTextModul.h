#pragma once
// The base of the Works and WordPerfect modules: an outside converter turns the source into
// rich text with page attributes; the module prints that text into the PDF at outPath() and
// is then a PDF module.
//
// The converter calls back on its own thread; the module reports to its delegate and prints
// on that thread. The converter holds the module until its end.

#include <QString>

#include <memory>

#include "modules/pdf/PDFModul.h"
#include "platform/wpskit/QFConverterFormat.h"
#include "platform/wpskit/QFExportObject.h"

class RichTextModul : public PDFModul, public std::enable_shared_from_this<RichTextModul> {
 public:
  explicit RichTextModul(const QString& filePath = QString());
  ~RichTextModul() override;

  void stopImport() override;
  QList<Format> SupportSaveFormats() const override;

  int32_t type() const { return type_; }
  std::shared_ptr<QFConverterFormat> format() const { return format_; }

  // Prints the converted text into outPath() at the export object's paper size and margins
  // (the left margin on both sides); false when nothing was written.
  bool makePDFFile(const QFExportObject& exportObject);
  // The same for any PDF path.
  static bool printExportObject(const QFExportObject& exportObject, const QString& pdfPath);
  // The text a failed end carries for a converter's end code.
  QString errorTextForEndCode(int32_t code) const;

 protected:
  void doStartImport() override;
  // Makes the converter for format(), sets the module as its delegate and starts it.
  virtual void startConverter() = 0;
  virtual void cancelConverter() = 0;

  // The converter's callbacks, whichever kit they come from.
  void converterStarted();
  void converterProgress(double percent);
  void converterEnded(int32_t code, const std::shared_ptr<QFExportObject>& exportObject);

 private:
  std::shared_ptr<QFConverterFormat> format_;
  int32_t type_ = 0;
};
