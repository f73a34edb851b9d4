// VeloraConfigParser: the include and exclude path lists of the database
// check (QVD_CHECK_DB_INCLUDE_PATH, QVD_CHECK_DB_EXCLUDE_PATH).
//
// Both values are ";"-separated lists of paths relative to the server's
// data directory; blanks are removed from the whole value first, empty
// entries are dropped, and at most 512 entries are kept (a trace line names
// the first one dropped).  A path is one of (getPathType, after every "\"
// is read as "/"):
//   1 a database file: longer than 4 characters, ending in ".vdb" or ".box"
//   2 a directory: any other non-empty text (databases directly in it)
//   3 a wildcard directory: "*" or ending in "/*" (databases at any depth)
//   4 invalid: absent or empty
//
// Result codes: 0 success; 1 an absent argument.
//
// Thread-safety: an instance belongs to one thread; it calls the server
// (VaxelApiUtil), so that thread must have initialised the server runtime.
#ifndef QVD_DBHEALTH_VELORA_CONFIG_PARSER_H_
#define QVD_DBHEALTH_VELORA_CONFIG_PARSER_H_

#include <memory>
#include <string>

#include "util/string_list.h"

enum DbPathType {
  DB_PATH_FILE = 1,
  DB_PATH_DIRECTORY = 2,
  DB_PATH_WILDCARD = 3,
  DB_PATH_INVALID = 4,
};

// Entries of each path list.
constexpr int kMaxConfiguredPaths = 512;

class VeloraConfigParser {
 public:
  // Keeps copies of the texts and fills the lists.  Without a server name
  // or an include value the parser holds nothing and every operation
  // reports an absent argument or an empty answer.  excludePath may be null.
  VeloraConfigParser(const char* serverName, const char* includePath, const char* excludePath);
  ~VeloraConfigParser();
  VeloraConfigParser(const VeloraConfigParser&) = delete;
  VeloraConfigParser& operator=(const VeloraConfigParser&) = delete;

  // (Re)build the lists from the stored values.  0, or 1 when there is no
  // list to fill.
  int parseIncludePath();
  int parseExcludePath();

  // The lists; null when absent.  Owned by the parser.
  QVD::StringList* getIncludeList() { return m_includeList.get(); }
  QVD::StringList* getExcludeList() { return m_excludeList.get(); }

  // The DbPathType of `path`.
  static int getPathType(const char* path);

  // True when the database or directory `path` lies within the scope that
  // `parent` names: the empty path lies in every scope; equal texts match;
  // a database lies in a directory that holds it directly and in a wildcard
  // directory at any depth below; a directory lies in a wildcard directory
  // below it.  Components compare exactly.
  static bool subPathOf(const char* path, const char* parent);

  // True when `dbPath` lies within some exclude entry.
  bool isExcluded(const char* dbPath) const;

  // Appends every database the include list names to dbList (each once, in
  // the order found), and every include entry that is invalid, cannot be
  // listed or cannot be handed to the server (a database path too long for
  // the server's path buffer) to invalidList.  0, or 1 when a list is null.
  int getDbList(QVD::StringList* dbList, QVD::StringList* invalidList);

  // Appends to the two lists every include, then exclude, entry that is
  // invalid or cannot be opened on the server.  0, or 1 when a list is null.
  int checkConfiguration(QVD::StringList* invalidIncludes, QVD::StringList* invalidExcludes);

  // Appends to `invalid` every entry of `paths` that is invalid or that the
  // server cannot open ("*" opens the data directory, "dir/*" opens "dir").
  // 0, or 1 when a list is null.
  int checkPaths(QVD::StringList* paths, QVD::StringList* invalid);

  // Drops redundant include entries, appending each to `removed` once: with
  // "*" every other entry; else every entry within the scope of another,
  // different entry, and every entry repeated later.  Order is kept.
  // Always 0.
  int checkDuplicateIncludePaths(QVD::StringList* removed);

 private:
  // Splits `text` (blanks removed) at ";" into `list`.
  void fillList(const char* what, std::string* text, QVD::StringList* list);

  std::unique_ptr<std::string> m_serverName;
  std::unique_ptr<std::string> m_includePath;
  std::unique_ptr<std::string> m_excludePath;
  std::unique_ptr<QVD::StringList> m_includeList;
  std::unique_ptr<QVD::StringList> m_excludeList;
};

#endif  // QVD_DBHEALTH_VELORA_CONFIG_PARSER_H_
