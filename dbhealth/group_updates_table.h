// Parse_Velora_Group_Updates: the rows of the Velora_Group_Updates table.
#ifndef QVD_DBHEALTH_GROUP_UPDATES_TABLE_H_
#define QVD_DBHEALTH_GROUP_UPDATES_TABLE_H_

// Takes a new group snapshot (GroupAnalyzer::checkGroups) and adds one row
// per added or deleted group to data request `id` (3 columns: Server_Name,
// Group_Name, Updates "Add" or "Delete"); no rows when nothing changed or
// the directory cannot be read.  The caller sends the answer.  Main thread.
void Parse_Velora_Group_Updates(const char* id);

#endif  // QVD_DBHEALTH_GROUP_UPDATES_TABLE_H_
