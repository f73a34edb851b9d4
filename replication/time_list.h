// Schedule texts: their shape (getSchedType), the times of a range, and the
// walker over a list of daily times.
//
// A schedule text is one time of day ("08:00 AM"), a list of them
// ("08:00 AM;12:00 PM"), or a range ("10:00 PM - 02:00 AM"), in the
// server's time format.  Thread-safety: stateless apart from the walker.
#ifndef QVD_REPLICATION_TIME_LIST_H_
#define QVD_REPLICATION_TIME_LIST_H_

#include <string>

#include "replication/repl_records.h"
#include "serverapi/vaxel.h"
#include "state/globals.h"

// Schedule types.
enum : int {
  kSchedNone = 0,         // no schedule text
  kSchedList = 1,         // T1;T2;... daily
  kSchedOneTime = 2,      // one time daily
  kSchedRangeOnce = 3,    // T1 - T2 daily, once
  kSchedRangeRepeat = 4,  // T1 - T2 daily, every `interval` minutes
};

int getSchedType(const replschedule* schedule);

// Reads the range T1 - T2 of `schedule` (split at its first '-', at most
// 256 characters): the local hour, minute and second of both sides.
// Returns 1 when the first time is later than the second (the range spans
// midnight), 0 when not, -1 when a side is not a time.
int schedSpansMidnight(const replschedule* schedule, int* h1, int* m1, int* s1, int* h2, int* m2,
                       int* s2, const _ServerInfoBlock* serverInfo);

// The local time of day of a time text alone; false when it is not a time.
bool readTimeOfDay(const char* text, int* hour, int* minute, int* second,
                   const _ServerInfoBlock* serverInfo);

// Walks a copy of a list schedule.  `working` holds a date and time text in
// the server's format; each listed time replaces its part after the first
// blank.
struct TimeListWalker {
  std::string list;     // what is left of the list
  std::string working;  // the slot's date and time as text
};

// Starts a walker on `schedule` with the working text of `day`.
void startTimeList(TimeListWalker* walker, const char* schedule, const VxTimeDate& day,
                   const _ServerInfoBlock* serverInfo);

// Takes the next listed time into *time and the working text.  Returns 0;
// 1 when the list is empty; 2 when the listed time cannot be read (traced;
// the list is then emptied).
int GetNextTimeInList(VxTimeDate* time, TimeListWalker* walker, const _ServerInfoBlock* serverInfo);

// The listed time after the current one, without moving on; with an empty
// list the working day at 23:59:59.  Returns 0, or 1 (time unchanged) when
// the list is empty and the working time is 23:59:59 already, or the next
// time cannot be read.
int PeekNextTimeInList(VxTimeDate* time, const TimeListWalker* walker,
                       const _ServerInfoBlock* serverInfo);

// Moves *start to the scheduled slot of its day and *next to the slot that
// follows (type 1: the first listed time at or after *start and the listed
// time after it; *found tells whether there was one).  Returns the
// schedule type, or 0 when the list is empty.
int AdjustTimeDateToInterval(VxTimeDate* start, VxTimeDate* next, TimeListWalker* walker, int mode,
                             const replschedule* schedule, const _ServerInfoBlock* serverInfo,
                             bool* found);

#endif  // QVD_REPLICATION_TIME_LIST_H_
