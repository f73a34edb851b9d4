#include "addin/addin_stop.h"

#include <chrono>
#include <condition_variable>
#include <mutex>

#include "state/globals.h"

namespace {

std::mutex g_mutex;
std::condition_variable g_wake;
bool g_stop = false;  // guarded by g_mutex

}  // namespace

bool addInStopping() {
  if (qvdShutdown || addInShutdown != 0) return true;
  std::lock_guard<std::mutex> lock(g_mutex);
  return g_stop;
}

bool addInSleep(unsigned seconds) {
  std::unique_lock<std::mutex> lock(g_mutex);
  return !g_wake.wait_for(lock, std::chrono::seconds(seconds), [] { return g_stop; });
}

void requestAddInStop() {
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_stop = true;
  }
  g_wake.notify_all();
}
