#pragma once
// Shared by the export tests: a recorder of reports, a source over a document, fixtures.

#include <QGuiApplication>
#include <QString>
#include <QUrl>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <set>
#include <vector>

#include "modules/export/ConverterInterface.h"
#include "modules/export/XVPDFConverter.h"
#include "platform/pdfkit/PDFDocument.h"
#include "support/temp_dir.h"

namespace exporttest {

inline QString q(const std::filesystem::path& p) { return QString::fromStdString(p.string()); }

// What a run reported, in order.
struct Reports {
  std::mutex mutex;
  std::condition_variable changed;
  int starts = 0;
  std::vector<double> progress;
  std::optional<bool> end;
  int ends = 0;
  QList<QUrl> urls;
  bool endCameLast = true;

  void onStart() {
    std::lock_guard lock(mutex);
    starts++;
  }
  void onProgress(double p) {
    std::lock_guard lock(mutex);
    if (ends) endCameLast = false;
    progress.push_back(p);
  }
  void onEnd(bool ok, const QList<QUrl>& u = {}) {
    std::lock_guard lock(mutex);
    end = ok;
    ends++;
    urls = u;
    changed.notify_all();
  }
  bool waitEnd(std::chrono::milliseconds timeout = std::chrono::seconds(60)) {
    std::unique_lock lock(mutex);
    return changed.wait_for(lock, timeout, [this] { return end.has_value(); });
  }
};

struct WorkerRecorder : XVPDFConverterDelegate {
  Reports reports;
  std::function<void(XVPDFConverter*)> onStartHook;
  std::function<void(XVPDFConverter*)> onProgressHook;
  void XVPDFConverterDelegate_Start(XVPDFConverter* c) override {
    reports.onStart();
    if (onStartHook) onStartHook(c);
  }
  void XVPDFConverterDelegate_Progress(double p, XVPDFConverter* c) override {
    reports.onProgress(p);
    if (onProgressHook) onProgressHook(c);
  }
  void XVPDFConverterDelegate_End(bool ok, XVPDFConverter*) override { reports.onEnd(ok); }
};

// The first `count` pages of a document (nullptr pages past its end).
struct DocumentSource : XVPDFConverterSource {
  pdfkit::PDFDocument* document = nullptr;
  quint64 count = 0;
  std::set<quint64> missing;          // pages the source does not give
  std::function<void()> onPageCount;  // runs inside start(), before the thread exists
  quint64 XVPDFConverterSource_pageCount(XVPDFConverter*) override {
    if (onPageCount) onPageCount();
    return count;
  }
  pdfkit::PDFPage* XVPDFConverterSource_pageAtIndex(quint64 index, XVPDFConverter*) override {
    if (!document || missing.contains(index)) return nullptr;
    return document->pageAtIndex(static_cast<int>(index));
  }
};

struct ConverterRecorder : ConverterProgressDelegate {
  Reports reports;
  std::function<void()> onProgressHook;
  std::function<void()> onEndHook;
  void ConverterProgressDelegate_start() override { reports.onStart(); }
  void ConverterProgressDelegate_Progress(double p) override {
    reports.onProgress(p);
    if (onProgressHook) onProgressHook();
  }
  void ConverterProgressDelegate_end(bool ok, const QList<QUrl>& urls) override {
    if (onEndHook) onEndHook();
    reports.onEnd(ok, urls);
  }
};

}  // namespace exporttest
