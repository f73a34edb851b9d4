// The keyword index answers like the plain search, also after the text of
// the snapshot was changed under it.
#include "stats/snapshot_index.h"

#include <string.h>

#include <vector>

#include "gtest/gtest.h"
#include "stats/fake_agent_testutil.h"
#include "stats/snapshot.h"
#include "stats/stat_text.h"

namespace {

std::vector<char*> PlainSearch(const char* keyword) {
  std::vector<char*> all;
  for (char* p = pStatBuffer; (p = str_str(p, keyword, nullptr)) != nullptr; ++p) all.push_back(p);
  return all;
}

TEST(SnapshotIndexTest, EveryOccurrenceFollowsChangesOfTheText) {
  SetSeparators(',', '.');
  InstallSnapshot(
      "mailbydest.a.totalrouted\t1\r\n"
      "mailbydest.a.delivered\t2\r\n"
      "other\tsee mailbydest.b here\n"
      "mailbydest.b.totalrouted\t1,5\n");
  ASSERT_EQ(4u, PlainSearch("mailbydest.").size());
  EXPECT_EQ(PlainSearch("mailbydest."), findAllOccurrences("mailbydest."));
  // A line marked by a builder is no longer found, from the remembered list
  // as from the text.
  strstr(pStatBuffer, "mailbydest.a.delivered")[0] = '!';
  EXPECT_EQ(3u, findAllOccurrences("mailbydest.").size());
  EXPECT_EQ(PlainSearch("mailbydest."), findAllOccurrences("mailbydest."));
  // Normalising can make a keyword that begins with a digit: such keywords
  // are searched afresh each time.
  EXPECT_TRUE(findAllOccurrences("15").empty());
  getValueKeyword(pStatBuffer, "b.totalrouted\t");
  EXPECT_EQ(PlainSearch("15"), findAllOccurrences("15"));
  EXPECT_EQ(1u, findAllOccurrences("15").size());
  EXPECT_TRUE(findAllOccurrences("").empty());
  freeStats();
  EXPECT_TRUE(findAllOccurrences("mailbydest.").empty());
}

}  // namespace
