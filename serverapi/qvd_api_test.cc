#include "serverapi/qvd_api.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "framework/trace_capture.h"
#include "serverapi/orlan_api_loader.h"
#include "sim/vaxel_sim.h"

namespace {

// What a wrapper hands back, which decides the form of its exit event.
enum class Result { kStatus, kNumber, kPointer, kVoid };

struct WrapperCase {
  const char* entry;  // the entry point, without QVD_
  Result result;
  // Calls the wrapper once; returns its result as the exit event shows it.
  std::function<long()> call;
};

const char* kServer = "CN=srv1/OU=sales/O=acme";
const unsigned char kEmptyList[2] = {0, 0};
const unsigned char kEmptySummary[4] = {4, 0, 0, 0};
const VxStatus kInjected = 4660;

VxStatus NoMatch(void*, const VxSearchMatch*, const void*) { return 0; }
VxStatus NoItem(uint16_t, uint16_t, const char*, uint16_t, void*, uint32_t, void*) { return 0; }

// Frees what an entry point handed out, so the simulator's account stays
// clean whichever answer it gave.
void Release(VxMemHandle h) {
  if (h != 0) VxMemFree(h);
}

std::vector<WrapperCase> AllWrappers() {
  static char program[] = "qvd_api_test";
  static char* argv[] = {program, nullptr};
  static char buf[VX_MAXPATH];
  static char buf2[VX_MAXPATH];
  static char buf3[VX_MAXPATH];
  static uint16_t len16;
  static uint32_t n32, m32;
  static VxTimeDate t1, t2;
  static VxTime fields;
  static VxLocaleFormat intl;
  static VxDbLimits limits;
  static char* text;
  static VxValueRef ref;
  static uint16_t e1, e2, e3, e4, e5;
  static VxStatus compileError;
  static unsigned char value[2 + 3];

  auto S = [](const char* e, std::function<VxStatus()> f) {
    return WrapperCase{e, Result::kStatus, [f] { return static_cast<long>(f()); }};
  };
  auto N = [](const char* e, std::function<long()> f) {
    return WrapperCase{e, Result::kNumber, f};
  };
  auto P = [](const char* e, std::function<void*()> f) {
    return WrapperCase{e, Result::kPointer, [f] { return f() != nullptr ? 1L : 0L; }};
  };
  auto V = [](const char* e, std::function<void()> f) {
    return WrapperCase{e, Result::kVoid, [f] {
                         f();
                         return 0L;
                       }};
  };
  return {
      S("VxInitRuntime", [] { return QVD_VxInitRuntime(1, argv); }),
      S("VxInitThread", [] { return QVD_VxInitThread(); }),
      V("VxTermThread", [] { QVD_VxTermThread(); }),
      N("VxShouldTerminate", [] { return QVD_VxShouldTerminate(); }),
      S("VxGetServerStats",
        [] {
          VxMemHandle mh = 0;
          VxStatus s = QVD_VxGetServerStats(kServer, nullptr, nullptr, &mh, &n32);
          Release(mh);
          return s;
        }),
      P("VxLockObject", [] { return QVD_VxLockObject(0); }),
      N("VxUnlockObject", [] { return QVD_VxUnlockObject(0); }),
      S("VxMemFree", [] { return QVD_VxMemFree(0); }),
      N("VxLoadString", [] { return QVD_VxLoadString(0, 549, buf, sizeof buf); }),
      N("VxTranslate", [] { return QVD_VxTranslate(1, "abc", 3, buf, sizeof buf); }),
      V("VxGetIntlSettings", [] { QVD_VxGetIntlSettings(&intl, sizeof intl); }),
      S("VxGetDataDirectory", [] { return QVD_VxGetDataDirectory(buf); }),
      S("VxNameAbbreviate",
        [] { return QVD_VxNameAbbreviate(0, nullptr, kServer, buf, sizeof buf, &len16); }),
      S("VxNameCanonicalize",
        [] { return QVD_VxNameCanonicalize(0, nullptr, "srv1/acme", buf, sizeof buf, &len16); }),
      S("VxPingServer",
        [] {
          VxListHandle list = 0;
          VxStatus s = QVD_VxPingServer(kServer, &n32, &list);
          Release(list);
          return s;
        }),
      N("VxListCount", [] { return QVD_VxListCount(kEmptyList, 0); }),
      S("VxListEntryText", [] { return QVD_VxListEntryText(kEmptyList, 0, 0, &text, &len16); }),
      S("VxPathNetConstruct",
        [] { return QVD_VxPathNetConstruct(nullptr, "srv1", "log.vdb", buf); }),
      S("VxPathNetParse", [] { return QVD_VxPathNetParse("srv1!!log.vdb", buf, buf2, buf3); }),
      S("VxDbOpen",
        [] {
          VxDbHandle db = 0;
          VxStatus s = QVD_VxDbOpen("qvd_api_test_none.vdb", &db);
          if (db != 0) VxDbClose(db);
          return s;
        }),
      S("VxDbOpenExtended",
        [] {
          VxDbHandle db = 0;
          VxStatus s = QVD_VxDbOpenExtended("qvd_api_test_none.vdb", 0, 0, nullptr, &db, &t1, &t2);
          if (db != 0) VxDbClose(db);
          return s;
        }),
      S("VxDbClose", [] { return QVD_VxDbClose(0); }),
      S("VxDbPathGet", [] { return QVD_VxDbPathGet(0, buf, buf2); }),
      S("VxDbQuotaGet", [] { return QVD_VxDbQuotaGet("qvd_api_test_none.vdb", &limits); }),
      S("VxDbSpaceUsage", [] { return QVD_VxDbSpaceUsage(0, &n32, &m32); }),
      S("VxDbSearch",
        [] { return QVD_VxDbSearch(0, 0, nullptr, 0, 1, nullptr, NoMatch, nullptr, &t1); }),
      S("VxFormulaCompile",
        [] {
          VxFormulaHandle f = 0;
          VxStatus s = QVD_VxFormulaCompile(nullptr, 0, "SELECT @All", 11, &f, &len16,
                                            &compileError, &e1, &e2, &e3, &e4);
          Release(f);
          return s;
        }),
      S("VxDocOpen",
        [] {
          VxDocHandle d = 0;
          VxStatus s = QVD_VxDocOpen(0, 1, 0, &d);
          if (d != 0) VxDocClose(d);
          return s;
        }),
      S("VxDocCreate",
        [] {
          VxDocHandle d = 0;
          VxStatus s = QVD_VxDocCreate(0, &d);
          if (d != 0) VxDocClose(d);
          return s;
        }),
      S("VxDocUpdate", [] { return QVD_VxDocUpdate(0, 0); }),
      S("VxDocClose", [] { return QVD_VxDocClose(0); }),
      N("VxItemGetText", [] { return QVD_VxItemGetText(0, "Form", buf, sizeof buf); }),
      N("VxItemGetTime", [] { return QVD_VxItemGetTime(0, "StartTime", &t1); }),
      S("VxItemInfo", [] { return QVD_VxItemInfo(0, "Form", 4, &n32, &e5, &ref, &m32); }),
      S("VxItemScan", [] { return QVD_VxItemScan(0, NoItem, nullptr); }),
      N("VxItemValueToText",
        [] {
          uint16_t type = VX_TYPE_TEXT;
          std::memcpy(value, &type, 2);
          std::memcpy(value + 2, "abc", 3);
          return QVD_VxItemValueToText(VX_TYPE_TEXT, VxValueRef{value, sizeof value}, sizeof value,
                                       buf, sizeof buf, ';');
        }),
      N("VxGetSummaryValue", [] { return QVD_VxGetSummaryValue(kEmptySummary, "Form", buf, 80); }),
      S("VxItemSetText", [] { return QVD_VxItemSetText(0, "Port", "1234", 4); }),
      S("VxItemSetTime", [] { return QVD_VxItemSetTime(0, "Time", &t1); }),
      S("VxFindDesignNote",
        [] { return QVD_VxFindDesignNote(0, "($All)", VX_NOTE_CLASS_VIEW, "-G40n", &n32, 0); }),
      S("VxViewOpen",
        [] {
          VxCollectionHandle c = 0;
          VxStatus s = QVD_VxViewOpen(0, 0, 1, 4, 0, &c, nullptr, nullptr, nullptr, nullptr);
          if (c != 0) VxViewClose(c);
          return s;
        }),
      S("VxViewReadEntries",
        [] {
          VxMemHandle mh = 0;
          VxStatus s = QVD_VxViewReadEntries(0, 1, 10, VX_READ_MASK_NOTEID, &mh, &n32, &m32, &e1);
          Release(mh);
          return s;
        }),
      S("VxViewClose", [] { return QVD_VxViewClose(0); }),
      S("VxDirLookup",
        [] {
          VxMemHandle mh = 0;
          VxStatus s = QVD_VxDirLookup(kServer, 0, 1, "$Groups", 1, "", 1, "Members", &mh);
          Release(mh);
          return s;
        }),
      P("VxDirLocateNextName", [] { return QVD_VxDirLocateNextName(nullptr, nullptr, &len16); }),
      P("VxDirLocateNextMatch", [] { return QVD_VxDirLocateNextMatch(nullptr, nullptr, nullptr); }),
      S("VxDirGetTextItem", [] { return QVD_VxDirGetTextItem(nullptr, 0, 0, buf, sizeof buf); }),
      V("VxCurrentTime", [] { QVD_VxCurrentTime(&t1); }),
      V("VxSpecialTime", [] { QVD_VxSpecialTime(VX_TIME_WILDCARD, &t2); }),
      N("VxTimeAdjust",
        [] {
          QVD_VxCurrentTime(&t1);
          return QVD_VxTimeAdjust(&t1, 0, 0, 0, 1, 0, 0);
        }),
      N("VxTimeCompare", [] { return QVD_VxTimeCompare(&t1, &t1); }),
      N("VxTimeDifference", [] { return QVD_VxTimeDifference(&t1, &t1); }),
      N("VxTimeBreakDown",
        [] {
          QVD_VxCurrentTime(&fields.GM);
          return QVD_VxTimeBreakDown(&fields);
        }),
      N("VxTimeAssemble", [] { return QVD_VxTimeAssemble(&fields); }),
      S("VxTextToTime",
        [] { return QVD_VxTextToTime(nullptr, nullptr, "12/06/2026 10:00:00 AM", 22, &t1); }),
      S("VxTimeToText", [] { return QVD_VxTimeToText(nullptr, nullptr, &t1, buf, 80, &len16); }),
      V("VxTermRuntime", [] { QVD_VxTermRuntime(); }),
  };
}

// The lines one wrapper call leaves at the given flags.  Flow events carry
// the source line, so only their start and end are compared.
void ExpectLines(const WrapperCase& c, unsigned flags, long result,
                 const std::vector<std::string>& lines) {
  std::string wrapper = std::string("QVD_") + c.entry;
  // Calls of other wrappers a case makes for its set-up are not its own.
  std::vector<std::string> own;
  for (const std::string& l : lines)
    if (l.find(wrapper + " ") != std::string::npos || l.find(c.entry) != std::string::npos)
      own.push_back(l);
  size_t expected = ((flags & 0x40) ? 2 : 0) + ((flags & 0x01) ? 1 : 0);
  ASSERT_EQ(expected, own.size()) << wrapper << " at 0x" << std::hex << flags;
  size_t i = 0;
  if (flags & 0x40) {
    EXPECT_EQ(0u, own[i].rfind("Entry " + wrapper + " line ", 0)) << own[i];
    i++;
  }
  if (flags & 0x01) {
    EXPECT_EQ("Redirected to call Orlan C API " + std::string(c.entry) + ".", own[i]);
    i++;
  }
  if (flags & 0x40) {
    const std::string& exit = own[i];
    EXPECT_EQ(0u, exit.rfind("Exit " + wrapper + " line ", 0)) << exit;
    bool carries = c.result == Result::kStatus || c.result == Result::kNumber;
    std::string tail = " rc=" + std::to_string(result);
    if (carries) {
      ASSERT_GE(exit.size(), tail.size());
      EXPECT_EQ(tail, exit.substr(exit.size() - tail.size())) << exit;
    } else {
      EXPECT_EQ(std::string::npos, exit.find(" rc=")) << exit;
    }
  }
}

class WrapperTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char dir[] = "/tmp/qvd_api_model_XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(dir));
    model_dir_ = dir;
    setenv("VAXEL_SIM_DIR", dir, 1);
    WriteModel("{}");
    vaxelsim_reset();
  }
  void TearDown() override {
    EXPECT_EQ(0u, vaxelsim_handles_held());
    unlink((model_dir_ + "/server.json").c_str());
    rmdir(model_dir_.c_str());
    unsetenv("VAXEL_SIM_DIR");
    vaxelsim_reset();
  }
  void WriteModel(const std::string& json) { std::ofstream(model_dir_ + "/server.json") << json; }

  std::string model_dir_;
};

}  // namespace

TEST_F(WrapperTest, CoversEveryEntryPoint) {
  std::vector<WrapperCase> cases = AllWrappers();
  ASSERT_EQ(kOrlanAPICount, cases.size());
  std::vector<std::string> names;
  for (const WrapperCase& c : cases) names.push_back(c.entry);
  for (const char* name : kOrlanAPINames)
    EXPECT_NE(names.end(), std::find(names.begin(), names.end(), name)) << name;
}

TEST_F(WrapperTest, TracesAtEachLevelAndCallsItsOwnEntryPointOnce) {
  const struct {
    const char* setting;
    unsigned flags;
  } levels[] = {
      {"none", 0},
      {"error", 0x80},
      {"serverapi/qvd_api=0x40", 0x40},
      {"serverapi/qvd_api=0x01", 0x01},
      {"serverapi=detail", 0xC1},
  };
  for (const auto& level : levels) {
    for (const WrapperCase& c : AllWrappers()) {
      TraceCaptureStart(level.setting);
      unsigned long before = vaxelsim_call_count(c.entry);
      long result = c.call();
      EXPECT_EQ(before + 1, vaxelsim_call_count(c.entry)) << c.entry;
      ExpectLines(c, level.flags, result, TraceCaptureLines("serverapi/qvd_api"));
    }
  }
}

TEST_F(WrapperTest, PassesStatusesBackUnchanged) {
  std::string faults;
  for (const char* name : kOrlanAPINames)
    faults +=
        std::string(faults.empty() ? "" : ",") + "\"" + name + "\":" + std::to_string(kInjected);
  WriteModel("{\"faults\":{" + faults + "}}");
  TraceCaptureStart("serverapi=flow");
  for (const WrapperCase& c : AllWrappers()) {
    long result = c.call();
    if (c.result == Result::kStatus) {
      EXPECT_EQ(kInjected, result) << c.entry;
    }
    ExpectLines(c, 0xC0, result, TraceCaptureLines("serverapi/qvd_api"));
  }
}

TEST_F(WrapperTest, PassesArgumentsAndResultsThrough) {
  TraceCaptureStart("none");
  char out[VX_MAXPATH];
  uint16_t len = 0;
  ASSERT_EQ(0, QVD_VxNameAbbreviate(0, nullptr, kServer, out, sizeof out, &len));
  EXPECT_STREQ("srv1/sales/acme", out);
  EXPECT_EQ(15, len);
  // A buffer too small is the server's to refuse.
  EXPECT_EQ(VX_ERR_BUFFER_TOO_SMALL, QVD_VxNameAbbreviate(0, nullptr, kServer, out, 4, &len));

  // The difference of times is signed and in seconds.  UTC keeps a
  // daylight saving change out of the day added.
  const char* tz = getenv("TZ");
  std::string saved_tz = tz ? tz : "";
  setenv("TZ", "UTC", 1);
  VxTimeDate a, b;
  QVD_VxCurrentTime(&a);
  b = a;
  ASSERT_EQ(0, QVD_VxTimeAdjust(&b, 0, 0, 1, 1, 0, 0));
  EXPECT_EQ(-90000L, QVD_VxTimeDifference(&a, &b));
  EXPECT_EQ(-1, QVD_VxTimeCompare(&a, &b));
  if (tz)
    setenv("TZ", saved_tz.c_str(), 1);
  else
    unsetenv("TZ");

  // A value reference travels by value.
  unsigned char value[2 + 5];
  uint16_t type = VX_TYPE_TEXT;
  std::memcpy(value, &type, 2);
  std::memcpy(value + 2, "hello", 5);
  EXPECT_EQ(5, QVD_VxItemValueToText(VX_TYPE_TEXT, VxValueRef{value, sizeof value}, sizeof value,
                                     out, sizeof out, ';'));
  EXPECT_STREQ("hello", out);

  // Memory handed out is the caller's until freed through the wrappers.
  WriteModel("{\"cluster\":{\"name\":\"c1\",\"members\":[\"CN=srv2/O=acme\"]}}");
  uint32_t index = 0;
  VxListHandle list = 0;
  ASSERT_EQ(0, QVD_VxPingServer(kServer, &index, &list));
  ASSERT_NE(0, list);
  void* block = QVD_VxLockObject(list);
  ASSERT_NE(nullptr, block);
  EXPECT_EQ(2, QVD_VxListCount(block, 0));
  char* entry = nullptr;
  ASSERT_EQ(0, QVD_VxListEntryText(block, 0, 1, &entry, &len));
  EXPECT_EQ("CN=srv2/O=acme", std::string(entry, len));
  EXPECT_EQ(0, QVD_VxUnlockObject(list));
  EXPECT_EQ(0, QVD_VxMemFree(list));
}
