// Reading the keyword override file and writing its template.
#include "stats/keyword_file.h"

#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>

#include "framework/trace.h"
#include "state/globals.h"
#include "stats/catalogue.h"
#include "util/atomic_file.h"

QVD_TRACE_UNIT("stats/keyword_file");

namespace {

// A line of an override file holds at most this many characters.
constexpr int kMaxLine = 1023;

// The overridable groups in template order, with the progress line written
// before each block (null: none).
struct TemplateEntry {
  const char* groupName;
  const char* progress;
};

const TemplateEntry kTemplateOrder[] = {
    {"Velora_Calendar", "write table calendar"},
    {"Velora_Calendar64", nullptr},
    {"Velora_LDAP", nullptr},
    {"Velora_LDAP64", nullptr},
    {"Velora_MAIL", "write table mail"},
    {"Velora_MAIL64", "write table mail 64"},
    {"Velora_NET_TCPIP", "write table TCPIP"},
    {"Velora_NET_TCPIP64", "write table TCPIP 64"},
    {"Velora_Replica_Cluster", "write table replica cluster"},
    {"Velora_Replica_Cluster64", "write table replica cluster 64"},
    {"Velora_Server", "write table server"},
    {"Velora_Server64", "write table server 64"},
    {"Velora_Server_Cluster", "write table server cluster"},
    {"Velora_ICM", "write table ICM"},
    {"Velora_ICM64", "write table ICM 64"},
    {"Velora_Database", "write table database"},
    {"Velora_Database64", "write table database 64"},
    {"Velora_Mail_By_Dest", "write table mail by dest"},
    {"Velora_Mail_By_Dest64", "write table mail by dest 64"},
    {"Velora_SMTP", "write table SMTP"},
    {"Velora_SMTP64", "write table SMTP 64"},
    {"Velora_IMAP", "write table IMAP"},
    {"Velora_IMAP64", "write table IMAP 64"},
    {"Velora_Agent", "write table agent"},
    {"Velora_Replica", "write table replica"},
    {"Velora_Replica64", "write table replica"},
    {"Velora_Command", "write table command"},
    {"Velora_Web_Retriever", nullptr},
};

const char kRule[] =
    "#----------------------------------------------------------------------------------------\n";

const char* const kHeader[] = {
    kRule,
    "# This file can be used to modify the scan keyword strings for the Velora Tables.\n",
    "# Copy this file to qvdtbl.in or qvdtbl_{Instance Name}.in.  Remove the comment "
    "symbol(#)\n",
    "# from the line that needs to be modified and then update the keyword field\n",
    "# for the table name and column.  The qvdtbl.in is used for all instances on the\n",
    "# machine, while the qvdtbl_{Instance Name}.in allows changing the scan keywords by\n",
    "# instance.  {Velora Table_Name}[Server_Name][0]= should not be modified.\n",
    "#   Format: {Velora Table Name}[{Column Name}][{Column}]=\"{keyword\\t}\"\n",
    "#           where \\t represents the tab character\n",
    kRule,
};

// Owner of the keyword copies the overrides installed, one per keyword
// slot: a later override of the same slot frees the copy it replaces, so a
// file that repeats a line does not make memory grow with it.  Never
// destroyed: the copies must outlive every reader, including threads still
// running while the process exits.
std::map<const char**, char*>& keywordCopies() {
  static auto* copies = new std::map<const char**, char*>();
  return *copies;
}

const QvdTableDescriptor* findOverridable(const char* groupName) {
  const QvdTableDescriptor* table = findTableDescriptor(groupName);
  return table != nullptr && table->overridable ? table : nullptr;
}

// Removes every blank of `line` in place.
void removeBlanks(char* line) {
  char* out = line;
  for (const char* in = line; *in != '\0'; ++in) {
    if (*in != ' ') *out++ = *in;
  }
  *out = '\0';
}

// printf into a std::string.
std::string format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
std::string format(const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  va_list again;
  va_copy(again, ap);
  int n = std::vsnprintf(nullptr, 0, fmt, ap);
  va_end(ap);
  std::string out(n > 0 ? static_cast<size_t>(n) : 0, '\0');
  if (n > 0) std::vsnprintf(&out[0], out.size() + 1, fmt, again);
  va_end(again);
  return out;
}

// Parses one override line (blanks already removed, line end stripped) and,
// when `apply` is set, applies it.  `original` is the line as read, for the
// messages.  Returns the message that names the line's fault, or an empty
// text for a good line.
std::string applyLine(char* line, const char* original, bool apply) {
  char* open = std::strchr(line, '[');
  if (open == nullptr) return format("qvdtbl.in scan error for table name with line: %s", original);
  *open = '\0';
  const char* groupName = line;

  char* column = open + 1;
  char* close = std::strchr(column, ']');
  if (close == nullptr)
    return format("qvdtbl.in scan error for column name with line: %s", original);
  *close = '\0';

  // The character after the column name's ']' is the index's '['.  A line
  // ending right there has no index at all.
  if (close[1] == '\0')
    return format("qvdtbl.in scan error for column value with line: %s", original);
  char* indexText = close + 2;
  char* indexEnd = std::strchr(indexText, ']');
  if (indexEnd == nullptr)
    return format("qvdtbl.in scan error for column value with line: %s", original);
  *indexEnd = '\0';

  errno = 0;
  char* digitsEnd = nullptr;
  long index = std::strtol(indexText, &digitsEnd, 10);
  if (digitsEnd == indexText || index < 0 || errno == ERANGE)
    return format("qvdtbl.in column value conversion error: %s line:%s", indexText, original);

  char* quote = std::strchr(indexEnd + 1, '"');
  if (quote == nullptr)
    return format("qvdtbl.in scan error for keyword name with line: %s", original);
  // The keyword ends after the first "\t" (which becomes a tab) or before the
  // closing quote, whichever comes first.
  char* keyword = quote + 1;
  char* end = keyword;
  while (*end != '\0' && *end != '"' && !(end[0] == '\\' && end[1] == 't')) ++end;
  if (*end == '\\') {
    end[0] = '\t';
    end[1] = '\0';
  } else if (*end == '"') {
    *end = '\0';
  } else {
    return format("qvdtbl.in scan error for keyword name with line: %s", original);
  }

  if (apply)
    QVD_DETAIL("Processing - table:%s, column:%s, keyword:%s", groupName, indexText, keyword);

  const QvdTableDescriptor* table = findOverridable(groupName);
  if (table == nullptr) return format("qvdtbl.in error using table name, not found: %s", groupName);
  if (index >= table->columnCount) {
    return format(
        "qvdtbl.in column value out of range for table %s: %ld, the table has %d columns, line:%s",
        groupName, index, table->columnCount, original);
  }
  if (!apply) return std::string();
  char* copy = strdup(keyword);
  if (copy == nullptr) return format("qvdtbl.in keyword not stored, out of memory: %s", original);
  char*& owned = keywordCopies()[&table->keywords[index]];
  std::free(owned);  // the slot's earlier copy, read by no one any more
  owned = copy;
  table->keywords[index] = copy;
  return std::string();
}

// Reads `file` line by line; applies every override when `apply` is set,
// tracing each bad line.  Returns what was read.
OverrideFileReport readOverrides(FILE* file, bool apply) {
  OverrideFileReport report;
  char line[kMaxLine + 2];  // the line, its line feed and the terminator
  int number = 0;
  while (std::fgets(line, sizeof line, file) != nullptr) {
    ++number;
    size_t length = std::strlen(line);
    bool complete = length > 0 && line[length - 1] == '\n';
    if (!complete && !std::feof(file)) {
      // Longer than a line may be: skip all of it rather than apply its
      // pieces as separate lines.
      std::string message =
          format("qvdtbl.in line longer than %d characters skipped: %.40s...", kMaxLine, line);
      if (apply) QVD_ALWAYS("%s", message.c_str());
      report.problems.push_back({number, message});
      int c;
      while ((c = std::fgetc(file)) != EOF && c != '\n') {
      }
      continue;
    }
    while (length > 0 && (line[length - 1] == '\n' || line[length - 1] == '\r')) line[--length] = '\0';

    if (std::strchr(line, '#') != nullptr) continue;
    if (apply) QVD_DETAIL("Processing - line:%s", line);
    std::string original(line);
    removeBlanks(line);
    std::string problem = applyLine(line, original.c_str(), apply);
    if (problem.empty()) {
      ++report.overrides;
    } else {
      if (apply) QVD_ALWAYS("%s", problem.c_str());
      report.problems.push_back({number, problem});
    }
  }
  return report;
}

// The template is written like the status file: into a temporary file
// created exclusively beside it and renamed into place, so nothing is
// written through a link someone left at its name, and an existing
// template keeps its mode.
void writeTemplate(const std::string& path) {
  AtomicFile file(path, AtomicFile::Ownership::kWherePossible);
  FILE* out = file.open() ? file.stream() : nullptr;
  if (out == nullptr) {
    QVD_ALWAYS("Open failed for fileNameOut: %s", path.c_str());
    if (!file.reason().empty()) QVD_ALWAYS("template: %s", file.reason().c_str());
    return;
  }
  QVD_DETAIL("write header");
  for (const char* line : kHeader) std::fputs(line, out);
  for (const TemplateEntry& entry : kTemplateOrder) {
    if (entry.progress != nullptr) QVD_DETAIL("%s", entry.progress);
    const QvdTableDescriptor* table = findOverridable(entry.groupName);
    if (table == nullptr) continue;  // the catalogue lists every one of them
    writeTable(out, table->groupName, table->columns, table->keywords, table->columnCount);
  }
  QVD_DETAIL("close file");
  if (!file.commit()) {
    QVD_ALWAYS("Write failed for fileNameOut: %s", path.c_str());
    QVD_ALWAYS("template: %s", file.reason().c_str());
  }
  QVD_DETAIL("exit procedure");
}

// Opens an override file for reading.  A file that exists but cannot be
// read is reported with the system's reason (start-up then goes on as if it
// were absent).
FILE* openOverrideFile(const std::string& path) {
  FILE* file = std::fopen(path.c_str(), "re");
  if (file == nullptr && errno != ENOENT) {
    QVD_ALWAYS(
        "keyword override file %s cannot be read (%s); it is skipped. Make it readable "
        "for the collector's user or remove it.",
        path.c_str(), std::strerror(errno));
  }
  return file;
}

}  // namespace

std::string describeOverrideReport(const std::string& path, const OverrideFileReport& report) {
  std::string text = format("keyword override file %s applied: %d override%s taken", path.c_str(),
                            report.overrides, report.overrides == 1 ? "" : "s");
  if (report.problems.empty()) return text + ", no bad lines";
  text += format(", %zu bad line%s skipped (line", report.problems.size(),
                 report.problems.size() == 1 ? "" : "s");
  text += report.problems.size() == 1 ? " " : "s ";
  for (size_t i = 0; i < report.problems.size(); ++i)
    text += (i == 0 ? "" : ", ") + std::to_string(report.problems[i].line);
  return text + ")";
}

OverrideFileReport checkOverrideFile(FILE* file) { return readOverrides(file, false); }

void writeTable(FILE* file, const char* groupName, const char* const* columns,
                const char* const* keywords, int count) {
  std::fprintf(file, "# Table %s\n", groupName);
  for (int i = 0; i < count; ++i) {
    const char* column = columns != nullptr && columns[i] != nullptr ? columns[i] : "";
    const char* keyword = keywords != nullptr && keywords[i] != nullptr ? keywords[i] : "";
    const char* tab = std::strchr(keyword, '\t');
    int shown = tab != nullptr ? static_cast<int>(tab - keyword) : static_cast<int>(std::strlen(keyword));
    std::fprintf(file, "#%s[%s][%d]=\"%.*s%s\"\n", groupName, column, i, shown, keyword,
                 tab != nullptr ? "\\t" : "");
  }
}

void loadTables() {
  QVD_ENTRY();
  if (halcyon_home == nullptr || binArch == nullptr || instance_name == nullptr) {
    QVD_ALWAYS("keyword tables not loaded: install home, platform or instance name not set");
    QVD_EXIT_VOID();
    return;
  }
  const std::string dir = std::string(halcyon_home) + "/" + binArch + "/vd/bin/";
  const std::string fileNameIn = dir + "qvdtbl_" + instance_name + ".in";
  const std::string fileNameInAll = dir + "qvdtbl.in";
  const std::string fileNameOut = dir + "qvdtbl_" + instance_name + ".out";
  QVD_ALWAYS("fileNameIn: %s", fileNameIn.c_str());
  QVD_ALWAYS("fileNameInAll: %s", fileNameInAll.c_str());
  QVD_ALWAYS("fileNameOut: %s", fileNameOut.c_str());

  // The host file wins: the instance file is read only when there is none.
  std::string applied = fileNameInAll;
  FILE* in = openOverrideFile(fileNameInAll);
  if (in == nullptr) {
    applied = fileNameIn;
    in = openOverrideFile(fileNameIn);
  }
  if (in != nullptr) {
    OverrideFileReport report = readOverrides(in, true);
    std::fclose(in);
    QVD_ALWAYS("%s", describeOverrideReport(applied, report).c_str());
  } else {
    QVD_DETAIL("no keyword override file");
  }

  writeTemplate(fileNameOut);
  QVD_EXIT_VOID();
}
