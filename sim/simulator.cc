#include "sim/simulator.h"

#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>

#include "sim/vaxel_sim.h"

namespace vaxelsim {

namespace {

Simulator* g_sim = nullptr;
std::atomic<pid_t> g_pid{0};  // the process that loaded the library; forked children stay quiet

void WriteExitLine() {
  if (g_sim == nullptr || getpid() != g_pid) return;
  std::lock_guard<std::mutex> lock(g_sim->mu);
  g_sim->log.Write(g_sim->ExitLine());
}

}  // namespace

Simulator::Simulator() {
  log.Open(getenv("VAXEL_SIM_LOG"));
}

Simulator& Simulator::Get() {
  static std::once_flag once;
  std::call_once(once, [] {
    g_sim = new Simulator();  // never deleted: see the header
    g_pid = getpid();
    atexit(WriteExitLine);
  });
  return *g_sim;
}

void Simulator::FollowEnvironment() {
  const char* env = getenv("VAXEL_SIM_DIR");
  std::string dir = env == nullptr ? "" : env;
  if (dirKnown_ && dir == dirFromEnv_) return;
  dirKnown_ = true;
  dirFromEnv_ = dir;
  model.SetDirectory(dir);
}

namespace {
thread_local int t_callbackDepth = 0;
}  // namespace

CallbackScope::CallbackScope() { ++t_callbackDepth; }
CallbackScope::~CallbackScope() { --t_callbackDepth; }
bool CallbackScope::Active() { return t_callbackDepth > 0; }

VxStatus Simulator::Enter(const char* entry) {
  FollowEnvironment();
  uint64_t call = ++calls_[entry];
  model.Hold(CallbackScope::Active());
  const ModelData& data = model.Data();
  model.Hold(true);  // the rest of the call needs no second look
  auto it = data.faults.find(entry);
  if (it != data.faults.end() && it->second.Applies(call)) return it->second.status;
  return 0;
}

int Simulator::DelayOf(const char* entry) {
  const ModelData& data = model.Data();
  auto it = data.delays.find(entry);
  return it == data.delays.end() ? 0 : it->second;
}

int64_t Simulator::NowTicks() {
  const ModelData& data = model.Data();
  switch (data.clock) {
    case ModelData::Clock::kFixed:
      return data.fixedTicks;
    case ModelData::Clock::kOffset:
      return RealNowTicks() + data.offsetSeconds * kTicksPerSecond;
    case ModelData::Clock::kReal:
      break;
  }
  return RealNowTicks();
}

void Simulator::Report(const std::string& problem) {
  fprintf(stderr, "vaxel sim: %s\n", problem.c_str());
  log.Write("problem " + LogLine("").Text("text", problem.c_str()).str().substr(1));
}

VxStatus Simulator::Done(LogLine& line, VxStatus status) {
  line.Unsigned("rc", status);
  log.Write(line);
  return status;
}

uint64_t Simulator::Calls(const std::string& entry) const {
  auto it = calls_.find(entry);
  return it == calls_.end() ? 0 : it->second;
}

void Simulator::ClaimExitLine() { g_pid = getpid(); }

void Simulator::Reset() {
  ClaimExitLine();
  handles.Clear();
  calls_.clear();
  runtimeUp = false;
  dirKnown_ = false;
  FollowEnvironment();
  log.Open(getenv("VAXEL_SIM_LOG"));
}

std::string Simulator::ExitLine() const {
  LogLine line("exit");
  line.Unsigned("handles_held", handles.Held())
      .Unsigned("memory", handles.Held(HandleKind::kMemory))
      .Unsigned("databases", handles.Held(HandleKind::kDatabase))
      .Unsigned("documents", handles.Held(HandleKind::kDocument))
      .Unsigned("collections", handles.Held(HandleKind::kCollection));
  return line.str();
}

}  // namespace vaxelsim

using vaxelsim::HandleKind;
using vaxelsim::Simulator;

extern "C" unsigned vaxelsim_handles_held(void) {
  Simulator& sim = Simulator::Get();
  std::lock_guard<std::mutex> lock(sim.mu);
  return static_cast<unsigned>(sim.handles.Held());
}

extern "C" unsigned vaxelsim_memory_handles_held(void) {
  Simulator& sim = Simulator::Get();
  std::lock_guard<std::mutex> lock(sim.mu);
  return static_cast<unsigned>(sim.handles.Held(HandleKind::kMemory));
}

extern "C" unsigned long vaxelsim_call_count(const char* entryPoint) {
  if (entryPoint == nullptr) return 0;
  Simulator& sim = Simulator::Get();
  std::lock_guard<std::mutex> lock(sim.mu);
  return static_cast<unsigned long>(sim.Calls(entryPoint));
}

extern "C" void vaxelsim_reset(void) {
  Simulator& sim = Simulator::Get();
  std::lock_guard<std::mutex> lock(sim.mu);
  sim.Reset();
}
