#include "qvdexporter/table_store.h"

#include <functional>

namespace qvdexporter {

namespace {

// Length of the valid UTF-8 sequence at s[i], or 0.
size_t Utf8Length(const std::string& s, size_t i) {
  unsigned char c = static_cast<unsigned char>(s[i]);
  size_t n;
  unsigned long cp;
  if (c < 0x80) return 1;
  if (c >= 0xC2 && c <= 0xDF) n = 2, cp = c & 0x1F;
  else if (c >= 0xE0 && c <= 0xEF) n = 3, cp = c & 0x0F;
  else if (c >= 0xF0 && c <= 0xF4) n = 4, cp = c & 0x07;
  else return 0;
  if (i + n > s.size()) return 0;
  for (size_t k = 1; k < n; ++k) {
    unsigned char d = static_cast<unsigned char>(s[i + k]);
    if ((d & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (d & 0x3F);
  }
  if ((n == 3 && cp < 0x800) || (n == 4 && (cp < 0x10000 || cp > 0x10FFFF)) || (cp >= 0xD800 && cp <= 0xDFFF))
    return 0;
  return n;
}

std::string StripDate(const std::string& text) {
  std::string t = text;
  size_t open = t.rfind('[');
  if (!t.empty() && t.back() == ']' && open != std::string::npos) t.erase(open);
  size_t first = t.find_first_not_of(" \t");
  if (first == std::string::npos) return "";
  size_t last = t.find_last_not_of(" \t");
  return t.substr(first, last - first + 1);
}

std::string LabelValue(const ColumnRule& c, const std::string& cell) {
  std::string v = c.stripDate ? StripDate(cell) : cell;
  auto mapped = c.values.find(v);
  if (mapped != c.values.end()) v = mapped->second;
  return CleanLabelValue(v);
}

prometheus::MetricFamily ToFamily(const std::string& name, const FamilyInfo& info,
                                  const std::map<std::vector<std::pair<std::string, std::string>>, double>& series) {
  prometheus::MetricFamily f;
  f.name = name;
  f.help = info.help;
  f.type = info.type == FamilyInfo::kCounter ? prometheus::MetricType::Counter : prometheus::MetricType::Gauge;
  for (const auto& [labels, value] : series) {
    prometheus::ClientMetric m;
    for (const auto& l : labels) m.label.push_back({l.first, l.second});
    if (info.type == FamilyInfo::kCounter) m.counter.value = value;
    else m.gauge.value = value;
    f.metric.push_back(std::move(m));
  }
  return f;
}

}  // namespace

std::string CleanLabelValue(const std::string& text, size_t maxBytes) {
  std::string out;
  out.reserve(text.size() < maxBytes ? text.size() : maxBytes);
  for (size_t i = 0; i < text.size();) {
    size_t n = Utf8Length(text, i);
    const char* piece = n ? text.data() + i : "\xEF\xBF\xBD";  // U+FFFD for a byte that is not UTF-8
    size_t len = n ? n : 3;
    if (out.size() + len > maxBytes) break;
    out.append(piece, len);
    i += n ? n : 1;
  }
  return out;
}

TableStore::Labels TableStore::RowLabels(const TableRule& rule, const Row& row) const {
  Labels labels;
  for (const ColumnRule& c : rule.columns)
    if (c.kind == ColumnKind::kLabel) labels.emplace_back(c.name, LabelValue(c, row[c.index]));
  return labels;
}

void TableStore::Convert(const TableRule& rule, const std::vector<Row>& rows, std::map<std::string, Series>* out) {
  for (const Row& row : rows) {
    Labels labels = RowLabels(rule, row);
    Labels info = labels;
    bool hasInfo = false;
    for (const ColumnRule& c : rule.columns) {
      const std::string& cell = row[c.index];
      if (c.kind == ColumnKind::kInfo) {
        info.emplace_back(c.name, LabelValue(c, cell));
        hasInfo = hasInfo || !info.back().second.empty();
        continue;
      }
      if (c.kind != ColumnKind::kGauge && c.kind != ColumnKind::kCounter) continue;
      double value;
      if (!ParseNumber(cell, format_, &value)) continue;
      Labels series = labels;
      series.insert(series.end(), c.constantLabels.begin(), c.constantLabels.end());
      (*out)[c.name][series] = c.scale.Apply(value);  // rows with equal labels: the last one counts
    }
    if (!rule.rowsMetric.empty()) (*out)[rule.rowsMetric][labels] += 1;
    if (hasInfo) (*out)[rule.infoMetric][info] = 1;
  }
}

void TableStore::Add(const TableRule& rule, const std::vector<Row>& rows, State* state) {
  for (const Row& row : rows) {
    if (rule.dedup) {
      std::string joined;
      for (const std::string& cell : row) joined += cell + '\x1f';
      uint64_t h = std::hash<std::string>()(joined);
      if (!state->seen.insert(h).second) continue;
      state->seenOrder.push_back(h);
      if (state->seenOrder.size() > kDedupMemory) {
        state->seen.erase(state->seenOrder.front());
        state->seenOrder.pop_front();
      }
    }
    Labels labels = RowLabels(rule, row);
    Series& rowsSeries = state->counters[rule.rowsMetric];
    if (!rowsSeries.count(labels) && rowsSeries.size() >= kMaxDeltaSeries) {
      ++droppedRows_;
      continue;
    }
    rowsSeries[labels] += 1;
    for (const ColumnRule& c : rule.columns) {
      double value;
      if (c.kind != ColumnKind::kSum || !ParseNumber(row[c.index], format_, &value)) continue;
      Labels series = labels;
      series.insert(series.end(), c.constantLabels.begin(), c.constantLabels.end());
      state->counters[c.name][series] += c.scale.Apply(value);
    }
  }
}

void TableStore::Answer(const std::string& table, const std::vector<Row>& rows, double now) {
  const TableRule* rule = mapping_->Find(table);
  if (rule == nullptr || rule->kind == TableKind::kDuplicate) return;
  std::vector<Row> sound;
  for (const Row& r : rows)
    if (r.size() == rule->columns.size()) sound.push_back(r);
  State& state = tables_[table];
  switch (rule->kind) {
    case TableKind::kSnapshot:
      if (sound.empty() && state.rowsAt >= 0 && now - state.rowsAt < kSnapshotSeconds) return;
      state.current.clear();
      Convert(*rule, sound, &state.current);
      state.rowsAt = sound.empty() ? -1 : now;
      break;
    case TableKind::kState:
      state.current.clear();
      Convert(*rule, sound, &state.current);
      break;
    case TableKind::kDelta:
      Add(*rule, sound, &state);
      break;
    case TableKind::kDuplicate:
      break;
  }
}

void TableStore::DropCurrent() {
  for (auto& entry : tables_) {
    entry.second.current.clear();
    entry.second.rowsAt = -1;
  }
}

void TableStore::Collect(std::vector<prometheus::MetricFamily>* out) const {
  std::map<std::string, const Series*> all;
  for (const auto& entry : tables_) {
    for (const auto& f : entry.second.current)
      if (!f.second.empty()) all[f.first] = &f.second;
    for (const auto& f : entry.second.counters)
      if (!f.second.empty()) all[f.first] = &f.second;
  }
  for (const auto& [name, series] : all) {
    auto info = mapping_->families().find(name);
    if (info != mapping_->families().end()) out->push_back(ToFamily(name, info->second, *series));
  }
}

}  // namespace qvdexporter
