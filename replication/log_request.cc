#include "replication/log_request.h"

#include <cstdlib>

#include "framework/trace.h"
#include "replication/text_utils.h"
#include "serverapi/qvd_api.h"

QVD_TRACE_UNIT("replication/logresult");

logresult* new_logResult(const char* found, const char* formName, const char* fieldName,
                         uint32_t noteID) {
  // Only the texts are written, so the pages of a long list stay small.
  logresult* hit = static_cast<logresult*>(malloc(sizeof(logresult)));
  if (hit == nullptr) return nullptr;
  setLogResult(hit, found, formName, fieldName, noteID);
  return hit;
}

void setLogResult(logresult* hit, const char* found, const char* formName, const char* fieldName,
                  uint32_t noteID) {
  copyField(hit->foundStr, sizeof hit->foundStr, found);
  copyField(hit->formName, sizeof hit->formName, formName);
  copyField(hit->fieldName, sizeof hit->fieldName, fieldName);
  hit->noteID = noteID;
  hit->next = nullptr;
}

logresult* add_logResult_list(logresult* list, const char* found, const char* formName,
                              const char* fieldName, uint32_t noteID, int mode) {
  logresult* hit = new_logResult(found, formName, fieldName, noteID);
  if (hit == nullptr) {
    QVD_ERROR("add_logResult_list: out of memory");
    return list;
  }
  if (mode == 1 || list == nullptr) {
    hit->next = list;
    return hit;
  }
  logresult* last = list;
  while (last->next != nullptr) last = last->next;
  last->next = hit;
  return list;
}

void free_logResult(logresult* list) {
  while (list != nullptr) {
    logresult* next = list->next;
    free(list);
    list = next;
  }
}

void DumpLogResult(const logresult* list) {
  if (!QVD_TRACE_ON(TRACE_DETAIL)) return;
  for (const logresult* r = list; r != nullptr; r = r->next) {
    if (QVD_VxShouldTerminate() != 0) {
      QVD_DETAIL("DumpLogResult: Addin shutdown detected");
      return;
    }
    QVD_DETAIL("DumpLogResult: logResult->foundStr=|%s|", r->foundStr);
    QVD_DETAIL("DumpLogResult: logResult->formName=|%s|", r->formName);
    QVD_DETAIL("DumpLogResult: logResult->fieldName=|%s|", r->fieldName);
    QVD_DETAIL("DumpLogResult: logResult->noteID=0x%x", r->noteID);
    QVD_DETAIL("====================================================");
    QVD_DETAIL(" ");
  }
}
