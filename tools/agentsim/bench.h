// agentsim's benchmark mode: round trips of data requests against a running
// collector, beside the floor that the loopback sockets alone set.
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
// opts.benchRequests requests one after another over the benchmark groups,
// then opts.benchBursts bursts of one request per registered group, then the
// loopback floor with the same message sizes.  Returns false (after
// reporting a failed expectation) when the collector stops answering.
bool RunBenchmark(Runner* runner, const Options& opts, Reporter* reporter);

// Bare loopback ping-pong between two threads over TCP (no-delay, like the
// agent link): `iterations` times, one side writes `requestBytes` and the
// other answers with `answerBytes`.  Appends each round trip in
// microseconds to *samplesUs.  Returns false with *error set when the
// sockets fail.
bool LoopbackPingPong(size_t requestBytes, size_t answerBytes, long iterations, std::vector<double>* samplesUs,
                      std::string* error);

// The value at fraction `q` (0..1) of the sorted samples (nearest rank);
// 0 for no samples.  Sorts *samples.
double Percentile(std::vector<double>* samples, double q);

}  // namespace agentsim

#endif  // QVD_TOOLS_AGENTSIM_BENCH_H_
