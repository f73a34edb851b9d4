// Child process control.
#include "state/process.h"

#include <signal.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "framework/trace.h"
#include "state/globals.h"

// The trace unit keeps the name administrators know from the guide and put
// in QVD_TRACE: child process control belongs to the collector core.
QVD_TRACE_UNIT("core/process");

extern char** environ;

namespace {

// The child's environment: the collector's, with kCollectorPidVariable set
// to this process's id (an inherited value replaced).  Built before the
// fork: between fork and exec the child may only make async-signal-safe
// calls.
class ChildEnvironment {
 public:
  ChildEnvironment() {
    const size_t nameLength = strlen(kCollectorPidVariable);
    for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
      if (strncmp(*entry, kCollectorPidVariable, nameLength) == 0 && (*entry)[nameLength] == '=')
        continue;
      pointers_.push_back(*entry);
    }
    own_ = std::string(kCollectorPidVariable) + "=" + std::to_string(static_cast<long>(getpid()));
    pointers_.push_back(&own_[0]);
    pointers_.push_back(nullptr);
  }
  char* const* get() { return pointers_.data(); }

 private:
  std::string own_;
  std::vector<char*> pointers_;
};

}  // namespace

bool startProcess(const char* program, long* pid, void* unused) {
  (void)unused;
  QVD_ENTRY();
  long child_id = -1;
  bool ok = true;

  // Collect every child that has ended since the last launch.
  while (waitpid(-1, nullptr, WNOHANG) > 0) {
  }

  char path[292];
  int length = std::snprintf(path, sizeof path, "%s/%s/vd/bin/%s", halcyon_home ? halcyon_home : "",
                             binArch ? binArch : "", program ? program : "");
  if (length < 0 || static_cast<size_t>(length) >= sizeof path) {
    // A cut path would run some other program, or none.
    QVD_ERROR("Error: path of program %s is longer than %d bytes, not started", program ? program : "",
              static_cast<int>(sizeof path) - 1);
    if (pid != nullptr) *pid = -1;
    QVD_EXIT(false);
    return false;
  }
  QVD_ALWAYS("Starting process:%s", path);

  // Decide before forking whether the child may trace: after fork only this
  // thread exists in the child, and the trace facility keeps that safe.
  bool trace_errors = QVD_TRACE_ON(TRACE_ERROR);
  ChildEnvironment environment;
  char* const argv[] = {const_cast<char*>(program), nullptr};
  pid_t forked = fork();
  if (forked < 0) {
    QVD_ERROR("Error: fork failed: errno=%d", errno);
    ok = false;
  } else if (forked == 0) {
    // The collector ignores SIGPIPE, and an ignored signal stays ignored
    // across exec: the program gets the default it expects.
    struct sigaction dfl;
    memset(&dfl, 0, sizeof dfl);
    dfl.sa_handler = SIG_DFL;
    sigemptyset(&dfl.sa_mask);
    sigaction(SIGPIPE, &dfl, nullptr);
    // The path holds a slash: no search, as execlp would do with it.
    execve(path, argv, environment.get());
    int err = errno;
    if (trace_errors)
      TracePrintf(&qvd_trace_unit, TRACE_ERROR, __LINE__, "Error: EXEC %s failed: errno=%d", path,
                  err);
    _exit(127);
  } else {
    child_id = forked;
    QVD_DETAIL("Parent side with childPID is %d", static_cast<int>(forked));
    QVD_DETAIL("Child process <%s> started successfully", program);
  }
  if (pid != nullptr) *pid = child_id;
  QVD_EXIT(ok);
  return ok;
}

int qvd_msleep(unsigned long milliseconds) {
  struct timespec req;
  req.tv_sec = static_cast<time_t>(milliseconds / 1000);
  req.tv_nsec = static_cast<long>((milliseconds % 1000) * 1000000L);
  return nanosleep(&req, nullptr);
}
