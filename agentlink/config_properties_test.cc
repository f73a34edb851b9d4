// Configuration properties and subnode lookups, from the environment and
// from the property map.
#include "agentlink/config_properties.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "agentlink/cp_client.h"
#include "agentlink/loopback_peer_testutil.h"

namespace {

std::string Str(const char* s) { return s != nullptr ? s : "<null>"; }

class ConfigTest : public ::testing::Test {
 protected:
  void TearDown() override {
    clearConfigurationProperties();
    for (const char* v : {"X_PROP", "PWX_PRODUCT_CODE", "ab_srv_COUNT", "ab_srv_IDLABEL_1", "ab_srv_IDLABEL_2",
                          "ab_srv_PORT_2", "ab_srv_PORT_DEFAULT", "PORT"}) {
      unsetenv(v);
    }
  }
  // The subnode layout of the examples, in the environment or the map.
  void Layout(bool inMap, bool withDefault) {
    auto set = [inMap](const char* n, const char* v) {
      if (inMap) setConfigurationProperty(n, v);
      else setenv(n, v, 1);
    };
    set("PWX_PRODUCT_CODE", "ab");
    set("ab_srv_COUNT", "2");
    set("ab_srv_IDLABEL_1", "one");
    set("ab_srv_IDLABEL_2", "two");
    set("ab_srv_PORT_2", "10");
    if (withDefault) set("ab_srv_PORT_DEFAULT", "20");
  }
};

TEST_F(ConfigTest, PlainPropertiesFromTheEnvironment) {
  setenv("X_PROP", "5", 1);
  EXPECT_EQ(Str(cp_GetConfigurationProperty("X_PROP")), "5");
  unsetenv("X_PROP");
  size_t mark = testutil::TraceMark();
  EXPECT_EQ(cp_GetConfigurationProperty("X_PROP"), nullptr);
  EXPECT_NE(testutil::TraceSince(mark).find("X_PROP not found in the environment"), std::string::npos);
}

TEST_F(ConfigTest, PropertyMapTakesOverAndHidesTracedValues) {
  setenv("X_PROP", "env", 1);
  setConfigurationProperty("P", "secret");
  setConfigurationProperty("P_PWX_TRACE", "****");
  setConfigurationProperty("Q", "1");
  setConfigurationProperty("Q", "2");
  size_t mark = testutil::TraceMark();
  EXPECT_EQ(Str(getConfigurationProperty("P")), "secret");
  EXPECT_EQ(Str(getConfigurationProperty("Q")), "2");
  EXPECT_EQ(getConfigurationProperty("X_PROP"), nullptr);  // the map, not the environment
  std::string trace = testutil::TraceSince(mark);
  EXPECT_NE(trace.find("found variable P=****"), std::string::npos);
  EXPECT_EQ(trace.find("secret"), std::string::npos);
  EXPECT_NE(trace.find("X_PROP not found in the hash map"), std::string::npos);
}

TEST_F(ConfigTest, SubnodeLookupsFromEnvironmentAndMap) {
  for (bool inMap : {false, true}) {
    SCOPED_TRACE(inMap ? "map" : "environment");
    Layout(inMap, true);
    EXPECT_EQ(getNumSubnodes("ab", "srv"), 2);
    EXPECT_EQ(Str(getSubnodeKey("ab", "srv", 2)), "two");
    EXPECT_EQ(getSubnodeKey("ab", "srv", 3), nullptr);
    char* index = getSubnodeIndex("ab", "two", "srv");
    EXPECT_EQ(Str(index), "2");
    free(index);
    EXPECT_EQ(Str(cp_GetSubnodeConfigurationProperty("PORT", "srv", "two")), "10");
    EXPECT_EQ(Str(cp_GetSubnodeConfigurationProperty("PORT", "srv", "one")), "20");
    EXPECT_EQ(Str(cp_GetSubnodeConfigurationProperty("PORT", "srv", "zzz")), "20");
    EXPECT_EQ(getSubnodeIndex("ab", "zzz", "srv"), nullptr);
    TearDown();
  }
  // Without a default: the plain property, or null.
  Layout(false, false);
  EXPECT_EQ(cp_GetSubnodeConfigurationProperty("PORT", "srv", "one"), nullptr);
  setenv("PORT", "30", 1);
  EXPECT_EQ(Str(cp_GetSubnodeConfigurationProperty("PORT", "srv", "one")), "30");
  EXPECT_EQ(Str(cp_GetSubnodeConfigurationProperty("PORT", "srv", "two")), "10");
  // No count: every index lookup is null.
  unsetenv("ab_srv_COUNT");
  EXPECT_EQ(getNumSubnodes("ab", "srv"), -1);
  EXPECT_EQ(getSubnodeIndex("ab", "two", "srv"), nullptr);
}

TEST_F(ConfigTest, SubnodeInstanceEnvironment) {
  Layout(true, true);
  setConfigurationProperty("ab_srv_HOST_NAME_2", "h2");
  setConfigurationProperty("ab_srv_HOST_NAME_1", "h1");
  setConfigurationProperty("ab_srv_USER_DEFAULT", "u");
  setConfigurationProperty("ab_srv_USER_DEF", "partial");
  HashMap* env = getSubnodeInstanceEnv("two", "srv");
  ASSERT_NE(env, nullptr);
  EXPECT_EQ(Str(static_cast<const char*>(env->get("PORT"))), "10");     // own value beats the default
  EXPECT_EQ(Str(static_cast<const char*>(env->get("HOST_NAME"))), "h2");
  EXPECT_EQ(Str(static_cast<const char*>(env->get("USER"))), "u");
  // The label property has the subnode's index as its last part too.
  EXPECT_EQ(Str(static_cast<const char*>(env->get("IDLABEL"))), "two");
  EXPECT_EQ(env->getCount(), 4);  // USER_DEF is no default
  freeSubnodeInstanceEnv(env);
  env = getSubnodeInstanceEnv("nobody", "srv");
  EXPECT_EQ(env->getCount(), 0);
  freeSubnodeInstanceEnv(env);
  freeSubnodeInstanceEnv(nullptr);
}

}  // namespace
