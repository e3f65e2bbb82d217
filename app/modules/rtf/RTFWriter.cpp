#include "modules/rtf/RTFWriter.h"

#include <QList>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextFragment>
#include <QTextImageFormat>
#include <QUrl>
#include <QVariant>

#include <cmath>

namespace rtf {

QByteArray RTFWriter::escape(const QString& text) {
  QByteArray out;
  const QList<uint> points = text.toUcs4();
  for (uint c : points) {
    if (c == '\\' || c == '{' || c == '}') {
      out += '\\';
      out += char(c);
    } else if (c == '\t') {
      out += "\\tab ";
    } else if (c == 0x2028 || c == '\n') {
      out += "\\line ";
    } else if (c == 0xFFFC || c == 0x2029) {
      // Object replacement (a picture, written apart) and paragraph separators.
    } else if (c >= 0x20 && c < 0x80) {
      out += char(c);
    } else if (c < 0x20) {
      // Other control characters carry nothing to keep.
    } else {
      // \uN takes a signed 16-bit value; characters past the BMP go as their surrogate pair.
      QString units = QString::fromUcs4(reinterpret_cast<const char32_t*>(&c), 1);
      for (QChar u : units) out += "\\u" + QByteArray::number(static_cast<qint16>(u.unicode())) + '?';
    }
  }
  return out;
}

QByteArray RTFWriter::write(const QTextDocument& document, const std::function<QString(const QImage&)>& attach) {
  QList<QString> fonts;
  auto fontIndex = [&fonts](const QString& family) {
    const QString name = family.isEmpty() ? QStringLiteral("Helvetica") : family;
    qsizetype i = fonts.indexOf(name);
    if (i < 0) {
      fonts << name;
      i = fonts.size() - 1;
    }
    return static_cast<int>(i);
  };
  fontIndex(document.defaultFont().family());

  QByteArray body;
  bool firstBlock = true;
  for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
    if (!firstBlock) body += "\\par\n";
    firstBlock = false;
    for (auto it = block.begin(); !it.atEnd(); ++it) {
      const QTextFragment fragment = it.fragment();
      if (!fragment.isValid()) continue;
      const QTextCharFormat format = fragment.charFormat();
      if (format.isImageFormat()) {
        const QTextImageFormat image = format.toImageFormat();
        const QVariant resource = document.resource(QTextDocument::ImageResource, QUrl(image.name()));
        QImage picture = resource.value<QImage>();
        if (picture.isNull()) picture = QImage::fromData(resource.toByteArray());
        if (picture.isNull()) continue;
        const QString name = attach ? attach(picture) : QString();
        if (name.isEmpty()) continue;
        const double w = image.width() > 0 ? image.width() : picture.width();
        const double h = image.height() > 0 ? image.height() : picture.height();
        body += "{\\*\\NeXTGraphic " + escape(name) + " \\width" + QByteArray::number(std::lround(w * 20)) + " \\height" +
                QByteArray::number(std::lround(h * 20)) + "}";
        continue;
      }
      QByteArray run = "{\\plain\\f" + QByteArray::number(fontIndex(format.fontFamilies().toStringList().value(0, format.font().family())));
      const double points = format.fontPointSize() > 0 ? format.fontPointSize() : document.defaultFont().pointSizeF();
      run += "\\fs" + QByteArray::number(std::lround((points > 0 ? points : 12) * 2));
      if (format.fontWeight() >= QFont::Bold) run += "\\b";
      if (format.fontItalic()) run += "\\i";
      if (format.fontUnderline()) run += "\\ul";
      run += ' ';
      run += escape(fragment.text());
      run += '}';
      body += run;
    }
  }

  QByteArray out = "{\\rtf1\\ansi\\ansicpg1252\\uc1\\deff0\n{\\fonttbl";
  for (int i = 0; i < fonts.size(); ++i) out += "{\\f" + QByteArray::number(i) + "\\fnil " + escape(fonts[i]) + ";}";
  out += "}\n";
  out += body;
  out += "\n}\n";
  return out;
}

}  // namespace rtf
