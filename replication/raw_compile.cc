#include "replication/raw_compile.h"

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>
#include <string>

#include "framework/trace.h"
#include "replication/inc_exc_stack.h"
#include "replication/repl_time.h"
#include "replication/text_utils.h"
#include "serverapi/qvd_api.h"

QVD_TRACE_UNIT("replication/raw");

namespace {

// Copies a name into a 256-byte field, with a trace line when it is cut.
void copyName(char* field, const char* name, const char* what) {
  if (!copyField(field, 256, name))
    QVD_ERROR("%s name of %zu characters cut to 255: |%.255s|", what, strlen(name), name);
}


std::string lowered(const char* text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
  return out;
}

}  // namespace

void add_an_entry(replResult** rawList, replResult* record, bool* tooOld,
                  const _ServerInfoBlock* serverInfo) {
  record->Hit_Miss = kReplRaw;
  if (*tooOld) {
    *tooOld = false;
  } else {
    if (record->StartTime[0] == '\0' && record->EndTime[0] == '\0') {
      VxTimeDate now;
      QVD_VxCurrentTime(&now);
      GetStringFromTimeDate(&now, record->StartTime, serverInfo);
      GetStringFromTimeDate(&now, record->EndTime, serverInfo);
    }
    if (record->StartTime[0] == '\0') {
      QVD_DETAIL("rep->StartTime was empty");
      memcpy(record->StartTime, record->EndTime, sizeof record->StartTime);
      record->startRead = false;
    }
    if (record->EndTime[0] == '\0') {
      QVD_DETAIL("rep->EndTime was empty");
      memcpy(record->EndTime, record->StartTime, sizeof record->EndTime);
    }
    VxTimeDate start = record->startRead ? record->startTD
                                         : GetDateFromString(record->StartTime, serverInfo);
    VxTimeDate end = strcmp(record->EndTime, record->StartTime) == 0
                         ? start
                         : GetDateFromString(record->EndTime, serverInfo);
    record->duration = static_cast<double>(QVD_VxTimeDifference(&end, &start));
    QVD_DETAIL("seconds=%f", record->duration);
    if (!record->startRead) {
      record->startTD = start;
      record->startKey = timeKey(start);
      record->startRead = true;
    }
    replResult* list = add_replResult_list(*rawList, record, serverInfo);
    if (list != nullptr) *rawList = list;
  }
  // The scratch arrays belong to the compiler: only their texts go here.
  for (uint32_t i = 0; i < record->events.count; ++i) free(record->events.buffer[i]);
  for (uint32_t i = 0; i < record->replDBInfo.count; ++i) free(record->replDBInfo.buffer[i]);
  char** events = record->events.buffer;
  char** dbInfo = record->replDBInfo.buffer;
  memset(static_cast<void*>(record), 0, sizeof *record);
  record->events.buffer = events;
  record->replDBInfo.buffer = dbInfo;
  record->duration = 0.0;
}

RawLogCompiler::RawLogCompiler(replResult** rawList, const replRequest* request,
                               const _ServerInfoBlock* serverInfo)
    : rawList_(rawList), request_(request), serverInfo_(serverInfo), work_() {
  cutOff_ = request->startDate;
  QVD_VxTimeAdjust(&cutOff_, 0, 0, 0, -1, 0, 0);
  cutOffKey_ = timeKey(cutOff_);
  events_ = static_cast<char**>(calloc(kScratchSlots, sizeof(char*)));
  dbInfo_ = static_cast<char**>(calloc(kScratchSlots, sizeof(char*)));
  work_.events.buffer = events_;
  work_.replDBInfo.buffer = dbInfo_;
}

RawLogCompiler::~RawLogCompiler() {
  for (uint32_t i = 0; i < work_.events.count; ++i) free(events_[i]);
  for (uint32_t i = 0; i < work_.replDBInfo.count; ++i) free(dbInfo_[i]);
  free(events_);
  free(dbInfo_);
}

void RawLogCompiler::addText(char** slots, uint32_t* count, size_t* dropped, const char* text) {
  if (*count >= kScratchSlots) {
    ++*dropped;
    return;
  }
  char* copy = strdup(text);
  if (copy == nullptr) {
    QVD_ERROR("CompileRawLogResult: no memory for a line of note 0x%x; line dropped", noteId_);
    return;
  }
  slots[(*count)++] = copy;
}

void RawLogCompiler::abbreviate(char* field, const char* name) {
  auto known = abbreviated_.find(name);
  if (known != abbreviated_.end()) {
    copyField(field, 256, known->second.c_str());
    return;
  }
  uint16_t length = 0;
  if (QVD_VxNameAbbreviate(0, nullptr, name, field, 256, &length) != 0) copyName(field, name, "server");
  field[255] = '\0';
  if (abbreviated_.size() < 1024) abbreviated_.emplace(name, field);
}

void RawLogCompiler::finish() {
  if (!started_ || !ok()) return;
  if (eventsDropped_ + dbInfoDropped_ > 0)
    QVD_ERROR("CompileRawLogResult: note 0x%x has more than %zu lines of events (%zu more) or "
              "database details (%zu more); the lines beyond are dropped",
              noteId_, kScratchSlots, eventsDropped_, dbInfoDropped_);
  eventsDropped_ = dbInfoDropped_ = 0;
  add_an_entry(rawList_, &work_, &tooOld_, serverInfo_);
  started_ = false;
}

void RawLogCompiler::add(const logresult& hit) {
  if (!ok()) return;
  if (!started_ || hit.noteID != noteId_) {
    finish();
    started_ = true;
    noteId_ = hit.noteID;
  }
  const char* name = hit.fieldName;
  const char* text = hit.foundStr;
  if (strlowcmp(name, "StartTime") == 0) {
    QVD_DETAIL("Adding StartTime");
    copyField(work_.StartTime, sizeof work_.StartTime, text);
    // The times of a row are those its texts show, whole seconds: the
    // durations and every comparison of the analysis read the same time
    // as the agent does, never the item's hundredths.
    work_.startTD = GetDateFromString(work_.StartTime, serverInfo_);
    work_.startKey = timeKey(work_.startTD);
    work_.startRead = true;
    if (compareTimes(work_.startTD, work_.startKey, cutOff_, cutOffKey_) == -1) tooOld_ = true;
  } else if (strlowcmp(name, "Server") == 0) {
    QVD_DETAIL("Adding Server");
    abbreviate(work_.svrName, text);
  } else if (strlowcmp(name, "InitiatedBy") == 0) {
    QVD_DETAIL("Adding InitiatedBy");
    copyName(work_.InitiatedBy, text, "initiating");
  } else if (strlowcmp(name, "SourceServer") == 0) {
    QVD_DETAIL("Adding SourceServer");
    copyName(work_.repl_svrName, text, "partner");
  } else if (strlowcmp(name, "FinishTime") == 0) {
    QVD_DETAIL("Adding FinishTime");
    copyField(work_.EndTime, sizeof work_.EndTime, text);
  } else if (strlowcmp(name, "EventList") == 0) {
    if (DiscriminateText(text, request_->stack) == 0) {
      QVD_DETAIL("Adding Events");
      addText(events_, &work_.events.count, &eventsDropped_, text);
    }
  } else if (strlowcmp(name, "Body") == 0) {
    if (DiscriminateText(text, request_->stack) == 0) {
      QVD_DETAIL("Adding Body");
      addText(dbInfo_, &work_.replDBInfo.count, &dbInfoDropped_, text);
    }
  } else {
    QVD_DETAIL("got a fieldname that shouldn't be here!! fieldname=%s", name);
  }
}

int CompileRawLogResult(const logresult* logResults, replResult** rawList,
                        const replRequest* request, const _ServerInfoBlock* serverInfo) {
  RawLogCompiler compiler(rawList, request, serverInfo);
  if (!compiler.ok()) return 1;
  for (const logresult* hit = logResults; hit != nullptr; hit = hit->next) compiler.add(*hit);
  compiler.finish();
  return 0;
}

int CompileRawEventResult(const logresult* logResults, replResult** rawList,
                          const VxTimeDate* startDate, const _ServerInfoBlock* serverInfo,
                          ReplStop* stop) {
  // Each event costs a server call or two (its time): the stop is asked
  // this often.
  constexpr unsigned kStopGrain = 256;
  unsigned sinceAsked = 0;
  static const char kStart[] = "Starting replication";
  static const char kWithServer[] = "Starting replication with server ";
  // Start keys of the records already in the list, by partner in lower case.
  // Start events before the period count too: a second start event of a
  // replication reported by an earlier answer is not a new replication.
  std::map<std::string, std::multimap<long, VxTimeDate>> known;
  const long startKey = timeKey(*startDate);
  for (const replResult* r = RewindReplResult(*rawList); r != nullptr; r = r->next)
    known[lowered(r->repl_svrName)].emplace(r->startKey, r->startTD);

  for (const logresult* hit = logResults; hit != nullptr; hit = hit->next) {
    if (++sinceAsked == kStopGrain) {
      sinceAsked = 0;
      if (replStopRequested(stop)) return 1;
    }
    const char* text = hit->foundStr;
    const char* phrase = lowstrstr(text, kStart);
    if (phrase == nullptr) {
      QVD_DETAIL("CompileRawEventResult: no \"%s\" in |%s|; event skipped", kStart, text);
      continue;
    }
    size_t prefix = static_cast<size_t>(phrase - text);
    replResult record = {};
    if (prefix >= sizeof record.StartTime) {
      QVD_ERROR("CompileRawEventResult: %zu characters before \"%s\" are no time; event skipped: |%s|",
                prefix, kStart, text);
      continue;
    }
    memcpy(record.StartTime, text, prefix);
    record.StartTime[prefix] = '\0';
    VxTimeDate when;
    if (prefix == 0 || !ReadDateFromString(record.StartTime, serverInfo, &when)) {
      QVD_ERROR("CompileRawEventResult: no readable time before \"%s\"; event skipped: |%s|", kStart,
                text);
      continue;
    }
    const char* partner = lowstrstr(text, kWithServer);
    if (partner == nullptr || partner[sizeof kWithServer - 1] == '\0') {
      QVD_ERROR("CompileRawEventResult: no partner server named; event skipped: |%s|", text);
      continue;
    }
    long key = timeKey(when);
    if (compareTimes(when, key, *startDate, startKey) == -1) {
      replResult anchor = {};
      copyField(anchor.repl_svrName, sizeof anchor.repl_svrName, partner + sizeof kWithServer - 1);
      known[lowered(anchor.repl_svrName)].emplace(key, when);
      continue;
    }
    memcpy(record.EndTime, record.StartTime, sizeof record.EndTime);
    copyName(record.svrName, serverInfo->serverNameAbbr, "server");
    copyName(record.InitiatedBy, serverInfo->serverNameAbbr, "server");
    copyName(record.repl_svrName, partner + sizeof kWithServer - 1, "partner");
    record.Hit_Miss = kReplRaw;
    record.duration = 0.0;
    record.startTD = when;
    record.startKey = key;
    record.startRead = true;

    auto& same = known[lowered(record.repl_svrName)];
    bool duplicate = false;
    for (auto it = same.lower_bound(key - 5); it != same.end() && it->first <= key + 5; ++it) {
      long diff = QVD_VxTimeDifference(&when, &it->second);
      if (diff > -5 && diff < 5) {
        duplicate = true;
        break;
      }
    }
    if (duplicate) {
      QVD_DETAIL("CompileRawEventResult: We have a record of this already");
      continue;
    }
    replResult* added = insertReplResult(rawList, &record, serverInfo);
    if (added == nullptr) return 1;
    same.emplace(added->startKey, added->startTD);
  }
  return 0;
}
