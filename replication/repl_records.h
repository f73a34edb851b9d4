// The records of the replication analysis: the request the dispatch loop
// fills (`replRequest`), the enabled connections of this server
// (`replschedule`) and one replication found, missed or run by hand
// (`replResult`), with their lists.
//
// A replResult list is doubly linked and kept in order of start time; of
// records with the same start time the one added first comes first.  It is
// handled through a pointer to any of its members.  Each list also keeps an
// index of its members by start time, so that adding a record costs a
// logarithmic number of steps instead of a walk with two time conversions
// per member.
//
// Ownership: lists own copies of what is added to them.  Free a result list
// with free_replResult from its first member, a schedule list with
// free_replSched.  Thread-safety: none; one thread per list.
#ifndef QVD_REPLICATION_REPL_RECORDS_H_
#define QVD_REPLICATION_REPL_RECORDS_H_

#include <cstddef>
#include <cstdint>

#include "replication/inc_exc_stack.h"
#include "serverapi/vaxel.h"
#include "state/globals.h"

struct replRequest {
  char DatabasePath[256];   // the directory database (set by the analysis)
  char includeString[256];  // ';'-separated include strings; empty: none
  char excludeString[256];  // ';'-separated exclude strings; empty: none
  char startDateText[64];   // optional start "month/day/year hour:minute"
  int32_t useStartDate;     // non-zero: startDate is set by the caller
  Stack* stack;             // include/exclude stack while the analysis runs
  VxTimeDate startDate;     // start of the analysed period
};

struct replschedule {
  char src_svr[256];     // source server, abbreviated
  char dest_svr[256];    // destination server, abbreviated
  char filenames[1024];  // file names of the connection, empty when absent
  char* schedule;        // owned schedule text, empty when absent
  char weekdays[256];    // weekday digits, empty when absent
  int32_t interval;      // repeat interval in minutes, 0 when absent
  replschedule* next;
};

// A counted array of owned texts.
struct ReplTexts {
  uint32_t count;
  char** buffer;
};

struct ReplOrder;  // the start-time index of one list (repl_records.cc)

// Hit_Miss values.
enum : int32_t { kReplRaw = 0, kReplHit = 1, kReplMiss = 2, kReplManual = 3 };

struct replResult {
  char svrName[256];       // the server that logged or owns the replication
  char repl_svrName[256];  // the partner server
  char InitiatedBy[256];
  char StartTime[81];
  char EndTime[81];
  ReplTexts events;
  ReplTexts replDBInfo;
  int32_t Hit_Miss;        // kReplRaw, kReplHit, kReplMiss, kReplManual
  double duration;         // seconds from start to end; 0.0 for a miss
  replResult* next;
  replResult* previous;
  // Kept by the list: StartTime read once, and the member's place in the
  // list's index.  A record to be added may carry its start read already
  // (startRead set, startTD and startKey filled).
  VxTimeDate startTD;
  long startKey;
  bool startRead;
  ReplOrder* order;
};

// Adds a deep copy of `record` in start order (after members with the same
// start).  Returns the first member, or null when memory runs out (traced;
// the list is then unchanged and still owned by the caller).
replResult* add_replResult_list(replResult* list, const replResult* record,
                                const _ServerInfoBlock* serverInfo);

// The same, returning the new member (null when memory runs out) and
// setting *list to the first member.
replResult* insertReplResult(replResult** list, const replResult* record,
                             const _ServerInfoBlock* serverInfo);

// Links the unlinked `newRecord` (which the list takes over) into the list
// in start order.  Returns the first member.
replResult* add_AndSortResult_list(replResult* list, replResult* newRecord,
                                   const _ServerInfoBlock* serverInfo);

// The first member of the list (null for null).
replResult* RewindReplResult(replResult* member);

// The number of members of the list of `member` (0 for null) and its last
// member (null for null); constant time for lists built by the functions
// here.
size_t CountReplResult(const replResult* member);
replResult* LastReplResult(replResult* member);

// Unlinks and frees `member`; returns its next member, or its previous one
// when it had no next (null when it was alone).
replResult* RemoveReplResult(replResult* member);

// Moves `member` out of its list into *list (start order, after members
// with the same start), without copying it.  *from is the first member of
// the list it leaves and is kept so (null when it was alone).
void moveReplResult(replResult** from, replResult* member, replResult** list);

// Frees every member from `list` onward.
void free_replResult(replResult* list);

// Traces every member at detail level.
void printreplresult(const replResult* list);

// Frees the texts of a record that is not in a list and clears it.
void clearReplResult(replResult* record);

// Appends a copy of `schedule` (its text duplicated).  Returns the first
// member; the list unchanged when memory runs out.
replschedule* add_replSched_list(replschedule* list, const replschedule* schedule);
void free_replSched(replschedule* list);

#endif  // QVD_REPLICATION_REPL_RECORDS_H_
