// Code conversion of server text and the cost of a server API wrapper.
// NLS_VxTranslate over 1 MB of statistics-like text (64 chunks) in a plain
// and in a Japanese EUC locale, in both directions; and one wrapper call
// (QVD_VxTimeCompare against the simulated server) beside the bare entry
// point, with tracing off, at error level and with detail tracing into
// /dev/null.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "framework/trace.h"
#include "serverapi/qvd_api.h"
#include "util/nls.h"

namespace {

const size_t kMegabyte = 1 << 20;

std::string ServerText() {
  std::string text;
  for (int i = 0; text.size() < kMegabyte; i++)
    text += "server.users.peak" + std::to_string(i) + "\t1,234\r\n";
  text.resize(kMegabyte);
  return text;
}

void BM_Translate(benchmark::State& state, const char* lang, unsigned short mode) {
  setenv("LANG", lang, 1);
  std::string text = ServerText();
  std::vector<char> out(3 * text.size() + 1);
  for (auto _ : state) {
    unsigned long n = NLS_VxTranslate(mode, &text[0], text.size(), out.data(), out.size());
    benchmark::DoNotOptimize(n);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
  unsetenv("LANG");
}
BENCHMARK_CAPTURE(BM_Translate, PlainServerToHost, "C", NLS_SERVER_TO_HOST);
BENCHMARK_CAPTURE(BM_Translate, EucServerToHost, "ja_JP.eucJP", NLS_SERVER_TO_HOST);
BENCHMARK_CAPTURE(BM_Translate, EucHostToServer, "ja_JP.eucJP", NLS_HOST_TO_SERVER);

// The entry point alone, for the wrapper's share of the figures below.
void BM_DirectCall(benchmark::State& state) {
  VxTimeDate a = {{1, 2}};
  VxTimeDate b = {{1, 3}};
  for (auto _ : state) benchmark::DoNotOptimize(VxTimeCompare(&a, &b));
}
BENCHMARK(BM_DirectCall);

void BM_WrapperCall(benchmark::State& state, const char* levels) {
  setenv("QVD_TRACE_FILE", "/dev/null", 1);
  setenv("QVD_TRACE", levels, 1);
  TraceReload();
  VxTimeDate a = {{1, 2}};
  VxTimeDate b = {{1, 3}};
  for (auto _ : state) benchmark::DoNotOptimize(QVD_VxTimeCompare(&a, &b));
  setenv("QVD_TRACE", "error", 1);
  TraceReload();
}
BENCHMARK_CAPTURE(BM_WrapperCall, TracingOff, "none");
BENCHMARK_CAPTURE(BM_WrapperCall, ErrorTracing, "error");
BENCHMARK_CAPTURE(BM_WrapperCall, DetailTracing, "serverapi=detail");

}  // namespace

BENCHMARK_MAIN();
