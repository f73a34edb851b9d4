// Raw replication records from event log hits: one per replication log
// document (CompileRawLogResult, RawLogCompiler) and one per "Starting
// replication" event (CompileRawEventResult).  Raw records have Hit_Miss
// kReplRaw; the hit/miss analysis judges them.
//
// Thread-safety: none; one analysis at a time.
#ifndef QVD_REPLICATION_RAW_COMPILE_H_
#define QVD_REPLICATION_RAW_COMPILE_H_

#include <cstddef>
#include <map>
#include <string>

#include "replication/log_request.h"
#include "replication/repl_records.h"
#include "replication/repl_stop.h"
#include "state/globals.h"

// Slots of the working record for "EventList" and "Body" lines of one
// document; further lines of the document are dropped (with a trace line):
// a row shows at most 1023 characters of them, which 512 entries of one
// character and its ';' already exceed.
constexpr size_t kScratchSlots = 512;

// Turns the hits of replication log documents, in document order, into raw
// records added to *rawList.  Hits may be fed in pieces (document by
// document); finish() completes the last document.
class RawLogCompiler {
 public:
  RawLogCompiler(replResult** rawList, const replRequest* request,
                 const _ServerInfoBlock* serverInfo);
  ~RawLogCompiler();
  RawLogCompiler(const RawLogCompiler&) = delete;
  RawLogCompiler& operator=(const RawLogCompiler&) = delete;

  // False when the scratch arrays could not be allocated.
  bool ok() const { return events_ != nullptr && dbInfo_ != nullptr; }
  void add(const logresult& hit);
  void finish();

 private:
  void addText(char** slots, uint32_t* count, size_t* dropped, const char* text);
  void abbreviate(char* field, const char* name);

  replResult** rawList_;
  const replRequest* request_;
  const _ServerInfoBlock* serverInfo_;
  VxTimeDate cutOff_;
  long cutOffKey_;
  replResult work_;
  char** events_;
  char** dbInfo_;
  size_t eventsDropped_ = 0;
  size_t dbInfoDropped_ = 0;
  bool started_ = false;
  bool tooOld_ = false;
  // Server names seen and their abbreviated forms: a log names the same
  // few servers over and over.
  std::map<std::string, std::string> abbreviated_;
  uint32_t noteId_ = 0;
};

// Finishes a working record: drops it when it is too old, else fills empty
// times (both empty: now), sets the duration and adds a copy to *rawList.
// The working record's texts are freed and its fields cleared either way;
// *tooOld is cleared.
void add_an_entry(replResult** rawList, replResult* record, bool* tooOld,
                  const _ServerInfoBlock* serverInfo);

// All of `logResults` through a RawLogCompiler.  Returns 0, or 1 when the
// scratch storage cannot be allocated.
int CompileRawLogResult(const logresult* logResults, replResult** rawList,
                        const replRequest* request, const _ServerInfoBlock* serverInfo);

// One raw record per "Starting replication with server X" line that has a
// readable time before the phrase, is not earlier than *startDate and is
// not within 5 seconds of a record for the same partner (any case) already
// in *rawList or of an earlier start event of the same search (so that a
// replication started before *startDate is not counted again).  Lines without such a time or partner are skipped with a
// trace line.  Returns 0, or 1 when memory runs out or `stop` (asked every
// few hundred events) ends the analysis; the records added so far stay in
// *rawList for its owner to free.
int CompileRawEventResult(const logresult* logResults, replResult** rawList,
                          const VxTimeDate* startDate, const _ServerInfoBlock* serverInfo,
                          ReplStop* stop = nullptr);

#endif  // QVD_REPLICATION_RAW_COMPILE_H_
