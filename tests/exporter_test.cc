// qvdexporter with the real qvdclient against the simulated server, and with
// collectors that fail: one round printed by --once, restarts with a growing
// pause, answers with errors, a collector that never registers, and no
// process left behind when the exporter ends.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>

#include "e2e_testutil.h"
#include "exporter_testutil.h"

namespace e2e {
namespace {

// An installation with the example model and the collector's settings in
// an env file.
struct ExampleSite {
  Install install;
  std::map<std::string, std::string> env;
  std::string envFile;

  ExampleSite() {
    CopyExampleModel(install);
    env = install.env();
    env["QVD_LOG_VDB_MONITOR"] = "ON";
    env["QVD_VELORA_GROUP_MONITOR"] = "ON";
    envFile = install.root() + "/collector.env";
    WriteEnvFile(envFile, env);
  }
  void rewriteEnv() const { WriteEnvFile(envFile, env); }
  // The arguments of an exporter that serves on `port` and starts its
  // collector with the env file, then `more`.
  std::vector<std::string> serving(int port, const std::vector<std::string>& more) const {
    std::vector<std::string> args = {"--web.listen-address=127.0.0.1:" + std::to_string(port), "--collector.env-file",
                                     envFile};
    args.insert(args.end(), more.begin(), more.end());
    return args;
  }
  // A script that plays a collector, written into the installation.
  std::string script(const std::string& name, const std::string& body) const {
    std::string path = install.root() + "/" + name;
    std::ofstream(path) << "#!/bin/bash\n" << body;
    return path;
  }
};

// A scrape while the collector is being started again: not up, started
// again at least once.
void ExpectDownAndRestarted(int port) {
  std::string body;
  ASSERT_EQ(HttpGet(port, "/metrics", &body), 200);
  EXPECT_EQ(SampleOf(body, "velora_up"), 0);
  EXPECT_GE(SampleOf(body, "qvdexporter_collector_restarts_total"), 1);
}

// An orderly stop of the exporter that leaves none of its collector behind.
void ExpectStopsWithItsCollector(ExporterProcess& e) {
  pid_t collector = e.collectorPid();
  EXPECT_EQ(e.Stop(), 0);
  EXPECT_TRUE(ProcessGone(collector));
}

int Once(const ExampleSite& s, std::string* out, std::string* err, const std::vector<std::string>& command = {}) {
  std::vector<std::string> argv = {builtProgram("qvdexporter"), "--once", "--collector.env-file", s.envFile};
  if (command.empty()) {
    argv.push_back("--collector.command=" + builtProgram("qvdclient"));
  } else {
    argv.push_back("--");
    argv.insert(argv.end(), command.begin(), command.end());
  }
  return RunWithInput(argv, "", out, err, ExporterEnvironment());
}

TEST(ExporterE2E, OncePrintsOneRoundOfEveryTable) {
  ExampleSite s;
  std::string out, err;
  ASSERT_EQ(Once(s, &out, &err), 0) << err;
  EXPECT_EQ(SampleOf(out, "velora_up"), 1) << out;
  EXPECT_EQ(SampleOf(out, "velora_ldap_inbound_sessions"), 949);
  EXPECT_EQ(SampleOf(out, "velora_mail_queued_messages{queue=\"waiting\"}"), 9726411);
  EXPECT_EQ(SampleOf(out, "velora_server_info{server=\"CN=srv1/O=acme\"}"), 1);
  EXPECT_EQ(SampleOf(out, "velora_task_info{task=\"Router\",status=\"Idle\"}"), 1);
  EXPECT_EQ(SampleOf(out, "velora_replication_slots_total{partner=\"srv4/acme\",result=\"miss\"}"), 4);
  EXPECT_EQ(SampleOf(out, "velora_server_availability{state=\"reachable\"}"), 1);  // the status file
  EXPECT_EQ(SampleOf(out, "velora_cluster_availability{state=\"one\"}"), 1);
  EXPECT_EQ(SampleOf(out, "qvdexporter_collector_rounds_total"), 1);
  EXPECT_EQ(SampleOf(out, "qvdexporter_collector_answer_errors_total{table=\"Velora_LDAP64\"}"), 0);
  EXPECT_EQ(SampleOf(out, "qvdexporter_protocol_violations_total"), 0);
  EXPECT_NE(err.find("collector registered 39 tables"), std::string::npos) << err;
  // The collector ended the conversation in order.
  EXPECT_NE(readFile(s.install.traceFile()).find("Shutting down qvdclient with rc=30"), std::string::npos);

  // A collector whose start-up fails: no figures, status 1, and the reason.
  s.env.erase("QVD_SERVER");
  s.rewriteEnv();
  EXPECT_EQ(Once(s, &out, &err), 1);
  EXPECT_EQ(SampleOf(out, "velora_up"), 0);
  EXPECT_EQ(SampleOf(out, "velora_ldap_inbound_sessions"), -1);
  EXPECT_NE(err.find("the collector ended before it connected; it exited with status 0 (its start-up failed"),
            std::string::npos)
      << err;
}

TEST(ExporterE2E, PromtoolAcceptsTheExposition) {
  if (!HaveProgram("promtool")) GTEST_SKIP() << "promtool is not installed (Debian package prometheus)";
  ExampleSite s;
  std::string out, err, verdict;
  ASSERT_EQ(Once(s, &out, &err), 0) << err;
  EXPECT_EQ(RunWithInput({"promtool", "check", "metrics"}, out, &verdict), 0) << verdict;
  EXPECT_EQ(verdict, "");
  // What the HTTP side serves, with the HTTP library's own metrics.
  int port = freePort();
  ExporterProcess e(s.install, s.serving(port, {"--collector.command=" + builtProgram("qvdclient")}));
  std::string body;
  ASSERT_TRUE(WaitUntil([&] { return HttpGet(port, "/metrics", &body) == 200 && SampleOf(body, "velora_up") == 1; },
                        30));
  ASSERT_EQ(HttpGet(port, "/metrics", &body), 200);  // the second scrape has the first one's latency
  EXPECT_NE(body.find("exposer_request_latencies"), std::string::npos);
  EXPECT_EQ(RunWithInput({"promtool", "check", "metrics"}, body, &verdict), 0) << verdict;
  EXPECT_EQ(verdict, "");
}

TEST(ExporterE2E, ACollectorThatExitsAtOnceIsStartedAgainWithAGrowingPause) {
  ExampleSite s;
  s.env.erase("QVD_SERVER");
  s.rewriteEnv();
  int port = freePort();
  ExporterProcess e(s.install,
                    s.serving(port, {"--collector.command=" + builtProgram("qvdclient"), "--collector.max-restart-pause=2s"}));
  ASSERT_TRUE(WaitUntil([&] { return e.log().find("starting the collector again in 2 s") != std::string::npos; }, 30))
      << e.log();
  std::string log = e.log();
  EXPECT_NE(log.find("starting the collector again in 1 s"), std::string::npos);
  EXPECT_NE(log.find("level=warn msg=\"the collector ended before it connected; it exited with status 0 (its "
                     "start-up failed; its trace says why)\""),
            std::string::npos)
      << log;
  ExpectDownAndRestarted(port);
  ExpectStopsWithItsCollector(e);
}

TEST(ExporterE2E, WhenTheServerEndsItsProgramsTheCollectorIsStartedAgain) {
  ExampleSite s;
  int port = freePort();
  ExporterProcess e(s.install, s.serving(port, {"--collector.command=" + builtProgram("qvdclient")}));
  ASSERT_TRUE(WaitUntil([&] { return e.log().find("collector registered") != std::string::npos; }, 30)) << e.log();
  pid_t first = e.collectorPid();
  s.install.writeModel("terminate", "");  // the server asks its programs to end
  ASSERT_TRUE(WaitUntil([&] { return e.log().find("starting the collector again") != std::string::npos; }, 30))
      << e.log();
  EXPECT_NE(e.log().find("; it exited with status 31 (the server asked its programs to end)"),
            std::string::npos)
      << e.log();
  std::string body;
  ASSERT_EQ(HttpGet(port, "/metrics", &body), 200);
  EXPECT_EQ(SampleOf(body, "velora_up"), 0);
  EXPECT_EQ(SampleOf(body, "velora_ldap_inbound_sessions"), -1);
  unlink((s.install.modelDir() + "/terminate").c_str());
  ASSERT_TRUE(WaitUntil([&] { return HttpGet(port, "/metrics", &body) == 200 && SampleOf(body, "velora_up") == 1; },
                        30))
      << e.log();
  EXPECT_EQ(SampleOf(body, "velora_ldap_inbound_sessions"), 949);
  EXPECT_GE(SampleOf(body, "qvdexporter_collector_restarts_total"), 1);
  EXPECT_NE(e.collectorPid(), first);
  EXPECT_TRUE(ProcessGone(first));
  EXPECT_EQ(e.Stop(), 0);
}

TEST(ExporterE2E, ACollectorThatAnswersWithErrorsIsCountedAndNotUp) {
  ExampleSite s;
  std::string fake = s.script("errors.sh", R"(exec 3<>/dev/tcp/127.0.0.1/$CP_PORT
printf '<cpciRegister ver="4"><attrGroupList><attrGroup name="Velora_LDAP64" ver="1"/><attrGroup name="Velora_Tasks" ver="2"/></attrGroupList></cpciRegister>\n' >&3
while IFS= read -r -u 3 line; do
  case $line in
    *'<shutdown'*) exit 30 ;;
    *'<dataRequest'*)
      id=${line#*id=\"}; id=${id%%\"*}
      group=${line#*name=\"}; group=${group%%\"*}
      printf '<dataResponse id="%s"><attrGroup name="%s"><error rc="-1"/></attrGroup></dataResponse>\n' "$id" "$group" >&3
      printf 'not a message\n' >&3 ;;
  esac
done
exit 30
)");
  int port = freePort();
  ExporterProcess e(s.install, s.serving(port, {"--collector.max-age=0s", "--", "/bin/bash", fake}));
  std::string body;
  ASSERT_TRUE(WaitUntil([&] { return HttpGet(port, "/metrics", &body) == 200 &&
                                     SampleOf(body, "qvdexporter_collector_answer_errors_total{table=\"Velora_Tasks\"}") >= 2; },
                        30))
      << body << e.log();
  EXPECT_EQ(SampleOf(body, "velora_up"), 0);
  EXPECT_GE(SampleOf(body, "qvdexporter_collector_answer_errors_total{table=\"Velora_LDAP64\"}"), 2);
  EXPECT_GE(SampleOf(body, "qvdexporter_protocol_violations_total"), 2);
  EXPECT_EQ(SampleOf(body, "qvdexporter_collector_restarts_total"), 0);
  std::string log = e.log();
  EXPECT_NE(log.find("the collector answered table Velora_LDAP64 with error -1"), std::string::npos) << log;
  EXPECT_NE(log.find("protocol violation by the collector: malformed line"), std::string::npos) << log;
  ExpectStopsWithItsCollector(e);
}

TEST(ExporterE2E, ACollectorThatNeverRegistersIsStoppedAndStartedAgain) {
  ExampleSite s;
  std::string fake = s.script("silent.sh", "exec 3<>/dev/tcp/127.0.0.1/$CP_PORT\n"
                                           "while IFS= read -r -u 3 line; do :; done\n");
  int port = freePort();
  ExporterProcess e(s.install, s.serving(port, {"--collector.start-timeout=1s", "--", "/bin/bash", fake}));
  ASSERT_TRUE(WaitUntil([&] { return e.log().find("starting the collector again in 2 s") != std::string::npos; }, 30))
      << e.log();
  EXPECT_NE(e.log().find("the collector connected but sent no registration within 1 s; it exited with status 0"),
            std::string::npos)
      << e.log();
  ExpectDownAndRestarted(port);
  ExpectStopsWithItsCollector(e);
}

// The collector never outlives the exporter: an orderly end on SIGTERM, and
// the parent-death signal when the exporter is killed outright.
TEST(ExporterE2E, TheCollectorEndsWithTheExporter) {
  // Orphans are reparented to this process, so that they can be reaped here.
  prctl(PR_SET_CHILD_SUBREAPER, 1);
  ExampleSite s;
  for (bool orderly : {true, false}) {
    int port = freePort();
    ExporterProcess e(s.install, s.serving(port, {"--collector.command=" + builtProgram("qvdclient")}));
    ASSERT_TRUE(WaitUntil([&] { return e.log().find("collector registered") != std::string::npos; }, 30)) << e.log();
    pid_t collector = e.collectorPid();
    ASSERT_GT(collector, 0);
    if (orderly) {
      EXPECT_EQ(e.Stop(), 0);
      EXPECT_TRUE(ProcessGone(collector));
      EXPECT_NE(e.log().find("level=info msg=\"stopped\""), std::string::npos);
      EXPECT_NE(readFile(s.install.traceFile()).find("Shutting down qvdclient with rc=30"), std::string::npos);
    } else {
      kill(e.pid(), SIGKILL);
      e.Stop();
      EXPECT_TRUE(WaitUntil([&] { return ProcessGone(collector); }, 20));
      waitpid(collector, nullptr, WNOHANG);
    }
  }
  prctl(PR_SET_CHILD_SUBREAPER, 0);
}

}  // namespace
}  // namespace e2e
