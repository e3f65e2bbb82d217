// Reads arbitrary bytes as a PDF and extracts the images of its first pages into a scratch
// folder, one page at a time as the extraction worker does. Checks what the caller relies on:
// only "<prefix>-NNN.png" files, numbered from 001 without gaps, each readable as an image of
// at most the allowed size; images skipped exactly when the result says so, each on the page
// asked for, and "too large" only beyond the limits.
#include <QDir>
#include <QImageReader>
#include <QString>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/markupkit/markupkit.h"
#include "support/fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const auto pdf = testsupport::writeFuzzInput("input.pdf", data, size);
  const auto folder = testsupport::fuzzScratch() / "out";
  constexpr int kPages = 4;  // enough to reach every road; keeps one input fast
  for (int page = 1; page <= kPages; ++page) {
    std::filesystem::remove_all(folder);
    std::filesystem::create_directory(folder);
    const std::string prefix = (folder / "Temp").string();
    const std::string pageArg = std::to_string(page);
    const char* argv[] = {"", pdf.c_str(), prefix.c_str(), "-R", pageArg.c_str(), "IMAGE"};
    const int result = extractHtml(6, argv);
    if (result == markupkit::ExtractUnreadable || result == markupkit::ExtractNoSuchPage) break;
    if (result != markupkit::ExtractOk && result != markupkit::ExtractImagesSkipped) std::abort();
    const auto skipped = markupkit::lastSkippedImages();
    if (skipped.empty() != (result == markupkit::ExtractOk)) std::abort();
    for (const auto& s : skipped) {
      if (s.page != page) std::abort();
      const bool fits = s.width > 0 && s.height > 0 && s.width <= markupkit::kMaxImageSide &&
                        s.height <= markupkit::kMaxImageSide && qint64(s.width) * s.height <= markupkit::kMaxImagePixels;
      if (s.reason == markupkit::SkipReason::TooLarge && fits) std::abort();
    }
    const QStringList files = QDir(QString::fromStdString(folder.string())).entryList(QDir::Files | QDir::Hidden, QDir::Name);
    for (int k = 0; k < files.size(); ++k) {
      if (files[k] != QStringLiteral("Temp-%1.png").arg(k + 1, 3, 10, QLatin1Char('0'))) std::abort();
      QImageReader reader(QString::fromStdString((folder / files[k].toStdString()).string()), "png");
      reader.setAllocationLimit(0);
      const QSize s = reader.size();
      if (s.width() <= 0 || s.height() <= 0 || qint64(s.width()) * s.height() > markupkit::kMaxImagePixels) std::abort();
      if (reader.read().isNull()) std::abort();
    }
  }
  return 0;
}
