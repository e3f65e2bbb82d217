#include "modules/rtf/RTFTextDocument.h"

#include <QTextBlockFormat>
#include <QTextCharFormat>
#include <QTextCursor>
#include <QTextDocument>

namespace rtf {

void RTFTextDocument::fill(QTextDocument& document, const Content& content) {
  document.clear();
  if (content.isHtml) {
    document.setHtml(content.html);
    return;
  }
  QTextCursor cursor(&document);
  bool first = true;
  for (const Paragraph& paragraph : content.paragraphs) {
    if (!first) cursor.insertBlock();
    first = false;
    for (const Run& run : paragraph.runs) {
      QTextCharFormat format;
      format.setFontWeight(run.format.bold ? QFont::Bold : QFont::Normal);
      format.setFontItalic(run.format.italic);
      format.setFontUnderline(run.format.underline);
      format.setFontPointSize(run.format.halfPoints / 2.0);
      const auto font = content.fonts.constFind(run.format.font);
      if (font != content.fonts.constEnd() && !font->name.isEmpty()) format.setFontFamilies({font->name});
      cursor.insertText(run.text, format);
    }
  }
}

std::unique_ptr<QTextDocument> RTFTextDocument::fromData(const QByteArray& data) {
  const auto content = RTFReader::read(data);
  if (!content) return nullptr;
  auto document = std::make_unique<QTextDocument>();
  fill(*document, *content);
  return document;
}

}  // namespace rtf
