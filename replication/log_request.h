// The records of an event log search: the request (`logrequest`) and its
// hits (`logresult`), with the list operations on hits.
//
// Ownership: a hit list belongs to whoever holds its head; free it with
// free_logResult.  Thread-safety: none; lists are used by one thread.
#ifndef QVD_REPLICATION_LOG_REQUEST_H_
#define QVD_REPLICATION_LOG_REQUEST_H_

#include <cstdint>

#include "replication/inc_exc_stack.h"
#include "serverapi/vaxel.h"

struct logresult {
  char foundStr[1024];  // the line (or number or time text)
  char formName[64];    // form of the document
  char fieldName[64];   // item the line came from
  uint32_t noteID;      // id of the document
  logresult* next;
};

// Receives the hits of one document as soon as the document is read.  The
// sink may take the list over (setting *hits to null, and freeing it later
// with free_logResult); a list it leaves is reused by the search for the
// next documents.  Returns 0 to go on, non-zero to stop the search with
// that status.
typedef int (*LogHitSink)(void* context, logresult** hits);

// One search of the event log.  Callers fill a copy; get_log_request works
// on its own copy and splits form_nicknames, includeString and
// excludeString in place.  All texts are terminated within their field.
struct logrequest {
  char form_nicknames[256];  // ';'-separated form nicknames; empty: all forms
  char includeString[256];   // ';'-separated include strings
  char excludeString[256];   // ';'-separated exclude strings
  char startDateText[64];    // start time as text (when useStartDate is 0)
  char DatabasePath[256];    // network path of the log database (set by the search)
  char forms[256];           // ';'-separated form names (set by the search)
  char includeFields[256];   // when not empty: only items named in this text
  char excludeFields[256];   // when not empty: items named in it are skipped
  int32_t useStartDate;      // startDate is given as a time value
  VxTimeDate startDate;      // documents modified since, lines dated from
  Stack* incExcStack;        // built by initIncExcStack
  uint16_t formulaH;         // compiled selection formula, 0: none
  uint16_t logdbH;           // the open log database
  VxTimeDate dataModified;   // from the open of the log database
  int32_t tailCount;         // most lines taillog takes
  // When set, the hits of each document go to the sink instead of the
  // result list, so that a long log is never held whole.
  LogHitSink hitSink;
  void* hitSinkContext;
  // When set, asked before each document is read: true ends the search
  // with status 1, as the server's request to end does.
  bool (*stopRequested)(void* context);
  void* stopContext;
};

// Adds a hit (texts cut to fit their fields): mode 0 at the end, mode 1 in
// front.  Returns the new head; on memory shortage traces
// "add_logResult_list: out of memory" and returns the list unchanged.
logresult* add_logResult_list(logresult* list, const char* found, const char* formName,
                              const char* fieldName, uint32_t noteID, int mode);

// A new hit not linked anywhere, or null when memory runs out.
logresult* new_logResult(const char* found, const char* formName, const char* fieldName,
                         uint32_t noteID);
// Fills `hit` as new_logResult does (next and the time cleared).
void setLogResult(logresult* hit, const char* found, const char* formName, const char* fieldName,
                  uint32_t noteID);

// Frees every hit of the list.
void free_logResult(logresult* list);

// At detail level, four lines per hit and a separator.
void DumpLogResult(const logresult* list);

#endif  // QVD_REPLICATION_LOG_REQUEST_H_
