// Call wrappers of the Velora server's Orlan C API.
//
// The collector calls the server only through these functions.  QVD_Vx<X>
// takes the parameters of entry point Vx<X> (serverapi/vaxel.h, which states
// each entry point's contract, ownership of what it hands out included),
// calls it with them unchanged and returns its result unchanged: no wrapper
// checks arguments, retries or translates a status.  What a wrapper adds is
// tracing in the unit "serverapi/qvd_api": with flow tracing (0x40) an entry
// event and an exit event (carrying the result when it is a status, count or
// number); with detail tracing (0x01) the line
// "Redirected to call Orlan C API Vx<X>.".
//
// REQUIRES: OrlanAPILoaderFactory reported no load error (start-up checks
// this before the first call).
// Thread-safety: the wrappers keep no state and may be called from any
// thread; initialising the runtime for a worker thread (QVD_VxInitThread
// before its work, QVD_VxTermThread after) is the caller's duty.
#ifndef QVD_SERVERAPI_QVD_API_H_
#define QVD_SERVERAPI_QVD_API_H_

#include "serverapi/vaxel.h"

// Runtime and threads.
VxStatus QVD_VxInitRuntime(int argc, char** argv);
void QVD_VxTermRuntime(void);
VxStatus QVD_VxInitThread(void);
void QVD_VxTermThread(void);
int QVD_VxShouldTerminate(void);

// Statistics and memory.
VxStatus QVD_VxGetServerStats(const char* serverName, const char* facility, const char* statName,
                              VxMemHandle* retBuffer, uint32_t* retLength);
void* QVD_VxLockObject(VxMemHandle handle);
int QVD_VxUnlockObject(VxMemHandle handle);
VxStatus QVD_VxMemFree(VxMemHandle handle);

// Messages, text and settings.
uint16_t QVD_VxLoadString(VxHandle module, VxStatus code, char* buffer, uint16_t size);
uint16_t QVD_VxTranslate(uint16_t mode, const char* in, uint16_t length, char* out,
                         uint16_t outSize);
void QVD_VxGetIntlSettings(VxLocaleFormat* intl, uint16_t size);
VxStatus QVD_VxGetDataDirectory(char* buffer);

// Server names and availability.
VxStatus QVD_VxNameAbbreviate(uint32_t flags, const char* templateName, const char* name, char* out,
                              uint16_t outSize, uint16_t* outLength);
VxStatus QVD_VxNameCanonicalize(uint32_t flags, const char* templateName, const char* name,
                                char* out, uint16_t outSize, uint16_t* outLength);
VxStatus QVD_VxPingServer(const char* serverName, uint32_t* retIndex, VxListHandle* retClusterList);
uint16_t QVD_VxListCount(const void* list, int prefixDataType);
VxStatus QVD_VxListEntryText(const void* list, int prefixDataType, uint16_t index, char** retText,
                             uint16_t* retLength);

// Databases.
VxStatus QVD_VxPathNetConstruct(const char* port, const char* server, const char* file,
                                char* retPath);
VxStatus QVD_VxPathNetParse(const char* path, char* retPort, char* retServer, char* retFile);
VxStatus QVD_VxDbOpen(const char* path, VxDbHandle* retDb);
VxStatus QVD_VxDbOpenExtended(const char* path, uint16_t options, VxHandle namesList,
                              const VxTimeDate* modifiedSince, VxDbHandle* retDb,
                              VxTimeDate* retDataModified, VxTimeDate* retNonDataModified);
VxStatus QVD_VxDbClose(VxDbHandle db);
VxStatus QVD_VxDbPathGet(VxDbHandle db, char* retCanonicalPath, char* retExpandedPath);
VxStatus QVD_VxDbQuotaGet(const char* netPath, VxDbLimits* retQuota);
VxStatus QVD_VxDbSpaceUsage(VxDbHandle db, uint32_t* retAllocatedBytes, uint32_t* retFreeBytes);
VxStatus QVD_VxDbSearch(VxDbHandle db, VxFormulaHandle formula, const char* viewTitle,
                        uint16_t searchFlags, uint16_t noteClassMask, const VxTimeDate* since,
                        VxSearchCallback callback, void* context, VxTimeDate* retUntil);
VxStatus QVD_VxFormulaCompile(const char* name, uint16_t nameLength, const char* text,
                              uint16_t textLength, VxFormulaHandle* retFormula,
                              uint16_t* retFormulaLength, VxStatus* retCompileError,
                              uint16_t* retErrorLine, uint16_t* retErrorColumn,
                              uint16_t* retErrorOffset, uint16_t* retErrorLength);

// Documents and items.
VxStatus QVD_VxDocOpen(VxDbHandle db, uint32_t noteId, uint16_t flags, VxDocHandle* retDoc);
VxStatus QVD_VxDocCreate(VxDbHandle db, VxDocHandle* retDoc);
VxStatus QVD_VxDocUpdate(VxDocHandle doc, uint16_t flags);
VxStatus QVD_VxDocClose(VxDocHandle doc);
uint16_t QVD_VxItemGetText(VxDocHandle doc, const char* itemName, char* buffer,
                           uint16_t bufferLength);
int QVD_VxItemGetTime(VxDocHandle doc, const char* itemName, VxTimeDate* retTime);
VxStatus QVD_VxItemInfo(VxDocHandle doc, const char* itemName, uint16_t nameLength,
                        uint32_t* retItem, uint16_t* retDataType, VxValueRef* retValue,
                        uint32_t* retValueLength);
VxStatus QVD_VxItemScan(VxDocHandle doc, VxItemScanCallback callback, void* context);
uint16_t QVD_VxItemValueToText(uint16_t dataType, VxValueRef value, uint32_t valueLength,
                               char* buffer, uint16_t bufferLength, char separator);
int QVD_VxGetSummaryValue(const void* summary, const char* name, char* buffer,
                          uint16_t bufferLength);
VxStatus QVD_VxItemSetText(VxDocHandle doc, const char* itemName, const char* text,
                           uint16_t textLength);
VxStatus QVD_VxItemSetTime(VxDocHandle doc, const char* itemName, const VxTimeDate* time);

// Views.
VxStatus QVD_VxFindDesignNote(VxDbHandle db, const char* name, uint16_t noteClass,
                              const char* flagPattern, uint32_t* retNoteId, uint32_t options);
VxStatus QVD_VxViewOpen(VxDbHandle viewDb, VxDbHandle dataDb, uint32_t viewNoteId,
                        uint16_t openFlags, VxHandle unreadList, VxCollectionHandle* retCollection,
                        VxDocHandle* retViewNote, unsigned char* retViewUnid,
                        VxHandle* retCollapsedList, VxHandle* retSelectedList);
VxStatus QVD_VxViewReadEntries(VxCollectionHandle collection, uint32_t skipCount,
                               uint32_t returnCount, uint32_t returnMask, VxMemHandle* retBuffer,
                               uint32_t* retBufferLength, uint32_t* retNumberReturned,
                               uint16_t* retSignalFlags);
VxStatus QVD_VxViewClose(VxCollectionHandle collection);

// Directory.
VxStatus QVD_VxDirLookup(const char* server, uint16_t flags, uint16_t nameSpaceCount,
                         const char* nameSpaces, uint16_t nameCount, const char* names,
                         uint16_t itemCount, const char* items, VxMemHandle* retBuffer);
void* QVD_VxDirLocateNextName(void* lookupBuffer, void* prevName, uint16_t* retMatchCount);
void* QVD_VxDirLocateNextMatch(void* lookupBuffer, void* name, void* prevMatch);
VxStatus QVD_VxDirGetTextItem(void* match, uint16_t itemNumber, uint16_t valueNumber, char* buffer,
                              uint16_t bufferSize);

// Time operations.
void QVD_VxCurrentTime(VxTimeDate* retTime);
void QVD_VxSpecialTime(uint16_t kind, VxTimeDate* retTime);
int QVD_VxTimeAdjust(VxTimeDate* time, int seconds, int minutes, int hours, int days, int months,
                     int years);
int QVD_VxTimeCompare(const VxTimeDate* a, const VxTimeDate* b);
long QVD_VxTimeDifference(const VxTimeDate* a, const VxTimeDate* b);
int QVD_VxTimeBreakDown(VxTime* time);
int QVD_VxTimeAssemble(VxTime* time);
VxStatus QVD_VxTextToTime(const VxLocaleFormat* intl, const VxTimeFormat* format, const char* text,
                          uint16_t textLength, VxTimeDate* retTime);
VxStatus QVD_VxTimeToText(const VxLocaleFormat* intl, const VxTimeFormat* format,
                          const VxTimeDate* time, char* buffer, uint16_t bufferSize,
                          uint16_t* retLength);

#endif  // QVD_SERVERAPI_QVD_API_H_
