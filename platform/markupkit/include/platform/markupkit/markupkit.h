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
// as 8-bit RGB (RGBA where the image has a mask). An image whose data cannot be decoded in full
// is skipped and the next one takes its number; an image drawn more than once on a page is
// written once. Calls are serialised: one runs at a time in the process.

namespace markupkit {

enum ExtractResult : int {
  ExtractOk = 0,
  ExtractBadArguments = 1,
  ExtractUnreadable = 2,   // the file does not open as an unlocked PDF
  ExtractNoSuchPage = 3,
  ExtractWriteFailed = 4,  // an image file could not be written
};

}  // namespace markupkit

// Answers one of markupkit::ExtractResult.
int extractHtml(int argc, const char* const* argv);
