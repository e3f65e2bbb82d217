#pragma once
// DjVu to PDF. Every page is rendered at its own resolution onto a PDF page of width / dpi x 72
// points: colour and grey pages as JPEG, bitonal pages losslessly (CCITT group 4), with the
// page's hidden text as invisible text so that a PDF search finds its words.

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

namespace foundation {
class Worker;
}

namespace djvukit {

// Called on the converter's thread, in this order: the page count, each page number as it is
// written, then one end: endDjVuPageNoti on success or sendErrorInfo. No lock of the kit is
// held during a call.
class DjvuKitDelegate {
 public:
  virtual ~DjvuKitDelegate() = default;
  virtual void getAllPageNum(int32_t count) { (void)count; }
  // 1-based.
  virtual void getCurrentPageNum(int32_t page) { (void)page; }
  virtual void endDjVuPageNoti() {}
  virtual void sendErrorInfo(const std::string& reason) { (void)reason; }
};

struct ConversionCallbacks {
  std::function<void(int32_t)> pageCount;
  std::function<void(int32_t)> pageDone;
};

// Converts on the calling thread; writes `destination` through a temporary file beside it.
// False with the reason in `error` (nothing at the destination then).
bool convertDjvuToPdf(const std::string& source, const std::string& destination, const ConversionCallbacks& callbacks,
                      std::string* error);

class DjvuKit : public std::enable_shared_from_this<DjvuKit> {
 public:
  static std::shared_ptr<DjvuKit> create();
  // A running conversion holds its converter; a converter released elsewhere has ended.
  ~DjvuKit();
  DjvuKit(const DjvuKit&) = delete;
  DjvuKit& operator=(const DjvuKit&) = delete;

  // Held weakly; a running conversion keeps it alive.
  void setDelegate(std::weak_ptr<DjvuKitDelegate> delegate);
  // Starts the conversion and returns at once; false when one was started already.
  bool DjvuToPDFSrc(const std::string& src, const std::string& Des);
  // Waits for a started conversion's end.
  void wait();

 private:
  DjvuKit() = default;
  std::mutex mutex_;
  std::weak_ptr<DjvuKitDelegate> delegate_;
  std::shared_ptr<foundation::Worker> worker_;
  bool started_ = false;
};

}  // namespace djvukit
