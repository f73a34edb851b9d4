#include "dbhealth/db_corrupt_failover.h"

#include <new>

#include "dbhealth/fixed_text.h"

using dbhealth::copyText;

DbCorruptFailover::DbCorruptFailover() { setValues(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr); }

DbCorruptFailover::DbCorruptFailover(const char* dbName, const char* viewName, const char* state,
                                     const char* failoverStatus, const char* failoverDb,
                                     const char* failoverServer) {
  setValues(dbName, viewName, state, failoverStatus, failoverDb, failoverServer);
}

void DbCorruptFailover::setValues(const char* dbName, const char* viewName, const char* state,
                                  const char* failoverStatus, const char* failoverDb,
                                  const char* failoverServer) {
  copyText(m_dbName, dbName);
  copyText(m_viewName, viewName);
  copyText(m_state, state);
  copyText(m_failoverStatus, failoverStatus);
  copyText(m_failoverDb, failoverDb);
  copyText(m_failoverServer, failoverServer);
}

void DbCorruptFailover::replaceValues(const char* dbName, const char* viewName, const char* state,
                                      const char* failoverStatus, const char* failoverDb,
                                      const char* failoverServer) {
  setValues(dbName, viewName, state, failoverStatus, failoverDb, failoverServer);
}

DbCorruptFailover* DbCorruptFailover::copy() const {
  return new (std::nothrow) DbCorruptFailover(*this);
}
