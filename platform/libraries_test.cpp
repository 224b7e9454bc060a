// platform/libraries_test.cpp - the library registry and the order of the
// library modules.
#include "platform/libraries.h"

#include <gtest/gtest.h>

#include <string>

#include "core/exception.h"
#include "platform/clock.h"

namespace bw {
namespace {

class LibrariesTest : public ::testing::Test {
 protected:
  void SetUp() override { resetLibraries(); }
  void TearDown() override {
    resetLibraries();
    closeTimerDevice();
  }
};

TEST_F(LibrariesTest, OpenAndReleaseCountUses) {
  LibraryBase* a = OpenLibrary("utility.library", 39);
  LibraryBase* b = OpenLibrary("UTILITY.LIBRARY", 0);
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(a, b);
  EXPECT_EQ(libraryUseCount("utility.library"), 2);
  releaseLibrary(a);
  releaseLibrary(b);
  releaseLibrary(b);  // never below zero
  releaseLibrary(nullptr);
  EXPECT_EQ(libraryUseCount("utility.library"), 0);
  EXPECT_EQ(OpenLibrary("nosuch.library", 0), nullptr);
  EXPECT_EQ(OpenLibrary(nullptr, 0), nullptr);
  registerLibrary("muimaster.library", 19);
  EXPECT_EQ(OpenLibrary("muimaster.library", 20), nullptr);
}

TEST_F(LibrariesTest, ModulesOpenInOrderAndReleaseEverything) {
  std::vector<Module> modules = libraryModules();
  std::vector<std::string> names;
  for (const Module& m : modules) names.push_back(m.name);
  std::vector<std::string> want = {"utility.library (3)", "Picasso96API.library", "utility.library (2)",
                                   "utility.library",     "datatypes.library",    "timer.device",
                                   "muimaster.library",   "workbench.library",    "icon.library"};
  EXPECT_EQ(names, want);
  ModuleRegistry registry;
  for (const Module& m : modules) registry.add(m);
  registry.initAll();
  EXPECT_EQ(libraryUseCount("utility.library"), 3);
  EXPECT_EQ(libraryUseCount("muimaster.library"), 1);
  EXPECT_EQ(libraryUseCount("icon.library"), 1);
  EXPECT_TRUE(timerDeviceOpen());
  registry.endAll();
  for (const char* n : {"utility.library", "Picasso96API.library", "datatypes.library", "muimaster.library",
                        "workbench.library", "icon.library"})
    EXPECT_EQ(libraryUseCount(n), 0) << n;
  EXPECT_FALSE(timerDeviceOpen());
}

TEST_F(LibrariesTest, MissingLibrariesStopStartUpOnlyWhereNeeded) {
  unregisterLibrary("utility.library");
  EXPECT_NO_THROW(initUtilityLibrary3());
  try {
    initUtilityLibrary2();
    FAIL() << "no exception";
  } catch (const eException& e) {
    EXPECT_EQ(e.code(), "ERR");
    EXPECT_EQ(e.message(), "Failed to open utility.library");
  }
  registerLibrary("muimaster.library", 19);
  try {
    initMuiMasterLibrary();
    FAIL() << "no exception";
  } catch (const eException& e) {
    EXPECT_EQ(e.code(), "ERR");
    EXPECT_EQ(e.message(), "Failed to open muimaster.library");
  }
  unregisterLibrary("icon.library");
  EXPECT_NO_THROW(initIconLibrary());
}

}  // namespace
}  // namespace bw
