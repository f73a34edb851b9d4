#include "dbhealth/group_updates_table.h"

#include "agentlink/cp_client.h"
#include "dbhealth/group_analyzer.h"
#include "framework/trace.h"
#include "state/globals.h"

QVD_TRACE_UNIT("dbhealth/group_table");

void Parse_Velora_Group_Updates(const char* id) {
  QVD_ENTRY();
  GroupUpdateInfoList updates;
  GroupAnalyzer::checkGroups(server_name, &updates);
  QVD_DETAIL("Found %d Velora group updates on server %s.", updates.getCount(), server_name);
  GroupUpdateInfoListIterator it(&updates);
  for (int n = 1; it.hasNext(); ++n) {
    char name[257], update[101];
    it.next()->toString(name, sizeof name, update, sizeof update);
    QVD_DETAIL("Velora group update %d: %s, %s", n, name, update);
    const char* values[3] = {server_name, name, update};
    cp_SetAttributeValues(values, 3, id);
  }
  QVD_EXIT_VOID();
}
