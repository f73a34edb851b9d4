// Search of the server's event log database ("log.vdb"): the lines of
// given forms, in documents modified since a given time, that the
// request's include/exclude list keeps and whose leading date (when they
// have one) is not before that time.
//
// Thread-safety: uses the global FormTable and `intl`; requests run on one
// thread at a time.
#ifndef QVD_REPLICATION_LOG_SEARCH_H_
#define QVD_REPLICATION_LOG_SEARCH_H_

#include <cstdint>

#include "replication/form_table.h"
#include "replication/log_request.h"
#include "serverapi/vaxel.h"
#include "state/globals.h"

// The server's international settings used to read dates at the start of
// log lines; copied from the server information block by every request.
extern VxLocaleFormat intl;

// Answers `request` (its own copy): hits are appended to *out (start with
// an empty list; free it with free_logResult), or handed to the request's
// hitSink document by document when one is set.  Returns 0; 1 for an
// unknown or ambiguous nickname, a form list that does not fit, a start
// time refused, no memory for the search, or a log database not modified
// since the start time; the date reader's code for a bad startDateText;
// any other server status of the open or the search.
int get_log_request(logresult** out, logrequest request, _ServerInfoBlock* serverInfo);

// Builds request->incExcStack from includeString ('+') and excludeString
// ('-'), includes first.  Returns 0; 1 when the stack cannot be allocated or
// when neither list is given and useStartDate is 0; AddStack's failure.
int initIncExcStack(logrequest* request);

// Opens the log database modified since request->startDate and scans every
// document the formula selects (ReadNote, DumpOneItem).  Returns 0 or the
// failure of get_log_request's list.
int SearchVaxel(logresult** out, logrequest* request, _formtable* table);

// 1 to keep `line`, 0 to drop it: a line of 16 characters or more whose
// first 22 characters read as a date and time earlier than
// request->startDate is dropped; every other line is kept.
int checkfordate(const logrequest* request, const char* line);

#endif  // QVD_REPLICATION_LOG_SEARCH_H_
