// Support for the end-to-end tests of qvdexporter: the exporter as a
// process, a plain HTTP client, and a real Prometheus server on loopback.
// Everything started here is stopped by its destructor; nothing is left
// running.
#ifndef QVD_TESTS_EXPORTER_TESTUTIL_H_
#define QVD_TESTS_EXPORTER_TESTUTIL_H_

#include <sys/types.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "e2e_testutil.h"

namespace e2e {

// A socket connected to 127.0.0.1:<port> (close-on-exec), or -1.
int ConnectLoopback(int port);

// GET http://127.0.0.1:<port><path>.  Returns the status code (-1 when no
// answer came within `seconds`) and the body in *body.
int HttpGet(int port, const std::string& path, std::string* body = nullptr, double seconds = 10,
            const std::string& extraHeaders = "");

// Waits until `done` holds, checking every 50 ms, at most `seconds`.
bool WaitUntil(const std::function<bool()>& done, double seconds);

// The value of a sample line "name{labels} value" of an exposition text
// whose name and labels start with `series` (for instance
// `velora_up` or `velora_mail_queued_messages{queue="dead"}`), or -1.
double SampleOf(const std::string& exposition, const std::string& series);

// Writes NAME=VALUE lines for `env` to `path`.
void WriteEnvFile(const std::string& path, const std::map<std::string, std::string>& env);

// The example server's model (examples/server) copied into the install's model.
void CopyExampleModel(const Install& install);

// This process's environment, as NAME=VALUE entries, with the exporter's
// ThreadSanitizer suppressions (qvdexporter/tsan.supp) added to
// TSAN_OPTIONS: the environment of every qvdexporter a test starts (the
// collector it starts inherits it).  Builds without ThreadSanitizer ignore
// the setting.
std::vector<std::string> ExporterEnvironment();

class ExporterProcess {
 public:
  // Starts qvdexporter with `args` in ExporterEnvironment() (its standard
  // error to <root>/exporter.log).
  ExporterProcess(const Install& install, const std::vector<std::string>& args);
  ~ExporterProcess();
  ExporterProcess(const ExporterProcess&) = delete;
  ExporterProcess& operator=(const ExporterProcess&) = delete;

  pid_t pid() const { return pid_; }
  std::string log() const;
  // The pid of the collector it started last (from its log), or 0.
  pid_t collectorPid() const;
  // SIGTERM, then waits; returns the exit status (-1 after SIGKILL).
  int Stop(double seconds = 20);
  bool running();

 private:
  std::string logFile_;
  pid_t pid_ = -1;
  int status_ = -1;
};

// A Prometheus server on a free loopback port, with its own data folder,
// scraping `targetPort` every second.
class PrometheusServer {
 public:
  PrometheusServer(const Install& install, int targetPort);
  ~PrometheusServer();
  PrometheusServer(const PrometheusServer&) = delete;
  PrometheusServer& operator=(const PrometheusServer&) = delete;

  bool started() const { return pid_ > 0; }
  int port() const { return port_; }
  // The result array of an instant query (null when the query failed).
  nlohmann::json Query(const std::string& promql) const;
  std::string log() const;

 private:
  std::string logFile_;
  pid_t pid_ = -1;
  int port_ = 0;
};

// True when `program` is found in PATH.
bool HaveProgram(const std::string& program);

// Runs a command, feeding `input` to its standard input; returns its exit
// status, its standard output in *output and its standard error in *errors
// (in *output too when `errors` is null).  The command gets `environment`
// (NAME=VALUE entries), or this process's environment when it is empty.
int RunWithInput(const std::vector<std::string>& argv, const std::string& input, std::string* output,
                 std::string* errors = nullptr, const std::vector<std::string>& environment = {});

// True when process `pid` has ended (gone, or a zombie nobody reaped yet).
bool ProcessGone(pid_t pid);

}  // namespace e2e

#endif  // QVD_TESTS_EXPORTER_TESTUTIL_H_
