// Test support for the statistics builders: a loopback stand-in for the
// monitoring agent, the snapshot set-up, and the straightforward builders
// used as the oracle of the fast ones.
#ifndef QVD_STATS_FAKE_AGENT_TESTUTIL_H_
#define QVD_STATS_FAKE_AGENT_TESTUTIL_H_

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "gtest/gtest.h"

using Row = std::vector<std::string>;
using Rows = std::vector<Row>;

// A minimal agent on 127.0.0.1: the agent link client (cp_*) connects to
// it, registers every group of the catalogue and completes registration.
// Answer(group, build) files a data request for `group`, runs `build` with
// the request id (the builder adds rows with cp_SetAttributeValues), sends
// the answer with cp_SendData and returns the rows the agent received.
// One agent per process at a time; construction asserts the connection.
class FakeAgent {
 public:
  FakeAgent();
  ~FakeAgent();

  Rows Answer(const std::string& group, const std::function<void(const char* id)>& build);

 private:
  std::string NextLine();
  void ReadLoop();

  int listenFd_ = -1;
  int fd_ = -1;
  int nextId_ = 1;
  std::thread reader_;
  std::mutex mu_;
  std::condition_variable cv_;
  std::deque<std::string> lines_;
  bool closed_ = false;
};

// Base of the builder test suites.  The tests of a suite share one
// FakeAgent (made before the first test, removed after the last).  Before
// each test the server name is "Velora1/Acme" and the previous kilobyte
// counters are 0; after it the snapshot is freed.  A suite that overrides
// one of these calls it too.
class FakeAgentTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite();
  static void TearDownTestSuite();
  void SetUp() override;
  void TearDown() override;

  static FakeAgent* agent_;
};

// The rows of one dataResponse line (values unescaped; absent values are "").
Rows ParseRows(const std::string& line);

// Installs `text` as the current snapshot (names lower-cased as by the
// server fetch).
void InstallSnapshot(const std::string& text);

// Sets the thousands and decimal separators of intl_format.
void SetSeparators(char thousands, char decimal);

// --- the oracle: the builders as first described, one plain search per
// column and consumed destination lines marked in the text.  Each works on
// the current snapshot and returns its rows instead of sending them.

Rows OracleSingleRow(const char* groupName);
Rows OracleMailByDest(const char* groupName);
// The task rows without their duration column (it follows the clock).
Rows OracleTasks();

#endif  // QVD_STATS_FAKE_AGENT_TESTUTIL_H_
