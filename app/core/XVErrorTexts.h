#pragma once
// The error texts a user may be shown, in one place: the end of a failed import carries one
// of the two unknown-error texts (which one is fixed per module), and the corrupt-file alert
// names the file that cannot be opened.

#include <QString>

namespace XVErrorText {

// A conversion failed without a reason of its own: the module base (a conversion that threw)
// and the PDF, Works, WordPerfect, DjVu and Visio modules.
inline QString conversionFailed() { return QStringLiteral("An unknown error"); }
// A load failed without a module's reason: the load manager (no content key, no module, a
// stored result that does not open, no load thread, quitting) and the XPS module.
inline QString loadFailed() { return QStringLiteral("Unknown error!"); }
// The browser has no loader to ask.
inline QString noDocumentLoader() { return QStringLiteral("No document loader is available"); }

// The corrupt-file alert: its message, its one button and its informative text.
inline QString corruptFileMessage() { return QStringLiteral("Note"); }
inline QString corruptFileButton() { return QStringLiteral("OK"); }
inline QString corruptFileInformative(const QString& fileName) {
  return QStringLiteral("%1  file is corrupted and cannot be opened.").arg(fileName);
}

}  // namespace XVErrorText

// Save As: why an export ended without its files.
namespace XVErrorText {
inline QString exportRangeOutsideDocument() { return QStringLiteral("The pages to save are not in the document."); }
inline QString exportDocumentUnreadable() { return QStringLiteral("The document cannot be read."); }
inline QString exportReplacesDocument(const QString& fileName) {
  return QStringLiteral("\"%1\" is the document being saved and cannot be replaced.").arg(fileName);
}
inline QString exportFileExists(const QString& fileName) { return QStringLiteral("\"%1\" already exists.").arg(fileName); }
inline QString exportWriteFailed(const QString& fileName, const QString& why) {
  return QStringLiteral("\"%1\" cannot be written: %2").arg(fileName, why);
}
}  // namespace XVErrorText
