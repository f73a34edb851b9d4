// Reads this server's enabled replication connections from the directory
// database's "$Connections" view.
//
// Thread-safety: none; one analysis at a time.
#ifndef QVD_REPLICATION_SCHEDULE_READER_H_
#define QVD_REPLICATION_SCHEDULE_READER_H_

#include "replication/repl_records.h"
#include "replication/repl_stop.h"
#include "serverapi/vaxel.h"
#include "state/globals.h"

// Appends to *schedules every enabled connection whose source is this
// server, in view order.  A connection document that is not there (551) or
// lacks one of Source, Destination, Enabled or RepTask is skipped with a
// trace line.  Returns 0; 1028 when the view has no entries; 1 when the
// server asks the program to end, or `stop` (asked before each connection
// document) asks the analysis to; a server status when the database, view
// or a document cannot be read.
int get_replication_schedule(replschedule** schedules, const char* databasePath,
                             const _ServerInfoBlock* serverInfo, ReplStop* stop = nullptr);

// The value of item `itemName` as newly allocated host text in *text
// (free it with free): text items as they are, other types rendered by the
// server with ';' between list entries.  Returns 0; the server's status
// (546 for an absent item), traced "VxItemInfo() error:%lu" whatever it
// is; 1 when memory runs out.
int ReadFieldBody(VxDocHandle document, const char* itemName, char** text);

#endif  // QVD_REPLICATION_SCHEDULE_READER_H_
