// The names agentsim takes from the agent-side library (agentside/), so
// that agentsim's own code reads as before the library moved out.
#ifndef QVD_TOOLS_AGENTSIM_AGENTSIDE_H_
#define QVD_TOOLS_AGENTSIM_AGENTSIDE_H_

#include "agentside/collector_process.h"
#include "agentside/columns.h"
#include "agentside/listener.h"
#include "agentside/session.h"
#include "agentside/wire_reader.h"
#include "agentside/wire_writer.h"

namespace agentsim {

using agentside::BuildEnvironment;
using agentside::Clock;
using agentside::CollectorProcess;
using agentside::ColumnCatalogue;
using agentside::DataRequestLine;
using agentside::EscapeAttr;
using agentside::FilterInfo;
using agentside::kEventGroup;
using agentside::LoopbackListener;
using agentside::ParseWireNumber;
using agentside::ReadEnvFile;
using agentside::ReadWireMessage;
using agentside::ResidentKb;
using agentside::ScannedRequest;
using agentside::ScanRequest;
using agentside::Session;
using agentside::ShutdownLine;
using agentside::StartLine;
using agentside::StopLine;
using agentside::TaskRequestLine;
using agentside::Verdict;
using agentside::WireMessage;

}  // namespace agentsim

#endif  // QVD_TOOLS_AGENTSIM_AGENTSIDE_H_
