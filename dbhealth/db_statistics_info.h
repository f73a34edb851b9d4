// DbStatisticsInfo: the space figures of one database, one row of the
// Velora_DB_Whitespace table.
#ifndef QVD_DBHEALTH_DB_STATISTICS_INFO_H_
#define QVD_DBHEALTH_DB_STATISTICS_INFO_H_

#include <cstdint>

class DbStatisticsInfo {
 public:
  // Empty name, every figure 0.
  DbStatisticsInfo();

  // Fills the record.  Sizes are in KB; the space figures come in bytes and
  // are divided by 1024 (rounding down); a maximum size of 0xFFFFFFFF (no
  // maximum) is stored as 0.  A name longer than 255 characters is cut (the
  // check refuses such paths before it measures them).
  void setValues(const char* dbName, uint32_t allocatedBytes, uint32_t freeBytes,
                 uint32_t currentSizeKB, uint32_t maxSizeKB, uint32_t sizeLimitKB,
                 uint32_t warningThresholdKB);

  // Renders the six figures of a row as decimal texts, each into a buffer of
  // at least 11 bytes: the white space (KB), its percentage of white space
  // plus allocated size (rounded half down; "0" when there is no white
  // space), the current size, the maximum size, the size limit and the
  // warning threshold.  Figures are unsigned: a database above 2 TiB shows
  // its size, never a negative number.  Returns false without writing when
  // a buffer is null.
  bool toString(char* whitespace, char* percent, char* dbSize, char* maxSize, char* sizeLimit,
                char* warningThreshold) const;

  const char* getDbName() const { return m_dbName; }
  uint32_t getAllocatedSize() const { return m_allocatedSize; }
  uint32_t getWhitespace() const { return m_whitespace; }
  uint32_t getCurrentSize() const { return m_currentSize; }
  uint32_t getMaxSize() const { return m_maxSize; }
  uint32_t getSizeLimit() const { return m_sizeLimit; }
  uint32_t getWarningThreshold() const { return m_warningThreshold; }

  // A new record with the same values; the caller owns it.  Null when
  // memory runs out.
  DbStatisticsInfo* copy() const;

 private:
  char m_dbName[256];
  uint32_t m_allocatedSize;     // KB
  uint32_t m_whitespace;        // KB
  uint32_t m_currentSize;       // KB
  uint32_t m_maxSize;           // KB; 0: no maximum
  uint32_t m_sizeLimit;         // KB
  uint32_t m_warningThreshold;  // KB
};

// Bytes a toString buffer needs: the ten digits of 4294967295 and the
// terminator.
constexpr int kDbFigureSize = 11;

#endif  // QVD_DBHEALTH_DB_STATISTICS_INFO_H_
