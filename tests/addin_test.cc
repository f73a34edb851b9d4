// The Mirvane add-in through the real collector: its seven statistics
// tables, the parameter documents it writes (and each way that fails), and
// its events relayed by qvdmvevent (split, bundled and malformed records,
// a relay killed and started again).
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <chrono>
#include <regex>
#include <sstream>
#include <thread>

#include "e2e_testutil.h"

namespace e2e {
namespace {

const char kAddInStats[] =
    "Server.Users\t4\n"
    "MVStats.Dom.Incoming.acme.com.Count\t5\n"
    "MVStats.Dom.Incoming.acme.com.Size\t1,500\n"
    "MVStats.Dom.Outgoing.example.org.Count\t3\n"
    "MVStats.Dom.Outgoing.example.org.Size\t300\n"
    "MVStats.In.srv3/acme.Avg\t5\n"
    "MVStats.In.srv3/acme.CountOver\t12\n"
    "MVStats.In.srv3/acme.Max\t9\n"
    "MVStats.In.srv3/acme.Min\t1\n"
    "MVStats.Out.plainhost.Volume\t1\n"
    "MVStats.Out.srv4/acme.Count\t10\n"
    "MVStats.Out.srv4/acme.Volume\t1,000\n"
    "MVStats.Repl.Pulled.Documents.Transferred.host9\t7\n"
    "MVStats.Repl.Pulled.Documents.Transferred.srv2/acme\t1,204\n"
    "MVStats.Repl.Pulled.KBReceived.srv2/acme\t20,331\n"
    "MVStats.Repl.Pulled.KBSent.srv2/acme\t112\n"
    "MVStats.Repl.Pushed.Documents.Transferred.srv2/acme\t318\n"
    "MVStats.Repl.Pushed.KBReceived.srv2/acme\t40\n"
    "MVStats.Repl.Pushed.KBSent.srv2/acme\t5,102\n"
    "MVStats.Repl.Time.srv2/acme\t14\n"
    "MVStats.Repl.TotalMissed.srv2/acme\t1\n"
    "MVStats.Repl.TotalSuccesses.srv2/acme\t96\n"
    "MVStats.Repl.srv2/acme.MinutesSince.Recv\t3\n"
    "MVStats.Repl.srv2/acme.MinutesSince.Send\t4\n"
    "MVStats.Size.Recv.Avg\t48\n"
    "MVStats.Size.Recv.Count\t10\n"
    "MVStats.Size.Recv.Max\t25,600\n"
    "MVStats.Size.Sent.Small.Avg\t12\n"
    "MVStats.Size.Sent.Small.Count\t8\n"
    "MVStats.Size.Sent.Small.Max\t99\n"
    "MVStats.ViewTime.Avg\t120.5\r\n"
    "MVStats.ViewTime.Count\t3,412\r\n"
    "MVStats.ViewTime.Max\t2,210\r\n"
    "MVStats.ViewTime.PercentUnder5\t80\r\n"
    "Zone.Last\t1\n";

const char kTables[][40] = {
    "MV_View_Performance_Statistics", "MV_Replication_Statistics",
    "MV_Replication_Delay_Statistics", "MV_Mail_Size_Statistics", "MV_Mail_Domain_Statistics",
    "MV_Mail_Incoming_Statistics", "MV_Mail_Outgoing_Statistics"};

using Rows = std::vector<std::vector<std::string>>;

Rows rowsOf(const Json& answer) {
  Rows out;
  if (answer.is_null()) return out;
  for (const Json& row : answer["rows"]) out.push_back(row.get<std::vector<std::string>>());
  return out;
}

// An installation with the add-in configured: the relay in the install's
// bin directory, its feed and log files, and the parameter database in the
// model (unless `withDatabase` is false).
struct AddIn {
  Install install;
  std::map<std::string, std::string> env;
  std::string feed, relayLog, callLog;

  explicit AddIn(bool withDatabase = true, bool withRelay = true, const std::string& extra = "") {
    if (withRelay) {
      EXPECT_TRUE(installRelay(install));
    }
    feed = install.root() + "/feed";
    relayLog = install.root() + "/relay.log";
    callLog = install.root() + "/calls.log";
    install.writeModel("stats.txt", kAddInStats);
    std::string json = "{";
    if (withDatabase) json += R"("databases": {"mirvane/mvparam.vdb": {}})";
    if (!extra.empty()) json += (withDatabase ? ", " : "") + extra;
    install.writeModel("server.json", json + "}");
    env = install.env();
    setRelaySettings(&env, feed, relayLog);
    env["VAXEL_SIM_LOG"] = callLog;
    env["QVD_TRACE"] = "error,core=detail,addin=detail";
  }
  void appendFeed(const std::string& text) const {
    std::ofstream(feed, std::ios::app) << text;
  }
  // The saved documents, items in the order they were set.
  std::vector<nlohmann::ordered_json> created() const {
    std::vector<nlohmann::ordered_json> out;
    std::istringstream in(readFile(install.modelDir() + "/created.jsonl"));
    for (std::string line; std::getline(in, line);)
      if (!line.empty()) out.push_back(nlohmann::ordered_json::parse(line));
    return out;
  }
  // The exit line of the simulator's call log.
  std::string exitLine() const {
    std::string log = readFile(callLog);
    size_t at = log.rfind("\nexit ");
    return at == std::string::npos ? "" : log.substr(at + 1, log.find('\n', at + 1) - at - 1);
  }
};

std::vector<int> eventErrors(const Session& s) {
  std::vector<int> out;
  for (const Json& e : s.ofType("event-error")) out.push_back(e["rc"].get<int>());
  return out;
}

TEST(AddInE2E, EveryAddInTableFromTheSnapshot) {
  Install install;
  install.writeModel("stats.txt", kAddInStats);
  std::vector<std::string> script;
  for (const char* t : kTables) script.push_back(std::string("request ") + t);
  script.push_back("expect all");
  for (const char* t : kTables) script.push_back(std::string("request ") + t);  // same snapshot
  script.push_back("expect all");
  Session s = runSession(install, install.env(), script);
  ASSERT_EQ(30, s.collectorStatus()) << s.problems();
  const std::string server = "CN=srv1/O=acme";
  std::map<std::string, Rows> want = {
      {"MV_View_Performance_Statistics", {{server, "viewtime", "2210", "120.5", "3412", "5", "80"}}},
      {"MV_Replication_Statistics",
       {{server, "srv2/acme", "repl", "20331", "112", "1204", "40", "5102", "318", "14", "1", "96"}}},
      {"MV_Replication_Delay_Statistics", {{server, "srv2/acme", "repl", "3", "4"}}},
      {"MV_Mail_Size_Statistics",
       {{server, "", "size.recv", "10", "25600", "48"}, {server, "small", "size.sent", "8", "99", "12"}}},
      {"MV_Mail_Domain_Statistics",
       {{server, "acme.com", "dom.incoming", "5", "1500"},
        {server, "example.org", "dom.outgoing", "3", "300"}}},
      {"MV_Mail_Incoming_Statistics", {{server, "srv3/acme", "in", "12", "1", "9", "5"}}},
      {"MV_Mail_Outgoing_Statistics", {{server, "srv4/acme", "out", "10", "1000"}}},
  };
  for (const auto& [group, rows] : want) {
    std::vector<Json> answers = s.answers(group);
    ASSERT_EQ(2u, answers.size()) << group;
    EXPECT_EQ(rows, rowsOf(answers[0])) << group;
    EXPECT_TRUE(rowsOf(answers[1]).empty()) << group << ": rows once per snapshot";
  }
  // Without both add-in settings the add-in threads do not start.
  EXPECT_FALSE(s.traced("Started MV Configure thread")) << s.trace;
}

TEST(AddInE2E, ParameterDocumentsWrittenWithPing2526) {
  AddIn a(true, true, R"("servers": {"CN=srv1/O=acme": {"ping": 2526}})");
  Session s = runSession(a.install, a.env, {"registration", "expect-none 3"});
  ASSERT_EQ(30, s.collectorStatus()) << s.problems();
  std::vector<nlohmann::ordered_json> docs = a.created();
  ASSERT_EQ(2u, docs.size()) << s.trace;
  const std::string port = a.env["QVD_MVPORT"];
  for (int i = 0; i < 2; ++i) {
    const nlohmann::ordered_json& d = docs[static_cast<size_t>(i)];
    EXPECT_EQ("mirvane/mvparam.vdb", d["database"]);
    std::vector<std::string> names;
    for (const auto& item : d["items"].items()) names.push_back(item.key());
    EXPECT_EQ((std::vector<std::string>{"ServerName", "Form", "ParameterModifier", "ParameterTime",
                                        "Section", "Category", "Parameter", "Value"}),
              names);
    EXPECT_EQ("CN=srv1/O=acme", d["items"]["ServerName"]);
    EXPECT_EQ("Parameters Form", d["items"]["Form"]);
    EXPECT_EQ("CN=srv1/O=acme", d["items"]["ParameterModifier"]);
    EXPECT_TRUE(d["items"]["ParameterTime"].contains("time"));
    EXPECT_EQ("Monitor", d["items"]["Section"]);
    EXPECT_EQ("USER", d["items"]["Category"]);
  }
  EXPECT_EQ("TCPIP Port", docs[0]["items"]["Parameter"]);
  EXPECT_EQ(port, docs[0]["items"]["Value"]);
  EXPECT_EQ("TCPIP Hostname", docs[1]["items"]["Parameter"]);
  EXPECT_EQ("127.0.0.1", docs[1]["items"]["Value"]);
  EXPECT_EQ(docs[0]["items"]["ParameterTime"], docs[1]["items"]["ParameterTime"]);
  EXPECT_TRUE(eventErrors(s).empty());
  EXPECT_TRUE(s.traced("exiting...")) << s.trace;
  EXPECT_EQ(0u, a.exitLine().find("exit handles_held=0")) << a.exitLine();
}

TEST(AddInE2E, DatabaseMissingReportsAndShutdownEndsTheWait) {
  AddIn a(false);
  // A hang in the retry wait would keep the collector past the end action.
  Session s = runSession(a.install, a.env, {"registration", "expect-event 1 10"}, "shutdown",
                         {"--wait-exit", "10"});
  ASSERT_EQ(30, s.collectorStatus()) << s.problems();
  EXPECT_EQ(std::vector<int>{1001}, eventErrors(s));
  EXPECT_TRUE(s.traced("VxPathNetConstruct: error opening MV database CN=srv1/O=acme!!mirvane/mvparam.vdb"))
      << s.trace;
  EXPECT_TRUE(s.traced("failed on attempt 1 to configure MV..."));
  EXPECT_TRUE(s.traced("shutting down...")) << s.trace;
  EXPECT_TRUE(a.created().empty());
  EXPECT_EQ(0u, a.exitLine().find("exit handles_held=0")) << a.exitLine();
}

TEST(AddInE2E, ServerUnreachableReports1001) {
  AddIn a(true, true, R"("servers": {"CN=srv1/O=acme": {"ping": 2566}})");
  Session s = runSession(a.install, a.env, {"registration", "expect-event 1 10"});
  ASSERT_EQ(30, s.collectorStatus()) << s.problems();
  EXPECT_EQ(std::vector<int>{1001}, eventErrors(s));
  EXPECT_TRUE(s.traced("mvConfigure: VxPingServer failed on server:CN=srv1/O=acme with rc:2566"))
      << s.trace;
  EXPECT_TRUE(a.created().empty());
}

TEST(AddInE2E, FailingItemKeepsThePortDocumentAndReports1000) {
  // The fourteenth text item is the host name document's Value.
  AddIn a(true, true, R"("faults": {"VxItemSetText": {"status": 549, "fromCall": 14}})");
  Session s = runSession(a.install, a.env, {"registration", "expect-event 1 10"});
  ASSERT_EQ(30, s.collectorStatus()) << s.problems();
  EXPECT_EQ(std::vector<int>{1000}, eventErrors(s));
  EXPECT_TRUE(s.traced("VxItemSetText: error update Value/nicHostname 549")) << s.trace;
  std::vector<nlohmann::ordered_json> docs = a.created();
  ASSERT_EQ(1u, docs.size());
  EXPECT_EQ("TCPIP Port", docs[0]["items"]["Parameter"]);
  EXPECT_EQ(0u, a.exitLine().find("exit handles_held=0")) << a.exitLine();
}

TEST(AddInE2E, EveryDocumentStepFailureReports1000) {
  struct Case {
    const char* fault;
    const char* message;
    size_t saved;
  } cases[] = {
      {R"("VxDocCreate": 549)", "VxDocCreate: error create note 549", 0},
      {R"("VxItemSetTime": {"status": 549, "fromCall": 2})", "VxItemSetTime: error ParameterTime 549", 1},
      {R"("VxDocUpdate": 549)", "VxDocUpdate: error Port update notes 549", 0},
      {R"("VxItemSetText": {"status": 549, "fromCall": 7})", "VxItemSetText: error update Value/mvPort 549", 0},
  };
  for (const Case& c : cases) {
    AddIn a(true, true, std::string(R"("faults": {)") + c.fault + "}");
    Session s = runSession(a.install, a.env, {"registration", "expect-event 1 10"});
    ASSERT_EQ(30, s.collectorStatus()) << c.fault << s.problems();
    EXPECT_EQ(std::vector<int>{1000}, eventErrors(s)) << c.fault;
    EXPECT_TRUE(s.traced(c.message)) << c.fault;
    EXPECT_EQ(c.saved, a.created().size()) << c.fault;
    EXPECT_EQ(0u, a.exitLine().find("exit handles_held=0")) << c.fault << a.exitLine();
  }
}

TEST(AddInE2E, RelayInstalledAfterStartIsStartedWithOneEventError) {
  AddIn a(true, false);
  a.appendFeed("srv2/acme\t1\tonce installed\n");
  std::atomic<bool> done{false};
  std::thread installer([&] {
    // Once the collector has found the relay missing, install it.
    while (!done && readFile(a.install.traceFile()).find("startProcess1 failed") == std::string::npos)
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_TRUE(installRelay(a.install));
  });
  Session s = runSession(a.install, a.env, {"registration", "expect-event 2 60"});
  done = true;
  installer.join();
  ASSERT_EQ(30, s.collectorStatus()) << s.problems();
  EXPECT_EQ(std::vector<int>{1000}, eventErrors(s));
  std::vector<Json> events = s.ofType("event");
  ASSERT_EQ(1u, events.size()) << s.problems() << s.trace;
  EXPECT_EQ("once installed", events[0]["row"][3]);
  EXPECT_TRUE(s.traced("Started1 qvdmvevent with pid:")) << s.trace;
}

bool isEventTime(const std::string& t) { return std::regex_match(t, std::regex("1[0-9]{12}000")); }

TEST(AddInE2E, EventsRelayedWhateverTheReadBoundaries) {
  AddIn a;
  a.env["LANG"] = "C.UTF-8";
  const std::string big(70000, 'a');
  a.appendFeed(
      "srv2/acme\t2\tDisk almost full\n"
      "!raw E\\x1fsrvB\\x1fpart\n"              // a record split across reads
      "!sleep 0.3\n"
      "!raw ial\\x1f3\\x1e\n"
      "!raw E\\x1fsrvC\\x1fone\\x1f1\\x1eE\\x1fsrvD\\x1ftwo\\x1f1\\x1eE\\x1fsrvE\\x1fthr\n"  // 2.5 records
      "!sleep 0.3\n"
      "!raw ee\\x1f1\\x1e\\x1e\n"               // the third completed, then an empty record
      "!raw X\\x1fsrvX\\x1fnot an event\\x1e\n"  // another type
      "!raw E\\x1fsrvF\\x1e\n"                  // separators missing
      "!raw " + big + "\n"                      // too long without a separator
      "!sleep 0.3\n"
      "!raw " + big + "\\x1e\n"
      "srv2/acme\t1\tafter the long record\n");
  std::vector<std::string> script = {"registration", "expect-event 7 40"};
  // A burst of events during bursts of requests.
  for (int i = 0; i < 200; ++i) a.appendFeed("srv7/acme\t" + std::to_string(i) + "\tburst\n");
  script.push_back("note bursts");
  for (int i = 0; i < 5; ++i) script.push_back("request all");
  script.push_back("expect all");
  script.push_back("expect-event 200 30");
  Session s = runSession(a.install, a.env, script);
  ASSERT_EQ(30, s.collectorStatus()) << s.problems();
  EXPECT_EQ(0u, s.ofType("violation").size()) << s.problems();
  std::vector<Json> events = s.ofType("event");
  ASSERT_EQ(207u, events.size()) << s.problems();
  Rows rows;
  for (const Json& e : events) {
    EXPECT_EQ("MV_Server", e["group"]);
    auto row = e["row"].get<std::vector<std::string>>();
    EXPECT_TRUE(isEventTime(row.at(1))) << row.at(1);
    row[1] = "T";
    rows.push_back(row);
  }
  Rows first(rows.begin(), rows.begin() + 7);
  EXPECT_EQ((Rows{{"srv2/acme", "T", "2", "Disk almost full"},
                  {"srvB", "T", "3", "partial"},
                  {"srvC", "T", "1", "one"},
                  {"srvD", "T", "1", "two"},
                  {"srvE", "T", "1", "three"},
                  {"srvF", "T", "", ""},
                  {"srv2/acme", "T", "1", "after the long record"}}),
            first);
  for (int i = 0; i < 200; ++i)
    EXPECT_EQ((std::vector<std::string>{"srv7/acme", "T", std::to_string(i), "burst"}), rows[7 + i]);
  EXPECT_TRUE(s.traced("Invalid message type X"));
  EXPECT_TRUE(s.traced("Invalid message type  "));  // the empty record
  EXPECT_TRUE(s.traced("longer than 65536 bytes without a record separator: dropped"));
  // The locale of the environment, with numbers and character classes kept
  // in the C form.
  EXPECT_TRUE(s.traced("LC_CTYPE=C;LC_NUMERIC=C;LC_TIME=C.UTF-8")) << s.trace;
  EXPECT_EQ((Rows{{"CN=srv1/O=acme", "viewtime", "2210", "120.5", "3412", "5", "80"}}),
            rowsOf(s.answers("MV_View_Performance_Statistics").at(0)));
}

TEST(AddInE2E, KilledRelayIsStartedAgainWithTheSamePort) {
  AddIn a;
  a.appendFeed("srv2/acme\t1\tbefore\n");
  std::atomic<bool> done{false};
  std::thread killer([&] {
    // Once the first relay has forwarded its event, kill it and feed the
    // next event for the relay that replaces it.
    std::regex forwarded(R"(qvdmvevent\[(\d+)\]: forwarded)");
    while (!done) {
      std::smatch m;
      std::string log = readFile(a.relayLog);
      if (std::regex_search(log, m, forwarded)) {
        kill(std::stoi(m[1]), SIGKILL);
        a.appendFeed("srv2/acme\t1\tafter\n");
        return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
  });
  Session s = runSession(a.install, a.env, {"registration", "expect-event 2 60"});
  done = true;
  killer.join();
  ASSERT_EQ(30, s.collectorStatus()) << s.problems();
  std::vector<Json> events = s.ofType("event");
  ASSERT_EQ(2u, events.size()) << s.problems() << readFile(a.relayLog);
  EXPECT_EQ("before", events[0]["row"][3]);
  EXPECT_EQ("after", events[1]["row"][3]);
  std::string log = readFile(a.relayLog);
  std::regex registered(R"(registered server srv1/acme port (\d+))");
  std::vector<std::string> ports;
  for (std::sregex_iterator it(log.begin(), log.end(), registered), end; it != end; ++it)
    ports.push_back((*it)[1]);
  ASSERT_EQ(2u, ports.size()) << log;
  EXPECT_EQ(ports[0], ports[1]);
  EXPECT_TRUE(s.traced("restarting qvdmvevent for the 1 time")) << s.trace;
}

TEST(AddInE2E, OnlyTheRelayMaySendEvents) {
  AddIn a;
  // The add-in host in its short dotted form: 127.0.0.1.
  a.env["QVD_MVHOSTNAME"] = "127.1";
  a.appendFeed("srv2/acme\t1\tbefore\n");
  std::atomic<bool> done{false};
  std::atomic<bool> refused{false};
  std::thread stranger([&] {
    // Once the first relay has forwarded its event, kill it and connect to
    // the event port, which still listens, as a process that is not the
    // relay; then feed the next event for the relay that replaces it.
    std::regex forwarded(R"(qvdmvevent\[(\d+)\]: forwarded)");
    std::regex registered(R"(registered server srv1/acme port (\d+))");
    while (!done) {
      std::smatch m, port;
      std::string log = readFile(a.relayLog);
      if (std::regex_search(log, m, forwarded) && std::regex_search(log, port, registered)) {
        kill(std::stoi(m[1]), SIGKILL);
        int fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(static_cast<uint16_t>(std::stoi(port[1])));
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        EXPECT_EQ(0, connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to));
        std::string forged = "E\x1fsrv1/acme\x1f" "FORGED EVENT\x1f" "1\x1e";
        EXPECT_EQ(static_cast<ssize_t>(forged.size()), send(fd, forged.data(), forged.size(), MSG_NOSIGNAL));
        a.appendFeed("srv2/acme\t1\tafter\n");
        // The collector closes the connection without answering.
        timeval limit{60, 0};
        setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
        char c;
        refused = recv(fd, &c, 1, 0) <= 0;
        close(fd);
        return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
  });
  Session s = runSession(a.install, a.env, {"registration", "expect-event 2 60"});
  done = true;
  stranger.join();
  ASSERT_EQ(30, s.collectorStatus()) << s.problems();
  std::vector<Json> events = s.ofType("event");
  std::string channel;  // the collector's lines about the relay and its connections
  std::istringstream trace(s.trace);
  for (std::string line; std::getline(trace, line);)
    if (std::regex_search(line, std::regex("Connection|Accept|accepted|Started|restarting|failed")))
      channel += line + "\n";
  ASSERT_EQ(2u, events.size()) << s.problems() << readFile(a.relayLog) << channel;
  EXPECT_EQ("before", events[0]["row"][3]);
  EXPECT_EQ("after", events[1]["row"][3]);
  EXPECT_TRUE(refused);
  EXPECT_FALSE(s.traced("FORGED")) << s.trace;
  EXPECT_TRUE(s.traced("Connection on the event port from port ")) << s.trace;
  EXPECT_TRUE(s.traced("is not held by the relay")) << s.trace;
}

// The relay stand-in ends when the collector that started it (named by
// QVD_COLLECTOR_PID) is gone, also when it was gone before the relay
// started.  This test process takes in the orphans, so that it can wait
// for them.
TEST(RelayStandIn, EndsWhenItsCollectorIsAlreadyGone) {
  ASSERT_EQ(0, prctl(PR_SET_CHILD_SUBREAPER, 1));
  Install install;
  std::string log = install.root() + "/relay.log";
  std::string relay = builtProgram("qvdmvevent");
  std::string pidFile = install.root() + "/relay.pid";
  // A stand-in collector that starts the relay (a moment late) and ends
  // at once, as a collector killed right after the fork would.
  std::string script = "export QVD_COLLECTOR_PID=$$ QVD_MVHOSTNAME=127.0.0.1 QVD_MVPORT=" +
                       std::to_string(freePort()) + " QVD_MVEVENT_LOG='" + log + "'\n" +
                       "sh -c 'echo $$ >\"" + pidFile + "\"; sleep 0.5; exec \"" + relay + "\"' &\n" +
                       "exit 0\n";
  pid_t collector = fork();
  if (collector == 0) {
    execl("/bin/sh", "sh", "-c", script.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  ASSERT_EQ(collector, waitpid(collector, nullptr, 0));
  pid_t pid = 0;
  for (int i = 0; i < 500 && pid == 0; ++i) {
    pid = atoi(readFile(pidFile).c_str());
    if (pid == 0) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ASSERT_GT(pid, 0);
  // The relay ends by itself; it is killed when it has not after 20 s.
  int status = 0;
  pid_t ended = 0;
  for (int i = 0; i < 200 && ended == 0; ++i) {
    ended = waitpid(pid, &status, WNOHANG);
    if (ended == 0) std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  if (ended == 0) {
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
  }
  prctl(PR_SET_CHILD_SUBREAPER, 0);
  ASSERT_EQ(pid, ended) << "the relay outlived its collector\n" << readFile(log);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_NE(std::string::npos, readFile(log).find("the collector has ended")) << readFile(log);
}

}  // namespace
}  // namespace e2e
