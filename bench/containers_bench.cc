// Foundation containers beside their standard-library counterparts:
// put/get of 100,000 keys in QVDHashMap and std::unordered_map, and
// appending 1 MB to QVD::String and std::string, character by character and
// in 100-byte pieces.  Also the cost of a trace level test on the hot path.
#include <benchmark/benchmark.h>

#include <string>
#include <unordered_map>
#include <vector>

#include "agentlink/pwx_string.h"
#include "framework/trace.h"
#include "util/qvd_hash_map.h"
#include "util/qvd_string.h"

namespace {

const int kKeys = 100000;
const int kMegabyte = 1 << 20;

const std::vector<std::string>& Keys() {
  static const std::vector<std::string> keys = [] {
    std::vector<std::string> k;
    k.reserve(kKeys);
    for (int i = 0; i < kKeys; i++) k.push_back("request-" + std::to_string(i * 7919));
    return k;
  }();
  return keys;
}

void BM_QVDHashMap_PutGet(benchmark::State& state) {
  const std::vector<std::string>& keys = Keys();
  for (auto _ : state) {
    QVDHashMap map;
    for (const std::string& k : keys) map.put(k.c_str(), &k);
    size_t found = 0;
    for (const std::string& k : keys) found += map.get(k.c_str()) != nullptr;
    benchmark::DoNotOptimize(found);
  }
  state.SetItemsProcessed(state.iterations() * kKeys * 2);
}
BENCHMARK(BM_QVDHashMap_PutGet)->Unit(benchmark::kMillisecond);

void BM_StdUnorderedMap_PutGet(benchmark::State& state) {
  const std::vector<std::string>& keys = Keys();
  for (auto _ : state) {
    std::unordered_map<std::string, const void*> map;
    for (const std::string& k : keys) map[k] = &k;
    size_t found = 0;
    for (const std::string& k : keys) found += map.find(k) != map.end();
    benchmark::DoNotOptimize(found);
  }
  state.SetItemsProcessed(state.iterations() * kKeys * 2);
}
BENCHMARK(BM_StdUnorderedMap_PutGet)->Unit(benchmark::kMillisecond);

void BM_QVDString_Append1MB_Chars(benchmark::State& state) {
  for (auto _ : state) {
    QVD::String s;
    for (int i = 0; i < kMegabyte; i++) s.append('x');
    benchmark::DoNotOptimize(s.c_str());
  }
  state.SetBytesProcessed(state.iterations() * kMegabyte);
}
BENCHMARK(BM_QVDString_Append1MB_Chars)->Unit(benchmark::kMillisecond);

void BM_StdString_Append1MB_Chars(benchmark::State& state) {
  for (auto _ : state) {
    std::string s;
    for (int i = 0; i < kMegabyte; i++) s.push_back('x');
    benchmark::DoNotOptimize(s.data());
  }
  state.SetBytesProcessed(state.iterations() * kMegabyte);
}
BENCHMARK(BM_StdString_Append1MB_Chars)->Unit(benchmark::kMillisecond);

const char kPiece[] =
    "0123456789012345678901234567890123456789012345678901234567890123456789012345678901234567890123456789";

void BM_QVDString_Append1MB_Pieces(benchmark::State& state) {
  for (auto _ : state) {
    QVD::String s;
    for (int i = 0; i < kMegabyte / 100; i++) s.append(kPiece);
    benchmark::DoNotOptimize(s.c_str());
  }
  state.SetBytesProcessed(state.iterations() * (kMegabyte / 100) * 100);
}
BENCHMARK(BM_QVDString_Append1MB_Pieces)->Unit(benchmark::kMillisecond);

void BM_StdString_Append1MB_Pieces(benchmark::State& state) {
  for (auto _ : state) {
    std::string s;
    for (int i = 0; i < kMegabyte / 100; i++) s.append(kPiece);
    benchmark::DoNotOptimize(s.data());
  }
  state.SetBytesProcessed(state.iterations() * (kMegabyte / 100) * 100);
}
BENCHMARK(BM_StdString_Append1MB_Pieces)->Unit(benchmark::kMillisecond);

// The agent link's response buffer: reserve with 100 % headroom before each
// row, so the buffer doubles instead of growing by each row.
void BM_PWXString_Append1MB_Reserved(benchmark::State& state) {
  for (auto _ : state) {
    PWX::String s(4096);
    s.growthPercent = 100;
    for (int i = 0; i < kMegabyte / 100; i++) {
      s.reserve(s.length() + 101);
      s.append(kPiece);
    }
    benchmark::DoNotOptimize(s.c_str());
  }
  state.SetBytesProcessed(state.iterations() * (kMegabyte / 100) * 100);
}
BENCHMARK(BM_PWXString_Append1MB_Reserved)->Unit(benchmark::kMillisecond);

void BM_TraceLevel_Unchanged(benchmark::State& state) {
  static TraceUnit unit{"bench/containers"};
  for (auto _ : state) benchmark::DoNotOptimize(TraceLevel(&unit));
}
BENCHMARK(BM_TraceLevel_Unchanged)->ThreadRange(1, 2);

}  // namespace

BENCHMARK_MAIN();
