#include "agentside/collector_process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <sstream>
#include <thread>

#include "agentside/file_text.h"

extern char** environ;

namespace agentside {

std::vector<std::string> BuildEnvironment(bool clean, int port,
                                          const std::vector<std::pair<std::string, std::string>>& sets,
                                          const std::vector<std::string>& unsets) {
  // Keyed by name, but keeping the order of first appearance so that the
  // collector sees a stable environment.
  std::vector<std::pair<std::string, std::string>> env;
  auto put = [&env](const std::string& name, const std::string& value) {
    for (auto& e : env)
      if (e.first == name) {
        e.second = value;
        return;
      }
    env.emplace_back(name, value);
  };
  if (!clean) {
    for (char** e = environ; e && *e; ++e) {
      const char* eq = strchr(*e, '=');
      if (eq) put(std::string(*e, eq - *e), eq + 1);
    }
  }
  put("CP_PORT", std::to_string(port));
  for (const auto& s : sets) put(s.first, s.second);
  std::vector<std::string> out;
  for (const auto& e : env) {
    bool removed = false;
    for (const auto& u : unsets) removed = removed || u == e.first;
    if (!removed) out.push_back(e.first + "=" + e.second);
  }
  return out;
}

bool ReadEnvFile(const std::string& path, std::vector<std::pair<std::string, std::string>>* sets,
                 std::string* error) {
  std::string text;
  if (!ReadFileText(path, &text)) {
    *error = "cannot read env file " + path;
    return false;
  }
  std::istringstream in(text);
  std::string line;
  int lineNo = 0;
  while (std::getline(in, line)) {
    ++lineNo;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    size_t first = line.find_first_not_of(" \t");
    if (first == std::string::npos || line[first] == '#') continue;
    size_t eq = line.find('=');
    if (eq == std::string::npos || eq == 0) {
      *error = path + ":" + std::to_string(lineNo) + ": expected NAME=VALUE";
      return false;
    }
    sets->emplace_back(line.substr(0, eq), line.substr(eq + 1));
  }
  return true;
}

CollectorProcess::~CollectorProcess() {
  if (pid_ > 0 && !ended_) {
    kill(pid_, SIGKILL);
    int st = 0;
    waitpid(pid_, &st, 0);
  }
}

bool CollectorProcess::Start(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                             const std::string& outputFile, std::string* error, const StartOptions& options) {
  if (argv.empty()) {
    *error = "no collector command";
    return false;
  }
  // Everything the child needs is prepared before fork: after fork only
  // async-signal-safe calls are made.
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  std::vector<char*> envp;
  for (const auto& e : env) envp.push_back(const_cast<char*>(e.c_str()));
  envp.push_back(nullptr);
  int outFd = -1;
  if (!outputFile.empty()) {
    outFd = open(outputFile.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (outFd < 0) {
      *error = "cannot open " + outputFile + ": " + strerror(errno);
      return false;
    }
  }
  // The child reports a failed exec through this pipe; a successful exec
  // closes it (O_CLOEXEC) and the parent reads end-of-file.
  int pipeFds[2];
  if (pipe2(pipeFds, O_CLOEXEC) != 0) {
    *error = std::string("pipe: ") + strerror(errno);
    if (outFd >= 0) close(outFd);
    return false;
  }
  const pid_t parent = getpid();
  pid_t pid = fork();
  if (pid < 0) {
    *error = std::string("fork: ") + strerror(errno);
    close(pipeFds[0]);
    close(pipeFds[1]);
    if (outFd >= 0) close(outFd);
    return false;
  }
  if (pid == 0) {
    close(pipeFds[0]);
    if (options.defaultSignals) {
      sigset_t none;
      sigemptyset(&none);
      sigprocmask(SIG_SETMASK, &none, nullptr);
      for (int sig : {SIGPIPE, SIGTERM, SIGINT, SIGHUP}) ::signal(sig, SIG_DFL);
    }
    if (options.parentDeathSignal != 0) {
      prctl(PR_SET_PDEATHSIG, options.parentDeathSignal);
      // The parent may have gone before the request took effect.
      if (getppid() != parent) _exit(127);
    }
    if (outFd >= 0) {
      dup2(outFd, 1);
      dup2(outFd, 2);
    } else {
      dup2(2, 1);
    }
    // execvpe searches PATH of the caller's own environment.
    execvpe(args[0], args.data(), envp.data());
    int err = errno;
    ssize_t ignored = write(pipeFds[1], &err, sizeof err);
    (void)ignored;
    _exit(127);
  }
  close(pipeFds[1]);
  if (outFd >= 0) close(outFd);
  int childErr = 0;
  ssize_t n;
  do {
    n = read(pipeFds[0], &childErr, sizeof childErr);
  } while (n < 0 && errno == EINTR);
  close(pipeFds[0]);
  pid_ = pid;
  if (n == static_cast<ssize_t>(sizeof childErr)) {
    int st = 0;
    waitpid(pid, &st, 0);
    ended_ = true;
    status_ = 127;
    *error = "cannot start " + argv[0] + ": " + strerror(childErr);
    return false;
  }
  return true;
}

bool CollectorProcess::Poll() {
  if (pid_ <= 0) return true;
  if (ended_) return true;
  int st = 0;
  pid_t r = waitpid(pid_, &st, WNOHANG);
  if (r == pid_) {
    ended_ = true;
    if (WIFEXITED(st)) status_ = WEXITSTATUS(st);
    else if (WIFSIGNALED(st)) signal_ = WTERMSIG(st);
  } else if (r < 0 && errno == ECHILD) {
    ended_ = true;
  }
  return ended_;
}

void CollectorProcess::Stop(double graceSeconds) {
  if (pid_ <= 0 || Poll()) return;
  killed_ = true;
  kill(pid_, SIGTERM);
  auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(graceSeconds);
  while (std::chrono::steady_clock::now() < deadline) {
    if (Poll()) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  kill(pid_, SIGKILL);
  while (!Poll()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
}

long ResidentKb(pid_t pid) {
  std::string text;
  if (!ReadFileText("/proc/" + std::to_string(pid) + "/status", &text)) return -1;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    if (line.compare(0, 6, "VmRSS:") == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
  }
  return -1;
}

}  // namespace agentside
