// The single-row statistics builder: cuts the one row of a statistics group
// out of the current snapshot (stats/snapshot.h) and adds it to the answer of
// a data request.
//
// Value slots: the builder fills the group's slots with pointers into the
// snapshot (values are terminated and normalised in place) or into
// per-group buffers of its own for computed columns; both stay valid until
// the next snapshot.  Slot 0 is set to server_name only when a row is sent,
// which marks the group as answered from this snapshot.
//
// Thread-safety: none; dispatch thread only.
#ifndef QVD_STATS_ROW_BUILDER_H_
#define QVD_STATS_ROW_BUILDER_H_

#include <stdint.h>

#include "stats/stat_text.h"

// Kilobytes received and sent at the previous build of Velora_NET_TCPIP64
// and of Velora_SMTP64; 0 at start.  Written by storeKilobyteCounters.
// 64 bits wide: byte counters of a long-running server pass 2 TB, where a
// 32-bit kilobyte count would wrap.
extern int64_t prevTCPIPKBRec;
extern int64_t prevTCPIPKBSent;
extern int64_t prevSMTPKBRec;
extern int64_t prevSMTPKBSent;

// Builds the row of group `groupName` from `count` value slots, keywords
// and column names, and adds it to the answer of request `requestHandle`
// with cp_SetAttributeValues.
//   - No snapshot: a row with only the server name (slots 1.. null).
//   - Section keyword (keywords[0]) absent, or none of the statistics found:
//     no row; slot 0 stays as it was (a later request tries again).
// Slots 1.. are cleared first, so they never point into an older snapshot.
//   - Otherwise every column i >= 1 is the value of the first keywords[i]
//     after the section keyword; slot 0 is the server name; the computed
//     columns of Velora_Server64 (Response_Time), Velora_NET_TCPIP64 and
//     Velora_SMTP64 (kilobyte intervals) are filled.
void Parse_Velora_Data(const char* requestHandle, const char* groupName, char** values,
                       int count, const char* const* keywords, const char* const* columns);

// After Velora_NET_TCPIP64 or Velora_SMTP64 was built (other groups: no
// effect), keeps the kilobytes of its received and sent byte columns
// (`values` 4 and 5, when present) as the previous counters of the next
// interval.
void storeKilobyteCounters(const char* groupName, char* const* values);

// With detail tracing: "Data results for <group>: " and one line per column
// ("%s[%d]=%s %s" with a keyword array, "%s[%d]=%s " without); absent values
// print as NULL.  Nothing for a null value array.
void logResults(char* const* values, const char* const* columns, const char* const* keywords,
                int count, const char* groupName);

#endif  // QVD_STATS_ROW_BUILDER_H_
