// The dispatch loop's answer to a Velora_Replication request: runs the
// replication analysis from where the previous answer ended and adds one
// row per replication hit, miss or manual run.
//
// State: the stored replication request and the start of the next
// analysis, kept between requests.  Thread-safety: main thread only.
#ifndef QVD_CORE_REPLICATION_ANSWER_H_
#define QVD_CORE_REPLICATION_ANSWER_H_

// Adds the rows for data request `id`; the caller sends the answer.  The
// first request of the process analyses from one day before now; each
// later one from one second after the end time of the last row of the
// previous answer (an answer without rows leaves the start where it was).
// Returns true when at least one row was added.
bool answerReplication(const char* id);

// Formats a duration in seconds rounded half away from zero.
// REQUIRES: out holds 32 bytes.  Returns out.
char* formatReplDuration(double seconds, char* out);

// Joins `count` texts, each followed by ';', keeping only entries that fit
// 1023 characters (an entry that does not fit is skipped, the next one
// tried).  `what` names the column in the detail traces ("events",
// "dbinfo").  REQUIRES: out holds 1024 bytes.  Returns out.
char* joinReplTexts(char* const* texts, unsigned count, const char* what, char* out);

#endif  // QVD_CORE_REPLICATION_ANSWER_H_
