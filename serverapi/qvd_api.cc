// The QVD_ wrappers: trace, then pass the call through unchanged.
#include "serverapi/qvd_api.h"

#include "framework/trace.h"

QVD_TRACE_UNIT("serverapi/qvd_api");

// Runtime and threads.

VxStatus QVD_VxInitRuntime(int argc, char** argv) {
  QVD_ENTRY();
  QVD_DETAIL("Redirected to call Orlan C API %s.", "VxInitRuntime");
  VxStatus result = VxInitRuntime(argc, argv);
  QVD_EXIT(result);
  return result;
}

void QVD_VxTermRuntime(void) {
  QVD_ENTRY();
  QVD_DETAIL("Redirected to call Orlan C API %s.", "VxTermRuntime");
  VxTermRuntime();
  QVD_EXIT_VOID();
}

VxStatus QVD_VxInitThread(void) {
  QVD_ENTRY();
  QVD_DETAIL("Redirected to call Orlan C API %s.", "VxInitThread");
  VxStatus result = VxInitThread();
  QVD_EXIT(result);
  return result;
}

void QVD_VxTermThread(void) {
  QVD_ENTRY();
  QVD_DETAIL("Redirected to call Orlan C API %s.", "VxTermThread");
  VxTermThread();
  QVD_EXIT_VOID();
}

int QVD_VxShouldTerminate(void) {
  QVD_ENTRY();
  QVD_DETAIL("Redirected to call Orlan C API %s.", "VxShouldTerminate");
  int result = VxShouldTerminate();
  QVD_EXIT(result);
  return result;
}

// Statistics and memory.

VxStatus QVD_VxGetServerStats(const char* serverName, const char* facility, const char* statName,
                              VxMemHandle* retBuffer, uint32_t* retLength) {
  QVD_ENTRY();
  QVD_DETAIL("Redirected to call Orlan C API %s.", "VxGetServerStats");
  VxStatus result = VxGetServerStats(serverName, facility, statName, retBuffer, retLength);
  QVD_EXIT(result);
  return result;
}

void* QVD_VxLockObject(VxMemHandle handle) {
  QVD_ENTRY();
  QVD_DETAIL("Redirected to call Orlan C API %s.", "VxLockObject");
  void* result = VxLockObject(handle);
  QVD_EXIT_VOID();
  return result;
}

int QVD_VxUnlockObject(VxMemHandle handle) {
  QVD_ENTRY();
  QVD_DETAIL("Redirected to call Orlan C API %s.", "VxUnlockObject");
  int result = VxUnlockObject(handle);
  QVD_EXIT(result);
  return result;
}

VxStatus QVD_VxMemFree(VxMemHandle handle) {
  QVD_ENTRY();
  QVD_DETAIL("Redirected to call Orlan C API %s.", "VxMemFree");
  VxStatus result = VxMemFree(handle);
  QVD_EXIT(result);
  return result;
}

// Messages, text and settings.

uint16_t QVD_VxLoadString(VxHandle module, VxStatus code, char* buffer, uint16_t size) {
  QVD_ENTRY();
  QVD_DETAIL("Redirected to call Orlan C API %s.", "VxLoadString");
  uint16_t result = VxLoadString(module, code, buffer, size);
  QVD_EXIT(result);
  return result;
}

uint16_t QVD_VxTranslate(uint16_t mode, const char* in, uint16_t length, char* out,
                         uint16_t outSize) {
  QVD_ENTRY();
  QVD_DETAIL("Redirected to call Orlan C API %s.", "VxTranslate");
  uint16_t result = VxTranslate(mode, in, length, out, outSize);
  QVD_EXIT(result);
  return result;
}

void QVD_VxGetIntlSettings(VxLocaleFormat* intl, uint16_t size) {
  QVD_ENTRY();
  QVD_DETAIL("Redirected to call Orlan C API %s.", "VxGetIntlSettings");
  VxGetIntlSettings(intl, size);
  QVD_EXIT_VOID();
}

VxStatus QVD_VxGetDataDirectory(char* buffer) {
  QVD_ENTRY();
  QVD_DETAIL("Redirected to call Orlan C API %s.", "VxGetDataDirectory");
  VxStatus result = VxGetDataDirectory(buffer);
  QVD_EXIT(result);
  return result;
}

// Server names and availability.

VxStatus QVD_VxNameAbbreviate(uint32_t flags, const char* templateName, const char* name, char* out,
                              uint16_t outSize, uint16_t* outLength) {
  QVD_ENTRY();
  QVD_DETAIL("Redirected to call Orlan C API %s.", "VxNameAbbreviate");
  VxStatus result = VxNameAbbreviate(flags, templateName, name, out, outSize, outLength);
  QVD_EXIT(result);
  return result;
}

VxStatus QVD_VxNameCanonicalize(uint32_t flags, const char* templateName, const char* name,
                                char* out, uint16_t outSize, uint16_t* outLength) {
  QVD_ENTRY();
  QVD_DETAIL("Redirected to call Orlan C API %s.", "VxNameCanonicalize");
  VxStatus result = VxNameCanonicalize(flags, templateName, name, out, outSize, outLength);
  QVD_EXIT(result);
  return result;
}

VxStatus QVD_VxPingServer(const char* serverName, uint32_t* retIndex,
                          VxListHandle* retClusterList) {
  QVD_ENTRY();
  QVD_DETAIL("Redirected to call Orlan C API %s.", "VxPingServer");
  VxStatus result = VxPingServer(serverName, retIndex, retClusterList);
  QVD_EXIT(result);
  return result;
}

uint16_t QVD_VxListCount(const void* list, int prefixDataType) {
  QVD_ENTRY();
  QVD_DETAIL("Redirected to call Orlan C API %s.", "VxListCount");
  uint16_t result = VxListCount(list, prefixDataType);
  QVD_EXIT(result);
  return result;
}

VxStatus QVD_VxListEntryText(const void* list, int prefixDataType, uint16_t index, char** retText,
                             uint16_t* retLength) {
  QVD_ENTRY();
  QVD_DETAIL("Redirected to call Orlan C API %s.", "VxListEntryText");
  VxStatus result = VxListEntryText(list, prefixDataType, index, retText, retLength);
  QVD_EXIT(result);
  return result;
}

// Databases.

VxStatus QVD_VxPathNetConstruct(const char* port, const char* server, const char* file,
                                char* retPath) {
  QVD_ENTRY();
  QVD_DETAIL("Redirected to call Orlan C API %s.", "VxPathNetConstruct");
  VxStatus result = VxPathNetConstruct(port, server, file, retPath);
  QVD_EXIT(result);
  return result;
}

VxStatus QVD_VxPathNetParse(const char* path, char* retPort, char* retServer, char* retFile) {
  QVD_ENTRY();
  QVD_DETAIL("Redirected to call Orlan C API %s.", "VxPathNetParse");
  VxStatus result = VxPathNetParse(path, retPort, retServer, retFile);
  QVD_EXIT(result);
  return result;
}

VxStatus QVD_VxDbOpen(const char* path, VxDbHandle* retDb) {
  QVD_ENTRY();
  QVD_DETAIL("Redirected to call Orlan C API %s.", "VxDbOpen");
  VxStatus result = VxDbOpen(path, retDb);
  QVD_EXIT(result);
  return result;
}

VxStatus QVD_VxDbOpenExtended(const char* path, uint16_t options, VxHandle namesList,
                              const VxTimeDate* modifiedSince, VxDbHandle* retDb,
                              VxTimeDate* retDataModified, VxTimeDate* retNonDataModified) {
  QVD_ENTRY();
  QVD_DETAIL("Redirected to call Orlan C API %s.", "VxDbOpenExtended");
  VxStatus result = VxDbOpenExtended(path, options, namesList, modifiedSince, retDb,
                                     retDataModified, retNonDataModified);
  QVD_EXIT(result);
  return result;
}

VxStatus QVD_VxDbClose(VxDbHandle db) {
  QVD_ENTRY();
  QVD_DETAIL("Redirected to call Orlan C API %s.", "VxDbClose");
  VxStatus result = VxDbClose(db);
  QVD_EXIT(result);
  return result;
}

VxStatus QVD_VxDbPathGet(VxDbHandle db, char* retCanonicalPath, char* retExpandedPath) {
  QVD_ENTRY();
  QVD_DETAIL("Redirected to call Orlan C API %s.", "VxDbPathGet");
  VxStatus result = VxDbPathGet(db, retCanonicalPath, retExpandedPath);
  QVD_EXIT(result);
  return result;
}

VxStatus QVD_VxDbQuotaGet(const char* netPath, VxDbLimits* retQuota) {
  QVD_ENTRY();
  QVD_DETAIL("Redirected to call Orlan C API %s.", "VxDbQuotaGet");
  VxStatus result = VxDbQuotaGet(netPath, retQuota);
  QVD_EXIT(result);
  return result;
}

VxStatus QVD_VxDbSpaceUsage(VxDbHandle db, uint32_t* retAllocatedBytes, uint32_t* retFreeBytes) {
  QVD_ENTRY();
  QVD_DETAIL("Redirected to call Orlan C API %s.", "VxDbSpaceUsage");
  VxStatus result = VxDbSpaceUsage(db, retAllocatedBytes, retFreeBytes);
  QVD_EXIT(result);
  return result;
}

VxStatus QVD_VxDbSearch(VxDbHandle db, VxFormulaHandle formula, const char* viewTitle,
                        uint16_t searchFlags, uint16_t noteClassMask, const VxTimeDate* since,
                        VxSearchCallback callback, void* context, VxTimeDate* retUntil) {
  QVD_ENTRY();
  QVD_DETAIL("Redirected to call Orlan C API %s.", "VxDbSearch");
  VxStatus result = VxDbSearch(db, formula, viewTitle, searchFlags, noteClassMask, since, callback,
                               context, retUntil);
  QVD_EXIT(result);
  return result;
}

VxStatus QVD_VxFormulaCompile(const char* name, uint16_t nameLength, const char* text,
                              uint16_t textLength, VxFormulaHandle* retFormula,
                              uint16_t* retFormulaLength, VxStatus* retCompileError,
                              uint16_t* retErrorLine, uint16_t* retErrorColumn,
                              uint16_t* retErrorOffset, uint16_t* retErrorLength) {
  QVD_ENTRY();
  QVD_DETAIL("Redirected to call Orlan C API %s.", "VxFormulaCompile");
  VxStatus result = VxFormulaCompile(name, nameLength, text, textLength, retFormula,
                                     retFormulaLength, retCompileError, retErrorLine,
                                     retErrorColumn, retErrorOffset, retErrorLength);
  QVD_EXIT(result);
  return result;
}

// Documents and items.

VxStatus QVD_VxDocOpen(VxDbHandle db, uint32_t noteId, uint16_t flags, VxDocHandle* retDoc) {
  QVD_ENTRY();
  QVD_DETAIL("Redirected to call Orlan C API %s.", "VxDocOpen");
  VxStatus result = VxDocOpen(db, noteId, flags, retDoc);
  QVD_EXIT(result);
  return result;
}

VxStatus QVD_VxDocCreate(VxDbHandle db, VxDocHandle* retDoc) {
  QVD_ENTRY();
  QVD_DETAIL("Redirected to call Orlan C API %s.", "VxDocCreate");
  VxStatus result = VxDocCreate(db, retDoc);
  QVD_EXIT(result);
  return result;
}

VxStatus QVD_VxDocUpdate(VxDocHandle doc, uint16_t flags) {
  QVD_ENTRY();
  QVD_DETAIL("Redirected to call Orlan C API %s.", "VxDocUpdate");
  VxStatus result = VxDocUpdate(doc, flags);
  QVD_EXIT(result);
  return result;
}

VxStatus QVD_VxDocClose(VxDocHandle doc) {
  QVD_ENTRY();
  QVD_DETAIL("Redirected to call Orlan C API %s.", "VxDocClose");
  VxStatus result = VxDocClose(doc);
  QVD_EXIT(result);
  return result;
}

uint16_t QVD_VxItemGetText(VxDocHandle doc, const char* itemName, char* buffer,
                           uint16_t bufferLength) {
  QVD_ENTRY();
  QVD_DETAIL("Redirected to call Orlan C API %s.", "VxItemGetText");
  uint16_t result = VxItemGetText(doc, itemName, buffer, bufferLength);
  QVD_EXIT(result);
  return result;
}

int QVD_VxItemGetTime(VxDocHandle doc, const char* itemName, VxTimeDate* retTime) {
  QVD_ENTRY();
  QVD_DETAIL("Redirected to call Orlan C API %s.", "VxItemGetTime");
  int result = VxItemGetTime(doc, itemName, retTime);
  QVD_EXIT(result);
  return result;
}

VxStatus QVD_VxItemInfo(VxDocHandle doc, const char* itemName, uint16_t nameLength,
                        uint32_t* retItem, uint16_t* retDataType, VxValueRef* retValue,
                        uint32_t* retValueLength) {
  QVD_ENTRY();
  QVD_DETAIL("Redirected to call Orlan C API %s.", "VxItemInfo");
  VxStatus result =
      VxItemInfo(doc, itemName, nameLength, retItem, retDataType, retValue, retValueLength);
  QVD_EXIT(result);
  return result;
}

VxStatus QVD_VxItemScan(VxDocHandle doc, VxItemScanCallback callback, void* context) {
  QVD_ENTRY();
  QVD_DETAIL("Redirected to call Orlan C API %s.", "VxItemScan");
  VxStatus result = VxItemScan(doc, callback, context);
  QVD_EXIT(result);
  return result;
}

uint16_t QVD_VxItemValueToText(uint16_t dataType, VxValueRef value, uint32_t valueLength,
                               char* buffer, uint16_t bufferLength, char separator) {
  QVD_ENTRY();
  QVD_DETAIL("Redirected to call Orlan C API %s.", "VxItemValueToText");
  uint16_t result =
      VxItemValueToText(dataType, value, valueLength, buffer, bufferLength, separator);
  QVD_EXIT(result);
  return result;
}

int QVD_VxGetSummaryValue(const void* summary, const char* name, char* buffer,
                          uint16_t bufferLength) {
  QVD_ENTRY();
  QVD_DETAIL("Redirected to call Orlan C API %s.", "VxGetSummaryValue");
  int result = VxGetSummaryValue(summary, name, buffer, bufferLength);
  QVD_EXIT(result);
  return result;
}

VxStatus QVD_VxItemSetText(VxDocHandle doc, const char* itemName, const char* text,
                           uint16_t textLength) {
  QVD_ENTRY();
  QVD_DETAIL("Redirected to call Orlan C API %s.", "VxItemSetText");
  VxStatus result = VxItemSetText(doc, itemName, text, textLength);
  QVD_EXIT(result);
  return result;
}

VxStatus QVD_VxItemSetTime(VxDocHandle doc, const char* itemName, const VxTimeDate* time) {
  QVD_ENTRY();
  QVD_DETAIL("Redirected to call Orlan C API %s.", "VxItemSetTime");
  VxStatus result = VxItemSetTime(doc, itemName, time);
  QVD_EXIT(result);
  return result;
}

// Views.

VxStatus QVD_VxFindDesignNote(VxDbHandle db, const char* name, uint16_t noteClass,
                              const char* flagPattern, uint32_t* retNoteId, uint32_t options) {
  QVD_ENTRY();
  QVD_DETAIL("Redirected to call Orlan C API %s.", "VxFindDesignNote");
  VxStatus result = VxFindDesignNote(db, name, noteClass, flagPattern, retNoteId, options);
  QVD_EXIT(result);
  return result;
}

VxStatus QVD_VxViewOpen(VxDbHandle viewDb, VxDbHandle dataDb, uint32_t viewNoteId,
                        uint16_t openFlags, VxHandle unreadList, VxCollectionHandle* retCollection,
                        VxDocHandle* retViewNote, unsigned char* retViewUnid,
                        VxHandle* retCollapsedList, VxHandle* retSelectedList) {
  QVD_ENTRY();
  QVD_DETAIL("Redirected to call Orlan C API %s.", "VxViewOpen");
  VxStatus result = VxViewOpen(viewDb, dataDb, viewNoteId, openFlags, unreadList, retCollection,
                               retViewNote, retViewUnid, retCollapsedList, retSelectedList);
  QVD_EXIT(result);
  return result;
}

VxStatus QVD_VxViewReadEntries(VxCollectionHandle collection, uint32_t skipCount,
                               uint32_t returnCount, uint32_t returnMask, VxMemHandle* retBuffer,
                               uint32_t* retBufferLength, uint32_t* retNumberReturned,
                               uint16_t* retSignalFlags) {
  QVD_ENTRY();
  QVD_DETAIL("Redirected to call Orlan C API %s.", "VxViewReadEntries");
  VxStatus result = VxViewReadEntries(collection, skipCount, returnCount, returnMask, retBuffer,
                                      retBufferLength, retNumberReturned, retSignalFlags);
  QVD_EXIT(result);
  return result;
}

VxStatus QVD_VxViewClose(VxCollectionHandle collection) {
  QVD_ENTRY();
  QVD_DETAIL("Redirected to call Orlan C API %s.", "VxViewClose");
  VxStatus result = VxViewClose(collection);
  QVD_EXIT(result);
  return result;
}

// Directory.

VxStatus QVD_VxDirLookup(const char* server, uint16_t flags, uint16_t nameSpaceCount,
                         const char* nameSpaces, uint16_t nameCount, const char* names,
                         uint16_t itemCount, const char* items, VxMemHandle* retBuffer) {
  QVD_ENTRY();
  QVD_DETAIL("Redirected to call Orlan C API %s.", "VxDirLookup");
  VxStatus result = VxDirLookup(server, flags, nameSpaceCount, nameSpaces, nameCount, names,
                                itemCount, items, retBuffer);
  QVD_EXIT(result);
  return result;
}

void* QVD_VxDirLocateNextName(void* lookupBuffer, void* prevName, uint16_t* retMatchCount) {
  QVD_ENTRY();
  QVD_DETAIL("Redirected to call Orlan C API %s.", "VxDirLocateNextName");
  void* result = VxDirLocateNextName(lookupBuffer, prevName, retMatchCount);
  QVD_EXIT_VOID();
  return result;
}

void* QVD_VxDirLocateNextMatch(void* lookupBuffer, void* name, void* prevMatch) {
  QVD_ENTRY();
  QVD_DETAIL("Redirected to call Orlan C API %s.", "VxDirLocateNextMatch");
  void* result = VxDirLocateNextMatch(lookupBuffer, name, prevMatch);
  QVD_EXIT_VOID();
  return result;
}

VxStatus QVD_VxDirGetTextItem(void* match, uint16_t itemNumber, uint16_t valueNumber, char* buffer,
                              uint16_t bufferSize) {
  QVD_ENTRY();
  QVD_DETAIL("Redirected to call Orlan C API %s.", "VxDirGetTextItem");
  VxStatus result = VxDirGetTextItem(match, itemNumber, valueNumber, buffer, bufferSize);
  QVD_EXIT(result);
  return result;
}

// Time operations.

void QVD_VxCurrentTime(VxTimeDate* retTime) {
  QVD_ENTRY();
  QVD_DETAIL("Redirected to call Orlan C API %s.", "VxCurrentTime");
  VxCurrentTime(retTime);
  QVD_EXIT_VOID();
}

void QVD_VxSpecialTime(uint16_t kind, VxTimeDate* retTime) {
  QVD_ENTRY();
  QVD_DETAIL("Redirected to call Orlan C API %s.", "VxSpecialTime");
  VxSpecialTime(kind, retTime);
  QVD_EXIT_VOID();
}

int QVD_VxTimeAdjust(VxTimeDate* time, int seconds, int minutes, int hours, int days, int months,
                     int years) {
  QVD_ENTRY();
  QVD_DETAIL("Redirected to call Orlan C API %s.", "VxTimeAdjust");
  int result = VxTimeAdjust(time, seconds, minutes, hours, days, months, years);
  QVD_EXIT(result);
  return result;
}

int QVD_VxTimeCompare(const VxTimeDate* a, const VxTimeDate* b) {
  QVD_ENTRY();
  QVD_DETAIL("Redirected to call Orlan C API %s.", "VxTimeCompare");
  int result = VxTimeCompare(a, b);
  QVD_EXIT(result);
  return result;
}

long QVD_VxTimeDifference(const VxTimeDate* a, const VxTimeDate* b) {
  QVD_ENTRY();
  QVD_DETAIL("Redirected to call Orlan C API %s.", "VxTimeDifference");
  long result = VxTimeDifference(a, b);
  QVD_EXIT(result);
  return result;
}

int QVD_VxTimeBreakDown(VxTime* time) {
  QVD_ENTRY();
  QVD_DETAIL("Redirected to call Orlan C API %s.", "VxTimeBreakDown");
  int result = VxTimeBreakDown(time);
  QVD_EXIT(result);
  return result;
}

int QVD_VxTimeAssemble(VxTime* time) {
  QVD_ENTRY();
  QVD_DETAIL("Redirected to call Orlan C API %s.", "VxTimeAssemble");
  int result = VxTimeAssemble(time);
  QVD_EXIT(result);
  return result;
}

VxStatus QVD_VxTextToTime(const VxLocaleFormat* intl, const VxTimeFormat* format, const char* text,
                          uint16_t textLength, VxTimeDate* retTime) {
  QVD_ENTRY();
  QVD_DETAIL("Redirected to call Orlan C API %s.", "VxTextToTime");
  VxStatus result = VxTextToTime(intl, format, text, textLength, retTime);
  QVD_EXIT(result);
  return result;
}

VxStatus QVD_VxTimeToText(const VxLocaleFormat* intl, const VxTimeFormat* format,
                          const VxTimeDate* time, char* buffer, uint16_t bufferSize,
                          uint16_t* retLength) {
  QVD_ENTRY();
  QVD_DETAIL("Redirected to call Orlan C API %s.", "VxTimeToText");
  VxStatus result = VxTimeToText(intl, format, time, buffer, bufferSize, retLength);
  QVD_EXIT(result);
  return result;
}
