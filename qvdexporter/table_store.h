// The samples of every table, converted from the collector's answers as the
// mapping says, kept between scrapes.
//
// Snapshot and state tables hold the samples of their latest answer (see
// TableKind for when an answer without rows keeps the previous ones); delta
// tables hold counters that every answer adds to.  Cells that are not
// numbers give no sample; label values are made valid UTF-8 (the server's
// text may be in another character set) and cut at kMaxLabelBytes, so that
// no answer can make the exposition unreadable for Prometheus.
//
// Ownership: the store keeps a pointer to the mapping, which must outlive
// it.  Thread-safety: none; the exporter guards the store with its lock.
#ifndef QVD_QVDEXPORTER_TABLE_STORE_H_
#define QVD_QVDEXPORTER_TABLE_STORE_H_

#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

#include <prometheus/metric_family.h>

#include "qvdexporter/mapping.h"
#include "qvdexporter/number.h"

namespace qvdexporter {

using Row = std::vector<std::string>;

// Label values longer than this are cut (at a character boundary).
constexpr size_t kMaxLabelBytes = 1024;
// A delta counter family keeps at most this many label sets; rows with
// further label sets are not counted (and reported by DroppedRows()).
constexpr size_t kMaxDeltaSeries = 10000;
// Rows a `dedup` table remembers, to count a row reported again only once.
constexpr size_t kDedupMemory = 16384;

// `text` as valid UTF-8 (invalid bytes become U+FFFD), at most `maxBytes`.
std::string CleanLabelValue(const std::string& text, size_t maxBytes = kMaxLabelBytes);

class TableStore {
 public:
  TableStore(const Mapping* mapping, NumberFormat format) : mapping_(mapping), format_(format) {}

  // Takes the answer of `table` (its rows; none for an answer without rows)
  // received at `now` (seconds on a steady clock).  A table the mapping does
  // not know, or a duplicate table, changes nothing.  Rows whose width is
  // not the table's are skipped (the session reports them).
  void Answer(const std::string& table, const std::vector<Row>& rows, double now);

  // The collector is gone: the samples of snapshot and state tables are
  // dropped, so that figures of a collector that no longer answers are not
  // served as current; delta counters stay (they only grow).
  void DropCurrent();

  // Appends a copy of every family that has samples, sorted by name.
  void Collect(std::vector<prometheus::MetricFamily>* out) const;

  // Rows of delta tables not counted because a family was full.
  uint64_t DroppedRows() const { return droppedRows_; }

 private:
  using Labels = std::vector<std::pair<std::string, std::string>>;
  using Series = std::map<Labels, double>;
  struct State {
    double rowsAt = -1;                    // snapshot: when the rows came
    std::map<std::string, Series> current;  // snapshot, state
    std::map<std::string, Series> counters;  // delta
    std::unordered_set<uint64_t> seen;      // dedup
    std::deque<uint64_t> seenOrder;
  };

  void Convert(const TableRule& rule, const std::vector<Row>& rows, std::map<std::string, Series>* out);
  void Add(const TableRule& rule, const std::vector<Row>& rows, State* state);
  Labels RowLabels(const TableRule& rule, const Row& row) const;

  const Mapping* mapping_;
  NumberFormat format_;
  std::map<std::string, State> tables_;
  uint64_t droppedRows_ = 0;
};

}  // namespace qvdexporter

#endif  // QVD_QVDEXPORTER_TABLE_STORE_H_
