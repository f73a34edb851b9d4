// The keyword override file and its template, through loadTables() against
// a temporary install directory.
#include "stats/keyword_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "framework/trace.h"
#include "state/globals.h"
#include "stats/catalogue.h"

namespace {

const char kHeader[] =
    "#----------------------------------------------------------------------------------------\n"
    "# This file can be used to modify the scan keyword strings for the Velora Tables.\n"
    "# Copy this file to qvdtbl.in or qvdtbl_{Instance Name}.in.  Remove the comment symbol(#)\n"
    "# from the line that needs to be modified and then update the keyword field\n"
    "# for the table name and column.  The qvdtbl.in is used for all instances on the\n"
    "# machine, while the qvdtbl_{Instance Name}.in allows changing the scan keywords by\n"
    "# instance.  {Velora Table_Name}[Server_Name][0]= should not be modified.\n"
    "#   Format: {Velora Table Name}[{Column Name}][{Column}]=\"{keyword\\t}\"\n"
    "#           where \\t represents the tab character\n"
    "#----------------------------------------------------------------------------------------\n";

const char* const kTemplateOrder[] = {
    "Velora_Calendar", "Velora_Calendar64", "Velora_LDAP", "Velora_LDAP64", "Velora_MAIL",
    "Velora_MAIL64", "Velora_NET_TCPIP", "Velora_NET_TCPIP64", "Velora_Replica_Cluster",
    "Velora_Replica_Cluster64", "Velora_Server", "Velora_Server64", "Velora_Server_Cluster",
    "Velora_ICM", "Velora_ICM64", "Velora_Database", "Velora_Database64", "Velora_Mail_By_Dest",
    "Velora_Mail_By_Dest64", "Velora_SMTP", "Velora_SMTP64", "Velora_IMAP", "Velora_IMAP64",
    "Velora_Agent", "Velora_Replica", "Velora_Replica64", "Velora_Command",
    "Velora_Web_Retriever"};

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

void writeFile(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

const char* keyword(const char* group, int index) {
  return findTableDescriptor(group)->keywords[index];
}

class KeywordFileTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    char pattern[] = "/tmp/qvdtbl_test.XXXXXX";
    root_ = mkdtemp(pattern);
    setenv("QVD_TRACE_FILE", (root_ + "/trace.log").c_str(), 1);
    setenv("QVD_TRACE", "all", 1);
    TraceReload();
  }
  static void TearDownTestSuite() { std::system(("rm -rf " + root_).c_str()); }

  void SetUp() override {
    home_ = root_ + "/" + ::testing::UnitTest::GetInstance()->current_test_info()->name();
    bin_ = home_ + "/linux-x86_64/vd/bin/";
    std::system(("mkdir -p " + bin_).c_str());
    halcyon_home = const_cast<char*>(home_.c_str());
    binArch = const_cast<char*>("linux-x86_64");
    instance_name = const_cast<char*>("inst1");
    for (const QvdTableDescriptor& t : qvdTableCatalogue) {
      saved_.emplace_back();
      if (t.keywords != nullptr) saved_.back().assign(t.keywords, t.keywords + t.columnCount);
    }
    traceMark_ = readFile(root_ + "/trace.log").size();
  }

  void TearDown() override {
    for (int i = 0; i < kQvdTableCount; ++i) {
      const QvdTableDescriptor& t = qvdTableCatalogue[i];
      for (size_t c = 0; c < saved_[i].size(); ++c) t.keywords[c] = saved_[i][c];
    }
    halcyon_home = binArch = instance_name = nullptr;
  }

  // Trace output written since the test began.
  std::string trace() const { return readFile(root_ + "/trace.log").substr(traceMark_); }
  std::string templateText() const { return readFile(bin_ + "qvdtbl_inst1.out"); }

  static std::string root_;
  std::string home_, bin_;
  std::vector<std::vector<const char*>> saved_;
  size_t traceMark_ = 0;
};

std::string KeywordFileTest::root_;

TEST_F(KeywordFileTest, WithoutOverrideFileTheTemplateListsTheBuiltInKeywords) {
  loadTables();
  std::string text = templateText();
  ASSERT_EQ(text.compare(0, sizeof kHeader - 1, kHeader), 0) << text.substr(0, 1000);

  // First block, byte for byte: section keyword without a tab, the others
  // with their tab written as backslash-t.
  const char kCalendar[] =
      "# Table Velora_Calendar\n"
      "#Velora_Calendar[Server_Name][0]=\"calendar.total.\"\n"
      "#Velora_Calendar[Total_All_Appts_Reservations][1]=\"calendar.total.all.appts.reservations\\t\"\n"
      "#Velora_Calendar[Total_All_Users_Resources][2]=\"calendar.total.all.users.resources\\t\"\n"
      "#Velora_Calendar[Total_Appts][3]=\"calendar.total.appts\\t\"\n"
      "#Velora_Calendar[Total_Reservations][4]=\"calendar.total.reservations\\t\"\n"
      "#Velora_Calendar[Total_Resources][5]=\"calendar.total.resources\\t\"\n"
      "#Velora_Calendar[Total_Users][6]=\"calendar.total.users\\t\"\n"
      "# Table Velora_Calendar64\n";
  EXPECT_EQ(text.compare(sizeof kHeader - 1, sizeof kCalendar - 1, kCalendar), 0);
  EXPECT_NE(text.find("#Velora_Mail_By_Dest64[Destination_Server][1]=\"\"\n"), std::string::npos);
  EXPECT_NE(text.find("#Velora_Web_Retriever[VPOOL_Max_URL][34]=\"web.retriever.vpool.max.url\\t\"\n"),
            std::string::npos);
  EXPECT_EQ(text.back(), '\n');

  // Blocks of the 28 overridable groups, in template order, nothing else.
  std::vector<std::string> tables;
  std::istringstream lines(text);
  std::string line;
  int overrideLines = 0;
  while (std::getline(lines, line)) {
    ASSERT_EQ(line[0], '#') << line;
    if (line.compare(0, 8, "# Table ") == 0) tables.push_back(line.substr(8));
    else if (line[1] != ' ' && line[1] != '-') ++overrideLines;
  }
  EXPECT_EQ(tables, std::vector<std::string>(std::begin(kTemplateOrder), std::end(kTemplateOrder)));
  int columns = 0;
  for (const char* group : kTemplateOrder) columns += findTableDescriptor(group)->columnCount;
  EXPECT_EQ(overrideLines, columns);

  std::string log = trace();
  EXPECT_NE(log.find("fileNameIn: " + bin_ + "qvdtbl_inst1.in"), std::string::npos);
  EXPECT_NE(log.find("fileNameInAll: " + bin_ + "qvdtbl.in"), std::string::npos);
  EXPECT_NE(log.find("fileNameOut: " + bin_ + "qvdtbl_inst1.out"), std::string::npos);
  size_t at = 0;
  for (const char* step : {"write header", "write table calendar", "write table mail", "write table mail 64",
                           "write table TCPIP 64", "write table server cluster", "write table mail by dest 64",
                           "write table agent", "write table replica", "write table replica",
                           "write table command", "close file", "exit procedure"}) {
    at = log.find(std::string("DETAIL ") + step + "\n", at);
    ASSERT_NE(at, std::string::npos) << step;
    ++at;
  }
}

TEST_F(KeywordFileTest, AnUncommentedTemplateReproducesTheKeywords) {
  loadTables();
  std::string first = templateText();
  std::vector<std::vector<std::string>> before;
  for (const char* group : kTemplateOrder) {
    const QvdTableDescriptor* t = findTableDescriptor(group);
    before.emplace_back(t->keywords, t->keywords + t->columnCount);
  }

  std::istringstream lines(first);
  std::string line, uncommented;
  while (std::getline(lines, line)) {
    uncommented += (line.compare(0, 7, "#Velora") == 0 ? line.substr(1) : line) + "\n";
  }
  writeFile(bin_ + "qvdtbl.in", uncommented);
  loadTables();

  for (size_t g = 0; g < before.size(); ++g) {
    const QvdTableDescriptor* t = findTableDescriptor(kTemplateOrder[g]);
    for (int c = 0; c < t->columnCount; ++c) {
      EXPECT_EQ(before[g][c], t->keywords[c]) << t->groupName << " column " << c;
    }
  }
  EXPECT_EQ(templateText(), first);
  EXPECT_EQ(trace().find("qvdtbl.in scan error"), std::string::npos);
  EXPECT_EQ(trace().find("qvdtbl.in error"), std::string::npos);
}

TEST_F(KeywordFileTest, OverridesReplaceTheIndexedKeywordOfThatGroupOnly) {
  writeFile(bin_ + "qvdtbl_inst1.in",
            "Velora_MAIL[Dead][1]=\"mail.hold\\t\"\n"
            "Velora_MAIL64 [ Hold ][3] = \"mail.dead\"\n"          // blanks, no tab
            "Velora_MAIL[Hold][2]=\"mail.dead\\t\"\n"              // the index wins
            "Velora_Calendar64[Total_Users][6]=\"calendar.x\\tignored\"  \r\n"
            "Velora_Mail_By_Dest64[Delivered][4]=\".delivered.count\\t\"\n");
  loadTables();

  EXPECT_STREQ(keyword("Velora_MAIL", 1), "mail.hold\t");
  EXPECT_STREQ(keyword("Velora_MAIL64", 1), "mail.dead\t");
  EXPECT_STREQ(keyword("Velora_MAIL64", 3), "mail.dead");
  EXPECT_STREQ(keyword("Velora_MAIL", 3), "mail.hold\t");
  EXPECT_STREQ(keyword("Velora_MAIL", 2), "mail.dead\t");
  EXPECT_STREQ(keyword("Velora_Calendar64", 6), "calendar.x\t");
  EXPECT_STREQ(keyword("Velora_Calendar", 6), "calendar.total.users\t");
  EXPECT_STREQ(keyword("Velora_Mail_By_Dest64", 4), ".delivered.count\t");
  EXPECT_STREQ(keyword("Velora_Mail_By_Dest", 4), ".delivered\t");

  std::string text = templateText();
  EXPECT_NE(text.find("#Velora_MAIL[Dead][1]=\"mail.hold\\t\"\n"), std::string::npos);
  EXPECT_NE(text.find("#Velora_MAIL64[Hold][3]=\"mail.dead\"\n"), std::string::npos);
  EXPECT_NE(text.find("#Velora_MAIL64[Dead][1]=\"mail.dead\\t\"\n"), std::string::npos);

  std::string log = trace();
  EXPECT_NE(log.find("Processing - line:Velora_MAIL64 [ Hold ][3] = \"mail.dead\"\n"), std::string::npos);
  EXPECT_NE(log.find("Processing - table:Velora_MAIL64, column:3, keyword:mail.dead\n"), std::string::npos);
}

TEST_F(KeywordFileTest, BadLinesAreReportedAndSkipped) {
  const std::string tooLong = "Velora_MAIL[Dead][1]=\"" + std::string(1100, 'x') + "\"Velora_MAIL[Dead][5]=\"long\\t\"";
  writeFile(bin_ + "qvdtbl.in",
            "\n"
            "Velora_MAIL\n"
            "Velora_MAIL[Dead\n"
            "Velora_MAIL[Dead]\n"
            "Velora_MAIL[Dead][1\n"
            "Velora_MAIL[Dead][x]=\"a\\t\"\n"
            "Velora_MAIL[Dead][-1]=\"b\\t\"\n"
            "Velora_MAIL[Dead][]=\"c\\t\"\n"
            "Velora_MAIL[Dead][99999999999999999999999]=\"d\\t\"\n"
            "Velora_MAIL[Dead][1]=mail.e\n"
            "Velora_MAIL[Dead][1]=\"mail.f\n"
            "Velora_Tasks[Task_Name][1]=\"g\\t\"\n"
            "velora_mail[Dead][1]=\"h\\t\"\n"
            "Velora_MAIL[Dead][23]=\"i\\t\"\n"
            "Velora_MAIL[Dead][1]=\"j\\t\" # a note\n"
            "#Velora_MAIL[Dead][1]=\"k\\t\"\n" +
                tooLong + "\n"
            "Velora_MAIL64[Dead][24]=\"mail.last\\t\"\n");
  loadTables();

  // Only the last line applies, and only to its own group.
  for (int i = 0; i < kQvdTableCount; ++i) {
    const QvdTableDescriptor& t = qvdTableCatalogue[i];
    for (size_t c = 0; c < saved_[i].size(); ++c) {
      if (std::string(t.groupName) == "Velora_MAIL64" && c == 24) continue;
      EXPECT_EQ(t.keywords[c], saved_[i][c]) << t.groupName << " column " << c;
    }
  }
  EXPECT_STREQ(keyword("Velora_MAIL64", 24), "mail.last\t");

  std::string log = trace();
  for (const char* message : {
           "qvdtbl.in scan error for table name with line: \n",
           "qvdtbl.in scan error for table name with line: Velora_MAIL\n",
           "qvdtbl.in scan error for column name with line: Velora_MAIL[Dead\n",
           "qvdtbl.in scan error for column value with line: Velora_MAIL[Dead]\n",
           "qvdtbl.in scan error for column value with line: Velora_MAIL[Dead][1\n",
           "qvdtbl.in column value conversion error: x line:Velora_MAIL[Dead][x]=\"a\\t\"\n",
           "qvdtbl.in column value conversion error: -1 line:Velora_MAIL[Dead][-1]=\"b\\t\"\n",
           "qvdtbl.in column value conversion error:  line:Velora_MAIL[Dead][]=\"c\\t\"\n",
           "qvdtbl.in column value conversion error: 99999999999999999999999 line:",
           "qvdtbl.in scan error for keyword name with line: Velora_MAIL[Dead][1]=mail.e\n",
           "qvdtbl.in scan error for keyword name with line: Velora_MAIL[Dead][1]=\"mail.f\n",
           "qvdtbl.in error using table name, not found: Velora_Tasks\n",
           "qvdtbl.in error using table name, not found: velora_mail\n",
           "qvdtbl.in column value out of range for table Velora_MAIL: 23, the table has 23 columns",
           "qvdtbl.in line longer than 1023 characters skipped: Velora_MAIL[Dead][1]=\"xxx",
       }) {
    EXPECT_NE(log.find(message), std::string::npos) << message;
  }
  EXPECT_EQ(log.find("a note"), std::string::npos);  // comment lines are not even traced
  EXPECT_EQ(log.find("keyword:long"), std::string::npos);
}

TEST_F(KeywordFileTest, TheHostFileWinsOverTheInstanceFile) {
  writeFile(bin_ + "qvdtbl.in", "Velora_MAIL[Dead][1]=\"host\\t\"\n");
  writeFile(bin_ + "qvdtbl_inst1.in", "Velora_MAIL[Hold][3]=\"instance\\t\"\n");
  loadTables();
  EXPECT_STREQ(keyword("Velora_MAIL", 1), "host\t");
  EXPECT_STREQ(keyword("Velora_MAIL", 3), "mail.hold\t");

  unlink((bin_ + "qvdtbl.in").c_str());
  loadTables();
  EXPECT_STREQ(keyword("Velora_MAIL", 3), "instance\t");
}

TEST_F(KeywordFileTest, AnUnwritableTemplateIsReportedAndOverridesStillApply) {
  writeFile(bin_ + "qvdtbl_inst1.in", "Velora_Agent[Daily_Access_Denials][1]=\"agent.denied\\t\"\n");
  mkdir((bin_ + "qvdtbl_inst1.out").c_str(), 0755);  // a directory cannot be opened for writing
  loadTables();
  EXPECT_STREQ(keyword("Velora_Agent", 1), "agent.denied\t");
  EXPECT_NE(trace().find("Open failed for fileNameOut: " + bin_ + "qvdtbl_inst1.out\n"), std::string::npos);

  // Without an install home nothing is read or written, and nothing breaks.
  halcyon_home = nullptr;
  loadTables();
  EXPECT_NE(trace().find("keyword tables not loaded"), std::string::npos);
}

// The template sits beside the server's own files: a link left at its name
// is replaced, never written through, and a template the administrator
// made private stays private.
TEST_F(KeywordFileTest, TheTemplateNeverFollowsALinkAndKeepsItsMode) {
  std::string victim = home_ + "/victim";
  writeFile(victim, "precious\n");
  ASSERT_EQ(0, symlink(victim.c_str(), (bin_ + "qvdtbl_inst1.out").c_str()));
  loadTables();
  EXPECT_EQ("precious\n", readFile(victim));
  struct stat st;
  ASSERT_EQ(0, lstat((bin_ + "qvdtbl_inst1.out").c_str(), &st));
  EXPECT_TRUE(S_ISREG(st.st_mode));
  EXPECT_EQ(0u, templateText().find("#---")) << templateText().substr(0, 100);

  ASSERT_EQ(0, chmod((bin_ + "qvdtbl_inst1.out").c_str(), 0600));
  mode_t old_umask = umask(0);
  loadTables();
  umask(old_umask);
  ASSERT_EQ(0, stat((bin_ + "qvdtbl_inst1.out").c_str(), &st));
  EXPECT_EQ(0600u, st.st_mode & 07777);
  // Nothing but the template is left in the directory.
  std::string listing;
  if (FILE* ls = popen(("ls -A " + bin_).c_str(), "r")) {
    char line[256];
    while (fgets(line, sizeof line, ls)) listing += line;
    pclose(ls);
  }
  EXPECT_EQ("qvdtbl_inst1.out\n", listing);
}

// Override lines with random indices, damaged at random with pieces of the
// syntax: whatever they hold, loadTables stays inside every buffer (the
// sanitizer builds check) and only stores keywords of overridable groups,
// within their columns.
TEST_F(KeywordFileTest, RandomLinesStayWithinTheTables) {
  const char* const groups[] = {"Velora_MAIL", "Velora_Tasks", "Velora_Agent", "Velora_ICM64", "MV_Server"};
  const char* const pieces[] = {"[", "]", "\"", "\\t", "\\", " ", "#", "-", "9", "\r", "\t", ""};
  unsigned seed = 12345;
  auto next = [&seed] { return (seed = seed * 1103515245u + 12345u) >> 16; };
  std::string text;
  for (int n = 0; n < 3000; ++n) {
    std::string line = std::string(groups[next() % 5]) + "[C][" + std::to_string(int(next() % 40) - 2) +
                       "]=\"k" + std::to_string(n) + "\\t\"";
    for (int damage = next() % 3; damage > 0; --damage) {
      size_t at = next() % (line.size() + 1);
      if (next() % 2) line.erase(at, 1);
      line.insert(std::min(at, line.size()), pieces[next() % (sizeof pieces / sizeof pieces[0])]);
    }
    text += line + "\n";
  }
  writeFile(bin_ + "qvdtbl.in", text);
  loadTables();

  int changed = 0;
  for (int i = 0; i < kQvdTableCount; ++i) {
    const QvdTableDescriptor& t = qvdTableCatalogue[i];
    for (size_t c = 0; c < saved_[i].size(); ++c) {
      if (t.keywords[c] == saved_[i][c]) continue;
      EXPECT_TRUE(t.overridable) << t.groupName;
      ++changed;
    }
  }
  EXPECT_GT(changed, 20);
  EXPECT_NE(templateText().find("# Table Velora_Web_Retriever"), std::string::npos);
}

TEST(WriteTable, WritesUpToTheFirstTabAndEmptyTextsForMissingValues) {
  FILE* file = tmpfile();
  ASSERT_NE(file, nullptr);
  const char* columns[] = {"A", "B", nullptr};
  const char* keywords[] = {"a\tb", nullptr, "c"};
  writeTable(file, "G", columns, keywords, 3);
  rewind(file);
  char buffer[256] = {};
  size_t n = fread(buffer, 1, sizeof buffer - 1, file);
  fclose(file);
  EXPECT_EQ(std::string(buffer, n), "# Table G\n#G[A][0]=\"a\\t\"\n#G[B][1]=\"\"\n#G[][2]=\"c\"\n");
}

}  // namespace
