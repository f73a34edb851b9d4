// The single-row statistics builder and the row trace.
#include "stats/row_builder.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "agentlink/cp_client.h"
#include "framework/trace.h"
#include "state/globals.h"
#include "stats/snapshot.h"
#include "stats/snapshot_index.h"

QVD_TRACE_UNIT("stats/rows");

int64_t prevTCPIPKBRec = 0;
int64_t prevTCPIPKBSent = 0;
int64_t prevSMTPKBRec = 0;
int64_t prevSMTPKBSent = 0;

namespace {

// Column positions of the computed columns.
constexpr int kServerResponseTime = 15;
constexpr int kBytesReceived = 4;
constexpr int kBytesSent = 5;
constexpr int kTcpipKbReceivedInterval = 6;
constexpr int kTcpipKbSentInterval = 7;
constexpr int kSmtpKbReceivedInterval = 7;
constexpr int kSmtpKbSentInterval = 8;

// Texts of the computed columns; each column has its own buffer, valid
// until the next build of its group.
char g_responseTime[24];
char g_tcpipReceivedInterval[24];
char g_tcpipSentInterval[24];
char g_smtpReceivedInterval[24];
char g_smtpSentInterval[24];

const char* text(const char* s) { return s != nullptr ? s : "NULL"; }

long kilobytes(const char* value) { return strtol(value, nullptr, 10) / 1024; }

// Fills an interval column from a byte column when both the previous and
// the current kilobyte counts are at least 1.
void fillInterval(char** values, int count, int bytesColumn, int intervalColumn, int64_t previous,
                  char* buffer, size_t size, const char* traceFormat) {
  if (bytesColumn >= count || intervalColumn >= count || values[bytesColumn] == nullptr) return;
  long kb = kilobytes(values[bytesColumn]);
  if (previous < 1 || kb < 1) return;
  long interval = kb - static_cast<long>(previous);
  snprintf(buffer, size, "%ld", interval);
  values[intervalColumn] = buffer;
  QVD_DETAIL(traceFormat, static_cast<long>(previous), interval);
}

void fillComputedColumns(const char* groupName, char** values, int count) {
  if (strcmp(groupName, "Velora_Server64") == 0) {
    if (count <= kServerResponseTime) return;
    snprintf(g_responseTime, sizeof(g_responseTime), "%ld", responsetime.load());
    values[kServerResponseTime] = g_responseTime;
    QVD_DETAIL("server response time %s", g_responseTime);
  } else if (strcmp(groupName, "Velora_NET_TCPIP64") == 0) {
    fillInterval(values, count, kBytesReceived, kTcpipKbReceivedInterval, prevTCPIPKBRec,
                 g_tcpipReceivedInterval, sizeof(g_tcpipReceivedInterval),
                 "previous tcpip kb received: %ld, interval: %ld");
    fillInterval(values, count, kBytesSent, kTcpipKbSentInterval, prevTCPIPKBSent,
                 g_tcpipSentInterval, sizeof(g_tcpipSentInterval),
                 "previous tcpip kb sent: %ld, interval: %ld");
  } else if (strcmp(groupName, "Velora_SMTP64") == 0) {
    fillInterval(values, count, kBytesReceived, kSmtpKbReceivedInterval, prevSMTPKBRec,
                 g_smtpReceivedInterval, sizeof(g_smtpReceivedInterval),
                 "previous smtp kb received: %ld, interval: %ld");
    fillInterval(values, count, kBytesSent, kSmtpKbSentInterval, prevSMTPKBSent,
                 g_smtpSentInterval, sizeof(g_smtpSentInterval),
                 "previous smtp kb sent: %ld, interval: %ld");
  }
}

void sendRow(const char* requestHandle, char** values, int count) {
  cp_SetAttributeValues(const_cast<const char**>(values), count, requestHandle);
}

}  // namespace

void Parse_Velora_Data(const char* requestHandle, const char* groupName, char** values,
                       int count, const char* const* keywords, const char* const* columns) {
  QVD_ENTRY();
  if (values == nullptr || count < 1) {
    QVD_EXIT_VOID();
    return;
  }
  for (int i = 1; i < count; ++i) values[i] = nullptr;
  if (pStatBuffer == nullptr) {
    values[0] = server_name;
    logResults(values, columns, keywords, count, groupName);
    sendRow(requestHandle, values, count);
    QVD_EXIT_VOID();
    return;
  }
  const char* section = keywords != nullptr ? keywords[0] : nullptr;
  char* start = findRowStart(section, keywords, count);
  if (start == nullptr) {
    QVD_DETAIL("No keyword(%s) found for %s", text(section), groupName);
    QVD_EXIT_VOID();
    return;
  }
  bool any = false;
  for (int i = 1; i < count; ++i) {
    // Every column is the first occurrence of its keyword after the section.
    char* at = findKeyword(start, keywords[i]);
    values[i] = at != nullptr ? getValueKeyword(at, nullptr) : nullptr;
    any = any || values[i] != nullptr;
  }
  if (!any) {
    QVD_DETAIL("No data results for %s", groupName);
    QVD_EXIT_VOID();
    return;
  }
  values[0] = server_name;
  fillComputedColumns(groupName, values, count);
  logResults(values, columns, keywords, count, groupName);
  sendRow(requestHandle, values, count);
  QVD_EXIT_VOID();
}

void storeKilobyteCounters(const char* groupName, char* const* values) {
  int64_t* received = nullptr;
  int64_t* sent = nullptr;
  if (strcmp(groupName, "Velora_NET_TCPIP64") == 0) {
    received = &prevTCPIPKBRec;
    sent = &prevTCPIPKBSent;
  } else if (strcmp(groupName, "Velora_SMTP64") == 0) {
    received = &prevSMTPKBRec;
    sent = &prevSMTPKBSent;
  } else {
    return;
  }
  if (values[kBytesReceived] != nullptr) *received = kilobytes(values[kBytesReceived]);
  if (values[kBytesSent] != nullptr) *sent = kilobytes(values[kBytesSent]);
}

void logResults(char* const* values, const char* const* columns, const char* const* keywords,
                int count, const char* groupName) {
  if (values == nullptr || !QVD_TRACE_ON(TRACE_DETAIL)) return;
  QVD_DETAIL("Data results for %s: ", groupName);
  for (int i = 0; i < count; ++i) {
    const char* column = columns != nullptr ? columns[i] : "";
    if (keywords != nullptr) {
      QVD_DETAIL("%s[%d]=%s %s", column, i, text(values[i]), text(keywords[i]));
    } else {
      QVD_DETAIL("%s[%d]=%s ", column, i, text(values[i]));
    }
  }
}
