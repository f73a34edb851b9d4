// The add-in statistics builders: the seven MV_ tables cut out of the
// "mvstats." lines of the current snapshot (stats/snapshot.h), one row per
// item (view statistic, replication partner, mail size class, domain,
// originating or destination server).  Each row is added to the answer of
// the request with cp_SetAttributeValues before the next is built.
//
// Names: a driving line "mvstats.<statistic>.<item>.<measure>\t<value>"
// gives the statistic and item names; the companion measures of the same
// item are the values of the lines whose whole name is composed from them
// ("mvstats." statistic "." item ".count" and so on).  A missing companion
// leaves its column absent; a line that does not fit its table's shape is
// skipped.  A match of the measure text that is not in a line beginning with
// "mvstats." ends the walk (the add-in's statistics stand together).
//
// Value slots: after a build the group's slots hold its last row.  Names are
// copied into the builder's own buffers (the snapshot's names stay intact);
// values point into the snapshot (terminated in place, companions
// normalised like every statistic value).  Both stay valid until the next
// snapshot.  Slot 0 is the server name once a row was sent.  A table is
// built at most once per snapshot; a second build from the same snapshot
// sends no rows.
//
// Cost: one pass over the add-in lines per table plus one look-up per
// companion; the index of names is built once per snapshot.
//
// REQUIRES: pMvStats not null (else no row is sent).  Thread-safety: none;
// dispatch thread only.
#ifndef QVD_STATS_ADDIN_TABLES_H_
#define QVD_STATS_ADDIN_TABLES_H_

// True when a "/" occurs in the text from `p` before the first full stop,
// tab, carriage return, line feed, zero byte or the end of the snapshot
// window.  False for a null `p`.
bool isServername(char* p);

// The first occurrence of `pattern` that starts before the line feed ending
// `line`; null when there is none or no line feed comes before a zero byte.
// A null or empty `pattern` yields `line`.
char* str_line(const char* line, const char* pattern);

// MV_View_Performance_Statistics from "mvstats.S.percentunderV\tvalue".
void Parse_MV_View_Performance_Statistics(char* requestHandle);
// MV_Replication_Statistics from "mvstats.S.pulled.documents.transferred.R".
void Parse_MV_Replication_Statistics(char* requestHandle);
// MV_Replication_Delay_Statistics from "mvstats.S.R.minutessince.recv".
void Parse_MV_Replication_Delay_Statistics(char* requestHandle);
// MV_Mail_Size_Statistics from "mvstats.S.{sent,received,outgoing}.M.avg"
// and "mvstats.S.{sent,recv}.avg".
void Parse_MV_Mail_Size_Statistics(char* requestHandle);
// MV_Mail_Domain_Statistics from "mvstats.S.{incoming,outgoing}.D.size"
// (incoming wins when a name holds both words).
void Parse_MV_Mail_Domain_Statistics(char* requestHandle);
// MV_Mail_Incoming_Statistics from "mvstats.S.O.countover".
void Parse_MV_Mail_Incoming_Statistics(char* requestHandle);
// MV_Mail_Outgoing_Statistics from "mvstats.S.Dst.volume".
void Parse_MV_Mail_Outgoing_Statistics(char* requestHandle);

// Runs the builder of add-in group `groupName` for request `requestHandle`;
// false when the name is none of the seven.
bool buildAddInTable(const char* groupName, char* requestHandle);

#endif  // QVD_STATS_ADDIN_TABLES_H_
