// Reading an override file for a configuration check: nothing applied,
// every line counted, bad lines by number with loadTables' own message.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "stats/catalogue.h"
#include "stats/keyword_file.h"

namespace {

// A FILE* over `text`, closed by the destructor.
class TextFile {
 public:
  explicit TextFile(const std::string& text) : file_(std::tmpfile()) {
    std::fputs(text.c_str(), file_);
    std::rewind(file_);
  }
  ~TextFile() { std::fclose(file_); }
  FILE* get() const { return file_; }

 private:
  FILE* file_;
};

TEST(OverrideFileCheck, CountsAndNumbersWithoutApplying) {
  const QvdTableDescriptor* mail = findTableDescriptor("Velora_MAIL");
  ASSERT_NE(nullptr, mail);
  const char* before = mail->keywords[1];
  std::string longLine(2000, 'x');
  TextFile file(
      "Velora_MAIL[Dead][1]=\"mail.hold\\t\"\n"  // 1 good
      "# a comment\n"                            // 2 skipped, not bad
      "\n"                                       // 3 bad: no table name
      "Velora_MAIL [ Hold ][3] = \"m.h\\t\"\n"   // 4 good
      + longLine +
      "\n"                             // 5 bad: too long
      "Velora_MAIL[Dead][99]=\"x\"\n"  // 6 bad: index out of range
      "Velora_Tasks[A][1]=\"x\"");     // 7 bad, no final line feed
  OverrideFileReport report = checkOverrideFile(file.get());
  EXPECT_EQ(2, report.overrides);
  ASSERT_EQ(4u, report.problems.size());
  EXPECT_EQ(3, report.problems[0].line);
  EXPECT_EQ("qvdtbl.in scan error for table name with line: ", report.problems[0].message);
  EXPECT_EQ(5, report.problems[1].line);
  EXPECT_EQ(0u,
            report.problems[1].message.find("qvdtbl.in line longer than 1023 characters skipped"));
  EXPECT_EQ(6, report.problems[2].line);
  EXPECT_EQ(0u, report.problems[2].message.find(
                    "qvdtbl.in column value out of range for table Velora_MAIL: 99"));
  EXPECT_EQ(7, report.problems[3].line);
  EXPECT_EQ("qvdtbl.in error using table name, not found: Velora_Tasks",
            report.problems[3].message);
  EXPECT_EQ(before, mail->keywords[1]) << "a check changes no keyword";

  EXPECT_EQ(
      "keyword override file /x/qvdtbl.in applied: 2 overrides taken, 4 bad lines skipped "
      "(lines 3, 5, 6, 7)",
      describeOverrideReport("/x/qvdtbl.in", report));
  OverrideFileReport one;
  one.overrides = 1;
  EXPECT_EQ("keyword override file f applied: 1 override taken, no bad lines",
            describeOverrideReport("f", one));
  one.problems.push_back({4, "m"});
  EXPECT_EQ("keyword override file f applied: 1 override taken, 1 bad line skipped (line 4)",
            describeOverrideReport("f", one));
}

}  // namespace
