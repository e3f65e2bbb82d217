#pragma once
// The engine's one long-lived render thread: page rendering runs here, off the main queue, so
// a heavy page never holds up the thread that shows the window.

#include <functional>

namespace diagramkit {

// Queues `task` to run on the render thread, after every task queued before it. The thread
// starts on first use and lives as long as the process.
void postRender(std::function<void()> task);

// Yes on the render thread.
bool isRenderThread();

}  // namespace diagramkit
