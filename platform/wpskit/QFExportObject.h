#pragma once
// What a successful conversion hands over: the document as rich text and its page
// attributes (paper size and margins, in points).

#include <QSizeF>
#include <QVariantMap>

#include <functional>
#include <memory>

#include "platform/revengekit/RichTextGenerator.h"
#include "platform/revengekit/RichTextPrinter.h"

class QTextDocument;

inline constexpr char NSPaperSizeDocumentAttribute[] = "NSPaperSizeDocumentAttribute";      // QSizeF
inline constexpr char NSTopMarginDocumentAttribute[] = "NSTopMarginDocumentAttribute";      // double
inline constexpr char NSBottomMarginDocumentAttribute[] = "NSBottomMarginDocumentAttribute";  // double
inline constexpr char NSLeftMarginDocumentAttribute[] = "NSLeftMarginDocumentAttribute";    // double
inline constexpr char NSRightMarginDocumentAttribute[] = "NSRightMarginDocumentAttribute";  // double

class QFExportObject {
 public:
  QFExportObject(std::unique_ptr<QTextDocument> storage, const revengekit::PageSetup& page);
  ~QFExportObject();
  QFExportObject(const QFExportObject&) = delete;
  QFExportObject& operator=(const QFExportObject&) = delete;

  // The whole converted document. It belongs to no thread: the thread that uses it takes it
  // over (moveToThread), one thread at a time.
  QTextDocument* storage() const { return storage_.get(); }
  QVariantMap myDic() const { return myDic_; }

  // Prints the document into a PDF at `path` at its paper size and top, bottom and left
  // margins (the left one on both sides). `cancelled` is asked between pages.
  revengekit::PrintResult print(const QString& path, const std::function<bool()>& cancelled = {}) const;

 private:
  std::unique_ptr<QTextDocument> storage_;
  QVariantMap myDic_;
};
