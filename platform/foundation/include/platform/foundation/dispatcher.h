#pragma once
// The main queue and background work.
//
// postMain() appends to one FIFO queue that runs on the main thread, in posting order.
// The application binds the queue to its event loop with bindMainExecutor(); a program
// without an event loop (a tool, a test) calls drainMain() or runMainUntil() on the thread
// it treats as main.

#include <chrono>
#include <cstddef>
#include <functional>

#include "platform/foundation/export.h"

namespace foundation {

using Task = std::function<void()>;

class FOUNDATION_EXPORT Dispatcher {
 public:
  // Queues `task` to run on the main thread, after every task posted before it.
  static void postMain(Task task);

  // `wake` is called (from any thread) whenever tasks are waiting; it must arrange for
  // drainMain() to be called soon on the main thread (the app queues a call into its event
  // loop). The calling thread becomes the main thread. Pass nullptr to unbind.
  static void bindMainExecutor(std::function<void()> wake);

  // Runs every task queued so far (and those they queue) on the calling thread, which
  // becomes the main thread. Returns how many ran.
  static std::size_t drainMain();

  // Drains the main queue on the calling thread until `done()` answers true or `timeout`
  // passes; answers done().
  static bool runMainUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout);

  // Yes on the thread that last bound or drained the main queue.
  static bool isMainThread();

  // Runs `task` on a background worker thread (a small shared pool). Once the worker threads
  // have been shut down (the process is ending), the task is dropped.
  static void postBackground(Task task);

  // Waits until the background pool has no queued or running task, or `timeout` passes.
  static bool waitBackgroundIdle(std::chrono::milliseconds timeout);
};

}  // namespace foundation
