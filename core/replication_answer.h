// The dispatch loop's answer to a Velora_Replication request: runs the
// replication analysis from where the previous answer ended and adds one
// row per replication hit, miss or manual run.
//
// Where an answer ends.  The next analysis starts at the end time of the
// last row reported.  The rows of that second may be found again (a miss,
// or a replication known only by its start event, ends when it starts): a
// row with the partner and start time of one reported already at or after
// the new start, both misses or both replications found in the log (hit or
// manual), is not reported again; any other row of that second (a
// replication logged since, for instance, which hits a slot reported as
// missed) is.
//
// Bounds.  One answer carries at most kReplAnswerRows rows and about
// kReplAnswerBytes of row text on the agent link, so that an agent that has
// not asked for a long time still gets lines it can take.  An answer cut
// short continues in the next one: the next analysis then starts at the
// start time of the last row reported (the rows of that second reported
// already are not repeated), so no row is lost.  The analysis keeps only
// the rows an answer can carry.
//
// State: the stored replication request, the start of the next analysis
// and the rows reported at or after it, kept between requests.
// Thread-safety: one thread at a time (the dispatch loop or the table's
// worker, which answer the table's requests in order).
#ifndef QVD_CORE_REPLICATION_ANSWER_H_
#define QVD_CORE_REPLICATION_ANSWER_H_

#include <cstddef>

#include "replication/repl_stop.h"

// Rows of one answer: more than a day of 13 connections replicating every
// minute; an ordinary day of an ordinary server has far fewer.
constexpr size_t kReplAnswerRows = 20000;
// Row text of one answer on the agent link (values escaped): well below
// the 64 MiB line an agent refuses.
constexpr size_t kReplAnswerBytes = 16u << 20;

// What answerReplication did for a request.
enum class ReplAnswer {
  kNoRows,   // no row added; the caller sends the answer without rows
  kRows,     // at least one row added; the caller sends the answer
  kStopped,  // the analysis was asked to stop before its end: no row added,
             // the start of the next analysis left where it was; the
             // caller sends nothing (an answer without rows would say that
             // no replication took place)
};

// Adds the rows for data request `id`; the caller sends the answer.  The
// first request of the process analyses from one day before now; each
// later one from where the previous answer with rows ended (above).  With
// `stop` the analysis ends early when it asks to (replication/repl_stop.h).
ReplAnswer answerReplication(const char* id, ReplStop* stop = nullptr);

// Formats a duration in seconds rounded half away from zero.
// REQUIRES: out holds 32 bytes.  Returns out.
char* formatReplDuration(double seconds, char* out);

// Joins `count` texts, each followed by ';', keeping only entries that fit
// 1023 characters (an entry that does not fit is skipped, the next one
// tried).  `what` names the column in the detail traces ("events",
// "dbinfo").  REQUIRES: out holds 1024 bytes.  Returns out.
char* joinReplTexts(char* const* texts, unsigned count, const char* what, char* out);

// The bytes a row of `count` values takes on the agent link, escapes
// included (an upper bound).
size_t replRowWireSize(const char* const* values, int count);

// Copies the ';'-separated option `value` (QVD_LOG_INCLUDE or
// QVD_LOG_EXCLUDE, named by `name`) into `field` of `size` bytes: empty
// for an absent or empty value or "none".  Strings that do not fit whole
// with those before them are left out, each with an error trace line;
// nothing is ever cut.  Returns the number of strings left out.
int copyReplOption(char* field, size_t size, const char* value, const char* name);

#endif  // QVD_CORE_REPLICATION_ANSWER_H_
