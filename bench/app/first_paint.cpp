// first_paint SETTLE_MS TIMEOUT_MS COMMAND...
//   Starts COMMAND on the X display $DISPLAY and grabs the root window again and again. Once the
//   screen has stayed the same for SETTLE_MS (or TIMEOUT_MS have passed since the start), prints
//     MS_TO_FIRST_CHANGE MS_TO_SETTLED LIBRARIES GRAB_MS
//   the times from the start to the end of the first grab that differs from the screen before the
//   start (the window is up) and of the first grab that shows the settled screen, the shared
//   objects mapped into the process at that point, and the longest time one grab took (how coarse
//   the times are). Then it ends COMMAND (SIGTERM) and waits for it. Fails when the screen never
//   changed from what it was before the start.

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <set>
#include <string>

namespace {

using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point t0) { return std::chrono::duration<double, std::milli>(Clock::now() - t0).count(); }

uint64_t screenHash(Display* display) {
  const Window root = DefaultRootWindow(display);
  XWindowAttributes attributes{};
  XGetWindowAttributes(display, root, &attributes);
  XImage* image = XGetImage(display, root, 0, 0, attributes.width, attributes.height, AllPlanes, ZPixmap);
  if (!image) return 0;
  uint64_t hash = 1469598103934665603ull;
  const auto* bytes = reinterpret_cast<const unsigned char*>(image->data);
  const size_t size = static_cast<size_t>(image->bytes_per_line) * image->height;
  for (size_t i = 0; i < size; ++i) hash = (hash ^ bytes[i]) * 1099511628211ull;
  XDestroyImage(image);
  return hash;
}

int mappedLibraries(pid_t pid) {
  std::ifstream maps("/proc/" + std::to_string(pid) + "/maps");
  std::set<std::string> files;
  for (std::string line; std::getline(maps, line);) {
    const size_t slash = line.find('/');
    if (slash == std::string::npos) continue;
    const std::string path = line.substr(slash);
    if (path.find(".so") != std::string::npos) files.insert(path);
  }
  return static_cast<int>(files.size());
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: first_paint SETTLE_MS TIMEOUT_MS COMMAND...\n");
    return 2;
  }
  const double settleMs = std::atof(argv[1]);
  const double timeoutMs = std::atof(argv[2]);
  Display* display = XOpenDisplay(nullptr);
  if (!display) {
    std::fprintf(stderr, "first_paint: cannot open the display\n");
    return 2;
  }
  const uint64_t before = screenHash(display);

  const Clock::time_point t0 = Clock::now();
  const pid_t pid = fork();
  if (pid == 0) {
    execvp(argv[3], argv + 3);
    _exit(127);
  }

  uint64_t current = before;
  double changedAt = 0;    // end of the grab that first showed `current`
  double firstChange = 0;  // end of the first grab that differed from `before`
  double grabMs = 0;
  int libraries = 0;
  for (;;) {
    const double start = msSince(t0);
    const uint64_t hash = screenHash(display);
    const double end = msSince(t0);
    if (end - start > grabMs) grabMs = end - start;
    if (hash != current) {
      if (current == before && firstChange == 0) firstChange = end;
      current = hash;
      changedAt = end;
      libraries = mappedLibraries(pid);
    }
    if (end - changedAt >= settleMs && current != before) break;
    if (end >= timeoutMs) break;
    int status = 0;
    if (waitpid(pid, &status, WNOHANG) == pid) {
      std::fprintf(stderr, "first_paint: %s ended before the screen settled\n", argv[3]);
      return 1;
    }
    usleep(2000);
  }
  kill(pid, SIGTERM);
  waitpid(pid, nullptr, 0);
  XCloseDisplay(display);
  if (current == before) {
    std::fprintf(stderr, "first_paint: nothing was painted within %.0f ms\n", timeoutMs);
    return 1;
  }
  std::printf("%.1f %.1f %d %.1f\n", firstChange, changedAt, libraries, grabMs);
  return 0;
}
