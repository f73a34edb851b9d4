// The Orlan API of the Velora server (libvaxel) as the collector uses it.
//
// The collector never calls these entry points directly: every call goes
// through its QVD_ wrapper (serverapi/qvd_api.h).  A VxStatus of 0 is success;
// status & 0x3FFF selects the message text VxLoadString returns.
//
// Handles are 16 bits wide and 0 is never a valid handle.  Memory handles
// (statistics text, cluster lists, directory lookup buffers, view entry
// buffers, compiled formulas) belong to the caller once an entry point hands
// them out and are released with VxMemFree; database handles with VxDbClose,
// document handles with VxDocClose, collection handles with VxViewClose.
//
// Unless stated otherwise an output pointer may be null when the caller does
// not want that output, and text buffers named "path" hold VX_MAXPATH bytes.
// Every entry point may be called from any thread that has initialised the
// runtime (VxInitRuntime in the process, VxInitThread in worker threads).
#ifndef QVD_SERVERAPI_VAXEL_H_
#define QVD_SERVERAPI_VAXEL_H_

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef uint16_t VxStatus;
typedef uint16_t VxHandle;  // every server handle is 16 bits wide
typedef VxHandle VxMemHandle;
typedef VxHandle VxDbHandle;
typedef VxHandle VxDocHandle;
typedef VxHandle VxListHandle;        // a memory handle holding a text list
typedef VxHandle VxCollectionHandle;  // an open view collection
typedef VxHandle VxFormulaHandle;     // a memory handle holding a formula

#define VX_MAXPATH 256  // bytes of every path and server-name buffer

// ---------------------------------------------------------------------------
// Status codes the collector tests for or that the server commonly returns.
// ---------------------------------------------------------------------------
#define VX_NOERROR 0
#define VX_ERR_NOT_VDB 513               // file is not a database
#define VX_ERR_VDB_VERSION 537           // database file version not supported
#define VX_ERR_ITEM_NOT_FOUND 546        // document has no item of that name
#define VX_ERR_INVALID_NOTE 551          // document id does not name a document
#define VX_ERR_NOT_MODIFIED 572          // database not modified since the given time
#define VX_ERR_NOACCESS 582              // operation not authorized
#define VX_ERR_OPEN_FILE 587             // access to the file not authorized
#define VX_ERR_LOCAL_ACCESS 760          // database protected against local access
#define VX_ERR_COLLECTION_NOT_CREATED 779  // view collection has not been built
#define VX_ERR_NO_MORE_ENTRIES 1028      // directory holds no connection entries
#define VX_ERR_SERVER_ACCESS_DENIED 0x09DE  // ping: reachable, access refused
#define VX_ERR_SERVER_BUSY 0x09FC           // ping: reachable, too busy to serve
#define VX_ERR_SERVER_NOT_RESPONDING 0x0A06 // ping: server did not answer
#define VX_ERR_SERVER_UNKNOWN 0x0A07        // no server of that name
#define VX_ERR_FILE_NOT_FOUND 0x0103     // file or directory does not exist
#define VX_ERR_NO_MEMORY 0x0107          // out of memory
#define VX_ERR_INVALID_HANDLE 0x0115     // handle unknown or of the wrong kind
#define VX_ERR_BAD_PARAM 0x0118          // an argument is absent or out of range
#define VX_ERR_BUFFER_TOO_SMALL 0x0119   // result does not fit the buffer
#define VX_ERR_TIME_CONVERSION 0x0185    // text is not a date and time
#define VX_ERR_TIME_RANGE 0x0186         // time is out of range or a wildcard
#define VX_ERR_NAME_INVALID 0x0190       // server name cannot be converted
#define VX_ERR_NOT_INITIALIZED 0x0195    // runtime not initialised
#define VX_ERR_NOT_MODELLED 0x0FFE       // simulated server: feature not described

// ---------------------------------------------------------------------------
// Time.
// ---------------------------------------------------------------------------

// An opaque point in time, 8 bytes.
typedef struct VxTimeDate {
  uint32_t Innards[2];
} VxTimeDate;

// A time broken down into local calendar fields (VxTimeBreakDown) or to be
// assembled from them (VxTimeAssemble).
typedef struct VxTime {
  int32_t year;     // e.g. 2026
  int32_t month;    // 1..12
  int32_t day;      // 1..31
  int32_t weekday;  // 1 = Sunday, 2 = Monday, ... 7 = Saturday
  int32_t hour;     // 0..23
  int32_t minute;   // 0..59
  int32_t second;   // 0..59
  int32_t hundredth;  // 0..99
  int32_t dst;      // 1 when daylight saving time applies
  int32_t zone;     // offset west of UTC in hours (local zone)
  VxTimeDate GM;    // the point in time
} VxTime;

// Kinds of VxSpecialTime.
#define VX_TIME_MINIMUM 0
#define VX_TIME_MAXIMUM 1
#define VX_TIME_WILDCARD 2  // VxTimeCompare reports it equal to any time

// How VxTimeToText and VxTextToTime format; null means the default form,
// date and time ("12/06/2026 10:00:00 AM" in month-first order).
#define VX_TFMT_DATE_TIME 0
#define VX_TFMT_DATE_ONLY 1
#define VX_TFMT_TIME_ONLY 2
typedef struct VxTimeFormat {
  uint8_t Structure;  // VX_TFMT_*
  uint8_t Reserved[3];
} VxTimeFormat;

// ---------------------------------------------------------------------------
// International settings.
// ---------------------------------------------------------------------------

// Date-order flags in VxLocaleFormat.Flags.
#define VX_INTL_DATE_DMY 0x0040
#define VX_INTL_DATE_YMD 0x0080

// The server's international settings record: 140 bytes.  The first 16-bit
// word holds flags (VX_INTL_DATE_DMY, VX_INTL_DATE_YMD; neither: month first),
// the thousands separator text starts at byte 23 and the decimal separator
// text at byte 28.
typedef struct VxLocaleFormat {
  uint16_t Flags;                 // byte 0
  unsigned char Reserved1[21];    // bytes 2..22
  char ThousandString[5];         // byte 23
  char DecimalString[5];          // byte 28
  char DateString[5];             // byte 33: date separator
  char TimeString[5];             // byte 38: time separator
  unsigned char Reserved2[97];    // bytes 43..139
} VxLocaleFormat;

// ---------------------------------------------------------------------------
// Items, searches, views and directory records.
// ---------------------------------------------------------------------------

// Data types: the first 16-bit word of every item value.
#define VX_TYPE_NUMBER 768        // followed by an 8-byte double
#define VX_TYPE_NUMBER_RANGE 769
#define VX_TYPE_TIME 1024         // followed by a VxTimeDate
#define VX_TYPE_TIME_RANGE 1025
#define VX_TYPE_TEXT 1280         // followed by the text, not terminated
#define VX_TYPE_TEXT_LIST 1281    // followed by a text list (see VxListCount)

// Note classes.
#define VX_NOTE_CLASS_DOCUMENT 0x0001
#define VX_NOTE_CLASS_VIEW 0x0008

// VxDbOpenExtended options the collector uses.
#define VX_DBOPEN_REPAIR 0x0009            // fix up a damaged database while opening
#define VX_DBOPEN_CLUSTER_FAILOVER 0x0080  // open a cluster replica if this one fails
#define VX_DBOPEN_MODIFIED_SINCE 0x0200    // fail with VX_ERR_NOT_MODIFIED when unchanged

// VxDbSearch flags and file-type masks.
#define VX_SEARCH_SUMMARY 0x0002   // hand the summary item table to the callback
#define VX_SEARCH_FILETYPE 0x0004  // search the files of a directory
#define VX_FILE_DATABASES 0x0004   // file-type mask: databases
#define VX_FILE_RECURSE 0x2000     // file-type mask: include subdirectories
#define VX_FILE_DIRS 0x4000        // file-type mask: directories

// One match of VxDbSearch, 56 bytes.  Only NoteId (byte 16) and Flags
// (byte 50) carry meaning for the collector.
#define VX_SE_FMATCH 0x01  // Flags: the document matches the formula
typedef struct VxSearchMatch {
  unsigned char OriginatorId[16];  // bytes 0..15
  uint32_t NoteId;                 // byte 16
  uint16_t NoteClass;              // byte 20
  unsigned char Reserved1[28];     // bytes 22..49
  unsigned char Flags;             // byte 50
  unsigned char Reserved2[5];      // bytes 51..55
} VxSearchMatch;

// Called once per match.  `summary` is the summary item table: a 16-bit total
// length, a 16-bit item count, per item a 16-bit name length and a 16-bit
// value length, then per item its name bytes followed by its value bytes
// (each value starting with its 16-bit data type).  Both pointers are valid
// only during the call.  A non-zero result stops the search, and VxDbSearch
// returns it.
typedef VxStatus (*VxSearchCallback)(void* context, const VxSearchMatch* match,
                                     const void* summary);

// Called once per item of a document by VxItemScan.  `value` starts with the
// item's 16-bit data type and may be changed in place by the callback; both
// pointers are valid only during the call.  A non-zero result stops the scan.
typedef VxStatus (*VxItemScanCallback)(uint16_t spare, uint16_t itemFlags,
                                       const char* name, uint16_t nameLength,
                                       void* value, uint32_t valueLength,
                                       void* context);

// Where an item value lies: `Value` points at the value (its 16-bit data
// type first) and stays valid until the document is closed or the item is
// changed.
typedef struct VxValueRef {
  void* Value;
  uint32_t Length;
} VxValueRef;

// Database quota as VxDbQuotaGet reports it, in KB.  MaxSize 0xFFFFFFFF
// means no maximum.
typedef struct VxDbLimits {
  uint32_t WarningThreshold;
  uint32_t SizeLimit;
  uint32_t CurrentSize;
  uint32_t MaxSize;
} VxDbLimits;

// VxViewReadEntries masks and signal flags.
#define VX_READ_MASK_NOTEID 0x00000001  // the buffer holds one uint32_t id per entry
#define VX_SIGNAL_MORE_TO_DO 0x0020     // more entries remain after this read

// ---------------------------------------------------------------------------
// Runtime and threads.
// ---------------------------------------------------------------------------

// Initialises the runtime for the process.  Call once, before any other
// entry point, with main's arguments.  0 on success.
VxStatus VxInitRuntime(int argc, char** argv);
// Ends the runtime of the process.
void VxTermRuntime(void);
// Initialises the runtime for the calling worker thread.  0 on success.
VxStatus VxInitThread(void);
// Ends the runtime for the calling worker thread.
void VxTermThread(void);
// Non-zero when the server asks its programs to end.
int VxShouldTerminate(void);

// ---------------------------------------------------------------------------
// Statistics and memory.
// ---------------------------------------------------------------------------

// Fetches the statistics text of `serverName` (null facility and name: all
// statistics) as one memory block of *retLength bytes, one statistic a line:
// name, tab, value, line end; not terminated.  The caller owns *retBuffer
// (VxMemFree).  On failure *retBuffer is 0.
VxStatus VxGetServerStats(const char* serverName, const char* facility, const char* statName,
                          VxMemHandle* retBuffer, uint32_t* retLength);

// Returns the address of the block of a memory handle, or null for an
// unknown handle.  Locks nest; the address stays valid until the handle is
// freed.
void* VxLockObject(VxMemHandle handle);
// Undoes one VxLockObject.  Returns 1 while other locks remain, else 0.
int VxUnlockObject(VxMemHandle handle);
// Releases a memory handle (locked or not).  0, or VX_ERR_INVALID_HANDLE.
VxStatus VxMemFree(VxMemHandle handle);

// ---------------------------------------------------------------------------
// Messages, text and settings.
// ---------------------------------------------------------------------------

// Copies the message text of `code` (a status AND 0x3FFF) into `buffer`,
// at most size - 1 bytes and a terminator.  Returns the text length; an
// unknown code gives a generic text naming the number.
uint16_t VxLoadString(VxHandle module, VxStatus code, char* buffer, uint16_t size);

// Converts `length` bytes of text between the host's character set (mode 0:
// host to server) and the server's (mode 1: server to host) into `out`, at
// most outSize bytes, not terminated.  At most 16384 input bytes per call.
// Returns the output length.
uint16_t VxTranslate(uint16_t mode, const char* in, uint16_t length, char* out, uint16_t outSize);

// Copies at most `size` bytes (sizeof(VxLocaleFormat)) of the server's
// international settings into `intl`.
void VxGetIntlSettings(VxLocaleFormat* intl, uint16_t size);

// Writes the server's data directory, terminated, into `buffer`.
// REQUIRES: buffer holds VX_MAXPATH bytes.
VxStatus VxGetDataDirectory(char* buffer);

// ---------------------------------------------------------------------------
// Server names and availability.
// ---------------------------------------------------------------------------

// CN=srv1/OU=sales/O=acme -> srv1/sales/acme.  `flags` 0 and `templateName`
// null.  The result is terminated and *outLength is its length;
// VX_ERR_BUFFER_TOO_SMALL when it does not fit outSize bytes.
VxStatus VxNameAbbreviate(uint32_t flags, const char* templateName, const char* name,
                          char* out, uint16_t outSize, uint16_t* outLength);
// srv1/sales/acme -> CN=srv1/OU=sales/O=acme; the same contract.
VxStatus VxNameCanonicalize(uint32_t flags, const char* templateName, const char* name,
                            char* out, uint16_t outSize, uint16_t* outLength);

// Pings `serverName`.  When retClusterList is given and the server is a
// cluster member, *retClusterList receives a text list (a memory handle the
// caller frees): entry 0 the cluster name, then the member names; else 0.
VxStatus VxPingServer(const char* serverName, uint32_t* retIndex, VxListHandle* retClusterList);

// A text list in memory: (with prefixDataType non-zero, first a 16-bit data
// type,) a 16-bit entry count, one 16-bit length per entry, then the
// entries' bytes one after another, not terminated.  `list` is the locked
// address of a list handle, or an item value.
uint16_t VxListCount(const void* list, int prefixDataType);
// Points *retText at entry `index` (not terminated) and sets *retLength.
// VX_ERR_BAD_PARAM for an index beyond the list.
VxStatus VxListEntryText(const void* list, int prefixDataType, uint16_t index, char** retText,
                         uint16_t* retLength);

// ---------------------------------------------------------------------------
// Databases.
// ---------------------------------------------------------------------------

// Builds the network path "server!!file" (port null) into retPath
// (VX_MAXPATH bytes).
VxStatus VxPathNetConstruct(const char* port, const char* server, const char* file,
                            char* retPath);
// Splits a network path into port, server and file (each VX_MAXPATH bytes;
// any may be null).  A path without "!!" is a local file.
VxStatus VxPathNetParse(const char* path, char* retPort, char* retServer, char* retFile);

// Opens a database or a directory (for VxDbSearch over files).
VxStatus VxDbOpen(const char* path, VxDbHandle* retDb);
// Opens with VX_DBOPEN_* options.  With VX_DBOPEN_MODIFIED_SINCE and
// modifiedSince, fails with VX_ERR_NOT_MODIFIED when the database has not
// changed since then.  retDataModified / retNonDataModified receive the last
// change times.
VxStatus VxDbOpenExtended(const char* path, uint16_t options, VxHandle namesList,
                          const VxTimeDate* modifiedSince, VxDbHandle* retDb,
                          VxTimeDate* retDataModified, VxTimeDate* retNonDataModified);
VxStatus VxDbClose(VxDbHandle db);
// The canonical network path of an open database (which may be a cluster
// replica after a failover open) and its expanded local path.
VxStatus VxDbPathGet(VxDbHandle db, char* retCanonicalPath, char* retExpandedPath);
// Quota of the database named by a network path.
VxStatus VxDbQuotaGet(const char* netPath, VxDbLimits* retQuota);
// Allocated and free bytes of an open database.
VxStatus VxDbSpaceUsage(VxDbHandle db, uint32_t* retAllocatedBytes, uint32_t* retFreeBytes);

// Runs `callback` once per document (or, with VX_SEARCH_FILETYPE, once per
// file of a directory) of class `noteClassMask` changed since `since` (null:
// all) and selected by `formula` (0: all).  viewTitle is null.
// retUntil receives the time the search ran.  The first non-zero result of
// the callback stops the search and is returned.
VxStatus VxDbSearch(VxDbHandle db, VxFormulaHandle formula, const char* viewTitle,
                    uint16_t searchFlags, uint16_t noteClassMask, const VxTimeDate* since,
                    VxSearchCallback callback, void* context, VxTimeDate* retUntil);
// Compiles a selection formula (e.g. SELECT FORM = "Events":"Replication")
// into *retFormula, a memory handle the caller frees with VxMemFree.  On a
// syntax error the status is VX_ERR_BAD_PARAM and the error outputs say where.
VxStatus VxFormulaCompile(const char* name, uint16_t nameLength, const char* text,
                          uint16_t textLength, VxFormulaHandle* retFormula,
                          uint16_t* retFormulaLength, VxStatus* retCompileError,
                          uint16_t* retErrorLine, uint16_t* retErrorColumn,
                          uint16_t* retErrorOffset, uint16_t* retErrorLength);

// ---------------------------------------------------------------------------
// Documents and items.
// ---------------------------------------------------------------------------

VxStatus VxDocOpen(VxDbHandle db, uint32_t noteId, uint16_t flags, VxDocHandle* retDoc);
VxStatus VxDocCreate(VxDbHandle db, VxDocHandle* retDoc);
// Saves the document into its database.
VxStatus VxDocUpdate(VxDocHandle doc, uint16_t flags);
VxStatus VxDocClose(VxDocHandle doc);

// Copies a text item, terminated, at most bufferLength - 1 bytes.  Returns
// the length; 0 when the item is absent or not text.
uint16_t VxItemGetText(VxDocHandle doc, const char* itemName, char* buffer,
                       uint16_t bufferLength);
// Reads a time item.  Returns 1 when found, else 0.
int VxItemGetTime(VxDocHandle doc, const char* itemName, VxTimeDate* retTime);
// Finds an item (nameLength bytes of itemName): its data type, where its
// value lies and the value's length (the data type included).
// VX_ERR_ITEM_NOT_FOUND when absent.  retItem is reserved and set to 0.
VxStatus VxItemInfo(VxDocHandle doc, const char* itemName, uint16_t nameLength,
                    uint32_t* retItem, uint16_t* retDataType, VxValueRef* retValue,
                    uint32_t* retValueLength);
// Calls `callback` once per item of the document, in order.
VxStatus VxItemScan(VxDocHandle doc, VxItemScanCallback callback, void* context);
// Renders a value (as VxItemInfo located it) as text, list entries joined
// by `separator`; terminated, at most bufferLength - 1 bytes.  Returns the
// length.
uint16_t VxItemValueToText(uint16_t dataType, VxValueRef value, uint32_t valueLength,
                           char* buffer, uint16_t bufferLength, char separator);
// Finds item `name` in a summary item table (see VxSearchCallback) and
// renders it as text into buffer.  Returns 1 when found, else 0.
int VxGetSummaryValue(const void* summary, const char* name, char* buffer,
                      uint16_t bufferLength);
// Sets a text item; textLength 65535 means the whole terminated text.
VxStatus VxItemSetText(VxDocHandle doc, const char* itemName, const char* text,
                       uint16_t textLength);
VxStatus VxItemSetTime(VxDocHandle doc, const char* itemName, const VxTimeDate* time);

// ---------------------------------------------------------------------------
// Views.
// ---------------------------------------------------------------------------

// Finds a design note by name (e.g. a view, class VX_NOTE_CLASS_VIEW).
// flagPattern restricts the design flags ("-G40n" for views).
VxStatus VxFindDesignNote(VxDbHandle db, const char* name, uint16_t noteClass,
                          const char* flagPattern, uint32_t* retNoteId, uint32_t options);
// Opens the collection of a view.  With openFlags 4 a collection that has
// never been built is not built: VX_ERR_COLLECTION_NOT_CREATED.
// retViewUnid, when given, receives 16 bytes.
VxStatus VxViewOpen(VxDbHandle viewDb, VxDbHandle dataDb, uint32_t viewNoteId,
                    uint16_t openFlags, VxHandle unreadList, VxCollectionHandle* retCollection,
                    VxDocHandle* retViewNote, unsigned char* retViewUnid,
                    VxHandle* retCollapsedList, VxHandle* retSelectedList);
// Reads entries of a collection.  Counting starts before the first entry:
// skipCount 1 lands on the first entry, which is the first returned.  With
// VX_READ_MASK_NOTEID *retBuffer (a memory handle, 0 when nothing was
// returned) holds one uint32_t document id per entry.
VxStatus VxViewReadEntries(VxCollectionHandle collection, uint32_t skipCount,
                           uint32_t returnCount, uint32_t returnMask, VxMemHandle* retBuffer,
                           uint32_t* retBufferLength, uint32_t* retNumberReturned,
                           uint16_t* retSignalFlags);
VxStatus VxViewClose(VxCollectionHandle collection);

// ---------------------------------------------------------------------------
// Directory.
// ---------------------------------------------------------------------------

// Looks names up in the directory of `server`.  nameSpaces, names and items
// are packed texts, each terminated ("$PeopleGroupsFlat\0"); the empty name
// matches every entry.  *retBuffer is a memory handle to walk with the
// VxDirLocate* functions after VxLockObject.
VxStatus VxDirLookup(const char* server, uint16_t flags, uint16_t nameSpaceCount,
                     const char* nameSpaces, uint16_t nameCount, const char* names,
                     uint16_t itemCount, const char* items, VxMemHandle* retBuffer);
// The name record after `prevName` (null: the first) of a locked lookup
// buffer, with its number of matches; null when none is left.
void* VxDirLocateNextName(void* lookupBuffer, void* prevName, uint16_t* retMatchCount);
// The match after `prevMatch` (null: the first) of a name record; null when
// none is left.
void* VxDirLocateNextMatch(void* lookupBuffer, void* name, void* prevMatch);
// Copies value `valueNumber` of item `itemNumber` of a match as terminated
// text, at most bufferSize - 1 bytes.
VxStatus VxDirGetTextItem(void* match, uint16_t itemNumber, uint16_t valueNumber, char* buffer,
                          uint16_t bufferSize);

// ---------------------------------------------------------------------------
// Time operations.
// ---------------------------------------------------------------------------

void VxCurrentTime(VxTimeDate* retTime);
// A constant time: VX_TIME_MINIMUM, VX_TIME_MAXIMUM or VX_TIME_WILDCARD.
void VxSpecialTime(uint16_t kind, VxTimeDate* retTime);
// Moves `time` by the given amounts (local calendar arithmetic).  0 on
// success; non-zero for a wildcard or when the result is out of range.
int VxTimeAdjust(VxTimeDate* time, int seconds, int minutes, int hours, int days, int months,
                 int years);
// -1, 0 or 1 for the sign of a minus b; a wildcard equals any time.
int VxTimeCompare(const VxTimeDate* a, const VxTimeDate* b);
// a minus b in seconds.
long VxTimeDifference(const VxTimeDate* a, const VxTimeDate* b);
// Fills the local calendar fields of `time` from time->GM.  0 on success.
int VxTimeBreakDown(VxTime* time);
// Sets time->GM from the local calendar fields (year..hundredth; weekday,
// dst and zone are ignored).  0 on success, non-zero for invalid fields.
int VxTimeAssemble(VxTime* time);
// Reads a date and time from at most textLength bytes of `text` (stops at a
// terminator) in the server's form, the date fields in the order of intl's
// flags (intl null: the server's settings).
VxStatus VxTextToTime(const VxLocaleFormat* intl, const VxTimeFormat* format, const char* text,
                      uint16_t textLength, VxTimeDate* retTime);
// Writes a time in the server's form, terminated, e.g. "12/06/2026 10:00:00 AM";
// 80 bytes always suffice.
VxStatus VxTimeToText(const VxLocaleFormat* intl, const VxTimeFormat* format,
                      const VxTimeDate* time, char* buffer, uint16_t bufferSize,
                      uint16_t* retLength);

#ifdef __cplusplus
}  // extern "C"
static_assert(sizeof(VxLocaleFormat) == 140, "international settings record is 140 bytes");
static_assert(sizeof(VxSearchMatch) == 56, "search match record is 56 bytes");
static_assert(sizeof(VxTimeDate) == 8, "a time is 8 bytes");
#endif

#endif  // QVD_SERVERAPI_VAXEL_H_
