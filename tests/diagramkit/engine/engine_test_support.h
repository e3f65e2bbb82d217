#pragma once
// Runs conversions and reads their PDFs with Poppler.

#include <poppler/cpp/poppler-document.h>
#include <poppler/cpp/poppler-page.h>

#include <chrono>
#include <cstring>
#include <cstdio>
#include <functional>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "diagramkit/engine/SVG2PDF.h"
#include "platform/foundation/dispatcher.h"
#include "platform/foundation/notification_center.h"

namespace enginetest {

struct PdfPage {
  double width = 0;
  double height = 0;
  std::string text;
};

// The pages of a PDF (media box and text), or nothing when Poppler cannot open it.
inline std::optional<std::vector<PdfPage>> readPdf(const std::filesystem::path& path) {
  std::unique_ptr<poppler::document> doc(poppler::document::load_from_file(path.string()));
  if (!doc) return std::nullopt;
  std::vector<PdfPage> pages;
  for (int i = 0; i < doc->pages(); ++i) {
    std::unique_ptr<poppler::page> page(doc->create_page(i));
    if (!page) return std::nullopt;
    const poppler::rectf box = page->page_rect(poppler::media_box);
    const poppler::byte_array utf8 = page->text().to_utf8();
    pages.push_back({box.width(), box.height(), std::string(utf8.begin(), utf8.end())});
  }
  return pages;
}

// What `command` (run by the shell) prints on its standard output.
inline std::string commandOutput(const std::string& command) {
  std::string out;
  if (std::FILE* p = ::popen(command.c_str(), "r")) {
    char buf[4096];
    for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
    ::pclose(p);
  }
  return out;
}

// A path as one shell word.
inline std::string shellQuoted(const std::filesystem::path& path) {
  std::string out = "'";
  for (char c : path.string()) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

// The words pdftotext reads from a PDF, in its order.
inline std::vector<std::string> pdfWords(const std::filesystem::path& pdf) {
  const std::string html = commandOutput("pdftotext -bbox " + shellQuoted(pdf) + " - 2>/dev/null");
  static const std::regex word(R"re(<word [^>]*>([^<]*)</word>)re");
  std::vector<std::string> words;
  for (auto it = std::sregex_iterator(html.begin(), html.end(), word); it != std::sregex_iterator(); ++it) {
    std::string w = (*it)[1];
    for (const auto& [entity, c] : {std::pair{"&lt;", "<"}, {"&gt;", ">"}, {"&quot;", "\""}, {"&apos;", "'"}, {"&amp;", "&"}}) {
      for (std::size_t at; (at = w.find(entity)) != std::string::npos;) w.replace(at, std::strlen(entity), c);
    }
    words.push_back(w);
  }
  return words;
}

struct Event {
  std::string name;
  int number = -1;  // the user-info count, -1 without one
  std::thread::id thread;
};

// One conversion started on a worker thread (the load thread); the test thread drains the
// main queue until the end notification.
struct Conversion {
  std::vector<Event> events;
  std::thread::id worker;
  std::filesystem::path workFolder;
  bool ended = false;
};

// `afterLoad` runs once createPDF() has returned, before any page is printed.
inline Conversion convert(const std::filesystem::path& src, const std::filesystem::path& out,
                          const std::function<void(const Conversion&)>& afterLoad = {}) {
  static int callerTag = 0;
  const void* caller = &callerTag;
  Conversion result;
  std::mutex mutex;
  auto record = [&](const foundation::Notification& n, const std::string& key) {
    std::lock_guard<std::mutex> lock(mutex);
    const int* v = key.empty() ? nullptr : n.value<int>(key);
    result.events.push_back({n.name, v != nullptr ? *v : -1, std::this_thread::get_id()});
    if (n.name == END_VSD_FILE_NOTI) result.ended = true;
  };
  auto& center = foundation::NotificationCenter::defaultCenter();
  auto t1 = center.addObserver(VSD_ALL_PAGE_NOTI, caller, [&](auto& n) { record(n, VSD_ALL_PAGE_NUM); });
  auto t2 = center.addObserver(END_VSD_PAGE_NOTI, caller, [&](auto& n) { record(n, END_VSD_PAGE_NUM); });
  auto t3 = center.addObserver(END_VSD_FILE_NOTI, caller, [&](auto& n) { record(n, ""); });
  foundation::Dispatcher::drainMain();  // the test thread is the main thread
  std::thread worker([&] {
    // The creator drops its reference at once: the converter must keep itself alive.
    auto converter = SVG2PDF::initWithSrc(src, out, caller);
    {
      std::lock_guard<std::mutex> lock(mutex);
      result.workFolder = converter->tempPath();
    }
    converter->createPDF();
  });
  result.worker = worker.get_id();
  worker.join();
  if (afterLoad) afterLoad(result);
  foundation::Dispatcher::runMainUntil(
      [&] {
        std::lock_guard<std::mutex> lock(mutex);
        return result.ended;
      },
      std::chrono::seconds(60));
  foundation::Dispatcher::drainMain();
  return result;
}

// Whether a conversion kept its promises: it ended once, left no work folder, and wrote `out`
// exactly when it reached the last page it announced, with that many pages.
inline bool convertedSoundly(const Conversion& c, const std::filesystem::path& out) {
  if (!c.ended) return false;
  if (!c.workFolder.empty() && std::filesystem::exists(c.workFolder)) return false;
  int announced = -1, last = -1;
  for (const auto& e : c.events) {
    if (e.name == VSD_ALL_PAGE_NOTI) announced = e.number;
    if (e.name == END_VSD_PAGE_NOTI) last = e.number;
  }
  const bool complete = announced > 0 && last == announced;
  if (std::filesystem::exists(out) != complete) return false;
  if (!complete) return true;
  const auto pages = readPdf(out);
  return pages && static_cast<int>(pages->size()) == announced;
}

}  // namespace enginetest
