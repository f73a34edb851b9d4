#include "e2e_testutil.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <grp.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

namespace e2e {

namespace {

std::string envOr(const char* name, const char* fallback) {
  const char* value = getenv(name);
  return value != nullptr ? value : fallback;
}

void makeDirs(const std::string& path) {
  for (size_t pos = 1; pos != std::string::npos;) {
    pos = path.find('/', pos + 1);
    mkdir(path.substr(0, pos).c_str(), 0755);
  }
}

void writeFile(const std::string& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
}

void removeTree(const std::string& path) {
  pid_t pid = fork();
  if (pid == 0) {
    execlp("rm", "rm", "-rf", path.c_str(), (char*)nullptr);
    _exit(127);
  }
  if (pid > 0) waitpid(pid, nullptr, 0);
}

}  // namespace

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

Install::Install() {
  std::string base = envOr("TMPDIR", "/tmp") + "/qvd-e2e-XXXXXX";
  std::vector<char> name(base.begin(), base.end());
  name.push_back('\0');
  root_ = mkdtemp(name.data()) ? name.data() : "";
  makeDirs(binDir());
  makeDirs(home() + "/config");
  makeDirs(iniDir());
  makeDirs(modelDir());
  writeFile(iniDir() + "/vaxel.ini", "[Vaxel]\nTRANSLOG_STATUS=0\nPREVIOUS_TRANSLOG_STATUS=0\n");
  writeFile(binDir() + "/qvdstart.sh", "#!/bin/sh\n");
}

Install::~Install() {
  if (!root_.empty() && getenv("QVD_E2E_KEEP") == nullptr) removeTree(root_);
}

std::string Install::statusFile() const {
  return binDir() + "/qvd_" + instance() + "_status.out";
}

void Install::writeModel(const std::string& name, const std::string& content) const {
  std::string path = modelDir() + "/" + name;
  makeDirs(path.substr(0, path.rfind('/')));
  writeFile(path, content);
}

std::map<std::string, std::string> Install::env() const {
  return {
      {"QVD_SERVER", "srv1/acme"},
      {"QVD_VAXELINIPATH", iniDir()},
      {"HALCYONHOME", home()},
      {"QVD_BINARCH", arch()},
      {"QVD_INSTANCE_NAME", instance()},
      {"VAXEL_SIM_DIR", modelDir()},
      {"QVD_TRACE", "error,core=detail"},
      {"QVD_TRACE_FILE", traceFile()},
  };
}

int Session::collectorStatus() const {
  for (const Json& e : events)
    if (e.value("type", "") == "exit" && e.contains("status") && !e.value("killed", false))
      return e["status"].get<int>();
  return -1;
}

std::vector<Json> Session::ofType(const std::string& type) const {
  std::vector<Json> out;
  for (const Json& e : events)
    if (e.value("type", "") == type) out.push_back(e);
  return out;
}

std::vector<std::string> Session::registeredGroups() const {
  std::vector<std::string> out;
  for (const Json& reg : ofType("registration"))
    for (const Json& g : reg["groups"]) out.push_back(g["name"].get<std::string>());
  return out;
}

int Session::registeredVersion(const std::string& group) const {
  for (const Json& reg : ofType("registration"))
    for (const Json& g : reg["groups"])
      if (g["name"] == group) return g["version"].get<int>();
  return -1;
}

std::vector<Json> Session::answers(const std::string& group) const {
  std::vector<Json> out;
  for (const Json& e : ofType("data"))
    if (e["group"] == group) out.push_back(e);
  return out;
}

Json Session::answer(const std::string& id) const {
  for (const Json& e : ofType("data"))
    if (e["id"] == id) return e;
  return nullptr;
}

bool Session::traced(const std::string& text) const { return trace.find(text) != std::string::npos; }

std::string Session::problems() const {
  std::string out = "agentsim status " + std::to_string(agentsimStatus) + "\n";
  for (const Json& e : events) {
    std::string type = e.value("type", "");
    if (type == "violation" || type == "expect-failed" || type == "summary" || type == "exit")
      out += e.dump() + "\n";
  }
  return out;
}

Session runSession(const Install& install, const std::map<std::string, std::string>& env,
                   const std::vector<std::string>& script, const std::string& end,
                   const std::vector<std::string>& extraArgs, const std::string& collector) {
  // Tests may run sessions from several threads at once.
  static std::atomic<int> counter{0};
  std::string stem = install.root() + "/session" + std::to_string(++counter);
  std::string scriptFile = stem + ".script";
  std::string envFile = stem + ".env";
  std::string reportFile = stem + ".json";
  std::string outputFile = stem + ".out";

  std::string scriptText;
  for (const std::string& line : script) scriptText += line + "\n";
  writeFile(scriptFile, scriptText);
  std::string envText;
  for (const auto& [name, value] : env) envText += name + "=" + value + "\n";
  // The mark of this suite's processes (tests/no_leftover_processes.sh):
  // the collector and the relay it starts carry it too.
  if (const char* mark = getenv("QVD_TEST_SUITE"))
    if (env.count("QVD_TEST_SUITE") == 0) envText += std::string("QVD_TEST_SUITE=") + mark + "\n";
  writeFile(envFile, envText);

  std::string bin = builtBinDir();
  std::vector<std::string> args = {bin + "/agentsim", "--format", "json", "--clean-env",
                                   "--env-file", envFile, "--script", scriptFile,
                                   "--end", end, "--output", reportFile,
                                   "--collector-output", outputFile, "--timeout", "20"};
  // Sanitizer settings reach the collector through the clean environment.
  for (const auto& [name, value] : sanitizerOptions()) {
    args.push_back("--env");
    args.push_back(name + "=" + value);
  }
  for (const std::string& a : extraArgs) args.push_back(a);
  args.push_back("--");
  args.push_back(collector.empty() ? bin + "/qvdclient" : collector);

  unlink(install.traceFile().c_str());
  Session session;
  pid_t pid = fork();
  if (pid == 0) {
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  int status = 0;
  if (pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status))
    session.agentsimStatus = WEXITSTATUS(status);

  std::istringstream report(readFile(reportFile));
  for (std::string line; std::getline(report, line);) {
    if (line.empty()) continue;
    Json e = Json::parse(line, nullptr, false);
    if (!e.is_discarded()) session.events.push_back(e);
  }
  session.trace = readFile(install.traceFile());
  return session;
}

std::string builtBinDir() { return envOr("QVD_BIN_DIR", "."); }

std::string builtProgram(const std::string& name) { return builtBinDir() + "/" + name; }

int freePort() {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
  close(fd);
  return ntohs(addr.sin_port);
}

std::map<std::string, std::string> sanitizerOptions() {
  std::map<std::string, std::string> options;
  for (const char* name : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "TSAN_OPTIONS", "LSAN_OPTIONS"})
    if (const char* value = getenv(name)) options[name] = value;
  return options;
}

Outcome runProgram(const std::string& scratchDir, const std::vector<std::string>& argv,
                   std::map<std::string, std::string> env, const RunOptions& options) {
  for (const auto& [name, value] : sanitizerOptions()) env[name] = value;
  std::string outFile = scratchDir + "/run.out", errFile = scratchDir + "/run.err";
  std::vector<std::string> argStore = argv;
  std::vector<std::string> envStore;
  for (const auto& [name, value] : env) envStore.push_back(name + "=" + value);
  std::vector<char*> args, envp;
  for (std::string& a : argStore) args.push_back(a.data());
  args.push_back(nullptr);
  for (std::string& e : envStore) envp.push_back(e.data());
  envp.push_back(nullptr);
  pid_t pid = fork();
  if (pid == 0) {
    int out = open(outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
    int err = open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
    dup2(out, 1);
    dup2(err, 2);
    close(out);
    close(err);
    if (options.user >= 0) {
      auto id = static_cast<uid_t>(options.user);
      if (setgroups(0, nullptr) != 0 || setgid(static_cast<gid_t>(id)) != 0 || setuid(id) != 0) _exit(125);
    }
    if (!options.workDir.empty() && chdir(options.workDir.c_str()) != 0) _exit(126);
    execve(args[0], args.data(), envp.data());
    dprintf(2, "exec failed: %s\n", strerror(errno));
    _exit(126);
  }
  Outcome run;
  int status = 0;
  if (pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status)) run.status = WEXITSTATUS(status);
  run.out = readFile(outFile);
  run.err = readFile(errFile);
  unlink(outFile.c_str());
  unlink(errFile.c_str());
  return run;
}

bool installRelay(const Install& install) {
  return symlink(builtProgram("qvdmvevent").c_str(), (install.binDir() + "/qvdmvevent").c_str()) == 0;
}

void setRelaySettings(std::map<std::string, std::string>* env, const std::string& feed, const std::string& log) {
  (*env)["QVD_MVPORT"] = std::to_string(freePort());
  (*env)["QVD_MVHOSTNAME"] = "127.0.0.1";
  (*env)["QVD_MVEVENT_FILE"] = feed;
  (*env)["QVD_MVEVENT_LOG"] = log;
}

}  // namespace e2e
