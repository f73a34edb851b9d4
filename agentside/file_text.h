// Whole files read by the agent's side.  The programs built on this library
// start the collector, the exporter from a thread of its own while other
// threads go on: every file is read through a close-on-exec descriptor, so
// that a collector started meanwhile inherits none of them.
//
// Thread-safety: a pure function; any thread.
#ifndef QVD_AGENTSIDE_FILE_TEXT_H_
#define QVD_AGENTSIDE_FILE_TEXT_H_

#include <string>

namespace agentside {

// Reads the file at `path` whole into *text (a /proc file too, whose size is
// not known up front).  Returns false, leaving *text alone, when the file
// cannot be opened or read.
bool ReadFileText(const std::string& path, std::string* text);

}  // namespace agentside

#endif  // QVD_AGENTSIDE_FILE_TEXT_H_
