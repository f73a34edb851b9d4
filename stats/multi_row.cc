// The multi-row statistics builders: server tasks and mail destinations.
#include "stats/multi_row.h"

#include <stdio.h>
#include <string.h>

#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "agentlink/cp_client.h"
#include "framework/trace.h"
#include "serverapi/qvd_api.h"
#include "state/globals.h"
#include "stats/catalogue.h"
#include "stats/row_builder.h"
#include "stats/snapshot.h"
#include "stats/snapshot_index.h"

QVD_TRACE_UNIT("stats/multirow");

namespace {

// Row buffers: they stay valid after the build, as the value slots may
// still point at them until the next snapshot.
char g_taskDuration[24];
char g_taskDate[kMaxTaskDateText + 1];
char g_destination[2][kMaxDestinationName + 1];

const char* windowEnd() { return pStatBuffer + dwStatBufferLen; }

void sendRow(const char* requestHandle, char** values, int count) {
  cp_SetAttributeValues(const_cast<const char**>(values), count, requestHandle);
}

// ---------------------------------------------------------------------------
// Tasks.

const VxLocaleFormat& serverIntl() {
  return GLOBAL_ServerInfoBlock != nullptr ? GLOBAL_ServerInfoBlock->intlSettings : intl_format;
}

// The date separator of the server's time text: the first character that is
// not a digit ("12/06/2026 ..." and "2026/12/06 ..." both give '/').
char dateSeparator(const char* timeText) {
  for (const char* p = timeText; *p != '\0'; ++p) {
    if (*p < '0' || *p > '9') return *p;
  }
  char fromSettings = serverIntl().DateString[0];
  return fromSettings != '\0' ? fromSettings : '/';
}

// Puts the task's date (written first/second/year) into the server's date
// order.
void localiseDate(char* date, char separator) {
  if (strlen(date) < 10) return;  // too short to hold the three fields
  uint16_t flags = serverIntl().Flags;
  char first[3] = {date[0], date[1], '\0'};
  char second[3] = {date[3], date[4], '\0'};
  char year[5] = {date[6], date[7], date[8], date[9], '\0'};
  char head[11];
  if (flags & VX_INTL_DATE_DMY) {
    snprintf(head, sizeof(head), "%s%c%s%c%s", second, separator, first, separator, year);
  } else if (flags & VX_INTL_DATE_YMD) {
    snprintf(head, sizeof(head), "%s%c%s%c%s", year, separator, first, separator, second);
  } else {
    return;
  }
  memcpy(date, head, 10);
  QVD_DETAIL("task time localized: %s", date);
}

// Seconds since the date in the last [...] of the status; 0 without one.
long taskAge(const char* status, const VxTimeDate& now, char separator) {
  if (status == nullptr) return 0;
  const char* bracket = strrchr(status, '[');
  if (bracket == nullptr) return 0;
  QVD_DETAIL("stat date = %s", bracket);
  size_t length = strlen(bracket + 1);
  if (length == 0) return 0;
  length -= 1;  // the closing bracket
  if (length > static_cast<size_t>(kMaxTaskDateText)) length = kMaxTaskDateText;
  memcpy(g_taskDate, bracket + 1, length);
  g_taskDate[length] = '\0';
  QVD_DETAIL("task time = %s", g_taskDate);
  localiseDate(g_taskDate, separator);
  VxTimeDate taskTime;
  if (QVD_VxTextToTime(&serverIntl(), nullptr, g_taskDate, static_cast<uint16_t>(strlen(g_taskDate)),
                       &taskTime) != 0) {
    return 0;
  }
  return QVD_VxTimeDifference(&now, &taskTime);
}

// ---------------------------------------------------------------------------
// Mail destinations.

bool lineEnd(char c) { return c == '\t' || c == '\r' || c == '\n' || c == '\0'; }

// The last full stop of the statistic name that starts at `begin` (the
// name ends at its tab or line end), or null when the name has none.
const char* lastPeriodInName(const char* begin) {
  const char* end = windowEnd();
  const char* last = nullptr;
  for (const char* p = begin; p < end && !lineEnd(*p); ++p)
    if (*p == '.') last = p;
  return last;
}

// The destination of a "<section>.<destination>.<statistic>" name at `at`:
// the text after the first full stop from `at` up to the last full stop of
// the statistic's name.  Destination names may hold full stops themselves
// (smtp.internet, acme.com); the statistic after the last one never does.
// False when the name has no such part.
bool destinationAt(const char* at, std::string_view* destination) {
  const char* end = windowEnd();
  const char* p = at;
  while (p < end && *p != '.' && !lineEnd(*p)) ++p;
  if (p >= end || *p != '.') return false;
  const char* begin = ++p;
  const char* last = lastPeriodInName(begin);
  if (last == nullptr) return false;
  *destination = std::string_view(begin, last - begin);
  return true;
}

// The destination of the line whose section keyword (of `sectionLength`
// bytes, ending in its full stop) is at `at`, or false.  A line is
// "consumed" with a destination D when its own destination is D; that is
// exactly when this key equals D.
bool keyAt(const char* at, size_t sectionLength, std::string_view* key) {
  const char* begin = at + sectionLength;
  const char* last = lastPeriodInName(begin);
  if (last == nullptr) return false;
  *key = std::string_view(begin, last - begin);
  return true;
}

// One build of a mail-by-destination group.  The section keyword is found
// once over the whole window; its occurrences are chained by destination, so
// each destination's statistics are looked up among its own lines only and
// the cost stays linear in the size of the snapshot.
class MailByDestBuilder {
 public:
  MailByDestBuilder(const char* requestHandle, const char* groupName, char** values,
                    const char* const* keywords, const char* const* columns, char* nameBuffer)
      : requestHandle_(requestHandle), groupName_(groupName), values_(values),
        keywords_(keywords), columns_(columns), nameBuffer_(nameBuffer) {}

  void run() {
    for (int i = 1; i < kColumns; ++i) values_[i] = nullptr;
    const char* section = keywords_[0];
    if (pStatBuffer == nullptr || section == nullptr || *section == '\0') return;
    section_ = section;
    collectOccurrences();
    for (size_t index = 0; index < occurrences_.size(); ++index) buildAt(index);
  }

 private:
  static constexpr int kColumns = 6;
  static constexpr int kFirstStatistic = 2;
  static constexpr uint32_t kNone = UINT32_MAX;

  struct Occurrence {
    uint32_t offset;
    uint32_t key;   // id of the text between the section keyword and the next full stop
    uint32_t next;  // next occurrence with the same key, or kNone
  };

  void collectOccurrences() {
    std::unordered_map<std::string_view, uint32_t> ids;
    std::vector<uint32_t> lastOfKey;
    uint32_t previousKey = kNone;
    for (const char* at : findAllOccurrences(section_.c_str())) {
      Occurrence o{static_cast<uint32_t>(at - pStatBuffer), kNone, kNone};
      std::string_view key;
      if (keyAt(at, section_.size(), &key)) {
        // A destination's lines usually follow each other: same key as the
        // line before, no lookup.
        if (previousKey != kNone && keys_[previousKey] == key) {
          o.key = previousKey;
        } else {
          auto inserted = ids.emplace(key, static_cast<uint32_t>(keys_.size()));
          o.key = inserted.first->second;
          if (inserted.second) {
            keys_.push_back(key);
            lastOfKey.push_back(kNone);
          }
        }
        previousKey = o.key;
        uint32_t index = static_cast<uint32_t>(occurrences_.size());
        if (lastOfKey[o.key] != kNone) occurrences_[lastOfKey[o.key]].next = index;
        lastOfKey[o.key] = index;
      }
      occurrences_.push_back(o);
    }
    consumed_.assign(keys_.size(), false);
    ids_ = std::move(ids);
  }

  void buildAt(size_t index) {
    const Occurrence& o = occurrences_[index];
    if (o.key != kNone && consumed_[o.key]) return;  // a line of a destination already built
    char* at = pStatBuffer + o.offset;
    std::string_view destination;
    if (!destinationAt(at, &destination)) return;
    bool ownKey = o.key != kNone && keys_[o.key] == destination;
    bool any = false;
    for (int i = kFirstStatistic; i < kColumns; ++i) {
      char* found = ownKey ? findOnOwnLines(index, destination, keywords_[i])
                           : findInText(at, destination, keywords_[i]);
      values_[i] = found != nullptr ? getValueKeyword(found, nullptr) : nullptr;
      any = any || values_[i] != nullptr;
    }
    consume(destination);
    if (!any) return;
    size_t shown = destination.size();
    if (shown > static_cast<size_t>(kMaxDestinationName)) {
      QVD_DETAIL("destination name of %zu bytes cut to %d", shown, kMaxDestinationName);
      shown = kMaxDestinationName;
    }
    memcpy(nameBuffer_, destination.data(), shown);
    nameBuffer_[shown] = '\0';
    values_[0] = server_name;
    values_[1] = nameBuffer_;
    logResults(values_, columns_, keywords_, kColumns, groupName_);
    sendRow(requestHandle_, values_, kColumns);
  }

  // Every later line that begins with section + destination + "." belongs
  // to this destination: exactly the lines whose key is the destination.
  void consume(std::string_view destination) {
    auto id = ids_.find(destination);
    if (id != ids_.end()) consumed_[id->second] = true;
  }

  bool consumedAt(const char* p) const {
    std::string_view key;
    if (!keyAt(p, section_.size(), &key)) return false;
    auto id = ids_.find(key);
    return id != ids_.end() && consumed_[id->second];
  }

  // The first "<section><destination><suffix>" from the occurrence at
  // `index` on.  A suffix that starts with a full stop can only stand on a
  // line keyed by the destination, so only those lines are looked at.
  char* findOnOwnLines(size_t index, std::string_view destination, const char* suffix) {
    std::string_view tail(suffix != nullptr ? suffix : "");
    if (tail.empty() || tail[0] != '.') {
      return findInText(pStatBuffer + occurrences_[index].offset, destination, suffix);
    }
    size_t prefix = section_.size() + destination.size();
    for (uint32_t i = static_cast<uint32_t>(index); i != kNone; i = occurrences_[i].next) {
      const char* line = pStatBuffer + occurrences_[i].offset;
      if (static_cast<size_t>(windowEnd() - line) < prefix + tail.size()) break;
      if (memcmp(line + prefix, tail.data(), tail.size()) == 0 &&
          memcmp(line, section_.data(), section_.size()) == 0) {
        return pStatBuffer + occurrences_[i].offset;
      }
    }
    return nullptr;
  }

  // Unusual keywords: search the text, passing over consumed lines.
  char* findInText(char* from, std::string_view destination, const char* suffix) {
    std::string wanted = section_ + std::string(destination) + (suffix != nullptr ? suffix : "");
    for (char* p = from; (p = str_str(p, wanted.c_str(), nullptr)) != nullptr; ++p) {
      if (!consumedAt(p)) return p;
    }
    return nullptr;
  }

  const char* requestHandle_;
  const char* groupName_;
  char** values_;
  const char* const* keywords_;
  const char* const* columns_;
  char* nameBuffer_;
  std::string section_;
  std::vector<Occurrence> occurrences_;
  std::vector<std::string_view> keys_;  // views into the snapshot
  std::unordered_map<std::string_view, uint32_t> ids_;
  std::vector<bool> consumed_;  // by key id
};

}  // namespace

void Parse_Velora_Tasks(const char* requestHandle) {
  QVD_ENTRY();
  char** values = Velora_Tasks;
  for (int i = 1; i < Velora_Tasks_ColumnCount; ++i) values[i] = nullptr;
  if (pStatBuffer == nullptr) {
    QVD_EXIT_VOID();
    return;
  }
  VxTimeDate now;
  QVD_VxCurrentTime(&now);
  char nowText[80] = "";
  uint16_t nowLength = 0;
  if (QVD_VxTimeToText(nullptr, nullptr, &now, nowText, sizeof(nowText), &nowLength) != 0) {
    nowText[0] = '\0';
  }
  nowText[sizeof(nowText) - 1] = '\0';
  QVD_DETAIL("current time : %s", nowText);
  char separator = dateSeparator(nowText);

  const char* keyword = Velora_Tasks_Keyword[0];
  for (char* p = pStatBuffer; (p = findKeyword(p, keyword)) != nullptr;) {
    char* name = getValueKeyword(p, nullptr);
    if (name == nullptr) {
      ++p;
      continue;
    }
    // The task name ends at the first colon of the task's own line.
    char* colon = strchr(name, ':');
    char* status = nullptr;
    if (colon != nullptr) {
      *colon = '\0';
      status = colon + 1;
      p = colon + 1;
    } else {
      p = name + strlen(name);
      if (p < windowEnd()) ++p;
    }
    values[0] = server_name;
    values[1] = name;
    values[2] = status;
    long minutes = taskAge(status, now, separator) / 60;
    snprintf(g_taskDuration, sizeof(g_taskDuration), "%ld", minutes);
    values[3] = g_taskDuration;
    logResults(values, Velora_Tasks_Column, nullptr, Velora_Tasks_ColumnCount, "Velora_Tasks");
    sendRow(requestHandle, values, Velora_Tasks_ColumnCount);
    if (p >= windowEnd()) break;
  }
  QVD_EXIT_VOID();
}

void Parse_Velora_Mail_By_Dest(const char* requestHandle) {
  QVD_ENTRY();
  MailByDestBuilder(requestHandle, "Velora_Mail_By_Dest", Velora_Mail_By_Dest,
                    Velora_Mail_By_Dest_Keyword, Velora_Mail_By_Dest_Column, g_destination[0])
      .run();
  QVD_EXIT_VOID();
}

void Parse_Velora_Mail_By_Dest64(const char* requestHandle) {
  QVD_ENTRY();
  MailByDestBuilder(requestHandle, "Velora_Mail_By_Dest64", Velora_Mail_By_Dest64,
                    Velora_Mail_By_Dest64_Keyword, Velora_Mail_By_Dest64_Column, g_destination[1])
      .run();
  QVD_EXIT_VOID();
}
