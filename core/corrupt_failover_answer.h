// The dispatch loop's answer to Velora_Corrupt_Failover_DB: the databases
// and views the database check last found not in good state.
#ifndef QVD_CORE_CORRUPT_FAILOVER_ANSWER_H_
#define QVD_CORE_CORRUPT_FAILOVER_ANSWER_H_

// Adds one row per published record to data request `id` (7 columns:
// Server_Name, DB_Name, View, State, Failover_Status, Failover_DB,
// Failover_Server); no rows before the first publication or when the list
// is empty.  Holds checkDBResultMutex while it reads the list (the table
// pass does not hold outstandingReqHashLock while answering; were both
// taken, that lock would come first); the rows are copies, so the
// dispatch loop sends the answer after the mutex is released.
// Main thread.
void answerCorruptFailover(const char* id);

#endif  // QVD_CORE_CORRUPT_FAILOVER_ANSWER_H_
