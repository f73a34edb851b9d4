// Test and benchmark support: generates realistic statistics texts.
//
// A generated text holds every statistic of the single-row groups (a few
// left out at random), the mail-by-destination lines of many destinations,
// server task lines, and add-in ("mvstats.") lines that fill it up to the
// wanted size.  Lines are sorted by name, as the server lists them, unless
// `scatter` asks for an irregular order.  Header-only so that the
// benchmarks (which link only the module libraries) can use it too.
#ifndef QVD_STATS_STATS_GENERATOR_TESTUTIL_H_
#define QVD_STATS_STATS_GENERATOR_TESTUTIL_H_

#include <algorithm>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "stats/catalogue.h"

struct StatsShape {
  size_t bytes = 1 << 20;     // wanted size; add-in lines fill up to it
  int destinations = 2000;    // mail destinations
  int tasks = 500;            // server task lines
  double missing = 0.03;      // share of single-row statistics left out
  bool scatter = false;       // lines in random order, odd destinations
  unsigned seed = 1;
};

inline std::string GenerateStats(const StatsShape& shape) {
  std::mt19937 rng(shape.seed);
  auto chance = [&](double p) { return std::uniform_real_distribution<double>(0, 1)(rng) < p; };
  auto number = [&](int digits) {
    std::string n = std::to_string(std::uniform_int_distribution<long>(0, 1L << 40)(rng));
    n = n.substr(0, static_cast<size_t>(std::max(1, digits)));
    // Every other long number carries thousands separators.
    if (n.size() > 3 && chance(0.5)) {
      for (int i = static_cast<int>(n.size()) - 3; i > 0; i -= 3) n.insert(static_cast<size_t>(i), ",");
    }
    return n;
  };
  std::vector<std::pair<std::string, std::string>> lines;
  // Single-row statistics: the keywords without their tab.
  std::vector<std::string> names;
  for (const QvdTableDescriptor& table : qvdTableCatalogue) {
    if (table.kind != QVD_TABLE_SINGLE_ROW || table.keywords == nullptr) continue;
    for (int i = 1; i < table.columnCount; ++i) {
      std::string k = table.keywords[i];
      if (!k.empty() && k.back() == '\t') k.pop_back();
      if (k.find("interval") != std::string::npos || k.find("dummy") != std::string::npos) continue;
      if (k.find('.') == std::string::npos) k = "database." + k;  // da* counters
      names.push_back(k);
    }
  }
  std::sort(names.begin(), names.end());
  names.erase(std::unique(names.begin(), names.end()), names.end());
  for (const std::string& n : names) {
    if (chance(shape.missing)) continue;
    std::string value = chance(0.1) ? "Running OK" : number(1 + static_cast<int>(rng() % 12));
    lines.emplace_back(n, value);
  }
  lines.emplace_back("database.dafailovercount", "0");
  lines.emplace_back("server.version.os", "Linux 6.1");
  // Mail destinations.
  static const char* kSuffixes[] = {"totalrouted", "transferred", "delivered", "totalkbtransferred",
                                    "waiting"};
  for (int d = 0; d < shape.destinations; ++d) {
    std::string dest = "velora" + std::to_string(d);
    if (shape.scatter && d == 7) dest = std::string(300, 'x');  // longer than the name buffer
    if (shape.scatter && d == 9) dest += "-hub";
    if (shape.scatter && d % 97 == 5) dest += ".acme.com";  // a domain: full stops inside
    for (const char* suffix : kSuffixes) {
      if (std::string(suffix) == "waiting" && !chance(0.3)) continue;
      if (shape.scatter && chance(0.1)) continue;  // some statistics missing
      lines.emplace_back("mailbydest." + dest + "." + suffix, number(6));
    }
    if (shape.scatter && d % 50 == 3) lines.emplace_back("mailbydest." + dest + ".totalrouted", "1");
  }
  if (shape.scatter) {
    lines.emplace_back("mailbydest.lonely", "4");
    lines.emplace_back("mailbydest.quiet.waiting", "2");
  }
  // Tasks.
  for (int t = 0; t < shape.tasks; ++t) {
    std::string status = "Task" + std::to_string(t) + ": Idle";
    if (t % 3 == 0) status += " [12/05/2026 10:0" + std::to_string(t % 10) + ":00 AM]";
    lines.emplace_back("server.task", status);
  }
  // Add-in and other statistics up to the wanted size.
  size_t size = 0;
  for (const auto& l : lines) size += l.first.size() + l.second.size() + 3;
  for (int i = 0; size < shape.bytes; ++i) {
    static const char* kMeasures[] = {".avg", ".max", ".count", ".percentunder.500", ".size"};
    std::string name = "mvstats.view.perf.db" + std::to_string(i / 40) + ".view" +
                       std::to_string(i % 40) + kMeasures[i % 5];
    std::string value = number(5);
    size += name.size() + value.size() + 3;
    lines.emplace_back(std::move(name), std::move(value));
  }
  if (shape.scatter) {
    std::shuffle(lines.begin(), lines.end(), rng);
  } else {
    std::stable_sort(lines.begin(), lines.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
  }
  std::string text;
  text.reserve(size + 16);
  for (const auto& l : lines) {
    // Names come in the server's mixed case; the snapshot lowers them.
    std::string name = l.first;
    if (!name.empty()) name[0] = static_cast<char>(name[0] - 'a' + 'A');
    text += name;
    text += '\t';
    text += l.second;
    text += "\r\n";
  }
  return text;
}

#endif  // QVD_STATS_STATS_GENERATOR_TESTUTIL_H_
