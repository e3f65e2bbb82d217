#include "platform/revengekit/ConverterStream.h"

#include <algorithm>
#include <cstdio>

namespace revengekit {

void ConverterStream::Control::report(double fraction) {
  const int percent = static_cast<int>(std::clamp(fraction, 0.0, 1.0) * 100.0);
  int last = lastPercent.load();
  while (percent > last) {
    if (lastPercent.compare_exchange_weak(last, percent)) {
      if (progress) progress(percent / 100.0);
      return;
    }
  }
}

ConverterStream::ConverterStream(librevenge::RVNGInputStream* inner, std::shared_ptr<Control> control)
    : inner_(inner), control_(std::move(control)) {
  const long here = inner_->tell();
  if (inner_->seek(0, librevenge::RVNG_SEEK_END) == 0) size_ = inner_->tell();
  inner_->seek(here < 0 ? 0 : here, librevenge::RVNG_SEEK_SET);
}

ConverterStream::~ConverterStream() = default;

std::unique_ptr<ConverterStream> ConverterStream::open(const std::string& path, std::shared_ptr<Control> control) {
  // RVNGFileStream reads a missing or unreadable file as an empty stream: check first.
  std::FILE* probe = std::fopen(path.c_str(), "rb");
  if (!probe) return nullptr;
  std::fclose(probe);
  return std::make_unique<ConverterStream>(new librevenge::RVNGFileStream(path.c_str()), std::move(control));
}

librevenge::RVNGInputStream* ConverterStream::wrap(librevenge::RVNGInputStream* sub) {
  return sub ? new ConverterStream(sub, control_) : nullptr;
}

bool ConverterStream::isStructured() { return inner_->isStructured(); }
unsigned ConverterStream::subStreamCount() { return inner_->subStreamCount(); }
const char* ConverterStream::subStreamName(unsigned id) { return inner_->subStreamName(id); }
bool ConverterStream::existsSubStream(const char* name) { return inner_->existsSubStream(name); }

librevenge::RVNGInputStream* ConverterStream::getSubStreamByName(const char* name) {
  if (control_->cancelled) return nullptr;
  return wrap(inner_->getSubStreamByName(name));
}

librevenge::RVNGInputStream* ConverterStream::getSubStreamById(unsigned id) {
  if (control_->cancelled) return nullptr;
  return wrap(inner_->getSubStreamById(id));
}

const unsigned char* ConverterStream::read(unsigned long numBytes, unsigned long& numBytesRead) {
  numBytesRead = 0;
  if (control_->cancelled) return nullptr;
  const unsigned char* data = inner_->read(numBytes, numBytesRead);
  if (size_ > 0) control_->report(static_cast<double>(inner_->tell()) / static_cast<double>(size_));
  return data;
}

int ConverterStream::seek(long offset, librevenge::RVNG_SEEK_TYPE seekType) { return inner_->seek(offset, seekType); }
long ConverterStream::tell() { return inner_->tell(); }
bool ConverterStream::isEnd() { return control_->cancelled || inner_->isEnd(); }

}  // namespace revengekit
