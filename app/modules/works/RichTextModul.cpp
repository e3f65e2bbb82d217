#include "modules/works/RichTextModul.h"

#include <QSizeF>

#include "core/XVErrorTexts.h"
#include "platform/foundation/log.h"

RichTextModul::RichTextModul(const QString& filePath) : PDFModul(filePath) {}

RichTextModul::~RichTextModul() = default;

void RichTextModul::doStartImport() {
  type_ = 1;
  format_ = QFConverterFormat::formatWithType(1, sourcePath());
  startConverter();
}

void RichTextModul::stopImport() { cancelConverter(); }

void RichTextModul::converterStarted() { sendStart(); }

void RichTextModul::converterProgress(double percent) { sendProgress(percent); }

void RichTextModul::converterEnded(int32_t code, const std::shared_ptr<QFExportObject>& exportObject) {
  const bool printed = exportObject && makePDFFile(*exportObject);
  if (code == QFConverterEndSucceeded && printed) {
    finishImport(outPath(), XVErrorText::conversionFailed());
    return;
  }
  sendEnd(false, code == QFConverterEndSucceeded ? XVErrorText::conversionFailed() : errorTextForEndCode(code));
}

QString RichTextModul::errorTextForEndCode(int32_t code) const {
  switch (code) {
    case QFConverterEndUnsupported: return XVErrorText::formatVersionNotSupported();
    case QFConverterEndPasswordRequired:
    case QFConverterEndEncryptionUnsupported: return XVErrorText::passwordProtected();
    default: return XVErrorText::conversionFailed();
  }
}

bool RichTextModul::makePDFFile(const QFExportObject& exportObject) { return printExportObject(exportObject, outPath()); }

bool RichTextModul::printExportObject(const QFExportObject& exportObject, const QString& out) {
  if (!exportObject.storage() || out.isEmpty()) return false;
  const revengekit::PrintResult result = exportObject.print(out);
  if (!result.ok) {
    foundation::log(foundation::LogLevel::Error, "richtext",
                    QStringLiteral("printing %1 failed: %2").arg(out, result.error).toStdString());
    return false;
  }
  return true;
}

QList<Format> RichTextModul::SupportSaveFormats() const {
  QList<Format> out;
  for (const char* name : {"PDF", "RTFD", "TEXT", "PNG", "JPEG", "BMP", "GIF", "TIFF"})
    out.append(Format::formatNamed(QLatin1String(name)));
  return out;
}
