#pragma once
// A large image for image_pdf.h that stays small on disk: 8-bit samples made one row at a
// time and deflated as they come, so building it holds one row, not the image.

#include <zlib.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "support/image_pdf.h"

namespace testsupport {

// `fill(y, row)` writes row y: `width` x `comps` bytes.
template <class Fill>
PdfImage flateImage(int width, int height, const std::string& colorSpace, int comps, Fill fill) {
  PdfImage im;
  im.width = width;
  im.height = height;
  im.colorSpace = colorSpace;
  im.filter = "/FlateDecode";
  z_stream z{};
  if (deflateInit(&z, 1) != Z_OK) std::abort();
  std::vector<unsigned char> row(static_cast<size_t>(width) * comps);
  std::vector<unsigned char> out(1 << 16);
  auto pump = [&](int flush) {
    do {
      z.next_out = out.data();
      z.avail_out = static_cast<uInt>(out.size());
      deflate(&z, flush);
      im.data.append(reinterpret_cast<const char*>(out.data()), out.size() - z.avail_out);
    } while (z.avail_out == 0);
  };
  for (int y = 0; y < height; ++y) {
    fill(y, row.data());
    z.next_in = row.data();
    z.avail_in = static_cast<uInt>(row.size());
    pump(Z_NO_FLUSH);
  }
  pump(Z_FINISH);
  deflateEnd(&z);
  return im;
}

}  // namespace testsupport
