// The collector's availability status file: two lines, the server's status
// (0 answered, 1 did not, 7 too busy) and the cluster's (0 every other
// member answered, 1 none, 2 not in a cluster, 7 some, 8 exactly one).  The
// collector rewrites it at every availability check, by a rename, so a
// reader sees a whole file; its modification time is the check's time.
//
// Thread-safety: pure functions over the file system.
#ifndef QVD_QVDEXPORTER_STATUS_FILE_H_
#define QVD_QVDEXPORTER_STATUS_FILE_H_

#include <map>
#include <string>
#include <vector>

#include <prometheus/metric_family.h>

namespace qvdexporter {

// "<HALCYONHOME>/<QVD_BINARCH>/vd/bin/qvd_<QVD_INSTANCE_NAME>_status.out"
// from the collector's environment (NAME=VALUE entries), or "" when one of
// the three is missing or empty.
std::string StatusFilePath(const std::vector<std::string>& environment);

// Reads the file and appends velora_server_availability{state},
// velora_cluster_availability{state} (one gauge per state, 1 for the one in
// force) and velora_availability_check_timestamp_seconds.  A file that is
// missing or not two numbers from the lists above adds nothing.
void CollectStatusFile(const std::string& path, std::vector<prometheus::MetricFamily>* out);

}  // namespace qvdexporter

#endif  // QVD_QVDEXPORTER_STATUS_FILE_H_
