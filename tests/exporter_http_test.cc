// The exporter's HTTP side is hostile ground: unknown paths, huge and
// malformed requests, clients that never finish their request and a
// hundred scrapes at once neither crash it nor disturb the collector's
// link, which is asked once per max-age however many scrapes come.  The
// collector inherits none of the exporter's sockets.
#include <arpa/inet.h>
#include <dirent.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

#include "e2e_testutil.h"
#include "exporter_testutil.h"

namespace e2e {
namespace {

// The inode of the socket listening on 127.0.0.1:<port>.
std::string ListeningInode(int port) {
  std::ifstream in("/proc/net/tcp");
  std::string line;
  std::getline(in, line);
  while (std::getline(in, line)) {
    std::istringstream f(line);
    std::string sl, local, remote, st, q, t, r, uid, timeout, inode;
    f >> sl >> local >> remote >> st >> q >> t >> r >> uid >> timeout >> inode;
    if (st == "0A" && std::strtol(local.c_str() + local.find(':') + 1, nullptr, 16) == port) return inode;
  }
  return "";
}

std::vector<std::string> Descriptors(pid_t pid) {
  std::vector<std::string> links;
  std::string dir = "/proc/" + std::to_string(pid) + "/fd";
  DIR* d = opendir(dir.c_str());
  while (d != nullptr) {
    dirent* e = readdir(d);
    if (e == nullptr) break;
    char target[256];
    ssize_t n = readlink((dir + "/" + e->d_name).c_str(), target, sizeof target - 1);
    if (n > 0) links.emplace_back(target, static_cast<size_t>(n));
  }
  if (d) closedir(d);
  return links;
}

TEST(ExporterHttp, HostileClientsNeitherCrashItNorDisturbTheCollector) {
  Install install;
  CopyExampleModel(install);
  std::string envFile = install.root() + "/collector.env";
  WriteEnvFile(envFile, install.env());
  int port = freePort();
  ExporterProcess e(install, {"--web.listen-address=127.0.0.1:" + std::to_string(port), "--collector.env-file",
                              envFile, "--collector.command=" + builtProgram("qvdclient"), "--collector.max-age=5s"});
  std::string body;
  ASSERT_TRUE(WaitUntil([&] { return HttpGet(port, "/metrics", &body) == 200 && SampleOf(body, "velora_up") == 1; },
                        30))
      << e.log();
  pid_t collector = e.collectorPid();

  // The collector holds none of the exporter's sockets: not the HTTP one.
  std::string inode = ListeningInode(port);
  ASSERT_FALSE(inode.empty());
  for (const std::string& link : Descriptors(collector)) EXPECT_NE(link, "socket:[" + inode + "]");

  // Unknown paths, a header far beyond the limit, a request that is no HTTP.
  EXPECT_EQ(HttpGet(port, "/"), 404);
  EXPECT_EQ(HttpGet(port, "/metrics/../../etc/passwd"), 404);
  std::string code = std::to_string(HttpGet(port, "/metrics", nullptr, 10, "X-Big: " + std::string(200000, 'a') + "\r\n"));
  EXPECT_TRUE(code == "-1" || code[0] == '4') << code;
  int junk = ConnectLoopback(port);
  ASSERT_GE(junk, 0);
  std::string garbage = std::string(5000, '\x01') + "\r\n\r\n";
  send(junk, garbage.data(), garbage.size(), MSG_NOSIGNAL);
  close(junk);

  // Clients that start a request and never finish it, more of them than the
  // server has threads, hold on while the link goes on.
  std::vector<int> slow;
  for (int i = 0; i < 12; ++i) {
    int fd = ConnectLoopback(port);
    ASSERT_GE(fd, 0);
    send(fd, "GET /metrics HTTP/1.1\r\nHost: x\r\n", 31, MSG_NOSIGNAL);
    slow.push_back(fd);
  }
  std::this_thread::sleep_for(std::chrono::seconds(2));
  for (int fd : slow) close(fd);
  ASSERT_TRUE(WaitUntil([&] { return HttpGet(port, "/metrics", &body) == 200; }, 30)) << e.log();
  EXPECT_EQ(SampleOf(body, "velora_up"), 1);
  EXPECT_EQ(SampleOf(body, "qvdexporter_collector_restarts_total"), 0);
  EXPECT_EQ(SampleOf(body, "qvdexporter_protocol_violations_total"), 0);
  EXPECT_EQ(e.collectorPid(), collector);

  // A hundred scrapes at once, once the answers are older than max-age: one
  // round for all of them.
  double rounds = SampleOf(body, "qvdexporter_collector_rounds_total");
  std::this_thread::sleep_for(std::chrono::milliseconds(5500));
  std::atomic<int> ok{0};
  std::vector<double> seen(100, -1);
  std::vector<std::thread> scrapers;
  for (int i = 0; i < 100; ++i)
    scrapers.emplace_back([&, i] {
      std::string b;
      if (HttpGet(port, "/metrics", &b, 30) == 200 && SampleOf(b, "velora_up") == 1) {
        ++ok;
        seen[i] = SampleOf(b, "qvdexporter_collector_rounds_total");
      }
    });
  for (auto& t : scrapers) t.join();
  EXPECT_EQ(ok, 100);
  for (double r : seen) EXPECT_EQ(r, rounds + 1);
  EXPECT_TRUE(e.running());
  EXPECT_EQ(e.Stop(), 0);
  EXPECT_TRUE(ProcessGone(collector));
}

}  // namespace
}  // namespace e2e
