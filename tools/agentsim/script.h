// The session script: one command per line (see README.md for the
// language).  Parsing checks every line up front, so a faulty script stops
// agentsim before anything is started.
//
// Thread-safety: pure functions.
#ifndef QVD_TOOLS_AGENTSIM_SCRIPT_H_
#define QVD_TOOLS_AGENTSIM_SCRIPT_H_

#include <optional>
#include <string>
#include <vector>

#include "tools/agentsim/agentside.h"

namespace agentsim {

struct ScriptCommand {
  std::string where;  // "file:line" or "-e #n", for messages
  std::string verb;
  // Plain words after the verb (groups of `request`, the command of `task`,
  // the group of `start`/`stop`, N or "all" of `expect`, FILE N TEXT of
  // `expect-file`).
  std::vector<std::string> words;
  // raw, raw-part, note: the text after the verb and one blank, verbatim.
  std::string rest;
  // key=value options; `info` entries are in `info`.
  std::optional<std::string> id, rsid, subnode, user, shuttingDown;
  std::vector<FilterInfo> info;
  // Counts and time limits: count of `expect`/`expect-event` (-1: "all")
  // and `expect-file`,
  // seconds of sleep / expect-none / a time limit (<0: the default); for
  // `reading slow`, the bytes per read and the pause after each.
  long count = 0;
  double seconds = -1;
};

// Parses one script line.  Returns true with *out empty for a blank or
// comment line, true with *out set for a command, false with *error set
// (prefixed with `where`) for a faulty line.
bool ParseScriptLine(const std::string& text, const std::string& where,
                     std::optional<ScriptCommand>* out, std::string* error);

// Splits a line into words: blanks separate, double quotes group (with \"
// and \\ inside them).  `quoted[i]` tells whether word i was quoted.
// Returns false for an unterminated quote.
bool SplitWords(const std::string& text, std::vector<std::string>* words, std::vector<bool>* quoted);

// Parses a number of seconds from 0 to 86400 (a day), fractions allowed.
// Returns false, leaving *seconds alone, for anything else.
bool ParseSeconds(const std::string& text, double* seconds);

}  // namespace agentsim

#endif  // QVD_TOOLS_AGENTSIM_SCRIPT_H_
