#pragma once
// The module for XPS and OpenXPS files: XpsKit writes the PDF at outPath(), then the module
// shows it as the PDF module does.

#include <memory>
#include <mutex>

#include "modules/pdf/PDFModul.h"
#include "platform/xpskit/XpsKit.h"

class XPSModul : public PDFModul,
                 public xpskit::QFXpsConverterDelegate,
                 public std::enable_shared_from_this<XPSModul> {
 public:
  explicit XPSModul(const QString& filePath = QString());
  ~XPSModul() override;

  // Registers the module with the factory for the XPS extensions. A "vsx" file that is no XPS
  // package (a Visio XML stencil) is declined, so the Visio module takes it.
  static void registerModul();

  void stopImport() override;
  void searchEndState() override;
  qint64 DocumentcountPage() override;
  qint64 curPageIndex() { return 1; }

  void QFXpsConverterDelegate_converterStart(xpskit::QFXpsConverter* converter) override;
  void QFXpsConverterDelegate_converterProcess(double percent, xpskit::QFXpsConverter* converter) override;
  void QFXpsConverterDelegate_converterEnd(int32_t code, const void* exportObject,
                                           xpskit::QFXpsConverter* converter) override;

 protected:
  void doStartImport() override;
  std::shared_ptr<DocumentViewController> makeDocumentView() override;

 private:
  std::shared_ptr<xpskit::QFXpsConverter> converter() const;

  mutable std::mutex mutex_;  // guards converter_: stopImport() may come from another thread
  std::shared_ptr<xpskit::QFXpsConverterFormat> format_;
  std::shared_ptr<xpskit::QFXpsConverterParam> param_;
  std::shared_ptr<xpskit::QFXpsConverter> converter_;
  QString openError_;  // why the document did not open; set before the converter starts
};
