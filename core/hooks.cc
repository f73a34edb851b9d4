#include "core/hooks.h"

#include <cstdio>

#include "addin/addin_threads.h"
#include "core/corrupt_failover_answer.h"
#include "core/replication_answer.h"
#include "dbhealth/check_database.h"
#include "dbhealth/db_views_config_map.h"
#include "dbhealth/db_whitespace_table.h"
#include "dbhealth/group_analyzer.h"
#include "dbhealth/group_updates_table.h"
#include "dbhealth/velora_config_parser.h"
#include "framework/trace.h"
#include "state/globals.h"
#include "stats/addin_tables.h"

QVD_TRACE_UNIT("core/hooks");

void hookCheckDatabasePaths() {
  VeloraConfigParser parser(server_name, checkDbIncludePath, checkDbExcludePath);
  QVD::StringList invalidIncludes(kMaxConfiguredPaths);
  QVD::StringList invalidExcludes(kMaxConfiguredPaths);
  parser.checkConfiguration(&invalidIncludes, &invalidExcludes);
  for (int i = 0; i < invalidIncludes.getCount(); ++i)
    QVD_ALWAYS("Path %s in checking database include path is not accessible. Velora server is "
               "down or the path is invalid.",
               invalidIncludes.getAt(i).c_str());
  for (int i = 0; i < invalidExcludes.getCount(); ++i)
    QVD_ALWAYS("Path %s in checking database exclude path is not accessible. Velora server is "
               "down or the path is invalid.",
               invalidExcludes.getAt(i).c_str());
}

int hookParseViewConfigFile(const char* path) {
  return DbViewsConfigMap::parseDbViewConfigFile(path, &dbViewsConfigMap);
}

int hookStartAddInThreads(const char** threadName) { return startAddInThreads(threadName); }

int hookStartDatabaseCheckThread() { return startDatabaseCheckThread(); }

void hookRequestDatabaseCheckStop() { requestDatabaseCheckStop(); }

bool hookStopDatabaseCheckThread(const struct timespec* deadline) {
  return stopDatabaseCheckThread(deadline);
}

bool hookStopAddInThreads(const struct timespec& deadline) { return stopAddInThreads(deadline); }

void hookGroupAnalyzerInit(const char* server) { GroupAnalyzer::init(server); }
void hookGroupAnalyzerClose() { GroupAnalyzer::close(); }

ReplAnswer hookAnswerReplication(const char* id, ReplStop* stop) { return answerReplication(id, stop); }
void hookAnswerCorruptFailover(const char* id) { answerCorruptFailover(id); }
void hookAnswerDbWhitespace(const char* id) { Parse_Velora_DB_Whitespace(id); }
void hookAnswerGroupUpdates(const char* id) { Parse_Velora_Group_Updates(id); }
void hookAnswerAddInTable(const char* groupName, const char* id) {
  buildAddInTable(groupName, const_cast<char*>(id));
}
