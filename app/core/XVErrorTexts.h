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

// Failures with a reason the user is told in place of the corrupt-file text: a format or a
// version of it that no library here reads, and a document protected by a password.
inline QString formatVersionNotSupported(const QString& fileName) {
  return QStringLiteral("%1 cannot be opened. This version of the file format is not supported.").arg(fileName);
}
inline QString passwordProtected(const QString& fileName) {
  return QStringLiteral("%1 is protected by a password and cannot be opened.").arg(fileName);
}
inline bool isFailureReason(const QString& text) {
  return text.endsWith(QLatin1String(" cannot be opened. This version of the file format is not supported.")) ||
         text.endsWith(QLatin1String(" is protected by a password and cannot be opened."));
}

// The corrupt-file alert: its message, its one button and its informative text.
inline QString corruptFileMessage() { return QStringLiteral("Note"); }
inline QString corruptFileButton() { return QStringLiteral("OK"); }
inline QString corruptFileInformative(const QString& fileName) {
  return QStringLiteral("%1  file is corrupted and cannot be opened.").arg(fileName);
}

}  // namespace XVErrorText
