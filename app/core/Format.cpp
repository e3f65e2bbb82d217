#include "core/Format.h"

namespace {
Format make(const char* name, const char* ext, const char* icon, bool progress, bool range) {
  Format f = Format::format();
  f.setFormatName(QString::fromLatin1(name));
  f.setExtension(QString::fromLatin1(ext));
  f.setFormatThumbnail(QStringLiteral(":/icons/%1.svg").arg(QString::fromLatin1(icon)));
  f.setHasProgress(progress);
  f.setCanRangePage(range);
  return f;
}
}  // namespace

QList<Format> Format::allFormats() {
  return {make("PDF", "pdf", "pic_icon_pdf", true, true),     make("RTFD", "rtfd", "pic_icon_rtfd", false, false),
          make("TEXT", "txt", "pic_icon_text", true, true),   make("PNG", "png", "pic_icon_png", true, true),
          make("JPEG", "jpg", "pic_icon_jpeg", true, true),   make("BMP", "bmp", "pic_icon_bmp", true, true),
          make("GIF", "gif", "pic_icon_gif", true, true),     make("TIFF", "tiff", "pic_icon_tiff", true, true)};
}

Format Format::formatNamed(const QString& formatName) {
  for (const Format& f : allFormats()) {
    if (f.formatName() == formatName) return f;
  }
  return Format();
}
