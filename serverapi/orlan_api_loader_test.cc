#include "serverapi/orlan_api_loader.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "framework/trace_capture.h"
#include "serverapi/qvd_api.h"

namespace {

// Like qvdclient, this program refers to the wrappers, so the dynamic linker
// binds libvaxel when it starts.
VxStatus (*const volatile g_bind_at_load)(int, char**) = &QVD_VxInitRuntime;

bool AnyLineContains(const std::vector<std::string>& lines, const std::string& text) {
  for (const std::string& l : lines) {
    if (l.find(text) != std::string::npos) return true;
  }
  return false;
}

// The path of the libvaxel this program bound at load time.
std::string BoundLibrary() {
  Dl_info info;
  if (dladdr(reinterpret_cast<void*>(&VxInitRuntime), &info) == 0 || info.dli_fname == nullptr)
    return "";
  return info.dli_fname;
}

}  // namespace

TEST(OrlanAPILoader, NamesEveryEntryPointOnce) {
  std::set<std::string> names(kOrlanAPINames, kOrlanAPINames + kOrlanAPICount);
  EXPECT_EQ(kOrlanAPICount, names.size());
  for (const std::string& n : names) EXPECT_EQ(0u, n.rfind("Vx", 0)) << n;
}

TEST(OrlanAPILoader, LoadTimeBindingIsUsable) {
  ASSERT_NE(nullptr, g_bind_at_load);
  TraceCaptureStart("serverapi=flow");
  OrlanAPILoader& loader = OrlanAPILoader::getInstance();
  EXPECT_EQ(&loader, &OrlanAPILoader::getInstance());
  EXPECT_FALSE(loader.loadLibvaxel());
  EXPECT_FALSE(loader.unloadLibvaxel());
  EXPECT_EQ(nullptr, loader.loadOrlanAPI("VxInitRuntime"));
  EXPECT_FALSE(loader.hasLoadAPIErr());
  EXPECT_TRUE(loader.checkAllRequiredOrlanAPI());

  OrlanAPILoaderFactory factory;
  EXPECT_FALSE(factory.hasLoadAPIErr());

  // Loading and unloading only leave their flow events.
  std::vector<std::string> lines = TraceCaptureLines("serverapi/loader");
  EXPECT_TRUE(AnyLineContains(lines, "Entry loadLibvaxel"));
  EXPECT_TRUE(AnyLineContains(lines, "Exit unloadLibvaxel"));
  EXPECT_FALSE(AnyLineContains(lines, "missing"));
}

TEST(OrlanAPILoader, ReportsLibraryThatCannotBeBound) {
  TraceCaptureStart("error");
  OrlanAPILoaderFactory missing("/nonexistent/libvaxel.so");
  EXPECT_TRUE(missing.hasLoadAPIErr());
  EXPECT_TRUE(AnyLineContains(TraceCaptureLines("serverapi/loader"),
                              "Cannot load the Orlan C API library /nonexistent/libvaxel.so"));

  OrlanAPILoaderFactory unnamed("");
  EXPECT_TRUE(unnamed.hasLoadAPIErr());
  OrlanAPILoaderFactory null_name(nullptr);
  EXPECT_TRUE(null_name.hasLoadAPIErr());
}

TEST(OrlanAPILoader, ReportsLibraryWithoutTheEntryPoints) {
  TraceCaptureStart("error");
  // A library that binds fine but is not the server's.
  OrlanAPILoaderFactory foreign("libm.so.6");
  EXPECT_TRUE(foreign.hasLoadAPIErr());
  std::vector<std::string> lines = TraceCaptureLines("serverapi/loader");
  EXPECT_EQ(kOrlanAPICount, lines.size());
  EXPECT_TRUE(AnyLineContains(lines, "Orlan C API VxInitRuntime is missing from libm.so.6."));
}

TEST(OrlanAPILoader, AcceptsCompleteLibraryByPath) {
  TraceCaptureStart("error");
  std::string path = BoundLibrary();
  ASSERT_NE(std::string::npos, path.find("libvaxel")) << path;
  OrlanAPILoaderFactory factory(path.c_str());
  EXPECT_FALSE(factory.hasLoadAPIErr());
  EXPECT_TRUE(TraceCaptureLines("serverapi").empty());
}
