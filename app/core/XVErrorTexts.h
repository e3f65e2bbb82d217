#pragma once
// The error texts a user may be shown, in one place. The end of a failed import carries a
// reason (one of the texts below, or a system error text) or, when it has none, one of the two
// unknown-error texts (which one is fixed per module). The failure alert and the failed tab
// name the file with its reason, or say that it is corrupted when there is no reason.

#include <QList>
#include <QSize>
#include <QString>
#include <QStringList>

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

// Reasons a file cannot be opened.
inline QString passwordProtected() { return QStringLiteral("It is protected by a password."); }
inline QString formatVersionNotSupported() { return QStringLiteral("This version of the file format is not supported."); }
inline QString noPages() { return QStringLiteral("It has no pages."); }
inline QString notADocument() { return QStringLiteral("Files of this type are not supported."); }
inline QString fileMissing() { return QStringLiteral("The file does not exist."); }
inline QString notARegularFile() { return QStringLiteral("It is not a regular file."); }
inline QString fileUnreadable() { return QStringLiteral("The file cannot be read."); }
inline QString nothingReadable() { return QStringLiteral("No message text and no attachment could be read from it."); }
inline QString alreadyOpening() { return QStringLiteral("It is already being opened."); }

// Yes when `errorInfo` says nothing a user could act on.
inline bool isUnexplained(const QString& errorInfo) {
  return errorInfo.trimmed().isEmpty() || errorInfo == conversionFailed() || errorInfo == loadFailed();
}

// What the failure alert and the failed tab say of a file: "<file name> cannot be opened.
// <reason>", or the corrupt-file text when the failure has no reason.
inline QString cannotBeOpened(const QString& fileName, const QString& errorInfo) {
  if (isUnexplained(errorInfo)) return corruptFileInformative(fileName);
  QString reason = errorInfo.trimmed();
  if (!reason.endsWith(u'.') && !reason.endsWith(u'!') && !reason.endsWith(u'?')) reason += u'.';
  return QStringLiteral("%1 cannot be opened. %2").arg(fileName, reason);
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
// "page 3", "pages 2 and 5", "pages 2, 5, 7, 9, 11 and 4 more" (1-based page numbers).
inline QString pageList(const QList<int>& pages) {
  constexpr int kNamed = 5;
  if (pages.size() == 1) return QStringLiteral("page %1").arg(pages[0]);
  QStringList named;
  for (int i = 0; i < pages.size() && i < kNamed; ++i) named << QString::number(pages[i]);
  if (pages.size() > kNamed) return QStringLiteral("pages %1 and %2 more").arg(named.join(QStringLiteral(", "))).arg(pages.size() - kNamed);
  const QString last = named.takeLast();
  return QStringLiteral("pages %1 and %2").arg(named.join(QStringLiteral(", ")), last);
}
inline QString exportPagesNotDrawn(const QList<int>& pages) {
  QString list = pageList(pages);
  list[0] = list[0].toUpper();
  return pages.size() == 1 ? QStringLiteral("%1 cannot be drawn as an image.").arg(list)
                           : QStringLiteral("%1 cannot be drawn as images.").arg(list);
}
}  // namespace XVErrorText

// Extract Images and the Save As and Extract dialogs.
namespace XVErrorText {
inline QString extractWorkFolderFailed(const QString& folder) {
  return QStringLiteral("The work folder \"%1\" cannot be written.").arg(folder);
}
// Images of the extracted pages that could not be written: `tooLarge` images on
// `tooLargePages` (the largest of `largest` pixels) and `broken` images whose data cannot be
// decoded, on `brokenPages`.
inline QString extractImagesSkipped(int tooLarge, const QList<int>& tooLargePages, const QSize& largest, int broken,
                                    const QList<int>& brokenPages) {
  QStringList parts;
  const QString size = QStringLiteral("%1 x %2 pixels").arg(largest.width()).arg(largest.height());
  if (tooLarge == 1) {
    parts << QStringLiteral("An image on %1 is too large to extract (%2).").arg(pageList(tooLargePages), size);
  } else if (tooLarge > 1) {
    parts << QStringLiteral("%1 images on %2 are too large to extract (the largest %3).")
                 .arg(QString::number(tooLarge), pageList(tooLargePages), size);
  }
  if (broken == 1) {
    parts << QStringLiteral("An image on %1 cannot be decoded.").arg(pageList(brokenPages));
  } else if (broken > 1) {
    parts << QStringLiteral("%1 images on %2 cannot be decoded.").arg(QString::number(broken), pageList(brokenPages));
  }
  return parts.join(QLatin1Char(' '));
}
inline QString exportWarningMessage() { return QStringLiteral("Warning"); }
inline QString invalidPageRange() { return QStringLiteral("Error: Invalid Page Range!"); }
inline QString noImagesToExtract() { return QStringLiteral("No images available to extract!"); }
inline QString noImagesButton() { return QStringLiteral("YES"); }
inline QString exportNameLeavesFolder() { return QStringLiteral("The name must be a file name without \"/\"."); }
inline QString exportFolderMissing() { return QStringLiteral("Choose an existing folder to save into."); }
inline QString exportFormatUnavailable(const QString& formatName) {
  return QStringLiteral("Saving as %1 is not available for this document.").arg(formatName);
}
inline QString exportFailedMessage() { return QStringLiteral("The export did not finish."); }
}  // namespace XVErrorText

// The message view.
namespace XVErrorText {
inline QString noApplicationToOpen(const QString& fileName) {
  return QStringLiteral("Has no application to open the file \"%1\".").arg(fileName);
}
}  // namespace XVErrorText
