#include "dbhealth/db_statistics_info.h"

#include <cstdio>
#include <new>

#include "dbhealth/fixed_text.h"

DbStatisticsInfo::DbStatisticsInfo()
    : m_allocatedSize(0),
      m_whitespace(0),
      m_currentSize(0),
      m_maxSize(0),
      m_sizeLimit(0),
      m_warningThreshold(0) {
  m_dbName[0] = '\0';
}

void DbStatisticsInfo::setValues(const char* dbName, uint32_t allocatedBytes, uint32_t freeBytes,
                                 uint32_t currentSizeKB, uint32_t maxSizeKB, uint32_t sizeLimitKB,
                                 uint32_t warningThresholdKB) {
  dbhealth::copyText(m_dbName, dbName);
  m_allocatedSize = allocatedBytes >> 10;
  m_whitespace = freeBytes >> 10;
  m_currentSize = currentSizeKB;
  m_maxSize = maxSizeKB == 0xFFFFFFFFu ? 0 : maxSizeKB;
  m_sizeLimit = sizeLimitKB;
  m_warningThreshold = warningThresholdKB;
}

bool DbStatisticsInfo::toString(char* whitespace, char* percent, char* dbSize, char* maxSize,
                                char* sizeLimit, char* warningThreshold) const {
  if (whitespace == nullptr || percent == nullptr || dbSize == nullptr || maxSize == nullptr ||
      sizeLimit == nullptr || warningThreshold == nullptr)
    return false;
  if (m_whitespace == 0) {
    snprintf(whitespace, kDbFigureSize, "0");
    snprintf(percent, kDbFigureSize, "0");
  } else {
    snprintf(whitespace, kDbFigureSize, "%u", m_whitespace);
    // 64-bit sums: the two KB figures together cannot wrap.
    uint64_t total = (uint64_t)m_whitespace + m_allocatedSize;
    uint64_t share = 0;
    if (total != 0) {
      uint64_t scaled = (uint64_t)m_whitespace * 100;
      share = scaled / total;
      if (scaled % total > total / 2) share += 1;
    }
    snprintf(percent, kDbFigureSize, "%u", (unsigned)share);
  }
  snprintf(dbSize, kDbFigureSize, "%u", m_currentSize);
  snprintf(maxSize, kDbFigureSize, "%u", m_maxSize);
  snprintf(sizeLimit, kDbFigureSize, "%u", m_sizeLimit);
  snprintf(warningThreshold, kDbFigureSize, "%u", m_warningThreshold);
  return true;
}

DbStatisticsInfo* DbStatisticsInfo::copy() const { return new (std::nothrow) DbStatisticsInfo(*this); }
