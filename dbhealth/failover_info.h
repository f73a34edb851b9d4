// FailOverInfo: where a database that failed over to another member of the
// server's cluster was opened.
#ifndef QVD_DBHEALTH_FAILOVER_INFO_H_
#define QVD_DBHEALTH_FAILOVER_INFO_H_

class FailOverInfo {
 public:
  // All three texts empty.
  FailOverInfo();
  // Copies the three texts when all are given, else leaves all empty.
  FailOverInfo(const char* server, const char* file, const char* path);

  // Copies the three texts when all are given, else changes nothing.  Texts
  // longer than 255 characters are cut (the server API hands out none).
  void copyFrom(const char* server, const char* file, const char* path);

  const char* getServer() const { return m_server; }
  const char* getFile() const { return m_file; }
  const char* getPath() const { return m_path; }

 private:
  char m_server[256];  // the other cluster member
  char m_file[256];    // the database file as that member names it
  char m_path[256];    // the canonical path the server reported
};

#endif  // QVD_DBHEALTH_FAILOVER_INFO_H_
