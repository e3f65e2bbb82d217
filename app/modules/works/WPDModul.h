#pragma once
// The module for WordPerfect documents. A protected document asks the user for its password
// through the shared prompt, on the GUI thread, while the converter waits.

#include <memory>

#include "modules/import/PasswordWindow.h"
#include "modules/works/RichTextModul.h"
#include "platform/wpdkit/QFWpdConverter.h"

class WPDModul : public RichTextModul, public QFWpdConverterDelegate {
 public:
  explicit WPDModul(const QString& filePath = QString()) : RichTextModul(filePath) {}

  // Registers the module with the factory for the WordPerfect extensions.
  static void registerModul();

  std::shared_ptr<QFWpdConverter> converter() const;

  void QFWpdConverterDelegate_converterStart(QFWpdConverter* converter) override;
  void QFWpdConverterDelegate_converterProcess(double progress, QFWpdConverter* converter) override;
  void QFWpdConverterDelegate_converterEnd(int32_t code, std::shared_ptr<QFExportObject> exportObject,
                                           QFWpdConverter* converter) override;
  bool QFWpdConverterDelegate_answersPassword() const override { return true; }
  std::optional<std::string> QFWpdConverterDelegate_password(QFWpdConverter* converter) override;

 protected:
  void startConverter() override;
  void cancelConverter() override;
  std::shared_ptr<DocumentViewController> makeDocumentView() override { return std::make_shared<WPDDocumentView>(); }

 private:
  mutable std::mutex converterMutex_;
  std::shared_ptr<QFWpdConverter> converter_;
  std::shared_ptr<PasswordPrompt> prompt_ = std::make_shared<PasswordPrompt>();
};
