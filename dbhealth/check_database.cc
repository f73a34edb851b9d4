#include "dbhealth/check_database.h"

#include <atomic>
#include <cerrno>
#include <ctime>

#include "dbhealth/database_analyzer.h"
#include "dbhealth/translog_checker.h"
#include "dbhealth/vaxel_api_util.h"
#include "framework/services.h"
#include "framework/trace.h"
#include "serverapi/qvd_api.h"
#include "state/bounded_thread.h"
#include "state/globals.h"
#include "state/server_gate.h"

QVD_TRACE_UNIT("dbhealth/check");

const int maxDbCount = 10240;
DbCorruptFailoverList dbCorruptFailoverList(maxDbCount);
DbStatisticsInfoList dbStatisticsInfoList(maxDbCount);
pthread_mutex_t checkDBResultMutex = PTHREAD_MUTEX_INITIALIZER;
pthread_mutex_t checkDBMutex = PTHREAD_MUTEX_INITIALIZER;
pthread_cond_t checkDBCond;

namespace {

// The pauses wait for deadlines of TimeGet, which follows the clock that
// never jumps: a wall clock set back would otherwise stretch a pause.
const int checkDBCondReady = CondInitMonotonic(&checkDBCond);

std::atomic<bool> stopRequested{false};
BoundedThread checkThread;  // started and joined by the main thread

long nowSeconds() {
  struct timespec now;
  TimeGet(&now);
  return (long)now.tv_sec;
}

// The thread's own wait: `seconds` unless a stop is requested meanwhile.
void waitSeconds(unsigned seconds) {
  (void)checkDBCondReady;
  if (seconds > 0 && !stopRequested) {
    struct timespec deadline;
    TimeGet(&deadline);
    deadline.tv_sec += seconds;
    pthread_mutex_lock(&checkDBMutex);
    while (!stopRequested) {
      if (pthread_cond_timedwait(&checkDBCond, &checkDBMutex, &deadline) == ETIMEDOUT) break;
    }
    pthread_mutex_unlock(&checkDBMutex);
  }
}

// Waits `seconds` at the check's pace.  False: the check must end.
bool pause(const DbCheckPace& pace, unsigned seconds) {
  if (pace.wait != nullptr) {
    pace.wait(seconds);
  } else {
    waitSeconds(seconds);
  }
  return !databaseCheckShouldStop();
}

long checkClock(const DbCheckPace& pace) { return pace.clock != nullptr ? pace.clock() : nowSeconds(); }

// Publishes the cycle's lists.  False when the result mutex cannot be
// locked (the published lists stay as they were).
bool publish(DbCorruptFailoverList* corruption, DbStatisticsInfoList* whitespace) {
  QVD_DETAIL("Begin to lock mutex checkDBResultMutex to save results of database-checking ...");
  int rc = pthread_mutex_lock(&checkDBResultMutex);
  if (rc != 0) {
    QVD_ERROR("Error: mutex checkDBResultMutex lock failed with %d", rc);
    return false;
  }
  QVD_DETAIL("Mutex checkDBResultMutex locked successfully. Begin to save results of database-checking.");
  dbCorruptFailoverList.snatchFrom(corruption);
  QVD_DETAIL("Database corruption information list saved successfully.");
  dbStatisticsInfoList.snatchFrom(whitespace);
  QVD_DETAIL("Database whitespace information list saved successfully.");
  rc = pthread_mutex_unlock(&checkDBResultMutex);
  if (rc != 0) {
    QVD_ERROR("Error: mutex checkDBResultMutex unlock failed with %d", rc);
  } else {
    QVD_DETAIL("Mutex checkDBResultMutex unlocked successfully.");
  }
  return true;
}

// The views of a good database.  False: the check must end.
bool checkViews(const char* server, const char* path, const DbViewsConfigMap* views,
                const DbCheckPace& pace, DbCorruptFailover* record,
                DbCorruptFailoverList* corruption) {
  QVD::StringList names;
  if (views == nullptr || views->getViewList(path, &names) != 0) {
    QVD_DETAIL("No views are specified  to check for database %s.", path);
    return true;
  }
  QVD_DETAIL("Views are specified  to check for database %s.", path);
  for (int i = 0; i < names.getCount(); ++i) {
    if (databaseCheckShouldStop()) return false;
    const char* view = names.getAt(i).c_str();
    if (DatabaseAnalyzer::checkDatabaseView(server, path, view, record) == 202) {
      corruption->add(record);
      QVD_DETAIL("Found corruption on view %s of database %s. State text is %s", view, path,
                 record->getState());
    } else {
      QVD_DETAIL("View %s of database %s is in good state.", view, path);
    }
    if (!pause(pace, pace.pauseSeconds)) return false;
  }
  return true;
}

}  // namespace

bool databaseCheckShouldStop() {
  return stopRequested || qvdShutdown || QVD_VxShouldTerminate() != 0;
}

int runDatabaseCheckCycle(const char* server, VeloraConfigParser* parser,
                          const DbViewsConfigMap* views, const DbCheckPace& pace) {
  QVD_DETAIL("Begin checking the databases on server %s", server);
  QVD::StringList databases(maxDbCount);
  QVD::StringList invalid(maxDbCount);
  QVD_DETAIL("Begin to get the database list on the server %s", server);
  parser->getDbList(&databases, &invalid);
  QVD_DETAIL("Found %d databases on Velora server %s", databases.getCount(), server);
  for (int i = 0; i < databases.getCount(); ++i)
    QVD_DETAIL("Database %d: %s", i + 1, databases.getAt(i).c_str());

  DbCorruptFailoverList corruption(maxDbCount);
  DbStatisticsInfoList whitespace(maxDbCount);
  DbCorruptFailover record;
  DbStatisticsInfo info;
  for (int i = 0; i < databases.getCount(); ++i) {
    const char* path = databases.getAt(i).c_str();
    bool stop = databaseCheckShouldStop();
    if (!stop && parser->isExcluded(path)) {
      QVD_DETAIL("%s is in exclude path list, so do not check it.", path);
      stop = !pause(pace, pace.pauseSeconds);
    } else if (!stop && !VaxelApiUtil::fitsNetPath(server, path)) {
      QVD_ERROR("Database %s is not checked: with the server name its path is longer than 255 "
                "characters.",
                path);
      stop = !pause(pace, pace.pauseSeconds);
    } else if (!stop) {
      QVD_DETAIL("Start the checking of database corruption or failover on database %s", path);
      bool bad = true;
      for (int attempt = 0; attempt < pace.attempts && !stop; ++attempt) {
        if (DatabaseAnalyzer::checkDatabase(server, path, &record) == 0) {
          bad = false;
          break;
        }
        stop = !pause(pace, pace.pauseSeconds);
      }
      if (!stop && bad) {
        corruption.add(&record);
        QVD_DETAIL("Found corruption or failover on database %s. State text is %s", path,
                   record.getState());
        QVD_DETAIL("Finish the checking of database corruption or failover on database %s", path);
        stop = !pause(pace, pace.pauseSeconds);
      } else if (!stop) {
        QVD_DETAIL("Database %s is in good state.", path);
        QVD_DETAIL("Finish the checking of database corruption or failover on database %s", path);
        stop = !pause(pace, pace.pauseSeconds) || !checkViews(server, path, views, pace, &record, &corruption);
      }
      if (!stop) {
        QVD_DETAIL("Start the checking of database whitespace information on database %s", path);
        int rc = DatabaseAnalyzer::checkDatabaseWhitespace(server, path, &info);
        if (rc != 0) {
          QVD_ALWAYS("Failed to get whitespace information of database %s", path);
        } else {
          QVD_DETAIL("Finished the checking of database whitespace information on database %s. "
                     "Return code is %d",
                     path, rc);
          whitespace.add(&info);
        }
      }
    }
    if (stop) {
      QVD_ALWAYS("Shutting down qvdclient and checkDatabase exiting...");
      return DB_CHECK_STOPPED;
    }
  }
  return publish(&corruption, &whitespace) ? DB_CHECK_PUBLISHED : DB_CHECK_NOT_PUBLISHED;
}

void* checkDatabase(void*) {
  QVD_ENTRY();
  // Inside the server gate from the transaction-log switch to the runtime's
  // end: once the collector is stopping, no runtime is started any more.
  if (!serverGateOpen()) return nullptr;
  if (VeloraTransLogChecker::checkAndDisableTransLog(enterServerGate) != 0) {
    leaveServerGate();
    return nullptr;
  }
  VxStatus status = QVD_VxInitThread();
  if (VeloraTransLogChecker::checkAndEnableTransLog() != 0) {
    if (status == 0) QVD_VxTermThread();
    leaveServerGate();
    return nullptr;
  }
  if (status != 0) {
    QVD_ALWAYS("Velora VxInitRuntime failed with rc: %d. checkDatabase thread exit...", (int)status);
    leaveServerGate();
    return nullptr;
  }
  VeloraConfigParser parser(server_name, checkDbIncludePath, checkDbExcludePath);
  bool betweenCycles =
      runDatabaseChecks(server_name, &parser, &dbViewsConfigMap, qvd_check_db_interval, DbCheckPace());
  QVD_VxTermThread();
  leaveServerGate();
  if (betweenCycles) QVD_ALWAYS("checkDatabase exiting...");
  QVD_EXIT_VOID();
  return nullptr;
}

bool runDatabaseChecks(const char* server, VeloraConfigParser* parser,
                       const DbViewsConfigMap* views, int interval, const DbCheckPace& pace) {
  for (;;) {
    if (databaseCheckShouldStop()) return true;
    long start = checkClock(pace);
    if (runDatabaseCheckCycle(server, parser, views, pace) == DB_CHECK_STOPPED) return false;
    long elapsed = checkClock(pace) - start;
    QVD_DETAIL("Checking databases takes %ld seconds.", elapsed);
    if (elapsed > interval) {
      QVD_ALWAYS("Checking database takes %ld seconds, more time than the specified interval %d "
                 "seconds.",
                 elapsed, interval);
      pause(pace, 1);
      continue;
    }
    while (elapsed < interval && pause(pace, 1)) elapsed = checkClock(pace) - start;
  }
}

int startDatabaseCheckThread() {
  pthread_mutex_init(&checkDBMutex, nullptr);
  pthread_mutex_init(&checkDBResultMutex, nullptr);
  CondInitMonotonic(&checkDBCond);
  stopRequested = false;
  return checkThread.start(checkDatabase, nullptr);
}

void requestDatabaseCheckStop() {
  pthread_mutex_lock(&checkDBMutex);
  stopRequested = true;
  pthread_cond_broadcast(&checkDBCond);
  pthread_mutex_unlock(&checkDBMutex);
}

bool stopDatabaseCheckThread(const struct timespec* deadline) {
  if (!checkThread.started()) return true;
  requestDatabaseCheckStop();
  return checkThread.join(deadline);
}
