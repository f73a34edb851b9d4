// Availability monitor: is the monitored server reachable, and how many
// members of its cluster are.
//
// One run pings the server, then every other member of the cluster the
// server reports, and writes the two answers to the status file named by
// statusFileName (state/globals.h) for other programs of the install to read.
// The last measured ping time is left in `responsetime` for the
// Response_Time column of Velora_Server64.
//
// Thread-safety: one run at a time.  Start-up runs the first check on the
// main thread; afterwards the checks run on the availability monitor's
// thread (core/availability_monitor.h), or on the dispatch thread when the
// monitor could not start.
#ifndef QVD_CORE_AVAILABILITY_H_
#define QVD_CORE_AVAILABILITY_H_

#include <atomic>

// Values of the status file's first line.
enum : int {
  kServerUp = 0,          // ping succeeded (status 0 or 0x9DE)
  kServerDown = 1,        // ping failed with any other status
  kServerRestricted = 7,  // ping returned 0x9FC
};

// Values of the status file's second line.
enum : int {
  kClusterAllUp = 0,      // every member answered (also: no other member)
  kClusterAllDown = 1,    // no member answered
  kClusterNone = 2,       // the server reported no cluster list
  kClusterSomeUp = 7,     // at least two, but not all, answered
  kClusterOneUp = 8,      // exactly one answered
};

// The cluster status for `members` other members of which `reachable`
// answered.  Pure; the order of the tests matters when members is 1.
int clusterStatusFor(int members, int reachable);

// One full monitor run: pings, `responsetime`, status file.  Ping failures
// are status values, not errors; an unwritable file is traced and skipped.
void pingServerCluster();

// The same run, given up after the ping at hand once *stop (when not null)
// is set: the status file then stays as it was, since the members not yet
// pinged would count as down.  Returns true when the run completed.
bool pingServerClusterUnless(const std::atomic<bool>* stop);

// Writes the status file: exactly two lines, "%d\n" each.  The file is
// written under a temporary name in the same directory, synced and renamed
// into place (util/atomic_file.h), so a reader sees either the previous
// content or the new one, never a half-written file, and nothing is written
// through a link.  An existing file keeps its mode (and its owner where this
// user may give it).  A failure is traced; the previous file, if any, then
// stays as it was.
void createStatusFile(int serverStatus, int clusterStatus);

#endif  // QVD_CORE_AVAILABILITY_H_
