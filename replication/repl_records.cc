#include "replication/repl_records.h"

#include <cstdlib>
#include <cstring>
#include <iterator>
#include <map>
#include <new>

#include "framework/trace.h"
#include "replication/repl_time.h"

QVD_TRACE_UNIT("replication/records");

// Members of one list by start key; equal keys in list order.
struct ReplOrder {
  std::multimap<long, replResult*> byStart;
};

namespace {

void freeTexts(ReplTexts* texts) {
  for (uint32_t i = 0; i < texts->count; ++i) free(texts->buffer[i]);
  free(texts->buffer);
  texts->buffer = nullptr;
  texts->count = 0;
}

bool copyTexts(ReplTexts* to, const ReplTexts& from) {
  to->count = 0;
  to->buffer = nullptr;
  if (from.count == 0) return true;
  to->buffer = static_cast<char**>(calloc(from.count, sizeof(char*)));
  if (to->buffer == nullptr) return false;
  for (uint32_t i = 0; i < from.count; ++i) {
    to->buffer[i] = strdup(from.buffer[i] ? from.buffer[i] : "");
    if (to->buffer[i] == nullptr) return false;
    to->count = i + 1;
  }
  return true;
}

void freeMember(replResult* member) {
  freeTexts(&member->events);
  freeTexts(&member->replDBInfo);
  delete member;
}

// Takes `member` out of its list's index; frees the index with its last
// member.
void unindex(replResult* member) {
  ReplOrder* order = member->order;
  if (order == nullptr) return;
  auto range = order->byStart.equal_range(member->startKey);
  for (auto it = range.first; it != range.second; ++it) {
    if (it->second == member) {
      order->byStart.erase(it);
      break;
    }
  }
  if (order->byStart.empty()) delete order;
  member->order = nullptr;
}

// Gives a list built without an index (every member linked by hand) one.
ReplOrder* orderOf(replResult* list, const _ServerInfoBlock* serverInfo) {
  if (list->order != nullptr) return list->order;
  ReplOrder* order = new ReplOrder;
  for (replResult* m = RewindReplResult(list); m != nullptr; m = m->next) {
    m->startTD = GetDateFromString(m->StartTime, serverInfo);
    m->startKey = timeKey(m->startTD);
    m->order = order;
    order->byStart.emplace_hint(order->byStart.end(), m->startKey, m);
  }
  return order;
}

}  // namespace

replResult* add_AndSortResult_list(replResult* list, replResult* newRecord,
                                   const _ServerInfoBlock* serverInfo) {
  ReplOrder* order = orderOf(list, serverInfo);
  newRecord->order = order;
  // multimap places an equal key after the keys already there.
  auto it = order->byStart.emplace(newRecord->startKey, newRecord);
  auto after = std::next(it);
  if (after != order->byStart.end()) {
    replResult* later = after->second;
    newRecord->next = later;
    newRecord->previous = later->previous;
    if (later->previous != nullptr) later->previous->next = newRecord;
    later->previous = newRecord;
  } else {
    replResult* last = std::prev(it)->second;  // the list is not empty
    last->next = newRecord;
    newRecord->previous = last;
    newRecord->next = nullptr;
  }
  return order->byStart.begin()->second;
}

replResult* add_replResult_list(replResult* list, const replResult* record,
                                const _ServerInfoBlock* serverInfo) {
  replResult* added = insertReplResult(&list, record, serverInfo);
  return added == nullptr ? nullptr : list;
}

replResult* insertReplResult(replResult** list, const replResult* record,
                             const _ServerInfoBlock* serverInfo) {
  replResult* copy = new (std::nothrow) replResult();
  if (copy == nullptr) {
    QVD_ERROR(" newResult no memory");
    return nullptr;
  }
  memcpy(copy->svrName, record->svrName, sizeof copy->svrName);
  memcpy(copy->repl_svrName, record->repl_svrName, sizeof copy->repl_svrName);
  memcpy(copy->InitiatedBy, record->InitiatedBy, sizeof copy->InitiatedBy);
  memcpy(copy->StartTime, record->StartTime, sizeof copy->StartTime);
  memcpy(copy->EndTime, record->EndTime, sizeof copy->EndTime);
  copy->StartTime[sizeof copy->StartTime - 1] = '\0';
  copy->EndTime[sizeof copy->EndTime - 1] = '\0';
  if (!copyTexts(&copy->events, record->events)) {
    QVD_ERROR(" events.buffer no memory");
    freeMember(copy);
    return nullptr;
  }
  if (!copyTexts(&copy->replDBInfo, record->replDBInfo)) {
    QVD_ERROR(" replDBInfo.buffer no memory");
    freeMember(copy);
    return nullptr;
  }
  copy->Hit_Miss = record->Hit_Miss;
  copy->duration = record->duration;
  copy->startRead = true;
  if (record->order != nullptr || record->startRead) {
    // A member of another list, or a record whose start is read already.
    copy->startTD = record->startTD;
    copy->startKey = record->startKey;
  } else {
    copy->startTD = GetDateFromString(copy->StartTime, serverInfo);
    copy->startKey = timeKey(copy->startTD);
  }
  if (*list == nullptr) {
    copy->order = new (std::nothrow) ReplOrder;
    if (copy->order == nullptr) {
      QVD_ERROR(" could not allocate memory");
      freeMember(copy);
      return nullptr;
    }
    copy->order->byStart.emplace(copy->startKey, copy);
    *list = copy;
    return copy;
  }
  *list = add_AndSortResult_list(*list, copy, serverInfo);
  return copy;
}

replResult* RewindReplResult(replResult* member) {
  if (member == nullptr) return nullptr;
  while (member->previous != nullptr) member = member->previous;
  return member;
}

size_t CountReplResult(const replResult* member) {
  if (member == nullptr) return 0;
  if (member->order != nullptr) return member->order->byStart.size();
  size_t count = 0;
  for (const replResult* m = RewindReplResult(const_cast<replResult*>(member)); m != nullptr;
       m = m->next)
    ++count;
  return count;
}

replResult* LastReplResult(replResult* member) {
  if (member == nullptr) return nullptr;
  if (member->order != nullptr) {
    // Equal start keys stand in list order in the index, so its last entry
    // is the list's last member.
    return member->order->byStart.rbegin()->second;
  }
  while (member->next != nullptr) member = member->next;
  return member;
}

replResult* RemoveReplResult(replResult* member) {
  if (member == nullptr) return nullptr;
  replResult* next = member->next;
  replResult* previous = member->previous;
  if (next != nullptr) next->previous = previous;
  if (previous != nullptr) previous->next = next;
  unindex(member);
  freeMember(member);
  return next != nullptr ? next : previous;
}

void moveReplResult(replResult** from, replResult* member, replResult** list) {
  if (*from == member) *from = member->next;
  if (member->next != nullptr) member->next->previous = member->previous;
  if (member->previous != nullptr) member->previous->next = member->next;
  member->next = member->previous = nullptr;
  unindex(member);
  if (*list == nullptr) {
    member->order = new ReplOrder;
    member->order->byStart.emplace(member->startKey, member);
    *list = member;
    return;
  }
  *list = add_AndSortResult_list(*list, member, nullptr);
}

void free_replResult(replResult* list) {
  if (list == nullptr) return;
  if (list->previous != nullptr) list->previous->next = nullptr;
  while (list != nullptr) {
    replResult* next = list->next;
    unindex(list);
    freeMember(list);
    list = next;
  }
}

void clearReplResult(replResult* record) {
  freeTexts(&record->events);
  freeTexts(&record->replDBInfo);
  memset(static_cast<void*>(record), 0, sizeof *record);
  record->duration = 0.0;
}

void printreplresult(const replResult* list) {
  if (!QVD_TRACE_ON(TRACE_DETAIL)) return;
  const char* frame = "==========================================================";
  for (const replResult* r = list; r != nullptr; r = r->next) {
    QVD_DETAIL("%s", frame);
    QVD_DETAIL("replResult->StartTime     =|%s|", r->StartTime);
    QVD_DETAIL("replResult->EndTime       =|%s|", r->EndTime);
    QVD_DETAIL("replResult->InitiatedBy   =|%s|", r->InitiatedBy);
    QVD_DETAIL("replResult->repl_svrName  =|%s|", r->repl_svrName);
    QVD_DETAIL("replResult->Hit_Miss      = %ld", (long)r->Hit_Miss);
    for (uint32_t i = 0; i < r->events.count; ++i)
      QVD_DETAIL("replResult->events[%ld]=|%s|", (long)i, r->events.buffer[i]);
    for (uint32_t i = 0; i < r->replDBInfo.count; ++i)
      QVD_DETAIL("replResult->replDBInfo[%ld]=|%s|", (long)i, r->replDBInfo.buffer[i]);
    QVD_DETAIL("%s", frame);
  }
}

replschedule* add_replSched_list(replschedule* list, const replschedule* schedule) {
  replschedule* copy = static_cast<replschedule*>(malloc(sizeof(replschedule)));
  if (copy == nullptr) return list;
  *copy = *schedule;
  copy->next = nullptr;
  copy->schedule = strdup(schedule->schedule ? schedule->schedule : "");
  if (copy->schedule == nullptr) {
    free(copy);
    return list;
  }
  if (list == nullptr) return copy;
  replschedule* last = list;
  while (last->next != nullptr) last = last->next;
  last->next = copy;
  return list;
}

void free_replSched(replschedule* list) {
  while (list != nullptr) {
    replschedule* next = list->next;
    free(list->schedule);
    free(list);
    list = next;
  }
}
