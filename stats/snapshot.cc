// The statistics snapshot: fetching, converting and lower-casing the
// server's statistics text.
#include "stats/snapshot.h"

#include <stdlib.h>
#include <string.h>

#include "framework/trace.h"
#include "serverapi/qvd_api.h"
#include "state/globals.h"
#include "stats/catalogue.h"
#include "util/nls.h"

QVD_TRACE_UNIT("stats/snapshot");

char* pStatBuffer = nullptr;
uint32_t dwStatBufferLen = 0;
char* pMvStats = nullptr;
uint16_t hModule = 0;
char szErrorString[256];

namespace {

uint64_t g_generation = 1;

const char* serverText() { return server_name != nullptr ? server_name : ""; }

// Names are lowered, values keep their case: a tab starts a value, a line
// feed ends it.  Outside a value every byte up to the next tab is lowered
// (line feeds in between change nothing), and inside one nothing is until
// the next line feed; so the walk jumps from tab to line feed to tab.
void lowerNames(char* text, size_t length) {
  char* p = text;
  char* end = text + length;
  while (p < end) {
    char* tab = static_cast<char*>(memchr(p, '\t', static_cast<size_t>(end - p)));
    char* nameEnd = tab != nullptr ? tab : end;
    for (; p < nameEnd; ++p) {
      unsigned char c = static_cast<unsigned char>(*p);
      if (static_cast<unsigned>(c - 'A') < 26u) *p = static_cast<char>(c + ('a' - 'A'));
    }
    if (tab == nullptr) break;
    char* lineFeed = static_cast<char*>(memchr(tab + 1, '\n', static_cast<size_t>(end - tab - 1)));
    if (lineFeed == nullptr) break;
    p = lineFeed + 1;
  }
}

// Finishes a snapshot whose text (`converted` bytes) is in pStatBuffer.
void settle(size_t converted) {
  lowerNames(pStatBuffer, converted);
  // The builders' searches must cover the whole converted text, also when
  // the conversion made it longer than the server's count.
  if (converted > dwStatBufferLen) dwStatBufferLen = static_cast<uint32_t>(converted);
  pMvStats = static_cast<char*>(memmem(pStatBuffer, dwStatBufferLen, "mvstats.", 8));
}

void dropSnapshot() {
  free(pStatBuffer);
  pStatBuffer = nullptr;
  dwStatBufferLen = 0;
  pMvStats = nullptr;
  ++g_generation;
}

// Unlocks (when locked) and releases the server's memory handle.
void releaseHandle(VxMemHandle handle, bool locked) {
  if (handle == 0) return;
  if (locked) QVD_VxUnlockObject(handle);
  QVD_VxMemFree(handle);
}

}  // namespace

void freeStats() { dropSnapshot(); }

uint64_t statsSnapshotGeneration() { return g_generation; }

uint16_t queryStats() {
  QVD_ENTRY();
  dropSnapshot();
  clearSnapshotSlots();

  QVD_DETAIL("queryStats calling VxGetServerStats");
  VxMemHandle handle = 0;
  uint32_t length = 0;
  VxStatus status = QVD_VxGetServerStats(server_name, nullptr, nullptr, &handle, &length);
  if (status != 0) {
    releaseHandle(handle, false);
    dwStatBufferLen = 0;
    QVD_VxLoadString(hModule, static_cast<VxStatus>(status & 0x3FFF), szErrorString,
                     sizeof(szErrorString) - 1);
    szErrorString[sizeof(szErrorString) - 1] = '\0';
    QVD_ALWAYS("VxGetServerStats failed on server:%s with rc:%d, Message:%s", serverText(), status,
               szErrorString);
    QVD_EXIT(status);
    return status;
  }
  if (handle == 0 || length == 0) {
    QVD_ALWAYS("%s unable to get the statistic hStatBuffer", serverText());
    releaseHandle(handle, false);
    QVD_EXIT(1);
    return 1;
  }

  char* text = static_cast<char*>(QVD_VxLockObject(handle));
  if (text == nullptr) {
    QVD_ALWAYS("%s unable to lock the statistic hStatBuffer", serverText());
    releaseHandle(handle, false);
    QVD_EXIT(1);
    return 1;
  }
  size_t size = 3 * static_cast<size_t>(length) + 1;  // room for a multi-byte conversion
  char* buffer = static_cast<char*>(calloc(size, 1));
  if (buffer == nullptr) {
    releaseHandle(handle, true);
    QVD_ALWAYS("%s cannot allocate memory(calloc) for statistics buffer", serverText());
    QVD_EXIT(1);
    return 1;
  }
  pStatBuffer = buffer;
  dwStatBufferLen = length;
  size_t converted = NLS_VxTranslate(NLS_SERVER_TO_HOST, text, length, buffer, size);
  if (converted > size - 1) converted = size - 1;  // keep the terminator inside the buffer
  buffer[converted] = '\0';
  settle(converted);

  if (QVD_TRACE_ON(TRACE_DETAIL)) {
    QVD_DETAIL("###################Start statistics for Server Name:%s", serverText());
    QVD_DETAIL("%s", pStatBuffer);
    QVD_DETAIL("^^^^^^^^^^^^^^^^^^^End statistics for Server Name:%s", serverText());
  }
  releaseHandle(handle, true);
  QVD_EXIT(0);
  return 0;
}

int installStatsText(const char* text, size_t len) {
  dropSnapshot();
  clearSnapshotSlots();
  char* buffer = static_cast<char*>(calloc(len + 1, 1));
  if (buffer == nullptr) return 1;
  if (len > 0) memcpy(buffer, text, len);
  pStatBuffer = buffer;
  dwStatBufferLen = static_cast<uint32_t>(len);
  settle(len);
  return 0;
}
