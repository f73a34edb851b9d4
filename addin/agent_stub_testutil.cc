#include "addin/agent_stub_testutil.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <regex>

#include "agentlink/cp_client.h"
#include "gtest/gtest.h"
#include "stats/catalogue.h"

AgentStub::AgentStub() {
  listen_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t n = sizeof a;
  EXPECT_EQ(0, bind(listen_, reinterpret_cast<sockaddr*>(&a), sizeof a));
  EXPECT_EQ(0, listen(listen_, 1));
  EXPECT_EQ(0, getsockname(listen_, reinterpret_cast<sockaddr*>(&a), &n));
  cp_setPort(ntohs(a.sin_port));
  EXPECT_EQ(CP_OK, cp_OpenConnection());
  peer_ = accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
  EXPECT_GE(peer_, 0);
  EXPECT_EQ(CP_OK, cp_RegisterAttrGroup("MV_Server", 1, MV_Server_Handle));
  EXPECT_EQ(CP_OK, cp_RegistrationComplete());
}

AgentStub::~AgentStub() {
  // The agent goes first, so the link's close need not wait for it.
  if (peer_ >= 0) close(peer_);
  cp_CloseConnection();
  if (listen_ >= 0) close(listen_);
}

void AgentStub::drain(int waitMs) {
  char buffer[4096];
  for (;;) {
    struct pollfd ready = {peer_, POLLIN, 0};
    if (poll(&ready, 1, waitMs) <= 0) return;
    ssize_t got = recv(peer_, buffer, sizeof buffer, 0);
    if (got <= 0) return;
    received_.append(buffer, static_cast<size_t>(got));
  }
}

std::vector<int> AgentStub::eventErrors() {
  drain(100);
  std::vector<int> out;
  std::regex error(R"re(<pureEvent><attrGroup name="MV_Server"><error rc="(-?\d+)"/>)re");
  for (std::sregex_iterator it(received_.begin(), received_.end(), error), end; it != end; ++it)
    out.push_back(std::stoi((*it)[1]));
  return out;
}

std::vector<std::string> AgentStub::eventRows() {
  drain(100);
  std::vector<std::string> out;
  std::regex row(R"re(<pureEvent><attrGroup name="MV_Server"><in><al>(.*?)</al></in>)re");
  std::regex value(R"re(<a v="([^"]*)"/>)re");
  for (std::sregex_iterator it(received_.begin(), received_.end(), row), end; it != end; ++it) {
    std::string values = (*it)[1], joined;
    bool first = true;
    for (std::sregex_iterator v(values.begin(), values.end(), value); v != end; ++v) {
      joined += (first ? "" : "|") + (*v)[1].str();
      first = false;
    }
    out.push_back(joined);
  }
  return out;
}
