#pragma once
// The module for Works documents, spreadsheets and databases.

#include <memory>

#include "modules/works/RichTextModul.h"
#include "platform/wpskit/QFWpsConverter.h"

class WPSModul : public RichTextModul, public QFWpsConverterDelegate {
 public:
  explicit WPSModul(const QString& filePath = QString()) : RichTextModul(filePath) {}

  // Registers the module with the factory for the Works extensions.
  static void registerModul();

  std::shared_ptr<QFWpsConverter> converter() const;

  void QFWpsConverterDelegate_converterStart(QFWpsConverter* converter) override;
  void QFWpsConverterDelegate_converterProcess(double progress, QFWpsConverter* converter) override;
  void QFWpsConverterDelegate_converterEnd(int32_t code, std::shared_ptr<QFExportObject> exportObject,
                                           QFWpsConverter* converter) override;

 protected:
  void startConverter() override;
  void cancelConverter() override;
  std::shared_ptr<DocumentViewController> makeDocumentView() override { return std::make_shared<WPSDocumentView>(); }

 private:
  mutable std::mutex converterMutex_;
  std::shared_ptr<QFWpsConverter> converter_;
};
