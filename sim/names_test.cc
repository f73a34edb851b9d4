#include <gtest/gtest.h>

#include <string>

#include "serverapi/vaxel.h"
#include "sim/sim_test_support.h"

namespace {

struct Result {
  VxStatus status;
  std::string text;
  uint16_t length;
};

Result Abbreviate(const char* name, uint16_t size = 256) {
  char buf[256] = "junk";
  uint16_t len = 99;
  VxStatus s = VxNameAbbreviate(0, nullptr, name, buf, size, &len);
  return {s, buf, len};
}

Result Canonicalize(const char* name, uint16_t size = 256) {
  char buf[256] = "junk";
  uint16_t len = 99;
  VxStatus s = VxNameCanonicalize(0, nullptr, name, buf, size, &len);
  return {s, buf, len};
}

TEST(ServerNames, AbbreviateDropsKeysOfEveryComponent) {
  TempModel model;
  Result r = Abbreviate("CN=srv1/OU=sales/O=acme");
  EXPECT_EQ(0, r.status);
  EXPECT_EQ("srv1/sales/acme", r.text);
  EXPECT_EQ(15, r.length);
  EXPECT_EQ("srv2/acme", Abbreviate("cn=srv2/o=acme").text);  // keys in any case
  EXPECT_EQ("srv3/acme/US", Abbreviate("CN=srv3/O=acme/C=US").text);
  EXPECT_EQ("srv1/sales/acme", Abbreviate("srv1/sales/acme").text);  // already abbreviated
}

TEST(ServerNames, CanonicalizeAddsKeysByPosition) {
  TempModel model;
  Result r = Canonicalize("srv1/sales/acme");
  EXPECT_EQ(0, r.status);
  EXPECT_EQ("CN=srv1/OU=sales/O=acme", r.text);
  EXPECT_EQ(r.text.size(), r.length);
  EXPECT_EQ("CN=srv2/O=acme", Canonicalize("srv2/acme").text);
  EXPECT_EQ("CN=a/OU=b/OU=c/O=d", Canonicalize("a/b/c/d").text);
  EXPECT_EQ("flatname", Canonicalize("flatname").text);  // a flat name stays flat
  EXPECT_EQ("CN=srv1/O=acme", Canonicalize("CN=srv1/O=acme").text);
  // Both directions undo each other.
  EXPECT_EQ("CN=x/OU=y/O=z", Canonicalize(Abbreviate("CN=x/OU=y/O=z").text.c_str()).text);
}

TEST(ServerNames, RefusesMalformedNamesAndShortBuffers) {
  TempModel model;
  EXPECT_EQ(VX_ERR_NAME_INVALID, Abbreviate("").status);
  EXPECT_EQ(VX_ERR_NAME_INVALID, Abbreviate("CN=srv1//O=acme").status);
  EXPECT_EQ(VX_ERR_NAME_INVALID, Abbreviate("CN=/O=acme").status);
  EXPECT_EQ(VX_ERR_NAME_INVALID, Canonicalize("srv1/").status);
  EXPECT_EQ(VX_ERR_BAD_PARAM, Abbreviate(nullptr).status);
  // "srv1/acme" needs 10 bytes with its terminator.
  Result tight = Abbreviate("CN=srv1/O=acme", 10);
  EXPECT_EQ(0, tight.status);
  EXPECT_EQ("srv1/acme", tight.text);
  Result small = Abbreviate("CN=srv1/O=acme", 9);
  EXPECT_EQ(VX_ERR_BUFFER_TOO_SMALL, small.status);
  EXPECT_EQ("", small.text);
  EXPECT_EQ(0, small.length);
}

}  // namespace
