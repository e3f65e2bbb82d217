#pragma once
// An RTF document as a QTextDocument: the reader's paragraphs with their character formats
// (font, size, bold, italic, underline, strike, colour, highlight, super- and subscript),
// paragraph formats (alignment, indents, spacing, line height, tab stops, page breaks),
// lists, tables (column widths, merged cells, cell colours, borders, padding) and pictures;
// HTML carried in RTF becomes the document's HTML.
//
// Lengths are in points. A list's indent steps are the document's indentWidth; an RTF list
// paragraph's \li holds them, and its \fi the hanging marker (kListHangTwips).

#include <QByteArray>
#include <QImage>
#include <QString>

#include <functional>
#include <memory>

#include "modules/rtf/RTFReader.h"

class QTextDocument;

namespace rtf {

// The image a picture run names, or a null image to leave the picture out.
using PictureSource = std::function<QImage(const QString& name)>;

class RTFTextDocument {
 public:
  RTFTextDocument() = delete;
  // Fills `document` (cleared first) from `content`.
  static void fill(QTextDocument& document, const Content& content, const PictureSource& pictures = {});
  // A new document from RTF bytes; null when the data is not RTF.
  static std::unique_ptr<QTextDocument> fromData(const QByteArray& data, const PictureSource& pictures = {});
};

}  // namespace rtf
