// The agent's bookkeeping of one conversation: answers matched to requests
// by id and group, and the protocol violations it must report.
#include "agentside/session.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>

namespace agentside {
namespace {

const char kRegistration[] =
    "<cpciRegister ver=\"4\"><attrGroupList><attrGroup name=\"G\" ver=\"1\"/><attrGroup name=\"H\" ver=\"1\"/>"
    "<attrGroup name=\"MV_Server\" ver=\"1\"/></attrGroupList></cpciRegister>";

std::string Data(const std::string& id, const std::string& group, const std::string& rows = "") {
  return "<dataResponse id=\"" + id + "\"><attrGroup name=\"" + group + "\">" + rows + "</attrGroup></dataResponse>";
}

const char kTwoColumnRow[] = "<in><al><a v=\"1\"/><a v=\"2\"/></al></in>";

class SessionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char path[] = "/tmp/agentsim_columnsXXXXXX";
    int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    close(fd);
    path_ = path;
    std::ofstream(path_) << "# test groups\nG a, b\nH x y z\nMV_Server s t\n";
    std::string error;
    ASSERT_TRUE(columns_.LoadOverrides(path_, &error)) << error;
  }
  void TearDown() override { unlink(path_.c_str()); }

  // Receives `line` and returns its violations.
  std::vector<std::string> Feed(Session* s, const std::string& line) {
    return s->Receive(line, Clock::now()).violations;
  }

  Session Registered() {
    Session s(&columns_);
    EXPECT_TRUE(Feed(&s, kRegistration).empty());
    return s;
  }

  std::string path_;
  ColumnCatalogue columns_;
};

bool Mentions(const std::vector<std::string>& violations, const std::string& text) {
  for (const auto& v : violations)
    if (v.find(text) != std::string::npos) return true;
  return false;
}

TEST_F(SessionTest, AnswersMatchTheirRequestsInAnyOrder) {
  Session s = Registered();
  s.NoteDataRequest("1", "G", Clock::now());
  s.NoteDataRequest("2", "H", Clock::now());
  s.NoteTaskRequest("3", Clock::now());
  EXPECT_EQ(s.AwaitedIds(), (std::vector<std::string>{"1", "2", "3"}));
  Verdict v = s.Receive("<taskResponse id=\"3\" rc=\"0\"/>", Clock::now());
  EXPECT_TRUE(v.matched);
  EXPECT_GE(v.ms, 0);
  EXPECT_TRUE(Feed(&s, Data("2", "H", "<in><al><a v=\"\"/><a v=\"\"/><a v=\"\"/></al></in>")).empty());
  EXPECT_TRUE(Feed(&s, "<dataResponse id=\"1\"><attrGroup name=\"G\"><error rc=\"-1\"/></attrGroup></dataResponse>").empty());
  EXPECT_EQ(s.AwaitedCount(), 0u);
  EXPECT_EQ(s.answers(), 3u);
  EXPECT_EQ(s.violations(), 0u);
}

TEST_F(SessionTest, AnswersThatDoNotFitARequestAreViolations) {
  Session s = Registered();
  s.NoteDataRequest("1", "G", Clock::now());
  s.NoteTaskRequest("2", Clock::now());
  s.NoteDataRequest("3", "G", Clock::now());

  EXPECT_TRUE(Mentions(Feed(&s, Data("9", "G")), "id 9, which was never requested"));
  EXPECT_TRUE(Feed(&s, Data("1", "G", kTwoColumnRow)).empty());
  EXPECT_TRUE(Mentions(Feed(&s, Data("1", "G")), "second answer for id 1"));
  EXPECT_TRUE(Mentions(Feed(&s, Data("2", "G")), "which is a task request"));
  EXPECT_TRUE(Mentions(Feed(&s, "<taskResponse id=\"3\" rc=\"0\"/>"), "which is a data request"));
  EXPECT_TRUE(Mentions(Feed(&s, Data("3", "H")), "names group H, the request named G"));
  // The mismatched answers above did not consume the task request.
  EXPECT_EQ(s.AwaitedIds(), (std::vector<std::string>{"2"}));
  EXPECT_EQ(s.violations(), 5u);
}

TEST_F(SessionTest, ABoundedSessionForgetsOldAnswersButStillRefusesThem) {
  Session s(&columns_, 2);
  EXPECT_TRUE(Feed(&s, kRegistration).empty());
  for (const char* id : {"1", "2", "3"}) {
    s.NoteDataRequest(id, "G", Clock::now());
    EXPECT_TRUE(Feed(&s, Data(id, "G")).empty());
  }
  // Id 3 is remembered; id 1 no longer is, and its answer is still a fault.
  EXPECT_TRUE(Mentions(Feed(&s, Data("3", "G")), "second answer for id 3"));
  EXPECT_TRUE(Mentions(Feed(&s, Data("1", "G")), "id 1, which was never requested"));
}

TEST_F(SessionTest, RequestsForUnregisteredAndEventGroupsAreNotAwaitedAndMustNotBeAnswered) {
  Session s = Registered();
  s.NoteDataRequest("1", "Nope", Clock::now());
  s.NoteDataRequest("2", "MV_Server", Clock::now());
  s.NoteDataRequest("3", "G", Clock::now());
  EXPECT_EQ(s.AwaitedIds(), (std::vector<std::string>{"3"}));
  EXPECT_TRUE(Mentions(Feed(&s, Data("1", "Nope")), "was not registered"));
  EXPECT_TRUE(Mentions(Feed(&s, Data("2", "MV_Server")), "requests for MV_Server get no answer"));

  // An id of a request that got no answer may be reused: the answer
  // belongs to the request that reused it.
  s.NoteDataRequest("4", "MV_Server", Clock::now());
  s.NoteDataRequest("4", "G", Clock::now());
  EXPECT_TRUE(Feed(&s, Data("4", "G")).empty());
  EXPECT_EQ(s.AwaitedIds(), (std::vector<std::string>{"3"}));
}

TEST_F(SessionTest, RowsMustHaveTheGroupsColumnCount) {
  Session s = Registered();
  s.NoteDataRequest("1", "G", Clock::now());
  std::vector<std::string> v = Feed(&s, Data("1", "G", std::string(kTwoColumnRow) + "<in><al><a v=\"1\"/></al></in>"));
  ASSERT_EQ(v.size(), 1u);
  EXPECT_TRUE(Mentions(v, "row 2 of G has 1 columns, the group has 2"));
}

TEST_F(SessionTest, EventsNeedARegisteredGroupAndExactlyOneRow) {
  Session s = Registered();
  const std::string row = "<in><al><a v=\"s\"/><a v=\"t\"/></al></in>";
  EXPECT_TRUE(Feed(&s, "<pureEvent><attrGroup name=\"MV_Server\">" + row + "</attrGroup></pureEvent>").empty());
  EXPECT_TRUE(Feed(&s, "<pureEvent subnode=\"x\"><attrGroup name=\"G\"><error rc=\"1000\"/></attrGroup></pureEvent>").empty());
  EXPECT_TRUE(Mentions(Feed(&s, "<pureEvent><attrGroup name=\"MV_Server\">" + row + row + "</attrGroup></pureEvent>"),
                       "holds 2 rows instead of one"));
  EXPECT_TRUE(Mentions(Feed(&s, "<pureEvent><attrGroup name=\"MV_Server\"></attrGroup></pureEvent>"),
                       "holds 0 rows instead of one"));
  EXPECT_TRUE(Mentions(Feed(&s, "<pureEvent><attrGroup name=\"Q\"><error rc=\"1\"/></attrGroup></pureEvent>"),
                       "group Q, which was not registered"));
  EXPECT_EQ(s.events(), 5u);
}

TEST_F(SessionTest, RegistrationMustComeFirstOnceWithVersion4AndDistinctGroups) {
  Session early(&columns_);
  EXPECT_TRUE(Mentions(Feed(&early, "<taskResponse id=\"1\" rc=\"0\"/>"), "before the registration"));
  EXPECT_TRUE(Mentions(Feed(&early, kRegistration), "not the first message"));
  EXPECT_TRUE(Mentions(Feed(&early, kRegistration), "second registration"));

  Session odd(&columns_);
  std::vector<std::string> v = Feed(
      &odd, "<cpciRegister ver=\"3\"><attrGroupList><attrGroup name=\"G\" ver=\"1\"/><attrGroup name=\"G\" ver=\"2\"/>"
            "</attrGroupList></cpciRegister>");
  EXPECT_TRUE(Mentions(v, "protocol version 3"));
  EXPECT_TRUE(Mentions(v, "group G registered twice"));
  EXPECT_EQ(odd.groups().size(), 1u);
}

TEST_F(SessionTest, MalformedLinesAndUnterminatedTailsAreViolations) {
  Session s = Registered();
  EXPECT_TRUE(Mentions(Feed(&s, "<taskResponse id=\"1\" rc=\"0\">"), "malformed line"));
  EXPECT_TRUE(s.NoteClosed("").empty());
  EXPECT_TRUE(Mentions(s.NoteClosed("<taskResp"), "9 bytes of an unterminated line"));
  EXPECT_EQ(s.violations(), 2u);
}

TEST(ScanRequest, FindsRequestsInRawLinesAsTheCollectorWouldDecodeThem) {
  ScannedRequest r;
  ASSERT_TRUE(ScanRequest("<dataRequest id=\"9\" requestStartedID=\"3\"><attrGroup name=\"G\"/><attrGroup name=\"H\"/></dataRequest>", &r));
  EXPECT_FALSE(r.task);
  EXPECT_EQ(r.id, "9");
  EXPECT_EQ(r.group, "H");
  ASSERT_TRUE(ScanRequest("<x><taskRequest id=\"4\"><task command=\"c\"/></taskRequest><dataRequest id=\"5\"></x>", &r));
  EXPECT_FALSE(r.task);  // a data request wins
  EXPECT_EQ(r.id, "5");
  ASSERT_TRUE(ScanRequest("<taskRequest id=\"4\"><task command=\"c\"/></taskRequest>", &r));
  EXPECT_TRUE(r.task);
  ASSERT_TRUE(ScanRequest("<dataRequest id=\"x&#10;y&quot;&lt;&amp;z&#x41;&bogus;\"><attrGroup name=\"G\"/></dataRequest>", &r));
  EXPECT_EQ(r.id, "x\ny\"<&zA&bogus;");  // decoded as the collector decodes it
  EXPECT_FALSE(ScanRequest("<dataRequest><attrGroup name=\"G\"/></dataRequest>", &r));
  EXPECT_FALSE(ScanRequest("<shutdown/>", &r));
}

}  // namespace
}  // namespace agentside
