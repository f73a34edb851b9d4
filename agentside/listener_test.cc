// The agent's listening socket: it takes the connection of the collector it
// started and refuses another local process that connects first.
#include "agentside/listener.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <fstream>

#include "agentside/collector_process.h"

namespace agentside {
namespace {

int Connect(int port) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(static_cast<uint16_t>(port));
  EXPECT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  return fd;
}

auto In(double seconds) {
  return std::chrono::steady_clock::now() +
         std::chrono::duration_cast<std::chrono::steady_clock::duration>(std::chrono::duration<double>(seconds));
}

TEST(Listener, AcceptsAnyoneWithoutAPeerAndGivesUpAtTheDeadlineOrWhenAsked) {
  LoopbackListener listener;
  std::string error;
  ASSERT_TRUE(listener.Listen(0, &error)) << error;
  ASSERT_GT(listener.port(), 0);
  int client = Connect(listener.port());
  int fd = listener.Accept(In(5), nullptr);
  EXPECT_GE(fd, 0);
  close(fd);
  close(client);
  EXPECT_EQ(listener.Accept(In(0.1), nullptr), -1);
  int calls = 0;
  EXPECT_EQ(listener.Accept(In(30), [&calls] { return ++calls < 3; }), -1);
  EXPECT_EQ(calls, 3);

  LoopbackListener second;
  EXPECT_FALSE(second.Listen(listener.port(), &error));
  EXPECT_NE(error.find("cannot listen on 127.0.0.1:" + std::to_string(listener.port())), std::string::npos);
}

TEST(Listener, OnlyTheStartedProcessOrItsChildrenMayConnect) {
  LoopbackListener listener;
  std::string error;
  ASSERT_TRUE(listener.Listen(0, &error)) << error;
  // The child connects after a moment (through bash's /dev/tcp, from a
  // shell's subshell, so a descendant holds the socket) and waits.
  CollectorProcess child;
  std::string script = "sleep 0.5; ( exec 3<>/dev/tcp/127.0.0.1/" + std::to_string(listener.port()) +
                       "; read -r -t 20 line <&3 ); exit 0";
  ASSERT_TRUE(child.Start({"bash", "-c", script}, {"PATH=/usr/bin:/bin"}, "", &error)) << error;
  // A stranger (this test process) connects first.
  int stranger = Connect(listener.port());
  int refused = 0;
  int fd = listener.Accept(In(20), nullptr, child.pid(), &refused);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(refused, 1);
  EXPECT_TRUE(PeerHeldBy(fd, child.pid()));
  // The stranger's connection was closed.
  char c;
  EXPECT_EQ(recv(stranger, &c, 1, 0), 0);
  ASSERT_EQ(send(fd, "x\n", 2, MSG_NOSIGNAL), 2);
  close(fd);
  close(stranger);
  for (int i = 0; i < 1000 && !child.Poll(); ++i) usleep(10000);
  EXPECT_EQ(child.status(), std::optional<int>(0));
}

}  // namespace
}  // namespace agentside
