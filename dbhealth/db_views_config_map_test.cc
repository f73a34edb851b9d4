// The view configuration file: its line format, the first-match rule, and
// what happens to lines the collector cannot take.
#include "dbhealth/db_views_config_map.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "framework/trace_capture.h"

namespace {

using Strings = std::vector<std::string>;

class ViewFile : public ::testing::Test {
 protected:
  void SetUp() override {
    char name[] = "/tmp/qvd-viewfile-XXXXXX";
    int fd = mkstemp(name);
    ASSERT_GE(fd, 0);
    close(fd);
    path_ = name;
  }
  void TearDown() override { unlink(path_.c_str()); }

  void write(const std::string& content) {
    FILE* f = fopen(path_.c_str(), "wb");
    ASSERT_NE(nullptr, f);
    fwrite(content.data(), 1, content.size(), f);
    fclose(f);
  }

  // The views the map gives `db`, or {"<302>"} when none.
  static Strings views(const DbViewsConfigMap& map, const char* db) {
    QVD::StringList list;
    if (map.getViewList(db, &list) == 302) return {"<302>"};
    Strings out;
    for (int i = 0; i < list.getCount(); ++i) out.push_back(list.getAt(i).c_str());
    return out;
  }

  std::string path_;
};

TEST_F(ViewFile, ReadsPairsWithoutBlanksAndSkipsCommentsAndHalfLines) {
  write("#comment\n"
        "   \n"
        "dbonly\n"
        "=views\n"
        "mail/* = viewA , viewB\n"
        "names.vdb==All Documents,,($Users)=ignored\n"
        "mail/a.vdb=own\n"
        "\tlast.box\t=\tv1");  // no line feed at the end
  DbViewsConfigMap map;
  ASSERT_EQ(0, DbViewsConfigMap::parseDbViewConfigFile(path_.c_str(), &map));
  EXPECT_EQ(4, map.getCount());
  EXPECT_EQ((Strings{"viewA", "viewB"}), views(map, "mail/a.vdb"));  // the first match wins
  EXPECT_EQ((Strings{"viewA", "viewB"}), views(map, "mail/x/y.vdb"));
  EXPECT_EQ((Strings{"AllDocuments", "($Users)"}), views(map, "names.vdb"));
  EXPECT_EQ((Strings{"v1"}), views(map, "last.box"));
  EXPECT_EQ((Strings{"<302>"}), views(map, "other.vdb"));
}

TEST_F(ViewFile, ALineEndingInCarriageReturnLineFeedEndsBeforeTheCarriageReturn) {
  write("a.vdb=v1,v2\r\nb.vdb=v3\r\n");
  DbViewsConfigMap map;
  ASSERT_EQ(0, DbViewsConfigMap::parseDbViewConfigFile(path_.c_str(), &map));
  EXPECT_EQ((Strings{"v1", "v2"}), views(map, "a.vdb"));
  EXPECT_EQ((Strings{"v3"}), views(map, "b.vdb"));
}

TEST_F(ViewFile, RefusesOverlongLinesBinaryLinesAndOverlongViewNamesWithATraceLine) {
  TraceCaptureStart("error");
  std::string longLine = "long.vdb=" + std::string(1100, 'v') + ",x";
  std::string longView(256, 'w');
  std::string content = "a.vdb=v1\n" + longLine + "\n" + std::string("bin.vdb=v\0x", 11) + "\n" +
                        "c.vdb=" + longView + ",short\n" + std::string(1021, 'z') + "=y\n";
  write(content);
  DbViewsConfigMap map;
  ASSERT_EQ(0, DbViewsConfigMap::parseDbViewConfigFile(path_.c_str(), &map));
  EXPECT_EQ((Strings{"v1"}), views(map, "a.vdb"));
  EXPECT_EQ((Strings{"<302>"}), views(map, "long.vdb"));
  EXPECT_EQ((Strings{"<302>"}), views(map, "bin.vdb"));
  EXPECT_EQ((Strings{"short"}), views(map, "c.vdb"));
  EXPECT_EQ(3, map.getCount());  // a line of exactly 1023 characters is taken
  auto lines = TraceCaptureLines("dbhealth/view_config");
  EXPECT_TRUE(TraceCaptureHas(lines, "Line 2 of view configuration file " + path_ +
                                         " is longer than 1023 characters; it is ignored."));
  EXPECT_TRUE(TraceCaptureHas(lines, "Line 3 of view configuration file " + path_ +
                                         " holds control characters; it is ignored."));
  EXPECT_TRUE(TraceCaptureHas(lines, "View name " + std::string(40, 'w') + "... in line 4 of view "
                                         "configuration file " + path_ +
                                         " is longer than 255 characters; it is ignored."));
}

TEST_F(ViewFile, Keeps512PairsAndSaysOnceThatTheRestIsIgnored) {
  TraceCaptureStart("error");
  std::string content;
  for (int i = 1; i <= 520; ++i) content += "d" + std::to_string(i) + ".vdb=v" + std::to_string(i) + "\n";
  write(content);
  DbViewsConfigMap map;
  EXPECT_EQ(0, DbViewsConfigMap::parseDbViewConfigFile(path_.c_str(), &map));
  EXPECT_EQ(512, map.getCount());
  EXPECT_EQ((Strings{"v512"}), views(map, "d512.vdb"));
  EXPECT_EQ((Strings{"<302>"}), views(map, "d513.vdb"));
  auto lines = TraceCaptureLines("dbhealth/view_config");
  EXPECT_EQ(1u, lines.size());
  EXPECT_TRUE(TraceCaptureHas(lines, "View configuration file " + path_ +
                                         " holds more than 512 pairs; line 513 and the lines "
                                         "after it are ignored."));
}

// A pair whose list names no view still claims its databases: the first
// match wins, and no view of them is checked.
TEST_F(ViewFile, APairWithoutViewsClaimsItsDatabasesForNoView) {
  TraceCaptureStart("error");
  write("mail/a.vdb=,,\n"
        "mail/b.vdb=" + std::string(256, 'w') + "\n"
        "mail/*=Inbox\n");
  DbViewsConfigMap map;
  ASSERT_EQ(0, DbViewsConfigMap::parseDbViewConfigFile(path_.c_str(), &map));
  EXPECT_EQ(3, map.getCount());
  EXPECT_EQ(Strings{}, views(map, "mail/a.vdb"));
  EXPECT_EQ(Strings{}, views(map, "mail/b.vdb"));
  EXPECT_EQ((Strings{"Inbox"}), views(map, "mail/c.vdb"));
  TraceCaptureStart("none");
}

TEST_F(ViewFile, AMissingFileIs303) {
  DbViewsConfigMap map;
  EXPECT_EQ(303, DbViewsConfigMap::parseDbViewConfigFile("/nonexistent/views.cfg", &map));
  EXPECT_EQ(1, DbViewsConfigMap::parseDbViewConfigFile(nullptr, &map));
  EXPECT_EQ(1, DbViewsConfigMap::parseDbViewConfigFile(path_.c_str(), nullptr));
}

TEST(ViewMap, AddRefusesBeyondCapacityAndIgnoresEmptyTexts) {
  DbViewsConfigMap map(2);
  EXPECT_EQ(1, map.add(nullptr, "v"));
  EXPECT_EQ(0, map.add("", "v"));
  EXPECT_EQ(0, map.add("a.vdb", ""));
  EXPECT_EQ(0, map.getCount());
  EXPECT_EQ(0, map.add("a.vdb", "v"));
  EXPECT_EQ(0, map.add("b.vdb", "w"));
  EXPECT_EQ(301, map.add("c.vdb", "x"));
  QVD::StringList views;
  views.add("kept");
  EXPECT_EQ(302, map.getViewList("c.vdb", &views));
  EXPECT_EQ(1, views.getCount());  // untouched
  EXPECT_EQ(1, map.getViewList(nullptr, &views));
}

}  // namespace
