// DbCorruptFailover: one row of the Velora_Corrupt_Failover_DB table, a
// database or view that the check found not in good state.
#ifndef QVD_DBHEALTH_DB_CORRUPT_FAILOVER_H_
#define QVD_DBHEALTH_DB_CORRUPT_FAILOVER_H_

class DbCorruptFailover {
 public:
  // All six texts empty.
  DbCorruptFailover();
  DbCorruptFailover(const char* dbName, const char* viewName, const char* state,
                    const char* failoverStatus, const char* failoverDb, const char* failoverServer);

  // Copies the six texts; a null text gives an empty field.  Every field
  // holds 255 characters; the check never hands in longer texts (it refuses
  // over-long paths and view names before a record is made).
  void setValues(const char* dbName, const char* viewName, const char* state,
                 const char* failoverStatus, const char* failoverDb, const char* failoverServer);
  // The same as setValues.
  void replaceValues(const char* dbName, const char* viewName, const char* state,
                     const char* failoverStatus, const char* failoverDb,
                     const char* failoverServer);

  const char* getDbName() const { return m_dbName; }
  const char* getViewName() const { return m_viewName; }  // "DEFAULT" for the database
  const char* getState() const { return m_state; }
  const char* getFailoverStatus() const { return m_failoverStatus; }  // "Success" or ""
  const char* getFailoverDb() const { return m_failoverDb; }
  const char* getFailoverServer() const { return m_failoverServer; }

  // A new record with the same texts; the caller owns it.  Null when memory
  // runs out.
  DbCorruptFailover* copy() const;

 private:
  char m_dbName[256];
  char m_viewName[256];
  char m_state[256];
  char m_failoverStatus[256];
  char m_failoverDb[256];
  char m_failoverServer[256];
};

#endif  // QVD_DBHEALTH_DB_CORRUPT_FAILOVER_H_
