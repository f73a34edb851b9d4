// The soak's model changes: statistics move (written as the server writes
// them), a mail destination comes and goes, directory groups are added and
// removed, and the rest of the model is left as it was.
#include "tools/agentsim/soak_model.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

namespace agentsim {
namespace {

std::string Read(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void Write(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
}

class SoakModelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char d[] = "/tmp/agentsim-soakmodel-XXXXXX";
    ASSERT_NE(mkdtemp(d), nullptr);
    dir_ = d;
  }
  void TearDown() override {
    for (const char* f : {"stats.txt", "server.json"}) unlink((dir_ + "/" + f).c_str());
    rmdir(dir_.c_str());
  }
  std::string dir_;
};

TEST_F(SoakModelTest, MovesStatisticsAndGroupsAndKeepsTheRest) {
  Write(dir_ + "/stats.txt",
        "MailByDest.mail1.TotalRouted\t1,523\r\nMailByDest.mail1.Delivered\t23\r\n"
        "Server.Task\tRouter: Idle [12/06/2026 09:57:30 AM]\r\nServer.Users\t998\r\nServer.Ratio\t1.5\r\n");
  Write(dir_ + "/server.json",
        R"({"dataDirectory": "/d", "directory": {"groups": ["LocalAdmins", "Sales", "Support"]}})");
  SoakModel model;
  std::string error;
  ASSERT_TRUE(model.Load(dir_, &error)) << error;

  ASSERT_TRUE(model.Change(1, &error)) << error;
  EXPECT_EQ(Read(dir_ + "/stats.txt"),
            "MailByDest.mail1.TotalRouted\t1,524\n"
            "MailByDest.mail1.Delivered\t25\n"
            "MailByDest.soak1.TotalRouted\t101\n"
            "MailByDest.soak1.Transferred\t91\n"
            "MailByDest.soak1.Delivered\t10\n"
            "MailByDest.soak1.TotalKBTransferred\t4,007\n"
            "Server.Task\tRouter: Idle [12/06/2026 09:57:30 AM]\n"
            "Server.Users\t1002\n"
            "Server.Ratio\t1.5\n");
  nlohmann::json server = nlohmann::json::parse(Read(dir_ + "/server.json"));
  EXPECT_EQ(server["dataDirectory"], "/d");
  EXPECT_EQ(server["directory"]["groups"],
            nlohmann::json::array({"LocalAdmins", "Sales", "Support", "SoakGroup1"}));

  // Each change starts from the model as loaded: no drift, no destination
  // on even changes, one original group missing in turn.
  ASSERT_TRUE(model.Change(2, &error)) << error;
  EXPECT_EQ(Read(dir_ + "/stats.txt"),
            "MailByDest.mail1.TotalRouted\t1,525\n"
            "MailByDest.mail1.Delivered\t27\n"
            "Server.Task\tRouter: Idle [12/06/2026 09:57:30 AM]\n"
            "Server.Users\t1006\n"
            "Server.Ratio\t1.5\n");
  server = nlohmann::json::parse(Read(dir_ + "/server.json"));
  EXPECT_EQ(server["directory"]["groups"], nlohmann::json::array({"LocalAdmins", "Support"}));
  ASSERT_TRUE(model.Change(4, &error)) << error;
  server = nlohmann::json::parse(Read(dir_ + "/server.json"));
  EXPECT_EQ(server["directory"]["groups"], nlohmann::json::array({"LocalAdmins", "Sales"}));
}

TEST_F(SoakModelTest, AModelWithoutGroupsGetsThemAndABrokenServerFileIsRefused) {
  Write(dir_ + "/server.json", R"({"clock": {"fixed": "12/06/2026 10:00:00 AM"}})");
  SoakModel model;
  std::string error;
  ASSERT_TRUE(model.Load(dir_, &error)) << error;
  ASSERT_TRUE(model.Change(3, &error)) << error;
  nlohmann::json server = nlohmann::json::parse(Read(dir_ + "/server.json"));
  EXPECT_EQ(server["directory"]["groups"], nlohmann::json::array({"SoakGroup3"}));
  EXPECT_EQ(server["clock"]["fixed"], "12/06/2026 10:00:00 AM");
  EXPECT_NE(access((dir_ + "/stats.txt").c_str(), F_OK), 0);  // absent stays absent

  Write(dir_ + "/server.json", "[1, 2]");
  EXPECT_FALSE(model.Load(dir_, &error));
  EXPECT_NE(error.find("not a JSON object"), std::string::npos);
}

}  // namespace
}  // namespace agentsim
