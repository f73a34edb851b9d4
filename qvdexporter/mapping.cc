#include "qvdexporter/mapping.h"

#include <cstdlib>
#include <set>
#include <sstream>

namespace qvdexporter {

namespace {

bool EndsWith(const std::string& s, const std::string& tail) {
  return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

std::vector<std::string> Words(const std::string& line) {
  std::istringstream in(line);
  std::vector<std::string> words;
  for (std::string w; in >> w;) words.push_back(w);
  return words;
}

// "1024", "1/100": a positive number or quotient.
bool ParseScale(const std::string& text, Scale* scale) {
  size_t slash = text.find('/');
  auto positive = [](const std::string& t, double* out) {
    char* end = nullptr;
    *out = std::strtod(t.c_str(), &end);
    return !t.empty() && end && *end == '\0' && *out > 0;
  };
  if (slash == std::string::npos) return positive(text, &scale->numerator);
  return positive(text.substr(0, slash), &scale->numerator) && positive(text.substr(slash + 1), &scale->denominator);
}

// "name{a="x",b="y"}" into the name and its constant labels.
bool ParseMetricToken(const std::string& token, std::string* name, LabelPairs* labels, std::string* error) {
  size_t brace = token.find('{');
  *name = token.substr(0, brace);
  if (brace == std::string::npos) return true;
  if (token.back() != '}') return *error = "constant labels must end with '}': " + token, false;
  std::string body = token.substr(brace + 1, token.size() - brace - 2);
  std::istringstream parts(body);
  for (std::string part; std::getline(parts, part, ',');) {
    size_t eq = part.find('=');
    if (eq == std::string::npos || part.size() < eq + 3 || part[eq + 1] != '"' || part.back() != '"')
      return *error = "constant label must be name=\"value\": " + part, false;
    labels->emplace_back(part.substr(0, eq), part.substr(eq + 2, part.size() - eq - 3));
  }
  if (labels->empty()) return *error = "empty constant labels: " + token, false;
  return true;
}

}  // namespace

bool IsSnakeName(const std::string& name) {
  if (name.empty() || (name[0] >= '0' && name[0] <= '9')) return false;
  for (char c : name)
    if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_')) return false;
  return true;
}

namespace {

// The checks of one table's lines once the table is complete, and the
// registration of the metric names it produces.
class TableChecker {
 public:
  TableChecker(std::map<std::string, FamilyInfo>* families, std::map<std::string, std::string>* owners)
      : families_(families), owners_(owners) {}

  bool Check(TableRule* t, const std::vector<std::string>& columns, std::string* error) {
    error_ = error;
    table_ = t;
    if (t->kind == TableKind::kDuplicate) {
      if (!t->columns.empty()) return Fail("a duplicate table has no column lines");
      return true;
    }
    // Every column exactly once, in any order; rules end up in column order.
    std::vector<ColumnRule> ordered;
    for (size_t i = 0; i < columns.size(); ++i) {
      const ColumnRule* found = nullptr;
      for (const ColumnRule& c : t->columns)
        if (c.column == columns[i]) {
          if (found) return Fail("column " + c.column + " is named twice");
          found = &c;
        }
      if (!found) return Fail("column " + columns[i] + " of " + t->table + " is not mapped");
      ordered.push_back(*found);
      ordered.back().index = static_cast<int>(i);
    }
    for (const ColumnRule& c : t->columns) {
      bool known = false;
      for (const std::string& col : columns) known = known || col == c.column;
      if (!known) return Fail(t->table + " has no column " + c.column);
    }
    t->columns = std::move(ordered);

    std::vector<std::string> labels, infoLabels;
    bool hasInfo = false;
    for (const ColumnRule& c : t->columns) {
      if (c.kind == ColumnKind::kLabel) labels.push_back(c.name);
      if (c.kind == ColumnKind::kInfo) infoLabels.push_back(c.name), hasInfo = true;
      bool delta = t->kind == TableKind::kDelta;
      if (delta && (c.kind == ColumnKind::kGauge || c.kind == ColumnKind::kCounter || c.kind == ColumnKind::kInfo))
        return Fail(c.column + ": a delta table has only label, sum and skip columns");
      if (!delta && c.kind == ColumnKind::kSum) return Fail(c.column + ": sum columns belong to delta tables");
    }
    t->labelCount = static_cast<int>(labels.size());
    if (hasInfo && t->infoMetric.empty()) return Fail(t->table + " has info columns but no info=");
    if (!hasInfo && !t->infoMetric.empty()) return Fail(t->table + " names info= but has no info column");
    if (t->kind == TableKind::kDelta && t->rowsMetric.empty()) return Fail("a delta table needs rows=");
    if (t->kind == TableKind::kSnapshot && !t->rowsMetric.empty()) return Fail("rows= belongs to state and delta tables");
    if (t->dedup && t->kind != TableKind::kDelta) return Fail("dedup belongs to delta tables");

    for (const ColumnRule& c : t->columns) {
      if (c.kind != ColumnKind::kGauge && c.kind != ColumnKind::kCounter && c.kind != ColumnKind::kSum) continue;
      std::vector<std::string> names = labels;
      for (const auto& l : c.constantLabels) names.push_back(l.first);
      bool counter = c.kind != ColumnKind::kGauge;
      if (!Register(c.name, counter, false, names, c.column + Unit(c.scale))) return false;
    }
    if (!t->rowsMetric.empty() &&
        !Register(t->rowsMetric, t->kind == TableKind::kDelta, false, labels,
                  t->kind == TableKind::kDelta ? "rows reported" : "1 for each row"))
      return false;
    if (!t->infoMetric.empty()) {
      std::vector<std::string> names = labels;
      names.insert(names.end(), infoLabels.begin(), infoLabels.end());
      if (!Register(t->infoMetric, false, true, names, "text columns as labels, always 1")) return false;
    }
    return true;
  }

 private:
  bool Fail(const std::string& what) {
    *error_ = what;
    return false;
  }

  static std::string Unit(const Scale& s) {
    if (s.numerator == 1 && s.denominator == 1) return "";
    std::ostringstream out;
    out << " (x" << s.numerator;
    if (s.denominator != 1) out << "/" << s.denominator;
    out << ")";
    return out.str();
  }

  bool Register(const std::string& name, bool counter, bool info, const std::vector<std::string>& labels,
                const std::string& what) {
    if (!IsSnakeName(name) || name.compare(0, 7, "velora_") != 0)
      return Fail(name + ": metric names are velora_ followed by lower case, digits and _");
    if (counter != EndsWith(name, "_total"))
      return Fail(name + (counter ? ": a counter's name ends in _total" : ": only counters end in _total"));
    if (info != EndsWith(name, "_info"))
      return Fail(name + (info ? ": an info metric's name ends in _info" : ": only info metrics end in _info"));
    std::set<std::string> seen;
    for (const std::string& l : labels) {
      if (!IsSnakeName(l) || l.compare(0, 2, "__") == 0 || l == "instance" || l == "job")
        return Fail(name + ": label name " + l + " is not allowed");
      if (!seen.insert(l).second) return Fail(name + ": label " + l + " given twice");
    }
    auto it = families_->find(name);
    if (it == families_->end()) {
      FamilyInfo f;
      f.type = counter ? FamilyInfo::kCounter : FamilyInfo::kGauge;
      f.labelNames = labels;
      f.help = table_->table + ": " + what;
      families_->emplace(name, f);
      (*owners_)[name] = table_->table;
      return true;
    }
    if ((*owners_)[name] != table_->table)
      return Fail(name + " is already produced by " + (*owners_)[name] + "; a metric belongs to one table");
    if ((it->second.type == FamilyInfo::kCounter) != counter) return Fail(name + " is both a gauge and a counter");
    if (it->second.labelNames != labels) return Fail(name + " is used with different label names");
    it->second.help += ", " + what;
    return true;
  }

  std::map<std::string, FamilyInfo>* families_;
  std::map<std::string, std::string>* owners_;
  std::string* error_ = nullptr;
  TableRule* table_ = nullptr;
};

bool ParseTableLine(const std::vector<std::string>& w, TableRule* t, std::string* error) {
  if (w.size() < 3) return *error = "expected: table NAME KIND [options]", false;
  t->table = w[1];
  const std::string& kind = w[2];
  if (kind.compare(0, 13, "duplicate-of=") == 0) {
    t->kind = TableKind::kDuplicate;
    t->duplicateOf = kind.substr(13);
    if (w.size() > 3) return *error = "a duplicate table takes no other options", false;
    return true;
  }
  if (kind == "snapshot") t->kind = TableKind::kSnapshot;
  else if (kind == "state") t->kind = TableKind::kState;
  else if (kind == "delta") t->kind = TableKind::kDelta;
  else return *error = "unknown table kind " + kind, false;
  for (size_t i = 3; i < w.size(); ++i) {
    if (w[i].compare(0, 5, "info=") == 0) t->infoMetric = w[i].substr(5);
    else if (w[i].compare(0, 5, "rows=") == 0) t->rowsMetric = w[i].substr(5);
    else if (w[i] == "dedup") t->dedup = true;
    else return *error = "unknown table option " + w[i], false;
  }
  return true;
}

bool ParseColumnLine(const std::vector<std::string>& w, const std::string& line, ColumnRule* c, std::string* error) {
  if (w.size() < 3) return *error = "expected: COLUMN KIND NAME [options] (or COLUMN skip REASON)", false;
  c->column = w[0];
  const std::string& kind = w[1];
  if (kind == "skip") {
    c->kind = ColumnKind::kSkip;
    size_t at = line.find("skip", line.find(w[0]) + w[0].size()) + 4;
    c->reason = line.substr(line.find_first_not_of(" \t", at));
    return true;
  }
  if (kind == "label") c->kind = ColumnKind::kLabel;
  else if (kind == "info") c->kind = ColumnKind::kInfo;
  else if (kind == "gauge") c->kind = ColumnKind::kGauge;
  else if (kind == "counter") c->kind = ColumnKind::kCounter;
  else if (kind == "sum") c->kind = ColumnKind::kSum;
  else return *error = "unknown column kind " + kind, false;
  bool metric = c->kind == ColumnKind::kGauge || c->kind == ColumnKind::kCounter || c->kind == ColumnKind::kSum;
  if (metric) {
    if (!ParseMetricToken(w[2], &c->name, &c->constantLabels, error)) return false;
  } else {
    c->name = w[2];
    if (!IsSnakeName(c->name)) return *error = "label name " + c->name + " is not lower case, digits and _", false;
  }
  for (size_t i = 3; i < w.size(); ++i) {
    const std::string& o = w[i];
    if (metric && o.compare(0, 6, "scale=") == 0) {
      if (!ParseScale(o.substr(6), &c->scale)) return *error = "bad scale " + o, false;
    } else if (!metric && o == "strip-date") {
      c->stripDate = true;
    } else if (c->kind == ColumnKind::kLabel && o.compare(0, 4, "map=") == 0) {
      std::istringstream pairs(o.substr(4));
      for (std::string p; std::getline(pairs, p, ',');) {
        size_t colon = p.find(':');
        if (colon == std::string::npos || colon == 0 || colon + 1 == p.size())
          return *error = "map entries are TEXT:VALUE, got " + p, false;
        c->values[p.substr(0, colon)] = p.substr(colon + 1);
      }
    } else {
      return *error = "unknown option " + o + " for a " + kind + " column", false;
    }
  }
  return true;
}

}  // namespace

bool Mapping::Parse(const std::string& text, const std::string& where, const ColumnsOf& columnsOf,
                    std::string* error) {
  tables_.clear();
  index_.clear();
  families_.clear();
  std::map<std::string, std::string> owners;
  TableChecker checker(&families_, &owners);
  std::istringstream in(text);
  std::string line, what;
  int lineNo = 0, tableLine = 0;
  auto fail = [&](int n) {
    *error = where + ":" + std::to_string(n) + ": " + what;
    return false;
  };
  auto finish = [&]() {
    if (tables_.empty()) return true;
    TableRule& t = tables_.back();
    std::vector<std::string> columns = columnsOf(t.table);
    if (columns.empty()) return what = "the collector has no table " + t.table, false;
    if (index_.count(t.table)) return what = "table " + t.table + " is mapped twice", false;
    index_[t.table] = tables_.size() - 1;
    return checker.Check(&t, columns, &what);
  };
  while (std::getline(in, line)) {
    ++lineNo;
    std::vector<std::string> w = Words(line);
    if (w.empty() || w[0][0] == '#') continue;
    if (w[0] == "table") {
      if (!finish()) return fail(tableLine);
      tables_.emplace_back();
      tableLine = lineNo;
      if (!ParseTableLine(w, &tables_.back(), &what)) return fail(lineNo);
      continue;
    }
    if (tables_.empty()) return what = "a column line before the first table line", fail(lineNo);
    ColumnRule c;
    if (!ParseColumnLine(w, line, &c, &what)) return fail(lineNo);
    tables_.back().columns.push_back(std::move(c));
  }
  if (!finish()) return fail(tableLine);
  for (const TableRule& t : tables_) {
    if (t.kind != TableKind::kDuplicate) continue;
    const TableRule* other = Find(t.duplicateOf);
    if (other == nullptr || other->kind == TableKind::kDuplicate) {
      *error = where + ": " + t.table + " is a duplicate of " + t.duplicateOf + ", which is not a converted table";
      return false;
    }
  }
  return true;
}

const TableRule* Mapping::Find(const std::string& table) const {
  auto it = index_.find(table);
  return it == index_.end() ? nullptr : &tables_[it->second];
}

}  // namespace qvdexporter
