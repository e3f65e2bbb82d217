#pragma once
// A worker thread that renders pages of one file on its own Poppler document. Requests are
// served newest first (what was asked for last is what is on screen); queued requests can be
// dropped at once. Results are handed to the request's callback on the worker thread.
// Destroying the queue, or the end of the process's worker threads, aborts the render in
// progress; no callback runs after that.

#include <QImage>
#include <QRect>
#include <QString>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

namespace Poppler {
class Document;
}

namespace foundation {
class Worker;
}

namespace pdfkit {

class PageRenderQueue {
 public:
  using Done = std::function<void(QImage)>;

  explicit PageRenderQueue(QString path);
  ~PageRenderQueue();
  PageRenderQueue(const PageRenderQueue&) = delete;
  PageRenderQueue& operator=(const PageRenderQueue&) = delete;

  // Renders page `index` at `scale` with `extraRotation` on top of the file's /Rotate.
  // `width`, when positive, fixes the image width instead (the scale follows from it).
  // A non-empty `region` (pixels of the whole rendered page) renders only that part.
  void request(int index, double scale, int extraRotation, Done done, int width = 0, QRect region = QRect());
  // Drops every request not yet started.
  void clear();
  std::size_t pending() const;

 private:
  struct Job {
    int index;
    double scale;
    int rotation;
    int width;
    QRect region;
    Done done;
  };
  void run();
  void stop();

  QString path_;
  mutable std::mutex mutex_;
  std::condition_variable cv_;
  std::deque<Job> jobs_;
  bool stop_ = false;
  std::atomic<bool> abort_{false};
  std::shared_ptr<foundation::Worker> worker_;  // last: it runs on the members above
};

}  // namespace pdfkit
