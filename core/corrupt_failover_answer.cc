#include "core/corrupt_failover_answer.h"

#include <pthread.h>

#include "agentlink/cp_client.h"
#include "dbhealth/check_database.h"
#include "framework/trace.h"
#include "state/globals.h"

QVD_TRACE_UNIT("core/corrupt_failover");

void answerCorruptFailover(const char* id) {
  QVD_DETAIL("Begin to lock mutex checkDBResultMutex to handle Velora_Corrupt_Failover_DB request.");
  int rc = pthread_mutex_lock(&checkDBResultMutex);
  if (rc != 0) {
    QVD_ERROR("Error: mutex checkDBResultMutex lock failed with %d", rc);
    return;
  }
  QVD_DETAIL("Locked mutex checkDBResultMutex successfully. Begin to parse corruption-failover data...");
  if (dbCorruptFailoverList.isEmpty()) {
    QVD_DETAIL("There are no corruption-failover data.");
  } else {
    QVD_DETAIL("Got corruption-failover information for %d databases.", dbCorruptFailoverList.getCount());
    DbCorruptFailoverListIterator it(&dbCorruptFailoverList);
    while (it.hasNext()) {
      const DbCorruptFailover* r = it.next();
      const char* values[7] = {server_name,         r->getDbName(),         r->getViewName(),
                               r->getState(),       r->getFailoverStatus(), r->getFailoverDb(),
                               r->getFailoverServer()};
      cp_SetAttributeValues(values, 7, id);
    }
  }
  rc = pthread_mutex_unlock(&checkDBResultMutex);
  if (rc != 0) {
    QVD_ERROR("Error: mutex checkDBResultMutex unlock failed with %d", rc);
  } else {
    QVD_DETAIL("Unlocked mutex checkDBResultMutex successfully.");
  }
}
