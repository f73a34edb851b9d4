// A large replication event log for the simulated server: 100 replication
// connections of CN=srv1/O=acme (to CN=srv2/O=acme .. CN=srv101/O=acme; one
// daily time, a list of four times, a range once and a range repeated
// hourly, 25 each) and a log of N documents spread evenly from
// 12/04/2026 10:00 AM to 12/06/2026 10:00 AM, the model's fixed clock (nine
// in ten are replication log documents, one in ten event documents with
// five "Starting replication" lines).  The replication benchmark and
// agentsim's benchmark both run the collector against it.
#ifndef QVD_TOOLS_AGENTSIM_REPLICATION_LOG_MODEL_H_
#define QVD_TOOLS_AGENTSIM_REPLICATION_LOG_MODEL_H_

#include <nlohmann/json.hpp>

namespace agentsim {

// Connection documents in the model.
constexpr int kReplicationLogConnections = 100;
// The model's fixed clock.
extern const char kReplicationLogNow[];

// Puts the log into the simulated server's model *server (a JSON object):
// the clock is fixed at kReplicationLogNow; log.vdb's documents are
// replaced by `documents` log documents (ids from 4097) and it is marked
// modified now; the connection documents are added to names.vdb's
// documents with ids above any there (8193 and up), and names.vdb's view
// $Connections lists exactly them.  Everything else in the model is kept.
void AddReplicationLog(nlohmann::json* server, long documents);

}  // namespace agentsim

#endif  // QVD_TOOLS_AGENTSIM_REPLICATION_LOG_MODEL_H_
