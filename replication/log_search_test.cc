// Forms, formulas, nicknames and the date test of log lines; requests that
// end before the log is opened.
#include "replication/log_search.h"

#include <cstring>
#include <string>

#include "framework/trace_capture.h"
#include "replication/repl_testutil.h"
#include "serverapi/qvd_api.h"

namespace {

using LogSearchTest = ReplTest;

int Nick(const char* text) {
  char copy[64];
  strcpy(copy, text);
  return FindNickName(FormTable, copy);
}

TEST(FormTable, NicknamesMayBeShortenedButNotAmbiguous) {
  EXPECT_EQ(Nick("replication"), 3);
  EXPECT_EQ(Nick("repl"), 3);
  EXPECT_EQ(Nick("\"Events\""), 2);
  EXPECT_EQ(Nick("SESSION"), 0);
  EXPECT_EQ(Nick("p"), -1);   // passthru, and the phone forms by their names
  EXPECT_EQ(Nick("pa"), 11);
  EXPECT_EQ(Nick("phone call - i"), 6);
  EXPECT_EQ(Nick("xyz"), -1);
}

TEST(FormTable, FormNamesMatchExactly) {
  EXPECT_EQ(FindFormName(FormTable, "Mail Routing"), 4);
  EXPECT_EQ(FindFormName(FormTable, "mail routing"), -1);
  EXPECT_EQ(FindFormName(FormTable, "Replication"), 3);
}

TEST_F(LogSearchTest, FormulaSelectsTheNamedForms) {
  logrequest request;
  memset(&request, 0, sizeof request);
  strcpy(request.forms, "Events;Replication;");
  uint16_t formula = BuildVaxelFormula(FormTable, &request);
  ASSERT_NE(formula, 0);
  EXPECT_STREQ(request.forms, "Events;Replication");
  const char* text = static_cast<const char*>(QVD_VxLockObject(formula));
  ASSERT_NE(text, nullptr);
  EXPECT_NE(std::string(text).find("SELECT FORM = \"Events\":\"Replication\""), std::string::npos);
  QVD_VxUnlockObject(formula);
  QVD_VxMemFree(formula);
  for (int row = 0; row < kFormTableRows; ++row)
    EXPECT_EQ(FormTable[row].active, row == 2 || row == 3 ? 1 : 0) << row;

  memset(&request, 0, sizeof request);
  EXPECT_EQ(BuildVaxelFormula(FormTable, &request), 0);
}

TEST_F(LogSearchTest, BadNicknamesEndTheRequestBeforeTheLogIsOpened) {
  TraceCaptureStart("error");
  logrequest request;
  memset(&request, 0, sizeof request);
  request.useStartDate = 1;
  request.startDate = T("12/06/2026 09:00:00 AM");
  logresult* out = nullptr;
  strcpy(request.form_nicknames, "xyz");
  EXPECT_EQ(get_log_request(&out, request, &info_), 1);
  strcpy(request.form_nicknames, "events;p");
  EXPECT_EQ(get_log_request(&out, request, &info_), 1);
  // Forms that would not fit the 256-byte forms field.
  std::string many;
  for (int i = 0; i < 60; ++i) many += "si;";
  strcpy(request.form_nicknames, many.c_str());
  EXPECT_EQ(get_log_request(&out, request, &info_), 1);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(vaxelsim_call_count("VxDbOpenExtended"), 0u);
  EXPECT_TRUE(TraceCaptureHas(TraceCaptureLines("replication"),
                              "get_log_request: the forms named do not fit 256 bytes"));
  TraceCaptureStart("none");
}

TEST_F(LogSearchTest, LinesDatedBeforeTheStartAreDropped) {
  memcpy(&intl, &info_.intlSettings, sizeof intl);
  logrequest request;
  memset(&request, 0, sizeof request);
  request.startDate = T("12/06/2026 09:00:00 AM");
  EXPECT_EQ(checkfordate(&request, "12/05/2026 02:15:33 PM Starting replication with server a"), 0);
  EXPECT_EQ(checkfordate(&request, "12/06/2026 09:15:33 AM Starting replication with server a"), 1);
  EXPECT_EQ(checkfordate(&request, "12/05/2026 02:1"), 1);  // 15 characters: no date test
  EXPECT_EQ(checkfordate(&request, "Router: 12 messages transferred"), 1);
  EXPECT_EQ(checkfordate(&request, "13/05/2026 02:15:33 PM day first"), 1);
}

}  // namespace
