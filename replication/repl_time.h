// Times of the replication analysis: reading and writing the server's
// date-time texts with its international settings, the start date text of a
// request, time-of-day changes and the weekday test.
//
// Thread-safety: stateless; callable from any thread.
#ifndef QVD_REPLICATION_REPL_TIME_H_
#define QVD_REPLICATION_REPL_TIME_H_

#include "serverapi/vaxel.h"
#include "state/globals.h"

// The time the server reads from `text` (default format, the settings of
// the information block); a zero time when the text is not a time.
VxTimeDate GetDateFromString(const char* text, const _ServerInfoBlock* serverInfo);
// The same, telling whether the text was a time.
bool ReadDateFromString(const char* text, const _ServerInfoBlock* serverInfo, VxTimeDate* out);

// Writes `time` as text, at most 80 characters; an empty text when the
// conversion fails.  REQUIRES: buffer holds 81 bytes.  Returns buffer.
char* GetStringFromTimeDate(const VxTimeDate* time, char* buffer,
                            const _ServerInfoBlock* serverInfo);

// Traces "<caller>: <label> =|<time text>|" at detail level.
void PrintTimeDate(const char* caller, const char* label, const VxTimeDate* time,
                   const _ServerInfoBlock* serverInfo);

// Reads "month/day/year hour:minute" (two-digit hour and minute) into
// *time on the current local clock's terms, seconds 0.  Returns 0, or 1 for
// a text that is not such a date (traced).  The text is not changed.
int setupTimeDate(const char* text, VxTimeDate* time);

// Settles the start of a search period.  With `useStartDate` the given
// *start must compare equal to the server's wildcard time (the server
// reports that for every real time), else 1; otherwise a non-empty
// `startDateText` is read with setupTimeDate (its result); otherwise *start
// becomes now minus `defaultDaysBack` days.  Returns 0 when settled.
int settleStartDate(int useStartDate, const char* startDateText, VxTimeDate* start,
                    int defaultDaysBack);

// `time` with its local time of day set to hour:minute:second.00.
// *ok (when given) tells whether the server could do it; on failure the
// time comes back unchanged.
VxTimeDate setTimeDateTime(VxTimeDate time, int hour, int minute, int second, bool* ok = nullptr);

// The local hour, minute and second of `time`; false when the server
// cannot break it down.
bool timeOfDay(const VxTimeDate& time, int* hour, int* minute, int* second);

// 1 when the decimal text of the local weekday of `time` (1 Sunday .. 7
// Saturday, as the server numbers them) occurs in `weekdays`; else 0.
int timeDateFallsOnScheduledDay(const VxTimeDate& time, const char* weekdays);

// Whole seconds from a fixed origin: orders times without further calls.
long timeKey(const VxTimeDate& time);

// VxTimeCompare of a and b, given their keys: times whose keys are more
// than a second apart are ordered without asking the server.
int compareTimes(const VxTimeDate& a, long keyA, const VxTimeDate& b, long keyB);

#endif  // QVD_REPLICATION_REPL_TIME_H_
