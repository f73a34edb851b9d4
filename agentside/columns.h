// Column names of the attribute groups, for printing answers and for
// checking the column count of each row.
//
// Names come from the `--columns` override file first, then from the
// collector's own catalogue (stats/catalogue.h) when the library is built with
// it.  A group known to neither has no names and no expected count.
//
// Thread-safety: load once, then read from any thread.
#ifndef QVD_AGENTSIDE_COLUMNS_H_
#define QVD_AGENTSIDE_COLUMNS_H_

#include <map>
#include <string>
#include <vector>

namespace agentside {

class ColumnCatalogue {
 public:
  // Reads an override file: one group per line, the group name followed by
  // its column names, separated by blanks or commas; blank lines and lines
  // starting with '#' are skipped.  Returns false with *error set when the
  // file cannot be read or a line names a group without columns.
  bool LoadOverrides(const std::string& path, std::string* error);

  // Column names of `group`, or empty when unknown.
  std::vector<std::string> Names(const std::string& group) const;

  // Names for a row of `count` values: the known names, with generic names
  // ("col<N>", counted from 1) for columns beyond them.
  std::vector<std::string> NamesFor(const std::string& group, size_t count) const;

  // Expected number of columns of `group`, or -1 when unknown.
  int Count(const std::string& group) const;

  // True when the collector answers `group` from its cached statistics
  // snapshot (the statistics and add-in statistics groups).  Unknown groups
  // count as cached.
  static bool IsSnapshotGroup(const std::string& group);

  // True when the library was built with the collector's catalogue.
  static bool HaveBuiltinCatalogue();

 private:
  std::map<std::string, std::vector<std::string>> overrides_;
};

// The group whose rows travel only as events; `request all` leaves it out
// and nobody expects an answer to a request for it.
constexpr const char* kEventGroup = "MV_Server";

}  // namespace agentside

#endif  // QVD_AGENTSIDE_COLUMNS_H_
