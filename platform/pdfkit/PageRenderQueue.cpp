#include "platform/pdfkit/PageRenderQueue.h"

#include <poppler-qt6.h>

#include "platform/foundation/worker_threads.h"
#include "platform/pdfkit/PDFDocument.h"

namespace pdfkit {

PageRenderQueue::PageRenderQueue(QString path)
    : path_(std::move(path)),
      worker_(foundation::WorkerThreads::startService("page render", [this] { run(); }, [this] { stop(); })) {}

PageRenderQueue::~PageRenderQueue() {
  stop();
  if (worker_) worker_->join();
}

void PageRenderQueue::stop() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
    jobs_.clear();
  }
  abort_ = true;
  cv_.notify_all();
}

void PageRenderQueue::request(int index, double scale, int extraRotation, Done done, int width, QRect region) {
  {
    std::lock_guard lock(mutex_);
    jobs_.push_back(Job{index, scale, extraRotation, width, region, std::move(done)});
  }
  cv_.notify_one();
}

void PageRenderQueue::clear() {
  std::lock_guard lock(mutex_);
  jobs_.clear();
}

std::size_t PageRenderQueue::pending() const {
  std::lock_guard lock(mutex_);
  return jobs_.size();
}

void PageRenderQueue::run() {
  std::unique_ptr<Poppler::Document> doc;
  bool loaded = false;
  for (;;) {
    Job job;
    {
      std::unique_lock lock(mutex_);
      cv_.wait(lock, [this] { return stop_ || !jobs_.empty(); });
      if (stop_) return;
      job = std::move(jobs_.back());
      jobs_.pop_back();
    }
    if (!loaded) {
      doc = PDFDocument::loadPoppler(path_);
      loaded = true;
      if (abort_.load()) return;
    }
    QImage image;
    if (doc && job.index >= 0 && job.index < doc->numPages()) {
      double scale = job.scale;
      if (job.width > 0) {
        if (auto page = doc->page(job.index)) {
          QSizeF s = page->pageSizeF();
          if (job.rotation % 180 != 0) s.transpose();
          if (s.width() > 0) scale = job.width / s.width();
        }
      }
      image = PDFDocument::renderPage(*doc, job.index, scale, job.rotation, job.region, &abort_);
    }
    if (abort_.load()) return;
    job.done(std::move(image));
  }
}

}  // namespace pdfkit
