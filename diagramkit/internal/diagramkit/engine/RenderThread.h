#pragma once
// The engine's one long-lived render thread: page rendering runs here, off the main queue, so
// a heavy page never holds up the thread that shows the window.

#include <functional>

namespace diagramkit {

// Queues `task` to run on the render thread, after every task queued before it; every task
// queued runs. The thread starts on first use and runs until the process ends its worker
// threads; false (and `task` dropped) after that, or when no thread could be made.
bool postRender(std::function<void()> task);

// Yes on the render thread.
bool isRenderThread();

}  // namespace diagramkit
