// The cp_ client API against a loopback stand-in for the agent: states and
// result codes, every outgoing message byte for byte, request decoding,
// lost connections and concurrent senders.
#include "agentlink/cp_client.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <future>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "agentlink/loopback_peer_testutil.h"

namespace {

int handleG, handleH, handleNever;

struct Request {
  CpRequest* r = nullptr;
  int rc = 0;
  ~Request() { cp_FreeRequest(r); }
};

// Connection set up to the registered state with groups G (version 1) and
// H (version 2).
class CpClientTest : public ::testing::Test {
 protected:
  void SetUp() override {
    cp_setPort(peer_.port());
    ASSERT_EQ(cp_OpenConnection(), CP_OK);
    ASSERT_TRUE(peer_.accept());
    ASSERT_EQ(cp_RegisterAttrGroup("G", 1, &handleG), CP_OK);
    ASSERT_EQ(cp_RegisterAttrGroup("H", 2, &handleH), CP_OK);
    ASSERT_EQ(cp_RegistrationComplete(), CP_OK);
    registration_ = peer_.readLine();
  }
  // The agent goes first, so the close need not wait for it.
  void TearDown() override {
    peer_.closeConnection();
    cp_CloseConnection();
  }

  void Wait(Request* req) { req->rc = cp_WaitForRequest(&req->r); }

  // Sends a data request for `group` and waits for it.
  void DataRequest(const std::string& id, const std::string& group) {
    peer_.send("<dataRequest id=\"" + id + "\"><attrGroup name=\"" + group + "\"/></dataRequest>\n");
    Request req;
    Wait(&req);
    ASSERT_EQ(req.r->type, CP_REQ_DATA);
  }

  testutil::LoopbackPeer peer_;
  std::string registration_;
};

TEST(CpClientStates, WrongStateCallsChangeNothingAndReturnMinus4) {
  cp_CloseConnection();
  size_t mark = testutil::TraceMark();
  const char* row[] = {"x"};
  EXPECT_EQ(cp_RegisterAttrGroup("G", 1, &handleG), CP_ERR_STATE);
  EXPECT_EQ(cp_RegistrationComplete(), CP_ERR_STATE);
  EXPECT_EQ(cp_SetAttributeValues(row, 1, "1"), CP_ERR_STATE);
  EXPECT_EQ(cp_SendData("1"), CP_ERR_STATE);
  EXPECT_EQ(cp_SendError(-1, "1"), CP_ERR_STATE);
  EXPECT_EQ(cp_SendEventData(row, 1, &handleG), CP_ERR_STATE);
  EXPECT_EQ(cp_SendSubnodeEventError(-1, &handleG, "s"), CP_ERR_STATE);
  EXPECT_EQ(cp_SendTaskRC(0, "1"), CP_ERR_STATE);
  CpRequest* req = nullptr;
  EXPECT_EQ(cp_WaitForRequest(&req), CP_ERR_STATE);
  ASSERT_NE(req, nullptr);  // handed out even on failure
  cp_FreeRequest(req);
  std::string trace = testutil::TraceSince(mark);
  EXPECT_NE(trace.find("Called with illegal state.  Expected 1 (OPEN_SOCKET_STATE), got 3."), std::string::npos);
  EXPECT_NE(trace.find("Called with illegal state.  Expected 2 (REG_COMPLETE_STATE), got 3."), std::string::npos);

  // Open: registration allowed, requests and answers not yet.
  testutil::LoopbackPeer peer;
  cp_setPort(peer.port());
  ASSERT_EQ(cp_OpenConnection(), CP_OK);
  ASSERT_TRUE(peer.accept());
  EXPECT_EQ(cp_SendEventData(row, 1, &handleG), CP_ERR_STATE);
  req = nullptr;
  EXPECT_EQ(cp_WaitForRequest(&req), CP_ERR_STATE);
  cp_FreeRequest(req);
  EXPECT_TRUE(peer.quiet());  // nothing half-done went out
  // No group: the registration is still a whole message.
  EXPECT_EQ(cp_RegistrationComplete(), CP_OK);
  EXPECT_EQ(peer.readLine(), "<cpciRegister ver=\"4\"><attrGroupList></attrGroupList></cpciRegister>");
  EXPECT_EQ(cp_RegisterAttrGroup("G", 1, &handleG), CP_ERR_STATE);
  EXPECT_EQ(cp_RegistrationComplete(), CP_ERR_STATE);
  EXPECT_EQ(cp_CloseConnection(), CP_OK);
  EXPECT_EQ(cp_CloseConnection(), CP_OK);  // twice is harmless
  cp_FreeRequest(nullptr);
}

TEST(CpClientStates, PortFromTheEnvironment) {
  cp_setPort(-1);
  unsetenv("CP_PORT");
  EXPECT_EQ(cp_OpenConnection(), CP_ERR_NO_PORT);
  testutil::LoopbackPeer peer;
  setenv("CP_PORT", std::to_string(peer.port()).c_str(), 1);
  EXPECT_EQ(cp_OpenConnection(), CP_OK);
  EXPECT_TRUE(peer.accept());
  unsetenv("CP_PORT");
  cp_CloseConnection();
}

TEST_F(CpClientTest, RegistrationListsEveryGroupOnce) {
  // The order is the registry's; both groups appear exactly once.
  const std::string g = "<attrGroup name=\"G\" ver=\"1\"/>", h = "<attrGroup name=\"H\" ver=\"2\"/>";
  EXPECT_TRUE(registration_ == "<cpciRegister ver=\"4\"><attrGroupList>" + g + h + "</attrGroupList></cpciRegister>" ||
              registration_ == "<cpciRegister ver=\"4\"><attrGroupList>" + h + g + "</attrGroupList></cpciRegister>")
      << registration_;

  // A name registered twice is listed once, with the newer version and handle.
  testutil::LoopbackPeer peer;
  cp_setPort(peer.port());
  ASSERT_EQ(cp_OpenConnection(), CP_OK);  // closes the old connection first
  ASSERT_TRUE(peer.accept());
  ASSERT_EQ(cp_RegisterAttrGroup("G", 1, &handleG), CP_OK);
  ASSERT_EQ(cp_RegisterAttrGroup("G", -7, &handleH), CP_OK);
  ASSERT_EQ(cp_RegistrationComplete(), CP_OK);
  EXPECT_EQ(peer.readLine(),
            "<cpciRegister ver=\"4\"><attrGroupList><attrGroup name=\"G\" ver=\"-7\"/></attrGroupList></cpciRegister>");
  const char* row[] = {"1"};
  EXPECT_EQ(cp_SendEventData(row, 1, &handleG), CP_ERR_HANDLE);
  EXPECT_EQ(cp_SendEventData(row, 1, &handleH), CP_OK);
}

TEST_F(CpClientTest, DataRequestAnsweredWithEscapedRows) {
  peer_.send(
      "<dataRequest id=\"12\" requestStartedID=\"3\" subnode=\"n1\"><attrGroup name=\"G\"/>"
      "<requestInfo name=\"col\" value=\"v&amp;1\" op=\"EQ\"/><requestInfo name=\"x\"/>"
      "<requestInfo name=\"c2\" value=\"2\" logOp=\"OR\"/></dataRequest>\n");
  Request req;
  Wait(&req);
  ASSERT_EQ(req.rc, CP_OK);
  EXPECT_EQ(req.r->type, CP_REQ_DATA);
  EXPECT_EQ(req.r->handle, &handleG);
  EXPECT_STREQ(req.r->id, "12");
  EXPECT_STREQ(req.r->requestStartedID, "3");
  EXPECT_STREQ(req.r->subnode, "n1");
  ASSERT_NE(req.r->requestInfo, nullptr);
  EXPECT_STREQ(req.r->requestInfo->name, "col");
  EXPECT_STREQ(req.r->requestInfo->value, "v&1");
  EXPECT_STREQ(req.r->requestInfo->op, "EQ");
  EXPECT_EQ(req.r->requestInfo->logOp, nullptr);
  ASSERT_NE(req.r->requestInfo->next, nullptr);  // the entry without a value is dropped
  EXPECT_STREQ(req.r->requestInfo->next->name, "c2");
  EXPECT_EQ(req.r->requestInfo->next->op, nullptr);
  EXPECT_STREQ(req.r->requestInfo->next->logOp, "OR");
  EXPECT_EQ(req.r->requestInfo->next->next, nullptr);

  const char* row1[] = {"3", "a&b"};
  const char* row2[] = {"a<b&\"", nullptr, "q'x>y\nz"};
  EXPECT_EQ(cp_SetAttributeValues(row1, 2, "12"), CP_OK);
  EXPECT_EQ(cp_SetAttributeValues(row2, 3, "12"), CP_OK);
  EXPECT_EQ(cp_SetAttributeValues(nullptr, 0, "12"), CP_OK);
  EXPECT_EQ(cp_SendData("12"), CP_OK);
  EXPECT_EQ(peer_.readLine(),
            "<dataResponse id=\"12\"><attrGroup name=\"G\">"
            "<in><al><a v=\"3\"/><a v=\"a&amp;b\"/></al></in>"
            "<in><al><a v=\"a&lt;b&amp;&quot;\"/><a v=\"\"/><a v=\"q&apos;x&gt;y&#10;z\"/></al></in>"
            "<in><al></al></in>"
            "</attrGroup></dataResponse>");
  // Answered: the id is no longer outstanding and nothing more is written.
  EXPECT_EQ(cp_SendData("12"), CP_ERR_ID);
  EXPECT_EQ(cp_SetAttributeValues(row1, 2, "12"), CP_ERR_ID);
  EXPECT_EQ(cp_SendError(-1, "12"), CP_ERR_ID);
  EXPECT_EQ(cp_SendData("never"), CP_ERR_ID);
  EXPECT_EQ(cp_SendData(nullptr), CP_ERR_ID);
  EXPECT_TRUE(peer_.quiet());
}

TEST_F(CpClientTest, EmptyAnswersErrorsAndBufferReuse) {
  DataRequest("5", "G");
  EXPECT_EQ(cp_SendData("5"), CP_OK);
  EXPECT_EQ(peer_.readLine(), "<dataResponse id=\"5\"><attrGroup name=\"G\"></attrGroup></dataResponse>");

  DataRequest("6", "G");
  const char* row[] = {"r"};
  EXPECT_EQ(cp_SetAttributeValues(row, 1, "6"), CP_OK);
  EXPECT_EQ(cp_SetAttributeValues(row, 1, "6"), CP_OK);
  EXPECT_EQ(cp_SendError(-3, "6"), CP_OK);
  EXPECT_EQ(peer_.readLine(), "<dataResponse id=\"6\"><attrGroup name=\"G\"><error rc=\"-3\"/></attrGroup></dataResponse>");
  EXPECT_EQ(cp_SendError(-3, "6"), CP_ERR_ID);

  // The rows of the errored answer are gone.
  DataRequest("7", "G");
  const char* row7[] = {"seven"};
  EXPECT_EQ(cp_SetAttributeValues(row7, 1, "7"), CP_OK);
  EXPECT_EQ(cp_SendData("7"), CP_OK);
  EXPECT_EQ(peer_.readLine(),
            "<dataResponse id=\"7\"><attrGroup name=\"G\"><in><al><a v=\"seven\"/></al></in></attrGroup></dataResponse>");
}

TEST_F(CpClientTest, OneBufferedAnswerPerGroupAtATime) {
  DataRequest("1", "G");
  DataRequest("2", "G");
  DataRequest("3", "H");
  const char* row[] = {"x"};
  EXPECT_EQ(cp_SetAttributeValues(row, 1, "1"), CP_OK);
  EXPECT_EQ(cp_SetAttributeValues(row, 1, "2"), CP_ERR_STATE);  // would mix two answers
  EXPECT_EQ(cp_SetAttributeValues(row, 1, "3"), CP_OK);          // another group is fine
  EXPECT_EQ(cp_SendData("2"), CP_ERR_STATE);
  EXPECT_EQ(cp_SendError(9, "2"), CP_OK);  // an error needs no buffer and keeps 1's rows
  EXPECT_EQ(peer_.readLine(), "<dataResponse id=\"2\"><attrGroup name=\"G\"><error rc=\"9\"/></attrGroup></dataResponse>");
  EXPECT_EQ(cp_SendData("3"), CP_OK);
  EXPECT_EQ(peer_.readLine(), "<dataResponse id=\"3\"><attrGroup name=\"H\"><in><al><a v=\"x\"/></al></in></attrGroup></dataResponse>");
  EXPECT_EQ(cp_SendData("1"), CP_OK);
  EXPECT_EQ(peer_.readLine(), "<dataResponse id=\"1\"><attrGroup name=\"G\"><in><al><a v=\"x\"/></al></in></attrGroup></dataResponse>");
}

TEST_F(CpClientTest, HeldAnswersLeaveAtTheRelease) {
  DataRequest("1", "G");
  DataRequest("2", "H");
  DataRequest("3", "G");
  ASSERT_EQ(cp_HoldAnswers(), CP_OK);
  const char* row[] = {"x"};
  EXPECT_EQ(cp_SetAttributeValues(row, 1, "1"), CP_OK);
  EXPECT_EQ(cp_SendData("1"), CP_OK);
  EXPECT_EQ(cp_SendError(4, "2"), CP_OK);
  EXPECT_EQ(cp_SendData("1"), CP_ERR_ID);  // retired although not yet written
  EXPECT_TRUE(peer_.quiet(100));
  EXPECT_EQ(cp_ReleaseAnswers(), CP_OK);
  EXPECT_EQ(peer_.readLine(), "<dataResponse id=\"1\"><attrGroup name=\"G\"><in><al><a v=\"x\"/></al></in></attrGroup></dataResponse>");
  EXPECT_EQ(peer_.readLine(), "<dataResponse id=\"2\"><attrGroup name=\"H\"><error rc=\"4\"/></attrGroup></dataResponse>");
  EXPECT_EQ(cp_ReleaseAnswers(), CP_OK);  // nothing held any more
  EXPECT_EQ(cp_SendData("3"), CP_OK);
  EXPECT_EQ(peer_.readLine(), "<dataResponse id=\"3\"><attrGroup name=\"G\"></attrGroup></dataResponse>");

  // Held answers of a closed connection are dropped; the calls say so.
  DataRequest("4", "G");
  ASSERT_EQ(cp_HoldAnswers(), CP_OK);
  EXPECT_EQ(cp_SendData("4"), CP_OK);
  cp_CloseConnection();
  EXPECT_EQ(cp_ReleaseAnswers(), CP_ERR_STATE);
  EXPECT_EQ(cp_HoldAnswers(), CP_ERR_STATE);
}

TEST_F(CpClientTest, NotifiedOnlyWhenAboutToBlock) {
  int calls = 0;
  auto count = [](void* arg) { ++*static_cast<int*>(arg); };
  // Three requests and a line that yields none, in one write.
  peer_.send("<dataRequest id=\"1\"><attrGroup name=\"G\"/></dataRequest>\n"
             "<dataRequest id=\"2\"><attrGroup name=\"Nope\"/></dataRequest>\n"
             "<dataRequest id=\"3\"><attrGroup name=\"H\"/></dataRequest>\n"
             "<dataRequest id=\"4\"><attrGroup name=\"G\"/></dataRequest>\n");
  for (const char* id : {"1", "3", "4"}) {
    Request req;
    req.rc = cp_WaitForRequestNotify(&req.r, count, &calls);
    ASSERT_EQ(req.rc, CP_OK);
    EXPECT_STREQ(req.r->id, id);
  }
  // Only the first call found nothing at hand (whether the bytes were
  // already there or not).
  EXPECT_LE(calls, 1);
  calls = 0;
  // A skipped line followed by nothing: told before blocking, and again
  // before blocking once more after the partial message.
  std::thread agent([this] {
    peer_.send("<dataRequest id=\"5\"><attrGroup name=\"Nope\"/></dataRequest>\n<dataReq");
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    peer_.send("uest id=\"6\"><attrGroup name=\"G\"/></dataRequest>\n");
  });
  Request req;
  req.rc = cp_WaitForRequestNotify(&req.r, count, &calls);
  agent.join();
  ASSERT_EQ(req.rc, CP_OK);
  EXPECT_STREQ(req.r->id, "6");
  EXPECT_GE(calls, 2);
}

TEST_F(CpClientTest, BigAnswerArrivesWhole) {
  DataRequest("big", "H");
  std::string value(100, 'v');
  const char* row[] = {value.c_str(), "a&b", nullptr};
  for (int i = 0; i < 10000; ++i) ASSERT_EQ(cp_SetAttributeValues(row, 3, "big"), CP_OK);
  ASSERT_EQ(cp_SendData("big"), CP_OK);
  std::string line = peer_.readLine();
  std::string rowText = "<in><al><a v=\"" + value + "\"/><a v=\"a&amp;b\"/><a v=\"\"/></al></in>";
  EXPECT_EQ(line.size(), std::string("<dataResponse id=\"big\"><attrGroup name=\"H\"></attrGroup></dataResponse>").size() +
                             10000 * rowText.size());
  EXPECT_EQ(line.substr(line.size() - 27 - rowText.size()), rowText + "</attrGroup></dataResponse>");
}

TEST_F(CpClientTest, EventsAndEventErrors) {
  const char* row[] = {"e1", "a\"b"};
  EXPECT_EQ(cp_SendEventData(row, 2, &handleH), CP_OK);
  EXPECT_EQ(peer_.readLine(), "<pureEvent><attrGroup name=\"H\"><in><al><a v=\"e1\"/><a v=\"a&quot;b\"/></al></in></attrGroup></pureEvent>");
  EXPECT_EQ(cp_SendSubnodeEventData(row, 1, &handleG, "sn"), CP_OK);
  EXPECT_EQ(peer_.readLine(), "<pureEvent subnode=\"sn\"><attrGroup name=\"G\"><in><al><a v=\"e1\"/></al></in></attrGroup></pureEvent>");
  EXPECT_EQ(cp_SendEventError(-1, &handleG), CP_OK);
  EXPECT_EQ(peer_.readLine(), "<pureEvent><attrGroup name=\"G\"><error rc=\"-1\"/></attrGroup></pureEvent>");
  EXPECT_EQ(cp_SendSubnodeEventError(42, &handleH, "s2"), CP_OK);
  EXPECT_EQ(peer_.readLine(), "<pureEvent subnode=\"s2\"><attrGroup name=\"H\"><error rc=\"42\"/></attrGroup></pureEvent>");
  EXPECT_EQ(cp_SendEventData(row, 2, &handleNever), CP_ERR_HANDLE);
  EXPECT_EQ(cp_SendEventError(1, nullptr), CP_ERR_HANDLE);
  EXPECT_TRUE(peer_.quiet());
}

TEST_F(CpClientTest, TaskRequestsAndTheirAnswers) {
  peer_.send("<taskRequest id=\"7\"><task command=\"restart\" user=\"ops\"/></taskRequest>\n");
  Request req;
  Wait(&req);
  EXPECT_EQ(req.r->type, CP_REQ_TASK);
  EXPECT_EQ(req.r->handle, nullptr);
  EXPECT_STREQ(req.r->id, "7");
  EXPECT_STREQ(req.r->command, "restart");
  EXPECT_STREQ(req.r->user, "ops");
  EXPECT_EQ(cp_SendData("7"), CP_ERR_ID);  // a task id is no data id
  EXPECT_EQ(cp_SendTaskRC(0, "7"), CP_OK);
  EXPECT_EQ(peer_.readLine(), "<taskResponse id=\"7\" rc=\"0\"/>");
  EXPECT_EQ(cp_SendTaskRC(0, "7"), CP_ERR_ID);
  DataRequest("8", "G");
  EXPECT_EQ(cp_SendTaskRC(-12, "8"), CP_ERR_ID);  // and a data id no task id
  EXPECT_EQ(cp_SendData("8"), CP_OK);
  peer_.readLine();

  // A line with both kinds is a data request.
  peer_.send("<x><taskRequest id=\"1\"/><dataRequest id=\"2\"/><attrGroup name=\"H\"/></x>\n");
  Request both;
  Wait(&both);
  EXPECT_EQ(both.r->type, CP_REQ_DATA);
  EXPECT_STREQ(both.r->id, "2");
}

TEST_F(CpClientTest, IdOutstandingAlreadyIsSkippedWhateverItsKind) {
  size_t mark = testutil::TraceMark();
  peer_.send("<dataRequest id=\"1\"><attrGroup name=\"G\"/></dataRequest>\n"
             "<dataRequest id=\"1\" subnode=\"s\"><attrGroup name=\"H\"/></dataRequest>\n"
             "<taskRequest id=\"1\"><task command=\"c\"/></taskRequest>\n"
             "<taskRequest id=\"2\"><task command=\"c\"/></taskRequest>\n"
             "<dataRequest id=\"2\"><attrGroup name=\"G\"/></dataRequest>\n"
             "<dataRequest id=\"3\"><attrGroup name=\"H\"/></dataRequest>\n");
  Request first, task, third;
  Wait(&first);
  EXPECT_STREQ(first.r->id, "1");
  EXPECT_EQ(first.r->handle, &handleG);
  Wait(&task);
  EXPECT_EQ(task.r->type, CP_REQ_TASK);
  EXPECT_STREQ(task.r->id, "2");
  Wait(&third);
  EXPECT_STREQ(third.r->id, "3");
  EXPECT_EQ(third.r->subnode, nullptr);  // the skipped request's subnode went with it
  std::string trace = testutil::TraceSince(mark);
  EXPECT_NE(trace.find("Request id 1 is already outstanding, request skipped"), std::string::npos);
  EXPECT_NE(trace.find("Request id 2 is already outstanding, request skipped"), std::string::npos);

  // The answer for 1 names the group its request named.
  EXPECT_EQ(cp_SendData("1"), CP_OK);
  EXPECT_EQ(peer_.readLine(), "<dataResponse id=\"1\"><attrGroup name=\"G\"></attrGroup></dataResponse>");
  EXPECT_EQ(cp_SendTaskRC(0, "2"), CP_OK);
  EXPECT_EQ(peer_.readLine(), "<taskResponse id=\"2\" rc=\"0\"/>");
  // Answered ids are free again.
  DataRequest("1", "H");
  DataRequest("2", "G");
}

TEST_F(CpClientTest, DroppedRequestsReleaseTheirIdsSilently) {
  DataRequest("4", "G");
  const char* row[] = {"x"};
  EXPECT_EQ(cp_SetAttributeValues(row, 1, "4"), CP_OK);
  EXPECT_EQ(cp_DropRequest("4"), CP_OK);
  EXPECT_EQ(cp_DropRequest("4"), CP_ERR_ID);
  EXPECT_EQ(cp_SendData("4"), CP_ERR_ID);
  peer_.send("<taskRequest id=\"5\"><task command=\"c\"/></taskRequest>\n");
  Request task;
  Wait(&task);
  EXPECT_EQ(cp_DropRequest("5"), CP_OK);
  EXPECT_EQ(cp_SendTaskRC(0, "5"), CP_ERR_ID);
  EXPECT_TRUE(peer_.quiet());
  // The dropped rows do not leak into the next answer of the group.
  DataRequest("4", "G");
  EXPECT_EQ(cp_SendData("4"), CP_OK);
  EXPECT_EQ(peer_.readLine(), "<dataResponse id=\"4\"><attrGroup name=\"G\"></attrGroup></dataResponse>");
}

TEST_F(CpClientTest, IdReusedTheMomentItIsAnsweredIsANewRequest) {
  // The agent sends the next request with the same id as soon as it reads
  // an answer; each must be taken and answered.
  constexpr int kRounds = 500;
  std::atomic<bool> agentOk{true};
  std::thread agent([&] {
    for (int i = 0; i < kRounds && agentOk; ++i) {
      peer_.send("<dataRequest id=\"r\"><attrGroup name=\"" + std::string(i % 2 ? "G" : "H") +
                 "\"/></dataRequest>\n");
      bool ok = false;
      peer_.readLine(&ok);
      if (!ok) agentOk = false;
    }
  });
  int answered = 0;
  for (int i = 0; i < kRounds; ++i) {
    Request req;
    Wait(&req);
    if (req.rc != CP_OK || req.r->type != CP_REQ_DATA) break;
    if (cp_SendData("r") != CP_OK) break;
    ++answered;
  }
  if (answered < kRounds) peer_.closeConnection();
  agent.join();
  EXPECT_EQ(kRounds, answered);
}

TEST_F(CpClientTest, EchoedIdsGroupsAndSubnodesAreEscaped) {
  peer_.send("<dataRequest id=\"a&quot;b&lt;c&#10;d\"><attrGroup name=\"G\"/></dataRequest>\n"
             "<dataRequest id=\"&amp;&apos;&gt;\"><attrGroup name=\"H\"/></dataRequest>\n"
             "<taskRequest id=\"t&quot;\"><task command=\"c\"/></taskRequest>\n");
  for (int i = 0; i < 3; ++i) {
    Request req;
    Wait(&req);
  }
  EXPECT_EQ(cp_SendData("a\"b<c\nd"), CP_OK);
  EXPECT_EQ(peer_.readLine(), "<dataResponse id=\"a&quot;b&lt;c&#10;d\"><attrGroup name=\"G\"></attrGroup></dataResponse>");
  EXPECT_EQ(cp_SendError(-2, "&'>"), CP_OK);
  EXPECT_EQ(peer_.readLine(),
            "<dataResponse id=\"&amp;&apos;&gt;\"><attrGroup name=\"H\"><error rc=\"-2\"/></attrGroup></dataResponse>");
  EXPECT_EQ(cp_SendTaskRC(1, "t\""), CP_OK);
  EXPECT_EQ(peer_.readLine(), "<taskResponse id=\"t&quot;\" rc=\"1\"/>");
  const char* row[] = {"v"};
  EXPECT_EQ(cp_SendSubnodeEventData(row, 1, &handleG, "n<1>\n\"x\""), CP_OK);
  EXPECT_EQ(peer_.readLine(),
            "<pureEvent subnode=\"n&lt;1&gt;&#10;&quot;x&quot;\"><attrGroup name=\"G\"><in><al><a v=\"v\"/></al></in>"
            "</attrGroup></pureEvent>");
  EXPECT_EQ(cp_SendSubnodeEventError(3, &handleH, "&"), CP_OK);
  EXPECT_EQ(peer_.readLine(), "<pureEvent subnode=\"&amp;\"><attrGroup name=\"H\"><error rc=\"3\"/></attrGroup></pureEvent>");
}

TEST(CpClientEscaping, GroupNamesAreEscapedInEveryMessage) {
  testutil::LoopbackPeer peer;
  cp_setPort(peer.port());
  ASSERT_EQ(cp_OpenConnection(), CP_OK);
  ASSERT_TRUE(peer.accept());
  ASSERT_EQ(cp_RegisterAttrGroup("A&B<\"'>", 3, &handleG), CP_OK);
  ASSERT_EQ(cp_RegistrationComplete(), CP_OK);
  EXPECT_EQ(peer.readLine(),
            "<cpciRegister ver=\"4\"><attrGroupList><attrGroup name=\"A&amp;B&lt;&quot;&apos;&gt;\" ver=\"3\"/>"
            "</attrGroupList></cpciRegister>");
  const char* row[] = {"v"};
  EXPECT_EQ(cp_SendEventData(row, 1, &handleG), CP_OK);
  EXPECT_EQ(peer.readLine(),
            "<pureEvent><attrGroup name=\"A&amp;B&lt;&quot;&apos;&gt;\"><in><al><a v=\"v\"/></al></in></attrGroup></pureEvent>");
  cp_CloseConnection();
}

TEST_F(CpClientTest, SkippedLinesTakeTheirDetailsWithThem) {
  size_t mark = testutil::TraceMark();
  peer_.send("<dataRequest id=\"1\" subnode=\"s1\"><attrGroup name=\"Nope\"/><requestInfo name=\"a\" value=\"1\"/></dataRequest>\n");
  peer_.send("<startRequestInfo ag=\"Nope\" requestStartedID=\"9\" subnode=\"s2\"/>\n");
  peer_.send("<hello subnode=\"s3\"><requestInfo name=\"b\" value=\"2\"/></hello>\n");
  peer_.send("<dataRequest><attrGroup name=\"G\"/></dataRequest>\n");  // no id
  peer_.send("not xml <a x=1>\n");
  peer_.send("<startRequestInfo ag=\"G\" requestStartedID=\"4\"/>\n");
  Request req;
  Wait(&req);
  EXPECT_EQ(req.r->type, CP_REQ_STARTED);
  EXPECT_EQ(req.r->handle, &handleG);
  EXPECT_STREQ(req.r->requestStartedID, "4");
  EXPECT_EQ(req.r->subnode, nullptr);
  EXPECT_EQ(req.r->requestInfo, nullptr);
  EXPECT_EQ(req.r->id, nullptr);
  std::string trace = testutil::TraceSince(mark);
  EXPECT_NE(trace.find("Requested attribute group was not registered for!!!"), std::string::npos);
  EXPECT_NE(trace.find("Requested attribute group <Nope> was not registered!!!"), std::string::npos);
  EXPECT_NE(trace.find("Unrecognized request type"), std::string::npos);
  EXPECT_NE(trace.find("Client request parse error found: "), std::string::npos);
  EXPECT_EQ(cp_SendData("1"), CP_ERR_ID);  // the skipped id never became outstanding
  EXPECT_TRUE(peer_.quiet());  // and no line was answered
}

TEST_F(CpClientTest, StopNoticesNeverLookLikeAShutdown) {
  peer_.send("<stopRequestInfo ag=\"H\" requestStartedID=\"5\" shuttingDown=\"true\"/>\n");
  Request stop;
  Wait(&stop);
  EXPECT_EQ(stop.r->type, CP_REQ_STOPPED);
  EXPECT_EQ(stop.r->handle, &handleH);
  EXPECT_STREQ(stop.r->requestStartedID, "5");
  EXPECT_TRUE(stop.r->shuttingDown);

  peer_.send("<stopRequestInfo ag=\"Unknown\" requestStartedID=\"6\"/>\n");
  Request unknown;
  Wait(&unknown);
  EXPECT_EQ(unknown.r->type, CP_REQ_STOPPED);
  EXPECT_EQ(unknown.r->handle, nullptr);
  EXPECT_FALSE(unknown.r->shuttingDown);
  EXPECT_STREQ(unknown.r->requestStartedID, "6");
}

TEST_F(CpClientTest, ShutdownNoticeAndLostConnection) {
  peer_.send("<shutdown subnode=\"s\"/>\n");
  Request down;
  Wait(&down);
  EXPECT_EQ(down.rc, CP_OK);
  EXPECT_EQ(down.r->type, CP_REQ_SHUTDOWN);
  EXPECT_STREQ(down.r->subnode, "s");

  DataRequest("1", "G");
  peer_.send("<dataRequest id=\"2\">");  // half a message, then the agent goes
  peer_.closeConnection();
  Request lost;
  Wait(&lost);
  EXPECT_EQ(lost.rc, CP_OK);
  EXPECT_EQ(lost.r->type, CP_REQ_SHUTDOWN);
  EXPECT_EQ(lost.r->id, nullptr);
  EXPECT_EQ(lost.r->handle, nullptr);
  // Writes on the lost connection fail once the peer's reset arrived.
  int rc = CP_OK;
  const char* row[] = {"x"};
  for (int i = 0; i < 200 && rc == CP_OK; ++i) {
    rc = cp_SendEventData(row, 1, &handleG);
    if (rc == CP_OK) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  EXPECT_EQ(rc, CP_ERR_WRITE);
  EXPECT_EQ(cp_SendData("1"), CP_ERR_WRITE);
  EXPECT_EQ(cp_SendData("1"), CP_ERR_ID);  // retired whatever the write gave
  cp_CloseConnection();
  EXPECT_EQ(cp_SendEventData(row, 1, &handleG), CP_ERR_STATE);
}

TEST_F(CpClientTest, CloseLetsTheAgentReadEveryAnswerWholeWhileItKeepsAsking) {
  // The agent keeps sending requests nobody reads any more while a large
  // answer is on its way and the link is closed in the middle of it.
  DataRequest("big", "H");
  std::string value(100, 'v');
  const char* row[] = {value.c_str()};
  for (int i = 0; i < 20000; ++i) ASSERT_EQ(cp_SetAttributeValues(row, 1, "big"), CP_OK);
  std::atomic<bool> arriving{false};
  bool endOfFile = false;
  std::string received;
  std::thread agent([&] {
    received = peer_.chatterUntilClosed("<dataRequest id=\"x\"><attrGroup name=\"G\"/></dataRequest>", &endOfFile,
                                        &arriving);
  });
  int sendRc = -1;
  std::thread answerer([&sendRc] { sendRc = cp_SendData("big"); });
  while (!arriving.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  EXPECT_EQ(cp_CloseConnection(), CP_OK);
  answerer.join();
  agent.join();
  EXPECT_EQ(sendRc, CP_OK);
  EXPECT_TRUE(endOfFile) << "the agent saw a reset or nothing, not an end-of-file";
  std::string rowText = "<in><al><a v=\"" + value + "\"/></al></in>";
  std::string expected = "<dataResponse id=\"big\"><attrGroup name=\"H\">";
  for (int i = 0; i < 20000; ++i) expected += rowText;
  expected += "</attrGroup></dataResponse>\n";
  EXPECT_EQ(received.size(), expected.size());
  EXPECT_TRUE(received == expected);
}

TEST_F(CpClientTest, EventsAndAnswersFromManyThreadsArriveIntact) {
  const int kEventThreads = 3, kEvents = 300, kAnswers = 100;
  std::atomic<int> failures{0};
  std::vector<std::thread> senders;
  for (int t = 0; t < kEventThreads; ++t) {
    senders.emplace_back([t, &failures] {
      std::string payload(3000, static_cast<char>('a' + t));
      for (int i = 0; i < kEvents; ++i) {
        std::string n = std::to_string(t) + ":" + std::to_string(i);
        const char* row[] = {n.c_str(), payload.c_str()};
        if (cp_SendEventData(row, 2, &handleH) != CP_OK) failures++;
      }
    });
  }
  // The test thread waits for and answers data requests meanwhile, while
  // the agent sends them from another.
  std::thread intake([this] {
    for (int i = 0; i < kAnswers; ++i) {
      peer_.send("<dataRequest id=\"d" + std::to_string(i) + "\"><attrGroup name=\"G\"/></dataRequest>\n");
    }
  });
  std::string rowValue(2000, '&');
  for (int i = 0; i < kAnswers; ++i) {
    Request req;
    Wait(&req);
    ASSERT_EQ(req.r->type, CP_REQ_DATA);
    const char* row[] = {rowValue.c_str()};
    if (cp_SetAttributeValues(row, 1, req.r->id) != CP_OK || cp_SendData(req.r->id) != CP_OK) failures++;
  }
  intake.join();
  std::string escaped;
  for (int k = 0; k < 2000; ++k) escaped += "&amp;";
  std::set<std::string> events;
  int answers = 0;
  for (int n = 0; n < kEventThreads * kEvents + kAnswers; ++n) {
    bool ok = false;
    std::string line = peer_.readLine(&ok);
    ASSERT_TRUE(ok);
    if (line.rfind("<pureEvent>", 0) == 0) {
      size_t start = line.find("<a v=\"") + 6;
      std::string id = line.substr(start, line.find('"', start) - start);
      int t = id[0] - '0';
      EXPECT_EQ(line, "<pureEvent><attrGroup name=\"H\"><in><al><a v=\"" + id + "\"/><a v=\"" +
                          std::string(3000, static_cast<char>('a' + t)) + "\"/></al></in></attrGroup></pureEvent>");
      events.insert(id);
    } else {
      size_t idEnd = line.find('"', 18);
      ASSERT_NE(idEnd, std::string::npos);
      std::string id = line.substr(18, idEnd - 18);
      EXPECT_EQ(line, "<dataResponse id=\"" + id + "\"><attrGroup name=\"G\"><in><al><a v=\"" + escaped +
                          "\"/></al></in></attrGroup></dataResponse>");
      answers++;
    }
  }
  for (auto& s : senders) s.join();
  EXPECT_EQ(failures.load(), 0);
  EXPECT_EQ(events.size(), static_cast<size_t>(kEventThreads * kEvents));
  EXPECT_EQ(answers, kAnswers);
}

TEST_F(CpClientTest, CloseWhileOtherThreadsAreInsideCalls) {
  std::atomic<bool> stop{false};
  std::vector<std::thread> senders;
  for (int t = 0; t < 3; ++t) {
    senders.emplace_back([&stop] {
      const char* row[] = {"payload"};
      while (!stop.load()) {
        int rc = cp_SendEventData(row, 1, &handleG);
        EXPECT_TRUE(rc == CP_OK || rc == CP_ERR_WRITE || rc == CP_ERR_STATE) << rc;
        if (rc == CP_ERR_STATE) break;
      }
    });
  }
  Request blocked;
  std::thread waiter([this, &blocked] { Wait(&blocked); });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(cp_CloseConnection(), CP_OK);  // waits for the calls inside
  stop = true;
  waiter.join();
  for (auto& s : senders) s.join();
  EXPECT_EQ(blocked.rc, CP_OK);
  EXPECT_EQ(blocked.r->type, CP_REQ_SHUTDOWN);
  // Every line that reached the agent is whole.
  std::string all = peer_.readAll(1000);
  size_t start = 0, lines = 0;
  for (size_t nl; (nl = all.find('\n', start)) != std::string::npos; start = nl + 1, ++lines) {
    EXPECT_EQ(all.substr(start, nl - start),
              "<pureEvent><attrGroup name=\"G\"><in><al><a v=\"payload\"/></al></in></attrGroup></pureEvent>");
  }
  EXPECT_GT(lines, 0u);
}

// Runs `work` on a thread of its own and waits up to `limit` seconds for
// it; when it has not returned by then, `unblock` lets it end and the result
// is false.
bool FinishesWithin(int limit, const std::function<void()>& work, const std::function<void()>& unblock) {
  std::promise<void> done;
  std::future<void> finished = done.get_future();
  std::thread t([&] {
    work();
    done.set_value();
  });
  bool inTime = finished.wait_for(std::chrono::seconds(limit)) == std::future_status::ready;
  if (!inTime) unblock();
  t.join();
  return inTime;
}

// An agent that asks and then takes nothing: after CDP_CPCI_SEND_TIMEOUT
// seconds the answer gives up, every later send fails at once, and the
// waiting side learns that the conversation is over.
TEST(CpClientStall, AnswerToAnAgentThatTakesNothingEndsTheConversation) {
  setenv("CDP_CPCI_SEND_TIMEOUT", "1", 1);
  testutil::LoopbackPeer peer;
  cp_setPort(peer.port());
  ASSERT_EQ(cp_OpenConnection(), CP_OK);
  unsetenv("CDP_CPCI_SEND_TIMEOUT");
  ASSERT_TRUE(peer.accept());
  ASSERT_EQ(cp_RegisterAttrGroup("G", 1, &handleG), CP_OK);
  ASSERT_EQ(cp_RegistrationComplete(), CP_OK);
  peer.readLine();
  peer.send("<dataRequest id=\"1\"><attrGroup name=\"G\"/></dataRequest>\n");
  Request req;
  req.rc = cp_WaitForRequest(&req.r);
  ASSERT_EQ(req.r->type, CP_REQ_DATA);
  // Far more than the connection's buffers hold.
  std::string value(1000, 'v');
  const char* row[] = {value.c_str()};
  for (int i = 0; i < 40000; ++i) ASSERT_EQ(cp_SetAttributeValues(row, 1, "1"), CP_OK);
  int rc = CP_OK;
  EXPECT_TRUE(FinishesWithin(30, [&rc] { rc = cp_SendData("1"); }, [&peer] { peer.closeConnection(); }));
  EXPECT_EQ(rc, CP_ERR_WRITE);
  EXPECT_EQ(cp_SendEventData(row, 1, &handleG), CP_ERR_WRITE);
  Request end;
  EXPECT_TRUE(FinishesWithin(30, [&end] { end.rc = cp_WaitForRequest(&end.r); }, [&peer] { peer.closeConnection(); }));
  EXPECT_EQ(end.rc, CP_OK);
  ASSERT_NE(end.r, nullptr);
  EXPECT_EQ(end.r->type, CP_REQ_SHUTDOWN);
  cp_CloseConnection();
}

// The sending thread's wait hook keeps running while the agent takes
// nothing; when it asks to end, the send gives up a second later, the link
// stays open for reading, and the close does not wait for the agent.
TEST_F(CpClientTest, WaitHookRunsWhileAnAnswerWaitsAndCanEndIt) {
  DataRequest("1", "G");
  std::string value(1000, 'v');
  const char* row[] = {value.c_str()};
  for (int i = 0; i < 40000; ++i) ASSERT_EQ(cp_SetAttributeValues(row, 1, "1"), CP_OK);
  static std::atomic<int> calls{0};
  calls = 0;
  int rc = CP_OK;
  EXPECT_TRUE(FinishesWithin(
      30,
      [&rc] {
        cp_SetSendWaitHook([](void*) { return ++calls >= 2 ? 1 : 0; }, nullptr);
        rc = cp_SendData("1");
        cp_SetSendWaitHook(nullptr, nullptr);
      },
      [this] { peer_.closeConnection(); }));
  EXPECT_EQ(rc, CP_ERR_WRITE);
  EXPECT_GE(calls.load(), 2);
  DataRequest("2", "G");  // requests are still read
  EXPECT_EQ(cp_SendData("2"), CP_ERR_WRITE);
  EXPECT_EQ(cp_BeginShutdown(), CP_OK);
}

}  // namespace
