#pragma once
// XPS / OpenXPS to PDF. A format and a param say what to write and where; sources carry the
// opened documents; the converter renders every page of every fixed document onto one PDF on a
// thread of its own and reports start, progress and exactly one end to the param's delegate.
// A page libgxps cannot read or draw is left blank at its size, and one warning in the log names
// such pages; a conversion fails when no page at all can be drawn.
//
// Conversions may run on several threads at once: libgxps and the conversions' cairo surfaces are
// used only under the process-wide cairo font lock (platform/foundation/cairo_font_lock.h).

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace foundation {
class Worker;
}

namespace xpskit {

class QFXpsConverter;

// End codes of a conversion.
enum QFXpsConverterEndCode : int32_t {
  QFXpsConverterEndFailed = 1,
  QFXpsConverterEndCancelled = 2,
  QFXpsConverterEndComplete = 3,  // a complete PDF is at the param's out path
};

// Called on the converter's thread; no lock of the kit is held during a call.
class QFXpsConverterDelegate {
 public:
  virtual ~QFXpsConverterDelegate() = default;
  virtual void QFXpsConverterDelegate_converterStart(QFXpsConverter* converter) { (void)converter; }
  // 0 to 100.
  virtual void QFXpsConverterDelegate_converterProcess(double percent, QFXpsConverter* converter) {
    (void)percent;
    (void)converter;
  }
  // Exactly one per start. The export object is the written path on completion, else null.
  virtual void QFXpsConverterDelegate_converterEnd(int32_t code, const void* exportObject, QFXpsConverter* converter) {
    (void)code;
    (void)exportObject;
    (void)converter;
  }
};

class QFXpsConverterFormat {
 public:
  // Type 0 is PDF, the only output there is; nullptr for any other.
  static std::shared_ptr<QFXpsConverterFormat> formatWithType(int type);
  int type() const { return type_; }

 private:
  explicit QFXpsConverterFormat(int type) : type_(type) {}
  int type_;
};

// An opened XPS package.
class QFXpsDocument {
 public:
  // The opened document, or nullptr (with the reason in `error`) when the file is not an XPS
  // package that can be read. A package whose zip entries carry data descriptors is re-packed
  // into a private temporary file first; one that cannot be re-packed is read as it is. One with
  // markup libgxps cannot read safely is read from a private copy where it is made safe
  // (XpsMarkup.h).
  static std::shared_ptr<QFXpsDocument> documentWithPath(const std::string& path, std::string* error = nullptr);
  ~QFXpsDocument();
  QFXpsDocument(const QFXpsDocument&) = delete;
  QFXpsDocument& operator=(const QFXpsDocument&) = delete;

  const std::string& path() const { return path_; }
  // Pages over all fixed documents.
  int pageCount() const;

  struct Impl;
  Impl* impl() const { return impl_.get(); }

 private:
  QFXpsDocument(std::string path, std::unique_ptr<Impl> impl);
  std::string path_;
  std::unique_ptr<Impl> impl_;
};

class QFXpsConverterSource {
 public:
  static std::shared_ptr<QFXpsConverterSource> converterSourceWithDocument(std::shared_ptr<QFXpsDocument> document);
  std::shared_ptr<QFXpsDocument> document() const { return document_; }

 private:
  explicit QFXpsConverterSource(std::shared_ptr<QFXpsDocument> d) : document_(std::move(d)) {}
  std::shared_ptr<QFXpsDocument> document_;
};

class QFXpsConverterParam {
 public:
  static std::shared_ptr<QFXpsConverterParam> paramWithFormat(std::shared_ptr<QFXpsConverterFormat> format);

  // Held weakly; the converter keeps it alive while it runs.
  void setDelegate(std::weak_ptr<QFXpsConverterDelegate> delegate);
  std::shared_ptr<QFXpsConverterDelegate> delegate() const;
  void setOutPath(const std::string& path);
  std::string outPath() const;
  void addConverterSource(std::shared_ptr<QFXpsConverterSource> source);
  std::vector<std::shared_ptr<QFXpsConverterSource>> sources() const;
  std::shared_ptr<QFXpsConverterFormat> format() const { return format_; }

 private:
  explicit QFXpsConverterParam(std::shared_ptr<QFXpsConverterFormat> f) : format_(std::move(f)) {}
  mutable std::mutex mutex_;
  std::shared_ptr<QFXpsConverterFormat> format_;
  std::weak_ptr<QFXpsConverterDelegate> delegate_;
  std::string outPath_;
  std::vector<std::shared_ptr<QFXpsConverterSource>> sources_;
};

class QFXpsConverter : public std::enable_shared_from_this<QFXpsConverter> {
 public:
  static std::shared_ptr<QFXpsConverter> converterWithParam(std::shared_ptr<QFXpsConverterParam> param);
  // A running conversion holds its converter; a converter released elsewhere has ended.
  ~QFXpsConverter();
  QFXpsConverter(const QFXpsConverter&) = delete;
  QFXpsConverter& operator=(const QFXpsConverter&) = delete;

  // Starts the conversion and returns at once; false when one was started already.
  bool start();
  // The conversion ends soon with QFXpsConverterEndCancelled; nothing is left at the out path.
  void cancel();
  // Waits for a started conversion's end.
  void wait();
  // Why the last conversion failed; empty after success.
  std::string errorInfo() const;

 private:
  explicit QFXpsConverter(std::shared_ptr<QFXpsConverterParam> param) : param_(std::move(param)) {}
  int32_t convert(QFXpsConverterDelegate* delegate, std::string* error);

  std::shared_ptr<QFXpsConverterParam> param_;
  std::atomic<bool> cancelled_{false};
  mutable std::mutex mutex_;
  std::shared_ptr<foundation::Worker> worker_;
  bool started_ = false;
  std::string errorInfo_;
};

}  // namespace xpskit
