// The database check's path lists: typing, containment, the include and
// exclude values, exclusion and the tidying of redundant include entries.
#include "dbhealth/velora_config_parser.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "framework/trace_capture.h"

namespace {

std::vector<std::string> Entries(const QVD::StringList* list) {
  std::vector<std::string> out;
  for (int i = 0; list != nullptr && i < list->getCount(); ++i) out.push_back(list->getAt(i).c_str());
  return out;
}

using Strings = std::vector<std::string>;

TEST(PathType, ClassifiesFilesDirectoriesWildcardsAndInvalidPaths) {
  EXPECT_EQ(DB_PATH_WILDCARD, VeloraConfigParser::getPathType("*"));
  EXPECT_EQ(DB_PATH_WILDCARD, VeloraConfigParser::getPathType("mail\\*"));
  EXPECT_EQ(DB_PATH_WILDCARD, VeloraConfigParser::getPathType("mail/*"));
  EXPECT_EQ(DB_PATH_FILE, VeloraConfigParser::getPathType("mail/a.vdb"));
  EXPECT_EQ(DB_PATH_FILE, VeloraConfigParser::getPathType("a.box"));
  EXPECT_EQ(DB_PATH_DIRECTORY, VeloraConfigParser::getPathType("mail/a.VDB"));
  EXPECT_EQ(DB_PATH_DIRECTORY, VeloraConfigParser::getPathType(".vdb"));  // 4 characters only
  EXPECT_EQ(DB_PATH_DIRECTORY, VeloraConfigParser::getPathType("mail"));
  EXPECT_EQ(DB_PATH_DIRECTORY, VeloraConfigParser::getPathType("/*"));  // 2 characters only
  EXPECT_EQ(DB_PATH_INVALID, VeloraConfigParser::getPathType(""));
  EXPECT_EQ(DB_PATH_INVALID, VeloraConfigParser::getPathType(nullptr));
}

TEST(SubPathOf, DirectoriesHoldTheirOwnDatabasesAndWildcardsEverythingBelow) {
  auto in = VeloraConfigParser::subPathOf;
  EXPECT_TRUE(in("mail/a.vdb", "mail"));
  EXPECT_FALSE(in("mail/x/a.vdb", "mail"));
  EXPECT_TRUE(in("mail/x/a.vdb", "mail/*"));
  EXPECT_TRUE(in("mail/x", "mail/*"));
  EXPECT_FALSE(in("mail", "mail/*"));
  EXPECT_TRUE(in("a.vdb", "*"));
  EXPECT_TRUE(in("deep/er/a.vdb", "*"));
  EXPECT_TRUE(in("mail\\a.vdb", "mail"));
  EXPECT_TRUE(in("/mail//a.vdb", "mail/"));  // empty components vanish
  EXPECT_TRUE(in("", "anything"));
  EXPECT_TRUE(in("same", "same"));
  EXPECT_FALSE(in("a.vdb", "b.vdb"));
  EXPECT_FALSE(in("mail/x", "mail"));  // two directories only by equality
  EXPECT_FALSE(in("Mail/a.vdb", "mail"));  // case matters
  EXPECT_FALSE(in("other/a.vdb", "mail/*"));
  EXPECT_FALSE(in(nullptr, "mail"));
  EXPECT_FALSE(in("mail", nullptr));
}

TEST(ConfigParser, SplitsValuesWithoutBlanksOrEmptyEntries) {
  VeloraConfigParser parser("srv1", " mail/* ; names.vdb;;", nullptr);
  EXPECT_EQ((Strings{"mail/*", "names.vdb"}), Entries(parser.getIncludeList()));
  EXPECT_EQ(nullptr, parser.getExcludeList());
  EXPECT_FALSE(parser.isExcluded("mail/a.vdb"));

  VeloraConfigParser withExclude("srv1", ";a.vdb", "; mail/archive ;;x/*;");
  EXPECT_EQ((Strings{"a.vdb"}), Entries(withExclude.getIncludeList()));
  EXPECT_EQ((Strings{"mail/archive", "x/*"}), Entries(withExclude.getExcludeList()));
}

TEST(ConfigParser, WithoutServerOrIncludeValueHoldsNothing) {
  VeloraConfigParser noServer(nullptr, "a.vdb", "b");
  EXPECT_EQ(nullptr, noServer.getIncludeList());
  EXPECT_EQ(nullptr, noServer.getExcludeList());
  EXPECT_FALSE(noServer.isExcluded("b/x.vdb"));
  QVD::StringList a, b;
  EXPECT_EQ(0, noServer.getDbList(&a, &b));
  EXPECT_EQ(0, a.getCount() + b.getCount());
  EXPECT_EQ(1, noServer.getDbList(nullptr, &b));
  EXPECT_EQ(1, noServer.checkConfiguration(&a, nullptr));
  VeloraConfigParser noInclude("srv1", nullptr, "b");
  EXPECT_EQ(nullptr, noInclude.getIncludeList());
}

TEST(ConfigParser, KeepsTheFirst512EntriesAndSaysWhichAreDropped) {
  TraceCaptureStart("error");
  std::string value;
  for (int i = 1; i <= 600; ++i) value += "d" + std::to_string(i) + ".vdb;";
  VeloraConfigParser parser("srv1", value.c_str(), nullptr);
  ASSERT_EQ(512, parser.getIncludeList()->getCount());
  EXPECT_STREQ("d512.vdb", parser.getIncludeList()->getAt(511).c_str());
  EXPECT_TRUE(TraceCaptureHas(TraceCaptureLines("dbhealth/config"),
                              "Checking database include path holds more than 512 paths; d513.vdb "
                              "and the paths after it are ignored."));
}

TEST(ConfigParser, ExcludesByScope) {
  VeloraConfigParser parser("srv1", "*", "mail/archive;old/*");
  EXPECT_TRUE(parser.isExcluded("mail/archive/a.vdb"));
  EXPECT_FALSE(parser.isExcluded("mail/archive/old/a.vdb"));
  EXPECT_TRUE(parser.isExcluded("old/x/y/a.vdb"));
  EXPECT_FALSE(parser.isExcluded("mail/a.vdb"));
  EXPECT_FALSE(parser.isExcluded(""));
  EXPECT_FALSE(parser.isExcluded(nullptr));
}

TEST(DuplicateIncludePaths, StarSwallowsEveryOtherEntry) {
  VeloraConfigParser parser("srv1", "mail;*;a.vdb;*", nullptr);
  QVD::StringList removed;
  EXPECT_EQ(0, parser.checkDuplicateIncludePaths(&removed));
  EXPECT_EQ((Strings{"*"}), Entries(parser.getIncludeList()));
  EXPECT_EQ((Strings{"mail", "a.vdb", "*"}), Entries(&removed));
}

TEST(DuplicateIncludePaths, DropsEntriesWithinOthersAndEarlierRepeats) {
  VeloraConfigParser parser("srv1", "mail;mail/a.vdb;mail", nullptr);
  QVD::StringList removed;
  EXPECT_EQ(0, parser.checkDuplicateIncludePaths(&removed));
  EXPECT_EQ((Strings{"mail"}), Entries(parser.getIncludeList()));
  EXPECT_EQ((Strings{"mail", "mail/a.vdb"}), Entries(&removed));

  VeloraConfigParser nested("srv1", "x/a.vdb;mail/*;b.vdb;mail/x;mail/x/c.vdb;x", nullptr);
  QVD::StringList gone;
  nested.checkDuplicateIncludePaths(&gone);
  EXPECT_EQ((Strings{"mail/*", "b.vdb", "x"}), Entries(nested.getIncludeList()));
  EXPECT_EQ((Strings{"x/a.vdb", "mail/x", "mail/x/c.vdb"}), Entries(&gone));

  VeloraConfigParser distinct("srv1", "a.vdb;b.vdb;mail", nullptr);
  QVD::StringList none;
  distinct.checkDuplicateIncludePaths(&none);
  EXPECT_EQ(3, distinct.getIncludeList()->getCount());
  EXPECT_EQ(0, none.getCount());
}

}  // namespace
