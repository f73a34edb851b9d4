#include "core/hooks.h"

#include <cstdio>

#include "core/replication_answer.h"
#include "framework/trace.h"

QVD_TRACE_UNIT("core/hooks");

void hookCheckDatabasePaths() {}

int hookParseViewConfigFile(const char* path) {
  FILE* file = fopen(path, "r");
  if (file == nullptr) return 1;
  fclose(file);
  return 0;
}

int hookStartAddInThreads(const char** threadName) {
  *threadName = nullptr;
  QVD_DETAIL("add-in threads are not available in this build");
  return 0;
}

int hookStartDatabaseCheckThread() {
  QVD_DETAIL("database check thread is not available in this build");
  return 0;
}

void hookGroupAnalyzerInit(const char*) {}
void hookGroupAnalyzerClose() {}

void hookAnswerReplication(const char* id) { answerReplication(id); }
void hookAnswerCorruptFailover(const char*) {}
void hookAnswerDbWhitespace(const char*) {}
void hookAnswerGroupUpdates(const char*) {}
void hookAnswerAddInTable(const char*, const char*) {}
