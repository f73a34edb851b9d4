// Agent link figures: parsing realistic agent request lines with our parser
// and with pugixml (MB/s), and building a 10,000-row answer (rows per second
// and reallocations of the response buffer).
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <dlfcn.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "agentlink/client_request_handler.h"
#include "agentlink/cp_client.h"
#include "agentlink/parser.h"

#if __has_include(<pugixml.hpp>)
#include <pugixml.hpp>
#define HAVE_PUGIXML 1
#endif

// Counts realloc calls while g_countReallocs is set: the response buffer
// grows by realloc.
static std::atomic<bool> g_countReallocs{false};
static std::atomic<long> g_reallocs{0};
extern "C" void* __libc_realloc(void*, size_t);
extern "C" void* realloc(void* p, size_t n) {
  if (g_countReallocs.load(std::memory_order_relaxed)) g_reallocs.fetch_add(1, std::memory_order_relaxed);
  return __libc_realloc(p, n);
}

namespace {

// Request lines as the agent sends them (without the line feed).
const std::vector<std::string>& Lines() {
  static const std::vector<std::string> lines = {
      "<dataRequest id=\"1042\" requestStartedID=\"77\"><attrGroup name=\"Velora_Server\"/></dataRequest>",
      "<dataRequest id=\"1043\" requestStartedID=\"78\" subnode=\"VD:srv1:inst\"><attrGroup name=\"Velora_Mail_By_Dest\"/>"
      "<requestInfo name=\"Destination\" value=\"mail.example.com\" op=\"EQ\" logOp=\"AND\"/>"
      "<requestInfo name=\"Waiting\" value=\"10\" op=\"GT\" logOp=\"OR\"/>"
      "<requestInfo name=\"Dead\" value=\"&lt;5&gt;\" op=\"LT\"/></dataRequest>",
      "<taskRequest id=\"88\"><task command=\"tell router &quot;update config&quot;\" user=\"CN=Admin/O=Example\"/></taskRequest>",
      "<startRequestInfo ag=\"Velora_Tasks\" requestStartedID=\"79\" subnode=\"VD:srv1:inst\"/>",
      "<stopRequestInfo ag=\"Velora_Tasks\" requestStartedID=\"79\" shuttingDown=\"FALSE\"/>",
      "<shutdown/>",
  };
  return lines;
}

size_t TotalBytes() {
  size_t n = 0;
  for (const auto& l : Lines()) n += l.size();
  return n;
}

// Reads the element name and the attributes an agent request carries, as
// the request decoder does.
class CountingHandler : public XMLHandler {
 public:
  void startElement(const char* name, HashMap* attributes) override {
    sum += name[0];
    for (const char* a : {"id", "name", "value", "op", "logOp", "ag", "requestStartedID", "subnode", "command"}) {
      const char* v = static_cast<const char*>(attributes->get(a));
      if (v != nullptr) sum += v[0];
    }
  }
  long sum = 0;
};

void BM_ParseOurParser(benchmark::State& state) {
  std::vector<char> buf(4096);
  CountingHandler handler;
  for (auto _ : state) {
    for (const auto& l : Lines()) {
      std::memcpy(buf.data(), l.c_str(), l.size() + 1);
      Parser p(&handler);
      benchmark::DoNotOptimize(p.parse(buf.data()));
    }
  }
  benchmark::DoNotOptimize(handler.sum);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * TotalBytes()));
}
BENCHMARK(BM_ParseOurParser);

// Parsing alone: the handler is told everything but reads nothing.
void BM_ParseOurParserNoReads(benchmark::State& state) {
  std::vector<char> buf(4096);
  XMLHandler handler;
  for (auto _ : state) {
    for (const auto& l : Lines()) {
      std::memcpy(buf.data(), l.c_str(), l.size() + 1);
      Parser p(&handler);
      benchmark::DoNotOptimize(p.parse(buf.data()));
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * TotalBytes()));
}
BENCHMARK(BM_ParseOurParserNoReads);

// The whole decode the client runs per line: parser plus request handler.
void BM_ParseOurParserWithRequestHandler(benchmark::State& state) {
  std::vector<char> buf(4096);
  for (auto _ : state) {
    for (const auto& l : Lines()) {
      std::memcpy(buf.data(), l.c_str(), l.size() + 1);
      ClientRequestXMLHandler handler;
      Parser p(&handler);
      benchmark::DoNotOptimize(p.parse(buf.data()));
      benchmark::DoNotOptimize(handler.getId());
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * TotalBytes()));
}
BENCHMARK(BM_ParseOurParserWithRequestHandler);

#ifdef HAVE_PUGIXML
// The same reads as CountingHandler, over pugixml's tree.
void Walk(const pugi::xml_node& node, long* sum) {
  for (pugi::xml_node c = node.first_child(); c; c = c.next_sibling()) {
    *sum += c.name()[0];
    for (const char* a : {"id", "name", "value", "op", "logOp", "ag", "requestStartedID", "subnode", "command"}) {
      pugi::xml_attribute attr = c.attribute(a);
      if (attr) *sum += attr.value()[0];
    }
    Walk(c, sum);
  }
}

void BM_ParsePugixml(benchmark::State& state) {
  std::vector<char> buf(4096);
  long sum = 0;
  for (auto _ : state) {
    for (const auto& l : Lines()) {
      std::memcpy(buf.data(), l.c_str(), l.size() + 1);
      pugi::xml_document doc;
      pugi::xml_parse_result r = doc.load_buffer_inplace(buf.data(), l.size());
      benchmark::DoNotOptimize(r.status);
      Walk(doc, &sum);
    }
  }
  benchmark::DoNotOptimize(sum);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * TotalBytes()));
}
BENCHMARK(BM_ParsePugixml);

void BM_ParsePugixmlNoReads(benchmark::State& state) {
  std::vector<char> buf(4096);
  for (auto _ : state) {
    for (const auto& l : Lines()) {
      std::memcpy(buf.data(), l.c_str(), l.size() + 1);
      pugi::xml_document doc;
      benchmark::DoNotOptimize(doc.load_buffer_inplace(buf.data(), l.size()).status);
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * TotalBytes()));
}
BENCHMARK(BM_ParsePugixmlNoReads);
#endif

// A loopback stand-in for the agent that swallows everything it is sent.
class DrainingAgent {
 public:
  DrainingAgent() {
    listen_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(listen_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    listen(listen_, 1);
    socklen_t len = sizeof a;
    getsockname(listen_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
    thread_ = std::thread([this] {
      conn_ = accept(listen_, nullptr, nullptr);
      std::vector<char> buf(1 << 16);
      while (recv(conn_.load(), buf.data(), buf.size(), 0) > 0) {
      }
    });
  }
  ~DrainingAgent() {
    thread_.join();
    close(conn_);
    close(listen_);
  }
  // Sends a data request line from the agent side, once connected.
  void request(const std::string& line) {
    while (conn_.load() < 0) std::this_thread::yield();
    send(conn_.load(), line.data(), line.size(), MSG_NOSIGNAL);
  }
  int port() const { return port_; }

 private:
  int listen_ = -1, port_ = 0;
  std::atomic<int> conn_{-1};
  std::thread thread_;
};

int handleMail;

void BM_Build10000RowAnswer(benchmark::State& state) {
  DrainingAgent agent;
  cp_setPort(agent.port());
  if (cp_OpenConnection() != CP_OK) {
    state.SkipWithError("no connection");
    return;
  }
  cp_RegisterAttrGroup("Velora_Mail_By_Dest", 1, &handleMail);
  cp_RegistrationComplete();
  // A row as a multi-row table has it: ten columns of everyday widths.
  const char* row[] = {"srv1/Example", "mail.example.com", "1234", "56", "0", "2026-12-07 10:00:00",
                       "Router", "a&b <x>", "17.5", "Connected"};
  const int kRows = 10000;
  long reallocs = 0, answers = 0;
  int id = 0;
  for (auto _ : state) {
    state.PauseTiming();
    std::string ids = std::to_string(++id);
    agent.request("<dataRequest id=\"" + ids + "\"><attrGroup name=\"Velora_Mail_By_Dest\"/></dataRequest>\n");
    CpRequest* req = nullptr;
    cp_WaitForRequest(&req);
    g_reallocs = 0;
    g_countReallocs = true;
    state.ResumeTiming();
    for (int i = 0; i < kRows; ++i) cp_SetAttributeValues(row, 10, req->id);
    cp_SendData(req->id);
    state.PauseTiming();
    g_countReallocs = false;
    if (answers == 0) state.counters["reallocs_first_answer"] = static_cast<double>(g_reallocs.load());
    reallocs += g_reallocs.load();
    ++answers;
    cp_FreeRequest(req);
    state.ResumeTiming();
  }
  state.counters["rows_per_s"] = benchmark::Counter(static_cast<double>(kRows), benchmark::Counter::kIsIterationInvariantRate);
  state.counters["reallocs_per_answer"] = static_cast<double>(reallocs) / static_cast<double>(answers);
  cp_CloseConnection();
}
BENCHMARK(BM_Build10000RowAnswer)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
