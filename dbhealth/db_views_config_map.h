// DbViewsConfigMap: which views the database check checks in which
// databases, read from the view configuration file
// (QVD_CHECK_DB_VIEW_CONFIG_FILE).
//
// File format, one pair a line:
//   <database path pattern>=<view>,<view>,...
// Blanks, tabs and line feeds are removed wherever they stand ('All
// Documents' is the view 'AllDocuments'); a line ending in CR LF ends
// before the CR.  Empty lines, lines starting with "#" and lines without
// both a pattern and a view list are skipped; "a==b" is "a=b" and a third
// part is ignored.  The pattern takes any path type of VeloraConfigParser.
// Pairs keep file order; the first pattern that holds a database wins.  A
// pair whose view list names no view ("a.vdb=,," or only over-long names)
// is kept: the databases it holds get no view checked, whatever a later
// pattern says.
//
// Lines the collector refuses, each with a trace line naming the file and
// the line: a line longer than 1023 characters, a line holding control
// bytes (a zero byte, for instance), a view name longer than 255 characters
// (that view only), and every pair after the 512th (one line for all).
//
// Result codes: 0 success; 1 an absent argument; 301 the map is full; 302
// no pattern holds the database; 303 the file cannot be opened.
//
// Thread-safety: filled once by start-up before the check thread starts,
// only read afterwards.
#ifndef QVD_DBHEALTH_DB_VIEWS_CONFIG_MAP_H_
#define QVD_DBHEALTH_DB_VIEWS_CONFIG_MAP_H_

#include <cstdint>

#include "util/string_list.h"

class DbViewsConfigMap {
 public:
  // Capacity 512 pairs.
  DbViewsConfigMap();
  // Capacity n pairs.
  explicit DbViewsConfigMap(int n);
  DbViewsConfigMap(const DbViewsConfigMap&) = delete;
  DbViewsConfigMap& operator=(const DbViewsConfigMap&) = delete;

  // Appends a pair.  1 when a text is null; 301 when full; 0 without
  // storing when a text is empty; else 0.
  int add(const char* dbPattern, const char* viewList);

  // Adds the pair of every valid line of `fileName` to *map (their add
  // results ignored).  0, 1 (null argument) or 303.
  static int parseDbViewConfigFile(const char* fileName, DbViewsConfigMap* map);

  // Appends to `views` the views of the first pair whose pattern holds
  // `dbPath` (VeloraConfigParser::subPathOf).  0, 1 (null argument) or 302
  // (views untouched).
  int getViewList(const char* dbPath, QVD::StringList* views) const;

  int getCount() const { return m_count; }
  int getCapacity() const { return m_capacity; }
  // Drops every pair.
  void removeAll();

 private:
  QVD::StringList m_keys;    // database path patterns
  QVD::StringList m_values;  // view lists; entry i belongs to key i
  int32_t m_count = 0;
  int32_t m_capacity;
};

// The collector's view configuration, filled by start-up.
extern DbViewsConfigMap dbViewsConfigMap;

#endif  // QVD_DBHEALTH_DB_VIEWS_CONFIG_MAP_H_
