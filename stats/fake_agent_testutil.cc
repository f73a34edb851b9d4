// Test support for the statistics builders: loopback agent, snapshot set-up
// and the straightforward builders used as the oracle.
#include "stats/fake_agent_testutil.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>

#include "agentlink/cp_client.h"
#include "gtest/gtest.h"
#include "state/globals.h"
#include "stats/catalogue.h"
#include "stats/row_builder.h"
#include "stats/snapshot.h"
#include "stats/stat_text.h"

namespace {

char kServer[] = "Velora1/Acme";

}  // namespace

FakeAgent* FakeAgentTest::agent_ = nullptr;

void FakeAgentTest::SetUpTestSuite() { agent_ = new FakeAgent(); }

void FakeAgentTest::TearDownTestSuite() {
  delete agent_;
  agent_ = nullptr;
}

void FakeAgentTest::SetUp() {
  server_name = kServer;
  prevTCPIPKBRec = prevTCPIPKBSent = prevSMTPKBRec = prevSMTPKBSent = 0;
}

void FakeAgentTest::TearDown() { freeStats(); }

FakeAgent::FakeAgent() {
  listenFd_ = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = 0;
  int one = 1;
  setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one));
  EXPECT_EQ(0, bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)));
  EXPECT_EQ(0, listen(listenFd_, 4));
  socklen_t len = sizeof(addr);
  getsockname(listenFd_, reinterpret_cast<sockaddr*>(&addr), &len);
  cp_setPort(ntohs(addr.sin_port));
  EXPECT_EQ(CP_OK, cp_OpenConnection());
  fd_ = accept(listenFd_, nullptr, nullptr);
  EXPECT_GE(fd_, 0);
  reader_ = std::thread([this] { ReadLoop(); });
  for (const QvdTableDescriptor& table : qvdTableCatalogue) {
    EXPECT_EQ(CP_OK, cp_RegisterAttrGroup(table.groupName, table.version, tableToken(&table)));
  }
  EXPECT_EQ(CP_OK, cp_RegistrationComplete());
  std::string registration = NextLine();
  EXPECT_EQ(0u, registration.find("<cpciRegister")) << registration;
}

FakeAgent::~FakeAgent() {
  cp_CloseConnection();
  if (fd_ >= 0) shutdown(fd_, SHUT_RDWR);
  if (reader_.joinable()) reader_.join();
  if (fd_ >= 0) close(fd_);
  if (listenFd_ >= 0) close(listenFd_);
}

void FakeAgent::ReadLoop() {
  std::string pending;
  char chunk[65536];
  for (;;) {
    ssize_t n = read(fd_, chunk, sizeof(chunk));
    if (n <= 0) break;
    pending.append(chunk, static_cast<size_t>(n));
    size_t nl;
    while ((nl = pending.find('\n')) != std::string::npos) {
      std::lock_guard<std::mutex> lock(mu_);
      lines_.push_back(pending.substr(0, nl));
      pending.erase(0, nl + 1);
      cv_.notify_all();
    }
  }
  std::lock_guard<std::mutex> lock(mu_);
  closed_ = true;
  cv_.notify_all();
}

std::string FakeAgent::NextLine() {
  std::unique_lock<std::mutex> lock(mu_);
  cv_.wait_for(lock, std::chrono::seconds(20), [this] { return !lines_.empty() || closed_; });
  if (lines_.empty()) {
    ADD_FAILURE() << "the agent received no line";
    return "";
  }
  std::string line = lines_.front();
  lines_.pop_front();
  return line;
}

Rows FakeAgent::Answer(const std::string& group, const std::function<void(const char* id)>& build) {
  std::string id = std::to_string(nextId_++);
  std::string request =
      "<dataRequest id=\"" + id + "\"><attrGroup name=\"" + group + "\"/></dataRequest>\n";
  EXPECT_EQ(static_cast<ssize_t>(request.size()), write(fd_, request.data(), request.size()));
  CpRequest* filed = nullptr;
  EXPECT_EQ(CP_OK, cp_WaitForRequest(&filed));
  EXPECT_EQ(CP_REQ_DATA, filed->type);
  build(filed->id);
  EXPECT_EQ(CP_OK, cp_SendData(filed->id));
  cp_FreeRequest(filed);
  std::string line = NextLine();
  EXPECT_NE(std::string::npos, line.find("<dataResponse id=\"" + id + "\"")) << line;
  return ParseRows(line);
}

namespace {

std::string Unescape(const std::string& v) {
  static const struct {
    const char* entity;
    char c;
  } kEntities[] = {{"&amp;", '&'}, {"&apos;", '\''}, {"&quot;", '"'},
                   {"&lt;", '<'},  {"&gt;", '>'},    {"&#10;", '\n'}};
  std::string out;
  for (size_t i = 0; i < v.size();) {
    bool replaced = false;
    for (const auto& e : kEntities) {
      size_t n = strlen(e.entity);
      if (v.compare(i, n, e.entity) == 0) {
        out += e.c;
        i += n;
        replaced = true;
        break;
      }
    }
    if (!replaced) out += v[i++];
  }
  return out;
}

}  // namespace

Rows ParseRows(const std::string& line) {
  Rows rows;
  for (size_t in = line.find("<in><al>"); in != std::string::npos;
       in = line.find("<in><al>", in + 1)) {
    size_t end = line.find("</al></in>", in);
    Row row;
    for (size_t a = line.find("<a v=\"", in); a != std::string::npos && a < end;
         a = line.find("<a v=\"", a + 1)) {
      size_t begin = a + 6;
      row.push_back(Unescape(line.substr(begin, line.find('"', begin) - begin)));
    }
    rows.push_back(row);
  }
  return rows;
}

void InstallSnapshot(const std::string& text) {
  ASSERT_EQ(0, installStatsText(text.data(), text.size()));
}

void SetSeparators(char thousands, char decimal) {
  memset(intl_format.ThousandString, 0, sizeof(intl_format.ThousandString));
  memset(intl_format.DecimalString, 0, sizeof(intl_format.DecimalString));
  intl_format.ThousandString[0] = thousands;
  intl_format.DecimalString[0] = decimal;
}

// ---------------------------------------------------------------------------
// Oracle.

namespace {

Row ToRow(char* const* values, int count) {
  Row row;
  for (int i = 0; i < count; ++i) row.push_back(values[i] != nullptr ? values[i] : "");
  return row;
}

bool LineEnd(char c) { return c == '\t' || c == '\r' || c == '\n' || c == '\0'; }

}  // namespace

Rows OracleSingleRow(const char* groupName) {
  const QvdTableDescriptor* table = findTableDescriptor(groupName);
  std::vector<char*> values(table->columnCount, nullptr);
  char* start = str_str(pStatBuffer, table->keywords[0], nullptr);
  if (start == nullptr) return {};
  bool any = false;
  for (int i = 1; i < table->columnCount; ++i) {
    values[i] = getValueKeyword(start, table->keywords[i]);
    any = any || values[i] != nullptr;
  }
  if (!any) return {};
  values[0] = server_name;
  Row row = ToRow(values.data(), table->columnCount);
  if (strcmp(groupName, "Velora_Server64") == 0) row[15] = std::to_string(responsetime.load());
  return {row};
}

Rows OracleMailByDest(const char* groupName) {
  const QvdTableDescriptor* table = findTableDescriptor(groupName);
  const char* section = table->keywords[0];
  Rows rows;
  char* values[6];
  for (char* p = pStatBuffer; (p = str_str(p, section, nullptr)) != nullptr; ++p) {
    char* d1 = findPeriod(p, 1);
    if (*d1 != '.') continue;
    bool crossesLine = false;
    for (char* q = p; q < d1; ++q) crossesLine = crossesLine || LineEnd(*q);
    if (crossesLine) continue;
    // The destination runs to the last full stop of the statistic's name.
    char* d2 = nullptr;
    for (char* q = d1 + 1; !LineEnd(*q); ++q)
      if (*q == '.') d2 = q;
    if (d2 == nullptr) continue;
    std::string destination(d1 + 1, d2);
    std::string base = std::string(section) + destination;
    bool any = false;
    for (int i = 2; i < 6; ++i) {
      values[i] = getValueKeyword(p, (base + table->keywords[i]).c_str());
      any = any || values[i] != nullptr;
    }
    if (any) {
      values[0] = server_name;
      std::string shown = destination.substr(0, 255);
      values[1] = &shown[0];
      rows.push_back(ToRow(values, 6));
    }
    // Consumed: the later lines of exactly this destination (no further
    // full stop before the statistic).
    std::string consumed = base + ".";
    for (char* q = p; (q = str_str(q, consumed.c_str(), nullptr)) != nullptr; ++q) {
      bool own = true;
      for (char* r = q + consumed.size(); !LineEnd(*r); ++r) own = own && *r != '.';
      if (own) *q = '!';
    }
  }
  return rows;
}

Rows OracleTasks() {
  Rows rows;
  const char* keyword = Velora_Tasks_Keyword[0];
  char* end = pStatBuffer + dwStatBufferLen;
  for (char* p = pStatBuffer; (p = str_str(p, keyword, nullptr)) != nullptr;) {
    char* name = getValueKeyword(p, nullptr);
    if (name == nullptr) {
      ++p;
      continue;
    }
    char* colon = strchr(name, ':');
    char* values[3] = {server_name, name, nullptr};
    if (colon != nullptr) {
      *colon = '\0';
      values[2] = colon + 1;
      p = colon + 1;
    } else {
      p = name + strlen(name);
      if (p < end) ++p;
    }
    rows.push_back(ToRow(values, 3));
    if (p >= end) break;
  }
  return rows;
}
