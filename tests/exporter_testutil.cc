#include "exporter_testutil.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

namespace e2e {

namespace {

std::string Env(const char* name, const char* fallback) {
  const char* v = getenv(name);
  return v ? v : fallback;
}

double Now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// Pointers to the strings of `list`, null-terminated, for exec.
std::vector<char*> CStrings(const std::vector<std::string>& list) {
  std::vector<char*> out;
  for (const std::string& s : list) out.push_back(const_cast<char*>(s.c_str()));
  out.push_back(nullptr);
  return out;
}

// Runs argv (searched in PATH) in `environment`, or in this process's
// environment when it is empty.  Only for a child process, after fork.
[[noreturn]] void Exec(const std::vector<char*>& args, const std::vector<char*>& envp) {
  if (envp.size() > 1) {
    execvpe(args[0], args.data(), envp.data());
  } else {
    execvp(args[0], args.data());
  }
  _exit(127);
}

// Starts argv with stdout and stderr appended to `logFile` (stdin from
// /dev/null) in `environment` (see Exec); returns the pid.
pid_t Spawn(const std::vector<std::string>& argv, const std::string& logFile,
            const std::vector<std::string>& environment = {}) {
  std::vector<char*> args = CStrings(argv), envp = CStrings(environment);
  pid_t pid = fork();
  if (pid == 0) {
    int in = open("/dev/null", O_RDONLY);
    int out = open(logFile.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    dup2(in, 0);
    dup2(out, 1);
    dup2(out, 2);
    Exec(args, envp);
  }
  return pid;
}

// Waits for `pid` at most `seconds`; SIGKILL after.  Returns the exit
// status, or -1 when it had to be killed or ended by a signal.
int Reap(pid_t pid, double seconds) {
  double deadline = Now() + seconds;
  int st = 0;
  for (;;) {
    pid_t r = waitpid(pid, &st, WNOHANG);
    if (r == pid) return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    if (r < 0) return -1;
    if (Now() >= deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, &st, 0);
      return -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

std::string UrlEncode(const std::string& s) {
  std::string out;
  for (unsigned char c : s) {
    if (isalnum(c) || c == '-' || c == '_' || c == '.' || c == '~') {
      out += static_cast<char>(c);
    } else {
      char buf[4];
      snprintf(buf, sizeof buf, "%%%02X", c);
      out += buf;
    }
  }
  return out;
}

}  // namespace

int ConnectLoopback(int port) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(static_cast<uint16_t>(port));
  if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

int HttpGet(int port, const std::string& path, std::string* body, double seconds, const std::string& extraHeaders) {
  int fd = ConnectLoopback(port);
  if (fd < 0) return -1;
  timeval tv{static_cast<time_t>(seconds), static_cast<suseconds_t>((seconds - static_cast<long>(seconds)) * 1e6)};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
  std::string request = "GET " + path + " HTTP/1.0\r\nHost: 127.0.0.1\r\n" + extraHeaders + "\r\n";
  send(fd, request.data(), request.size(), MSG_NOSIGNAL);
  std::string response;
  char buf[65536];
  double deadline = Now() + seconds;
  for (;;) {
    ssize_t n = recv(fd, buf, sizeof buf, 0);
    if (n > 0) {
      response.append(buf, static_cast<size_t>(n));
      continue;
    }
    if (n < 0 && errno == EINTR && Now() < deadline) continue;
    break;
  }
  close(fd);
  size_t sp = response.find(' ');
  if (response.compare(0, 5, "HTTP/") != 0 || sp == std::string::npos) return -1;
  size_t head = response.find("\r\n\r\n");
  if (body) *body = head == std::string::npos ? "" : response.substr(head + 4);
  return std::atoi(response.c_str() + sp + 1);
}

bool WaitUntil(const std::function<bool()>& done, double seconds) {
  double deadline = Now() + seconds;
  for (;;) {
    if (done()) return true;
    if (Now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}

double SampleOf(const std::string& exposition, const std::string& series) {
  size_t brace = series.find('{');
  std::string name = series.substr(0, brace);
  std::vector<std::string> wanted;  // k="v" pieces that the sample's labels must hold
  if (brace != std::string::npos) {
    std::istringstream pieces(series.substr(brace + 1, series.size() - brace - 2));
    for (std::string piece; std::getline(pieces, piece, ',');) wanted.push_back(piece);
  }
  std::istringstream lines(exposition);
  for (std::string line; std::getline(lines, line);) {
    if (line.empty() || line[0] == '#') continue;
    size_t end = line.find_first_of("{ ");
    if (end == std::string::npos || line.compare(0, end, name) != 0 || end != name.size()) continue;
    std::string labels = line[end] == '{' ? line.substr(end, line.rfind('}') - end + 1) : "";
    bool match = true;
    for (const std::string& w : wanted)
      match = match && (labels.find("{" + w + ",") != std::string::npos || labels.find("," + w + ",") != std::string::npos ||
                        labels.find("{" + w + "}") != std::string::npos || labels.find("," + w + "}") != std::string::npos);
    if (match) return std::strtod(line.c_str() + line.rfind(' ') + 1, nullptr);
  }
  return -1;
}

void WriteEnvFile(const std::string& path, const std::map<std::string, std::string>& env) {
  std::ofstream out(path);
  for (const auto& [name, value] : env) out << name << "=" << value << "\n";
}

void CopyExampleModel(const Install& install) {
  std::string src = Env("QVD_SOURCE_DIR", ".") + "/examples/server/";
  install.writeModel("stats.txt", readFile(src + "stats.txt"));
  install.writeModel("server.json", readFile(src + "server.json"));
}

std::vector<std::string> ExporterEnvironment() {
  std::string tsan = Env("TSAN_OPTIONS", "");
  // A later setting wins: the exporter's suppressions file replaces one
  // named earlier.
  tsan += (tsan.empty() ? "" : ":") + std::string("suppressions=") + Env("QVD_SOURCE_DIR", ".") +
          "/qvdexporter/tsan.supp";
  std::vector<std::string> env;
  for (char** e = environ; *e != nullptr; ++e)
    if (std::strncmp(*e, "TSAN_OPTIONS=", 13) != 0) env.push_back(*e);
  env.push_back("TSAN_OPTIONS=" + tsan);
  return env;
}

ExporterProcess::ExporterProcess(const Install& install, const std::vector<std::string>& args) {
  logFile_ = install.root() + "/exporter.log";
  std::vector<std::string> argv = {builtProgram("qvdexporter")};
  argv.insert(argv.end(), args.begin(), args.end());
  pid_ = Spawn(argv, logFile_, ExporterEnvironment());
}

ExporterProcess::~ExporterProcess() { Stop(); }

std::string ExporterProcess::log() const { return readFile(logFile_); }

pid_t ExporterProcess::collectorPid() const {
  std::string text = log();
  size_t at = text.rfind("collector started (pid ");
  return at == std::string::npos ? 0 : static_cast<pid_t>(std::atol(text.c_str() + at + 23));
}

int ExporterProcess::Stop(double seconds) {
  if (pid_ > 0) {
    kill(pid_, SIGTERM);
    status_ = Reap(pid_, seconds);
    pid_ = -1;
  }
  return status_;
}

bool ExporterProcess::running() {
  if (pid_ <= 0) return false;
  int st = 0;
  if (waitpid(pid_, &st, WNOHANG) == pid_) {
    status_ = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    pid_ = -1;
    return false;
  }
  return true;
}

PrometheusServer::PrometheusServer(const Install& install, int targetPort) {
  std::string dir = install.root() + "/prometheus";
  std::string config = install.root() + "/prometheus.yml";
  logFile_ = install.root() + "/prometheus.log";
  std::ofstream(config) << "global:\n  scrape_interval: 1s\n  scrape_timeout: 1s\n  evaluation_interval: 1s\n"
                           "scrape_configs:\n  - job_name: qvdexporter\n    static_configs:\n"
                           "      - targets: ['127.0.0.1:"
                        << targetPort << "']\n";
  for (int attempt = 0; attempt < 3 && pid_ <= 0; ++attempt) {
    port_ = freePort();
    pid_ = Spawn({"prometheus", "--config.file=" + config, "--storage.tsdb.path=" + dir,
                  "--web.listen-address=127.0.0.1:" + std::to_string(port_), "--log.level=warn"},
                 logFile_);
    bool ready = WaitUntil([this] { return HttpGet(port_, "/-/ready", nullptr, 2) == 200; }, 30);
    if (!ready) {
      kill(pid_, SIGTERM);
      Reap(pid_, 10);
      pid_ = -1;
    }
  }
}

PrometheusServer::~PrometheusServer() {
  if (pid_ > 0) {
    kill(pid_, SIGTERM);
    Reap(pid_, 15);
  }
}

nlohmann::json PrometheusServer::Query(const std::string& promql) const {
  std::string body;
  if (HttpGet(port_, "/api/v1/query?query=" + UrlEncode(promql), &body, 10) != 200) return nullptr;
  nlohmann::json j = nlohmann::json::parse(body, nullptr, false);
  if (j.is_discarded() || j.value("status", "") != "success") return nullptr;
  return j["data"]["result"];
}

std::string PrometheusServer::log() const { return readFile(logFile_); }

bool HaveProgram(const std::string& program) {
  std::istringstream path(Env("PATH", "/usr/bin:/bin"));
  for (std::string dir; std::getline(path, dir, ':');)
    if (!dir.empty() && access((dir + "/" + program).c_str(), X_OK) == 0) return true;
  return false;
}

int RunWithInput(const std::vector<std::string>& argv, const std::string& input, std::string* output,
                 std::string* errors, const std::vector<std::string>& environment) {
  char in[] = "/tmp/qvd-e2e-inputXXXXXX";
  int fd = mkstemp(in);
  if (fd < 0) return -1;
  ssize_t ignored = write(fd, input.data(), input.size());
  (void)ignored;
  close(fd);
  std::string out = std::string(in) + ".out", err = std::string(in) + ".err";
  std::vector<char*> args = CStrings(argv), envp = CStrings(environment);
  pid_t pid = fork();
  if (pid == 0) {
    int i = open(in, O_RDONLY);
    int o = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int e = errors ? open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644) : o;
    dup2(i, 0);
    dup2(o, 1);
    dup2(e, 2);
    Exec(args, envp);
  }
  int status = Reap(pid, 60);
  *output = readFile(out);
  if (errors) *errors = readFile(err);
  unlink(in);
  unlink(out.c_str());
  unlink(err.c_str());
  return status;
}

bool ProcessGone(pid_t pid) {
  if (pid <= 0) return true;
  if (kill(pid, 0) != 0 && errno == ESRCH) return true;
  std::string stat = readFile("/proc/" + std::to_string(pid) + "/stat");
  size_t close = stat.rfind(')');
  return close == std::string::npos || (close + 2 < stat.size() && stat[close + 2] == 'Z');
}

}  // namespace e2e
