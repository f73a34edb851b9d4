// Parse_Velora_DB_Whitespace: the rows of the Velora_DB_Whitespace table,
// from the white-space list the database check published.
#ifndef QVD_DBHEALTH_DB_WHITESPACE_TABLE_H_
#define QVD_DBHEALTH_DB_WHITESPACE_TABLE_H_

// Adds one row per published database to data request `id` (8 columns:
// Server_Name, DB_Name, DB_Whitespace, DB_Whitespace_Pct, DB_Size,
// DB_Max_Size, DB_Size_Limit, DB_Warning_Threshold; sizes in KB).  No rows
// before the first publication.  Holds checkDBResultMutex while it reads;
// the caller sends the answer.  Main thread.
void Parse_Velora_DB_Whitespace(const char* id);

#endif  // QVD_DBHEALTH_DB_WHITESPACE_TABLE_H_
