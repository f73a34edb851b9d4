#include "replication/repl_time.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "framework/trace.h"
#include "replication/text_utils.h"
#include "serverapi/qvd_api.h"

QVD_TRACE_UNIT("replication/time");

bool ReadDateFromString(const char* text, const _ServerInfoBlock* serverInfo, VxTimeDate* out) {
  VxTimeDate time = {{0, 0}};
  size_t len = strlen(text);
  if (len > 0xFFFF) len = 0xFFFF;
  VxStatus rc = QVD_VxTextToTime(&serverInfo->intlSettings, nullptr, text,
                                 static_cast<uint16_t>(len), &time);
  if (rc != 0) time = VxTimeDate{{0, 0}};
  *out = time;
  return rc == 0;
}

VxTimeDate GetDateFromString(const char* text, const _ServerInfoBlock* serverInfo) {
  VxTimeDate time;
  ReadDateFromString(text, serverInfo, &time);
  return time;
}

char* GetStringFromTimeDate(const VxTimeDate* time, char* buffer,
                            const _ServerInfoBlock* serverInfo) {
  uint16_t length = 0;
  if (QVD_VxTimeToText(&serverInfo->intlSettings, nullptr, time, buffer, 81, &length) != 0)
    buffer[0] = '\0';
  buffer[80] = '\0';
  return buffer;
}

void PrintTimeDate(const char* caller, const char* label, const VxTimeDate* time,
                   const _ServerInfoBlock* serverInfo) {
  if (!QVD_TRACE_ON(TRACE_DETAIL)) return;
  char text[81];
  QVD_DETAIL("%s: %s =|%s|", caller, label, GetStringFromTimeDate(time, text, serverInfo));
}

namespace {

// Reads a field of the date text: 1 not an integer, 2 out of range.
int readField(const std::string& text, long low, long high, long* value) {
  if (text.empty() || ValidIntAsString(text.c_str(), value) == 0) return 1;
  if (*value < low || *value > high) return 2;
  return 0;
}

}  // namespace

int settleStartDate(int useStartDate, const char* startDateText, VxTimeDate* start,
                    int defaultDaysBack) {
  if (useStartDate != 0) {
    VxTimeDate wildcard;
    QVD_VxSpecialTime(VX_TIME_WILDCARD, &wildcard);
    return QVD_VxTimeCompare(&wildcard, start) != 0 ? 1 : 0;
  }
  if (startDateText[0] != '\0') return setupTimeDate(startDateText, start);
  QVD_VxCurrentTime(start);
  QVD_VxTimeAdjust(start, 0, 0, 0, -defaultDaysBack, 0, 0);
  return 0;
}

int setupTimeDate(const char* text, VxTimeDate* time) {
  std::string all(text);
  long hour = 0, minute = 0;
  int result = 0;
  size_t colon = all.find(':');
  std::string date = all;
  if (colon != std::string::npos) {
    std::string h = colon >= 2 ? all.substr(colon - 2, 2) : all.substr(0, colon);
    int rc = readField(h, 0, 24, &hour);
    if (rc == 2) QVD_ERROR("hour given[%s] is not in range", h.c_str());
    if (rc == 1) QVD_ERROR("hour given[%s] is not an integer", h.c_str());
    if (rc != 0) result = 1;
    std::string m = all.substr(colon + 1, 2);
    if (result == 0 && !m.empty()) {
      rc = readField(m, 0, 60, &minute);
      if (rc == 2) QVD_ERROR("minute given[%s] is not in range", m.c_str());
      if (rc == 1) QVD_ERROR("minute given[%s] is not an integer", m.c_str());
      if (rc != 0) result = 1;
    }
    size_t blank = all.find(' ');
    date = all.substr(0, blank != std::string::npos && blank < colon ? blank : (colon >= 2 ? colon - 2 : 0));
  }
  long month = 0, day = 0, year = 0;
  if (result == 0) {
    size_t s1 = date.find('/');
    size_t s2 = s1 == std::string::npos ? std::string::npos : date.find('/', s1 + 1);
    if (s1 == std::string::npos || s2 == std::string::npos) {
      QVD_ERROR("date given[%s] is not month/day/year", date.c_str());
      result = 1;
    } else {
      std::string mo = date.substr(0, s1), d = date.substr(s1 + 1, s2 - s1 - 1);
      std::string y = date.substr(s2 + 1, 4);
      int rc = readField(mo, 0, 12, &month);
      if (rc == 2) QVD_ERROR("month given[%s] is not in range", mo.c_str());
      if (rc == 1) QVD_ERROR("month given[%s] is not an integer", mo.c_str());
      if (rc == 0) {
        rc = readField(d, 0, 31, &day);
        if (rc == 2) QVD_ERROR("day given[%s] is not in range", d.c_str());
        if (rc == 1) QVD_ERROR("day given[%s] is not an integer", d.c_str());
      }
      if (rc == 0) {
        rc = readField(y, 1970, 99999, &year);
        if (rc == 2) QVD_ERROR("year given[%s] is not in range", y.c_str());
        if (rc == 1) QVD_ERROR("year given[%s] is not an integer", y.c_str());
      }
      if (rc != 0) result = 1;
    }
  }
  if (result == 0) {
    VxTime parts;
    memset(&parts, 0, sizeof parts);
    QVD_VxCurrentTime(&parts.GM);
    if (QVD_VxTimeBreakDown(&parts) != 0) {
      result = 1;
    } else {
      parts.year = static_cast<int32_t>(year);
      parts.month = static_cast<int32_t>(month);
      parts.day = static_cast<int32_t>(day);
      parts.hour = static_cast<int32_t>(hour);
      parts.minute = static_cast<int32_t>(minute);
      parts.second = 0;
      parts.hundredth = 0;
      if (QVD_VxTimeAssemble(&parts) != 0) {
        result = 1;
      } else {
        *time = parts.GM;
      }
    }
  }
  QVD_DETAIL("Returning result [%ld]", (long)result);
  return result;
}

VxTimeDate setTimeDateTime(VxTimeDate time, int hour, int minute, int second, bool* ok) {
  VxTime parts;
  memset(&parts, 0, sizeof parts);
  parts.GM = time;
  bool done = false;
  if (QVD_VxTimeBreakDown(&parts) == 0) {
    parts.hour = hour;
    parts.minute = minute;
    parts.second = second;
    parts.hundredth = 0;
    if (QVD_VxTimeAssemble(&parts) == 0) {
      time = parts.GM;
      done = true;
    }
  }
  if (ok != nullptr) *ok = done;
  return time;
}

bool timeOfDay(const VxTimeDate& time, int* hour, int* minute, int* second) {
  VxTime parts;
  memset(&parts, 0, sizeof parts);
  parts.GM = time;
  if (QVD_VxTimeBreakDown(&parts) != 0) return false;
  *hour = parts.hour;
  *minute = parts.minute;
  *second = parts.second;
  return true;
}

int timeDateFallsOnScheduledDay(const VxTimeDate& time, const char* weekdays) {
  VxTime parts;
  memset(&parts, 0, sizeof parts);
  parts.GM = time;
  if (QVD_VxTimeBreakDown(&parts) != 0) return 0;
  char digit[21];
  ZELitoa(parts.weekday, digit);
  return strstr(weekdays, digit) != nullptr ? 1 : 0;
}

long timeKey(const VxTimeDate& time) {
  static const VxTimeDate origin = {{0, 0}};
  return QVD_VxTimeDifference(&time, &origin);
}

int compareTimes(const VxTimeDate& a, long keyA, const VxTimeDate& b, long keyB) {
  if (keyA < keyB - 1) return -1;
  if (keyA > keyB + 1) return 1;
  return QVD_VxTimeCompare(&a, &b);
}
