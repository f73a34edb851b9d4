// The mapping of the collector's tables and columns to Prometheus metrics:
// the file qvdexporter/mapping.txt (built into the program; --mapping.file
// reads another), parsed and checked against the collector's catalogue.
//
// A mapping says, for every table the collector answers, how its answers
// turn into samples (the table's kind), and for every column what it
// becomes: a label that tells rows apart, a label of the table's `_info`
// metric, a gauge or counter sample (with an optional scale to base units),
// an amount added to a counter, or nothing (with the reason).  The file's own
// head describes the syntax; docs/exporter.md describes the metrics.
//
// Parse() refuses a mapping that would break the exposition or the naming
// rules: unknown tables or columns, a column left out or named twice, names
// outside [a-z0-9_], counters without `_total` or gauges with it, `_info`
// metrics under another name, one metric name in two tables, or one metric
// name used with different label names.
//
// Thread-safety: parse once, then read from any thread.
#ifndef QVD_QVDEXPORTER_MAPPING_H_
#define QVD_QVDEXPORTER_MAPPING_H_

#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace qvdexporter {

// How a table's answers become samples.
enum class TableKind {
  // Figures of the collector's statistics snapshot: each answer with rows
  // replaces the table's samples.  The collector answers a table with rows
  // once per 30-second snapshot, so an answer without rows that comes
  // within kSnapshotSeconds of the last rows keeps them.
  kSnapshot,
  // Results of the collector's own checks (databases): every answer,
  // without rows included, replaces the table's samples.
  kState,
  // Changes since the previous answer (replication runs, group updates):
  // every answer adds its rows to counters, which only grow.
  kDelta,
  // The same figures as another table (the `64` twins): asked for, not
  // converted, so that no metric is exposed twice.
  kDuplicate,
};

enum class ColumnKind { kSkip, kLabel, kInfo, kGauge, kCounter, kSum };

// value * numerator / denominator: kilobytes to bytes (1024), per cent to a
// ratio (1/100), minutes to seconds (60).
struct Scale {
  double numerator = 1;
  double denominator = 1;
  double Apply(double value) const { return value * numerator / denominator; }
};

using LabelPairs = std::vector<std::pair<std::string, std::string>>;

struct ColumnRule {
  std::string column;  // as in the collector's catalogue
  int index = -1;      // its position in the table's rows
  ColumnKind kind = ColumnKind::kSkip;
  // kLabel, kInfo: the label name.  kGauge, kCounter, kSum: the metric name.
  std::string name;
  LabelPairs constantLabels;  // kGauge, kCounter, kSum: {queue="dead"}
  Scale scale;
  // kLabel: server texts mapped to label values ("1" -> "hit"); a text not
  // in the map is kept as it is.
  std::map<std::string, std::string> values;
  // kLabel, kInfo: a trailing date in brackets and the blanks around the
  // text are removed (" Idle [12/06/2026 09:57:30 AM]" -> "Idle").
  bool stripDate = false;
  std::string reason;  // kSkip: why the column is not exposed
};

struct TableRule {
  std::string table;
  TableKind kind = TableKind::kSnapshot;
  std::string duplicateOf;  // kDuplicate
  std::string infoMetric;   // the `_info` gauge of the table's kInfo columns
  // kState: a gauge, 1 per row (rows with equal labels add up); kDelta: a
  // counter that adds the number of rows per label set.
  std::string rowsMetric;
  // kDelta: a row whose text was already counted is not counted again (the
  // collector reports the last day again after it restarts).
  bool dedup = false;
  std::vector<ColumnRule> columns;  // in the table's column order
  int labelCount = 0;               // kLabel columns
};

// One metric name the mapping produces.
struct FamilyInfo {
  enum Type { kGauge, kCounter } type = kGauge;
  std::string help;
  std::vector<std::string> labelNames;  // the table's labels, then constant ones
};

class Mapping {
 public:
  // The columns of a table, empty for a table the collector does not have.
  using ColumnsOf = std::function<std::vector<std::string>(const std::string& table)>;

  // Parses and checks mapping text.  Returns false with *error set to
  // "<where>:<line>: <what>" on the first fault.
  bool Parse(const std::string& text, const std::string& where, const ColumnsOf& columnsOf, std::string* error);

  const TableRule* Find(const std::string& table) const;
  const std::vector<TableRule>& tables() const { return tables_; }
  // Every metric name the mapping can produce, with its type and help.
  const std::map<std::string, FamilyInfo>& families() const { return families_; }

 private:
  std::vector<TableRule> tables_;
  std::map<std::string, size_t> index_;
  std::map<std::string, FamilyInfo> families_;
};

// The seconds an answer without rows keeps a snapshot table's samples: the
// collector's snapshot lasts 30 seconds, plus one for the clocks' rounding.
constexpr double kSnapshotSeconds = 31;

// The text of qvdexporter/mapping.txt as built into the program.
const char* BuiltInMappingText();

// True for a valid metric or label name ([a-zA-Z_:][a-zA-Z0-9_:]* for metrics
// in general; this mapping keeps to lower case, digits and '_').
bool IsSnakeName(const std::string& name);

}  // namespace qvdexporter

#endif  // QVD_QVDEXPORTER_MAPPING_H_
