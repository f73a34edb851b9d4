#include "core/hooks.h"

#include <cstdio>

#include "addin/addin_threads.h"
#include "framework/trace.h"
#include "stats/addin_tables.h"

QVD_TRACE_UNIT("core/hooks");

void hookCheckDatabasePaths() {}

int hookParseViewConfigFile(const char* path) {
  FILE* file = fopen(path, "r");
  if (file == nullptr) return 1;
  fclose(file);
  return 0;
}

int hookStartAddInThreads(const char** threadName) { return startAddInThreads(threadName); }

int hookStartDatabaseCheckThread() {
  QVD_DETAIL("database check thread is not available in this build");
  return 0;
}

void hookGroupAnalyzerInit(const char*) {}
void hookGroupAnalyzerClose() {}

void hookAnswerReplication(const char*) {}
void hookAnswerCorruptFailover(const char*) {}
void hookAnswerDbWhitespace(const char*) {}
void hookAnswerGroupUpdates(const char*) {}
void hookAnswerAddInTable(const char* groupName, const char* id) {
  buildAddInTable(groupName, const_cast<char*>(id));
}
