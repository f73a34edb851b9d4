// agentsim's soak mode: the collector kept busy for a bounded time, with
// its resident memory, open descriptors, threads and the simulated
// server's handles it holds printed at the start and at a fixed interval.
//
// While it runs, every registered table (but the event table) is requested
// in rounds, each round awaited; events are appended to the relay's feed
// file; the relay process is killed now and then (the collector starts it
// again); and the model's statistics and directory groups are changed.
// Figures are printed; nothing here judges them.
#ifndef QVD_TOOLS_AGENTSIM_SOAK_H_
#define QVD_TOOLS_AGENTSIM_SOAK_H_

#include <sys/types.h>

#include <string>
#include <vector>

#include "tools/agentsim/options.h"
#include "tools/agentsim/report.h"

namespace agentsim {

class Runner;

// Runs the soak over the runner's connection for opts.soakSeconds.
// Returns false (after reporting a failed expectation) when the collector
// stops answering or a model file cannot be written.
bool RunSoak(Runner* runner, const Options& opts, Reporter* reporter);

// What /proc tells about a process: open descriptors and threads (-1 when
// unknown).
long OpenDescriptors(pid_t pid);
long Threads(pid_t pid);

// The running children of `pid` whose command name (/proc/<child>/comm)
// is `name`; children that ended and wait to be reaped are left out.
std::vector<pid_t> ChildrenNamed(pid_t pid, const std::string& name);

}  // namespace agentsim

#endif  // QVD_TOOLS_AGENTSIM_SOAK_H_
