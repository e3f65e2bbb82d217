#pragma once
// An RTF document as a QTextDocument: the reader's paragraphs and runs with their bold,
// italic, underline, size and font family; HTML carried in RTF becomes the document's HTML.

#include <QByteArray>

#include <memory>

#include "modules/rtf/RTFReader.h"

class QTextDocument;

namespace rtf {

class RTFTextDocument {
 public:
  RTFTextDocument() = delete;
  // Fills `document` (cleared first) from `content`.
  static void fill(QTextDocument& document, const Content& content);
  // A new document from RTF bytes; null when the data is not RTF.
  static std::unique_ptr<QTextDocument> fromData(const QByteArray& data);
};

}  // namespace rtf
