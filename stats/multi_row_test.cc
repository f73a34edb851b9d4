// The task and mail-by-destination tables, seen from the agent.
#include "stats/multi_row.h"

#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "framework/trace_capture.h"
#include "gtest/gtest.h"
#include "serverapi/qvd_api.h"
#include "sim/vaxel_sim.h"
#include "state/globals.h"
#include "stats/catalogue.h"
#include "stats/fake_agent_testutil.h"
#include "stats/snapshot.h"

namespace {

class MultiRowTest : public FakeAgentTest {
 protected:
  static void SetUpTestSuite() {
    char dir[] = "/tmp/qvd_multirow_XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(dir));
    dir_ = dir;
    setenv("VAXEL_SIM_DIR", dir_.c_str(), 1);
    vaxelsim_reset();
    FakeAgentTest::SetUpTestSuite();
  }
  static void TearDownTestSuite() {
    FakeAgentTest::TearDownTestSuite();
    std::remove((dir_ + "/server.json").c_str());
    rmdir(dir_.c_str());
  }
  void SetUp() override {
    FakeAgentTest::SetUp();
    GLOBAL_ServerInfoBlock = nullptr;  // the builders fall back to intl_format
    SetSeparators(',', '.');
  }

  // Sets the simulated server's date order and clock, and reads its settings.
  void Server(const char* order, const char* now) {
    std::ofstream(dir_ + "/server.json")
        << R"({"intl": {"dateOrder": ")" << order << R"("}, "clock": {"fixed": ")" << now
        << R"("}})";
    QVD_VxGetIntlSettings(&intl_format, sizeof(intl_format));
  }
  Rows Tasks() { return agent_->Answer("Velora_Tasks", Parse_Velora_Tasks); }
  Rows MailByDest() { return agent_->Answer("Velora_Mail_By_Dest", Parse_Velora_Mail_By_Dest); }
  Rows MailByDest64() {
    return agent_->Answer("Velora_Mail_By_Dest64", Parse_Velora_Mail_By_Dest64);
  }

  static std::string dir_;
};

std::string MultiRowTest::dir_;

const char kRouterTask[] = "Server.Task\tRouter: Idle [12/05/2026 10:00:00 AM]\r\n";

TEST_F(MultiRowTest, TaskDurationInEveryDateOrder) {
  struct {
    const char* order;
    const char* now;  // 150 seconds after the task's date, in the server's order
    const char* localised;
  } cases[] = {
      {"MDY", "12/05/2026 10:02:30 AM", nullptr},
      {"DMY", "05/12/2026 10:02:30 AM", "05/12/2026 10:00:00 AM"},
      {"YMD", "2026/12/05 10:02:30 AM", "2026/12/05 10:00:00 AM"},
  };
  for (const auto& c : cases) {
    Server(c.order, c.now);
    TraceCaptureStart("stats=detail");
    InstallSnapshot(kRouterTask);
    Rows rows = Tasks();
    ASSERT_EQ(1u, rows.size()) << c.order;
    EXPECT_EQ((Row{"Velora1/Acme", "Router", " Idle [12/05/2026 10:00:00 AM]", "2"}), rows[0])
        << c.order;
    auto lines = TraceCaptureLines("stats/multirow");
    EXPECT_TRUE(TraceCaptureHas(lines, "task time = 12/05/2026 10:00:00 AM")) << c.order;
    if (c.localised != nullptr) {
      EXPECT_TRUE(TraceCaptureHas(lines, std::string("task time localized: ") + c.localised)) << c.order;
    }
  }
  TraceCaptureStart("error");
}

TEST_F(MultiRowTest, TasksWithoutDateOrColonStillGetARow) {
  Server("MDY", "12/05/2026 10:02:30 AM");
  std::string longDate = "[12/05/2026 10:00:00 AM" + std::string(200, 'x') + "]";
  InstallSnapshot(
      "server.task\tHTTP Server: Listening for connect requests on TCP Port:80\r\n"
      "server.task\tAgent Manager: Idle []\r\n"
      "server.task\tReplicator\r\n"
      "server.users\t4\r\n"
      "server.task\tAdminP: Idle " + longDate + "\r\n"
      "server.task\tEvent: Idle [garbage]");
  Rows rows = Tasks();
  ASSERT_EQ(5u, rows.size());
  EXPECT_EQ((Row{"Velora1/Acme", "HTTP Server", " Listening for connect requests on TCP Port:80",
                 "0"}),
            rows[0]);
  EXPECT_EQ((Row{"Velora1/Acme", "Agent Manager", " Idle []", "0"}), rows[1]);
  // No colon on its line: the name alone; the next line keeps its text.
  EXPECT_EQ((Row{"Velora1/Acme", "Replicator", "", "0"}), rows[2]);
  EXPECT_EQ("0", rows[3][3]);  // a date text past 80 characters is cut, not converted
  EXPECT_EQ((Row{"Velora1/Acme", "Event", " Idle [garbage]", "0"}), rows[4]);
  EXPECT_STREQ("Velora1/Acme", Velora_Tasks[0]);
}

TEST_F(MultiRowTest, EveryDestinationGetsItsOwnRow) {
  InstallSnapshot(
      "MailByDest.mail1.Delivered\t3\r\n"
      "MailByDest.mail1.TotalRouted\t1,200\r\n"
      "MailByDest.mail10.TotalRouted\t7\r\n"
      "MailByDest.mail10.TotalKBTransferred\t88\r\n"
      "MailByDest.idle.Waiting\t2\r\n"  // none of the four statistics: no row
      "MailByDest.mail1.Transferred\t4\r\n"
      "MailByDest.hub.Transferred\t5\r\n");
  Rows rows = MailByDest();
  ASSERT_EQ(3u, rows.size());
  EXPECT_EQ((Row{"Velora1/Acme", "mail1", "1200", "4", "3", ""}), rows[0]);
  EXPECT_EQ((Row{"Velora1/Acme", "mail10", "7", "", "", "88"}), rows[1]);
  EXPECT_EQ((Row{"Velora1/Acme", "hub", "", "5", "", ""}), rows[2]);
  EXPECT_STREQ("Velora1/Acme", Velora_Mail_By_Dest[0]);
  EXPECT_EQ(nullptr, Velora_Mail_By_Dest64[0]);  // the other group is still fresh

  InstallSnapshot("server.users\t3\r\n");
  EXPECT_TRUE(MailByDest().empty());
}

TEST_F(MultiRowTest, DestinationNamesMayHoldFullStops) {
  // Internet domains and foreign domains are destinations too; the
  // statistic is what follows the name's last full stop.
  InstallSnapshot(
      "MailByDest.smtp.internet.TotalRouted\t3,120\r\n"
      "MailByDest.smtp.Delivered\t9\r\n"
      "MailByDest.acme.com.Transferred\t12\r\n"
      "MailByDest.smtp.internet.Delivered\t0\r\n"
      "MailByDest.mail1.Transferred\t4\r\n");
  Rows rows = MailByDest();
  ASSERT_EQ(4u, rows.size());
  EXPECT_EQ((Row{"Velora1/Acme", "smtp.internet", "3120", "", "0", ""}), rows[0]);
  EXPECT_EQ((Row{"Velora1/Acme", "smtp", "", "", "9", ""}), rows[1]);
  EXPECT_EQ((Row{"Velora1/Acme", "acme.com", "", "12", "", ""}), rows[2]);
  EXPECT_EQ((Row{"Velora1/Acme", "mail1", "", "4", "", ""}), rows[3]);
}

TEST_F(MultiRowTest, BothMailGroupsShareOneSnapshotInEitherOrder) {
  const char text[] =
      "mailbydest.a.totalrouted\t1\n"
      "mailbydest.b.delivered\t2\n"
      "mailbydest.a.delivered\t3\n";
  const Rows expected = {{"Velora1/Acme", "a", "1", "", "3", ""},
                         {"Velora1/Acme", "b", "", "", "2", ""}};
  InstallSnapshot(text);
  EXPECT_EQ(expected, MailByDest());
  EXPECT_EQ(expected, MailByDest64());
  InstallSnapshot(text);
  EXPECT_EQ(expected, MailByDest64());
  EXPECT_STREQ("Velora1/Acme", Velora_Mail_By_Dest64[0]);
  EXPECT_EQ(nullptr, Velora_Mail_By_Dest[0]);
  EXPECT_EQ(expected, MailByDest());

  // Each group reads with its own keywords.
  const char* saved = Velora_Mail_By_Dest64_Keyword[4];
  Velora_Mail_By_Dest64_Keyword[4] = "delivered\t";  // "mailbydest.adelivered\t": never there
  InstallSnapshot(text);
  EXPECT_EQ((Rows{{"Velora1/Acme", "a", "1", "", "", ""}}), MailByDest64());
  EXPECT_EQ(expected, MailByDest());
  Velora_Mail_By_Dest64_Keyword[4] = ".totalrouted\t";
  InstallSnapshot(text);
  EXPECT_EQ((Rows{{"Velora1/Acme", "a", "1", "", "1", ""}}), MailByDest64());
  Velora_Mail_By_Dest64_Keyword[4] = saved;
}

TEST_F(MultiRowTest, DestinationNamesAreCutAt255Bytes) {
  std::string exact(255, 'e');
  std::string longer(256, 'l');
  InstallSnapshot("mailbydest." + exact + ".delivered\t1\n" + "mailbydest." + longer +
                  ".delivered\t2\n" + "mailbydest." + longer + "x.delivered\t3\n");
  Rows rows = MailByDest();
  ASSERT_EQ(3u, rows.size());
  EXPECT_EQ(exact, rows[0][1]);
  EXPECT_EQ(longer.substr(0, 255), rows[1][1]);
  EXPECT_EQ("2", rows[1][4]);  // found under its full name
  EXPECT_EQ(longer.substr(0, 255), rows[2][1]);
  EXPECT_EQ("3", rows[2][4]);
}

}  // namespace
