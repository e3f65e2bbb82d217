#pragma once
// A file stream for the librevenge parsers that reports how far they have read and stops
// feeding them once the conversion is cancelled (reads then answer nothing and the stream
// stands at its end, so a parser returns soon).

#include <librevenge-stream/librevenge-stream.h>

#include <atomic>
#include <functional>
#include <memory>
#include <string>

namespace revengekit {

class ConverterStream : public librevenge::RVNGInputStream {
 public:
  struct Control {
    std::atomic<bool> cancelled{false};
    // Called with the share read so far, 0 to 1, whenever it has grown by at least 1 %.
    std::function<void(double)> progress;
    std::atomic<int> lastPercent{-1};
    void report(double fraction);
  };

  // Takes ownership of `inner`.
  ConverterStream(librevenge::RVNGInputStream* inner, std::shared_ptr<Control> control);
  ~ConverterStream() override;
  // Opens a file; nullptr when it cannot be read.
  static std::unique_ptr<ConverterStream> open(const std::string& path, std::shared_ptr<Control> control);

  bool isStructured() override;
  unsigned subStreamCount() override;
  const char* subStreamName(unsigned id) override;
  bool existsSubStream(const char* name) override;
  librevenge::RVNGInputStream* getSubStreamByName(const char* name) override;
  librevenge::RVNGInputStream* getSubStreamById(unsigned id) override;
  const unsigned char* read(unsigned long numBytes, unsigned long& numBytesRead) override;
  int seek(long offset, librevenge::RVNG_SEEK_TYPE seekType) override;
  long tell() override;
  bool isEnd() override;

 private:
  librevenge::RVNGInputStream* wrap(librevenge::RVNGInputStream* sub);

  std::unique_ptr<librevenge::RVNGInputStream> inner_;
  std::shared_ptr<Control> control_;
  long size_ = 0;
};

}  // namespace revengekit
