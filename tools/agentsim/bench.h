// agentsim's benchmark mode: round trips of data requests against a running
// collector, beside the floor that the loopback sockets alone set for the
// same traffic, and the collector's resident memory along the run.
//
// Figures are printed (or written as one JSON object); nothing here judges
// them.
#ifndef QVD_TOOLS_AGENTSIM_BENCH_H_
#define QVD_TOOLS_AGENTSIM_BENCH_H_

#include <string>
#include <vector>

#include "tools/agentsim/options.h"
#include "tools/agentsim/report.h"

namespace agentsim {

class Runner;

// Runs the benchmark over the runner's connection (after the registration):
// a warm-up (every group once, then one unmeasured burst), opts.benchRequests
// requests one after another over the benchmark groups, then
// opts.benchBursts bursts of one request per registered group, then the
// loopback floor of the same traffic.  The collector's resident memory is
// read at the start, after the warm-up, at ten points of the one-after-
// another run and at the end.  Returns false (after reporting a failed
// expectation) when the collector stops answering.
bool RunBenchmark(Runner* runner, const Options& opts, Reporter* reporter);

// The messages of one exchange, in bytes each (line feed included).
struct ExchangeShape {
  std::vector<size_t> requestBytes;
  std::vector<size_t> answerBytes;
};

// Bare loopback traffic between two threads over TCP (no-delay, like the
// agent link), `iterations` exchanges, exchange i shaped like
// shapes[i % shapes.size()]: one thread writes every request message of the
// shape back to back (one send each), the other reads them all and then
// writes every answer message back to back (one send each), and the first
// reads until all answer bytes are in.  Appends each exchange's time in
// microseconds to *samplesUs.  Returns false with *error set when the
// sockets fail or `shapes` is empty.
bool LoopbackExchanges(const std::vector<ExchangeShape>& shapes, long iterations,
                       std::vector<double>* samplesUs, std::string* error);

// The value at fraction `q` (0..1) of the sorted samples (nearest rank);
// 0 for no samples.  Sorts *samples.
double Percentile(std::vector<double>* samples, double q);

}  // namespace agentsim

#endif  // QVD_TOOLS_AGENTSIM_BENCH_H_
