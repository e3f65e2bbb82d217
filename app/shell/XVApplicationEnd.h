#pragma once
// The end of the application once its event loop has returned: the loads stop, every worker
// thread is joined within the quit wait, then the singletons go and the settings are synced,
// all before the application object is destroyed.

#include <chrono>

// Stops the loads (the running modules are asked to stop) and waits until `deadline` for every
// worker thread. Answers `status` once they have all ended and the singletons are released.
// When one still runs at the deadline (a DjVu conversion cannot be stopped), the settings are
// synced and the process ends at once with `status`, without running destructors beneath it;
// what that conversion was writing is swept from the cache at the next start.
int XVEndApplication(int status, std::chrono::steady_clock::time_point deadline);
