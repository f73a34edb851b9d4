// The keyword override file and its template.
//
// An administrator can change the statistic keywords of the catalogue
// (stats/catalogue.h) without a new build.  At start-up loadTables() reads
//   <home>/<platform>/vd/bin/qvdtbl.in              (every instance), or, only
//   <home>/<platform>/vd/bin/qvdtbl_<instance>.in   when the first is absent,
// with one override per line:
//   GroupName[ColumnName][Index]="keyword\t"
// (blanks ignored, "\t" standing for the tab that ends a statistic keyword,
// lines containing '#' skipped; the column name is not used, the index alone
// selects the keyword), and then writes the template
//   <home>/<platform>/vd/bin/qvdtbl_<instance>.out
// listing every overridable keyword in that syntax, commented out.  Home,
// platform and instance are halcyon_home, binArch and instance_name of
// state/globals.h.
//
// Only the single-row statistics groups and the two mail-by-destination
// groups are overridable.  Every problem (bad line, unknown group, index out
// of range, unreadable or unwritable file) is reported with a trace line and
// never stops start-up.  After reading a file, one line names it with the
// number of overrides taken and the line numbers of the bad lines.
#ifndef QVD_STATS_KEYWORD_FILE_H_
#define QVD_STATS_KEYWORD_FILE_H_

#include <cstdio>
#include <string>
#include <vector>

// Applies the override file to the catalogue's keyword arrays and writes the
// template.  Replaced keywords are heap copies kept for the life of the
// process.  REQUIRES: start-up, before the groups are registered and before
// any other thread reads keywords (it writes them without a lock).
void loadTables();

// Writes one group's block of the template to `file`: "# Table <group>" and
// one commented override line per column.  A keyword is written up to its
// first tab, which appears as the two characters backslash and t.  Null
// column names or keywords are written as empty texts.
void writeTable(FILE* file, const char* groupName, const char* const* columns,
                const char* const* keywords, int count);

// What reading an override file found: the lines that take effect and the
// bad lines, each with its 1-based line number in the file and the message
// loadTables writes for it.
struct OverrideLineProblem {
  int line;
  std::string message;
};
struct OverrideFileReport {
  int overrides = 0;
  std::vector<OverrideLineProblem> problems;
};

// Reads override lines from `file` exactly as loadTables does, without
// changing any keyword and without tracing.  For a configuration check.
OverrideFileReport checkOverrideFile(FILE* file);

// "keyword override file <path> applied: 3 overrides taken, 2 bad lines
// skipped (lines 4, 9)": the line loadTables writes after reading a file.
std::string describeOverrideReport(const std::string& path, const OverrideFileReport& report);

#endif  // QVD_STATS_KEYWORD_FILE_H_
