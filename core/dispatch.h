// Request intake and the dispatch loop.
//
// The intake thread (waitForRequest) blocks in the agent link for the next
// request, files each data request in the collector's request table (keyed
// by its id, under outstandingReqHashLock) and wakes the dispatch loop.  The
// dispatch loop, on the main thread, runs the availability check every
// pingInterval + 1 passes, takes or reuses the statistics snapshot (one
// snapshot serves every request for 30 seconds), answers every filed
// request with the rows of its attribute group, releases the requests, and
// ends the process when the agent or the server asks it to.
//
// Wake-up: the intake thread marks "a request was filed" under
// dataRequestMutex, and the loop waits only while no mark is pending.  The
// mark is set as each request is filed; the signal that wakes a waiting
// loop is given when the agent link is about to block for the next
// request, so a burst that arrived together is filed whole and served by
// one pass.  A request filed while the loop is busy (answering, or running
// an availability check) is therefore served by the very next pass, never
// after the one-second tick, which remains only the pace of idle passes.
//
// Slow tables: the requests of a table whose answers read the server's logs
// or directory are handed to a worker of that table (core/slow_table_worker.h);
// a worker that cannot start its runtime gives them back, and the next pass
// answers them here.
//
// Timed waits follow the clock that never jumps (TimeGet).
//
// Answers: the agent link holds the answers of a pass and writes them
// together when the pass has answered its last request (before the
// requests are released), and earlier when the pass is about to take a new
// snapshot or run the replication analysis, so no answer waits for the
// server.
//
// A pass takes the filed requests out of the table under
// outstandingReqHashLock and answers them without it, so the intake thread
// keeps reading while a pass waits for the agent to take its answers (the
// agent's shutdown notice, the end of its connection).  At most 10000
// requests wait in the table; beyond that the intake thread waits for the
// next pass, so an agent that sends without reading cannot grow it without
// end.
//
// An agent that does not read: while a send of the loop waits for the
// agent, the agent link calls the loop back about once a second
// (cp_SetSendWaitHook); each call counts as one pass, so the availability
// checks keep their cadence, and the server's or the agent's request to end
// makes the link give the send up within a second more.  When an answer
// cannot be written (the connection is lost or given up, see
// agentlink/cp_client.h), the rest of the pass and every later request is
// released unanswered, with one trace line ("<n> requests left unanswered:
// the answers cannot be sent to the agent"); the conversation then ends as
// for a lost connection (30) or as the server asked (31).  The shutdown
// begins with cp_BeginShutdown, so no thread's send (a worker's, an add-in
// thread's) holds the end for more than a second.
//
// Lock order: outstandingReqHashLock is never held while answering;
// checkDBResultMutex is taken by the database answers on their own.
// dataRequestMutex is never held together with another lock.
#ifndef QVD_CORE_DISPATCH_H_
#define QVD_CORE_DISPATCH_H_

// Creates the request table, then starts the intake thread.  Returns 0 or
// the pthread_create error (the table is then released again).
// REQUIRES: registration is complete and the server information block is
// built.  Call once.
int startRequestIntake();

// Makes the next data request take a fresh statistics snapshot.
void resetStatsClock();

// Closes the agent link, joins the intake thread and releases the request
// table (what is left in it is released without an answer).  Main thread
// only; harmless when the intake never started.
void stopRequestIntake();

// Runs the dispatch loop until the agent ends the conversation (returns 30)
// or the server asks its programs to end (returns 31).  On the way out it
// stops every thread that uses the server and then ends the server runtime
// (core/runtime_end.h), stops the intake (stopRequestIntake), and releases
// the server information block and the group analyzer.  `pingInterval` is
// the number of passes between availability checks.  Main thread only.
int runDispatchLoop(int pingInterval);

// The intake thread's entry; the argument is ignored; returns null.  It
// ends on the agent's shutdown notice, a lost connection or a failed wait,
// each of which sets qvdShutdown and closes the connection.
void* waitForRequest(void* arg);

#endif  // QVD_CORE_DISPATCH_H_
