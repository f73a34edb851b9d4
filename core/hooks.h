// Call sites that start-up and the dispatch loop keep for work that lives
// in other subsystems and is still being written: the database check
// (configuration, check thread, white-space and corruption answers), the
// group monitor, the add-in threads and add-in statistics tables, and the
// replication answer.  Each hook stands exactly where the collector's
// sequence needs it and does what exists so far; the comment on each one
// says which work completes it.
//
// Thread-safety: every hook runs on the main thread.
#ifndef QVD_CORE_HOOKS_H_
#define QVD_CORE_HOOKS_H_

#include <ctime>

#include "core/replication_answer.h"

// --- start-up --------------------------------------------------------------

// Checks the database include and exclude path lists and reports every
// path that is not accessible ("Path %s in checking database include path
// is not accessible..." and the exclude form).  Never stops start-up.
// (VeloraConfigParser::checkConfiguration.)
void hookCheckDatabasePaths();

// Loads the database-view configuration file into dbViewsConfigMap.
// Returns 0 when it was read, non-zero when it cannot be read (start-up
// then stops).  (DbViewsConfigMap::parseDbViewConfigFile.)
int hookParseViewConfigFile(const char* path);

// Starts the add-in threads MVConfigure and collectMVEvents
// (startAddInThreads, addin/addin_threads.h).  Returns 0, or the
// pthread_create error and the failing thread's name in *threadName.
int hookStartAddInThreads(const char** threadName);

// Initialises checkDBMutex, checkDBResultMutex and checkDBCond and starts
// the checkDatabase thread.  Returns 0 or the pthread_create error.
int hookStartDatabaseCheckThread();

// At shutdown, before the server runtime ends: asks the checkDatabase
// thread to end (returns at once).
void hookRequestDatabaseCheckStop();

// At shutdown, before the server runtime ends: asks the checkDatabase
// thread to end and waits for it (about a second, at most until
// `deadline`), so that no server handle of the check is held when the
// runtime ends.  Returns true when it has ended; nothing happens when the
// thread was not started.
bool hookStopDatabaseCheckThread(const struct timespec* deadline);

// At shutdown, before the server runtime ends: asks the add-in threads to
// stop and waits for them at most until `deadline` (stopAddInThreads).
// Returns true when both have ended or none was started.
bool hookStopAddInThreads(const struct timespec& deadline);

// GroupAnalyzer::init(server) and GroupAnalyzer::close().
void hookGroupAnalyzerInit(const char* server);
void hookGroupAnalyzerClose();

// --- dispatch --------------------------------------------------------------
// Each answer adds its rows (none so far) to data request `id`; the
// dispatch loop sends the answer afterwards with cp_SendData.

// Velora_Replication rows: answerReplication (core/replication_answer),
// ended early when `stop` asks.
ReplAnswer hookAnswerReplication(const char* id, ReplStop* stop = nullptr);
// Velora_Corrupt_Failover_DB rows.
void hookAnswerCorruptFailover(const char* id);
// Velora_DB_Whitespace rows (Parse_Velora_DB_Whitespace).
void hookAnswerDbWhitespace(const char* id);
// Velora_Group_Updates rows (Parse_Velora_Group_Updates).
void hookAnswerGroupUpdates(const char* id);
// Rows of the seven MV_ statistics tables from the add-in part of the
// snapshot (Parse_MV_..., stats/addin_tables.h).
void hookAnswerAddInTable(const char* groupName, const char* id);

#endif  // QVD_CORE_HOOKS_H_
