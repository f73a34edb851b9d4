// The add-in statistics builders.
#include "stats/addin_tables.h"

#include <string.h>

#include <string>
#include <string_view>
#include <vector>

#include "agentlink/cp_client.h"
#include "framework/trace.h"
#include "state/globals.h"
#include "stats/catalogue.h"
#include "stats/row_builder.h"
#include "stats/snapshot.h"
#include "stats/stat_text.h"

QVD_TRACE_UNIT("stats/addin");

namespace {

constexpr char kPrefix[] = "mvstats.";
constexpr size_t kPrefixLength = sizeof kPrefix - 1;

char* windowEnd() { return pStatBuffer + dwStatBufferLen; }

bool inWindow(const char* p) {
  return pStatBuffer != nullptr && p >= pStatBuffer && p < windowEnd();
}

bool endsName(char c) { return c == '\t' || c == '\r' || c == '\n' || c == '\0'; }

// The line of a match: its start and the tab that ends its name (null when
// the line has none).
struct Line {
  char* start = nullptr;
  char* tab = nullptr;
};

Line lineOf(char* match) {
  Line line;
  line.start = beginLine(match);
  for (char* p = line.start; p < windowEnd(); ++p) {
    if (*p == '\t') {
      line.tab = p;
      break;
    }
    if (*p == '\n' || *p == '\0') break;
  }
  return line;
}

// True when `text` of `length` bytes at `match` lies inside the line's name.
bool inName(const Line& line, const char* match, size_t length) {
  return line.tab != nullptr && match + length <= line.tab;
}

// ---------------------------------------------------------------------------
// Names of the add-in lines, for the companion look-ups: every line whose
// name begins with "mvstats.", by its whole name, in text order.  Built once
// per snapshot, before the first add-in build changes anything; names are
// never changed by the builders, and each candidate is checked against the
// current text before it is used.

// An open-addressing table of (hash, offset) pairs: one probe sequence per
// look-up, no allocation per line, so the cost per line stays flat however
// large the section is.
struct NameIndex {
  struct Slot {
    uint32_t hash = 0;   // high half of the name's hash
    uint32_t place = 0;  // line start from pStatBuffer, plus 1; 0: empty
  };
  uint64_t generation = 0;
  std::vector<Slot> slots;
  size_t mask = 0;
  bool duplicates = false;  // some name stands on more than one line
};
NameIndex g_index;

// The line of the row being built: its companions usually stand right
// beside it (the server lists statistics in order), so they are looked for
// there first, which keeps the look-ups in the part of the text at hand.
const char* g_near = nullptr;
constexpr int kNearLines = 12;

uint64_t hashName(const char* name, size_t length) {
  uint64_t h = 1469598103934665603ull;  // FNV-1a
  for (size_t i = 0; i < length; ++i) {
    h ^= static_cast<unsigned char>(name[i]);
    h *= 1099511628211ull;
  }
  return h;
}

// True when the line at `line` has the whole name `name` (then its tab).
bool lineNamed(const char* line, const char* name, size_t length) {
  return line + length < windowEnd() && memcmp(line, name, length) == 0 && line[length] == '\t';
}

void ensureIndex() {
  if (g_index.generation == statsSnapshotGeneration() && !g_index.slots.empty()) return;
  g_index.generation = statsSnapshotGeneration();
  g_index.slots.clear();
  g_index.duplicates = false;
  if (pMvStats == nullptr) return;
  char* end = windowEnd();
  // Lines of the section: the names, found with one walk.
  std::vector<std::pair<char*, size_t>> names;
  char* p = beginLine(pMvStats);
  while (p < end) {
    char* name = p;
    while (p < end && !endsName(*p)) ++p;
    if (p < end && *p == '\t' && static_cast<size_t>(p - name) > kPrefixLength &&
        memcmp(name, kPrefix, kPrefixLength) == 0) {
      names.emplace_back(name, static_cast<size_t>(p - name));
    }
    while (p < end && *p != '\n' && *p != '\0') ++p;  // the rest of the line
    ++p;
  }
  size_t size = 16;
  while (size < names.size() * 2) size *= 2;
  g_index.slots.assign(size, NameIndex::Slot());
  g_index.mask = size - 1;
  for (const auto& n : names) {
    uint64_t h = hashName(n.first, n.second);
    uint32_t high = static_cast<uint32_t>(h >> 32);
    for (size_t i = h & g_index.mask;; i = (i + 1) & g_index.mask) {
      NameIndex::Slot& slot = g_index.slots[i];
      if (slot.place == 0) {
        slot.hash = high;
        slot.place = static_cast<uint32_t>(n.first - pStatBuffer) + 1;
        break;
      }
      // The first line of a name is the one looked up.
      if (slot.hash == high && lineNamed(pStatBuffer + slot.place - 1, n.first, n.second)) {
        g_index.duplicates = true;
        break;
      }
    }
  }
}

// The line named `name` among the kNearLines lines after and before
// g_near, or null.
char* nearLine(const std::string& name) {
  if (g_near == nullptr) return nullptr;
  const char* end = windowEnd();
  const char* p = g_near;
  for (int i = 0; i < kNearLines && p < end; ++i) {  // forwards, g_near's line first
    if (lineNamed(p, name.data(), name.size())) return const_cast<char*>(p);
    const char* lineEnd = static_cast<const char*>(memchr(p, '\n', static_cast<size_t>(end - p)));
    if (lineEnd == nullptr) break;
    p = lineEnd + 1;
  }
  p = g_near;
  for (int i = 0; i < kNearLines && p > pStatBuffer; ++i) {  // backwards
    p = beginLine(const_cast<char*>(p) - 1);
    if (lineNamed(p, name.data(), name.size())) return const_cast<char*>(p);
  }
  return nullptr;
}

// The value of the first line whose whole name is `name`, normalised; null
// when there is none.
char* companion(const std::string& name) {
  if (g_index.slots.empty()) return nullptr;
  // Without duplicate names, the line beside the row is the only one.
  if (!g_index.duplicates) {
    if (char* line = nearLine(name)) return getValueKeyword(line, nullptr);
  }
  uint64_t h = hashName(name.data(), name.size());
  uint32_t high = static_cast<uint32_t>(h >> 32);
  for (size_t i = h & g_index.mask;; i = (i + 1) & g_index.mask) {
    const NameIndex::Slot& slot = g_index.slots[i];
    if (slot.place == 0) return nullptr;
    char* line = pStatBuffer + slot.place - 1;
    if (slot.hash == high && lineNamed(line, name.data(), name.size())) {
      return getValueKeyword(line, nullptr);
    }
  }
}

// The value of the line whose name ends at `tab`, normalised.
char* lineValue(char* tab) { return getValueKeyword(tab, nullptr); }

// The value of the line whose name ends at `tab`, as the line holds it, cut
// at its line end.
char* rawLineValue(char* tab) {
  char* value = tab + 1;
  char* end = value + strcspn(value, "\r\n");
  *end = '\0';
  return value;
}

// "mvstats." + statistic + middle + item + measure.
std::string key(std::string_view statistic, const char* middle, std::string_view item,
                const char* measure) {
  std::string k;
  k.reserve(kPrefixLength + statistic.size() + item.size() + 40);
  k.append(kPrefix).append(statistic).append(middle).append(item).append(measure);
  return k;
}

std::string_view span(const char* from, const char* to) {
  return std::string_view(from, static_cast<size_t>(to - from));
}

// Per table: the snapshot it was last built from, and the names of its
// last row (the slots point at them until the next build).
uint64_t g_built[7];
std::string g_names[7][2];

// One build of one add-in table: the group's slots and the rows it sends.
class Build {
 public:
  // `table` numbers the table (0..6) for its build mark and name buffers.
  Build(const char* group, char** values, const char* const* columns, int count, char* id,
        int table)
      : group_(group), values_(values), columns_(columns), count_(count), id_(id),
        names_(g_names[table]) {
    uint64_t* builtFor = &g_built[table];
    ok_ = pStatBuffer != nullptr && pMvStats != nullptr && *builtFor != statsSnapshotGeneration();
    if (!ok_) {
      QVD_DETAIL("%s: no add-in statistics to build from", group_);
      return;
    }
    *builtFor = statsSnapshotGeneration();
    g_near = nullptr;
    for (int i = 1; i < count_; ++i) values_[i] = nullptr;
    ensureIndex();
  }
  bool ok() const { return ok_; }

  // Names are kept in the build's own buffers; they stay valid until the
  // next build of the group.
  char* name(int slot, std::string_view text) {
    names_[slot].assign(text.data(), text.size());
    return const_cast<char*>(names_[slot].c_str());
  }

  void send() {
    values_[0] = server_name;
    logResults(values_, columns_, nullptr, count_, group_);
    cp_SetAttributeValues(const_cast<const char**>(values_), count_, id_);
    for (int i = 1; i < count_; ++i) values_[i] = nullptr;
    ++rows_;
  }
  ~Build() {
    if (ok_) QVD_DETAIL("%s: %d rows", group_, rows_);
  }

  // The next driving match of `measure` after `from`, or null.
  static char* next(char* from, const char* measure, const char* prefix) {
    if (from == nullptr || from >= windowEnd()) return nullptr;
    return str_str(from, measure, prefix);
  }

 private:
  const char* group_;
  char** values_;
  const char* const* columns_;
  int count_;
  char* id_;
  bool ok_ = false;
  int rows_ = 0;
  std::string* names_;
};

// The statistic and item of "mvstats.S.ITEM<measure>": the second full stop
// backwards from the match separates them.  False when the line does not
// have that shape.
bool statisticAndItem(const Line& line, char* match, std::string_view* statistic,
                      char** item) {
  char* period = findPeriod(match, -2);
  if (period == match || period < line.start + kPrefixLength) return false;
  *statistic = span(line.start + kPrefixLength, period);
  *item = period + 1;
  return !statistic->empty() && *item < match;
}

}  // namespace

bool isServername(char* p) {
  if (p == nullptr) return false;
  const char* end = inWindow(p) ? windowEnd() : nullptr;
  for (const char* q = p; end == nullptr || q < end; ++q) {
    if (*q == '/') return true;
    if (*q == '.' || endsName(*q)) return false;
  }
  return false;
}

char* str_line(const char* line, const char* pattern) {
  if (line == nullptr) return nullptr;
  if (pattern == nullptr || *pattern == '\0') return const_cast<char*>(line);
  const char* lineFeed = line + strcspn(line, "\n");
  if (*lineFeed != '\n') return nullptr;
  size_t length = strlen(pattern);
  if (strchr(pattern, '\n') == nullptr) {
    // A match that starts before the line feed ends before it.
    return static_cast<char*>(memmem(line, static_cast<size_t>(lineFeed - line), pattern, length));
  }
  const char* match = strstr(line, pattern);
  return match != nullptr && match < lineFeed ? const_cast<char*>(match) : nullptr;
}

void Parse_MV_View_Performance_Statistics(char* requestHandle) {
  static constexpr char kMeasure[] = ".percentunder";
  constexpr size_t kLength = sizeof kMeasure - 1;
  Build build("MV_View_Performance_Statistics", MV_View_Performance_Statistics,
              MV_View_Performance_Statistics_Column, MV_View_Performance_Statistics_ColumnCount,
              requestHandle, 0);
  if (!build.ok()) return;
  char** v = MV_View_Performance_Statistics;
  for (char* m = Build::next(pMvStats, kMeasure, nullptr); m != nullptr;
       m = Build::next(m + kLength, kMeasure, nullptr)) {
    Line line = lineOf(m);
    g_near = line.start;
    // Only a name of the add-in's own, with the measure inside the name.
    if (!inName(line, m, kLength) || m < line.start + kPrefixLength ||
        strncmp(line.start, kPrefix, kPrefixLength) != 0) {
      continue;
    }
    std::string_view statistic = span(line.start + kPrefixLength, m);
    std::string_view under = span(m + kLength, line.tab);
    v[1] = build.name(0, statistic);
    v[2] = companion(key(statistic, "", "", ".max"));
    v[3] = companion(key(statistic, "", "", ".avg"));
    v[4] = companion(key(statistic, "", "", ".count"));
    v[5] = build.name(1, under);
    v[6] = rawLineValue(line.tab);
    build.send();
  }
}

void Parse_MV_Replication_Statistics(char* requestHandle) {
  static constexpr char kMeasure[] = ".pulled.documents.transferred.";
  constexpr size_t kLength = sizeof kMeasure - 1;
  Build build("MV_Replication_Statistics", MV_Replication_Statistics,
              MV_Replication_Statistics_Column, MV_Replication_Statistics_ColumnCount,
              requestHandle, 1);
  if (!build.ok()) return;
  char** v = MV_Replication_Statistics;
  for (char* m = Build::next(pMvStats, kMeasure, kPrefix); m != nullptr;
       m = Build::next(m + kLength, kMeasure, kPrefix)) {
    Line line = lineOf(m);
    g_near = line.start;
    if (!inName(line, m, kLength) || m < line.start + kPrefixLength) continue;
    char* partner = m + kLength;
    if (!isServername(partner)) continue;
    std::string_view statistic = span(line.start + kPrefixLength, m);
    std::string_view r = span(partner, line.tab);
    v[1] = build.name(0, r);
    v[2] = build.name(1, statistic);
    v[3] = companion(key(statistic, ".pulled.kbreceived.", r, ""));
    v[4] = companion(key(statistic, ".pulled.kbsent.", r, ""));
    v[5] = lineValue(line.tab);
    v[6] = companion(key(statistic, ".pushed.kbreceived.", r, ""));
    v[7] = companion(key(statistic, ".pushed.kbsent.", r, ""));
    v[8] = companion(key(statistic, ".pushed.documents.transferred.", r, ""));
    v[9] = companion(key(statistic, ".time.", r, ""));
    v[10] = companion(key(statistic, ".totalmissed.", r, ""));
    v[11] = companion(key(statistic, ".totalsuccesses.", r, ""));
    build.send();
  }
}

void Parse_MV_Replication_Delay_Statistics(char* requestHandle) {
  static constexpr char kMeasure[] = ".minutessince.recv\t";
  constexpr size_t kLength = sizeof kMeasure - 1;
  Build build("MV_Replication_Delay_Statistics", MV_Replication_Delay_Statistics,
              MV_Replication_Delay_Statistics_Column,
              MV_Replication_Delay_Statistics_ColumnCount, requestHandle, 2);
  if (!build.ok()) return;
  char** v = MV_Replication_Delay_Statistics;
  for (char* m = Build::next(pMvStats, kMeasure, kPrefix); m != nullptr;
       m = Build::next(m + kLength, kMeasure, kPrefix)) {
    Line line = lineOf(m);
    g_near = line.start;
    std::string_view statistic;
    char* partner = nullptr;
    if (!inName(line, m, kLength - 1) || !statisticAndItem(line, m, &statistic, &partner) ||
        !isServername(partner)) {
      continue;
    }
    std::string_view r = span(partner, m);
    v[1] = build.name(0, r);
    v[2] = build.name(1, statistic);
    v[3] = lineValue(line.tab);
    v[4] = companion(key(statistic, ".", r, ".minutessince.send"));
    build.send();
  }
}

void Parse_MV_Mail_Size_Statistics(char* requestHandle) {
  static constexpr char kMeasure[] = ".avg\t";
  constexpr size_t kLength = sizeof kMeasure - 1;
  Build build("MV_Mail_Size_Statistics", MV_Mail_Size_Statistics, MV_Mail_Size_Statistics_Column,
              MV_Mail_Size_Statistics_ColumnCount, requestHandle, 3);
  if (!build.ok()) return;
  char** v = MV_Mail_Size_Statistics;
  auto startsWith = [](const char* p, const char* word) {
    return strncmp(p, word, strlen(word)) == 0;
  };
  for (char* m = Build::next(pMvStats, kMeasure, kPrefix); m != nullptr;
       m = Build::next(m + kLength, kMeasure, kPrefix)) {
    Line line = lineOf(m);
    g_near = line.start;
    if (!inName(line, m, kLength - 1)) continue;
    char* third = findPeriod(m, -3);
    char* second = findPeriod(m, -2);
    const char* firstOfName = line.start + kPrefixLength - 1;  // the prefix's own full stop
    std::string_view statistic;
    std::string_view size;
    bool named = false;
    if (third != m && third >= firstOfName &&
        (startsWith(third, ".sent.") || startsWith(third, ".received.") ||
         startsWith(third, ".outgoing."))) {
      // The direction word runs to the second full stop.
      statistic = span(line.start + kPrefixLength, second);
      size = span(second + 1, m);
      named = true;
    } else if (second != m && second >= firstOfName &&
               (startsWith(second, ".sent.") || startsWith(second, ".recv."))) {
      statistic = span(line.start + kPrefixLength, m);
    } else {
      continue;
    }
    v[1] = named ? build.name(0, size) : nullptr;
    v[2] = build.name(1, statistic);
    v[3] = companion(key(statistic, named ? "." : "", size, ".count"));
    v[4] = companion(key(statistic, named ? "." : "", size, ".max"));
    v[5] = lineValue(line.tab);
    build.send();
  }
}

void Parse_MV_Mail_Domain_Statistics(char* requestHandle) {
  static constexpr char kMeasure[] = ".size\t";
  constexpr size_t kLength = sizeof kMeasure - 1;
  Build build("MV_Mail_Domain_Statistics", MV_Mail_Domain_Statistics,
              MV_Mail_Domain_Statistics_Column, MV_Mail_Domain_Statistics_ColumnCount,
              requestHandle, 4);
  if (!build.ok()) return;
  char** v = MV_Mail_Domain_Statistics;
  for (char* m = Build::next(pMvStats, kMeasure, kPrefix); m != nullptr;
       m = Build::next(m + kLength, kMeasure, kPrefix)) {
    Line line = lineOf(m);
    g_near = line.start;
    if (!inName(line, m, kLength - 1)) continue;
    // The direction word must stand in the name before the measure.
    static constexpr const char* kWords[] = {".incoming.", ".outgoing."};
    char* word = nullptr;
    size_t wordLength = 0;
    for (const char* w : kWords) {
      char* found = str_line(line.start, w);
      if (found != nullptr && found + strlen(w) <= m) {
        word = found;
        wordLength = strlen(w);
        break;
      }
    }
    if (word == nullptr || word + wordLength > m) continue;
    std::string_view statistic = span(line.start + kPrefixLength, word + wordLength - 1);
    std::string_view domain = span(word + wordLength, m);
    if (domain.empty()) continue;
    v[1] = build.name(0, domain);
    v[2] = build.name(1, statistic);
    v[3] = companion(key(statistic, ".", domain, ".count"));
    v[4] = lineValue(line.tab);
    build.send();
  }
}

void Parse_MV_Mail_Incoming_Statistics(char* requestHandle) {
  static constexpr char kMeasure[] = ".countover\t";
  constexpr size_t kLength = sizeof kMeasure - 1;
  Build build("MV_Mail_Incoming_Statistics", MV_Mail_Incoming_Statistics,
              MV_Mail_Incoming_Statistics_Column, MV_Mail_Incoming_Statistics_ColumnCount,
              requestHandle, 5);
  if (!build.ok()) return;
  char** v = MV_Mail_Incoming_Statistics;
  for (char* m = Build::next(pMvStats, kMeasure, kPrefix); m != nullptr;
       m = Build::next(m + kLength, kMeasure, kPrefix)) {
    Line line = lineOf(m);
    g_near = line.start;
    std::string_view statistic;
    char* origin = nullptr;
    if (!inName(line, m, kLength - 1) || !statisticAndItem(line, m, &statistic, &origin) ||
        !isServername(origin)) {
      continue;
    }
    std::string_view o = span(origin, m);
    v[1] = build.name(0, o);
    v[2] = build.name(1, statistic);
    v[3] = lineValue(line.tab);
    v[4] = companion(key(statistic, ".", o, ".min"));
    v[5] = companion(key(statistic, ".", o, ".max"));
    v[6] = companion(key(statistic, ".", o, ".avg"));
    build.send();
  }
}

void Parse_MV_Mail_Outgoing_Statistics(char* requestHandle) {
  static constexpr char kMeasure[] = ".volume\t";
  constexpr size_t kLength = sizeof kMeasure - 1;
  Build build("MV_Mail_Outgoing_Statistics", MV_Mail_Outgoing_Statistics,
              MV_Mail_Outgoing_Statistics_Column, MV_Mail_Outgoing_Statistics_ColumnCount,
              requestHandle, 6);
  if (!build.ok()) return;
  char** v = MV_Mail_Outgoing_Statistics;
  for (char* m = Build::next(pMvStats, kMeasure, kPrefix); m != nullptr;
       m = Build::next(m + kLength, kMeasure, kPrefix)) {
    Line line = lineOf(m);
    g_near = line.start;
    std::string_view statistic;
    char* destination = nullptr;
    if (!inName(line, m, kLength - 1) || !statisticAndItem(line, m, &statistic, &destination) ||
        !isServername(destination)) {
      continue;
    }
    std::string_view dst = span(destination, m);
    v[1] = build.name(0, dst);
    v[2] = build.name(1, statistic);
    v[3] = companion(key(statistic, ".", dst, ".count"));
    v[4] = lineValue(line.tab);
    build.send();
  }
}

bool buildAddInTable(const char* groupName, char* requestHandle) {
  static const struct {
    const char* group;
    void (*build)(char*);
  } kBuilders[] = {
      {"MV_View_Performance_Statistics", Parse_MV_View_Performance_Statistics},
      {"MV_Replication_Statistics", Parse_MV_Replication_Statistics},
      {"MV_Replication_Delay_Statistics", Parse_MV_Replication_Delay_Statistics},
      {"MV_Mail_Size_Statistics", Parse_MV_Mail_Size_Statistics},
      {"MV_Mail_Domain_Statistics", Parse_MV_Mail_Domain_Statistics},
      {"MV_Mail_Incoming_Statistics", Parse_MV_Mail_Incoming_Statistics},
      {"MV_Mail_Outgoing_Statistics", Parse_MV_Mail_Outgoing_Statistics},
  };
  for (const auto& b : kBuilders) {
    if (strcmp(b.group, groupName) == 0) {
      b.build(requestHandle);
      return true;
    }
  }
  return false;
}
