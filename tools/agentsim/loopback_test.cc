// The agentsim program end to end: a small fake collector in the test
// connects to it over loopback, registers and answers (well or badly), and
// the test reads agentsim's JSON report and exit status.
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <arpa/inet.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

using nlohmann::json;

std::string BinDir() {
  if (const char* dir = getenv("QVD_BIN_DIR")) return dir;
  char buf[4096];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  std::string self(buf, n > 0 ? static_cast<size_t>(n) : 0);
  return self.substr(0, self.rfind('/'));
}

// The attribute of `name` in the first element that has it ("" if none).
std::string AttrOf(const std::string& line, const std::string& name) {
  std::string key = " " + name + "=\"";
  size_t p = line.find(key);
  if (p == std::string::npos) return "";
  p += key.size();
  return line.substr(p, line.find('"', p) - p);
}

// A stand-in collector: connects, registers, then hands every line to the
// test's handler, which returns the bytes to send back.  Ends at the
// shutdown notice (closing the connection) or when agentsim closes.
class FakeCollector {
 public:
  using Handler = std::function<std::string(const std::string& line)>;

  explicit FakeCollector(Handler handler) : handler_(std::move(handler)) {}

  void Run(int port, const std::string& registration) {
    fd_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<uint16_t>(port));
    ASSERT_EQ(connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    int one = 1;
    setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    Send(registration);
    std::string buf;
    char chunk[4096];
    for (;;) {
      ssize_t n = recv(fd_, chunk, sizeof chunk, 0);
      if (n <= 0) break;
      buf.append(chunk, static_cast<size_t>(n));
      size_t nl;
      while ((nl = buf.find('\n')) != std::string::npos) {
        std::string line = buf.substr(0, nl);
        buf.erase(0, nl + 1);
        received.push_back(line);
        if (line.rfind("<shutdown", 0) == 0) {
          close(fd_);
          return;
        }
        Send(handler_(line));
        if (closeAfterSend) {
          close(fd_);
          return;
        }
      }
    }
    close(fd_);
  }

  void Send(const std::string& bytes) {
    size_t off = 0;
    while (off < bytes.size()) {
      ssize_t n = send(fd_, bytes.data() + off, bytes.size() - off, MSG_NOSIGNAL);
      if (n <= 0) return;
      off += static_cast<size_t>(n);
    }
  }

  std::vector<std::string> received;
  // Set by a handler: close the connection after sending its bytes.
  bool closeAfterSend = false;

 private:
  Handler handler_;
  int fd_ = -1;
};

struct Result {
  int status = -1;
  std::vector<json> report;
  std::string errors;

  std::vector<json> OfType(const std::string& type) const {
    std::vector<json> out;
    for (const auto& o : report)
      if (o.value("type", "") == type) out.push_back(o);
    return out;
  }
};

class AgentsimTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/agentsim_loopXXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    // Column names of the groups these tests use, independent of the
    // collector's catalogue.
    std::ofstream(dir_ + "/columns") << "G Server_Name Value\nH A B C\nMV_Server s t\n";
  }
  void TearDown() override { std::system(("rm -rf '" + dir_ + "'").c_str()); }

  // Runs agentsim with `args` (plus --format json and the test's files);
  // `collector`, when set, is run on a thread with the port once agentsim
  // listens.
  Result Run(std::vector<std::string> args, const std::function<void(int)>& collector = nullptr) {
    std::string portFile = dir_ + "/port", out = dir_ + "/out.json", err = dir_ + "/err.txt";
    unlink(portFile.c_str());
    std::vector<std::string> argv = {BinDir() + "/agentsim", "--format", "json", "--output", out, "--port-file",
                                     portFile, "--columns", dir_ + "/columns", "--timeout", "10", "--wait-exit", "10"};
    // Options must precede "--" and the collector command.
    auto dashes = std::find(args.begin(), args.end(), "--");
    argv.insert(argv.end(), args.begin(), dashes);
    argv.insert(argv.end(), dashes, args.end());
    std::vector<char*> cargv;
    for (auto& a : argv) cargv.push_back(&a[0]);
    cargv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid = 0;
    EXPECT_EQ(posix_spawn(&pid, cargv[0], &actions, nullptr, cargv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    std::thread peer;
    if (collector) {
      peer = std::thread([&] {
        int port = 0;
        for (int i = 0; i < 1000 && port == 0; ++i) {
          std::ifstream in(portFile);
          if (!(in >> port)) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        if (port > 0) collector(port);
      });
    }
    int st = 0;
    waitpid(pid, &st, 0);
    if (peer.joinable()) peer.join();
    Result r;
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    std::ifstream in(out);
    std::string line;
    while (std::getline(in, line)) r.report.push_back(json::parse(line));
    std::ifstream e(err);
    std::stringstream ss;
    ss << e.rdbuf();
    r.errors = ss.str();
    return r;
  }

  std::string dir_;
};

const char kRegistration[] =
    "<cpciRegister ver=\"4\"><attrGroupList><attrGroup name=\"G\" ver=\"1\"/><attrGroup name=\"MV_Server\" ver=\"1\"/>"
    "<attrGroup name=\"H\" ver=\"2\"/></attrGroupList></cpciRegister>\n";

std::string Answer(const std::string& requestLine) {
  std::string id = AttrOf(requestLine, "id");
  if (requestLine.rfind("<taskRequest", 0) == 0) return "<taskResponse id=\"" + id + "\" rc=\"0\"/>\n";
  if (requestLine.rfind("<dataRequest", 0) != 0) return "";
  std::string group = AttrOf(requestLine, "name");
  if (group == "MV_Server") return "";  // its rows travel only as events
  std::string row = group == "G" ? "<in><al><a v=\"srv\"/><a v=\"a&lt;b&#10;c&amp;&quot;\"/></al></in>"
                                 : "<in><al><a v=\"1\"/><a v=\"\"/><a v=\"3\"/></al></in>";
  return "<dataResponse id=\"" + id + "\"><attrGroup name=\"" + group + "\">" + row + "</attrGroup></dataResponse>\n";
}

TEST_F(AgentsimTest, SoundSessionIsDecodedMatchedAndEndedWithTheShutdownNotice) {
  FakeCollector fake([](const std::string& line) { return Answer(line); });
  Result r = Run({"-e", "request all", "-e", "task \"do it\" user=u1", "-e", "expect all", "-e",
                  "start G rsid=9", "-e", "stop G rsid=9 shutting-down=TRUE", "-e", "request MV_Server", "-e",
                  "expect-none 0.2"},
                 [&](int port) {
                   fake.Run(port, std::string(kRegistration) +
                                      "<pureEvent><attrGroup name=\"MV_Server\"><in><al><a v=\"x\"/><a v=\"y\"/>"
                                      "</al></in></attrGroup></pureEvent>\n");
                 });
  EXPECT_EQ(r.status, 0) << r.errors;

  auto reg = r.OfType("registration");
  ASSERT_EQ(reg.size(), 1u);
  EXPECT_EQ(reg[0]["groups"], json::parse(R"([{"name":"G","version":1},{"name":"MV_Server","version":1},{"name":"H","version":2}])"));

  // `request all` leaves the event group out; the notices and the shutdown
  // reach the collector as written.
  ASSERT_EQ(fake.received.size(), 7u);
  EXPECT_EQ(fake.received[0], "<dataRequest id=\"1\"><attrGroup name=\"G\"/></dataRequest>");
  EXPECT_EQ(fake.received[1], "<dataRequest id=\"2\"><attrGroup name=\"H\"/></dataRequest>");
  EXPECT_EQ(fake.received[2], "<taskRequest id=\"3\"><task command=\"do it\" user=\"u1\"/></taskRequest>");
  EXPECT_EQ(fake.received[3], "<startRequestInfo ag=\"G\" requestStartedID=\"9\"/>");
  EXPECT_EQ(fake.received[4], "<stopRequestInfo ag=\"G\" requestStartedID=\"9\" shuttingDown=\"TRUE\"/>");
  EXPECT_EQ(fake.received[5], "<dataRequest id=\"4\"><attrGroup name=\"MV_Server\"/></dataRequest>");
  EXPECT_EQ(fake.received[6], "<shutdown/>");

  auto data = r.OfType("data");
  ASSERT_EQ(data.size(), 2u);
  EXPECT_EQ(data[0]["group"], "G");
  EXPECT_EQ(data[0]["columns"], json::parse(R"(["Server_Name","Value"])"));
  EXPECT_EQ(data[0]["rows"], json::parse(R"([["srv","a<b\nc&\""]])"));
  EXPECT_EQ(data[1]["columns"], json::parse(R"(["A","B","C"])"));
  auto events = r.OfType("event");
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0]["row"], json::parse(R"(["x","y"])"));
  EXPECT_EQ(r.OfType("task").at(0)["rc"], 0);
  auto summary = r.OfType("summary");
  ASSERT_EQ(summary.size(), 1u);
  EXPECT_EQ(summary[0]["violations"], 0);
  EXPECT_EQ(summary[0]["unanswered"], json::array());
  EXPECT_TRUE(summary[0]["collector_status"].is_null());
}

TEST_F(AgentsimTest, LinesAreFramedAcrossAndWithinWrites) {
  FakeCollector* self = nullptr;
  std::string first;
  FakeCollector fake([&](const std::string& line) {
    std::string id = AttrOf(line, "id");
    if (id == "1") {
      first = line;
      return std::string();
    }
    if (id == "2") return Answer(first) + Answer(line);  // two answers in one write
    if (id == "3") {                                      // one answer over three writes
      std::string a = Answer(line);
      for (size_t cut : {size_t{5}, a.size() / 2}) {
        self->Send(a.substr(0, cut));
        a.erase(0, cut);
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
      }
      return a;
    }
    return Answer(line);
  });
  self = &fake;
  // The last request is sent raw, in two pieces: agentsim still awaits and
  // matches its answer.
  Result r = Run({"-e", "request G H", "-e", "expect 2", "-e", "request G", "-e", "expect all", "-e",
                  "raw-part <dataRequest id=\"x7\"><attrGr", "-e", "raw oup name=\"H\"/></dataRequest>", "-e",
                  "expect all"},
                 [&](int port) { fake.Run(port, kRegistration); });
  EXPECT_EQ(r.status, 0) << r.errors;
  EXPECT_EQ(fake.received.at(3), "<dataRequest id=\"x7\"><attrGroup name=\"H\"/></dataRequest>");
  auto data = r.OfType("data");
  ASSERT_EQ(data.size(), 4u);
  EXPECT_EQ(data[3]["id"], "x7");
  auto sent = r.OfType("sent");
  ASSERT_GE(sent.size(), 2u);
  EXPECT_EQ(sent[sent.size() - 2]["kind"], "raw");  // the shutdown notice comes last
  EXPECT_EQ(sent[sent.size() - 2]["id"], "x7");
  EXPECT_EQ(data[0]["id"], "1");
  EXPECT_EQ(data[1]["id"], "2");
  EXPECT_EQ(data[2]["id"], "3");
  EXPECT_EQ(data[2]["rows"][0][0], "srv");
}

TEST_F(AgentsimTest, FaultyAnswersAreViolationsWithTheirOwnExitStatus) {
  FakeCollector* self = nullptr;
  FakeCollector fake([&self](const std::string& line) -> std::string {
    std::string id = AttrOf(line, "id");
    if (id == "1") return Answer(line) + Answer(line);  // answered twice
    if (id == "2")  // the wrong group, and a raw '>' in a value
      return "<dataResponse id=\"2\"><attrGroup name=\"G\"></attrGroup></dataResponse>\n"
             "<pureEvent><attrGroup name=\"MV_Server\"><in><al><a v=\">\"/><a v=\"\"/></al></in></attrGroup></pureEvent>\n";
    if (id == "3") {
      self->closeAfterSend = true;
      return "<dataResponse id=\"3\"><attrGroup name=\"G\"></attrGroup></dataResponse>\n<taskResp";
    }
    return "";
  });
  self = &fake;
  Result r = Run({"-e", "request G H", "-e", "request G", "-e", "expect 4", "--end", "wait"},
                 [&](int port) { fake.Run(port, kRegistration); });
  EXPECT_EQ(r.status, 2) << r.errors;
  std::vector<std::string> messages;
  for (const auto& v : r.OfType("violation")) messages.push_back(v["message"]);
  ASSERT_EQ(messages.size(), 4u) << r.errors;
  EXPECT_NE(messages[0].find("second answer for id 1"), std::string::npos);
  EXPECT_NE(messages[1].find("names group G, the request named H"), std::string::npos);
  EXPECT_NE(messages[2].find("unescaped '>'"), std::string::npos);
  EXPECT_NE(messages[3].find("unterminated line"), std::string::npos);
  EXPECT_NE(r.errors.find("protocol violation"), std::string::npos);
}

TEST_F(AgentsimTest, MissingAnswersFailTheExpectationAndAreListed) {
  FakeCollector fake([](const std::string&) { return std::string(); });
  Result r = Run({"-e", "request G", "-e", "expect all 0.3", "-e", "note never reached"},
                 [&](int port) { fake.Run(port, kRegistration); });
  EXPECT_EQ(r.status, 3) << r.errors;
  ASSERT_EQ(r.OfType("expect-failed").size(), 1u);
  EXPECT_TRUE(r.OfType("note").empty());
  EXPECT_EQ(r.OfType("summary").at(0)["unanswered"], json::parse(R"(["1"])"));
}

TEST_F(AgentsimTest, ExpectFileWaitsUntilTheFileHoldsTheTextOftenEnough) {
  FakeCollector fake([](const std::string& line) { return Answer(line); });
  const std::string file = dir_ + "/trace";
  // The text comes twice, a while apart; the request after the wait is sent
  // only then.
  std::thread writer([&] {
    for (int i = 0; i < 2; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
      std::ofstream(file, std::ios::app) << "line: check done\n";
    }
  });
  Result r = Run({"-e", "expect-file " + file + " 2 \"check done\" 10", "-e", "request G", "-e", "expect all"},
                 [&](int port) { fake.Run(port, kRegistration); });
  writer.join();
  EXPECT_EQ(r.status, 0) << r.errors;
  EXPECT_EQ(r.OfType("data").size(), 1u);

  // Not often enough within the limit: a failed expectation, and the rest
  // of the script is skipped.
  FakeCollector other([](const std::string& line) { return Answer(line); });
  Result late = Run({"-e", "expect-file " + file + " 3 \"check done\" 0.3", "-e", "note never reached"},
                    [&](int port) { other.Run(port, kRegistration); });
  EXPECT_EQ(late.status, 3) << late.errors;
  auto failed = late.OfType("expect-failed");
  ASSERT_EQ(failed.size(), 1u);
  std::string message = failed[0]["message"];
  EXPECT_NE(message.find("holds \"check done\" 2 time(s), expected 3"), std::string::npos) << message;
  EXPECT_TRUE(late.OfType("note").empty());
}

TEST_F(AgentsimTest, StartsTheCollectorWithItsEnvironmentAndChecksItsExitStatus) {
  // The "collector" is a shell that checks what it was given and exits 7
  // without connecting, as a collector does on a start-up failure.
  const std::string check =
      "test \"$A\" = 'x y' && test -z \"${B+set}\" && test \"$CP_PORT\" = \"$(cat " + dir_ + "/port)\" && exit 7; exit 1";
  Result ok = Run({"--env", "A=x y", "--env", "B=1", "--unset", "B", "--expect-status", "7", "--", "/bin/sh", "-c", check});
  EXPECT_EQ(ok.status, 0) << ok.errors;
  auto exits = ok.OfType("exit");
  ASSERT_EQ(exits.size(), 1u);
  EXPECT_EQ(exits[0]["status"], 7);
  EXPECT_EQ(ok.OfType("summary").at(0)["collector_status"], 7);

  Result other = Run({"--expect-status", "30", "--", "/bin/sh", "-c", "exit 0"});
  EXPECT_EQ(other.status, 4) << other.errors;

  // A script that needs the conversation fails when the collector never comes.
  Result noConversation = Run({"-e", "request G", "--", "/bin/sh", "-c", "exit 0"});
  EXPECT_EQ(noConversation.status, 3) << noConversation.errors;

  Result missing = Run({"--", dir_ + "/no-such-collector"});
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.errors.find("cannot start"), std::string::npos) << missing.errors;
}

TEST_F(AgentsimTest, ACollectorThatOverstaysIsStopped) {
  Result r = Run({"--wait-exit", "0.3", "--accept-timeout", "0.3", "--", "/bin/sh", "-c", "exec sleep 30"});
  EXPECT_EQ(r.status, 3) << r.errors;
  auto exits = r.OfType("exit");
  ASSERT_EQ(exits.size(), 1u);
  EXPECT_EQ(exits[0]["killed"], true);
}

TEST_F(AgentsimTest, BenchmarkPrintsRoundTripsBesideTheLoopbackFloor) {
  FakeCollector fake([](const std::string& line) { return Answer(line); });
  Result r = Run({"--bench", "--bench-requests", "200", "--bench-bursts", "5"},
                 [&](int port) { fake.Run(port, kRegistration); });
  EXPECT_EQ(r.status, 0) << r.errors;
  auto bench = r.OfType("bench");
  ASSERT_EQ(bench.size(), 1u);
  EXPECT_EQ(bench[0]["sequential"]["count"], 200);
  EXPECT_EQ(bench[0]["burst"]["count"], 5);
  for (const char* part : {"sequential", "burst"})
    for (const char* key : {"p50_us", "p99_us", "floor_p50_us", "floor_p99_us", "request_bytes", "answer_bytes"})
      EXPECT_GT(bench[0][part][key].get<double>(), 0) << part << "." << key;
  EXPECT_TRUE(bench[0]["rss_kb_before"].is_null());  // not started by agentsim
  EXPECT_TRUE(bench[0]["rss_kb_warm"].is_null());
  EXPECT_TRUE(bench[0]["rss_kb_during"].empty());
  EXPECT_TRUE(r.OfType("data").empty());               // answers are not printed one by one
}

}  // namespace
