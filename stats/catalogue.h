// The catalogue of the collector's 41 attribute groups (tables).
//
// For every group the catalogue holds, as process-wide globals named after
// the group (for a group G):
//   char        G_Handle[]            the group name text.  Its ADDRESS is the
//                                     group's token: registered with the agent
//                                     link and compared by identity when a
//                                     request comes back.  (void*)G_Handle ==
//                                     (void*)&G_Handle.  Never written.
//   char*       G[G_ColumnCount]      the value slots of the current row
//   const char* G_Keyword[...]        the statistic keyword of each column
//                                     (statistics groups only)
//   const char* const G_Column[...]   the column names
//   constexpr int G_ColumnCount       the number of columns
// and one QvdTableDescriptor pointing at all of them.  Every token is
// distinct (each G_Handle is its own object).
//
// Value slots: slot i points at the text of column i of the row being built
// (into the statistics snapshot or into a builder-owned buffer), or is null
// (an absent value).  Slot 0 receives the server name; clearSnapshotSlots()
// nulls slot 0 of every group answered from the snapshot, which marks the
// group as "not yet answered from this snapshot" (fresh).
//
// Keywords: column 0 holds the group's section keyword; the other columns a
// lower-case statistic name ending with a tab.  Multi-row groups use empty
// keywords for columns whose values are cut out of a line.  Groups without
// keywords have a null keyword array.
//
// Thread-safety: the catalogue is data.  Keywords are replaced only by
// loadTables() (stats/keyword_file.h) during start-up, before any other
// thread runs; afterwards they, the names and the descriptors are read-only
// and may be read from any thread.  Value slots are used by the dispatch
// loop (main thread) only; the exception is MV_Server, whose slots belong to
// the add-in event thread alone.
#ifndef QVD_STATS_CATALOGUE_H_
#define QVD_STATS_CATALOGUE_H_

// Every group as X(name, column count), in registration order.
#define QVD_TABLE_GROUPS(X)                  \
  X(MV_View_Performance_Statistics, 7)       \
  X(MV_Replication_Statistics, 12)           \
  X(MV_Replication_Delay_Statistics, 5)      \
  X(MV_Mail_Size_Statistics, 6)              \
  X(MV_Mail_Domain_Statistics, 5)            \
  X(MV_Mail_Incoming_Statistics, 7)          \
  X(MV_Mail_Outgoing_Statistics, 5)          \
  X(MV_Server, 4)                            \
  X(Velora_Calendar, 7)                      \
  X(Velora_Calendar64, 7)                    \
  X(Velora_LDAP, 17)                         \
  X(Velora_LDAP64, 17)                       \
  X(Velora_MAIL, 23)                         \
  X(Velora_MAIL64, 25)                       \
  X(Velora_NET_TCPIP, 6)                     \
  X(Velora_NET_TCPIP64, 8)                   \
  X(Velora_Replica_Cluster, 15)              \
  X(Velora_Replica_Cluster64, 15)            \
  X(Velora_Web_Retriever, 35)                \
  X(Velora_Command, 22)                      \
  X(Velora_Server, 14)                       \
  X(Velora_Server64, 16)                     \
  X(Velora_Server_Cluster, 14)               \
  X(Velora_ICM, 33)                          \
  X(Velora_ICM64, 33)                        \
  X(Velora_Database, 19)                     \
  X(Velora_Database64, 19)                   \
  X(Velora_Mail_By_Dest, 6)                  \
  X(Velora_Mail_By_Dest64, 6)                \
  X(Velora_SMTP, 7)                          \
  X(Velora_SMTP64, 9)                        \
  X(Velora_IMAP, 10)                         \
  X(Velora_IMAP64, 10)                       \
  X(Velora_Agent, 5)                         \
  X(Velora_Replica, 6)                       \
  X(Velora_Replica64, 6)                     \
  X(Velora_Replication, 9)                   \
  X(Velora_Tasks, 4)                         \
  X(Velora_Corrupt_Failover_DB, 7)           \
  X(Velora_DB_Whitespace, 8)                 \
  X(Velora_Group_Updates, 3)

#define QVD_DECLARE_GROUP(name, count)     \
  constexpr int name##_ColumnCount = count; \
  extern char name##_Handle[];              \
  extern char* name[count];                 \
  extern const char* name##_Keyword[count]; \
  extern const char* const name##_Column[count];
QVD_TABLE_GROUPS(QVD_DECLARE_GROUP)
#undef QVD_DECLARE_GROUP

// When start-up registers a group.
enum QvdRegisterCondition {
  QVD_REGISTER_ALWAYS = 0,
  QVD_REGISTER_IF_LOG_VDB_MONITOR,  // isLogVdbMonitorEnabled()
  QVD_REGISTER_IF_CHECK_DB,         // qvd_check_db_interval != 0
  QVD_REGISTER_IF_GROUP_MONITOR,    // isVeloraGroupMonitorEnabled()
};

// Which code builds a group's rows.
enum QvdTableKind {
  QVD_TABLE_SINGLE_ROW = 0,  // one row cut out of the statistics text
  QVD_TABLE_MULTI_ROW,       // Velora_Mail_By_Dest(64), Velora_Tasks
  QVD_TABLE_ADDIN,           // the seven MV_ statistics groups
  QVD_TABLE_EVENT,           // MV_Server: event rows only
  QVD_TABLE_OTHER,           // built by replication, database or group work
};

struct QvdTableDescriptor {
  const char* groupName;  // == handle; compared case-sensitively
  char* handle;           // G_Handle: the group's token (see tableToken)
  int version;            // registration version: 2 for Velora_Tasks, else 1
  int columnCount;
  char** values;           // G: columnCount value slots
  const char** keywords;   // G_Keyword, or null for groups without keywords
  const char* const* columns;  // G_Column
  QvdTableKind kind;
  QvdRegisterCondition condition;
  char registerSeparator;  // '=' or ':' in "cp_RegisterAttrGroup: handle%c%s failed: %d"
  bool overridable;        // keywords replaceable by the override file
  bool clearedOnSnapshot;  // slot 0 cleared by clearSnapshotSlots()
};

constexpr int kQvdTableCount = 41;

// All descriptors, in registration order.
extern const QvdTableDescriptor qvdTableCatalogue[kQvdTableCount];

// The token registered for the group: the address of its G_Handle.
inline void* tableToken(const QvdTableDescriptor* table) { return table->handle; }

// Returns the group named `groupName` (exact, case-sensitive), or null.
const QvdTableDescriptor* findTableDescriptor(const char* groupName);

// Returns the group whose token is `token` (identity, not text), or null.
const QvdTableDescriptor* findTableDescriptorByToken(const void* token);

// Nulls value slot 0 of the 37 groups answered from the statistics snapshot
// (every group but MV_Server, Velora_Corrupt_Failover_DB,
// Velora_DB_Whitespace and Velora_Group_Updates).  Called on every new
// snapshot, on the main thread.
void clearSnapshotSlots();

#endif  // QVD_STATS_CATALOGUE_H_
