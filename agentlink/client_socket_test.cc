// Framing of the incoming byte stream and whole writes, against a loopback
// stand-in for the agent.
#include "agentlink/client_socket.h"

#include <fcntl.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "agentlink/loopback_peer_testutil.h"

namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;

// Runs `work` on a thread of its own and waits up to `limit` for it.  When
// it has not returned by then, `unblock` is run so that the thread ends, and
// the result is false.
bool FinishesWithin(seconds limit, const std::function<void()>& work, const std::function<void()>& unblock) {
  std::promise<void> done;
  std::future<void> finished = done.get_future();
  std::thread t([&] {
    work();
    done.set_value();
  });
  bool inTime = finished.wait_for(limit) == std::future_status::ready;
  if (!inTime) unblock();
  t.join();
  return inTime;
}

// Far more than the buffers of a loopback connection hold.
std::string Flood() { return std::string(32 << 20, 'f') + "\n"; }

bool Traced(size_t mark, const std::string& text) {
  return testutil::TraceSince(mark).find(text) != std::string::npos;
}

class ClientSocketTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sock_.reset(new PWX::ClientSocket(peer_.port(), "127.0.0.1"));
    ASSERT_TRUE(sock_->open());
    ASSERT_TRUE(peer_.accept());
  }

  // Sends the chunks with a pause between them, so they arrive in separate
  // reads, while the test thread receives.
  std::thread SendChunks(std::vector<std::string> chunks) {
    return std::thread([this, chunks] {
      for (const auto& c : chunks) {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        peer_.send(c);
      }
    });
  }

  std::string Receive(bool* ok = nullptr) {
    PWX::String msg(16);
    bool r = sock_->receive(&msg);
    if (ok != nullptr) *ok = r;
    return msg.c_str();
  }

  testutil::LoopbackPeer peer_;
  std::unique_ptr<PWX::ClientSocket> sock_;
};

// A child program started by the collector must not inherit the agent
// connection: it would keep the link open after the collector has ended.
TEST_F(ClientSocketTest, ConnectionIsNotInheritedByChildPrograms) {
  int flags = fcntl(sock_->descriptor(), F_GETFD);
  ASSERT_GE(flags, 0);
  EXPECT_TRUE(flags & FD_CLOEXEC);
}

TEST_F(ClientSocketTest, TwoMessagesInOneRead) {
  peer_.send("<a x=\"1\"/>\n<b/>\n");
  EXPECT_EQ(Receive(), "<a x=\"1\"/>");
  // The second comes from what was kept: the peer closing changes nothing.
  peer_.closeConnection();
  bool ok = false;
  EXPECT_EQ(Receive(&ok), "<b/>");
  EXPECT_TRUE(ok);
  Receive(&ok);
  EXPECT_FALSE(ok);
}

TEST_F(ClientSocketTest, MessageOverThreeReads) {
  std::thread t = SendChunks({"<dataRequest id=\"1\">", "<attrGroup name=\"G\"/>", "</dataRequest>\n"});
  EXPECT_EQ(Receive(), "<dataRequest id=\"1\"><attrGroup name=\"G\"/></dataRequest>");
  t.join();
}

TEST_F(ClientSocketTest, ReadEndingAtTheTerminatorKeepsNothing) {
  peer_.send("<a/>\n");
  EXPECT_EQ(Receive(), "<a/>");
  std::thread t = SendChunks({"<b/>\n"});
  EXPECT_EQ(Receive(), "<b/>");
  t.join();
}

TEST_F(ClientSocketTest, TerminatorSplitOverTwoReads) {
  std::thread t = SendChunks({"<a x=\"1\">", "\n<b/>\n"});
  EXPECT_EQ(Receive(), "<a x=\"1\">");
  EXPECT_EQ(Receive(), "<b/>");
  t.join();
  // A line feed without '>' before it is no terminator.
  std::thread t2 = SendChunks({"<c>x\n", "y</c>\n"});
  EXPECT_EQ(Receive(), "<c>x\ny</c>");
  t2.join();
}

TEST_F(ClientSocketTest, PeerClosingMidMessage) {
  peer_.send("<a/>\n<dataRequest id=\"1\">");
  EXPECT_EQ(Receive(), "<a/>");
  peer_.closeConnection();
  bool ok = true;
  Receive(&ok);
  EXPECT_FALSE(ok);
}

TEST_F(ClientSocketTest, OverlongMessageIsDroppedThroughItsTerminator) {
  sock_->setMaxMessageLength(100);
  std::string junk(5000, 'x');
  std::thread t = SendChunks({"<a>" + junk, junk + ">", "\n<ok/>\n"});
  EXPECT_EQ(Receive(), "<ok/>");
  t.join();
  // A message right at the limit still passes.
  std::string fits = "<a>" + std::string(93, 'y') + "</a>";
  ASSERT_EQ(fits.size(), 100u);
  peer_.send(fits + "\n");
  EXPECT_EQ(Receive(), fits);
}

TEST_F(ClientSocketTest, WritesWholeMessagesFromManyThreads) {
  const int kThreads = 4, kPerThread = 200;
  std::vector<std::thread> writers;
  for (int t = 0; t < kThreads; ++t) {
    writers.emplace_back([this, t] {
      // Large enough that a send may be cut short by the socket buffer.
      std::string body(20000 + t, static_cast<char>('a' + t));
      for (int i = 0; i < kPerThread; ++i) {
        std::string line = "<m t=\"" + std::to_string(t) + "\">" + body + "</m>\n";
        PWX::String msg(line.c_str());
        EXPECT_TRUE(sock_->write(&msg));
      }
    });
  }
  int counts[kThreads] = {};
  for (int n = 0; n < kThreads * kPerThread; ++n) {
    bool ok = false;
    std::string line = peer_.readLine(&ok);
    ASSERT_TRUE(ok);
    int t = line[6] - '0';
    ASSERT_TRUE(t >= 0 && t < kThreads);
    EXPECT_EQ(line, "<m t=\"" + std::to_string(t) + "\">" + std::string(20000 + t, static_cast<char>('a' + t)) + "</m>");
    counts[t]++;
  }
  for (auto& w : writers) w.join();
  for (int c : counts) EXPECT_EQ(c, kPerThread);
}

TEST_F(ClientSocketTest, HeldWritesLeaveTogetherInTheOrderOfTheCalls) {
  auto write = [this](const std::string& text) {
    PWX::String msg(text.c_str());
    return sock_->write(&msg);
  };
  EXPECT_TRUE(sock_->releaseWrites());  // nothing held: nothing to do
  sock_->holdWrites();
  EXPECT_TRUE(write("<a/>\n"));
  EXPECT_TRUE(write("<b/>\n"));
  EXPECT_TRUE(peer_.quiet(100));
  // Another thread's message is not held, and what was held goes first.
  std::thread other([&] { EXPECT_TRUE(write("<c/>\n")); });
  other.join();
  EXPECT_EQ(peer_.readLine(), "<a/>");
  EXPECT_EQ(peer_.readLine(), "<b/>");
  EXPECT_EQ(peer_.readLine(), "<c/>");
  // Still holding: a message too big to gather goes out at once, after
  // what was gathered before it.
  EXPECT_TRUE(write("<d/>\n"));
  std::string big = "<big>" + std::string(PWX::ClientSocket::kHoldLimit, 'z') + "</big>";
  std::thread bigReader([&] {
    EXPECT_EQ(peer_.readLine(), "<d/>");
    EXPECT_EQ(peer_.readLine(), big);
  });
  EXPECT_TRUE(write(big + "\n"));
  bigReader.join();
  // Many small messages beyond the limit leave whole and in order.
  const int kMany = 3000;
  for (int i = 0; i < kMany; ++i) EXPECT_TRUE(write("<n i=\"" + std::to_string(i) + "\" pad=\"" + std::string(40, 'p') + "\"/>\n"));
  EXPECT_TRUE(write("<e/>\n"));
  EXPECT_TRUE(sock_->releaseWrites());
  for (int i = 0; i < kMany; ++i)
    ASSERT_EQ(peer_.readLine(), "<n i=\"" + std::to_string(i) + "\" pad=\"" + std::string(40, 'p') + "\"/>");
  EXPECT_EQ(peer_.readLine(), "<e/>");
  // After the release nothing is held.
  EXPECT_TRUE(write("<f/>\n"));
  EXPECT_EQ(peer_.readLine(), "<f/>");

  // A failed send shows at the release.
  sock_->holdWrites();
  EXPECT_TRUE(write("<g/>\n"));
  sock_->shutdownBoth();
  EXPECT_FALSE(sock_->releaseWrites());
}

TEST_F(ClientSocketTest, ShutdownWakesABlockedReceive) {
  std::thread t([this] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    sock_->shutdownBoth();
  });
  bool ok = true;
  Receive(&ok);
  EXPECT_FALSE(ok);
  t.join();
  PWX::String msg("<x/>\n");
  EXPECT_FALSE(sock_->write(&msg));
}

// An agent that takes nothing: the write gives up after the stall limit,
// and the link is given up whole, so the receiving side sees the end too.
TEST_F(ClientSocketTest, AgentTakingNothingMakesTheWriteGiveTheLinkUp) {
  sock_->setStallLimit(milliseconds(300));
  std::string flood = Flood();
  size_t mark = testutil::TraceMark();
  bool written = true;
  EXPECT_TRUE(FinishesWithin(seconds(30), [&] { written = sock_->write(flood.data(), static_cast<int>(flood.size())); },
                             [&] { peer_.closeConnection(); }));
  EXPECT_FALSE(written);
  EXPECT_TRUE(sock_->givenUp());
  EXPECT_TRUE(Traced(mark, "The agent took no data for 1 seconds: giving the connection up"));
  PWX::String msg("<x/>\n");
  EXPECT_FALSE(sock_->write(&msg));
  bool received = true;
  Receive(&received);
  EXPECT_FALSE(received);
}

// An agent that reads slowly, in small pieces, but keeps reading gets every
// byte, however long the write takes in all.
TEST_F(ClientSocketTest, SlowReaderGetsEveryByteWhole) {
  sock_->setStallLimit(seconds(2));
  std::string text;
  for (int i = 0; text.size() < (6u << 20); ++i) text += "<m i=\"" + std::to_string(i) + "\"/>\n";
  std::string got;
  std::thread agent([&] { got = peer_.readSlowly(text.size(), 2048, 1); });
  EXPECT_TRUE(sock_->write(text.data(), static_cast<int>(text.size())));
  agent.join();
  EXPECT_FALSE(sock_->givenUp());
  EXPECT_EQ(got.size(), text.size());
  EXPECT_TRUE(got == text);
}

// The writing thread's wait hook runs about once a second while the agent
// takes nothing; when it asks to end, the write gets one more second and
// the link is given up, but not shut down: receiving goes on.
TEST_F(ClientSocketTest, WaitHookRunsWhileAWriteWaitsAndCanEndIt) {
  sock_->setStallLimit(seconds(120));
  std::string flood = Flood();
  size_t mark = testutil::TraceMark();
  std::atomic<int> calls{0};
  bool written = true;
  EXPECT_TRUE(FinishesWithin(seconds(30),
                             [&] {
                               PWX::ClientSocket::setWaitHook(
                                   [](void* arg) { return ++*static_cast<std::atomic<int>*>(arg) >= 3 ? 1 : 0; },
                                   &calls);
                               written = sock_->write(flood.data(), static_cast<int>(flood.size()));
                               PWX::ClientSocket::setWaitHook(nullptr, nullptr);
                             },
                             [&] { peer_.closeConnection(); }));
  EXPECT_FALSE(written);
  EXPECT_GE(calls.load(), 3);
  EXPECT_TRUE(Traced(mark, "The collector is ending and the agent did not take the rest of a message: "
                           "giving the connection up"));
  peer_.send("<a/>\n");
  EXPECT_EQ(Receive(), "<a/>");
  PWX::String msg("<x/>\n");
  EXPECT_FALSE(sock_->write(&msg));
}

// A thread that waits for another thread's stuck write runs its own hook
// meanwhile, and the ending, begun from a third thread, ends both writes.
TEST_F(ClientSocketTest, EndingEndsAStuckWriteAndTheWritesWaitingForIt) {
  sock_->setStallLimit(seconds(120));
  std::string flood = Flood();
  std::atomic<bool> stuckDone{false}, waiterDone{false};
  std::atomic<int> waiterCalls{0};
  bool stuckWritten = true, waiterWritten = true;
  std::thread stuck([&] {
    stuckWritten = sock_->write(flood.data(), static_cast<int>(flood.size()));
    stuckDone = true;
  });
  std::this_thread::sleep_for(milliseconds(200));
  std::thread waiter([&] {
    PWX::ClientSocket::setWaitHook([](void* arg) {
      ++*static_cast<std::atomic<int>*>(arg);
      return 0;
    },
                                   &waiterCalls);
    PWX::String msg("<w/>\n");
    waiterWritten = sock_->write(&msg);
    waiterDone = true;
  });
  for (int i = 0; i < 300 && waiterCalls.load() < 2; ++i) std::this_thread::sleep_for(milliseconds(100));
  EXPECT_GE(waiterCalls.load(), 2);
  EXPECT_FALSE(stuckDone.load());
  EXPECT_FALSE(waiterDone.load());
  sock_->beginEnding();
  for (int i = 0; i < 300 && !(stuckDone.load() && waiterDone.load()); ++i) std::this_thread::sleep_for(milliseconds(100));
  bool ended = stuckDone.load() && waiterDone.load();
  EXPECT_TRUE(ended);
  if (!ended) peer_.closeConnection();
  stuck.join();
  waiter.join();
  EXPECT_FALSE(stuckWritten);
  EXPECT_FALSE(waiterWritten);
}

}  // namespace
