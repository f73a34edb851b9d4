// Keyword index over the statistics snapshot.
//
// A statistic keyword "name\t" can only match where the text has a tab, and
// the bytes before that tab (back to the previous tab, line end or zero byte)
// must end with "name".  So one walk over the tabs of the snapshot, reading
// each name backwards through a trie of the reversed keywords, finds every
// occurrence of every such keyword.  Section keywords (no tab) are searched
// once per snapshot from its start and remembered.
//
// The builders change the text after the index is built: they write zero
// bytes (value ends, task names) and normalise numbers (drop separators and
// tabs, turn the decimal separator into a full stop).  Those changes can
// destroy an occurrence, which is why every indexed position is checked
// against the text before it is returned.  They can create one only out of
// digits and full stops, so keywords that begin with a digit or a full stop,
// or hold a line end or a tab before their end, are never indexed and
// always searched directly.
#include "stats/snapshot_index.h"

#include <string.h>

#include <algorithm>
#include <array>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "framework/trace.h"
#include "stats/catalogue.h"
#include "stats/snapshot.h"
#include "stats/stat_text.h"

QVD_TRACE_UNIT("stats/index");

namespace {

bool createdByNormalising(char c) { return c == '.' || (c >= '0' && c <= '9'); }

// A keyword whose occurrences the builders can never create.
// Normalising works after a value's tab and drops tabs inside numbers, so a
// keyword with a tab before its end could be made out of a number too.
bool stableKeyword(std::string_view k) {
  if (k.empty() || createdByNormalising(k[0])) return false;
  if (k.find_first_of("\r\n") != std::string_view::npos) return false;
  size_t tab = k.find('\t');
  return tab == std::string_view::npos || tab == k.size() - 1;
}

// "name\t" with a name free of tabs: findable through the tab walk.
bool tabKeyword(std::string_view k) {
  return k.size() >= 2 && stableKeyword(k) && k.back() == '\t' &&
         k.find('\t') == k.size() - 1;
}

// Trie over the reversed names (keyword without its tab).  Bytes that occur
// in no name map to no class, so the walk stops on them at once.
class ReverseTrie {
 public:
  explicit ReverseTrie(const std::vector<std::string>& keywords) : keywords_(keywords) {
    classOf_.fill(-1);
    for (const std::string& k : keywords_) {
      for (size_t i = 0; i + 1 < k.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(k[i]);
        if (classOf_[c] < 0) classOf_[c] = classCount_++;
      }
    }
    addNode();
    for (size_t id = 0; id < keywords_.size(); ++id) {
      const std::string& k = keywords_[id];
      int node = 0;
      for (size_t i = k.size() - 1; i-- > 0;) {
        int cls = classOf_[static_cast<unsigned char>(k[i])];
        int next = child(node, cls);
        if (next < 0) {
          next = addNode();
          children_[static_cast<size_t>(node) * classCount_ + cls] = next;
        }
        node = next;
      }
      terminal_[node] = static_cast<int>(id);
    }
  }

  const std::vector<std::string>& keywords() const { return keywords_; }

  // Calls found(id, matchStart) for every keyword whose name ends just
  // before the tab at `tab`; `lineStart` bounds the walk.
  template <typename Found>
  void walk(const char* lineStart, const char* tab, Found found) const {
    int node = 0;
    for (const char* q = tab; q > lineStart;) {
      --q;
      int cls = classOf_[static_cast<unsigned char>(*q)];
      if (cls < 0) return;
      node = child(node, cls);
      if (node < 0) return;
      if (terminal_[node] >= 0) found(terminal_[node], q);
    }
  }

 private:
  int child(int node, int cls) const { return children_[static_cast<size_t>(node) * classCount_ + cls]; }
  int addNode() {
    children_.resize(children_.size() + classCount_, -1);
    terminal_.push_back(-1);
    return static_cast<int>(terminal_.size()) - 1;
  }

  std::vector<std::string> keywords_;
  std::array<int, 256> classOf_{};
  int classCount_ = 0;
  std::vector<int> children_;
  std::vector<int> terminal_;
};

struct Index {
  uint64_t generation = 0;
  const char* buffer = nullptr;
  uint32_t length = 0;
  std::unique_ptr<ReverseTrie> trie;
  std::unordered_map<std::string_view, int> idOf;  // views into trie->keywords()
  std::vector<std::vector<uint32_t>> occurrences;  // per keyword id, ascending
  std::unordered_map<std::string, long> firstFromStart;  // section keywords; -1: none
  std::unordered_map<std::string, std::vector<uint32_t>> everyOccurrence;  // stable keywords
};

Index g_index;

// The tab keywords of every single-row group and the task keyword, distinct.
std::vector<std::string> collectKeywords() {
  std::vector<std::string> result;
  for (const QvdTableDescriptor& table : qvdTableCatalogue) {
    if (table.kind != QVD_TABLE_SINGLE_ROW || table.keywords == nullptr) continue;
    for (int i = 1; i < table.columnCount; ++i) {
      const char* k = table.keywords[i];
      if (k != nullptr && tabKeyword(k)) result.emplace_back(k);
    }
  }
  const char* task = Velora_Tasks_Keyword[0];
  if (task != nullptr && tabKeyword(task)) result.emplace_back(task);
  std::sort(result.begin(), result.end());
  result.erase(std::unique(result.begin(), result.end()), result.end());
  return result;
}

void rebuild() {
  g_index.generation = statsSnapshotGeneration();
  g_index.buffer = pStatBuffer;
  g_index.length = dwStatBufferLen;
  g_index.firstFromStart.clear();
  g_index.everyOccurrence.clear();
  // The keywords change only at start-up; keep the trie while they hold.
  std::vector<std::string> keywords = collectKeywords();
  if (!g_index.trie || g_index.trie->keywords() != keywords) {
    g_index.trie = std::make_unique<ReverseTrie>(keywords);
    g_index.idOf.clear();
    const std::vector<std::string>& kept = g_index.trie->keywords();
    for (size_t id = 0; id < kept.size(); ++id) g_index.idOf.emplace(kept[id], static_cast<int>(id));
  }
  g_index.occurrences.assign(g_index.trie->keywords().size(), {});
  const char* text = pStatBuffer;
  const char* end = pStatBuffer + dwStatBufferLen;
  const char* lineStart = text;
  for (const char* p = text; p < end;) {
    const char* tab = static_cast<const char*>(memchr(p, '\t', end - p));
    if (tab == nullptr) break;
    // The name before this tab starts after the last line end, zero byte or
    // tab; the trie walk stops at those bytes by itself (they are in no
    // name), so the previous tab is a safe lower bound.
    g_index.trie->walk(lineStart, tab, [&](int id, const char* match) {
      g_index.occurrences[id].push_back(static_cast<uint32_t>(match - text));
    });
    lineStart = tab + 1;
    p = tab + 1;
  }
  // Each walk reports matches from the tab backwards; one tab yields at most
  // one match per keyword, and tabs come in order, so every list ascends.
  QVD_DETAIL("keyword index built over %u bytes", dwStatBufferLen);
}

bool indexCurrent() {
  return g_index.generation == statsSnapshotGeneration() && g_index.buffer == pStatBuffer &&
         g_index.length == dwStatBufferLen;
}

bool matchesAt(const char* at, std::string_view keyword) {
  return memcmp(at, keyword.data(), keyword.size()) == 0;
}

// The first indexed occurrence of keyword `id` at or after offset `from`
// that the text still holds, or null.
char* firstIndexed(int id, std::string_view keyword, uint32_t from) {
  const std::vector<uint32_t>& list = g_index.occurrences[id];
  for (auto it = std::lower_bound(list.begin(), list.end(), from); it != list.end(); ++it) {
    char* at = pStatBuffer + *it;
    if (matchesAt(at, keyword)) return at;
  }
  return nullptr;
}

// The row's start without searching the section: every column keyword that
// begins with the section keyword holds an occurrence of it wherever it
// stands, so the earliest of those bounds the section's first occurrence
// from above.  When no column keyword occurs before that bound, it serves as
// the start.  The builders' changes only remove occurrences of indexed
// keywords, so that stays true for the rest of the snapshot.  Null when
// this cannot be decided here: a keyword the index does not hold, no such
// bound, or a column keyword found before it.
char* rowStartFromIndex(const char* section, const char* const* keywords, int count) {
  const size_t sectionLength = strlen(section);
  char* bound = nullptr;
  char* earliest = nullptr;
  for (int i = 1; i < count; ++i) {
    if (keywords[i] == nullptr) return nullptr;
    std::string_view k(keywords[i]);
    auto id = g_index.idOf.find(k);
    if (id == g_index.idOf.end()) return nullptr;
    char* first = firstIndexed(id->second, k, 0);
    if (first == nullptr) continue;
    if (earliest == nullptr || first < earliest) earliest = first;
    if (k.compare(0, sectionLength, section) == 0 && (bound == nullptr || first < bound)) {
      bound = first;
    }
  }
  return bound != nullptr && earliest == bound ? bound : nullptr;
}

}  // namespace

char* findKeyword(const char* start, const char* keyword) {
  if (pStatBuffer == nullptr || keyword == nullptr || *keyword == '\0' || start == nullptr ||
      start < pStatBuffer || start >= pStatBuffer + dwStatBufferLen) {
    return str_str(start, keyword, nullptr);
  }
  if (!indexCurrent()) rebuild();
  std::string_view k(keyword);
  auto id = g_index.idOf.find(k);
  if (id != g_index.idOf.end()) {
    return firstIndexed(id->second, k, static_cast<uint32_t>(start - pStatBuffer));
  }
  if (start == pStatBuffer && stableKeyword(k)) {
    auto known = g_index.firstFromStart.find(std::string(k));
    if (known != g_index.firstFromStart.end()) {
      if (known->second < 0) return nullptr;
      char* at = pStatBuffer + known->second;
      if (matchesAt(at, k)) return at;
    }
    char* found = str_str(start, keyword, nullptr);
    g_index.firstFromStart[std::string(k)] = found != nullptr ? found - pStatBuffer : -1;
    return found;
  }
  return str_str(start, keyword, nullptr);
}

char* findRowStart(const char* section, const char* const* keywords, int count) {
  if (pStatBuffer != nullptr && keywords != nullptr && section != nullptr && *section != '\0') {
    if (!indexCurrent()) rebuild();
    char* start = rowStartFromIndex(section, keywords, count);
    if (start != nullptr) return start;
  }
  return findKeyword(pStatBuffer, section);
}

std::vector<char*> findAllOccurrences(const char* keyword) {
  std::vector<char*> result;
  if (pStatBuffer == nullptr || keyword == nullptr || *keyword == '\0') return result;
  if (!indexCurrent()) rebuild();
  std::string_view k(keyword);
  if (stableKeyword(k)) {
    auto known = g_index.everyOccurrence.find(std::string(k));
    if (known != g_index.everyOccurrence.end()) {
      for (uint32_t offset : known->second) {
        char* at = pStatBuffer + offset;
        if (matchesAt(at, k)) result.push_back(at);
      }
      return result;
    }
  }
  const char* end = pStatBuffer + dwStatBufferLen;
  for (const char* p = pStatBuffer; p < end;) {
    char* at = findNextOccurrence(p, keyword);
    if (at == nullptr) break;
    result.push_back(at);
    p = at + 1;
  }
  if (stableKeyword(k)) {
    std::vector<uint32_t>& offsets = g_index.everyOccurrence[std::string(k)];
    for (char* at : result) offsets.push_back(static_cast<uint32_t>(at - pStatBuffer));
  }
  return result;
}
