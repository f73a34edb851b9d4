#include "dbhealth/vaxel_api_util.h"

#include <cstdio>
#include <cstring>

#include "dbhealth/database_state.h"
#include "dbhealth/fixed_text.h"
#include "dbhealth/search_callbacks.h"
#include "framework/trace.h"
#include "serverapi/qvd_api.h"

QVD_TRACE_UNIT("dbhealth/vaxel_api_util");

namespace {

constexpr int kMissingArgument = 1001;
constexpr uint16_t kDirectorySearchFlags = 6;
constexpr uint16_t kFileMaskFlat = 0x4004;
constexpr uint16_t kFileMaskRecursive = 0x6004;

// The database handle of one operation, closed on every way out.
class OpenDb {
 public:
  OpenDb() = default;
  ~OpenDb() { close(); }
  OpenDb(const OpenDb&) = delete;
  OpenDb& operator=(const OpenDb&) = delete;
  VxDbHandle* out() { return &m_db; }
  VxDbHandle get() const { return m_db; }
  void close() {
    if (m_db != 0) QVD_VxDbClose(m_db);
    m_db = 0;
  }

 private:
  VxDbHandle m_db = 0;
};

// The result of an operation: traced as its exit event.
int leave(int result, const char* func) {
  if (QVD_TRACE_ON(TRACE_FLOW)) TraceEvent(&qvd_trace_unit, __LINE__, TRACE_EXIT, func, result);
  return result;
}

}  // namespace

VaxelApiUtil::VaxelApiUtil() { m_lastError[0] = '\0'; }

void VaxelApiUtil::parseVaxelApiErrorCode(VxStatus status, char* buffer, int size) {
  if (buffer == nullptr || size < 2) return;
  uint16_t n = QVD_VxLoadString(0, status & 0x3FFF, buffer, (uint16_t)(size - 1));
  buffer[n < size ? n : size - 1] = '\0';
}

void VaxelApiUtil::setLastError(VxStatus status) {
  parseVaxelApiErrorCode(status, m_lastError, sizeof m_lastError);
}

bool VaxelApiUtil::fitsNetPath(const char* server, const char* path) {
  return server != nullptr && path != nullptr && strlen(server) + 2 + strlen(path) < VX_MAXPATH;
}

bool VaxelApiUtil::netPath(const char* server, const char* path, char* out) {
  out[0] = '\0';
  // "server!!path" must fit the server's path buffer: refuse, never cut.
  if (!fitsNetPath(server, path)) {
    snprintf(m_lastError, sizeof m_lastError,
             "The network path of %.100s on %.100s is longer than %d characters.", path, server,
             VX_MAXPATH - 1);
    QVD_ERROR("Path %s on server %s is longer than %d characters with the server name; it is not "
              "checked.",
              path, server, VX_MAXPATH - 1);
    return false;
  }
  VxStatus status = QVD_VxPathNetConstruct(nullptr, server, path, out);
  if (status != 0) {
    setLastError(status);
    QVD_ERROR("VxPathNetConstruct failed for %s on %s. Error message is: %s.", path, server,
              m_lastError);
    return false;
  }
  out[VX_MAXPATH - 1] = '\0';
  return true;
}

int VaxelApiUtil::openDatabase(const char* server, const char* path) {
  QVD_ENTRY();
  if (server == nullptr || path == nullptr) return leave(kMissingArgument, __func__);
  char net[VX_MAXPATH];
  if (!netPath(server, path, net)) return leave(1, __func__);
  OpenDb db;
  VxStatus status = QVD_VxDbOpen(net, db.out());
  if (status != 0) {
    setLastError(status);
    return leave(1, __func__);
  }
  return leave(0, __func__);
}

void VaxelApiUtil::failoverDecision(VxDbHandle db, const char* server, const char* path,
                                    int* state) {
  char canonical[VX_MAXPATH] = "";
  char otherServer[VX_MAXPATH] = "";
  char otherFile[VX_MAXPATH] = "";
  if (QVD_VxDbPathGet(db, canonical, nullptr) != 0) {
    *state = DB_STATE_FAILOVER_IN_PLACE;
    QVD_ERROR("VxDbOpenExtended succeed to open %s, but fail to get db path.", path);
    return;
  }
  canonical[VX_MAXPATH - 1] = '\0';
  if (QVD_VxPathNetParse(canonical, nullptr, otherServer, otherFile) == 0) {
    otherServer[VX_MAXPATH - 1] = otherFile[VX_MAXPATH - 1] = '\0';
    if (strcmp(otherServer, server) != 0) {
      *state = DB_STATE_FAILOVER;
      m_failOverInfo.copyFrom(otherServer, otherFile, canonical);
      QVD_DETAIL("Failover happends. %s on %s failover to %s on %s.", path, server, otherFile,
                 otherServer);
      return;
    }
  }
  *state = DB_STATE_FAILOVER_IN_PLACE;
  QVD_DETAIL("Failover not happen. %s is opened successfully locally.", path);
}

int VaxelApiUtil::getDatabaseStatus(const char* server, const char* path, int* state) {
  QVD_ENTRY();
  if (server == nullptr || path == nullptr || state == nullptr)
    return leave(kMissingArgument, __func__);
  char net[VX_MAXPATH];
  if (!netPath(server, path, net)) {
    // A path the server cannot be handed is no database it can check.
    *state = DB_STATE_OTHER;
    return leave(1, __func__);
  }
  VxStatus status;
  {
    OpenDb db;
    status = QVD_VxDbOpen(net, db.out());
    if (status == 0) {
      *state = DB_STATE_GOOD;
      db.close();
      QVD_DETAIL("VxDbOpen succeed. Database %s is opened successfully.", path);
      return leave(0, __func__);
    }
  }
  // The statuses of the three opens and of the view open are compared as
  // the server returns them: a status that carries a flag bit above the
  // error number is no listed code and takes the path of any other result.
  switch (status) {
    case VX_ERR_NOT_VDB:
      *state = DB_STATE_NOT_VDB;
      QVD_ERROR("VxDbOpen fail to open %s. Return code is ERR_NOT_VDB", path);
      break;
    case VX_ERR_VDB_VERSION:
      *state = DB_STATE_INVALID_VDB_VER;
      QVD_ERROR("VxDbOpen fail to open %s. Return code is ERR_VDB_VERSION", path);
      break;
    case VX_ERR_LOCAL_ACCESS:
      *state = DB_STATE_LOCAL_ACCESS_PROTECTED;
      QVD_DETAIL("This database %s has local access protection", path);
      break;
    default: {
      OpenDb repaired;
      status = QVD_VxDbOpenExtended(net, VX_DBOPEN_REPAIR, 0, nullptr, repaired.out(), nullptr,
                                    nullptr);
      if (status == 0) {
        *state = DB_STATE_CORRUPT_BUT_FIXED;
        repaired.close();
        QVD_DETAIL("VxDbOpenExtended succeed in fixing %s.", path);
        return leave(1, __func__);
      }
      if (status == VX_ERR_NOACCESS) {
        *state = DB_STATE_NOACCESS;
        QVD_ERROR("VxDbOpenExtended fail to fix %s. Return code is ERR_NOACCESS.", path);
        break;
      }
      if (status == VX_ERR_OPEN_FILE) {
        *state = DB_STATE_OPEN_FILE;
        QVD_ERROR("VxDbOpenExtended fail to fix %s. Return code is ERR_OPEN_FILE.", path);
        break;
      }
      OpenDb failover;
      VxStatus repairStatus = status;
      status = QVD_VxDbOpenExtended(net, VX_DBOPEN_CLUSTER_FAILOVER, 0, nullptr, failover.out(),
                                    nullptr, nullptr);
      if (status == 0) {
        // The message worth reporting is why the database could not be
        // opened in place, not the failover open's success.
        status = repairStatus;
        failoverDecision(failover.get(), server, path, state);
      } else if (status == VX_ERR_NOACCESS) {
        *state = DB_STATE_NOACCESS;
        QVD_ERROR("VxDbOpenExtended fail to open %s. Return code is ERR_NOACCESS.", path);
      } else if (status == VX_ERR_OPEN_FILE) {
        *state = DB_STATE_OPEN_FILE;
        QVD_ERROR("VxDbOpenExtended fail to open %s. Return code is ERR_OPEN_FILE.", path);
      } else {
        *state = DB_STATE_OTHER;
        QVD_ERROR("VxDbOpenExtended fail to open %s again.", path);
      }
      break;
    }
  }
  setLastError(status);
  QVD_ERROR("Database seems not in good state. Error message is: %s.", m_lastError);
  return leave(1, __func__);
}

int VaxelApiUtil::getViewStatus(const char* server, const char* path, const char* view,
                                int* state) {
  QVD_ENTRY();
  if (server == nullptr || path == nullptr || view == nullptr || state == nullptr)
    return leave(kMissingArgument, __func__);
  char net[VX_MAXPATH];
  if (!netPath(server, path, net)) return leave(1, __func__);
  OpenDb db;
  VxStatus status = QVD_VxDbOpen(net, db.out());
  if (status != 0) {
    setLastError(status);
    return leave(1, __func__);
  }
  uint32_t noteId = 0;
  status = QVD_VxFindDesignNote(db.get(), view, VX_NOTE_CLASS_VIEW, "-G40n", &noteId, 0);
  if (status != 0) {
    db.close();
    *state = DB_VIEW_STATE_NOT_FOUND;
    setLastError(status);
    return leave(6, __func__);
  }
  VxCollectionHandle collection = 0;
  status = QVD_VxViewOpen(db.get(), db.get(), noteId, 4, 0, &collection, nullptr, nullptr, nullptr,
                          nullptr);
  if (status == 0) {
    QVD_VxViewClose(collection);
    db.close();
    *state = DB_VIEW_STATE_GOOD;
    return leave(0, __func__);
  }
  *state = status == VX_ERR_COLLECTION_NOT_CREATED ? DB_VIEW_STATE_COL_NOT_CREATED
                                                   : DB_VIEW_STATE_OTHER;
  db.close();
  setLastError(status);
  return leave(6, __func__);
}

int VaxelApiUtil::findDatabases(const char* server, const char* directory, bool recursive,
                                QVD::StringList* list) {
  QVD_ENTRY();
  if (server == nullptr || directory == nullptr || list == nullptr)
    return leave(kMissingArgument, __func__);
  char net[VX_MAXPATH];
  if (!netPath(server, directory, net)) return leave(2, __func__);
  OpenDb db;
  VxStatus status = QVD_VxDbOpen(net, db.out());
  if (status != 0) {
    setLastError(status);
    return leave(2, __func__);
  }
  status = QVD_VxDbSearch(db.get(), 0, nullptr, kDirectorySearchFlags,
                          recursive ? kFileMaskRecursive : kFileMaskFlat, nullptr, fileAction, list,
                          nullptr);
  if (status != 0) {
    setLastError(status);
    return leave(3, __func__);
  }
  return leave(0, __func__);
}

int VaxelApiUtil::findDatabaseviews(const char* server, const char* path, QVD::StringList* list,
                                    bool titleOnly) {
  QVD_ENTRY();
  if (server == nullptr || path == nullptr || list == nullptr)
    return leave(kMissingArgument, __func__);
  char net[VX_MAXPATH];
  if (!netPath(server, path, net)) return leave(1, __func__);
  OpenDb db;
  VxStatus status = QVD_VxDbOpen(net, db.out());
  if (status != 0) {
    setLastError(status);
    return leave(1, __func__);
  }
  DbViewList context{db.get(), list, titleOnly};
  status = QVD_VxDbSearch(db.get(), 0, nullptr, 2, VX_NOTE_CLASS_VIEW, nullptr, getViewName,
                          &context, nullptr);
  if (status != 0) {
    setLastError(status);
    return leave(4, __func__);
  }
  return leave(0, __func__);
}

int VaxelApiUtil::getDbStatisticsInfo(const char* server, const char* path,
                                      DbStatisticsInfo* info) {
  QVD_ENTRY();
  if (server == nullptr || path == nullptr || info == nullptr)
    return leave(kMissingArgument, __func__);
  char net[VX_MAXPATH];
  if (!netPath(server, path, net)) {
    QVD_ERROR("%s can not opened. The error message is : %s", path, m_lastError);
    return leave(1, __func__);
  }
  OpenDb db;
  VxStatus status = QVD_VxDbOpen(net, db.out());
  if (status != 0) {
    setLastError(status);
    QVD_ERROR("%s can not opened. The error message is : %s", path, m_lastError);
    return leave(1, __func__);
  }
  uint32_t allocated = 0, freeBytes = 0;
  status = QVD_VxDbSpaceUsage(db.get(), &allocated, &freeBytes);
  if (status != 0) {
    setLastError(status);
    db.close();
    QVD_ERROR("Fail to get space usage for %s", path);
    return leave(7, __func__);
  }
  VxDbLimits quota{0, 0, 0, 0};
  status = QVD_VxDbQuotaGet(net, &quota);
  if (status != 0) {
    setLastError(status);
    db.close();
    QVD_ERROR("Fail to get quota for %s.", path);
    return leave(8, __func__);
  }
  info->setValues(path, allocated, freeBytes, quota.CurrentSize, quota.MaxSize, quota.SizeLimit,
                  quota.WarningThreshold);
  db.close();
  QVD_DETAIL("Get space information for %s. Allocated size: %u; free size: %u; current size: %u; "
             "max size: %u, size limit: %u; warn threshold: %u.",
             path, allocated, freeBytes, quota.CurrentSize, quota.MaxSize, quota.SizeLimit,
             quota.WarningThreshold);
  return leave(0, __func__);
}

int VaxelApiUtil::getGroups(const char* server, QVD::StringList* list) {
  QVD_ENTRY();
  if (server == nullptr || list == nullptr || list->getCount() != 0)
    return leave(kMissingArgument, __func__);
  static const char kNameSpace[] = "$PeopleGroupsFlat";
  static const char kName[] = "";
  static const char kItem[] = "ListName";
  VxMemHandle buffer = 0;
  VxStatus status = QVD_VxDirLookup(server, 33, 1, kNameSpace, 1, kName, 1, kItem, &buffer);
  if (status != 0) {
    setLastError(status);
    QVD_ERROR("Fail to lookup directories. Error message is %s.", m_lastError);
    if (buffer != 0) QVD_VxMemFree(buffer);
    return leave(9, __func__);
  }
  void* lookup = QVD_VxLockObject(buffer);
  if (lookup != nullptr) {
    uint16_t matches = 0;
    void* name = QVD_VxDirLocateNextName(lookup, nullptr, &matches);
    void* match = nullptr;
    for (uint16_t i = 0; name != nullptr && i < matches; ++i) {
      match = QVD_VxDirLocateNextMatch(lookup, name, match);
      if (match == nullptr) break;
      char text[256] = "";
      if (QVD_VxDirGetTextItem(match, 0, 0, text, sizeof text) == 0) {
        text[sizeof text - 1] = '\0';
        if (text[0] != '\0') list->add(text);
      }
      QVD_DETAIL("Get group %s.", text);
    }
    QVD_VxUnlockObject(buffer);
  }
  QVD_VxMemFree(buffer);
  return leave(0, __func__);
}
