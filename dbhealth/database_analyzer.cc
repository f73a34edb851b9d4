#include "dbhealth/database_analyzer.h"

#include <cstring>

#include "dbhealth/database_state.h"
#include "dbhealth/fixed_text.h"
#include "dbhealth/vaxel_api_util.h"
#include "framework/trace.h"

QVD_TRACE_UNIT("dbhealth/analyzer");

namespace {

int leave(int result, const char* func) {
  if (QVD_TRACE_ON(TRACE_FLOW)) TraceEvent(&qvd_trace_unit, __LINE__, TRACE_EXIT, func, result);
  return result;
}

constexpr char kDatabaseLevel[] = "DEFAULT";

}  // namespace

int DatabaseAnalyzer::checkDatabase(const char* server, const char* path, DbCorruptFailover* record) {
  QVD_ENTRY();
  if (server == nullptr || path == nullptr || record == nullptr) return leave(1, __func__);
  if (!dbhealth::fitsField(path)) {
    QVD_ERROR("Database path %.40s... is longer than 255 characters; it is not checked.", path);
    return leave(1, __func__);
  }
  VaxelApiUtil api;
  int state = DB_STATE_GOOD;
  if (api.getDatabaseStatus(server, path, &state) == 0) return leave(0, __func__);
  if (state == DB_STATE_FAILOVER) {
    const FailOverInfo& info = api.getFailOverInfo();
    record->setValues(path, kDatabaseLevel, getDbStateTxt(state), "Success", info.getFile(),
                      info.getServer());
  } else {
    record->setValues(path, kDatabaseLevel, getDbStateTxt(state), "", "", "");
  }
  return leave(201, __func__);
}

int DatabaseAnalyzer::checkDatabaseView(const char* server, const char* path, const char* view,
                                        DbCorruptFailover* record) {
  QVD_ENTRY();
  if (server == nullptr || path == nullptr || view == nullptr || record == nullptr)
    return leave(1, __func__);
  if (!dbhealth::fitsField(path) || !dbhealth::fitsField(view)) {
    QVD_ERROR("View %.40s of database %.40s: a name longer than 255 characters; it is not checked.",
              view, path);
    return leave(1, __func__);
  }
  VaxelApiUtil api;
  int state = -1;  // stays "Unknown" when the database cannot be opened
  int rc = api.getViewStatus(server, path, view, &state);
  if (rc == 0 || (rc == 6 && state == DB_VIEW_STATE_COL_NOT_CREATED)) return leave(0, __func__);
  record->setValues(path, view, getDbViewStateTxt(state), "", "", "");
  return leave(202, __func__);
}

int DatabaseAnalyzer::checkDatabaseWhitespace(const char* server, const char* path,
                                              DbStatisticsInfo* info) {
  QVD_ENTRY();
  if (server == nullptr || path == nullptr || info == nullptr) return leave(1, __func__);
  VaxelApiUtil api;
  return leave(api.getDbStatisticsInfo(server, path, info) == 0 ? 0 : 401, __func__);
}
