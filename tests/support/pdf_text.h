#pragma once
// What poppler's pdftotext reads from a PDF: the plain text, and the words with their boxes
// and the page sizes (points, origin top left).

#include <QProcess>
#include <QRectF>
#include <QRegularExpression>
#include <QSizeF>
#include <QString>
#include <QStringList>

#include <vector>

namespace testsupport {

inline QString runTool(const QString& program, const QStringList& arguments, int* exitCode = nullptr) {
  QProcess p;
  p.start(program, arguments);
  p.waitForFinished(60000);
  if (exitCode) *exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
  return QString::fromUtf8(p.readAllStandardOutput());
}

inline QString pdfText(const QString& pdf) { return runTool(QStringLiteral("pdftotext"), {pdf, QStringLiteral("-")}); }

struct PdfWord {
  int page = 0;
  QRectF box;
  QString text;
};
struct PdfLayout {
  std::vector<QSizeF> pages;
  std::vector<PdfWord> words;
};

// What `pdftotext -bbox` printed.
inline PdfLayout parsePdfLayout(const QString& html) {
  PdfLayout out;
  static const QRegularExpression tag(
      QStringLiteral(R"re(<page width="([\d.]+)" height="([\d.]+)">|<word xMin="([\d.]+)" yMin="([\d.]+)" xMax="([\d.]+)" yMax="([\d.]+)">([^<]*)</word>)re"));
  for (auto it = tag.globalMatch(html); it.hasNext();) {
    const auto m = it.next();
    if (!m.captured(1).isEmpty()) {
      out.pages.emplace_back(m.captured(1).toDouble(), m.captured(2).toDouble());
    } else {
      out.words.push_back(PdfWord{static_cast<int>(out.pages.size()) - 1,
                                  QRectF(QPointF(m.captured(3).toDouble(), m.captured(4).toDouble()),
                                         QPointF(m.captured(5).toDouble(), m.captured(6).toDouble())),
                                  m.captured(7)});
    }
  }
  return out;
}

inline PdfLayout pdfLayout(const QString& pdf) {
  return parsePdfLayout(runTool(QStringLiteral("pdftotext"), {QStringLiteral("-bbox"), pdf, QStringLiteral("-")}));
}

// The words of a text, for comparing what two tools print: runs of letters and digits.
inline QStringList wordsOf(const QString& text) {
  static const QRegularExpression nonWord(QStringLiteral(R"([^\p{L}\p{N}]+)"));
  return text.split(nonWord, Qt::SkipEmptyParts);
}

}  // namespace testsupport
