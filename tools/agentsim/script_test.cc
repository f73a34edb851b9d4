// Script lines and the agent messages they produce: what a test writes in a
// script must reach the collector exactly as meant.
#include "tools/agentsim/script.h"

#include <gtest/gtest.h>

#include "tools/agentsim/agentside.h"

namespace agentsim {
namespace {

ScriptCommand Parse(const std::string& line) {
  std::optional<ScriptCommand> cmd;
  std::string error;
  EXPECT_TRUE(ParseScriptLine(line, "t:1", &cmd, &error)) << line << ": " << error;
  EXPECT_TRUE(cmd.has_value()) << line;
  return cmd.value_or(ScriptCommand());
}

std::string ParseError(const std::string& line) {
  std::optional<ScriptCommand> cmd;
  std::string error;
  EXPECT_FALSE(ParseScriptLine(line, "t:1", &cmd, &error)) << line;
  return error;
}

TEST(Script, RequestsCarryTheirOptionsIntoTheMessage) {
  ScriptCommand c = Parse("request Velora_LDAP id=7 rsid=3 subnode=n1 info=Server_Name,EQ,a&b,AND info=X,,1");
  ASSERT_EQ(c.words, std::vector<std::string>{"Velora_LDAP"});
  ASSERT_EQ(c.info.size(), 2u);
  EXPECT_EQ(DataRequestLine(*c.id, c.words[0], c.rsid, c.subnode, c.info),
            "<dataRequest id=\"7\" requestStartedID=\"3\" subnode=\"n1\"><attrGroup name=\"Velora_LDAP\"/>"
            "<requestInfo name=\"Server_Name\" value=\"a&amp;b\" op=\"EQ\" logOp=\"AND\"/>"
            "<requestInfo name=\"X\" value=\"1\"/></dataRequest>");
  EXPECT_EQ(Parse("request A B all").words, (std::vector<std::string>{"A", "B", "all"}));
  EXPECT_EQ(DataRequestLine("1", "G", std::nullopt, std::nullopt, {}), "<dataRequest id=\"1\"><attrGroup name=\"G\"/></dataRequest>");
}

TEST(Script, TasksNoticesAndShutdown) {
  ScriptCommand t = Parse("task \"run \\\"x\\\" <now>\" user=bob");
  EXPECT_EQ(TaskRequestLine("4", t.words[0], t.user, t.subnode, t.info),
            "<taskRequest id=\"4\"><task command=\"run &quot;x&quot; &lt;now&gt;\" user=\"bob\"/></taskRequest>");
  // A task command may hold '=' without quotes.
  EXPECT_EQ(Parse("task a=b").words, std::vector<std::string>{"a=b"});

  ScriptCommand start = Parse("start G rsid=5 info=N,EQ,V");
  EXPECT_EQ(StartLine(start.words[0], start.rsid, start.subnode, start.info),
            "<startRequestInfo ag=\"G\" requestStartedID=\"5\"><requestInfo name=\"N\" value=\"V\" op=\"EQ\"/>"
            "</startRequestInfo>");
  ScriptCommand stop = Parse("stop G rsid=5 shutting-down=True");
  EXPECT_EQ(StopLine(stop.words[0], stop.rsid, stop.shuttingDown, stop.subnode, stop.info),
            "<stopRequestInfo ag=\"G\" requestStartedID=\"5\" shuttingDown=\"True\"/>");
  EXPECT_EQ(ShutdownLine(Parse("shutdown subnode=s'1").subnode), "<shutdown subnode=\"s&apos;1\"/>");
  EXPECT_EQ(ShutdownLine(std::nullopt), "<shutdown/>");
}

TEST(Script, RawLinesAreVerbatimAndWaitsCarryCountsAndTimes) {
  EXPECT_EQ(Parse("raw <dataRequest  id=\"1\">  ").rest, "<dataRequest  id=\"1\">  ");
  EXPECT_EQ(Parse("raw-part <shut").rest, "<shut");
  EXPECT_EQ(Parse("note two  blanks").rest, "two  blanks");
  EXPECT_EQ(Parse("expect all").count, -1);
  ScriptCommand e = Parse("expect 3 0.5");
  EXPECT_EQ(e.count, 3);
  EXPECT_DOUBLE_EQ(e.seconds, 0.5);
  EXPECT_DOUBLE_EQ(Parse("sleep 0.25").seconds, 0.25);
  EXPECT_LT(Parse("expect-exit").seconds, 0);
  ScriptCommand slow = Parse("reading slow 512 20");
  EXPECT_EQ(slow.count, 512);
  EXPECT_DOUBLE_EQ(slow.seconds, 0.02);
  EXPECT_EQ(Parse("reading off").words, std::vector<std::string>{"off"});
  ScriptCommand file = Parse("expect-file /tmp/t.log 2 \"a b=c\" 1.5");
  EXPECT_EQ(file.words, (std::vector<std::string>{"/tmp/t.log", "2", "a b=c", "1.5"}));
  EXPECT_EQ(file.count, 2);
  EXPECT_DOUBLE_EQ(file.seconds, 1.5);
  EXPECT_LT(Parse("expect-file f 1 x").seconds, 0);

  std::optional<ScriptCommand> none;
  std::string error;
  EXPECT_TRUE(ParseScriptLine("   # comment", "t:1", &none, &error));
  EXPECT_FALSE(none.has_value());
  EXPECT_TRUE(ParseScriptLine("", "t:1", &none, &error));
  EXPECT_FALSE(none.has_value());
}

TEST(Script, FaultyLinesAreRefusedWithTheirPlace) {
  EXPECT_EQ(ParseError("frobnicate"), "t:1: unknown command 'frobnicate'");
  for (const char* bad : {"request", "request A B id=3", "request all id=3", "request G ids=3", "task", "task a b",
                          "stop G shuttingDown=TRUE", "expect", "expect many", "expect 2 soon", "sleep -1",
                          "sleep x", "expect-none", "raw", "request G info=a,b", "task \"open", "shutdown now", "reading",
                          "reading slowly", "reading off 5", "reading slow 0 1", "reading slow 512",
                          "reading slow 512 60001", "expect-file f 1", "expect-file f 0 x", "expect-file f many x",
                          "expect-file f 1 \"\"", "expect-file f 1 x soon", "expect-file f 1 x 2 3"})
    ParseError(bad);
}

}  // namespace
}  // namespace agentsim
