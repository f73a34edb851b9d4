#include "dbhealth/group_analyzer.h"

#include <memory>
#include <new>
#include <string>
#include <unordered_set>

#include "dbhealth/check_updates.h"
#include "dbhealth/vaxel_api_util.h"
#include "framework/trace.h"

QVD_TRACE_UNIT("dbhealth/groups");

bool GroupAnalyzer::m_inited = false;
QVD::StringList* GroupAnalyzer::m_groupList = nullptr;

namespace {

// The old snapshot with the reported changes applied: what the agent has
// been told so far.
QVD::StringList* applyReported(const QVD::StringList* old, const GroupUpdateInfoList& updates) {
  std::unordered_set<std::string> deleted;
  for (int i = 0; i < updates.getCount(); ++i)
    if (std::string(updates.getAt(i)->getUpdate()) == kGroupDeleted)
      deleted.insert(updates.getAt(i)->getGroupName());
  auto* told = new (std::nothrow) QVD::StringList(kMaxGroupCount);
  if (told == nullptr) return nullptr;
  for (int i = 0; old != nullptr && i < old->getCount(); ++i)
    if (deleted.count(old->getAt(i).c_str()) == 0) told->add(old->getAt(i).c_str());
  for (int i = 0; i < updates.getCount(); ++i)
    if (std::string(updates.getAt(i)->getUpdate()) == kGroupAdded)
      told->add(updates.getAt(i)->getGroupName());
  return told;
}

}  // namespace

bool GroupAnalyzer::init(const char* server) {
  if (server == nullptr) return false;
  if (m_inited) return true;
  // A partial snapshot of an earlier, failed init is replaced.
  delete m_groupList;
  m_groupList = new (std::nothrow) QVD::StringList(kMaxGroupCount);
  if (m_groupList == nullptr) return false;
  VaxelApiUtil api;
  if (api.getGroups(server, m_groupList) != 0) return false;
  m_inited = true;
  return true;
}

int GroupAnalyzer::checkGroups(const char* server, GroupUpdateInfoList* updates) {
  if (server == nullptr) return 1;
  if (updates == nullptr || updates->getCount() != 0) return 3;
  std::unique_ptr<QVD::StringList> fresh(new (std::nothrow) QVD::StringList(kMaxGroupCount));
  if (fresh == nullptr) return 401;
  VaxelApiUtil api;
  if (api.getGroups(server, fresh.get()) != 0) return 401;
  if (CheckUpdates::check(m_groupList, fresh.get(), updates) == 101) {
    QVD_ERROR("More than %d Velora group updates on server %s; the others follow in the next "
              "answers.",
              (int)updates->getCapacity(), server);
    QVD::StringList* told = applyReported(m_groupList, *updates);
    if (told == nullptr) return 0;  // keep the old snapshot: the changes come again
    delete m_groupList;
    m_groupList = told;
    return 0;
  }
  delete m_groupList;
  m_groupList = fresh.release();
  return 0;
}

void GroupAnalyzer::close() {
  delete m_groupList;
  m_groupList = nullptr;
  m_inited = false;
}
