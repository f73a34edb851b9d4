#include "dbhealth/db_whitespace_table.h"

#include <pthread.h>

#include "agentlink/cp_client.h"
#include "dbhealth/check_database.h"
#include "framework/trace.h"
#include "state/globals.h"

QVD_TRACE_UNIT("dbhealth/whitespace_table");

void Parse_Velora_DB_Whitespace(const char* id) {
  QVD_ENTRY();
  QVD_DETAIL("Begin to lock mutex checkDBResultMutex to parse whitespace statistics data.");
  int rc = pthread_mutex_lock(&checkDBResultMutex);
  if (rc != 0) {
    QVD_ERROR("Error: mutex checkDBResultMutex lock failed with %d", rc);
    QVD_EXIT_VOID();
    return;
  }
  QVD_DETAIL("Locked mutex checkDBResultMutex successfully. Begin to parse whitespace statistics data.");
  if (dbStatisticsInfoList.isEmpty()) {
    QVD_DETAIL("There are no whitespace statistics data.");
  } else {
    QVD_DETAIL("Got whitespace statistics information for %d databases.", dbStatisticsInfoList.getCount());
    DbStatisticsInfoListIterator it(&dbStatisticsInfoList);
    for (int n = 1; it.hasNext(); ++n) {
      const DbStatisticsInfo* info = it.next();
      if (info == nullptr) {
        QVD_ALWAYS("Error: Got null pointer from the database statistics buffer.");
        break;
      }
      char whitespace[kDbFigureSize], percent[kDbFigureSize], size[kDbFigureSize],
          maxSize[kDbFigureSize], limit[kDbFigureSize], warning[kDbFigureSize];
      info->toString(whitespace, percent, size, maxSize, limit, warning);
      QVD_DETAIL("Database %d, name: %s, whitespace size: %s KB, whitespace percent: %s, database "
                 "size: %s KB, max size: %s KB, size limit: %s KB, warning threshold: %s KB",
                 n, info->getDbName(), whitespace, percent, size, maxSize, limit, warning);
      const char* values[8] = {server_name, info->getDbName(), whitespace, percent,
                               size,        maxSize,           limit,      warning};
      cp_SetAttributeValues(values, 8, id);
    }
  }
  rc = pthread_mutex_unlock(&checkDBResultMutex);
  if (rc != 0) {
    QVD_ERROR("Error: mutex checkDBResultMutex unlock failed with %d", rc);
  } else {
    QVD_DETAIL("Unlocked mutex checkDBResultMutex successfully");
  }
  QVD_EXIT_VOID();
}
