#pragma once
// Writes a QTextDocument as RTF: paragraphs of runs with their bold, italic, underline, size
// and font family, text outside ASCII as \uN, and each picture as a reference to a file of
// its own ({\*\NeXTGraphic NAME \widthW \heightH}, sizes in twips) that `attach` writes and
// names. What RTFReader reads back of it is the same text with the same formats.

#include <QByteArray>
#include <QImage>
#include <QString>

#include <functional>

class QTextDocument;

namespace rtf {

class RTFWriter {
 public:
  RTFWriter() = delete;
  // `attach` gets each picture and answers the file name it was written under, or an empty
  // name when it could not be written (the picture is then left out).
  static QByteArray write(const QTextDocument& document, const std::function<QString(const QImage&)>& attach);
  // The text as RTF text: \\, \{, \}, tabs and characters past ASCII escaped.
  static QByteArray escape(const QString& text);
};

}  // namespace rtf
