// Process-wide state of the collector that several modules read.
//
// Start-up (core/startup) writes every configuration value and name once,
// before any other thread runs; afterwards they are read-only.  The flags
// at the end are shared between threads and are atomics.
#ifndef QVD_STATE_GLOBALS_H_
#define QVD_STATE_GLOBALS_H_

#include <sys/types.h>

#include <atomic>

#include "serverapi/vaxel.h"

// Configuration texts: the pointers EnvGet returned (not copies), or null.
extern char* server_name;        // QVD_SERVER, replaced by the canonical name
extern char* server_name_abbr;   // the abbreviated server name
extern char* vaxelinipath;       // QVD_VAXELINIPATH
extern char* halcyon_home;       // HALCYONHOME
extern char* binArch;            // QVD_BINARCH
extern char* vaxelloginclude;    // QVD_LOG_INCLUDE
extern char* vaxellogexclude;    // QVD_LOG_EXCLUDE
extern char* instance_name;      // QVD_INSTANCE_NAME
extern int qvd_check_db_interval;  // seconds between database checks; 0: off
extern char* checkDbIncludePath;   // QVD_CHECK_DB_INCLUDE_PATH
extern char* checkDbExcludePath;   // QVD_CHECK_DB_EXCLUDE_PATH
extern char* db_view_config_file;  // QVD_CHECK_DB_VIEW_CONFIG_FILE
extern char* mvPort;               // QVD_MVPORT, as text
extern char* nicHostname;          // QVD_MVHOSTNAME
extern char* port_number;          // CP_PORT, as text

// "%s/%s/vd/bin/qvd_%s_status.out" with home, platform and instance.
extern char statusFileName[1024];

// The server's international settings, fetched once at start-up.
extern VxLocaleFormat intl_format;

// Process id of the add-in event relay; 0 when none runs.
extern long mveventpid;

// Response time in seconds of the most recent ping (of the server or, in a
// cluster, of the last member pinged); written by the availability check
// (its own thread), read by the row builders on the dispatch thread.
extern std::atomic<long> responsetime;

// Set by the intake thread when the agent ends the conversation or the link
// fails; read by the dispatch loop and the background threads.
extern std::atomic<bool> qvdShutdown;
// The last result of QVD_VxShouldTerminate as seen by the dispatch loop.
extern std::atomic<int> addInShutdown;

// The server information block: built once at start-up, read-only after.
struct _ServerInfoBlock {
  char serverNameAbbr[1024];
  char serverNameCanonical[1024];
  char dataDirectory[256];
  char programName[256];
  VxLocaleFormat intlSettings;
  // Further fields that start-up leaves empty or zero; no module reads them.
  char reserved1[256];
  char reserved2[256];
  char reserved3[256];
  char reserved4[256];
  int reservedNumbers[8];
};
static_assert(sizeof(_ServerInfoBlock) == 3756, "the server information block is 3756 bytes");

extern _ServerInfoBlock* GLOBAL_ServerInfoBlock;

#endif  // QVD_STATE_GLOBALS_H_
