// The event reader's record handling and the line client, over real
// sockets.
#include "addin/server_socket.h"

#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <ctime>
#include <thread>
#include <string>

#include "addin/client_socket.h"
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

TEST(ClientSocketTest, AddressesNamesAndReconnecting) {
  EXPECT_TRUE(QVD::ClientSocket::isIPAddress("127.0.0.1"));
  EXPECT_FALSE(QVD::ClientSocket::isIPAddress("host1"));
  EXPECT_TRUE(QVD::ClientSocket::isIPAddress(""));
  EXPECT_FALSE(QVD::ClientSocket::isIPAddress(nullptr));

  QVD::ClientSocket unknown(1, "no-such-host.invalid");
  EXPECT_FALSE(unknown.open());  // at once, without retrying

  ServerSocket listener;
  ASSERT_TRUE(listener.open(0, nullptr));
  ASSERT_GT(listener.port(), 0);
  QVD::ClientSocket client(listener.port(), "127.0.0.1");
  for (int round = 0; round < 2; ++round) {
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
