// Test support for the add-in channel: a stand-in for the agent on a
// loopback port, with MV_Server registered, that keeps what the collector
// sends as event rows and event errors.  One at a time per process (the
// agent link is process-wide).
#ifndef QVD_ADDIN_AGENT_STUB_TESTUTIL_H_
#define QVD_ADDIN_AGENT_STUB_TESTUTIL_H_

#include <string>
#include <vector>

class AgentStub {
 public:
  // Listens, connects the agent link to it and completes the registration
  // of MV_Server (failures are test failures).
  AgentStub();
  // Closes both ends; the agent link is closed.
  ~AgentStub();
  AgentStub(const AgentStub&) = delete;
  AgentStub& operator=(const AgentStub&) = delete;

  // The rc of every event error received so far, in order.
  std::vector<int> eventErrors();
  // The values of every MV_Server event row received so far, each row's
  // values joined with '|', in order.
  std::vector<std::string> eventRows();

 private:
  // Reads what has arrived, waiting `waitMs` for more after the last byte.
  void drain(int waitMs);

  int listen_ = -1;
  int peer_ = -1;
  std::string received_;
};

#endif  // QVD_ADDIN_AGENT_STUB_TESTUTIL_H_
