#include "dbhealth/failover_info.h"

#include "dbhealth/fixed_text.h"

FailOverInfo::FailOverInfo() { m_server[0] = m_file[0] = m_path[0] = '\0'; }

FailOverInfo::FailOverInfo(const char* server, const char* file, const char* path) : FailOverInfo() {
  copyFrom(server, file, path);
}

void FailOverInfo::copyFrom(const char* server, const char* file, const char* path) {
  if (server == nullptr || file == nullptr || path == nullptr) return;
  dbhealth::copyText(m_server, server);
  dbhealth::copyText(m_file, file);
  dbhealth::copyText(m_path, path);
}
