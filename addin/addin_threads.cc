#include "addin/addin_threads.h"

#include <pthread.h>

#include <chrono>
#include <clocale>
#include <condition_variable>
#include <mutex>

#include "addin/addin_stop.h"
#include "addin/event_collector.h"
#include "addin/mv_configure.h"
#include "addin/server_socket.h"
#include "framework/services.h"
#include "framework/trace.h"

QVD_TRACE_UNIT("addin/threads");

namespace {

// Never destroyed: the exit handler and the threads use them while static
// objects are being destroyed.
struct State {
  std::mutex mutex;
  std::condition_variable changed;
  int running = 0;    // add-in threads that have not ended
  int attempts = 0;   // attempts inside the server API
  ServerSocket* server = nullptr;
};
State& state() {
  static State* s = new State();
  return *s;
}

void applyLocale() {
  setlocale(LC_ALL, "");
  setlocale(LC_NUMERIC, "C");
  setlocale(LC_CTYPE, "C");
  const char* now = setlocale(LC_ALL, nullptr);
  QVD_DETAIL("locale from the environment, numbers and character classes in the C form: %s",
             now != nullptr ? now : "(unknown)");
}

}  // namespace

// Counted by startAddInThreads before the thread is created, so that a
// stop right after start-up waits for it too.
AddInThreadScope::AddInThreadScope() {}

AddInThreadScope::~AddInThreadScope() {
  std::lock_guard<std::mutex> lock(state().mutex);
  --state().running;
  state().changed.notify_all();
}

AddInAttempt::AddInAttempt() {
  std::lock_guard<std::mutex> lock(state().mutex);
  ++state().attempts;
}

AddInAttempt::~AddInAttempt() {
  std::lock_guard<std::mutex> lock(state().mutex);
  --state().attempts;
  state().changed.notify_all();
}

void setAddInEventServer(ServerSocket* server) {
  std::lock_guard<std::mutex> lock(state().mutex);
  state().server = server;
}

bool stopAddInThreads(const struct timespec& deadline) {
  requestAddInStop();
  std::unique_lock<std::mutex> lock(state().mutex);
  if (state().server != nullptr) state().server->shutdownConnections();
  struct timespec now;
  TimeGet(&now);
  auto left = std::chrono::seconds(deadline.tv_sec - now.tv_sec) +
              std::chrono::nanoseconds(deadline.tv_nsec - now.tv_nsec);
  if (left < std::chrono::nanoseconds(0)) left = std::chrono::nanoseconds(0);
  // std::condition_variable waits on the steady clock, which does not jump
  // either.
  bool ended = state().changed.wait_for(lock, left, [] { return state().running == 0; });
  if (!ended) {
    QVD_ERROR("add-in threads still running (%d, %d inside the server API)", state().running,
              state().attempts);
  }
  return ended;
}

int startAddInThreads(const char** threadName) {
  *threadName = nullptr;
  applyLocale();
  struct Entry {
    const char* name;
    void* (*entry)(void*);
  } const kThreads[] = {{"MVConfigure", MVConfigure}, {"collectMVEvents", collectMVEvents}};
  for (const Entry& t : kThreads) {
    pthread_t thread;
    {
      std::lock_guard<std::mutex> lock(state().mutex);
      ++state().running;
    }
    int rc = pthread_create(&thread, nullptr, t.entry, nullptr);
    if (rc != 0) {
      std::lock_guard<std::mutex> lock(state().mutex);
      --state().running;
      *threadName = t.name;
      return rc;
    }
    pthread_detach(thread);
  }
  return 0;
}
