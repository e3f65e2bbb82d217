#pragma once
// MarkupKit: dumps the images embedded in the pages of a PDF file, driven like a command line.
//
//   extractHtml(argc, argv) with argv = { program, pdf, prefix, options... }
//
// options:
//   -R N    only page N (1-based page number in the file, not its label); every page without it
//   IMAGE   write the images only (the one output this kit has)
//
// The images of the chosen pages are written as "<prefix>-NNN.png", numbered from 001 in the
// order they are drawn, without gaps. Every filter and colour space Poppler decodes is written
// as 8-bit RGB (RGBA where the image has a mask), decoded and written one row at a time, so an
// image of any size allowed below costs a few rows of memory. An image whose data cannot be
// decoded in full, or that is larger than allowed, is skipped (the next one takes its number)
// and listed by lastSkippedImages(); an image drawn more than once on a page is written once.
// Calls are serialised: one runs at a time in the process.

#include <vector>

namespace markupkit {

// The largest image written: at most this many pixels, and at most kMaxImageSide pixels
// across and down (what PNG readers take). Read back whole as RGBA, the largest is 1 GiB.
constexpr long long kMaxImagePixels = 1LL << 28;
constexpr int kMaxImageSide = 1000000;

enum class SkipReason { TooLarge, Undecodable };

struct SkippedImage {
  int page = 0;  // 1-based page number in the file
  int width = 0;
  int height = 0;
  SkipReason reason = SkipReason::Undecodable;
};

// The images the last extractHtml() call on this thread did not write, in drawing order.
std::vector<SkippedImage> lastSkippedImages();

enum ExtractResult : int {
  ExtractOk = 0,
  ExtractBadArguments = 1,
  ExtractUnreadable = 2,   // the file does not open as an unlocked PDF
  ExtractNoSuchPage = 3,
  ExtractWriteFailed = 4,  // an image file could not be written
  ExtractImagesSkipped = 5,  // the other images were written; see lastSkippedImages()
};

}  // namespace markupkit

// Answers one of markupkit::ExtractResult.
int extractHtml(int argc, const char* const* argv);
