#include "replication/form_table.h"

#include <cctype>
#include <cstring>
#include <strings.h>
#include <string>

#include "framework/trace.h"
#include "replication/text_utils.h"
#include "serverapi/qvd_api.h"

QVD_TRACE_UNIT("replication/forms");

_formtable FormTable[kFormTableRows] = {
    {1, "session", "Session", "VELORA_LOGFILE_SESSION", {"UserName", "Body", ""}},
    {1, "activity", "Activity", "VELORA_LOGFILE_ACTIVITY", {"Pathname", "PercentUsed", ""}},
    {1, "events", "Events", "VELORA_LOGFILE_EVENTS", {"Events", "Events", "Events"}},
    {1, "replication", "Replication", "VELORA_LOGFILE_REPLICA", {"Events", "Events", "Events"}},
    {1, "routing", "Mail Routing", "VELORA_LOGFILE_MAIL_ROUTING", {"Events", "Events", "Events"}},
    {1, "call", "Phone Call", "VELORA_LOGFILE_PHONE", {"TargetServer", "", ""}},
    {1, "incoming", "Phone Call - Incoming", "VELORA_LOGFILE_INCOMMING", {"RemoteServer", "", ""}},
    {1, "outgoing", "Phone Call - Outgoing", "VELORA_LOGFILE_OUTGOING", {"RemoteServer", "", ""}},
    {1, "size", "Size", "VELORA_LOGFILE_SIZE", {"Size", "", ""}},
    {1, "nntp", "NNTP Events", "VELORA_LOGFILE_NNTPEVENTS", {"Events", "", ""}},
    {1, "usage", "Object Store Usage", "VELORA_LOGFILE_UAGE", {"Usage", "", ""}},
    {1, "passthru", "Passthru Connection", "VELORA_LOGFILE_PASSTHRU", {"Passthru", "", ""}},
};

int FindNickName(_formtable* table, char* nickname) {
  for (char* p = nickname; *p != '\0'; ++p) *p = static_cast<char>(tolower(static_cast<unsigned char>(*p)));
  zelstrip(nickname, "\"");
  zellstrip(nickname, "\"");
  size_t n = strlen(nickname);
  int found = -1;
  for (int row = 0; row < kFormTableRows; ++row) {
    // A nickname may also be the start of the form's own name ("phone"),
    // so that "p" is ambiguous between the phone and passthru forms.
    if (strncmp(table[row].nickName, nickname, n) != 0 &&
        strncasecmp(table[row].formName, nickname, n) != 0)
      continue;
    if (found != -1) return -1;
    found = row;
  }
  return found;
}

int FindFormName(const _formtable* table, const char* formName) {
  for (int row = 0; row < kFormTableRows; ++row)
    if (strcmp(table[row].formName, formName) == 0) return row;
  return -1;
}

uint16_t BuildVaxelFormula(_formtable* table, logrequest* request) {
  if (request->forms[0] == '\0') {
    QVD_DETAIL("BuildVaxelFormula: No Classes specified, use all of them");
    return 0;
  }
  for (int row = 0; row < kFormTableRows; ++row) table[row].active = 0;
  zelstrip(request->forms, ";");
  std::string text = "SELECT FORM = ";
  const char* p = request->forms;
  bool firstForm = true;
  while (true) {
    const char* end = strchr(p, ';');
    std::string name = end ? std::string(p, end - p) : std::string(p);
    int row = FindFormName(table, name.c_str());
    if (row >= 0) table[row].active = 1;
    if (!firstForm) text += ':';
    text += '"' + name + '"';
    firstForm = false;
    if (end == nullptr) break;
    p = end + 1;
  }
  VxFormulaHandle formula = 0;
  uint16_t formulaLength = 0, errorLine = 0, errorColumn = 0, errorOffset = 0, errorLength = 0;
  VxStatus compileError = 0;
  VxStatus rc = QVD_VxFormulaCompile(nullptr, 0, text.c_str(), static_cast<uint16_t>(text.size()),
                                     &formula, &formulaLength, &compileError, &errorLine,
                                     &errorColumn, &errorOffset, &errorLength);
  QVD_DETAIL("BuildVaxelFormula: VxFormulaCompile rc %d", rc);
  if (rc != 0) {
    QVD_ERROR("BuildVaxelFormula: Could not VxFormulaCompile");
    return 0;
  }
  return formula;
}
