#include "replication/taillog.h"

#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "framework/trace.h"
#include "replication/form_table.h"
#include "replication/log_search.h"
#include "replication/text_utils.h"
#include "serverapi/qvd_api.h"

QVD_TRACE_UNIT("replication/taillog");

namespace {

constexpr size_t kEventsBuffer = 150000;

VxStatus ReadEventRecords(void* context, const VxSearchMatch* match, const void*) {
  if ((match->Flags & VX_SE_FMATCH) != 0)
    static_cast<std::vector<uint32_t>*>(context)->push_back(match->NoteId);
  return 0;
}

// The "Events" item of a document as host text, lines separated by line
// feeds; empty when the document has none.
void readEvents(VxDocHandle doc, char* out, size_t outSize) {
  out[0] = '\0';
  uint32_t item = 0, length = 0;
  uint16_t type = 0;
  VxValueRef value = {nullptr, 0};
  if (QVD_VxItemInfo(doc, "Events", 6, &item, &type, &value, &length) != 0) return;
  if (type == VX_TYPE_TEXT) {
    get_text_field(value.Value, length, out, outSize);
  } else if (type == VX_TYPE_TEXT_LIST) {
    uint16_t n = QVD_VxItemValueToText(type, value, length, out,
                                       static_cast<uint16_t>(outSize > 0xFFFF ? 0xFFFF : outSize), '\n');
    out[n < outSize ? n : outSize - 1] = '\0';
  }
}

}  // namespace

int taillog(logresult** out, logrequest request, _ServerInfoBlock* serverInfo) {
  memcpy(&intl, &serverInfo->intlSettings, sizeof intl);
  QVD_VxPathNetConstruct(nullptr, serverInfo->serverNameCanonical, "log.vdb", request.DatabasePath);
  request.incExcStack = nullptr;
  initIncExcStack(&request);
  std::unique_ptr<Stack, int (*)(Stack*)> stack(request.incExcStack, CleanStack);

  std::string form = "Events";
  char* cursor = request.form_nicknames;
  while (*cursor == ';') ++cursor;
  if (*cursor != '\0') {
    char* end = strchr(cursor, ';');
    if (end != nullptr) *end = '\0';
    int row = FindNickName(FormTable, cursor);
    if (row < 0) return 1;
    if (strcmp(FormTable[row].fieldSlots[0], "Events") == 0) form = FormTable[row].formName;
  }
  std::string formula = "SELECT FORM = \"" + form + "\"";
  VxFormulaHandle formulaH = 0;
  uint16_t fl = 0, el = 0, ec = 0, eo = 0, en = 0;
  VxStatus ce = 0;
  if (QVD_VxFormulaCompile(nullptr, 0, formula.c_str(), static_cast<uint16_t>(formula.size()),
                           &formulaH, &fl, &ce, &el, &ec, &eo, &en) != 0)
    formulaH = 0;

  VxDbHandle db = 0;
  VxStatus rc = QVD_VxDbOpenExtended(request.DatabasePath, 0, 0, nullptr, &db, nullptr, nullptr);
  if (rc != 0) {
    if (formulaH != 0) QVD_VxMemFree(formulaH);
    return rc;
  }
  std::vector<uint32_t> ids;
  rc = QVD_VxDbSearch(db, formulaH, nullptr, 0, VX_NOTE_CLASS_DOCUMENT, nullptr, ReadEventRecords,
                      &ids, nullptr);
  if (formulaH != 0) QVD_VxMemFree(formulaH);
  std::unique_ptr<char[]> buffer(new (std::nothrow) char[kEventsBuffer]);
  if (!buffer) rc = 1;
  int taken = 0;
  for (size_t d = ids.size(); rc == 0 && d > 0 && taken < request.tailCount; --d) {
    VxDocHandle doc = 0;
    if (QVD_VxDocOpen(db, ids[d - 1], 0, &doc) != 0) continue;
    readEvents(doc, buffer.get(), kEventsBuffer);
    QVD_VxDocClose(doc);
    // Lines from the last backwards, each put in front.
    char* text = buffer.get();
    size_t end = strlen(text);
    while (end > 0 && taken < request.tailCount) {
      size_t begin = end;
      while (begin > 0 && text[begin - 1] != '\n') --begin;
      std::string line(text + begin, end - begin);
      end = begin > 0 ? begin - 1 : 0;
      if (line.empty() || line.size() >= sizeof((*out)->foundStr)) continue;
      if (DiscriminateText(line.c_str(), request.incExcStack) != 0) continue;
      *out = add_logResult_list(*out, line.c_str(), form.c_str(), "Events", ids[d - 1], 1);
      ++taken;
    }
  }
  QVD_VxDbClose(db);
  return rc;
}
