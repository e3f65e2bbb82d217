#pragma once
// An RTF reader on Qt Core: turns RTF bytes into paragraphs of formatted runs, or, for RTF
// that encapsulates HTML, into the HTML text it carries.
//
// Read: groups, \par and \line, \b, \i, \ul, \fs, \f with the font table, \plain, \'hh and
// raw 8-bit text through the code page of the current font (\fcharset) or of the document
// (\ansicpg), \uN with \ucN fallback skipping, \bin, and \fromhtml with \htmltag and \htmlrtf.
// Pictures, objects, fields' instructions, style and colour tables and every \* destination
// the reader does not know are skipped. Never throws; any input ends in a result or nothing.

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>

#include <optional>

namespace rtf {

struct CharFormat {
  bool bold = false;
  bool italic = false;
  bool underline = false;
  int halfPoints = 24;  // \fs: the size in half points
  int font = -1;        // \f: an index into the font table, -1 for none
  bool operator==(const CharFormat&) const = default;
};

struct Run {
  QString text;
  CharFormat format;
};

struct Paragraph {
  QList<Run> runs;
  QString text() const;
};

struct Font {
  QString name;
  int charset = -1;  // \fcharset, -1 when not given
};

struct Content {
  // Yes for RTF that encapsulates HTML (\fromhtml1): html holds the page, paragraphs are empty.
  bool isHtml = false;
  QString html;
  QList<Paragraph> paragraphs;
  QMap<int, Font> fonts;
  int codePage = 1252;  // \ansicpg
  // The paragraphs' text joined with line feeds (the HTML for an HTML document).
  QString plainText() const;
};

class RTFReader {
 public:
  RTFReader() = delete;
  // Yes when the bytes begin, after white space, with "{\rtf".
  static bool isRTF(const QByteArray& data);
  // The content of an RTF document; nothing when the data is not RTF.
  static std::optional<Content> read(const QByteArray& data);
  // Bytes in a Windows code page as text; unknown code pages read as Windows-1252, and bytes
  // that do not decode become U+FFFD.
  static QString decodeCodePage(const QByteArray& bytes, int codePage);
  // The Windows code page of an RTF character set (\fcharset); 0 for "the document's".
  static int codePageForCharset(int charset);
};

}  // namespace rtf
