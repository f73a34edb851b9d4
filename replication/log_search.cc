#include "replication/log_search.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <utility>

#include "framework/trace.h"
#include "replication/repl_time.h"
#include "replication/text_utils.h"
#include "serverapi/qvd_api.h"

QVD_TRACE_UNIT("replication/logsearch");

VxLocaleFormat intl;

namespace {

// Lines of this length or more do not fit a hit and are skipped.
constexpr size_t kMaxLine = 1024;

struct SearchContext {
  logresult* head;
  logresult* tail;
  logresult* spare;  // hits a sink left, reused for the next documents
  _formtable* table;
  uint32_t noteId;
  char formName[64];
  logrequest request;
};

// Appends a hit after the context's last one.
void addHit(SearchContext* ctx, const char* text, const char* fieldName) {
  logresult* hit = ctx->spare;
  if (hit != nullptr) {
    ctx->spare = hit->next;
    setLogResult(hit, text, ctx->formName, fieldName, ctx->noteId);
  } else {
    hit = new_logResult(text, ctx->formName, fieldName, ctx->noteId);
  }
  if (hit == nullptr) {
    QVD_ERROR("add_logResult_list: out of memory");
    return;
  }
  if (ctx->tail == nullptr) {
    ctx->head = hit;
  } else {
    ctx->tail->next = hit;
  }
  ctx->tail = hit;
}

// Cuts converted text into lines and keeps those the request accepts.
void addLines(SearchContext* ctx, char* text, const char* fieldName) {
  char* line = text;
  while (*line != '\0') {
    char* end = strchr(line, '\n');
    if (end != nullptr) *end = '\0';
    size_t len = strlen(line);
    if (len >= kMaxLine) {
      QVD_DETAIL("DumpOneItem: line of %zu characters in %s of note 0x%x skipped", len, fieldName,
                 ctx->noteId);
    } else if (len > 0) {
      if (DiscriminateText(line, ctx->request.incExcStack) != 0) {
        QVD_DETAIL("DumpOneItem: Discriminiated this item. Text = |%s|  vaxelID=0x%x", line,
                   ctx->noteId);
      } else if (checkfordate(&ctx->request, line) != 0) {
        addHit(ctx, line, fieldName);
      }
    }
    if (end == nullptr) break;
    line = end + 1;
  }
}

// Converts `length` bytes of server text (NUL bytes already line feeds)
// and adds its lines.
void addTextValue(SearchContext* ctx, char* data, size_t length, const char* fieldName) {
  std::unique_ptr<char[]> text(new (std::nothrow) char[3 * length + 1]);
  if (!text) {
    QVD_ERROR("DumpOneItem: no memory for item %s of note 0x%x; item skipped", fieldName,
              ctx->noteId);
    return;
  }
  unsigned long n = toHostText(data, length, text.get(), 3 * length);
  text[n] = '\0';
  addLines(ctx, text.get(), fieldName);
}

// Rewrites a text list value in place as its entries, each followed by a
// line feed.  Returns the flattened length, or -1 when the list's counts
// do not fit its value.
long DumpTextlistItem(char* list, size_t length) {
  if (length < 2) return -1;
  uint16_t count;
  memcpy(&count, list, 2);
  size_t header = 2 + 2 * static_cast<size_t>(count);
  if (header > length) return -1;
  size_t total = 0;
  for (uint16_t i = 0; i < count; ++i) {
    uint16_t l;
    memcpy(&l, list + 2 + 2 * i, 2);
    total += l;
  }
  if (header + total > length) return -1;
  // Where each entry lies (the list's documented layout: count, lengths,
  // then the entries' bytes), taken before the first move overwrites the
  // header.
  std::unique_ptr<std::pair<char*, uint16_t>[]> entries(
      new (std::nothrow) std::pair<char*, uint16_t>[count ? count : 1]);
  if (!entries) return -1;
  char* at = list + header;
  for (uint16_t i = 0; i < count; ++i) {
    uint16_t l;
    memcpy(&l, list + 2 + 2 * i, 2);
    entries[i] = {at, l};
    at += l;
  }
  size_t written = 0;
  for (uint16_t i = 0; i < count; ++i) {
    memmove(list + written, entries[i].first, entries[i].second);
    written += entries[i].second;
    list[written++] = '\n';
  }
  return static_cast<long>(written);
}

VxStatus DumpOneItem(uint16_t, uint16_t, const char* name, uint16_t nameLength, void* value,
                     uint32_t valueLength, void* context) {
  SearchContext* ctx = static_cast<SearchContext*>(context);
  char rawName[129];
  size_t take = nameLength < 128 ? nameLength : 128;
  memcpy(rawName, name, take);
  rawName[take] = '\0';
  char fieldName[129];
  unsigned long n = toHostText(rawName, take, fieldName, 128);
  fieldName[n] = '\0';

  const logrequest& req = ctx->request;
  if (req.excludeFields[0] != '\0' && lowstrstr(req.excludeFields, fieldName) != nullptr) return 0;
  if (req.includeFields[0] != '\0' && lowstrstr(req.includeFields, fieldName) == nullptr) return 0;
  if (req.excludeFields[0] == '\0' && req.includeFields[0] == '\0' && fieldName[0] == '$') return 0;
  if (valueLength < 2) return 0;

  char* bytes = static_cast<char*>(value);
  uint16_t type;
  memcpy(&type, bytes, 2);
  char* data = bytes + 2;
  size_t dataLength = valueLength - 2;
  switch (type) {
    case VX_TYPE_TEXT:
      convert_text_field(data, dataLength);
      addTextValue(ctx, data, dataLength, fieldName);
      break;
    case VX_TYPE_TEXT_LIST: {
      long flat = DumpTextlistItem(data, dataLength);
      if (flat < 0) {
        QVD_ERROR("DumpOneItem: text list %s of note 0x%x is damaged; item skipped", fieldName,
                  ctx->noteId);
        break;
      }
      addTextValue(ctx, data, static_cast<size_t>(flat), fieldName);
      break;
    }
    case VX_TYPE_NUMBER: {
      if (dataLength < sizeof(double)) break;
      double number;
      memcpy(&number, data, sizeof number);
      char text[kMaxLine];
      snprintf(text, sizeof text, "%f", number);
      if (DiscriminateText(text, req.incExcStack) == 0) addHit(ctx, text, fieldName);
      break;
    }
    case VX_TYPE_TIME: {
      if (dataLength < sizeof(VxTimeDate)) break;
      VxTimeDate time;
      memcpy(&time, data, sizeof time);
      char text[81] = "";
      uint16_t length = 0;
      if (QVD_VxTimeToText(&intl, nullptr, &time, text, sizeof text, &length) != 0) text[0] = '\0';
      if (DiscriminateText(text, req.incExcStack) == 0) addHit(ctx, text, fieldName);
      break;
    }
    default:
      QVD_DETAIL("Will not process data type = %x", type);
      break;
  }
  return 0;
}

VxStatus ReadNote(void* context, const VxSearchMatch* match, const void*) {
  SearchContext* ctx = static_cast<SearchContext*>(context);
  if (ctx->request.stopRequested != nullptr && ctx->request.stopRequested(ctx->request.stopContext)) {
    QVD_DETAIL("ReadNote: the search is asked to stop");
    return 1;
  }
  if (QVD_VxShouldTerminate() != 0) {
    QVD_DETAIL("ReadNote: VxShouldTerminate = TRUE\n");
    return 1;
  }
  if ((match->Flags & VX_SE_FMATCH) == 0) return 0;
  VxDocHandle doc = 0;
  VxStatus rc = QVD_VxDocOpen(ctx->request.logdbH, match->NoteId, 0, &doc);
  if (rc != 0) {
    QVD_ERROR("ReadNote: VxDocOpen() error: %u", rc);
    QVD_ERROR("Could not open note: 0x%x ", match->NoteId);
    return rc & 0x3FFF;
  }
  if (QVD_VxItemGetText(doc, "FORM", ctx->formName, sizeof ctx->formName) == 0) {
    QVD_ERROR("VxItemGetText failed for field FORM. Error");
    QVD_VxDocClose(doc);
    return 0;
  }
  if (QVD_TRACE_ON(TRACE_DETAIL)) {
    QVD_DETAIL("ReadNote: note: 0x%x form: %s", match->NoteId, ctx->formName);
    VxTimeDate start;
    char text[81] = "";
    if (QVD_VxItemGetTime(doc, "StartTime", &start) != 0) {
      uint16_t length = 0;
      if (QVD_VxTimeToText(&intl, nullptr, &start, text, sizeof text, &length) != 0) text[0] = '\0';
    }
    QVD_DETAIL("ReadNote: note: 0x%x time: %s", match->NoteId, text);
    int row = FindFormName(ctx->table, ctx->formName);
    if (row < 0) {
      QVD_DETAIL("ReadNote:Form name not recognized.");
      QVD_VxDocClose(doc);
      return 0;
    }
    if (ctx->table[row].active == 0) {
      QVD_DETAIL("ReadNote:Form name is not active.");
      QVD_VxDocClose(doc);
      return 0;
    }
  }
  ctx->noteId = match->NoteId;
  rc = QVD_VxItemScan(doc, DumpOneItem, ctx);
  QVD_VxDocClose(doc);
  if (ctx->request.hitSink != nullptr && ctx->head != nullptr) {
    logresult* hits = ctx->head;
    logresult* last = ctx->tail;
    ctx->head = ctx->tail = nullptr;
    int stop = ctx->request.hitSink(ctx->request.hitSinkContext, &hits);
    if (hits != nullptr) {
      last->next = ctx->spare;
      ctx->spare = hits;
    }
    if (stop != 0 && rc == 0) rc = static_cast<VxStatus>(stop);
  }
  return rc & 0x3FFF;
}

// Splits `text` at ';' in place; empty parts are passed over.
char* nextPart(char** cursor) {
  char* p = *cursor;
  while (*p == ';') ++p;
  if (*p == '\0') return nullptr;
  char* end = strchr(p, ';');
  if (end != nullptr) {
    *end = '\0';
    *cursor = end + 1;
  } else {
    *cursor = p + strlen(p);
  }
  return p;
}

}  // namespace

int initIncExcStack(logrequest* request) {
  Stack* stack = NewStack();
  if (stack == nullptr) return 1;
  request->incExcStack = stack;
  stack->hasIncludeString = request->includeString[0] != '\0' ? 1 : 0;
  stack->hasExcludeString = request->excludeString[0] != '\0' ? 1 : 0;
  QVD_DETAIL("initIncExcStack: hasIncludeString=%s", stack->hasIncludeString ? "TRUE" : "FALSE");
  QVD_DETAIL("initIncExcStack: hasExcludeString=%s", stack->hasExcludeString ? "TRUE" : "FALSE");
  if (!stack->hasIncludeString && !stack->hasExcludeString && request->useStartDate == 0) return 1;
  int rc = AddStackList(request->includeString, '+', stack);
  if (rc == 0) rc = AddStackList(request->excludeString, '-', stack);
  if (rc != 0) {
    QVD_ERROR("initIncExcStack: unexpected error %d from AddStack() line %d", rc, __LINE__);
    return rc;
  }
  DumpStack("initIncExcStack", stack);
  return 0;
}

int checkfordate(const logrequest* request, const char* line) {
  if (strlen(line) < 16) return 1;
  // Every date the server writes starts with a digit: other lines are no
  // date, and the server is not asked.
  const char* first = line;
  while (*first == ' ') ++first;
  if (*first < '0' || *first > '9') {
    QVD_DETAIL("checkfordate: sztempdate is not a valid timedate");
    return 1;
  }
  VxTimeDate when;
  if (QVD_VxTextToTime(&intl, nullptr, line, 22, &when) != 0) {
    QVD_DETAIL("checkfordate: sztempdate is not a valid timedate");
    return 1;
  }
  if (QVD_VxTimeCompare(&when, &request->startDate) == -1) {
    QVD_DETAIL("checkfordate: sztempdate is earlier than logreq.startDate");
    return 0;
  }
  return 1;
}

int SearchVaxel(logresult** out, logrequest* request, _formtable* table) {
  struct ContextDeleter {
    void operator()(SearchContext* c) const {
      free_logResult(c->spare);
      delete c;
    }
  };
  std::unique_ptr<SearchContext, ContextDeleter> ctx(new (std::nothrow) SearchContext());
  if (!ctx) {
    QVD_ERROR("SearchVaxel: could not allocate memory");
    return 1;
  }
  ctx->head = *out;
  ctx->tail = *out;
  while (ctx->tail != nullptr && ctx->tail->next != nullptr) ctx->tail = ctx->tail->next;
  ctx->table = table;
  VxTimeDate nonData;
  VxStatus rc = QVD_VxDbOpenExtended(request->DatabasePath, VX_DBOPEN_MODIFIED_SINCE, 0,
                                     &request->startDate, &request->logdbH,
                                     &request->dataModified, &nonData);
  if (rc == VX_ERR_NOT_MODIFIED) {
    QVD_ERROR("SearchVaxel:Could not open log.vdb file because the file was not modified passed the date specified.");
    return 1;
  }
  if (rc != 0) return rc;
  ctx->request = *request;
  QVD_DETAIL("SearchVaxel:VxDbOpenExtended() was called successfuly. log_req.logdbH=%d",
             request->logdbH);
  rc = QVD_VxDbSearch(request->logdbH, request->formulaH, nullptr, VX_SEARCH_SUMMARY,
                      VX_NOTE_CLASS_DOCUMENT, &request->startDate, ReadNote, ctx.get(), nullptr);
  QVD_VxDbClose(request->logdbH);
  *out = ctx->head;
  return rc;
}

int get_log_request(logresult** out, logrequest request, _ServerInfoBlock* serverInfo) {
  memcpy(&intl, &serverInfo->intlSettings, sizeof intl);
  QVD_VxPathNetConstruct(nullptr, serverInfo->serverNameCanonical, "log.vdb",
                         request.DatabasePath);
  QVD_DETAIL("get_log_request: log_req.DatabasePath= %s", request.DatabasePath);
  request.incExcStack = nullptr;
  int rc = initIncExcStack(&request);
  if (rc != 0) QVD_ERROR("get_log_request: rc %d from initIncExcStack()", rc);
  // The stack is freed on every way out.
  std::unique_ptr<Stack, int (*)(Stack*)> stack(request.incExcStack, CleanStack);

  rc = settleStartDate(request.useStartDate, request.startDateText, &request.startDate, 5);
  if (rc != 0) return rc;

  request.forms[0] = '\0';
  char* cursor = request.form_nicknames;
  for (char* nick; (nick = nextPart(&cursor)) != nullptr;) {
    int row = FindNickName(FormTable, nick);
    if (row < 0) {
      QVD_ERROR("get_log_request: form nickname |%s| is unknown or ambiguous", nick);
      return 1;
    }
    size_t used = strlen(request.forms);
    size_t add = strlen(FormTable[row].formName) + 1;
    if (used + add >= sizeof request.forms) {
      QVD_ERROR("get_log_request: the forms named do not fit %zu bytes", sizeof request.forms);
      return 1;
    }
    snprintf(request.forms + used, sizeof request.forms - used, "%s;", FormTable[row].formName);
  }
  request.formulaH = BuildVaxelFormula(FormTable, &request);
  rc = SearchVaxel(out, &request, FormTable);
  if (rc != 0) QVD_ERROR("get_log_request: After SearchVaxel() error=%ld", (long)rc);
  if (request.formulaH != 0) QVD_VxMemFree(request.formulaH);
  return rc;
}
