// What a scrape sees: the tables' samples, the add-in's events and the
// exporter's own health, refreshed from the collector at most once per
// max-age.
//
// The exporter listens to the collector link (answers, events, the
// collector's comings and goings) and is the collectable the HTTP side asks
// at every scrape.  A scrape that finds the last round older than max-age
// asks the link for a round and waits for it (at most `scrapeWait`); scrapes
// that arrive meanwhile wait for the same round, so the collector is asked
// once per max-age however many scrapes come.  A scrape never fails because
// a table did: it serves what it has and counts the table's error.
//
// Thread-safety: every method may be called from any thread; one lock
// guards the state.  The link's calls (LinkListener) come from its thread;
// Collect() from the HTTP server's threads.  Lock order: the exporter's lock
// may be held while calling CollectorLink::RequestRound(), never the other
// way round.
#ifndef QVD_QVDEXPORTER_EXPORTER_H_
#define QVD_QVDEXPORTER_EXPORTER_H_

#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include <prometheus/collectable.h>

#include "qvdexporter/collector_link.h"
#include "qvdexporter/mapping.h"
#include "qvdexporter/number.h"
#include "qvdexporter/table_store.h"

namespace qvdexporter {

struct ExporterOptions {
  double maxAge = 30;      // seconds an answer is served again
  double scrapeWait = 6;   // seconds a scrape waits for a round
  NumberFormat numbers;
  std::string statusFile;  // the availability status file; "" when unknown
};

// Distinct priorities counted by name; further ones count as "other".
constexpr size_t kMaxPriorities = 32;

// Event_Time of an event row (years since 1900, month, day, hours, minutes,
// seconds, then "000": 16 digits, the collector's local time) as Unix
// seconds; false when it is not such a time.
bool ParseEventTime(const std::string& text, double* seconds);

class Exporter : public prometheus::Collectable, public LinkListener {
 public:
  // `mapping` must outlive the exporter.
  Exporter(const Mapping* mapping, ExporterOptions options);

  // The link that rounds are asked of; set before the first scrape.
  void SetLink(CollectorLink* link);

  // Refreshes when the last round is older than max-age, then returns
  // every family.
  std::vector<prometheus::MetricFamily> Collect() const override;

  // Waits until the first round has ended (true when the collector answered
  // it) or the collector is gone without one (false), at most `seconds`.
  bool WaitFirstRound(double seconds);

  bool up() const;

  // LinkListener.
  void CollectorStarted(pid_t pid) override;
  void Registered(const std::vector<std::string>& tables) override;
  void TableAnswer(const std::string& table, const std::vector<std::vector<std::string>>& rows) override;
  void TableError(const std::string& table, long rc, bool timedOut) override;
  void Event(const std::vector<std::string>& row) override;
  void EventError(long rc) override;
  void Violation(const std::string& message) override;
  void RoundDone(int answered, int asked) override;
  void CollectorDown(const std::string& why) override;
  void Pausing(double seconds) override;

 private:
  void Refresh() const;
  void CollectHealth(double scrapeSeconds, std::vector<prometheus::MetricFamily>* out) const;

  const Mapping* mapping_;
  ExporterOptions options_;
  CollectorLink* link_ = nullptr;

  mutable std::mutex mu_;
  mutable std::condition_variable cv_;
  TableStore store_;
  bool registered_ = false;
  bool up_ = false;
  bool down_ = false;  // the collector went away since the exporter started
  mutable bool roundInFlight_ = false;
  mutable double lastRoundAt_ = -1;  // when the last round was asked for
  uint64_t roundsDone_ = 0;
  uint64_t starts_ = 0;
  std::map<std::string, double> answerErrors_;
  std::map<std::string, uint64_t> errorsLogged_;
  std::map<std::string, double> events_;  // by priority
  double lastEventAt_ = -1;
  std::map<std::string, double> eventErrors_;  // by result code
  uint64_t violations_ = 0;
};

}  // namespace qvdexporter

#endif  // QVD_QVDEXPORTER_EXPORTER_H_
