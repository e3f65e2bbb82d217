#include "platform/revengekit/ConversionThreads.h"

#include <QThread>

#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#if defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define REVENGEKIT_PLAIN_THREADS 1
#endif
#endif
#if defined(__SANITIZE_THREAD__)
#define REVENGEKIT_PLAIN_THREADS 1
#endif

namespace revengekit {

namespace {

struct Threads {
  std::mutex mutex;
  std::condition_variable idle;
  int running = 0;
  std::vector<QThread*> finished;  // run to their end, still to be joined and deleted
};

Threads& threads() {
  static Threads* t = new Threads;  // outlives every conversion thread
  return *t;
}

// Joins and deletes the threads that have finished.
void reap() {
  std::vector<QThread*> done;
  {
    std::lock_guard lock(threads().mutex);
    done.swap(threads().finished);
  }
  for (QThread* t : done) {
    t->wait();
    delete t;
  }
}

}  // namespace

bool runConversionThread(std::function<void()> work) {
  reap();
  {
    std::lock_guard lock(threads().mutex);
    ++threads().running;
  }
#ifdef REVENGEKIT_PLAIN_THREADS
  // Under ThreadSanitizer: Qt is not instrumented, and joining a QThread reads to it as a race
  // inside Qt. A plain thread runs the same work (Qt then warns that the text layout's timers
  // cannot start, which changes nothing: the printer finishes every layout itself).
  try {
    std::thread([work = std::move(work)]() mutable {
      work();
      work = nullptr;
      std::lock_guard lock(threads().mutex);
      if (--threads().running == 0) threads().idle.notify_all();
    }).detach();
    return true;
  } catch (const std::system_error&) {
    std::lock_guard lock(threads().mutex);
    if (--threads().running == 0) threads().idle.notify_all();
    return false;
  }
#else
  // A QThread, so that the Qt objects a conversion makes (text documents and their layout)
  // find the thread data they expect.
  QThread* thread = QThread::create([work = std::move(work)]() mutable {
    work();
    work = nullptr;  // whatever the work held goes before the thread counts as finished
    Threads& t = threads();
    std::lock_guard lock(t.mutex);
    t.finished.push_back(QThread::currentThread());
    if (--t.running == 0) t.idle.notify_all();
  });
  if (!thread) {
    std::lock_guard lock(threads().mutex);
    if (--threads().running == 0) threads().idle.notify_all();
    return false;
  }
  thread->setObjectName(QStringLiteral("conversion"));
  thread->start();
  return true;
#endif
}

bool waitConversionThreadsIdle(std::chrono::milliseconds timeout) {
  bool idle = false;
  {
    std::unique_lock lock(threads().mutex);
    idle = threads().idle.wait_for(lock, timeout, [] { return threads().running == 0; });
  }
  if (idle) reap();
  return idle;
}

}  // namespace revengekit
