// The event reader's record handling, the event port that serves only the
// relay, and the line client, over real sockets.
#include "addin/server_socket.h"

#include <arpa/inet.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <ctime>
#include <thread>
#include <string>
#include <vector>

#include "addin/agent_stub_testutil.h"
#include "addin/loopback_testutil.h"
#include "addin/client_socket.h"
#include "addin/connection_peer.h"
#include "addin/event_collector.h"
#include "gtest/gtest.h"

namespace {

class ReceiveTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(0, socketpair(AF_UNIX, SOCK_STREAM, 0, fds_)); }
  void TearDown() override {
    if (fds_[0] >= 0) close(fds_[0]);
    close(fds_[1]);
  }
  void Send(const std::string& bytes) {
    ASSERT_EQ(static_cast<ssize_t>(bytes.size()), write(fds_[1], bytes.data(), bytes.size()));
  }
  std::string Receive() {
    QVD::String records;
    if (server_.receive(&records, fds_[0]) != 0) return "<closed>";
    return std::string(records.c_str(), static_cast<size_t>(records.length()));
  }
  ServerSocket server_;
  int fds_[2] = {-1, -1};
};

TEST_F(ReceiveTest, CompleteRecordsNowThePartialOneLater) {
  Send("E\x1f" "a\x1f" "b\x1f" "c\x1e" "E\x1f" "d\x1f" "e\x1e" "E\x1f" "hal");
  EXPECT_EQ("E\x1f" "a\x1f" "b\x1f" "c\x1e" "E\x1f" "d\x1f" "e\x1e", Receive());
  Send("f\x1f" "g\x1f" "1\x1e");
  EXPECT_EQ("E\x1f" "half\x1f" "g\x1f" "1\x1e", Receive());
  // A read without any separator keeps reading; zero bytes are dropped.
  std::string withZero("E\x1fz", 3);
  withZero.push_back('\0');
  Send(withZero);
  Send("z\x1e\x1e");
  EXPECT_EQ("E\x1fzz\x1e\x1e", Receive());
  close(fds_[1]);
  fds_[1] = dup(fds_[0]);  // keeps TearDown simple; the peer is gone
  shutdown(fds_[0], SHUT_WR);
}

TEST_F(ReceiveTest, OversizedRecordIsDroppedWholeAndReadingGoesOn) {
  std::string big(kMaxEventRecord + 10, 'x');
  std::thread writer([&] {
    Send("E\x1f" "ok1\x1e" + big.substr(0, 5000));
    Send(big + "\x1e" "E\x1f" "ok2\x1e");
  });
  EXPECT_EQ("E\x1f" "ok1\x1e", Receive());
  EXPECT_EQ("E\x1f" "ok2\x1e", Receive());
  writer.join();
  // A record just at the limit is kept.
  std::string limit = "E" + std::string(kMaxEventRecord - 1, 'y');
  std::thread writer2([&] { Send(limit + "\x1e"); });
  EXPECT_EQ(limit + "\x1e", Receive());
  writer2.join();
}

TEST_F(ReceiveTest, ClosedConnectionForgetsPendingBytes) {
  Send("E\x1fpending");
  std::thread closer([&] {
    usleep(50000);
    shutdown(fds_[1], SHUT_WR);
  });
  EXPECT_EQ("<closed>", Receive());
  closer.join();
}

TEST(EventTime, SixteenDigitsOfLocalTime) {
  time_t before = time(nullptr);
  char* text = get_timestamp();
  ASSERT_NE(nullptr, text);
  struct tm local;
  localtime_r(&before, &local);
  char expected[32];
  snprintf(expected, sizeof expected, "%03d%02d%02d%02d%02d", local.tm_year, local.tm_mon + 1,
           local.tm_mday, local.tm_hour, local.tm_min);
  EXPECT_EQ(16u, strlen(text));
  EXPECT_EQ(0, strncmp(expected, text, 11)) << text;  // the same minute, barring a tick
  EXPECT_STREQ("000", text + 13);
  free(text);
}

TEST(Registration, RecordBytes) {
  QVD::String r = registrationRecord("srv1", "40123");
  EXPECT_EQ(std::string("R\x1fsrv1\x1f" "40123\x1e"), std::string(r.c_str()));
}

// A process that connects to the loopback `port`, sends `bytes`, ends its
// sending side (its socket stays open) and waits until the other side
// closes, then ends.  It writes a byte to `notify` once it has sent.
pid_t Sender(int port, const std::string& bytes, int notify) {
  pid_t pid = fork();
  if (pid != 0) return pid;
  alarm(30);  // never outlives a failed test
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) _exit(1);
  if (send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(bytes.size())) _exit(2);
  shutdown(fd, SHUT_WR);
  if (write(notify, "x", 1) != 1) _exit(3);
  char c;
  while (recv(fd, &c, 1, 0) > 0) {
  }
  _exit(0);
}

// The peer check as the event collector makes it: only process `pid` (or
// one it started) passes; `seen` keeps which process held each peer.
struct OnlyFrom {
  pid_t pid;
  std::vector<long> seen;
  static bool check(int descriptor, void* arg) {
    auto* self = static_cast<OnlyFrom*>(arg);
    ConnectionPeer peer;
    bool ok = connectionMadeBy(descriptor, self->pid, &peer);
    self->seen.push_back(peer.pid);
    return ok;
  }
};

TEST(EventPort, ServesOnlyTheExpectedProcessAndClosesAnyOtherUnread) {
  AgentStub agent;
  ServerSocket server;
  ASSERT_TRUE(server.open(0, nullptr));
  int notify[2];
  ASSERT_EQ(0, pipe(notify));
  // A process of the same user connects first and sends a forged event.
  pid_t stranger = Sender(server.port(), "E\x1fsrv1/acme\x1f" "FORGED\x1f" "1\x1e", notify[1]);
  char c;
  ASSERT_EQ(1, read(notify[0], &c, 1));
  pid_t relay = Sender(server.port(), "E\x1fsrv2/acme\x1f" "genuine\x1f" "2\x1e", notify[1]);
  OnlyFrom only{relay, {}};
  server.setPeerCheck(OnlyFrom::check, &only);
  server.run();  // refuses the stranger, serves the relay until it ends its side
  EXPECT_EQ((std::vector<long>{-1, relay}), only.seen);
  std::vector<std::string> rows = agent.eventRows();
  ASSERT_EQ(1u, rows.size());
  EXPECT_EQ(0u, rows[0].find("srv2/acme|")) << rows[0];
  EXPECT_NE(std::string::npos, rows[0].find("|2|genuine")) << rows[0];
  int status = 0;
  EXPECT_EQ(stranger, waitpid(stranger, &status, 0));
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_EQ(relay, waitpid(relay, &status, 0));
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  close(notify[0]);
  close(notify[1]);
}

TEST(EventPort, PeerOfALoopbackConnection) {
  ServerSocket server;
  ASSERT_TRUE(server.open(0, nullptr));
  QVD::ClientSocket own(server.port(), "127.0.0.1");
  ASSERT_TRUE(own.open());
  int fd = accept(server.descriptor(), nullptr, nullptr);
  ASSERT_GE(fd, 0);
  ConnectionPeer peer;
  // This process holds the other end.
  EXPECT_TRUE(connectionMadeBy(fd, getpid(), &peer));
  EXPECT_EQ(getpid(), peer.pid);
  EXPECT_EQ(static_cast<long>(geteuid()), peer.uid);
  EXPECT_NE(0u, peer.inode);
  // A process this one started does not, nor does a pid that is no
  // process.
  int ready[2];
  ASSERT_EQ(0, pipe(ready));
  pid_t child = fork();
  if (child == 0) {
    alarm(30);
    close(own.descriptor());  // the copy the fork gave it
    if (write(ready[1], "x", 1) != 1) _exit(1);
    pause();
    _exit(0);
  }
  char c;
  ASSERT_EQ(1, read(ready[0], &c, 1));
  close(ready[0]);
  close(ready[1]);
  EXPECT_FALSE(connectionMadeBy(fd, child, &peer));
  EXPECT_EQ(-1, peer.pid);
  EXPECT_NE(0u, peer.inode);
  EXPECT_FALSE(connectionMadeBy(fd, 0, &peer));
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
  // A peer that has closed its end is not found any more.
  own.closeSocket();
  EXPECT_FALSE(connectionMadeBy(fd, getpid(), &peer));
  EXPECT_EQ(0u, peer.inode);
  close(fd);
}

// A pace that counts the pauses instead of sleeping; it says stop once
// `limit` pauses were taken.
class CountingPace : public AddInPace {
 public:
  explicit CountingPace(size_t limit = 100) : limit_(limit) {}
  bool sleep(unsigned seconds) override {
    pauses.push_back(seconds);
    return !stopping();
  }
  bool stopping() override { return pauses.size() >= limit_; }
  std::vector<unsigned> pauses;

 private:
  size_t limit_;
};

TEST(ClientSocketTest, FourAttemptsPausing2_4_8_16SecondsAndAStopEndsThem) {
  int port = ClosedPort();
  CountingPace pace;
  QVD::ClientSocket client(port, "127.0.0.1", &pace);
  EXPECT_FALSE(client.open());
  EXPECT_EQ((std::vector<unsigned>{2, 4, 8, 16}), pace.pauses);
  EXPECT_EQ(-1, client.descriptor());

  CountingPace stopAfterTwo(2);
  QVD::ClientSocket stopped(port, "127.0.0.1", &stopAfterTwo);
  EXPECT_FALSE(stopped.open());
  EXPECT_EQ((std::vector<unsigned>{2, 4}), stopAfterTwo.pauses);

  // A name that does not resolve and dotted text that is no address fail
  // at once, without a pause.
  CountingPace none;
  QVD::ClientSocket unknown(1, "no-such-host.invalid", &none);
  EXPECT_FALSE(unknown.open());
  QVD::ClientSocket tooMany(port, "1.2.3.4.5", &none);
  EXPECT_FALSE(tooMany.open());
  EXPECT_TRUE(none.pauses.empty());
}

TEST(ClientSocketTest, AddressesNamesAndReconnecting) {
  EXPECT_TRUE(QVD::ClientSocket::isIPAddress("127.0.0.1"));
  EXPECT_FALSE(QVD::ClientSocket::isIPAddress("host1"));
  EXPECT_TRUE(QVD::ClientSocket::isIPAddress(""));
  EXPECT_FALSE(QVD::ClientSocket::isIPAddress(nullptr));

  ServerSocket listener;
  ASSERT_TRUE(listener.open(0, nullptr));
  ASSERT_GT(listener.port(), 0);
  QVD::ClientSocket dotted(listener.port(), "127.0.0.1");
  // Every dotted form that isIPAddress takes is converted ("127.1" is
  // 127.0.0.1), not only the four-part one.
  QVD::ClientSocket shortForm(listener.port(), "127.1");
  for (int round = 0; round < 3; ++round) {
    QVD::ClientSocket& client = round < 2 ? dotted : shortForm;
    ASSERT_TRUE(client.open()) << round;
    int peer = accept(listener.descriptor(), nullptr, nullptr);
    ASSERT_GE(peer, 0);
    QVD::String text("R\x1fsrv\x1f" "1\x1e");
    EXPECT_TRUE(client.write(&text));
    char buffer[16] = {};
    EXPECT_EQ(8, recv(peer, buffer, 8, MSG_WAITALL));
    client.closeSocket();
    EXPECT_EQ(-1, client.descriptor());
    close(peer);
  }
}

}  // namespace
