// Fuzz target: RTF bytes through our reader into rich text, that rich text through the RTFD
// writer into a package, and the package read back. Every document becomes a package; a
// package of RTF's rich text reads back as the same rich text, and nothing is left beside it.
#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QTextDocument>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "modules/export/RTFDConverter.h"
#include "modules/rtf/RTFReader.h"
#include "modules/rtf/RTFTextDocument.h"
#include "support/fuzz_input.h"
#include "support/rich_text_compare.h"

namespace {

[[noreturn]] void fail(const std::string& why) {
  std::fprintf(stderr, "rtfd_writer_fuzz: %s\n", why.c_str());
  std::abort();
}

// Any picture a document names: a small one of its own.
QImage anyPicture(const QString&) {
  static const QImage image = [] {
    QImage i(3, 2, QImage::Format_ARGB32);
    i.fill(QColor(10, 200, 30, 128));
    i.setPixelColor(1, 1, Qt::blue);
    return i;
  }();
  return image;
}

void roundTrip(const QByteArray& input) {
  const auto content = rtf::RTFReader::read(input);
  if (!content) return;
  QTextDocument original;
  rtf::RTFTextDocument::fill(original, *content, &anyPicture);
  const QString folder = QString::fromStdString(testsupport::fuzzScratch().string());
  const QString package = folder + QStringLiteral("/out.rtfd");
  QString why;
  if (!RTFDConverter::saveRtfdFile(original, package, true, &why)) fail("not written: " + why.toStdString());
  const QStringList left = QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
  if (left != QStringList{QStringLiteral("out.rtfd")}) fail("left beside the package: " + left.join(' ').toStdString());
  QFile rtf(package + QStringLiteral("/TXT.rtf"));
  if (!rtf.open(QIODevice::ReadOnly)) fail("no TXT.rtf");
  const auto back = rtf::RTFTextDocument::fromData(rtf.readAll(), [&](const QString& name) { return QImage(package + '/' + name); });
  if (!back) fail("TXT.rtf is not RTF");
  // Rich text from HTML carried in RTF holds what RTF does not (frames, spacing): it only has
  // to be written.
  if (content->isHtml) return;
  const std::string difference = richtext::difference(original, *back);
  if (!difference.empty()) fail("read back otherwise: " + difference);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static int argc = 1;
  static char name[] = "rtfd-writer-fuzz";
  static char* argv[] = {name, nullptr};
  static QGuiApplication* app = [] {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    return new QGuiApplication(argc, argv);
  }();
  (void)app;
  const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
  roundTrip(bytes);
  if (!rtf::RTFReader::isRTF(bytes)) roundTrip(QByteArray("{\\rtf1 ") + bytes);
  return 0;
}
